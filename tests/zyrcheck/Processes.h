#pragma once
// Programs the tests start: each in a process group of its own, which is ended whole when the test is done.
#include "Loopback.h"

#include <chrono>
#include <map>
#include <string>
#include <sys/types.h>
#include <vector>

class TChild
{
public:
    TChild() = default;
    TChild(const TChild &) = delete;
    TChild &operator=(const TChild &) = delete;
    ~TChild() { Stop(); }

    // Starts Argv[0] with its standard output on a pipe (read with WaitForLine) or in OutFile, its standard
    // error in ErrFile (empty: inherited), Env added to this process's environment.
    bool Start(const std::vector<std::string> &Argv, const std::string &OutFile = {},
        const std::string &ErrFile = {}, const std::map<std::string, std::string> &Env = {});
    // The first line of standard output holding Text, or empty after Limit or at the end of the output.
    std::string WaitForLine(const std::string &Text, std::chrono::milliseconds Limit);
    pid_t Pid() const { return pid; }
    bool Running();
    // SIGTERM to the whole group, SIGKILL after Grace; returns the wait status of the main process.
    int Stop(std::chrono::milliseconds Grace = std::chrono::seconds(5));

private:
    pid_t pid = -1;
    int out = -1;
    std::string pending;
    int status = -1;
};

// Resident memory of a process in kB (VmRSS), and the most it has had (VmHWM); -1 when it cannot be read.
long ResidentKb(pid_t Pid);
long PeakResidentKb(pid_t Pid);
std::string ReadFile(const std::string &Path);
bool WriteFile(const std::string &Path, const std::string &Text);

struct THttpAnswer
{
    int Status = 0; // 0: no answer
    std::string Body;
};
THttpAnswer HttpGet(int Port, const std::string &Path,
    std::chrono::milliseconds Limit = std::chrono::seconds(10),
    const std::vector<std::pair<std::string, std::string>> &Headers = {});

// The exporter, started with Args after "--listen 127.0.0.1:0"; Port is where it listens.
struct TExporterProcess
{
    TChild Child;
    int Port = 0;
    bool Start(const std::vector<std::string> &Args);
};

// The value of a sample without labels in a text exposition, or NaN.
double SampleOf(const std::string &Exposition, const std::string &Name);
