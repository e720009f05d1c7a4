#pragma once
// A simulated fleet with one system of every behaviour, and the state the console's verdict rules give
// each: written out here by hand, never computed by the code under test.
#include "Simulator.h"

#include <memory>
#include <string>
#include <vector>

struct TFleetCase
{
    TSimSystem System;
    int State; // what the console shows after a check
};

// Every system on a loopback address of its own ("auto"); most on any free port, two on their kind's
// default port so addresses without a port are covered too.
std::vector<TFleetCase> EveryBehaviour();

// The fleet, running in this process.
struct TRunningFleet
{
    std::vector<TFleetCase> Cases;
    std::unique_ptr<TSimulator> Simulator;

    bool Start(std::string &Error);
    size_t Size() const { return Cases.size(); }
    // The address a monitoring engine is given: host:port, or the host alone on the kind's default port.
    std::string Target(size_t i) const;
    bool Plus(size_t i) const { return Cases[i].System.Kind == TSimKind::Plus; }
    int Devices(size_t i) const { return Cases[i].System.Expect > 0 ? Cases[i].System.Expect : 0; }
    const std::string &Name(size_t i) const { return Cases[i].System.Name; }
};

// The probe's TimeOut in the engine tests: short, so a silent device list costs half a second.
constexpr int FleetProbeTimeOut = 1000;
