// A thousand checks at once against one zyrsim process.
#include "ProbeTestSupport.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <QDir>
#include <random>
#include <spawn.h>
#include <sstream>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>

extern char **environ;

namespace {

int CountEntries(const char *folder)
{
    return int(QDir(QString::fromUtf8(folder))
                   .entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System)
                   .size());
}

struct TFleetProcess
{
    pid_t pid = -1;
    FILE *out = nullptr;
    std::vector<std::vector<std::string>> lines; // name, target, kind, mode

    bool Start(int count, const std::string &base)
    {
        int pipeFds[2];
        if (pipe2(pipeFds, O_CLOEXEC) != 0)
            return false;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
        const std::string n = std::to_string(count);
        const char *argv[] = {ZYRSIM_PROGRAM, "--fleet", n.c_str(), "--base", base.c_str(), "--delay", "100",
            "--mix", "ok=85,plus=5,refuse=5,silent=5", nullptr};
        const int rc
            = posix_spawn(&pid, ZYRSIM_PROGRAM, &actions, nullptr, const_cast<char **>(argv), environ);
        posix_spawn_file_actions_destroy(&actions);
        close(pipeFds[1]);
        if (rc != 0) {
            close(pipeFds[0]);
            return false;
        }
        out = fdopen(pipeFds[0], "r");
        char line[512];
        while (fgets(line, sizeof line, out)) {
            std::string text(line);
            if (text.rfind("READY", 0) == 0)
                return true;
            std::istringstream in(text);
            std::vector<std::string> fields;
            for (std::string f; std::getline(in, f, '\t');)
                fields.push_back(f);
            lines.push_back(fields);
        }
        return false; // exited before it was ready (an address already taken)
    }
    int Stop()
    {
        int status = -1;
        if (pid > 0) {
            kill(pid, SIGTERM);
            waitpid(pid, &status, 0);
            pid = -1;
        }
        if (out)
            fclose(out);
        out = nullptr;
        return status;
    }
    ~TFleetProcess() { Stop(); }
};

} // namespace

TEST(Fleet, ThousandSimultaneousChecksEachDeliveredOnce)
{
    rlimit limit{};
    getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);

    constexpr int Count = 1000;
    TFleetProcess fleet;
    std::mt19937 random(std::random_device{}());
    bool started = false;
    for (int attempt = 0; attempt < 5 && !started; ++attempt) {
        fleet.Stop();
        fleet = {};
        started = fleet.Start(Count, "127." + std::to_string(10 + random() % 180) + ".0.1");
    }
    ASSERT_TRUE(started);
    ASSERT_EQ(fleet.lines.size(), size_t(Count));

    // One check first, so helper threads of the runtime (a sanitizer's, say) are in the baseline.
    ASSERT_TRUE(CheckOnce(QString::fromStdString(fleet.lines[0][1]), 4000, fleet.lines[0][2] == "plus"));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const int fdsBefore = CountEntries("/proc/self/fd");
    const int threadsBefore = CountEntries("/proc/self/task");
    TResultQueue queue;
    for (int i = 0; i < Count; ++i)
        TCheckThread::Start(QString::fromStdString(fleet.lines[size_t(i)][1]), i, 4000,
            fleet.lines[size_t(i)][2] == "plus", queue.Sink());
    ASSERT_TRUE(queue.WaitFor(Count, std::chrono::seconds(120)));

    std::vector<int> seen(Count);
    std::map<std::string, int> wrong;
    while (auto r = queue.Take()) {
        ASSERT_GE(r->RecordIndex, 0);
        ASSERT_LT(r->RecordIndex, Count);
        ++seen[size_t(r->RecordIndex)];
        const std::string &mode = fleet.lines[size_t(r->RecordIndex)][3];
        const int32_t want = mode == "refuse" ? psNoAnswer : mode == "silent" ? psConnected : psReport;
        if (r->ProbeState != want)
            ++wrong[mode];
    }
    EXPECT_TRUE(wrong.empty()) << wrong.size() << " kinds of wrong states, e.g. " << wrong.begin()->first;
    for (int i = 0; i < Count; ++i)
        ASSERT_EQ(seen[size_t(i)], 1) << i;
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(queue.Size(), 0u); // nothing arrives twice

    // Every worker has closed its sockets and ended its thread.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while ((CountEntries("/proc/self/fd") > fdsBefore || CountEntries("/proc/self/task") > threadsBefore)
        && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_LE(CountEntries("/proc/self/fd"), fdsBefore);
    EXPECT_LE(CountEntries("/proc/self/task"), threadsBefore);

    const int status = fleet.Stop();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}
