#include "platform/Socket.h"
#include "platform/FileLimit.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <netdb.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <thread>
#include <unistd.h>
#include <vector>

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

int OpenTcpSocket(int family)
{
    return ::socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
}

int StartConnect(int fd, const sockaddr *address, socklen_t length)
{
    if (::connect(fd, address, length) == 0)
        return 0;
    return errno == EINTR ? EINPROGRESS : errno;
}

int StartConnect(int fd, const in_addr &address, uint16_t port)
{
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr = address;
    return StartConnect(fd, reinterpret_cast<const sockaddr *>(&to), sizeof to);
}

int ConnectError(int fd)
{
    int error = 0;
    socklen_t length = sizeof error;
    if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) < 0)
        return errno;
    return error;
}

bool ConnectEstablished(int fd)
{
    sockaddr_storage peer{};
    socklen_t length = sizeof peer;
    return getpeername(fd, reinterpret_cast<sockaddr *>(&peer), &length) == 0;
}

ssize_t SendSome(int fd, const void *data, size_t size)
{
    ssize_t n;
    do
        n = ::send(fd, data, size, MSG_NOSIGNAL);
    while (n < 0 && errno == EINTR);
    return n;
}

ssize_t ReceiveSome(int fd, void *buffer, size_t size)
{
    ssize_t n;
    do
        n = ::recv(fd, buffer, size, 0);
    while (n < 0 && errno == EINTR);
    return n;
}

TSocketCancel::TSocketCancel()
    : fd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
{
}

TSocketCancel::~TSocketCancel()
{
    if (fd >= 0)
        ::close(fd);
}

void TSocketCancel::Trigger()
{
    const uint64_t one = 1;
    if (fd >= 0)
        while (::write(fd, &one, sizeof one) < 0 && errno == EINTR) { }
}

void TSocketCancel::Reset()
{
    uint64_t value = 0;
    if (fd >= 0)
        while (::read(fd, &value, sizeof value) < 0 && errno == EINTR) { }
}

bool TSocketCancel::Triggered() const
{
    pollfd p{fd, POLLIN, 0};
    return fd >= 0 && ::poll(&p, 1, 0) > 0 && (p.revents & POLLIN);
}

namespace {

// A name look-up cannot be interrupted. With a cancel to watch it runs on a helper thread that owns all
// it touches, so the caller can stop waiting for it; the helper ends on its own when the resolver does.
struct TLookup
{
    std::mutex Lock;
    std::string Host;
    std::string Port;
    addrinfo Hints{};
    addrinfo *Found = nullptr;
    int Result = EAI_FAIL;
    bool Done = false;
    int Ready = -1;
    ~TLookup()
    {
        if (Found)
            ::freeaddrinfo(Found);
        if (Ready >= 0)
            ::close(Ready);
    }
};

// getaddrinfo's result; EAI_SYSTEM with errno ECANCELED when cancelled.
int LookUp(const QString &host, const QString &port, const addrinfo &hints, addrinfo **found,
    const TSocketCancel *cancel)
{
    const QByteArray name = host.toUtf8();
    const QByteArray service = port.toUtf8();
    addrinfo numeric = hints;
    numeric.ai_flags |= AI_NUMERICHOST;
    if (!cancel || ::getaddrinfo(name.constData(), service.constData(), &numeric, found) == 0)
        return cancel ? 0 : ::getaddrinfo(name.constData(), service.constData(), &hints, found);
    auto job = std::make_shared<TLookup>();
    job->Host = name.toStdString();
    job->Port = service.toStdString();
    job->Hints = hints;
    job->Ready = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (job->Ready < 0)
        return ::getaddrinfo(name.constData(), service.constData(), &hints, found);
    try {
        std::thread([job] {
            addrinfo *result = nullptr;
            const int rc = ::getaddrinfo(job->Host.c_str(), job->Port.c_str(), &job->Hints, &result);
            std::lock_guard lock(job->Lock);
            job->Found = result;
            job->Result = rc;
            job->Done = true;
            const uint64_t one = 1;
            [[maybe_unused]] const ssize_t n = ::write(job->Ready, &one, sizeof one);
        }).detach();
    } catch (...) {
        return ::getaddrinfo(name.constData(), service.constData(), &hints, found);
    }
    pollfd p[2] = {{job->Ready, POLLIN, 0}, {cancel->Fd(), POLLIN, 0}};
    while (::poll(p, 2, -1) < 0 && errno == EINTR) { }
    std::lock_guard lock(job->Lock);
    if (!job->Done) {
        errno = ECANCELED;
        return EAI_SYSTEM;
    }
    *found = job->Found;
    job->Found = nullptr;
    return job->Result;
}

long long MsUntil(TTcpSocket::TClock::time_point deadline)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(deadline - TTcpSocket::TClock::now())
        .count();
}

} // namespace

