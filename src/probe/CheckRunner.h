#pragma once
#include "probe/CheckThread.h"

#include <array>
#include <cstdint>
#include <sys/types.h>

// DE DE: signature; 06 00: the request's size; 0A: send the status report. The sixth byte has no
// meaning to the recording software; zero is the neutral value that a peer either ignores or expects
// of a reserved byte.
inline constexpr std::array<unsigned char, 6> StatusRequest = {0xDE, 0xDE, 0x06, 0x00, 0x0A, 0x00};

// Judges the one receive of a status reply: Reply holds ReplyBufferSize bytes, zero where the receive
// did not fill them. An accepted reply sets psReport and the report text; anything else leaves Result.
void AcceptStatusReply(const unsigned char *Reply, ssize_t Received, TThResponse &Result);

// What an extended check is counted as holding while it runs. Traced, a check never holds more than one
// at a time (each sweep socket is closed before the next, the loader closes the library file before the
// call, the library opens one connection); two covers a library whose connection overlaps its loading or
// its name lookup, so that its own socket() never meets a full table.
inline constexpr int PlusCheckDescriptors = 2;

// Figures of the check runner, for tests and benchmarks.
struct TCheckRunnerFigures
{
    int Capacity = 0; // descriptors the checks may hold at once, as last sized
    int PeakInFlight = 0; // the most they held at once (extended checks counted as above)
    int InFlight = 0;
    int Queued = 0;
    int PlusThreads = 0;
    int ResolverThreads = 0;
    uint64_t Waited = 0; // checks that waited for a descriptor (their socket or lookup found none)
    uint64_t ThreadsRefused = 0; // worker threads the system would not create
    int64_t LastStartNs = 0; // when a check last started (CLOCK_MONOTONIC)
    // CPU time the pools' threads spent on their checks so far (their threads come and go).
    int64_t PlusCpuNs = 0;
    int64_t ResolverCpuNs = 0;
};
TCheckRunnerFigures CheckRunnerFigures();
// Starts the peak afresh.
void ResetCheckRunnerPeak();
