#include "zyrcheck/Exporter.h"

#include "platform/FileLimit.h"
#include "zyrcheck/Exposition.h"
#include "zyrcheck/Plugin.h"
#include "zyrcheck/RequestHead.h"
#include "zyrcheck/Targets.h"
#include "zyrcheck/ZyrCheck.h"

#include <httplib.h>

#include <algorithm>
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
// Each connection's send buffer (the kernel doubles it): many answers, and a large probe answer's bulk.
constexpr int SendBufferBytes = 64 * 1024;
// Time for writing a probe's answer, which can be large, to a client that reads slowly.
constexpr auto ProbeWriteLimit = std::chrono::seconds(10);
// An answered connection waits this long for its next request (a scraper reuses it at its next scrape).
constexpr auto KeepAlive = std::chrono::seconds(120);
// A probe waits at most this long for a free slot; a scraper's time-out can only shorten it.
constexpr double DefaultDeadlineSeconds = 30;
// A complete request no worker has taken within this time is answered 503 and closed.
constexpr auto ReadyLimit = std::chrono::seconds(2);
// Workers for the answers that need no probe (refusals, /metrics, /); they never wait for a slot.
constexpr int QuickWorkers = 4;
// Probe workers beyond the slots wait for a slot, so a request can wait its deadline there; a few dozen
// at most, since each is a thread.
int SlotWaiters(int MaxProbes)
{
    return std::clamp(MaxProbes, 4, 64);
}
// Descriptors kept for the probes beyond the connections: a socket and the device-list library's own
// connection per probe, and some for the program itself.
constexpr int DescriptorsPerProbe = 3;
constexpr int ProgramDescriptors = 32;

// Requests answered without a probe, each reason counted apart. The names are the label values.
enum TRefusal
{
    RefusedForbidden,
    RefusedBadRequest,
    RefusedDeadline,
    RefusedMethod,
    RefusedBody,
    RefusedTransferEncoding,
    RefusedMalformed,
    RefusedNotFound,
    RefusedNoWorker,
    RefusalKinds
};
const char *const RefusalNames[RefusalKinds] = {"forbidden", "bad_request", "deadline", "method_not_allowed",
    "body", "transfer_encoding", "malformed", "not_found", "no_worker"};

// An answer that closes the connection, written at once without the HTTP library. A refused HEAD gets the
// head alone.
std::string Canned(const char *Status, const char *Headers, const char *Body, bool Head = false)
{
    std::string text = std::string("HTTP/1.1 ") + Status + "\r\n" + Headers
        + "Connection: close\r\nContent-Type: text/plain; charset=utf-8\r\nContent-Length: "
        + std::to_string(strlen(Body)) + "\r\n\r\n";
    return Head ? text : text + Body;
}

const char *const CannedTooLarge = "HTTP/1.1 431 Request Header Fields Too Large\r\nConnection: close\r\n"
                                   "Content-Length: 0\r\n\r\n";

// The moment the connection being served had its request complete: the scrape's own clock starts about
// then.
thread_local TClock::time_point ServedSince;
// Set in the probe workers: only they may wait for a slot.
thread_local bool MayProbe = false;

// httplib parses and answers the request; the connection itself is ours. The request it reads is the head
// the exporter has already taken from the socket and cut down, so it never waits to read; the whole answer
// is written by one deadline.
class TSocketStream : public httplib::Stream
{
public:
    TSocketStream(int Fd, const std::string &Request, TClock::time_point WriteDeadline)
        : fd(Fd)
        , request(Request)
        , writeDeadline(WriteDeadline)
    {
    }

