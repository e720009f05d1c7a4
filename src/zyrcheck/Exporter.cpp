#include "zyrcheck/Exporter.h"

#include "platform/FileLimit.h"
#include "zyrcheck/Exposition.h"
#include "zyrcheck/Plugin.h"
#include "zyrcheck/Targets.h"
#include "zyrcheck/ZyrCheck.h"

#include <httplib.h>

#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <condition_variable>
#include <csignal>
#include <cstring>
#include <deque>
#include <fstream>
#include <getopt.h>
#include <list>
#include <malloc.h>
#include <mutex>
#include <netinet/in.h>
#include <optional>
#include <poll.h>
#include <semaphore>
#include <sys/epoll.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <unordered_map>
#include <vector>

namespace {

using TClock = std::chrono::steady_clock;

// A request head larger than this is refused; ours are a line and a few headers.
constexpr size_t MaxHeadBytes = 8192;
// Time for reading the rest of a request once its head is in, and for each write of the answer.
constexpr auto ReadLimit = std::chrono::seconds(5);
constexpr int WriteLimitMs = 5000;
// An answered connection waits this long for its next request (a scraper reuses it at its next scrape).
constexpr auto KeepAlive = std::chrono::seconds(120);
// Without a scrape time-out from the client, a probe waits at most this long for a free slot.
constexpr auto DefaultDeadline = std::chrono::seconds(30);
// Descriptors kept for the probes beyond the connections: a socket and the device-list library's own
// connection per probe, and some for the program itself.
constexpr int DescriptorsPerProbe = 3;
constexpr int ProgramDescriptors = 32;

const char *const CannedTooLarge = "HTTP/1.1 431 Request Header Fields Too Large\r\nConnection: close\r\n"
                                   "Content-Length: 0\r\n\r\n";

// The moment the connection being served was accepted: the scrape's own clock starts about then.
thread_local TClock::time_point ServedSince;

// httplib parses and answers the request; the connection itself is ours. Reads are buffered (the line
// reader asks for single bytes) and bounded by one deadline, writes by a limit each.
class TSocketStream : public httplib::Stream
{
public:
    TSocketStream(int Fd, TClock::time_point ReadDeadline)
        : fd(Fd)
        , readDeadline(ReadDeadline)
    {
    }

    bool is_readable() const override { return position < filled || Wait(POLLIN, ReadRemainingMs()); }
    bool is_writable() const override { return Wait(POLLOUT, WriteLimitMs); }
    // The socket does not block: a call is tried first and waited for only when it would block.
    ssize_t read(char *ptr, size_t size) override
    {
        if (position == filled) {
            ssize_t n = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                if (!Wait(POLLIN, ReadRemainingMs()))
                    return -1;
                n = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
            }
            if (n <= 0)
                return n;
            position = 0;
            filled = size_t(n);
        }
        const size_t n = std::min(size, filled - position);
        memcpy(ptr, buffer + position, n);
        position += n;
        return ssize_t(n);
    }
    ssize_t write(const char *ptr, size_t size) override
    {
        size_t sent = 0;
        while (sent < size) {
            const ssize_t n = ::send(fd, ptr + sent, size - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                if (!Wait(POLLOUT, WriteLimitMs))
                    return -1;
                continue;
            }
            if (n <= 0)
                return -1;
            sent += size_t(n);
        }
        return ssize_t(size);
    }
    void get_remote_ip_and_port(std::string &ip, int &port) const override { Address(true, ip, port); }
    void get_local_ip_and_port(std::string &ip, int &port) const override { Address(false, ip, port); }
    socket_t socket() const override { return fd; }

private:
    int ReadRemainingMs() const
    {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(readDeadline - TClock::now());
        return left.count() > 0 ? int(left.count()) : 0;
    }
    bool Wait(short Events, int Ms) const
    {
        pollfd p{fd, Events, 0};
        return ::poll(&p, 1, Ms) > 0 && !(p.revents & POLLNVAL) && (p.revents & (Events | POLLHUP | POLLERR));
    }
    void Address(bool Remote, std::string &Ip, int &Port) const
    {
        sockaddr_in at{};
        socklen_t size = sizeof at;
        const int rc = Remote ? getpeername(fd, reinterpret_cast<sockaddr *>(&at), &size)
                              : getsockname(fd, reinterpret_cast<sockaddr *>(&at), &size);
        if (rc != 0 || at.sin_family != AF_INET)
            return;
        char text[INET_ADDRSTRLEN] = {};
        inet_ntop(AF_INET, &at.sin_addr, text, sizeof text);
        Ip = text;
        Port = ntohs(at.sin_port);
    }

