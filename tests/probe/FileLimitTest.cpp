// A check that finds no free descriptor for its socket reports "not working", like any failed connect.
#include "ProbeTestSupport.h"

#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <iterator>
#include <thread>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

TEST(CheckThread, NoFreeDescriptorReportsNotWorking)
{
    TSimulator sim({[] {
        TSimSystem s;
        s.Host = "127.0.0.1";
        s.Port = 0;
        return s;
    }()});
    std::string error;
    ASSERT_TRUE(sim.Start(error)) << error;
    const QString target = QString::fromStdString(sim.Target(0));
    auto reachable = CheckOnce(target, 4000, false);
    ASSERT_TRUE(reachable);
    ASSERT_EQ(reachable->ProbeState, psReport);
    // The simulator closes its side of that connection on its own thread; a descriptor it frees after the
    // filling below would be a free one, and a check could rightly connect with it.
    auto openDescriptors = [] {
        return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {});
    };
    for (auto last = openDescriptors(), i = decltype(last)(0); i < 60; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        const auto now = openDescriptors();
        if (now == last && i >= 4)
            break;
        last = now;
    }

    rlimit saved {};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
    rlimit low = saved;
    low.rlim_cur = 256;
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &low), 0);
    std::vector<int> filler;
    for (int fd; (fd = open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;)
        filler.push_back(fd);

    TResultQueue queue;
    for (int i = 0; i < 20; ++i)
        TCheckThread::Start(target, i, 4000, i % 4 == 0, queue.Sink());
    const bool arrived = queue.WaitFor(20, std::chrono::seconds(30));

    for (int fd : filler)
        close(fd);
    setrlimit(RLIMIT_NOFILE, &saved);
    sim.Stop();

    ASSERT_TRUE(arrived);
    std::vector<int> seen(20);
    while (auto r = queue.Take()) {
        ASSERT_GE(r->RecordIndex, 0);
        ASSERT_LT(r->RecordIndex, 20);
        ++seen[size_t(r->RecordIndex)];
        EXPECT_EQ(r->ProbeState, psNoAnswer) << r->RecordIndex;
    }
    for (int n : seen)
        EXPECT_EQ(n, 1);
}
