#include "mail/BlockSocket.h"
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <mutex>
#include <netdb.h>
#include <poll.h>
#include <string>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>
#ifdef ZYR_WITH_OPENSSL
#include "mail/SSLOpenSSL.h"
#endif

std::unique_ptr<TSSLBase> CreateDefaultSSL()
{
#ifdef ZYR_WITH_OPENSSL
    return std::make_unique<TSSLOpenSSL>();
#else
    return std::make_unique<TSSLNone>();
#endif
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

} // namespace

TTCPBlockSocket::TTCPBlockSocket(std::unique_ptr<TSSLBase> layer)
    : ssl(std::move(layer))
{
    if (!ssl)
        ssl = std::make_unique<TSSLNone>();
}

TTCPBlockSocket::~TTCPBlockSocket()
{
    CloseSocket();
}

void TTCPBlockSocket::SetSSL(std::unique_ptr<TSSLBase> layer)
{
    if (ssl)
        ssl->Shutdown();
    ssl = layer ? std::move(layer) : std::make_unique<TSSLNone>();
}

void TTCPBlockSocket::Attach(int descriptor)
{
    CloseSocket();
    fd = descriptor;
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    LastError = 0;
}

void TTCPBlockSocket::CloseSocket()
{
    ssl->Shutdown();
    if (fd >= 0)
        ::close(fd);
    fd = -1;
    buffer.clear();
    skipNext = 0;
}

bool TTCPBlockSocket::Cancelled()
{
    if (!cancel || !cancel->Triggered())
        return false;
    LastError = ECANCELED;
    return true;
}

bool TTCPBlockSocket::WaitFor(short events, int timeoutMs)
{
    pollfd p[2] = {{fd, events, 0}, {cancel ? cancel->Fd() : -1, POLLIN, 0}};
    while (true) {
        const int r = ::poll(p, cancel ? 2 : 1, std::max(timeoutMs, 0));
        if (cancel && p[1].revents) {
            LastError = ECANCELED;
            return false;
        }
        if (r > 0)
            return true;
        if (r == 0) {
            LastError = ETIMEDOUT;
            return false;
        }
        if (errno != EINTR) {
            LastError = errno;
            return false;
        }
    }
}

bool TTCPBlockSocket::Connect(const QString &host, const QString &port, int timeoutMs)
{
    CloseSocket();
    LastError = 0;
    if (Cancelled())
        return false;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *found = nullptr;
    const int looked = LookUp(host, port, hints, &found, cancel);
    if (looked != 0 || !found) {
        LastError = looked == EAI_SYSTEM && errno == ECANCELED ? ECANCELED : EHOSTUNREACH;
        return false;
    }
    std::vector<addrinfo *> order;
    for (addrinfo *a = found; a; a = a->ai_next)
        order.push_back(a);
    std::stable_partition(order.begin(), order.end(), [](addrinfo *a) { return a->ai_family == AF_INET; });

    const auto deadline = TClock::now() + std::chrono::milliseconds(timeoutMs);
    bool connected = false;
    for (addrinfo *a : order) {
        fd = ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
        if (fd < 0) {
            LastError = errno;
            continue;
        }
        if (::connect(fd, a->ai_addr, a->ai_addrlen) == 0) {
            connected = true;
            break;
        }
        if (errno == EINPROGRESS) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - TClock::now());
            if (WaitFor(POLLOUT, int(std::max<long long>(left.count(), 0)))) {
                int err = 0;
                socklen_t len = sizeof err;
                ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len);
                if (err == 0) {
                    connected = true;
                    break;
                }
                LastError = err;
            }
        } else {
            LastError = errno;
        }
        ::close(fd);
        fd = -1;
    }
    ::freeaddrinfo(found);
    if (connected)
        LastError = 0;
    return connected;
}

bool TTCPBlockSocket::SendString(const QByteArray &data)
{
    if (fd < 0) {
        LastError = ENOTCONN;
        return false;
    }
    qsizetype sent = 0;
    while (sent < data.size()) {
        if (ssl->Active()) {
            const TSSLBase::TIo io = ssl->Send(data.constData() + sent, data.size() - sent);
            if (io.State == TSSLBase::TState::Done) {
                sent += io.Bytes;
            } else if (io.State == TSSLBase::TState::WantRead || io.State == TSSLBase::TState::WantWrite) {
                if (!WaitFor(io.State == TSSLBase::TState::WantRead ? POLLIN : POLLOUT, SendTimeoutMs))
                    return false;
            } else {
                LastError = ECONNRESET;
                return false;
            }
            continue;
        }
        const ssize_t n = ::send(fd, data.constData() + sent, size_t(data.size() - sent), MSG_NOSIGNAL);
        if (n >= 0) {
            sent += n;
        } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
            if (!WaitFor(POLLOUT, SendTimeoutMs))
                return false;
        } else if (errno != EINTR) {
            LastError = errno;
            return false;
        }
    }
    return true;
}

bool TTCPBlockSocket::TakeLine(QByteArray &line)
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

QByteArray TTCPBlockSocket::RecvString(int timeoutMs, TClock::time_point deadline)
{
    LastError = 0;
    if (fd < 0) {
        LastError = ENOTCONN;
        return {};
    }
    char chunk[4096];
    while (true) {
        QByteArray line;
        if (TakeLine(line)) {
            if (line.size() > kMaxLineLength) {
                LastError = EMSGSIZE;
                return {};
            }
            return line;
        }
        if (buffer.size() > kMaxLineLength) {
            LastError = EMSGSIZE;
            return {};
        }
        if (!ssl->Active() || !ssl->Pending()) {
            long long wait = timeoutMs;
            if (deadline != TClock::time_point::max()) {
                const auto left
                    = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - TClock::now());
                wait = std::min<long long>(wait, left.count());
            }
            if (wait <= 0 && timeoutMs > 0) {
                LastError = ETIMEDOUT;
                return {};
            }
            if (!WaitFor(POLLIN, int(wait)))
                return {};
        }
        if (ssl->Active()) {
            const TSSLBase::TIo io = ssl->Recv(chunk, sizeof chunk);
            if (io.State == TSSLBase::TState::Done) {
                buffer.append(chunk, io.Bytes);
            } else if (io.State == TSSLBase::TState::WantWrite) {
                if (!WaitFor(POLLOUT, timeoutMs))
                    return {};
            } else if (io.State != TSSLBase::TState::WantRead) {
                LastError = ECONNRESET;
                return {};
            }
            continue;
        }
        const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
        if (n > 0) {
            buffer.append(chunk, n);
        } else if (n == 0) {
            LastError = ECONNRESET;
            return {};
        } else if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
            LastError = errno;
            return {};
        }
    }
}

bool TTCPBlockSocket::SSLDoConnect(int timeoutMs)
{
    // Anything the server sent before the handshake could be an injected reply: never read it.
    buffer.clear();
    skipNext = 0;
    if (fd < 0 || !ssl->Connect(fd, timeoutMs, cancel ? cancel->Fd() : -1)) {
        LastError = ECONNABORTED;
        return false;
    }
    return true;
}