    int fd;
    TClock::time_point readDeadline;
    char buffer[1024]; // request heads are a few hundred bytes
    size_t position = 0, filled = 0;

public:
    // Bytes read beyond the request: a pipelined one, which this connection cannot hand on.
    bool Leftover() const { return position < filled; }
};

class THttpFront : public httplib::Server
{
public:
    // One request on a connection whose head has arrived. True when the connection may wait for another.
    bool Serve(int Fd)
    {
        TSocketStream stream(Fd, TClock::now() + ReadLimit);
        bool closed = false;
        const bool answered = process_request(stream, false, closed, nullptr);
        return answered && !closed && !stream.Leftover();
    }
};

// Connections waiting, without a thread, for a whole request head: new ones for the idle time, ones that
// have been answered for the keep-alive time. Each list is in deadline order, its time-out being fixed.
// A connection not in the room is being served; whoever removes it from the room owns it.
class TWaitingRoom
{
public:
    TWaitingRoom(std::chrono::seconds Fresh, std::chrono::seconds Kept)
        : limits{Fresh, Kept}
    {
    }

    void Add(int Fd, bool Kept)
    {
        std::list<TEntry> &list = lists[Kept ? 1 : 0];
        list.push_back({Fd, TClock::now() + limits[Kept ? 1 : 0]});
        where[Fd] = {Kept ? 1 : 0, std::prev(list.end())};
    }
    bool Contains(int Fd) const { return where.count(Fd) != 0; }
    bool Remove(int Fd)
    {
        const auto it = where.find(Fd);
        if (it == where.end())
            return false;
        lists[it->second.first].erase(it->second.second);
        where.erase(it);
        return true;
    }
    // The connection to give way when all are taken: the oldest new one, else the oldest kept one.
    int Oldest() const
    {
        for (const std::list<TEntry> &list : lists)
            if (!list.empty())
                return list.front().Fd;
        return -1;
    }
    // Milliseconds until the next deadline, -1 for none.
    int WaitMs() const
    {
        std::optional<TClock::time_point> next;
        for (const std::list<TEntry> &list : lists)
            if (!list.empty() && (!next || list.front().Deadline < *next))
                next = list.front().Deadline;
        if (!next)
            return -1;
        const auto left
            = std::chrono::duration_cast<std::chrono::milliseconds>(*next - TClock::now()).count();
        return int(std::max<int64_t>(0, left + 1));
    }
    std::vector<int> Expired()
    {
        std::vector<int> expired;
        const TClock::time_point now = TClock::now();
        for (std::list<TEntry> &list : lists)
            for (auto it = list.begin(); it != list.end() && it->Deadline <= now; it = list.begin()) {
                expired.push_back(it->Fd);
                where.erase(it->Fd);
                list.pop_front();
            }
        return expired;
    }
    std::vector<int> All() const
    {
        std::vector<int> fds;
        for (const auto &[fd, place] : where)
            fds.push_back(fd);
        return fds;
    }

private:
    struct TEntry
    {
        int Fd;
        TClock::time_point Deadline;
    };
    std::chrono::seconds limits[2];
    std::list<TEntry> lists[2];
    std::unordered_map<int, std::pair<int, std::list<TEntry>::iterator>> where;
};

struct TCounters
{
    std::atomic<uint64_t> Probes{0};
    std::atomic<uint64_t> ProbesLate{0}; // no slot before the deadline
    std::atomic<int64_t> ProbesInFlight{0};
    std::atomic<uint64_t> Forbidden{0};
    std::atomic<uint64_t> BadRequests{0};
    std::atomic<uint64_t> Accepted{0};
    std::atomic<int64_t> Open{0};
    std::atomic<uint64_t> IdleClosed{0};
    std::atomic<uint64_t> Evicted{0};
    std::atomic<uint64_t> Oversize{0};
    std::atomic<uint64_t> Reloads{0};
    std::atomic<uint64_t> ReloadFailures{0};
    std::atomic<int> LastReloadOk{1};
};

