// Runs checks in a process of its own under a local limit that cannot be lifted again, and prints what
// each check delivered, for LocalLimitsTest to judge:
//   probe_limits_child FLEET --descriptors N   soft and hard descriptor limit N
//   probe_limits_child FLEET --no-threads      the system refuses every new thread once the checks begin
//   probe_limits_child FLEET --exit-mid N      descriptor limit N; the process ends by exit() while checks
//                                              are queued and in flight, printing "exiting QUEUED IN_FLIGHT"
// FLEET: zyrsim's lines (name, target, kind, mode). Prints "refused 0|1" (a test thread could not be
// created), "result INDEX STATE ON_CALLER DELIVERIES" per check, then "figures CAPACITY PEAK WAITED
// THREADS_REFUSED". Exit status 77: this machine does not let the process limit be lowered.
#include "probe/CheckRunner.h"
#include "probe/CheckThread.h"

#include "Simulator.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <grp.h>
#include <mutex>
#include <pthread.h>
#include <sstream>
#include <string>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

struct TOutcome
{
    int State = 0;
    bool OnCaller = false;
    int Count = 0;
};

std::mutex mutex;
std::condition_variable arrived;
std::vector<TOutcome> outcomes;
int delivered = 0;

TCheckResultSink Sink(pid_t caller, size_t index)
{
    return [caller, index](std::unique_ptr<TThResponse> r) {
        std::lock_guard lock(mutex);
        TOutcome &o = outcomes.at(index);
        o.State = r->ProbeState;
        o.OnCaller = o.OnCaller || gettid() == caller;
        ++o.Count;
        ++delivered;
        arrived.notify_all();
    };
}

bool WaitFor(int count, std::chrono::seconds limit)
{
    std::unique_lock lock(mutex);
    return arrived.wait_for(lock, limit, [&] { return delivered >= count; });
}

// As root the process limit does not apply, so the process becomes nobody first.
bool RefuseThreads()
{
    if (geteuid() == 0) {
        if (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0)
            return false;
        prctl(PR_SET_DUMPABLE, 1); // keeps /proc/self readable
    }
    const rlimit none{1, 1}; // below the threads this process already has
    return setrlimit(RLIMIT_NPROC, &none) == 0;
}

bool ThreadRefused()
{
    pthread_t thread;
    const int rc = pthread_create(
        &thread, nullptr, [](void *) -> void * { return nullptr; }, nullptr);
    if (rc == 0)
        pthread_join(thread, nullptr);
    return rc != 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 3) {
        fprintf(stderr, "usage: probe_limits_child FLEET --descriptors N | --no-threads | --exit-mid N\n");
        return 2;
    }
    std::vector<std::pair<std::string, bool>> targets;
    std::ifstream fleet(argv[1]);
    for (std::string line; std::getline(fleet, line);) {
        std::istringstream in(line);
        std::vector<std::string> fields;
        for (std::string f; std::getline(in, f, '\t');)
            fields.push_back(f);
        if (fields.size() >= 3)
            targets.emplace_back(fields[1], fields[2] == "plus");
    }
    const bool noThreads = strcmp(argv[2], "--no-threads") == 0;
    const pid_t caller = gettid();

    // Host names go through the lookup pool: a few systems named "localhost" join the fleet.
    TSimSystem named;
    named.Port = 0;
    TSimulator local({named});
    std::string error;
    if (noThreads) {
        if (!local.Start(error)) {
            fprintf(stderr, "simulator: %s\n", error.c_str());
            return 2;
        }
        for (int i = 0; i < 3; ++i)
            targets.emplace_back("localhost:" + std::to_string(local.Systems()[0].Port), false);
    }
    outcomes.resize(targets.size() + 1);

    if (noThreads) {
        // The runner comes up first, as in a console that has been running for a while.
        TCheckThread::Start(
            QString::fromStdString(targets[0].first), 4000, targets[0].second, Sink(caller, targets.size()));
        if (!WaitFor(1, std::chrono::seconds(30)))
            return 3;
        std::lock_guard lock(mutex);
        delivered = 0;
        if (!RefuseThreads()) {
            fprintf(stderr, "could not lower the process limit\n");
            _exit(77);
        }
    } else {
        const rlimit limit{rlim_t(atoi(argv[3])), rlim_t(atoi(argv[3]))};
        if (setrlimit(RLIMIT_NOFILE, &limit) != 0)
            return 2;
    }
    printf("refused %d\n", ThreadRefused() ? 1 : 0);
    ResetCheckRunnerPeak();

    for (size_t i = 0; i < targets.size(); ++i)
        TCheckThread::Start(
            QString::fromStdString(targets[i].first), 4000, targets[i].second, Sink(caller, i));
    if (strcmp(argv[2], "--exit-mid") == 0) {
        // An ordinary end of the process: exit handlers and static destructors run beside the runner's
        // threads, with results still arriving.
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        const TCheckRunnerFigures f = CheckRunnerFigures();
        printf("exiting %d %d\n", f.Queued, f.InFlight);
        fflush(stdout);
        exit(0);
    }
    const bool all = WaitFor(int(targets.size()), std::chrono::seconds(240));
    std::this_thread::sleep_for(std::chrono::milliseconds(200)); // a second result would show now
    {
        std::lock_guard lock(mutex);
        for (size_t i = 0; i < targets.size(); ++i)
            printf("result %zu %d %d %d\n", i, outcomes[i].State, outcomes[i].OnCaller ? 1 : 0,
                outcomes[i].Count);
    }
    const TCheckRunnerFigures f = CheckRunnerFigures();
    printf("figures %d %d %llu %llu\n", f.Capacity, f.PeakInFlight, (unsigned long long)f.Waited,
        (unsigned long long)f.ThreadsRefused);
    fflush(stdout);
    // No exit handlers: the simulator's thread and the runner's stay as they are.
    _exit(all ? 0 : 4);
}
