// A thousand checks at once against one zyrsim process.
#include "ProbeTestSupport.h"

#include <chrono>
#include <gtest/gtest.h>
#include <map>
#include <QDir>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>

namespace {

int CountEntries(const char *folder)
{
    return int(QDir(QString::fromUtf8(folder))
                   .entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System)
                   .size());
}

} // namespace

TEST(Fleet, ThousandSimultaneousChecksEachDeliveredOnce)
{
    rlimit limit{};
    getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);

    constexpr int Count = 1000;
    TFleetProcess fleet;
    ASSERT_TRUE(fleet.StartSomewhere(Count));
    ASSERT_EQ(fleet.lines.size(), size_t(Count));

    // One check first, so helper threads of the runtime (a sanitizer's, say) are in the baseline.
    ASSERT_TRUE(CheckOnce(QString::fromStdString(fleet.lines[0][1]), 4000, fleet.lines[0][2] == "plus"));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const int fdsBefore = CountEntries("/proc/self/fd");
    const int threadsBefore = CountEntries("/proc/self/task");
    TResultQueue queue;
    for (int i = 0; i < Count; ++i)
        TCheckThread::Start(QString::fromStdString(fleet.lines[size_t(i)][1]), 4000,
            fleet.lines[size_t(i)][2] == "plus", queue.Sink(i));
    ASSERT_TRUE(queue.WaitFor(Count, std::chrono::seconds(120)));

    std::vector<int> seen(Count);
    std::map<std::string, int> wrong;
    while (auto r = queue.Take()) {
        ASSERT_GE(r.Tag, 0);
        ASSERT_LT(r.Tag, Count);
        ++seen[size_t(r.Tag)];
        const std::string &mode = fleet.lines[size_t(r.Tag)][3];
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
