// libZyrPlus.so: fetches an extended recording system's device list as JSON text.
// No global state: every call owns its socket and buffers, so loading, calling and unloading from
// many threads at once is safe.
#include "DeviceListProtocol.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

long long NowMs()
{
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1000LL + t.tv_nsec / 1000000;
}

class TDeadline
{
public:
    explicit TDeadline(int ms)
        : end(NowMs() + ms)
    {
    }
    int Left() const
    {
        const long long left = end - NowMs();
        return left <= 0 ? 0 : int(left);
    }

private:
    long long end;
};

// Waits for the events until the deadline; false on time-out or error.
bool WaitFor(int fd, short events, const TDeadline &deadline)
{
    for (;;) {
        const int left = deadline.Left();
        if (left == 0)
            return false;
        pollfd p{fd, events, 0};
        const int rc = poll(&p, 1, left);
        if (rc > 0)
            return true;
        if (rc == 0 || errno != EINTR)
            return false;
    }
}

bool Resolve(const char *host, in_addr &address)
{
    if (inet_pton(AF_INET, host, &address) == 1)
        return true;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *found = nullptr;
    if (getaddrinfo(host, nullptr, &hints, &found) != 0 || !found)
        return false;
    address = reinterpret_cast<sockaddr_in *>(found->ai_addr)->sin_addr;
    freeaddrinfo(found);
    return true;
}

int Connect(const in_addr &address, int port, const TDeadline &deadline)
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(uint16_t(port));
    to.sin_addr = address;
    if (connect(fd, reinterpret_cast<sockaddr *>(&to), sizeof to) == 0)
        return fd;
    if ((errno == EINPROGRESS || errno == EINTR) && WaitFor(fd, POLLOUT, deadline)) {
        int error = 0;
        socklen_t len = sizeof error;
        if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &len) == 0 && error == 0)
            return fd;
    }
    close(fd);
    return -1;
}

bool SendAll(int fd, const unsigned char *data, size_t size, const TDeadline &deadline)
{
    while (size > 0) {
        const ssize_t n = send(fd, data, size, MSG_NOSIGNAL);
        if (n > 0) {
            data += n;
            size -= size_t(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (!WaitFor(fd, POLLOUT, deadline))
                return false;
        } else {
            return false;
        }
    }
    return true;
}

bool ReceiveAll(int fd, unsigned char *data, size_t size, const TDeadline &deadline)
{
    while (size > 0) {
        const ssize_t n = recv(fd, data, size, 0);
        if (n > 0) {
            data += n;
            size -= size_t(n);
        } else if (n == 0) {
            return false;
        } else if (errno == EINTR) {
            continue;
        } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
            if (!WaitFor(fd, POLLIN, deadline))
                return false;
        } else {
            return false;
        }
    }
    return true;
}

// Returns the text length, or -1 on any failure. Writes into buffer only what the reply announced.
int Fetch(const char *host, int port, int timeoutMs, char *buffer)
{
    const TDeadline deadline(timeoutMs);
    in_addr address{};
    if (!Resolve(host, address))
        return -1;
    const int fd = Connect(address, port, deadline);
    if (fd < 0)
        return -1;
    int result = -1;
    unsigned char request[DeviceList::RequestSize] = {};
    memcpy(request, DeviceList::Magic, sizeof DeviceList::Magic);
    request[4] = DeviceList::CommandList;
    unsigned char header[DeviceList::ReplyHeaderSize];
    if (SendAll(fd, request, sizeof request, deadline) && ReceiveAll(fd, header, sizeof header, deadline)
        && memcmp(header, DeviceList::Magic, sizeof DeviceList::Magic) == 0
        && header[4] == DeviceList::StatusOk) {
        const uint32_t length = uint32_t(header[8]) | uint32_t(header[9]) << 8 | uint32_t(header[10]) << 16
            | uint32_t(header[11]) << 24;
        // The caller's buffer is 8192 bytes and the call carries no size: a longer list is a failure.
        if (length <= DeviceList::MaxText
            && ReceiveAll(fd, reinterpret_cast<unsigned char *>(buffer), length, deadline))
            result = int(length);
    }
    close(fd);
    return result;
}

} // namespace

extern "C" __attribute__((visibility("default"))) int32_t GetDeviceList(
    const char *host, int32_t port, int32_t timeoutMs, char *buffer, uint16_t *length)
{
    if (length)
        *length = 0;
    if (!host || !buffer || !length || port <= 0 || port > 65535)
        return 0;
    const int n = Fetch(host, port, timeoutMs < 1 ? DeviceList::DefaultTimeoutMs : timeoutMs, buffer);
    if (n < 0)
        return 0;
    *length = uint16_t(n);
    return 1;
}