class TExporter
{
public:
    explicit TExporter(const TExporterOptions &Options)
        : options(Options)
        , probeSlots(Options.MaxProbes)
        , waiting(std::chrono::seconds(Options.IdleSeconds), KeepAlive)
    {
    }
    int Run();

private:
    bool LoadTargets(std::string &Error);
    void Routes();
    void HandleProbe(const httplib::Request &Request, httplib::Response &Response);
    void HandleMetrics(httplib::Response &Response);
    TClock::time_point Deadline(const httplib::Request &Request) const;
    void Worker();
    void CloseConnection(int Fd);
    // Complete: a whole request head waits on the connection; Closed: the peer has gone.
    enum class THead
    {
        Partial,
        Complete,
        Closed,
        Oversize
    };
    THead LookAtHead(int Fd);
    bool Claim(int Fd);
    // On the admission thread.
    void Accept();
    void Readable(int Fd);
    bool Signals();

    const TExporterOptions options;
    THttpFront http;
    std::counting_semaphore<1 << 20> probeSlots;
    TCounters counters;
    std::mutex targetsMutex;
    std::shared_ptr<const TTargetList> targets = std::make_shared<TTargetList>();

    // Admission: the listener, the waiting connections, and the ones workers hand back after an answer.
    int listener = -1, epollFd = -1, signalFd = -1;
    int64_t maxOpen = 0;
    std::mutex roomMutex;
    TWaitingRoom waiting; // under roomMutex

    std::mutex queueMutex;
    std::condition_variable queueChanged;
    std::deque<std::pair<int, TClock::time_point>> ready; // head complete, with the time it was
    std::atomic<bool> stopping{false};
};

bool TExporter::LoadTargets(std::string &Error)
{
    if (options.TargetsFile.empty())
        return true;
    auto list = std::make_shared<TTargetList>();
    if (!list->Load(options.TargetsFile, Error))
        return false;
    std::lock_guard lock(targetsMutex);
    targets = std::move(list);
    return true;
}

TClock::time_point TExporter::Deadline(const httplib::Request &Request) const
{
    const std::string header = Request.get_header_value("X-Prometheus-Scrape-Timeout-Seconds");
    if (!header.empty()) {
        char *end = nullptr;
        const double seconds = strtod(header.c_str(), &end);
        if (end && *end == '\0' && std::isfinite(seconds) && seconds > 0 && seconds <= 3600) {
            // Answer a little before the scraper gives up, so a refusal still reaches it.
            const double usable = std::max(seconds - 0.25, seconds / 2);
            return ServedSince + std::chrono::microseconds(int64_t(usable * 1e6));
        }
    }
    return ServedSince + DefaultDeadline;
}

void TExporter::HandleProbe(const httplib::Request &Request, httplib::Response &Response)
{
    const size_t mark = Request.target.find('?');
    const std::string query = mark == std::string::npos ? std::string() : Request.target.substr(mark + 1);
    TProbeQuery probe;
    std::string error;
    if (!ParseProbeQuery(query, probe, error)) {
        ++counters.BadRequests;
        Response.status = 400;
        Response.set_content(error + "\n", "text/plain; charset=utf-8");
        return;
    }
    std::shared_ptr<const TTargetList> list;
    {
        std::lock_guard lock(targetsMutex);
        list = targets;
    }
    const TTarget *listed = list->Find(probe.Target, probe.Plus);
    if (!listed && !options.AllowAnyTarget) {
        ++counters.Forbidden;
        Response.status = 403;
        Response.set_content("target not listed\n", "text/plain; charset=utf-8");
        return;
    }
    const bool plus = probe.Plus ? *probe.Plus : listed ? listed->Plus : false;
    const int devices = probe.Devices ? *probe.Devices : listed ? listed->Devices : 0;
    if (!probeSlots.try_acquire_until(Deadline(Request))) {
        ++counters.ProbesLate;
        Response.status = 503;
        Response.set_content(
            "no probe could start before the scrape deadline\n", "text/plain; charset=utf-8");
        return;
    }
    ++counters.ProbesInFlight;
    TZyrResult result;
    try {
        result = ZyrCheck(QString::fromStdString(probe.Target), plus, devices, options.ProbeTimeOut);
    } catch (...) {
        --counters.ProbesInFlight;
        probeSlots.release();
        throw;
    }
    --counters.ProbesInFlight;
    probeSlots.release();
    ++counters.Probes;
    Response.set_content(ProbeMetrics(result), ExpositionContentType);
}

