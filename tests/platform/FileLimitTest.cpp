#include "platform/FileLimit.h"
#include "Loopback.h"
#include "platform/Socket.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

namespace {

// Restores the descriptor limit the test found.
struct TLimitGuard
{
    rlimit saved{};
    TLimitGuard() { getrlimit(RLIMIT_NOFILE, &saved); }
    ~TLimitGuard() { setrlimit(RLIMIT_NOFILE, &saved); }
};

} // namespace

TEST(FileLimit, SoftLimitRisesToTheHardLimit)
{
    TLimitGuard guard;
    rlimit low = guard.saved;
    if (low.rlim_max < 64)
        GTEST_SKIP() << "hard limit too low to lower the soft one";
    low.rlim_cur = 64;
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &low), 0);

    EXPECT_TRUE(RaiseOpenFileLimit());
    rlimit now{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &now), 0);
    EXPECT_EQ(now.rlim_cur, guard.saved.rlim_max);
    EXPECT_TRUE(RaiseOpenFileLimit()); // already there
}

TEST(FileLimit, ConnectWithoutAFreeDescriptorFailsCleanly)
{
    TLimitGuard guard;
    // A listener that would accept, so only the missing descriptor can make the connect fail.
    const TLoopbackListener listener;
    ASSERT_TRUE(listener.Listening());
    const std::string host = listener.Host();
    const uint16_t port = listener.Port();

    {
        TTcpSocket reachable;
        ASSERT_TRUE(reachable.Connect(host, port, 2000));
    }

    // Use up every descriptor below a lowered limit.
    rlimit low = guard.saved;
    low.rlim_cur = 256;
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &low), 0);
    std::vector<int> filler;
    for (int fd; (fd = open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;)
        filler.push_back(fd);

    TTcpSocket starved;
    EXPECT_FALSE(starved.Connect(host, port, 2000));
    EXPECT_FALSE(starved.ErrorText().isEmpty());
    EXPECT_TRUE(starved.LocalFailure()); // this machine's shortage, not the listener's refusal

    for (int fd : filler)
        close(fd);
}

TEST(FileLimit, SocketsLeaveTheLastDescriptorsToTheRest)
{
    TLimitGuard guard;
    const TLoopbackListener listener;
    ASSERT_TRUE(listener.Listening());
    const std::string host = listener.Host();
    const uint16_t port = listener.Port();

    // The lowest free descriptor is one less than the reserve below the limit: one socket fits, the next
    // would take a reserved one.
    const int probe = open("/dev/null", O_RDONLY | O_CLOEXEC);
    ASSERT_GE(probe, 0);
    close(probe);
    rlimit low = guard.saved;
    low.rlim_cur = rlim_t(probe) + DescriptorReserve + 1;
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &low), 0);

    TTcpSocket first;
    EXPECT_TRUE(first.Connect(host, port, 2000));
    TTcpSocket second;
    EXPECT_FALSE(second.Connect(host, port, 2000));
    EXPECT_FALSE(second.ErrorText().isEmpty());
    EXPECT_TRUE(second.LocalFailure());
    // What the sockets left is there for the rest of the program.
    const int spare = open("/dev/null", O_RDONLY | O_CLOEXEC);
    EXPECT_GE(spare, 0);
    if (spare >= 0)
        close(spare);
    first.Close();
}

TEST(FileLimit, BudgetLeavesTheReserveAndWhatIsOpen)
{
    TLimitGuard guard;
    const int open = OpenDescriptorCount();
    ASSERT_GT(open, 2); // at least the standard streams
    rlimit low = guard.saved;
    low.rlim_cur = rlim_t(open + DescriptorReserve + 10);
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &low), 0);
    EXPECT_EQ(OpenFileLimit(), open + DescriptorReserve + 10);
    EXPECT_EQ(DescriptorBudget(), 10);

    std::vector<int> more;
    for (int i = 0; i < 4; ++i)
        more.push_back(::open("/dev/null", O_RDONLY | O_CLOEXEC));
    EXPECT_EQ(OpenDescriptorCount(), open + 4);
    EXPECT_EQ(DescriptorBudget(), 6);
    // Already inside the reserve: still one, so that a check can wait its turn rather than never start.
    low.rlim_cur = rlim_t(open + 4 + DescriptorReserve / 2);
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &low), 0);
    EXPECT_EQ(DescriptorBudget(), 1);
    for (const int fd : more)
        close(fd);
}
