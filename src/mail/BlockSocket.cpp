#include "mail/BlockSocket.h"
#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
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

bool TTCPBlockSocket::WaitFor(short events, int timeoutMs)
{
    pollfd p{fd, events, 0};
    while (true) {
        const int r = ::poll(&p, 1, std::max(timeoutMs, 0));
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
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *found = nullptr;
    if (::getaddrinfo(host.toUtf8().constData(), port.toUtf8().constData(), &hints, &found) != 0 || !found) {
        LastError = EHOSTUNREACH;
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
    if (fd < 0 || !ssl->Connect(fd, timeoutMs)) {
        LastError = ECONNABORTED;
        return false;
    }
    return true;
}
