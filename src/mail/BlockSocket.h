#pragma once
#include <chrono>
#include <memory>
#include <QByteArray>
#include <QString>

// The TLS layer of a connection: OpenSSL when the program is built with it, otherwise the null layer.
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
    // Client handshake on the connected, non-blocking socket; every wait bounded by timeoutMs and ended
    // at once when cancelFd (if not -1) becomes readable.
    virtual bool Connect(int fd, int timeoutMs, int cancelFd) = 0;
    virtual void Shutdown() = 0;
    virtual bool Active() const = 0;
    virtual TIo Send(const char *data, qsizetype size) = 0;
    virtual TIo Recv(char *data, qsizetype size) = 0;
    virtual bool Pending() const = 0;
};

class TSSLNone : public TSSLBase
{
public:
    bool Connect(int, int, int) override { return false; }
    void Shutdown() override { }
    bool Active() const override { return false; }
    TIo Send(const char *, qsizetype) override { return {}; }
    TIo Recv(char *, qsizetype) override { return {}; }
    bool Pending() const override { return false; }
};

std::unique_ptr<TSSLBase> CreateDefaultSSL();

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

// A TCP client connection that reads lines, each wait for data bounded by a time-out.
class TTCPBlockSocket
{
public:
    // The platform's own connect would wait two minutes with the window frozen.
    static constexpr int kConnectTimeoutMs = 21000;
    static constexpr qsizetype kMaxLineLength = 8192;
    using TClock = std::chrono::steady_clock;

    explicit TTCPBlockSocket(std::unique_ptr<TSSLBase> ssl = CreateDefaultSSL());
    ~TTCPBlockSocket();
    TTCPBlockSocket(const TTCPBlockSocket &) = delete;
    TTCPBlockSocket &operator=(const TTCPBlockSocket &) = delete;

    void SetSSL(std::unique_ptr<TSSLBase> ssl);
    TSSLBase &SSL() { return *ssl; }
    // Every wait, the name look-up included, also ends when Cancel is triggered (LastError ECANCELED).
    void SetCancel(const TSocketCancel *Cancel) { cancel = Cancel; }

    bool Connect(const QString &host, const QString &port, int timeoutMs = kConnectTimeoutMs);
    // Takes over a descriptor that is already connected (a socket pair in tests and the fuzzer).
    void Attach(int descriptor);
    void CloseSocket();
    bool IsOpen() const { return fd >= 0; }

    // Sends everything; false on an error, which also sets LastError.
    bool SendString(const QByteArray &data);
    // One line without its line end (CR LF, LF CR, lone CR or lone LF). Each wait lasts at most
    // timeoutMs and none goes past the deadline; a failure returns an empty line and sets LastError.
    QByteArray RecvString(int timeoutMs, TClock::time_point deadline = TClock::time_point::max());
    // Throws away what is buffered (it arrived before the handshake) and starts TLS.
    bool SSLDoConnect(int timeoutMs);

    int LastError = 0;
    int SendTimeoutMs = 60000;

private:
    bool WaitFor(short events, int timeoutMs);
    bool TakeLine(QByteArray &line);
    bool Cancelled();

    int fd = -1;
    const TSocketCancel *cancel = nullptr;
    std::unique_ptr<TSSLBase> ssl;
    QByteArray buffer;
    char skipNext = 0; // the second half of a line-end pair split across reads
};