TTcpSocket::~TTcpSocket()
{
    Close();
}

bool TTcpSocket::Fail(int err)
{
    LastError = err;
    resolverShort = false;
    return false;
}

bool TTcpSocket::Cancelled()
{
    if (!cancel || !cancel->Triggered())
        return false;
    return !Fail(ECANCELED);
}

QString TTcpSocket::ErrorText() const
{
    if (LastError == 0)
        return QString();
    char text[256];
    return QString::fromLocal8Bit(::strerror_r(LastError, text, sizeof text));
}

bool TTcpSocket::LocalFailure() const
{
    return resolverShort || IsLocalResourceError(LastError);
}

bool TTcpSocket::Wait(short events, int limitMs)
{
    if (fd < 0)
        return Fail(ENOTCONN);
    pollfd p[2] = {{fd, events, 0}, {cancel ? cancel->Fd() : -1, POLLIN, 0}};
    const auto deadline = TClock::now() + std::chrono::milliseconds(std::max(limitMs, 0));
    int left = limitMs;
    for (;;) {
        const int rc = ::poll(p, cancel ? 2 : 1, left);
        if (cancel && p[1].revents)
            return Fail(ECANCELED);
        if (rc > 0)
            return true;
        if (rc == 0)
            return Fail(ETIMEDOUT);
        if (errno != EINTR)
            return Fail(errno);
        if (limitMs >= 0)
            left = int(std::max(MsUntil(deadline), 0LL));
    }
}

bool TTcpSocket::Open(const sockaddr *address, socklen_t length, int limitMs, bool keepReserve)
{
    fd = OpenTcpSocket(address->sa_family);
    if (fd < 0)
        return Fail(errno);
    if (keepReserve && InDescriptorReserve(fd)) {
        Close();
        return Fail(EMFILE);
    }
    int err = StartConnect(fd, address, length);
    if (err == EINPROGRESS)
        err = Wait(POLLOUT, limitMs) ? ConnectError(fd) : LastError;
    if (err != 0) {
        Close();
        return Fail(err);
    }
    LastError = 0;
    return true;
}

bool TTcpSocket::Connect(const in_addr &address, uint16_t port, int limitMs)
{
    Close();
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr = address;
    return Open(reinterpret_cast<const sockaddr *>(&to), sizeof to, limitMs > 0 ? limitMs : -1, true);
}

bool TTcpSocket::Connect(const std::string &host, uint16_t port, int limitMs)
{
    in_addr address{};
    bool local = false;
    if (!ResolveIPv4(host, address, &local)) {
        Close();
        Fail(EHOSTUNREACH);
        resolverShort = local;
        return false;
    }
    return Connect(address, port, limitMs);
}

bool TTcpSocket::ConnectAny(const QString &host, const QString &port, int limitMs)
{
    Close();
    LastError = 0;
    if (Cancelled())
        return false;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *found = nullptr;
    const int looked = LookUp(host, port, hints, &found, cancel);
    if (looked != 0 || !found)
        return Fail(looked == EAI_SYSTEM && errno == ECANCELED ? ECANCELED : EHOSTUNREACH);
    std::vector<addrinfo *> order;
    for (addrinfo *a = found; a; a = a->ai_next)
        order.push_back(a);
    std::stable_partition(order.begin(), order.end(), [](addrinfo *a) { return a->ai_family == AF_INET; });

    const auto deadline = TClock::now() + std::chrono::milliseconds(limitMs);
    bool connected = false;
    for (addrinfo *a : order) {
        connected = Open(a->ai_addr, a->ai_addrlen, int(std::max(MsUntil(deadline), 0LL)), false);
        if (connected)
            break;
    }
    ::freeaddrinfo(found);
    return connected;
}

void TTcpSocket::Attach(int descriptor)
{
    Close();
    fd = descriptor;
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    LastError = 0;
}

void TTcpSocket::Close()
{
    if (ssl)
        ssl->Shutdown();
    if (fd >= 0)
        ::close(fd);
    fd = -1;
    buffer.clear();
    skipNext = 0;
}

void TTcpSocket::SetSSL(std::unique_ptr<TSSLBase> layer)
{
    if (ssl)
        ssl->Shutdown();
    ssl = std::move(layer);
}