void TExporter::HandleMetrics(httplib::Response &Response)
{
    std::string out = ProcessMetrics();
    auto counter = [&](const char *name, const char *help, const std::string &labels, double value) {
        Family(out, name, "counter", help);
        Sample(out, name, labels, value);
    };
    auto gauge = [&](const char *name, const char *help, double value) {
        Family(out, name, "gauge", help);
        Sample(out, name, "", value);
    };
    counter("zyr_exporter_probes_total", "Probes run.", "", double(counters.Probes));
    counter("zyr_exporter_refused_total", "Requests answered without a probe, by reason.",
        "reason=\"forbidden\"", double(counters.Forbidden));
    counter("zyr_exporter_refused_total", "", "reason=\"bad_request\"", double(counters.BadRequests));
    counter("zyr_exporter_refused_total", "", "reason=\"deadline\"", double(counters.ProbesLate));
    counter("zyr_exporter_connections_total", "Connections accepted.", "", double(counters.Accepted));
    counter("zyr_exporter_connections_closed_unserved_total",
        "Connections closed before a request, by reason.", "reason=\"idle\"", double(counters.IdleClosed));
    counter(
        "zyr_exporter_connections_closed_unserved_total", "", "reason=\"evicted\"", double(counters.Evicted));
    counter("zyr_exporter_connections_closed_unserved_total", "", "reason=\"oversize\"",
        double(counters.Oversize));
    counter("zyr_exporter_target_reloads_total", "Reloads of the targets file, by result.",
        "result=\"success\"", double(counters.Reloads - counters.ReloadFailures));
    counter("zyr_exporter_target_reloads_total", "", "result=\"failure\"", double(counters.ReloadFailures));
    gauge("zyr_exporter_probes_in_flight", "Probes under way.", double(counters.ProbesInFlight));
    gauge("zyr_exporter_connections_open", "Open HTTP connections.", double(counters.Open));
    gauge("zyr_exporter_targets", "Targets listed in the targets file.", [&] {
        std::lock_guard lock(targetsMutex);
        return double(targets->Size());
    }());
    gauge("zyr_exporter_last_reload_success", "1 when the last load of the targets file succeeded.",
        double(counters.LastReloadOk));
    out += "# HELP zyr_exporter_build_info The exporter's version.\n# TYPE zyr_exporter_build_info gauge\n"
           "zyr_exporter_build_info{version=\"";
    out += std::to_string(ZYR_VERSION_MAJOR) + "." + std::to_string(ZYR_VERSION_MINOR) + "."
        + std::to_string(ZYR_VERSION_PATCH) + "." + std::to_string(ZYR_VERSION_TWEAK) + "\"} 1\n";
    Response.set_content(out, ExpositionContentType);
}

void TExporter::Routes()
{
    http.Get("/probe", [this](const httplib::Request &req, httplib::Response &res) {
        try {
            HandleProbe(req, res);
        } catch (...) {
            res.status = 500;
            res.set_content("internal error\n", "text/plain; charset=utf-8");
        }
    });
    http.Get("/metrics", [this](const httplib::Request &, httplib::Response &res) {
        try {
            HandleMetrics(res);
        } catch (...) {
            res.status = 500;
        }
    });
    http.Get("/", [](const httplib::Request &, httplib::Response &res) {
        res.set_content("<html><head><title>zyrcheck</title></head><body><h1>zyrcheck exporter</h1>"
                        "<p><a href=\"/metrics\">/metrics</a> (the exporter's own)</p>"
                        "<p>/probe?target=ADDRESS[:PORT]&amp;plus=0|1&amp;devices=N</p></body></html>\n",
            "text/html; charset=utf-8");
    });
    http.set_payload_max_length(4096);
    // What the Keep-Alive header announces; the waiting room enforces the time, and sets no count.
    http.set_keep_alive_timeout(KeepAlive.count());
    http.set_keep_alive_max_count(1000000);
}

