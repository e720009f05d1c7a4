#include "ProbeTestSupport.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>

TFullListener::TFullListener()
{
    listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof at;
    if (bind(listener, reinterpret_cast<sockaddr *>(&at), sizeof at) != 0 || listen(listener, 0) != 0)
        return;
    getsockname(listener, reinterpret_cast<sockaddr *>(&at), &len);
    port = ntohs(at.sin_port);
    // Fill the queue until a connect no longer completes.
    for (int i = 0; i < 16 && !ready; ++i) {
        const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        clients.push_back(fd);
        connect(fd, reinterpret_cast<sockaddr *>(&at), sizeof at);
        pollfd p{fd, POLLOUT, 0};
        ready = poll(&p, 1, 300) == 0;
    }
}

TFullListener::~TFullListener()
{
    for (const int fd : clients)
        close(fd);
    if (listener >= 0)
        close(listener);
}