bool TTcpSocket::StartTLS(int limitMs)
{
    buffer.clear();
    skipNext = 0;
    if (fd >= 0 && ssl && ssl->Begin(fd)) {
        const auto deadline = TClock::now() + std::chrono::milliseconds(limitMs);
        for (;;) {
            const TSSLBase::TState state = ssl->Handshake();
            if (state == TSSLBase::TState::Done)
                return true;
            if (state != TSSLBase::TState::WantRead && state != TSSLBase::TState::WantWrite)
                break;
            const long long left = MsUntil(deadline);
            if (left <= 0 || !Wait(state == TSSLBase::TState::WantRead ? POLLIN : POLLOUT, int(left)))
                break;
        }
        ssl->Shutdown();
    }
    LastError = ECONNABORTED;
    return false;
}

bool TTcpSocket::SendAll(const void *data, size_t size, int limitMs)
{
    if (fd < 0)
        return Fail(ENOTCONN);
    const char *p = static_cast<const char *>(data);
    while (size > 0) {
        if (TlsActive()) {
            const TSSLBase::TIo io = ssl->Send(p, qsizetype(size));
            if (io.State == TSSLBase::TState::Done) {
                p += io.Bytes;
                size -= size_t(io.Bytes);
            } else if (io.State == TSSLBase::TState::WantRead || io.State == TSSLBase::TState::WantWrite) {
                if (!Wait(io.State == TSSLBase::TState::WantRead ? POLLIN : POLLOUT, limitMs))
                    return false;
            } else {
                return Fail(ECONNRESET);
            }
            continue;
        }
        const ssize_t n = SendSome(fd, p, size);
        if (n > 0) {
            p += n;
            size -= size_t(n);
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (!Wait(POLLOUT, limitMs))
                return false;
        } else {
            return Fail(n < 0 ? errno : EPIPE);
        }
    }
    return true;
}

bool TTcpSocket::WaitReadable(int limitMs)
{
    if (fd < 0)
        return false;
    return !buffer.isEmpty() || Wait(POLLIN, limitMs);
}

ssize_t TTcpSocket::ReceiveOnce(void *data, size_t size)
{
    if (fd < 0)
        return -1;
    if (!buffer.isEmpty()) {
        const size_t n = std::min(size, size_t(buffer.size()));
        memcpy(data, buffer.constData(), n);
        buffer.remove(0, qsizetype(n));
        return ssize_t(n);
    }
    const ssize_t n = ReceiveSome(fd, data, size);
    if (n < 0)
        Fail(errno);
    return n;
}

bool TTcpSocket::TakeLine(QByteArray &line)
{
    if (skipNext && !buffer.isEmpty()) {
        if (buffer[0] == skipNext)
            buffer.remove(0, 1);
        skipNext = 0;
    }
    for (qsizetype i = 0; i < buffer.size(); ++i) {
        const char c = buffer[i];
        if (c != '\r' && c != '\n')
            continue;
        line = buffer.left(i);
        const char pair = c == '\r' ? '\n' : '\r';
        qsizetype used = i + 1;
        if (i + 1 < buffer.size()) {
            if (buffer[i + 1] == pair)
                ++used;
        } else {
            skipNext = pair;
        }
        buffer.remove(0, used);
        return true;
    }
    return false;
}

bool TTcpSocket::ReadLine(QByteArray &line, int limitMs, TClock::time_point deadline)
{
    line.clear();
    LastError = 0;
    if (fd < 0)
        return Fail(ENOTCONN);
    char chunk[4096];
    for (;;) {
        if (TakeLine(line)) {
            if (line.size() <= kMaxLineLength)
                return true;
            line.clear();
            return Fail(EMSGSIZE);
        }
        if (buffer.size() > kMaxLineLength)
            return Fail(EMSGSIZE);
        if (!TlsActive() || !ssl->Pending()) {
            long long wait = limitMs;
            if (deadline != TClock::time_point::max())
                wait = std::min(wait, MsUntil(deadline));
            if (wait <= 0 && limitMs > 0)
                return Fail(ETIMEDOUT);
            if (!Wait(POLLIN, int(std::max(wait, 0LL))))
                return false;
        }
        if (TlsActive()) {
            const TSSLBase::TIo io = ssl->Recv(chunk, sizeof chunk);
            if (io.State == TSSLBase::TState::Done) {
                buffer.append(chunk, io.Bytes);
            } else if (io.State == TSSLBase::TState::WantWrite) {
                if (!Wait(POLLOUT, std::max(limitMs, 0)))
                    return false;
            } else if (io.State != TSSLBase::TState::WantRead) {
                return Fail(ECONNRESET);
            }
            continue;
        }
        const ssize_t n = ReceiveSome(fd, chunk, sizeof chunk);
        if (n > 0)
            buffer.append(chunk, n);
        else if (n == 0)
            return Fail(ECONNRESET);
        else if (errno != EAGAIN && errno != EWOULDBLOCK)
            return Fail(errno);
    }
}