    bool is_readable() const override { return position < request.size(); }
    bool is_writable() const override { return Wait(POLLOUT, WriteRemainingMs()); }
    ssize_t read(char *ptr, size_t size) override
    {
        const size_t n = std::min(size, request.size() - position);
        memcpy(ptr, request.data() + position, n);
        position += n;
        return ssize_t(n);
    }
    // The socket does not block: a write is tried first and waited for only when it would block.
    ssize_t write(const char *ptr, size_t size) override
    {
        size_t sent = 0;
        while (sent < size) {
            const ssize_t n = ::send(fd, ptr + sent, size - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                if (!Wait(POLLOUT, WriteRemainingMs()))
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
    int WriteRemainingMs() const
    {
        const auto left
            = std::chrono::duration_cast<std::chrono::milliseconds>(writeDeadline - TClock::now());
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
    const std::string &request;
    size_t position = 0;
    TClock::time_point writeDeadline;
};

class THttpFront : public httplib::Server
{
public:
    // One request, its head already read and cut down. True when the connection may wait for another.
    bool Serve(int Fd, const std::string &Request, TClock::time_point WriteDeadline)
    {
        TSocketStream stream(Fd, Request, WriteDeadline);
        bool closed = false;
        const bool answered = process_request(stream, false, closed, nullptr);
        return answered && !closed;
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
    // The next deadline, if any.
    std::optional<TClock::time_point> Next() const
    {
        std::optional<TClock::time_point> next;
        for (const std::list<TEntry> &list : lists)
            if (!list.empty() && (!next || list.front().Deadline < *next))
                next = list.front().Deadline;
        return next;
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

// The probe slots. A freed slot goes straight to the longest waiter, which has its own condition variable:
// no waiter sleeps while a slot is free, and none is overtaken by a later request.
class TProbeSlots
{
public:
    explicit TProbeSlots(int Count)
        : free(Count)
    {
    }
    // False when no slot came free before Deadline, or the exporter stops.
    bool Acquire(TClock::time_point Deadline)
    {
        std::unique_lock lock(mutex);
        if (free > 0 && waiters.empty()) {
            --free;
            return true;
        }
        if (stopped)
            return false;
        TWaiter me;
        const auto place = waiters.insert(waiters.end(), &me);
        if (me.Wake.wait_until(lock, Deadline, [&] { return me.Granted || stopped; }) && me.Granted)
            return true;
        waiters.erase(place);
        return false;
    }
    void Release()
    {
        std::lock_guard lock(mutex);
        if (waiters.empty()) {
            ++free;
            return;
        }
        TWaiter *next = waiters.front();
        waiters.pop_front();
        next->Granted = true;
        // Under the lock: the waiter cannot leave, taking its variable with it, before this returns.
        next->Wake.notify_one();
    }
    void Stop()
    {
        std::lock_guard lock(mutex);
        stopped = true;
        for (TWaiter *w : waiters)
            w->Wake.notify_one();
    }

private:
    struct TWaiter
    {
        std::condition_variable Wake;
        bool Granted = false;
    };
    std::mutex mutex;
    int free;
    bool stopped = false;
    std::list<TWaiter *> waiters; // in order of arrival
};

struct TCounters
{
    std::atomic<uint64_t> Probes{0};
    std::atomic<int64_t> ProbesInFlight{0};
    std::atomic<uint64_t> Refused[RefusalKinds]{};
    std::atomic<uint64_t> Accepted{0};
    std::atomic<int64_t> Open{0};
    std::atomic<uint64_t> IdleClosed{0};
    std::atomic<uint64_t> Evicted{0};
    std::atomic<uint64_t> Oversize{0};
    // Each only ever grows: a scrape between two updates can read one of them late, never a wrong sum.
    std::atomic<uint64_t> ReloadsDone{0};
    std::atomic<uint64_t> ReloadsFailed{0};
    std::atomic<int> LastReloadOk{1};
};

// Connections whose request is complete, in the order they became so, for one kind of worker.
struct TReadyQueue
{
    struct TItem
    {
        int Fd;
        size_t HeadBytes;
        bool HeadOnly; // a HEAD request
        TClock::time_point Since;
    };
    std::deque<TItem> Items; // under the exporter's queueMutex
    std::condition_variable Changed;
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
    std::shared_ptr<const TTargetList> Targets();
    void Routes();
    void HandleProbe(const httplib::Request &Request, httplib::Response &Response);
    void HandleMetrics(httplib::Response &Response);
    TClock::time_point Deadline(const httplib::Request &Request) const;
    void Worker(TReadyQueue &Queue);
    void CloseConnection(int Fd);
    void Refuse(int Fd, const std::string &Answer);
    // Complete: a whole request head waits on the connection; Closed: the peer has gone.
    enum class THead
    {
        Partial,
        Complete,
        Closed,
        Oversize
    };
    THead LookAtHead(int Fd, std::string &Head);
    bool Claim(int Fd);
    void Dispatch(int Fd, THead Kind, const std::string &Head);
    // On the admission thread.
    void Accept();
    void Readable(int Fd);
    bool Signals();
    std::optional<TClock::time_point> NextReadyLimit();
    void RefuseLate();

    const TExporterOptions options;
    THttpFront http;
    TProbeSlots probeSlots;
    TCounters counters;
    std::mutex targetsMutex;
    std::shared_ptr<const TTargetList> targets = std::make_shared<TTargetList>();

    // Admission: the listener, the waiting connections, and the ones workers hand back after an answer.
    int listener = -1, epollFd = -1, signalFd = -1;
    int64_t maxOpen = 0;
    std::mutex roomMutex;
    TWaitingRoom waiting; // under roomMutex

    std::mutex queueMutex;
    TReadyQueue quick, probes; // quick: everything but a probe of a target that may be probed
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

std::shared_ptr<const TTargetList> TExporter::Targets()
{
    std::lock_guard lock(targetsMutex);
    return targets;
}

TClock::time_point TExporter::Deadline(const httplib::Request &Request) const
{
    double seconds = DefaultDeadlineSeconds;
    const std::string header = Request.get_header_value("X-Prometheus-Scrape-Timeout-Seconds");
    if (!header.empty()) {
        char *end = nullptr;
        const double scrape = strtod(header.c_str(), &end);
        if (end && *end == '\0' && std::isfinite(scrape) && scrape > 0)
            // Answer a little before the scraper gives up, so a refusal still reaches it.
            seconds = std::min(seconds, std::max(scrape - 0.25, scrape / 2));
    }
    return ServedSince + std::chrono::microseconds(int64_t(seconds * 1e6));
}

void TExporter::HandleProbe(const httplib::Request &Request, httplib::Response &Response)
{
    const size_t mark = Request.target.find('?');
    const std::string query = mark == std::string::npos ? std::string() : Request.target.substr(mark + 1);
    TProbeQuery probe;
    std::string error;
    if (!ParseProbeQuery(query, probe, error)) {
        ++counters.Refused[RefusedBadRequest];
        Response.status = 400;
        Response.set_content(error + "\n", "text/plain; charset=utf-8");
        return;
    }
    const std::shared_ptr<const TTargetList> list = Targets();
    const TTarget *listed = list->Find(probe.Target, probe.Plus);
    if (!listed && !options.AllowAnyTarget) {
        ++counters.Refused[RefusedForbidden];
        Response.status = 403;
        Response.set_content("target not listed\n", "text/plain; charset=utf-8");
        return;
    }
    if (!MayProbe) {
        // Sent to a quick worker as not to be probed (the targets were reloaded since, or the path was
        // written in escapes); it must not wait for a slot.
        ++counters.Refused[RefusedNoWorker];
        Response.status = 503;
        Response.set_content("no probe worker took the request\n", "text/plain; charset=utf-8");
        return;
    }
    const bool plus = probe.Plus ? *probe.Plus : listed ? listed->Plus : false;
    const int devices = probe.Devices ? *probe.Devices : listed ? listed->Devices : 0;
    if (!probeSlots.Acquire(Deadline(Request))) {
        ++counters.Refused[RefusedDeadline];
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
        probeSlots.Release();
        throw;
    }
    --counters.ProbesInFlight;
    probeSlots.Release();
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
    for (int r = 0; r < RefusalKinds; ++r)
        counter("zyr_exporter_refused_total", r == 0 ? "Requests answered without a probe, by reason." : "",
            std::string("reason=\"") + RefusalNames[r] + "\"", double(counters.Refused[r]));
    counter("zyr_exporter_connections_total", "Connections accepted.", "", double(counters.Accepted));
    counter("zyr_exporter_connections_closed_unserved_total",
        "Connections closed before a request, by reason.", "reason=\"idle\"", double(counters.IdleClosed));
    counter(
        "zyr_exporter_connections_closed_unserved_total", "", "reason=\"evicted\"", double(counters.Evicted));
    counter("zyr_exporter_connections_closed_unserved_total", "", "reason=\"oversize\"",
        double(counters.Oversize));
    counter("zyr_exporter_target_reloads_total", "Reloads of the targets file, by result.",
        "result=\"success\"", double(counters.ReloadsDone));
    counter("zyr_exporter_target_reloads_total", "", "result=\"failure\"", double(counters.ReloadsFailed));
    gauge("zyr_exporter_probes_in_flight", "Probes under way.", double(counters.ProbesInFlight));
    gauge("zyr_exporter_connections_open", "Open HTTP connections.", double(counters.Open));
    gauge("zyr_exporter_targets", "Targets listed in the targets file.", double(Targets()->Size()));
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
    // The library's own answer to a path it has no route for.
    http.set_error_handler(
        httplib::Server::HandlerWithResponse([this](const httplib::Request &, httplib::Response &res) {
            if (res.status == 404)
                ++counters.Refused[RefusedNotFound];
            return httplib::Server::HandlerResponse::Unhandled;
        }));
    // Range is dropped with the head (an answer is never larger than its body); none is offered.
    http.set_default_headers({{"Accept-Ranges", "none"}});
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

// A refusal fits the empty send buffer of a connection that has had no answer yet, so it never waits.
void TExporter::Refuse(int Fd, const std::string &Answer)
{
    (void)!::send(Fd, Answer.data(), Answer.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    // What the client sent is read away first: closing over unread bytes would reset the connection and
    // could take the answer with it.
    ::shutdown(Fd, SHUT_WR);
    char discard[4096];
    for (int i = 0; i < 16 && ::recv(Fd, discard, sizeof discard, MSG_DONTWAIT) > 0; ++i) { }
    CloseConnection(Fd);
}

void TExporter::Worker(TReadyQueue &Queue)
{
    MayProbe = &Queue == &probes;
    std::string request, next;
    for (;;) {
        TReadyQueue::TItem item{};
        {
            std::unique_lock lock(queueMutex);
            Queue.Changed.wait(lock, [&] { return stopping || !Queue.Items.empty(); });
            if (Queue.Items.empty())
                return;
            item = Queue.Items.front();
            Queue.Items.pop_front();
        }
        ServedSince = item.Since;
        // The head was seen whole with a look; now it is taken, and only it: a request sent after it stays
        // for the next turn.
        request.resize(item.HeadBytes);
        size_t got = 0;
        while (got < request.size()) {
            const ssize_t n = ::recv(item.Fd, request.data() + got, request.size() - got, MSG_DONTWAIT);
            if (n <= 0)
                break;
            got += size_t(n);
        }
        if (got < request.size()) {
            CloseConnection(item.Fd);
            continue;
        }
        bool keep = false;
        try {
            // The quick answers are a few kilobytes and fit the socket's buffer unless the client has left
            // earlier answers unread: such a client is closed on, never waited for.
            keep = http.Serve(item.Fd, ReadRequestHead(request.data(), request.size()).Forwarded,
                MayProbe ? TClock::now() + ProbeWriteLimit : TClock::now());
        } catch (...) {
        }
        keep = keep && !stopping;
        if (!keep) {
            CloseConnection(item.Fd);
            continue;
        }
        // A request that came while this one was answered raised no event the admission thread could act
        // on: it is looked for here, under the room's lock, so one that comes after the look finds the
        // connection in the room. Once there, the connection is not touched here again.
        THead head;
        {
            std::lock_guard lock(roomMutex);
            head = LookAtHead(item.Fd, next);
            if (head == THead::Partial)
                waiting.Add(item.Fd, true);
        }
        if (head != THead::Partial)
            Dispatch(item.Fd, head, next);
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

TExporter::THead TExporter::LookAtHead(int Fd, std::string &Head)
{
    // Heads are a few hundred bytes: a small look first, the whole allowance only when that is full.
    char small[1024];
    std::unique_ptr<char[]> large;
    char *buffer = small;
    size_t room = sizeof small;
    for (;;) {
        const ssize_t got = ::recv(Fd, buffer, room, MSG_PEEK | MSG_DONTWAIT);
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return THead::Partial;
        if (got <= 0)
            return THead::Closed;
        const size_t length = HeadLength(buffer, size_t(got));
        if (length > MaxHeadBytes || (!length && size_t(got) > MaxHeadBytes))
            return THead::Oversize;
        if (length) {
            Head.assign(buffer, length);
            return THead::Complete;
        }
        if (size_t(got) < room || large)
            return THead::Partial;
        large = std::make_unique<char[]>(MaxHeadBytes + 1);
        buffer = large.get();
        room = MaxHeadBytes + 1;
    }
}

// Takes a connection out of the waiting room; false when another thread took it first.
bool TExporter::Claim(int Fd)
{
    std::lock_guard lock(roomMutex);
    return waiting.Remove(Fd);
}

// A claimed connection after a look at what it sent: refused at once with the head still unread, or queued
// for a worker of its kind. Nothing here waits.
void TExporter::Dispatch(int Fd, THead Kind, const std::string &Head)
{
    if (Kind == THead::Closed) {
        CloseConnection(Fd);
        return;
    }
    if (Kind == THead::Oversize) {
        ++counters.Oversize;
        Refuse(Fd, CannedTooLarge);
        return;
    }
    const TRequestHead request = ReadRequestHead(Head.data(), Head.size());
    const bool headOnly = request.Method == "HEAD";
    const std::string path = request.Path();
    TRefusal refusal = RefusalKinds;
    std::string answer;
    if (request.Malformed) {
        refusal = RefusedMalformed;
        answer = Canned("400 Bad Request", "", "malformed request\n");
    } else if ((request.Method != "GET" && !headOnly) || (headOnly && path == "/probe")) {
        refusal = RefusedMethod;
        answer = Canned("405 Method Not Allowed",
            path == "/probe" ? "Allow: GET\r\n" : "Allow: GET, HEAD\r\n", "method not allowed\n", headOnly);
    } else if (request.TransferEncoding) {
        refusal = RefusedTransferEncoding;
        answer = Canned("400 Bad Request", "", "a Transfer-Encoding is not accepted\n", headOnly);
    } else if (request.Body) {
        refusal = RefusedBody;
        answer = Canned("400 Bad Request", "", "a request with a body is not accepted\n", headOnly);
    }
    if (refusal != RefusalKinds) {
        ++counters.Refused[refusal];
        Refuse(Fd, answer);
        return;
    }
    // Only a probe that will run goes to the probe workers; its refusals are answered by the quick ones.
    bool probe = false;
    if (path == "/probe") {
        TProbeQuery query;
        std::string error;
        probe = ParseProbeQuery(request.Query(), query, error)
            && (options.AllowAnyTarget || Targets()->Find(query.Target, query.Plus));
    }
    TReadyQueue &queue = probe ? probes : quick;
    {
        std::lock_guard lock(queueMutex);
        queue.Items.push_back({Fd, Head.size(), headOnly, TClock::now()});
    }
    queue.Changed.notify_one();
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
        // A fixed send buffer, not one the kernel grows to megabytes for a client that asks again and again
        // and reads nothing: such a client is closed on once its answers fill this.
        setsockopt(client, SOL_SOCKET, SO_SNDBUF, &SendBufferBytes, sizeof SendBufferBytes);
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
    std::string head;
    const THead kind = LookAtHead(Fd, head);
    if (kind != THead::Partial && Claim(Fd))
        Dispatch(Fd, kind, head);
}

std::optional<TClock::time_point> TExporter::NextReadyLimit()
{
    std::lock_guard lock(queueMutex);
    std::optional<TClock::time_point> next;
    for (const TReadyQueue *queue : {&quick, &probes})
        if (!queue->Items.empty() && (!next || queue->Items.front().Since < *next))
            next = queue->Items.front().Since;
    if (next)
        *next += ReadyLimit;
    return next;
}

void TExporter::RefuseLate()
{
    std::vector<TReadyQueue::TItem> late;
    {
        std::lock_guard lock(queueMutex);
        const TClock::time_point now = TClock::now();
        for (TReadyQueue *queue : {&quick, &probes})
            while (!queue->Items.empty() && queue->Items.front().Since + ReadyLimit <= now) {
                late.push_back(queue->Items.front());
                queue->Items.pop_front();
            }
    }
    for (const TReadyQueue::TItem &item : late) {
        ++counters.Refused[RefusedNoWorker];
        Refuse(item.Fd, Canned("503 Service Unavailable", "", "no worker was free in time\n", item.HeadOnly));
    }
}

// False when the exporter is to stop.
bool TExporter::Signals()
{
    bool running = true, reload = false;
    // Every signal waiting is read first: hang-ups that came during one reload make one more, not a loop that
    // keeps connections waiting.
    signalfd_siginfo info{};
    while (::read(signalFd, &info, sizeof info) == ssize_t(sizeof info)) {
        if (info.ssi_signo == SIGHUP)
            reload = true;
        else
            running = false;
    }
    if (!reload || !running)
        return running;
    std::string why;
    if (LoadTargets(why)) {
        counters.LastReloadOk = 1;
        ++counters.ReloadsDone;
    } else {
        counters.LastReloadOk = 0;
        ++counters.ReloadsFailed;
        fprintf(stderr, "zyrcheck: reload failed, keeping the previous targets: %s\n", why.c_str());
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
    for (int i = 0; i < QuickWorkers; ++i)
        workers.emplace_back([this] { Worker(quick); });
    for (int i = 0; i < options.MaxProbes + SlotWaiters(options.MaxProbes); ++i)
        workers.emplace_back([this] { Worker(probes); });

    for (bool running = true; running;) {
        std::optional<TClock::time_point> next;
        {
            std::lock_guard lock(roomMutex);
            next = waiting.Next();
        }
        if (const auto late = NextReadyLimit(); late && (!next || *late < *next))
            next = late;
        // Workers put answered connections back with later deadlines; look at the room at least each second.
        int waitMs = 1000;
        if (next)
            waitMs = int(std::clamp<int64_t>(
                std::chrono::duration_cast<std::chrono::milliseconds>(*next - TClock::now()).count() + 1, 0,
                1000));
        epoll_event events[256];
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
        RefuseLate();
    }

    ::close(listener);
    {
        std::lock_guard lock(queueMutex);
        stopping = true;
    }
    quick.Changed.notify_all();
    probes.Changed.notify_all();
    probeSlots.Stop();
    for (std::thread &t : workers)
        t.join();
    for (const int fd : waiting.All())
        CloseConnection(fd);
    for (const TReadyQueue *queue : {&quick, &probes})
        for (const TReadyQueue::TItem &item : queue->Items)
            CloseConnection(item.Fd);
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
          "    X-Prometheus-Scrape-Timeout-Seconds never changes it; it can only shorten the 30 s a\n"
          "    request waits for a free slot.\n"
          " --max-connections=N\n"
          "    Open HTTP connections (default 4096, and never more than the descriptor limit allows); when\n"
          "    full, the oldest connection that has not sent its request gives way.\n"
          " --idle-timeout=SECONDS\n"
          "    Time a connection has to send its whole request head (default 10).\n\n"
          "Endpoints: GET /probe?target=ADDRESS[:PORT]&plus=0|1&devices=N (plus and devices default to the\n"
          "targets file's line), GET or HEAD /metrics (the exporter's own process metrics) and /.\n";
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
