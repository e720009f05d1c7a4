#include "Loopback.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <random>
#include <sys/socket.h>
#include <unistd.h>

namespace {

sockaddr_in Address(const std::string &Host, uint16_t Port)
{
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_port = htons(Port);
    inet_pton(AF_INET, Host.c_str(), &at.sin_addr);
    return at;
}

} // namespace

std::string RandomLoopbackHost()
{
    static std::mt19937 random(std::random_device{}());
    return "127." + std::to_string(2 + random() % 198) + "." + std::to_string(random() % 256) + "."
        + std::to_string(1 + random() % 254);
}

int FreePort(const std::string &Host)
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in at = Address(Host, 0);
    socklen_t size = sizeof at;
    int port = 0;
    if (bind(fd, reinterpret_cast<sockaddr *>(&at), sizeof at) == 0
        && getsockname(fd, reinterpret_cast<sockaddr *>(&at), &size) == 0)
        port = ntohs(at.sin_port);
    close(fd);
    return port;
}

TLoopbackListener::TLoopbackListener(int Backlog)
{
    for (int attempt = 0; attempt < 20 && !Listen(RandomLoopbackHost(), 0, Backlog); ++attempt) { }
}

TLoopbackListener::TLoopbackListener(const std::string &Host, uint16_t Port, int Backlog)
{
    Listen(Host, Port, Backlog);
}

TLoopbackListener::~TLoopbackListener()
{
    Close();
}

bool TLoopbackListener::Listen(const std::string &Host, uint16_t Port, int Backlog)
{
    Close();
    fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_in at = Address(Host, Port);
    socklen_t size = sizeof at;
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr *>(&at), sizeof at) != 0 || listen(fd, Backlog) != 0
        || getsockname(fd, reinterpret_cast<sockaddr *>(&at), &size) != 0) {
        Close();
        return false;
    }
    host = Host;
    port = ntohs(at.sin_port);
    return true;
}

int TLoopbackListener::AcceptAndCloseWaiting()
{
    int count = 0;
    for (int c; fd >= 0 && (c = accept4(fd, nullptr, nullptr, SOCK_CLOEXEC)) >= 0; ++count)
        close(c);
    return count;
}

void TLoopbackListener::Close()
{
    if (fd >= 0)
        close(fd);
    fd = -1;
    port = 0;
}

TFullListener::TFullListener(const std::string &Host, uint16_t Port)
    : listener(Host, Port, 0)
{
    if (!listener.Listening())
        return;
    const sockaddr_in at = Address(listener.Host(), listener.Port());
    // Fill the queue until a connect no longer completes.
    for (int i = 0; i < 16 && !ready; ++i) {
        const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        clients.push_back(fd);
        connect(fd, reinterpret_cast<const sockaddr *>(&at), sizeof at);
        pollfd p{fd, POLLOUT, 0};
        ready = poll(&p, 1, 300) == 0;
    }
}

void TFullListener::Drain()
{
    for (const int fd : clients)
        close(fd);
    clients.clear();
    listener.AcceptAndCloseWaiting();
}

TFullListener::~TFullListener()
{
    for (const int fd : clients)
        close(fd);
}
