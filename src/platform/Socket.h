#pragma once
#include <cstddef>
#include <cstdint>
#include <netinet/in.h>
#include <QByteArray>
#include <QString>
#include <string>
#include <sys/types.h>

// IPv4 address of a host: a dotted address as it is, otherwise the first IPv4 address the resolver
// gives. False when there is none; LocalFailure (when given) then tells whether the resolver lacked a
// local resource (no descriptor, no memory) rather than finding no address.
bool ResolveIPv4(const std::string &host, in_addr &address, bool *LocalFailure = nullptr);

// A blocking-style TCP client built on a non-blocking descriptor and poll, so that every wait is
// bounded and descriptors above 1023 work. No call raises SIGPIPE. Not shared between threads.
class TTcpSocket
{
public:
    TTcpSocket() = default;
    ~TTcpSocket() { Close(); }
    TTcpSocket(const TTcpSocket &) = delete;
    TTcpSocket &operator=(const TTcpSocket &) = delete;

    // limitMs 0: as long as the kernel's own connect lasts; negative counts as 0.
    bool Connect(const in_addr &address, uint16_t port, int limitMs);
    bool Connect(const std::string &host, uint16_t port, int limitMs);
    bool Connected() const { return fd >= 0; }

    // Writes every byte or fails; each wait for room is bounded by limitMs (negative: no limit).
    bool SendAll(const void *data, size_t size, int limitMs);
    bool SendAll(const QByteArray &data, int limitMs)
    {
        return SendAll(data.constData(), size_t(data.size()), limitMs);
    }

    // True when data (or the peer's close) can be read within limitMs.
    bool WaitReadable(int limitMs);
    // One receive without waiting: bytes read, 0 when the peer closed, -1 on error or no data.
    ssize_t ReceiveOnce(void *buffer, size_t size);
    // One line ending in LF (kept, with any CR), each wait bounded by limitMs. False on time-out,
    // error or a close before the end of the line; a line longer than maxLength also fails.
    bool ReadLine(QByteArray &line, int limitMs, qsizetype maxLength = 65536);

    void Close();
    int Handle() const { return fd; }
    // Bytes received by ReadLine beyond the last line (for a protocol switching to TLS).
    QByteArray TakePending();
    QString ErrorText() const { return error; }
    // The last failure was this machine's (no descriptor outside the reserve, no buffers, no local port),
    // not the remote system's.
    bool LocalFailure() const { return localFailure; }

private:
    bool Fail(const QString &text);
    bool FailErrno(const char *what, int err);

    int fd = -1;
    bool localFailure = false;
    QByteArray pending;
    QString error;
};
