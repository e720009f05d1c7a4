// Local limits (descriptors, threads) never become a verdict on a remote system: a check waits for what
// it lacks and then gets its true state.
#include "platform/FileLimit.h"
#include "probe/CheckRunner.h"
#include "ProbeTestSupport.h"

#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <map>
#include <sstream>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

int32_t Expected(const std::string &mode)
{
    return mode == "refuse" ? psNoAnswer : mode == "silent" ? psConnected : psReport;
}

struct TChildRun
{
    int Status = -1;
    bool Refused = false;
    std::map<int, std::vector<int>> Results; // index: state, on caller, deliveries
    std::vector<long long> Figures; // capacity, peak, waited, threads refused
    std::vector<long long> Exiting; // checks queued and descriptors in flight when exit() was called
};

// The child, run as root, becomes user nobody to meet a thread limit, and then loads the device-list
// library from its own folder. A build tree inside a private folder (a clone under /root, or a 0700
// temporary folder) is out of nobody's reach, so the child and the library run from a copy anyone can read.
std::string ChildProgram()
{
    static const std::string program = [] {
        namespace fs = std::filesystem;
        const fs::path built(LIMITS_CHILD_PROGRAM);
        std::string folder = (fs::temp_directory_path() / "zyr-limits-XXXXXX").string();
        if (!mkdtemp(folder.data()))
            return built.string();
        fs::permissions(folder,
            fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec | fs::perms::others_read
                | fs::perms::others_exec);
        const fs::path copy = fs::path(folder) / built.filename();
        std::error_code error;
        fs::copy_file(built, copy, error);
        fs::copy_file(built.parent_path() / "libZyrPlus.so", fs::path(folder) / "libZyrPlus.so", error);
        // Kept past the static objects' destruction, for the exit handler.
        static const auto *made = new std::string(folder);
        std::atexit([] {
            std::error_code ignored;
            fs::remove_all(*made, ignored);
        });
        return copy.string();
    }();
    return program;
}

TChildRun RunChild(const std::string &fleetFile, std::vector<std::string> options)
{
    TChildRun run;
    // A child that hangs (at its end, say) is ended and fails the test.
    std::string command = std::string("timeout -k 5 180 '") + ChildProgram() + "' '" + fleetFile + "'";
    for (const std::string &o : options)
        command += " " + o;
    FILE *out = popen(command.c_str(), "r");
    if (!out)
        return run;
    char line[256];
    while (fgets(line, sizeof line, out)) {
        std::istringstream in(line);
        std::string key;
        in >> key;
        if (key == "refused") {
            int refused = 0;
            in >> refused;
            run.Refused = refused != 0;
        } else if (key == "result") {
            int index, state, onCaller, count;
            in >> index >> state >> onCaller >> count;
            run.Results[index] = {state, onCaller, count};
        } else if (key == "exiting") {
            for (long long v; in >> v;)
                run.Exiting.push_back(v);
        } else if (key == "figures") {
            for (long long v; in >> v;)
                run.Figures.push_back(v);
        }
    }
    run.Status = pclose(out);
    return run;
}

class LocalLimits : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        fleet = new TFleetProcess;
        if (!fleet->StartSomewhere(1000))
            return;
        fleetFile
            = std::filesystem::temp_directory_path() / ("zyr-fleet-" + std::to_string(getpid()) + ".txt");
        std::ofstream file(fleetFile);
        for (const auto &fields : fleet->lines)
            file << fields[0] << '\t' << fields[1] << '\t' << fields[2] << '\t' << fields[3] << '\n';
    }
    static void TearDownTestSuite()
    {
        delete fleet;
        fleet = nullptr;
        std::filesystem::remove(fleetFile);
    }

    // Every fleet system with the state its behaviour calls for, delivered once, never on the caller.
    static void ExpectTrueStates(const TChildRun &run, size_t extra)
    {
        ASSERT_EQ(run.Results.size(), fleet->lines.size() + extra);
        std::map<std::string, int> wrong;
        int onCaller = 0, notOnce = 0;
        for (const auto &[index, r] : run.Results) {
            const std::string mode
                = size_t(index) < fleet->lines.size() ? fleet->lines[size_t(index)][3] : "ok";
            if (r[0] != Expected(mode))
                ++wrong[mode + "->" + std::to_string(r[0])];
            onCaller += r[1];
            notOnce += r[2] != 1;
        }
        for (const auto &[what, count] : wrong)
            ADD_FAILURE() << count << " x " << what;
        EXPECT_EQ(onCaller, 0);
        EXPECT_EQ(notOnce, 0);
    }

    static TFleetProcess *fleet;
    static std::filesystem::path fleetFile;
};

