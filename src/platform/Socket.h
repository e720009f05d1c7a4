#pragma once
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <netinet/in.h>
#include <QByteArray>
#include <QString>
#include <string>
#include <sys/socket.h>
#include <sys/types.h>

// IPv4 address of a host: a dotted address as it is, otherwise the first IPv4 address the resolver
// gives. False when there is none; LocalFailure (when given) then tells whether the resolver lacked a
// local resource (no descriptor, no memory) rather than finding no address.
bool ResolveIPv4(const std::string &host, in_addr &address, bool *LocalFailure = nullptr);

// Non-blocking steps for a caller that runs its own event loop (the check runner); TTcpSocket is built
// from the same steps.
// A non-blocking TCP socket of the family, closed on exec; -1 with errno.
int OpenTcpSocket(int family = AF_INET);
// Starts a connect: 0 when connected, EINPROGRESS while under way (an interrupted connect carries on in
// the background, so EINTR counts as under way), otherwise the error.
int StartConnect(int fd, const sockaddr *address, socklen_t length);
int StartConnect(int fd, const in_addr &address, uint16_t port);
// The outcome of a connect that was under way: 0 or the error.
int ConnectError(int fd);
// A connect under way is already complete (on loopback it mostly is when the call returns); asks the
// kernel without putting anything on the wire.
bool ConnectEstablished(int fd);
// send without SIGPIPE, retried when interrupted; -1 with errno.
ssize_t SendSome(int fd, const void *data, size_t size);
// recv, retried when interrupted; -1 with errno.
ssize_t ReceiveSome(int fd, void *buffer, size_t size);

// The TLS layer of a connection. Its calls never wait: they say what the socket must wait for, and
// TTcpSocket does the waiting (bounded, and ended by its cancel).
class TSSLBase
{
public:
    enum class TState
    {
        Done,
        WantRead,
        WantWrite,
        Closed,
        Failed
    };
    struct TIo
    {
        qsizetype Bytes = 0;
        TState State = TState::Failed;
    };

    virtual ~TSSLBase() = default;
    // Prepares a client handshake on the connected, non-blocking descriptor; false when it cannot start.
    virtual bool Begin(int fd) = 0;
    // One step of the handshake begun: Done once it is complete.
    virtual TState Handshake() = 0;
    virtual void Shutdown() = 0;
    virtual bool Active() const = 0;
    virtual TIo Send(const char *data, qsizetype size) = 0;
    virtual TIo Recv(char *data, qsizetype size) = 0;
    virtual bool Pending() const = 0;
};

// No TLS to be had.
class TSSLNone : public TSSLBase
{
public:
    bool Begin(int) override { return false; }
    TState Handshake() override { return TState::Failed; }
    void Shutdown() override { }
    bool Active() const override { return false; }
    TIo Send(const char *, qsizetype) override { return {}; }
    TIo Recv(char *, qsizetype) override { return {}; }
    bool Pending() const override { return false; }
};

// Ends every wait of the connections that watch it, at once and until Reset: a mail under way must not
// hold the program when it is told to end. Trigger may be called from any thread.
class TSocketCancel
{
public:
    TSocketCancel();
    ~TSocketCancel();
    TSocketCancel(const TSocketCancel &) = delete;
    TSocketCancel &operator=(const TSocketCancel &) = delete;

    void Trigger();
    void Reset();
    bool Triggered() const;
    // Readable while triggered.
    int Fd() const { return fd; }

private:
    int fd = -1;
};

// A blocking-style TCP client built on a non-blocking descriptor and poll, so that every wait is
// bounded and descriptors above 1023 work. No call raises SIGPIPE. A failure leaves its errno in
// LastError (ETIMEDOUT for a wait that ran out, ECANCELED when the cancel ended it). Not shared between
// threads.
class TTcpSocket
{
public:
    using TClock = std::chrono::steady_clock;
    static constexpr qsizetype kMaxLineLength = 8192;

    TTcpSocket() = default;
    ~TTcpSocket();
    TTcpSocket(const TTcpSocket &) = delete;
    TTcpSocket &operator=(const TTcpSocket &) = delete;

    // IPv4 only. limitMs 0 or negative: as long as the kernel's own connect lasts. Like any check, a
    // descriptor that would come from the reserve kept for the program's files is refused (EMFILE).
    bool Connect(const in_addr &address, uint16_t port, int limitMs);
    bool Connect(const std::string &host, uint16_t port, int limitMs);
    // Every address of the host, IPv4 first, each connect within what is left of limitMs (past it: no
    // wait at all). The name look-up too ends at the cancel.
    bool ConnectAny(const QString &host, const QString &port, int limitMs);
    // Takes over a descriptor that is already connected (a socket pair in tests and the fuzzer).
    void Attach(int descriptor);
    bool Connected() const { return fd >= 0; }
    int Handle() const { return fd; }
    void Close();

    // Every wait also ends when Cancel is triggered.
    void SetCancel(const TSocketCancel *Cancel) { cancel = Cancel; }
    // The layer StartTLS uses; without one the connection stays plain (and a plain connection makes no
    // call through a layer at all).
    void SetSSL(std::unique_ptr<TSSLBase> layer);
    bool TlsActive() const { return ssl && ssl->Active(); }
    // Throws away what is buffered (it arrived before the handshake: it could be an injected reply) and
    // runs the TLS handshake within limitMs in all. A failure is ECONNABORTED.
    bool StartTLS(int limitMs);

    // Writes every byte, through TLS when it is active; each wait for room bounded by limitMs (negative:
    // no limit).
    bool SendAll(const void *data, size_t size, int limitMs);
    bool SendAll(const QByteArray &data, int limitMs)
    {
        return SendAll(data.constData(), size_t(data.size()), limitMs);
    }

    // True when data (or the peer's close) can be read within limitMs (negative: no limit).
    bool WaitReadable(int limitMs);
    // One plain receive without waiting: bytes read, 0 when the peer closed, -1 on error or no data.
    ssize_t ReceiveOnce(void *buffer, size_t size);
    // One line without its line end (CR LF, LF CR, lone CR or lone LF). Each wait lasts at most limitMs
    // and none goes past the deadline; limitMs 0 or less takes only what has arrived. A line longer than
    // kMaxLineLength fails with EMSGSIZE, the peer's close with ECONNRESET.
    bool ReadLine(QByteArray &line, int limitMs, TClock::time_point deadline = TClock::time_point::max());

    int LastError = 0;
    // The system's text for LastError; empty when it is 0.
    QString ErrorText() const;
    // The last failure was this machine's (no descriptor outside the reserve, no buffers, no local port,
    // a resolver short of resources), not the remote system's.
    bool LocalFailure() const;

private:
    bool Fail(int err);
    bool Cancelled();
    // limitMs negative: no limit. Ends early at the cancel.
    bool Wait(short events, int limitMs);
    bool Open(const sockaddr *address, socklen_t length, int limitMs, bool keepReserve);
    bool TakeLine(QByteArray &line);

    int fd = -1;
    bool resolverShort = false;
    const TSocketCancel *cancel = nullptr;
    std::unique_ptr<TSSLBase> ssl;
    QByteArray buffer;
    char skipNext = 0; // the second half of a line-end pair split across reads
};