void TExporter::CloseConnection(int Fd)
{
    ::shutdown(Fd, SHUT_RDWR);
    ::close(Fd);
    --counters.Open;
}

void TExporter::Worker()
{
    for (;;) {
        int fd = -1;
        {
            std::unique_lock lock(queueMutex);
            queueChanged.wait(lock, [&] { return stopping || !ready.empty(); });
            if (ready.empty())
                return;
            fd = ready.front().first;
            ServedSince = ready.front().second;
            ready.pop_front();
        }
        for (;;) {
            bool keep = false;
            try {
                keep = http.Serve(fd);
            } catch (...) {
            }
            keep = keep && !stopping;
            if (!keep) {
                CloseConnection(fd);
                break;
            }
            {
                std::lock_guard lock(roomMutex);
                waiting.Add(fd, true);
            }
            // A request that came while this one was answered raised no new event: look once here.
            const THead head = LookAtHead(fd);
            if (head == THead::Partial || !Claim(fd))
                break; // the admission loop watches it from now on
            if (head != THead::Complete) {
                CloseConnection(fd);
                break;
            }
            ServedSince = TClock::now();
        }
    }
}

// Debian's HTTP library initialises OpenSSL when it is loaded (error strings, configuration, providers),
// which leaves megabytes of libcrypto resident that an exporter without TLS never touches again; the
// toolkit's Unicode and GLib libraries and the OpenMP runtime are loaded with it and stay as unused. Their
// pages are dropped from this process: only read-only mappings holding no page of our own (no relocated
// data), so anything that needs them again reads the same bytes back from the file.
void ReleaseStartupPages()
{
    struct TMapping
    {
        unsigned long Start = 0, End = 0;
        bool Candidate = false;
        long AnonymousKb = -1;
    };
    std::vector<TMapping> mappings;
    std::ifstream smaps("/proc/self/smaps");
    for (std::string line; std::getline(smaps, line);) {
        unsigned long start = 0, end = 0;
        char perms[5] = {};
        if (line.find(':') > line.find(' ')
            && sscanf(line.c_str(), "%lx-%lx %4s", &start, &end, perms) == 3) {
            const bool readOnly = strcmp(perms, "r-xp") == 0 || strcmp(perms, "r--p") == 0;
            bool unused = false;
            for (const char *name :
                {"/libcrypto.so", "/libssl.so", "/libicu", "/libglib-2.0.so", "/libgomp.so"})
                unused = unused || line.find(name) != std::string::npos;
            mappings.push_back({start, end, readOnly && unused, -1});
        } else if (line.rfind("Anonymous:", 0) == 0 && !mappings.empty()) {
            mappings.back().AnonymousKb = std::stol(line.substr(10));
        }
    }
    for (const TMapping &m : mappings)
        if (m.Candidate && m.AnonymousKb == 0)
            madvise(reinterpret_cast<void *>(m.Start), m.End - m.Start, MADV_DONTNEED);
}

int OpenListener(const std::string &Host, int Port, int &BoundPort, std::string &Error)
{
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_port = htons(uint16_t(Port));
    if (inet_pton(AF_INET, Host.c_str(), &at.sin_addr) != 1) {
        Error = "listen address must be a dotted IPv4 address: " + Host;
        return -1;
    }
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    const int yes = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr *>(&at), sizeof at) != 0 || listen(fd, 1024) != 0) {
        Error = "cannot listen on " + Host + ":" + std::to_string(Port) + ": " + strerror(errno);
        if (fd >= 0)
            close(fd);
        return -1;
    }
    socklen_t size = sizeof at;
    getsockname(fd, reinterpret_cast<sockaddr *>(&at), &size);
    BoundPort = ntohs(at.sin_port);
    return fd;
}

