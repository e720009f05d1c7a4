#include "platform/Socket.h"

#include "Loopback.h"

#include <arpa/inet.h>
#include <chrono>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

long long MsSince(Clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// A plain loopback listener for the socket tests.
struct TListener
{
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    uint16_t port = 0;
    TListener()
    {
        sockaddr_in at{};
        at.sin_family = AF_INET;
        at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof at;
        bind(fd, reinterpret_cast<sockaddr *>(&at), sizeof at);
        listen(fd, 16);
        getsockname(fd, reinterpret_cast<sockaddr *>(&at), &len);
        port = ntohs(at.sin_port);
    }
    ~TListener() { close(fd); }
    int Accept() const { return accept(fd, nullptr, nullptr); }
};

uint16_t ClosedPort()
{
    TListener gone;
    return gone.port; // closed again when it leaves
}

} // namespace

TEST(Socket, ResolvesDottedAndLocalNamesButNotEmpty)
{
    in_addr a{};
    ASSERT_TRUE(ResolveIPv4("127.3.4.5", a));
    EXPECT_EQ(ntohl(a.s_addr), 0x7F030405u);
    ASSERT_TRUE(ResolveIPv4("localhost", a)); // from the hosts file, no name server involved
    EXPECT_EQ(ntohl(a.s_addr) >> 24, 127u);
    EXPECT_FALSE(ResolveIPv4("", a));
}

TEST(Socket, ConnectFailuresAreReportedAndBounded)
{
    TTcpSocket client;
    const auto start = Clock::now();
    EXPECT_FALSE(client.Connect("127.0.0.1", ClosedPort(), 2000));
    EXPECT_LT(MsSince(start), 1000);
    EXPECT_FALSE(client.Connected());
    EXPECT_FALSE(client.ErrorText().isEmpty());
    EXPECT_FALSE(client.LocalFailure()); // the remote side refused

    TFullListener full;
    ASSERT_TRUE(full.Ready());
    const auto begin = Clock::now();
    EXPECT_FALSE(client.Connect(full.Host(), full.Port(), 1000));
    EXPECT_EQ(client.LastError, ETIMEDOUT);
    EXPECT_FALSE(client.LocalFailure());
    const long long spent = MsSince(begin);
    EXPECT_GE(spent, 900);
    EXPECT_LT(spent, 2000);
}

TEST(Socket, DescriptorsAbove1023Work)
{
    std::vector<int> fillers;
    const int null = open("/dev/null", O_RDONLY | O_CLOEXEC);
    for (int fd = dup(null); fd >= 0 && fd < 1100; fd = dup(null))
        fillers.push_back(fd);
    TListener server;
    TTcpSocket client;
    ASSERT_TRUE(client.Connect("127.0.0.1", server.port, 1000));
    EXPECT_GT(client.Handle(), 1023);
    const int peer = server.Accept();
    ASSERT_TRUE(client.SendAll("ping", 4, 1000));
    char got[8] = {};
    ASSERT_EQ(recv(peer, got, sizeof got, 0), 4);
    send(peer, "pong", 4, 0);
    ASSERT_TRUE(client.WaitReadable(1000));
    EXPECT_EQ(client.ReceiveOnce(got, sizeof got), 4);
    EXPECT_EQ(std::string(got, 4), "pong");
    close(peer);
    for (const int fd : fillers)
        close(fd);
    close(null);
}

TEST(Socket, SendToAResetPeerFailsWithoutSigpipe)
{
    TListener server;
    TTcpSocket client;
    ASSERT_TRUE(client.Connect("127.0.0.1", server.port, 1000));
    const int peer = server.Accept();
    linger hard{1, 0};
    setsockopt(peer, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    close(peer); // reset
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    std::string block(65536, 'x');
    bool sent = true;
    for (int i = 0; i < 5 && sent; ++i)
        sent = client.SendAll(block.data(), block.size(), 500);
    EXPECT_FALSE(sent); // and the process is still here
}

TEST(Socket, WaitReadableTimesOutAndReadLineKeepsTheRest)
{
    TListener server;
    TTcpSocket client;
    ASSERT_TRUE(client.Connect("127.0.0.1", server.port, 1000));
    const int peer = server.Accept();
    EXPECT_FALSE(client.WaitReadable(100));
    EXPECT_EQ(client.LastError, ETIMEDOUT);

    const std::string first = "220 hazır\r\n250-bir";
    send(peer, first.data(), first.size(), 0);
    QByteArray line;
    ASSERT_TRUE(client.ReadLine(line, 1000));
    EXPECT_EQ(line, QByteArray("220 hazır"));
    EXPECT_FALSE(client.ReadLine(line, 100)); // line not finished in time
    EXPECT_EQ(client.LastError, ETIMEDOUT);
    const std::string rest = "\r\n250 iki\n";
    send(peer, rest.data(), rest.size(), 0);
    ASSERT_TRUE(client.ReadLine(line, 1000));
    EXPECT_EQ(line, QByteArray("250-bir"));
    ASSERT_TRUE(client.ReadLine(line, 1000));
    EXPECT_EQ(line, QByteArray("250 iki"));

    const std::string longLine(TTcpSocket::kMaxLineLength + 1, 'a');
    send(peer, longLine.data(), longLine.size(), 0);
    EXPECT_FALSE(client.ReadLine(line, 1000));
    EXPECT_EQ(client.LastError, EMSGSIZE);
    client.Close();
    close(peer);

    ASSERT_TRUE(client.Connect("127.0.0.1", server.port, 1000));
    const int second = server.Accept();
    send(second, "yarım", 6, 0);
    close(second);
    EXPECT_FALSE(client.ReadLine(line, 1000)); // closed before a line end
    EXPECT_EQ(client.LastError, ECONNRESET);
}
