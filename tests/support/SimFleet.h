#pragma once
// Simulated recording systems for tests: in this process (zyrsim_core), or a zyrsim process serving a
// large fleet.
#include "Simulator.h"

#include <cstdio>
#include <memory>
#include <string>
#include <sys/types.h>
#include <vector>

// A simulator serving the given systems from this process; null (and the test failed) when it cannot
// start.
std::unique_ptr<TSimulator> StartSimulator(std::vector<TSimSystem> Systems);

// A zyrsim process serving a fleet (--fleet N --delay 100, 85 % ordinary, 5 % extended, 5 % refusing,
// 5 % silent systems), each on its own loopback address.
struct TFleetProcess
{
    pid_t pid = -1;
    FILE *out = nullptr;
    std::vector<std::vector<std::string>> lines; // name, target, kind, mode

    bool Start(int count, const std::string &base);
    // At a random base address; a few tries, as other tests may hold an address.
    bool StartSomewhere(int count);
    // The exit status of zyrsim.
    int Stop();
    ~TFleetProcess() { Stop(); }
};
