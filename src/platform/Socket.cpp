#include "platform/Socket.h"
#include "platform/FileLimit.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

bool ResolveIPv4(const std::string &host, in_addr &address, bool *LocalFailure)
{
    if (LocalFailure)
        *LocalFailure = false;
    if (inet_pton(AF_INET, host.c_str(), &address) == 1)
        return true;
    if (host.empty())
        return false;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *found = nullptr;
    const int rc = getaddrinfo(host.c_str(), nullptr, &hints, &found);
    if (rc != 0 || !found) {
        if (LocalFailure)
            *LocalFailure = rc == EAI_MEMORY || (rc == EAI_SYSTEM && IsLocalResourceError(errno));
        return false;
    }
    bool ok = false;
    for (addrinfo *a = found; a; a = a->ai_next) {
        if (a->ai_family == AF_INET && a->ai_addr) {
            address = reinterpret_cast<sockaddr_in *>(a->ai_addr)->sin_addr;
            ok = true;
            break;
        }
    }
    freeaddrinfo(found);
    return ok;
}

namespace {

// poll with a limit that survives signals; returns the poll result for one descriptor.
int PollOne(int fd, short events, int limitMs, short &revents)
{
    pollfd p{fd, events, 0};
    int rc;
    if (limitMs < 0) {
        do
            rc = poll(&p, 1, -1);
        while (rc < 0 && errno == EINTR);
    } else {
        timespec start{};
        clock_gettime(CLOCK_MONOTONIC, &start);
        int left = limitMs;
        for (;;) {
            rc = poll(&p, 1, left);
            if (rc >= 0 || errno != EINTR)
                break;
            timespec now{};
            clock_gettime(CLOCK_MONOTONIC, &now);
            const long long spent
                = (now.tv_sec - start.tv_sec) * 1000LL + (now.tv_nsec - start.tv_nsec) / 1000000;
            left = spent >= limitMs ? 0 : int(limitMs - spent);
        }
    }
    revents = p.revents;
    return rc;
}

} // namespace

bool TTcpSocket::Fail(const QString &text)
{
    error = text;
    localFailure = false;
    return false;
}

bool TTcpSocket::FailErrno(const char *what, int err)
{
    Fail(QString::fromUtf8(what) + QStringLiteral(": ") + QString::fromLocal8Bit(strerror(err)));
    localFailure = IsLocalResourceError(err);
    return false;
}

bool TTcpSocket::Connect(const std::string &host, uint16_t port, int limitMs)
{
    in_addr address{};
    bool local = false;
    if (!ResolveIPv4(host, address, &local)) {
        Close();
        Fail(QStringLiteral("Sunucu adı çözülemedi: ") + QString::fromUtf8(host.c_str()));
        localFailure = local;
        return false;
    }
    return Connect(address, port, limitMs);
}

bool TTcpSocket::Connect(const in_addr &address, uint16_t port, int limitMs)
{
    Close();
    fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return FailErrno("socket", errno);
    if (InDescriptorReserve(fd)) {
        Close();
        return FailErrno("socket", EMFILE);
    }
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr = address;
    // An interrupted non-blocking connect carries on in the background, like EINPROGRESS.
    int rc = connect(fd, reinterpret_cast<sockaddr *>(&to), sizeof to);
    if (rc == 0)
        return true;
    if (errno != EINPROGRESS && errno != EINTR) {
        const int err = errno;
        Close();
        return FailErrno("connect", err);
    }
    short revents = 0;
    rc = PollOne(fd, POLLOUT, limitMs > 0 ? limitMs : -1, revents);
    if (rc == 0) {
        Close();
        return Fail(QStringLiteral("connect: zaman aşımı"));
    }
    if (rc < 0) {
        const int err = errno;
        Close();
        return FailErrno("poll", err);
    }
    int soError = 0;
    socklen_t len = sizeof soError;
    if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &soError, &len) < 0)
        soError = errno;
    if (soError != 0) {
        Close();
        return FailErrno("connect", soError);
    }
    return true;
}

bool TTcpSocket::SendAll(const void *data, size_t size, int limitMs)
{
    if (fd < 0)
        return Fail(QStringLiteral("send: bağlı değil"));
    const char *p = static_cast<const char *>(data);
    while (size > 0) {
        const ssize_t n = send(fd, p, size, MSG_NOSIGNAL);
        if (n > 0) {
            p += n;
            size -= size_t(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            short revents = 0;
            const int rc = PollOne(fd, POLLOUT, limitMs, revents);
            if (rc == 0)
                return Fail(QStringLiteral("send: zaman aşımı"));
            if (rc < 0)
                return FailErrno("poll", errno);
            continue;
        }
        return FailErrno("send", n < 0 ? errno : EPIPE);
    }
    return true;
}

bool TTcpSocket::WaitReadable(int limitMs)
{
    if (fd < 0)
        return false;
    if (!pending.isEmpty())
        return true;
    short revents = 0;
    const int rc = PollOne(fd, POLLIN, limitMs, revents);
    if (rc < 0)
        return FailErrno("poll", errno);
    return rc > 0;
}

ssize_t TTcpSocket::ReceiveOnce(void *buffer, size_t size)
{
    if (fd < 0)
        return -1;
    if (!pending.isEmpty()) {
        const size_t n = std::min(size, size_t(pending.size()));
        memcpy(buffer, pending.constData(), n);
        pending.remove(0, qsizetype(n));
        return ssize_t(n);
    }
    ssize_t n;
    do
        n = recv(fd, buffer, size, 0);
    while (n < 0 && errno == EINTR);
    if (n < 0)
        FailErrno("recv", errno);
    return n;
}

bool TTcpSocket::ReadLine(QByteArray &line, int limitMs, qsizetype maxLength)
{
    line.clear();
    for (;;) {
        const qsizetype end = pending.indexOf('\n');
        if (end >= 0) {
            if (end + 1 > maxLength)
                return Fail(QStringLiteral("satır çok uzun"));
            line = pending.left(end + 1);
            pending.remove(0, end + 1);
            return true;
        }
        if (pending.size() > maxLength)
            return Fail(QStringLiteral("satır çok uzun"));
        if (fd < 0)
            return Fail(QStringLiteral("recv: bağlı değil"));
        short revents = 0;
        const int rc = PollOne(fd, POLLIN, limitMs, revents);
        if (rc == 0)
            return Fail(QStringLiteral("recv: zaman aşımı"));
        if (rc < 0)
            return FailErrno("poll", errno);
        char chunk[4096];
        ssize_t n;
        do
            n = recv(fd, chunk, sizeof chunk, 0);
        while (n < 0 && errno == EINTR);
        if (n == 0)
            return Fail(QStringLiteral("recv: bağlantı kapandı"));
        if (n < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK)
                continue;
            return FailErrno("recv", errno);
        }
        pending.append(chunk, n);
    }
}

QByteArray TTcpSocket::TakePending()
{
    QByteArray rest;
    rest.swap(pending);
    return rest;
}

void TTcpSocket::Close()
{
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
    pending.clear();
}