TFleetProcess *LocalLimits::fleet = nullptr;
std::filesystem::path LocalLimits::fleetFile;

TEST_F(LocalLimits, ThousandChecksWithin256Descriptors)
{
    ASSERT_EQ(fleet->lines.size(), 1000u);
    const TChildRun run = RunChild(fleetFile, {"--descriptors", "256"});
    ASSERT_TRUE(WIFEXITED(run.Status) && WEXITSTATUS(run.Status) == 0) << run.Status;
    ExpectTrueStates(run, 0);
    ASSERT_EQ(run.Figures.size(), 4u);
    // The checks held no more than the table leaves beside the reserve, and the queue was used.
    EXPECT_GT(run.Figures[0], 0);
    EXPECT_LE(run.Figures[0], 256 - DescriptorReserve);
    EXPECT_LE(run.Figures[1], run.Figures[0]);
    EXPECT_GT(run.Figures[1], run.Figures[0] / 2);
}

TEST_F(LocalLimits, ThousandChecksWhileThreadsAreRefused)
{
    ASSERT_EQ(fleet->lines.size(), 1000u);
    const TChildRun run = RunChild(fleetFile, {"--no-threads"});
    if (WIFEXITED(run.Status) && WEXITSTATUS(run.Status) == 77)
        GTEST_SKIP() << "the process limit cannot be lowered here";
    ASSERT_TRUE(WIFEXITED(run.Status) && WEXITSTATUS(run.Status) == 0) << run.Status;
    ASSERT_TRUE(run.Refused) << "the system still created threads";
    ExpectTrueStates(run, 3); // and three systems by host name
    ASSERT_EQ(run.Figures.size(), 4u);
    EXPECT_GT(run.Figures[3], 0); // the runner asked for threads and was refused
}

// The process ends the ordinary way (exit handlers, static destruction) in the middle of a cycle with
// checks queued and in flight: no crash, no hang, status 0.
TEST_F(LocalLimits, ExitWithChecksQueuedAndInFlight)
{
    ASSERT_EQ(fleet->lines.size(), 1000u);
    const TChildRun run = RunChild(fleetFile, {"--exit-mid", "256"});
    ASSERT_TRUE(WIFEXITED(run.Status) && WEXITSTATUS(run.Status) == 0) << run.Status;
    ASSERT_EQ(run.Exiting.size(), 2u);
    EXPECT_GT(run.Exiting[0], 0); // queued
    EXPECT_GT(run.Exiting[1], 0); // in flight
}

// In this process: with the table full the checks wait; once descriptors are free they run and report.
TEST(CheckThread, ChecksWaitForAFreeDescriptor)
{
    std::vector<TSimSystem> systems(2);
    systems[0].Port = 0;
    systems[1].Kind = TSimKind::Plus;
    systems[1].Host = "auto";
    systems[1].Port = 0;
    systems[1].Devices = {{"A1001", 0, 4, "0120"}};
    auto sim = StartSimulator(systems);
    ASSERT_TRUE(sim);
    auto reachable = CheckOnce(QString::fromStdString(sim->Target(0)), 4000, false);
    ASSERT_TRUE(reachable);
    ASSERT_EQ(reachable->ProbeState, psReport);
    // The simulator closes its side of that connection on its own thread; a descriptor it frees after the
    // filling below would be a free one.
    auto openDescriptors
        = [] { return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {}); };
    for (auto last = openDescriptors(), i = decltype(last)(0); i < 60; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        const auto now = openDescriptors();
        if (now == last && i >= 4)
            break;
        last = now;
    }

    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
    rlimit low = saved;
    low.rlim_cur = 256;
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &low), 0);
    std::vector<int> filler;
    for (int fd; (fd = open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;)
        filler.push_back(fd);

    TResultQueue queue;
    for (int i = 0; i < 20; ++i)
        TCheckThread::Start(
            QString::fromStdString(sim->Target(size_t(i % 4 == 0))), 4000, i % 4 == 0, queue.Sink(i));
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const size_t early = queue.Size();
    for (int fd : filler)
        close(fd);
    setrlimit(RLIMIT_NOFILE, &saved);
    const bool arrived = queue.WaitFor(20, std::chrono::seconds(30));
    sim->Stop();

    EXPECT_EQ(early, 0u) << "a check reported without a descriptor";
    ASSERT_TRUE(arrived);
    std::vector<int> seen(20);
    while (auto r = queue.Take()) {
        ASSERT_GE(r.Tag, 0);
        ASSERT_LT(r.Tag, 20);
        ++seen[size_t(r.Tag)];
        EXPECT_EQ(r->ProbeState, psReport) << r.Tag;
    }
    for (int n : seen)
        EXPECT_EQ(n, 1);
}

} // namespace
