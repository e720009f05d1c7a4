#pragma once
// Figures of the running process, read from /proc and getrusage.
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace bench {

inline int64_t NowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
        std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// A field of /proc/self/status in kB (VmRSS, VmHWM) or as a count (Threads); -1 when missing.
int64_t StatusField(const char *name);
// Resets VmHWM to the current resident size, so the next read gives the peak from now on.
bool ResetPeakRss();
int OpenDescriptors();
// User plus system CPU time of the whole process, in nanoseconds.
int64_t CpuNs();
// CPU time of the calling thread alone, in nanoseconds.
int64_t ThreadCpuNs();

// CPU time of the process's threads of this name (their comm), in nanoseconds, from schedstat.
int64_t NamedThreadsCpuNs(const char *name);

// The median of a copy of the values; 0 for none.
double Median(std::vector<double> values);

} // namespace bench