TExporter::THead TExporter::LookAtHead(int Fd)
{
    // Heads are a few hundred bytes: a small look first, the whole allowance only when that is full.
    char small[1024];
    std::unique_ptr<char[]> large;
    char *head = small;
    size_t room = sizeof small;
    for (;;) {
        const ssize_t got = ::recv(Fd, head, room, MSG_PEEK | MSG_DONTWAIT);
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return THead::Partial;
        if (got <= 0)
            return THead::Closed;
        if (memmem(head, size_t(got), "\r\n\r\n", 4) || memmem(head, size_t(got), "\n\n", 2))
            return THead::Complete;
        if (size_t(got) > MaxHeadBytes)
            return THead::Oversize;
        if (size_t(got) < room || large)
            return THead::Partial;
        large = std::make_unique<char[]>(MaxHeadBytes + 1);
        head = large.get();
        room = MaxHeadBytes + 1;
    }
}

// Takes a connection out of the waiting room; false when another thread took it first.
bool TExporter::Claim(int Fd)
{
    std::lock_guard lock(roomMutex);
    return waiting.Remove(Fd);
}

void TExporter::Accept()
{
    for (;;) {
        const int client = accept4(listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (client < 0)
            return;
        ++counters.Accepted;
        if (counters.Open >= maxOpen) {
            // The longest-waiting connection without a request gives way; with none, the new one does.
            int oldest = -1;
            {
                std::lock_guard lock(roomMutex);
                oldest = waiting.Oldest();
                waiting.Remove(oldest);
            }
            if (oldest < 0) {
                ::close(client);
                continue;
            }
            CloseConnection(oldest);
            ++counters.Evicted;
        }
        ++counters.Open;
        {
            std::lock_guard lock(roomMutex);
            waiting.Add(client, false);
        }
        // Watched for its whole life: an edge for every arrival of data; data already there is reported at
        // once.
        epoll_event e{};
        e.events = EPOLLIN | EPOLLRDHUP | EPOLLET;
        e.data.fd = client;
        epoll_ctl(epollFd, EPOLL_CTL_ADD, client, &e);
    }
}

void TExporter::Readable(int Fd)
{
    {
        std::lock_guard lock(roomMutex);
        if (!waiting.Contains(Fd))
            return; // being served; its worker looks at the connection itself when it is done
    }
    const THead head = LookAtHead(Fd);
    if (head == THead::Partial || !Claim(Fd))
        return;
    if (head == THead::Complete) {
        {
            std::lock_guard lock(queueMutex);
            ready.emplace_back(Fd, TClock::now());
        }
        queueChanged.notify_one();
        return;
    }
    if (head == THead::Oversize) {
        ++counters.Oversize;
        (void)!::send(Fd, CannedTooLarge, strlen(CannedTooLarge), MSG_NOSIGNAL | MSG_DONTWAIT);
        // What the client sent is read away first: closing over unread bytes would reset the connection
        // and could take the answer with it.
        ::shutdown(Fd, SHUT_WR);
        char discard[4096];
        for (int i = 0; i < 16 && ::recv(Fd, discard, sizeof discard, MSG_DONTWAIT) > 0; ++i) { }
    }
    CloseConnection(Fd);
}

// False when the exporter is to stop.
bool TExporter::Signals()
{
    bool running = true;
    signalfd_siginfo info{};
    while (::read(signalFd, &info, sizeof info) == ssize_t(sizeof info)) {
        if (info.ssi_signo != SIGHUP) {
            running = false;
            continue;
        }
        ++counters.Reloads;
        std::string why;
        if (LoadTargets(why)) {
            counters.LastReloadOk = 1;
        } else {
            ++counters.ReloadFailures;
            counters.LastReloadOk = 0;
            fprintf(stderr, "zyrcheck: reload failed, keeping the previous targets: %s\n", why.c_str());
        }
    }
    return running;
}

int TExporter::Run()
{
    // Every thread inherits the blocked signals; they arrive through the descriptor below.
    sigset_t blocked;
    sigemptyset(&blocked);
    for (const int s : {SIGHUP, SIGINT, SIGTERM, SIGPIPE})
        sigaddset(&blocked, s);
    pthread_sigmask(SIG_BLOCK, &blocked, nullptr);
    sigdelset(&blocked, SIGPIPE);
    signalFd = signalfd(-1, &blocked, SFD_NONBLOCK | SFD_CLOEXEC);

    // Few arenas: the workers' allocations are small and short-lived, and every arena costs resident memory.
    mallopt(M_ARENA_MAX, 2);
    RaiseOpenFileLimit();
    rlimit limit{};
    getrlimit(RLIMIT_NOFILE, &limit);
    const int64_t room = int64_t(limit.rlim_cur == RLIM_INFINITY ? 1 << 20 : limit.rlim_cur)
        - DescriptorReserve - ProgramDescriptors - int64_t(options.MaxProbes) * DescriptorsPerProbe;
    maxOpen = std::max<int64_t>(8, std::min<int64_t>(options.MaxConnections, room));

    std::string error;
    if (!LoadTargets(error)) {
        fprintf(stderr, "zyrcheck: %s\n", error.c_str());
        return 1;
    }
    int port = 0;
    listener = OpenListener(options.ListenHost, options.ListenPort, port, error);
    if (listener < 0) {
        fprintf(stderr, "zyrcheck: %s\n", error.c_str());
        return 1;
    }
    Routes();
    ReleaseStartupPages();
    printf("zyrcheck: listening on %s:%d\n", options.ListenHost.c_str(), port);
    fflush(stdout);

    epollFd = epoll_create1(EPOLL_CLOEXEC);
    for (const int fd : {listener, signalFd}) {
        epoll_event e{};
        e.events = EPOLLIN;
        e.data.fd = fd;
        epoll_ctl(epollFd, EPOLL_CTL_ADD, fd, &e);
    }
    std::vector<std::thread> workers;
    // A worker per probe slot and a few for the answers that need none (refusals, /metrics).
    for (int i = 0; i < options.MaxProbes + 4; ++i)
        workers.emplace_back([this] { Worker(); });

    for (bool running = true; running;) {
        epoll_event events[256];
        int waitMs = -1;
        {
            std::lock_guard lock(roomMutex);
            waitMs = waiting.WaitMs();
        }
        // Workers put answered connections back with later deadlines; look at the room at least each second.
        waitMs = waitMs < 0 ? 1000 : std::min(waitMs, 1000);
        const int n = epoll_wait(epollFd, events, 256, waitMs);
        for (int i = 0; i < n; ++i) {
            const int fd = events[i].data.fd;
            if (fd == signalFd)
                running = Signals() && running;
            else if (fd == listener)
                Accept();
            else
                Readable(fd);
        }
        std::vector<int> expired;
        {
            std::lock_guard lock(roomMutex);
            expired = waiting.Expired();
        }
        for (const int fd : expired) {
            CloseConnection(fd);
            ++counters.IdleClosed;
        }
    }

    ::close(listener);
    {
        std::lock_guard lock(queueMutex);
        stopping = true;
    }
    queueChanged.notify_all();
    for (std::thread &t : workers)
        t.join();
    for (const int fd : waiting.All())
        CloseConnection(fd);
    for (const int fd : {epollFd, signalFd})
        ::close(fd);
    return 0;
}

} // namespace

