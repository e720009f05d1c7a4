// The SMTP reply reader fed through a packet socket, the input cut into reads of a length the input
// itself chooses: line ends split across reads, long and malformed lines, endless replies.
#include "mail/SMTPSend.h"
#include <cstdint>
#include <cstdlib>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const size_t chunk = 1 + data[0] % 64;
    ++data;
    --size;
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, fds) != 0)
        return 0;
    std::thread writer([&] {
        for (size_t at = 0; at < size; at += chunk) {
            const size_t n = std::min(chunk, size - at);
            if (::send(fds[1], data + at, n, MSG_NOSIGNAL) != ssize_t(n))
                break; // the reader gave up
        }
        ::shutdown(fds[1], SHUT_WR);
    });
    {
        TSMTPSend smtp;
        smtp.Timeout = 5000;
        smtp.Sock().Attach(fds[0]);
        while (true) {
            const int code = smtp.ReadReply();
            if (code < 0 || code > 999 || smtp.FullResult.size() > TSMTPSend::kMaxReplyLines)
                std::abort();
            for (const QString &line : smtp.FullResult) // one byte makes at most one character
                if (line.size() > TTCPBlockSocket::kMaxLineLength)
                    std::abort();
            if (code != 0 && smtp.FullResult.first().left(3) != QString::number(code).rightJustified(3, u'0'))
                std::abort();
            if (smtp.Sock().LastError != 0)
                break;
        }
        smtp.Sock().CloseSocket(); // unblocks a writer still sending
    }
    writer.join();
    ::close(fds[1]);
    return 0;
}
