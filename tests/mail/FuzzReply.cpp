// The SMTP reply reader fed through a packet socket, the input cut into reads of a length the input
// itself chooses: line ends split across reads, long and malformed lines, endless replies.
#include "mail/SMTPSend.h"
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

// One writer thread for the whole run: a thread per input would pile up in the sanitizer's registry.
class TWriter
{
public:
    TWriter()
    {
        std::thread([this] { Run(); }).detach();
    }
    void Start(int fd, const uint8_t *data, size_t size, size_t chunk)
    {
        std::lock_guard<std::mutex> g(lock);
        job = {fd, std::vector<uint8_t>(data, data + size), chunk, true, false};
        wake.notify_all();
    }
    void Wait()
    {
        std::unique_lock<std::mutex> g(lock);
        wake.wait(g, [this] { return job.done; });
    }

private:
    struct TJob
    {
        int fd = -1;
        std::vector<uint8_t> bytes;
        size_t chunk = 1;
        bool pending = false;
        bool done = true;
    };
    void Run()
    {
        while (true) {
            TJob current;
            {
                std::unique_lock<std::mutex> g(lock);
                wake.wait(g, [this] { return job.pending; });
                job.pending = false;
                current = job;
            }
            for (size_t at = 0; at < current.bytes.size(); at += current.chunk) {
                const size_t n = std::min(current.chunk, current.bytes.size() - at);
                if (::send(current.fd, current.bytes.data() + at, n, MSG_NOSIGNAL) != ssize_t(n))
                    break; // the reader gave up
            }
            ::shutdown(current.fd, SHUT_WR);
            std::lock_guard<std::mutex> g(lock);
            job.done = true;
            wake.notify_all();
        }
    }
    std::mutex lock;
    std::condition_variable wake;
    TJob job;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static TWriter *writer = new TWriter; // lives for the whole run
    if (size == 0)
        return 0;
    const size_t chunk = 1 + data[0] % 64;
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, fds) != 0)
        return 0;
    writer->Start(fds[1], data + 1, size - 1, chunk);
    {
        TSMTPSend smtp;
        smtp.Timeout = 5000;
        smtp.Sock().Attach(fds[0]);
        while (true) {
            const int code = smtp.ReadReply();
            if (code < 0 || code > 999 || smtp.FullResult.size() > TSMTPSend::kMaxReplyLines)
                std::abort();
            for (const QString &line : smtp.FullResult) // one byte makes at most one character
                if (line.size() > TTcpSocket::kMaxLineLength)
                    std::abort();
            if (code != 0 && smtp.FullResult.first().left(3) != QString::number(code).rightJustified(3, u'0'))
                std::abort();
            if (smtp.Sock().LastError != 0)
                break;
        }
        smtp.Sock().Close(); // unblocks a writer still sending
    }
    writer->Wait();
    ::close(fds[1]);
    return 0;
}