std::string ExporterHelp()
{
    return VersionText()
        + "\n"
          "Prometheus exporter for recording systems: each /probe request runs one check, exactly as the\n"
          "ZYRdenetleyici console does, and answers in the Prometheus text format.\n\n"
          "Usage: zyrcheck --listen [ADDRESS]:PORT (--targets FILE | --allow-any-target) [--max-probes N]\n"
          "                [--probe-timeout MS] [--max-connections N] [--idle-timeout SECONDS]\n\n"
          " --listen=[ADDRESS]:PORT\n"
          "    Where to serve HTTP; the address defaults to 127.0.0.1. Port 0 takes any free port.\n"
          " --targets=FILE\n"
          "    The systems that may be probed, one a line: ADDRESS[:PORT] [plus] [devices=N]; '#' starts a\n"
          "    comment. Reloaded on SIGHUP (a faulty file keeps the previous list). A request for any other\n"
          "    target is answered 403 and no connection is made.\n"
          " --allow-any-target\n"
          "    Probe whatever target a request names. Only where no one untrusted can reach the exporter.\n"
          " --max-probes=N\n"
          "    Probes under way at once (default 32); further requests wait for a slot until their "
          "deadline.\n"
          " --probe-timeout=MS\n"
          "    The console's TimeOut for every probe (default 5000). A scraper's\n"
          "    X-Prometheus-Scrape-Timeout-Seconds only sets the deadline for waiting for a slot.\n"
          " --max-connections=N\n"
          "    Open HTTP connections (default 4096, and never more than the descriptor limit allows); when\n"
          "    full, the oldest connection that has not sent its request gives way.\n"
          " --idle-timeout=SECONDS\n"
          "    Time a connection has to send its whole request head (default 10).\n\n"
          "Endpoints: /probe?target=ADDRESS[:PORT]&plus=0|1&devices=N (plus and devices default to the\n"
          "targets file's line), /metrics (the exporter's own process metrics).\n";
}

bool ParseExporterOptions(int argc, char **argv, TExporterOptions &Options, std::string &Error, bool &Help)
{
    enum
    {
        OptListen = 256,
        OptTargets,
        OptAllowAny,
        OptMaxProbes,
        OptProbeTimeout,
        OptMaxConnections,
        OptIdle
    };
    static const option options[] = {
        {"help", no_argument, nullptr, 'h'},
        {"listen", required_argument, nullptr, OptListen},
        {"targets", required_argument, nullptr, OptTargets},
        {"allow-any-target", no_argument, nullptr, OptAllowAny},
        {"max-probes", required_argument, nullptr, OptMaxProbes},
        {"probe-timeout", required_argument, nullptr, OptProbeTimeout},
        {"max-connections", required_argument, nullptr, OptMaxConnections},
        {"idle-timeout", required_argument, nullptr, OptIdle},
        {nullptr, 0, nullptr, 0},
    };
    Help = false;
    opterr = 0;
    optind = 1;
    int c;
    long v = 0;
    while ((c = getopt_long(argc, argv, ":h", options, nullptr)) != -1) {
        switch (c) {
        case 'h':
            Help = true;
            break;
        case OptListen: {
            const std::string text = optarg;
            const size_t colon = text.rfind(':');
            const std::string host = colon == std::string::npos ? std::string() : text.substr(0, colon);
            const std::string portText = colon == std::string::npos ? text : text.substr(colon + 1);
            in_addr ignored{};
            if (!ReadWholeNumber(portText, 0, 65535, v)
                || (!host.empty() && inet_pton(AF_INET, host.c_str(), &ignored) != 1)) {
                Error = "--listen needs [ADDRESS]:PORT with a dotted IPv4 address";
                return false;
            }
            Options.ListenHost = host.empty() ? "127.0.0.1" : host;
            Options.ListenPort = int(v);
            break;
        }
        case OptTargets:
            Options.TargetsFile = optarg;
            break;
        case OptAllowAny:
            Options.AllowAnyTarget = true;
            break;
        case OptMaxProbes:
            if (!ReadWholeNumber(optarg, 1, 4096, v)) {
                Error = "--max-probes needs a number from 1 to 4096";
                return false;
            }
            Options.MaxProbes = int(v);
            break;
        case OptProbeTimeout:
            if (!ReadWholeNumber(optarg, 0, 3600000, v)) {
                Error = "--probe-timeout needs milliseconds from 0 to 3600000";
                return false;
            }
            Options.ProbeTimeOut = int32_t(v);
            break;
        case OptMaxConnections:
            if (!ReadWholeNumber(optarg, 8, 1000000, v)) {
                Error = "--max-connections needs a number from 8 to 1000000";
                return false;
            }
            Options.MaxConnections = int(v);
            break;
        case OptIdle:
            if (!ReadWholeNumber(optarg, 1, 3600, v)) {
                Error = "--idle-timeout needs seconds from 1 to 3600";
                return false;
            }
            Options.IdleSeconds = int(v);
            break;
        case ':':
            Error = std::string("option ") + argv[optind - 1] + " needs a value";
            return false;
        default:
            Error = std::string("unknown option ") + argv[optind - 1];
            return false;
        }
    }
    if (Help)
        return true;
    if (optind < argc) {
        Error = std::string("unexpected argument '") + argv[optind] + "'";
        return false;
    }
    if (Options.TargetsFile.empty() && !Options.AllowAnyTarget) {
        Error = "give --targets FILE, or --allow-any-target to probe any target";
        return false;
    }
    return true;
}

int RunExporter(const TExporterOptions &Options)
{
    TExporter exporter(Options);
    return exporter.Run();
}
