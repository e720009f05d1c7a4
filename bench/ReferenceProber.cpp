// The reference beside the console's cycle figures: the least any prober can do on this machine over the
// same simulated fleet, with the console's wire behaviour and time limits, on one epoll thread and on two.
// No toolkit and no console code: sockets, epoll and nothing else, so that what it costs is the machine's
// own limit (the kernel's work for a loopback connection at both ends) and not a program's.
//
//   zyr_bench_reference --zyrsim PATH --fleet N [--cycles K] [--threads 1,2] [--delay MS]
//                       [--base 127.1.0.1] [--timeout MS] [--singles S] [--mix ok=N,plus=N,...]
//
// Ordinary systems: non-blocking connect (TimeOut div 2), the six request bytes, at most 512 ms for the
// reply, one receive of at most 512 bytes, close. Extended systems: the sweep of their own port and
// 27101, 27103, 27105, 27106 (connect and close, TimeOut div 4 each, ended by the first refusal), then the
// device-list exchange on 27101 within TimeOut div 2. Every cycle checks that each system got exactly one
// result and that every answering system's reply came whole.
//
// Prints "key value" lines for scripts/bench; exits non-zero when a result was lost, doubled or left
// unfinished, a reply came cut short, or an outcome was not the one the system's behaviour calls for. A
// reply later than its wait is counted apart, as the console's soak counts it: that is the machine's load.
#include "DeviceListProtocol.h"
#include "ProcStats.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <map>
#include <netinet/in.h>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char **environ;

using namespace bench;

namespace {

// The console's probe, byte for byte and limit for limit (probe/CheckRunner.h, probe/CheckThread.h,
// probe/PlusProbe.h); repeated here as plain numbers so that this program needs no toolkit.
constexpr unsigned char StatusRequest[6] = {0xDE, 0xDE, 0x06, 0x00, 0x0A, 0x00};
constexpr int ReplyBufferSize = 512;
constexpr int ReplyWaitMs = 512;
constexpr unsigned char StatusReplyCode = 19;
constexpr int StatusHeaderSize = 9;
constexpr uint16_t PlusSweepPorts[] = {27101, 27103, 27105, 27106};
constexpr uint16_t PlusListPort = 27101;

// Starts between two looks at the sockets; a reply that came in meanwhile still counts when it is read.
constexpr int StartSlice = 1024;
constexpr int EventBatch = 256;

struct TOptions
{
    std::string Zyrsim;
    int Fleet = 1000;
    int Cycles = 5;
    std::vector<int> Threads{1, 2};
    int Delay = 100;
    std::string Base = "127.1.0.1";
    int TimeOut = 5000;
    int Singles = 6; // single checks per kind for the slowest-check baseline, as the console's benchmark
    std::string Mix; // the simulator's fleet mix (--mix); empty: its own
};

struct TSystem
{
    sockaddr_in Address{};
    bool Plus = false;
    std::string Target;
    std::string Mode; // the simulator's behaviour (list mode for extended systems)
};

enum class TOutcome : uint8_t
{
    None,
    NoAnswer, // no connection, or a sweep port closed
    Connected, // connected, then closed by the peer or answered with the wrong bytes
    NoReply, // connected, the wait ran out
    Partial, // an acceptable reply that did not come whole
    Report, // a whole reply
};

enum class TPhase : uint8_t
{
    Idle,
    Sweeping,
    Connecting,
    Sending,
    Receiving,
    Done,
};

struct TCheck
{
    const TSystem *System = nullptr;
    size_t Index = 0; // in the fleet
    int Fd = -1;
    uint32_t Socket = 0; // which of the check's sockets is open: events of an earlier one are stale
    uint64_t Timer = 0; // the live time limit's id, 0 when none
    TPhase Phase = TPhase::Idle;
    uint8_t Step = 0; // extended: the sweep's port in turn (0 its own), then the list
    uint8_t Sent = 0;
    bool Readable = false;
    TOutcome Outcome = TOutcome::None;
    int Finishes = 0;
    int64_t FinishNs = 0;
    std::string List; // extended: the device-list reply so far
};

// One time limit's pending deadlines. Each queue holds a single length of wait, so its deadlines come in
// the order they were set: a FIFO, no heap.
struct TDeadline
{
    int64_t Due;
    uint32_t Check;
    uint64_t Id;
};

class TProber
{
public:
    TProber(std::vector<TCheck> &Checks, int TimeOut)
        : checks(Checks)
        , connectLimitNs(int64_t(TimeOut / 2) * 1'000'000)
        , sweepLimitNs(int64_t(TimeOut / 4) * 1'000'000)
    {
    }

    // Runs every check to its end, or until giveUpNs; the checks still open then are left unfinished.
    void Run(int64_t giveUpNs)
    {
        epollFd = epoll_create1(EPOLL_CLOEXEC);
        if (epollFd < 0)
            return;
        std::vector<epoll_event> events(EventBatch);
        size_t next = 0;
        while (finished < checks.size()) {
            const int64_t now = NowNs();
            if (now >= giveUpNs)
                break;
            for (int started = 0; next < checks.size() && started < StartSlice; ++started)
                Start(uint32_t(next++));
            if (next == checks.size() && LastStartNs == 0)
                LastStartNs = NowNs();
            if (finished == checks.size())
                break;
            const int n
                = epoll_wait(epollFd, events.data(), EventBatch, next < checks.size() ? 0 : WaitMs(giveUpNs));
            for (int i = 0; i < n; ++i) {
                const uint64_t tag = events[size_t(i)].data.u64;
                TCheck &c = checks[uint32_t(tag)];
                if (c.Fd >= 0 && c.Socket == uint32_t(tag >> 32))
                    OnEvent(uint32_t(tag), events[size_t(i)].events);
            }
            // Events still waiting in the kernel come before any time limit: a reply that is there counts.
            if (n < EventBatch)
                Expire(NowNs());
        }
        for (TCheck &c : checks)
            CloseSocket(c);
        close(epollFd);
        epollFd = -1;
    }

    int64_t LastStartNs = 0;

private:
    void Start(uint32_t i)
    {
        TCheck &c = checks[i];
        if (c.System->Plus)
            Sweep(i);
        else
            Exchange(i, c.System->Address, StatusRequest, sizeof StatusRequest);
    }

    // Connect and close on each port of the sweep; on loopback a connect is mostly over when the call
    // returns, and is then not waited for.
    void Sweep(uint32_t i)
    {
        TCheck &c = checks[i];
        for (; c.Step <= std::size(PlusSweepPorts); ++c.Step) {
            sockaddr_in to = c.System->Address;
            if (c.Step > 0)
                to.sin_port = htons(PlusSweepPorts[c.Step - 1]);
            const int err = OpenAndConnect(c, to);
            if (err == 0 || (err == EINPROGRESS && Established(c.Fd))) {
                CloseSocket(c);
                continue;
            }
            if (err == EINPROGRESS && PendingError(c.Fd) == 0 && Watch(i, EPOLLOUT | EPOLLET)) {
                c.Phase = TPhase::Sweeping;
                Arm(sweepTimers, i, sweepLimitNs);
                return;
            }
            Finish(i, TOutcome::NoAnswer);
            return;
        }
        sockaddr_in list = c.System->Address;
        list.sin_port = htons(PlusListPort);
        // The library's one limit covers connect, request and reply.
        Arm(connectTimers, i, connectLimitNs);
        Exchange(i, list, ListRequest(), DeviceList::RequestSize);
    }

    // A connect, the request and the reply: the ordinary probe, or the device-list exchange.
    void Exchange(uint32_t i, const sockaddr_in &to, const unsigned char *request, size_t size)
    {
        TCheck &c = checks[i];
        const bool plus = c.System->Plus;
        const TOutcome refused = plus ? TOutcome::Connected : TOutcome::NoAnswer;
        const int err = OpenAndConnect(c, to);
        if (err != 0 && err != EINPROGRESS) {
            Finish(i, refused);
            return;
        }
        bool connected = err == 0;
        if (!connected) {
            // As the console's runner: the request goes out at once when the handshake is done.
            const ssize_t n = send(c.Fd, request, size, MSG_NOSIGNAL);
            if (n > 0) {
                connected = true;
                c.Sent = uint8_t(n);
            } else if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
                Finish(i, refused);
                return;
            }
        }
        if (!Watch(i, EPOLLIN | EPOLLRDHUP | EPOLLET | (c.Sent < size ? uint32_t(EPOLLOUT) : 0u))) {
            Finish(i, refused);
            return;
        }
        if (connected) {
            Send(i);
            return;
        }
        c.Phase = TPhase::Connecting;
        if (!plus)
            Arm(connectTimers, i, connectLimitNs);
    }

    void OnEvent(uint32_t i, uint32_t events)
    {
        TCheck &c = checks[i];
        const bool readable = events & (EPOLLIN | EPOLLRDHUP | EPOLLERR | EPOLLHUP);
        const bool settled = events & (EPOLLOUT | EPOLLERR | EPOLLHUP);
        switch (c.Phase) {
        case TPhase::Sweeping: {
            const int error = PendingError(c.Fd);
            if (error == 0 && !settled)
                return;
            CloseSocket(c);
            if (error != 0) {
                Finish(i, TOutcome::NoAnswer);
                return;
            }
            ++c.Step;
            Sweep(i);
            return;
        }
        case TPhase::Connecting: {
            const int error = PendingError(c.Fd);
            if (error == 0 && !settled)
                return;
            if (error != 0) {
                Finish(i, c.System->Plus ? TOutcome::Connected : TOutcome::NoAnswer);
                return;
            }
            c.Readable = readable;
            Send(i);
            return;
        }
        case TPhase::Sending:
            c.Readable = c.Readable || readable;
            if (settled)
                Send(i);
            return;
        case TPhase::Receiving:
            if (readable)
                Receive(i);
            return;
        default:
            return;
        }
    }

    void Send(uint32_t i)
    {
        TCheck &c = checks[i];
        const bool plus = c.System->Plus;
        const unsigned char *request = plus ? ListRequest() : StatusRequest;
        const size_t size = plus ? size_t(DeviceList::RequestSize) : sizeof StatusRequest;
        while (c.Sent < size) {
            const ssize_t n = send(c.Fd, request + c.Sent, size - c.Sent, MSG_NOSIGNAL);
            if (n > 0) {
                c.Sent = uint8_t(c.Sent + n);
                continue;
            }
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                if (c.Phase != TPhase::Sending && !plus)
                    Arm(replyTimers, i, int64_t(ReplyWaitMs) * 1'000'000);
                c.Phase = TPhase::Sending;
                return;
            }
            Finish(i, TOutcome::Connected);
            return;
        }
        c.Phase = TPhase::Receiving;
        if (!plus)
            Arm(replyTimers, i, int64_t(ReplyWaitMs) * 1'000'000);
        if (c.Readable)
            Receive(i);
    }

    void Receive(uint32_t i)
    {
        TCheck &c = checks[i];
        if (!c.System->Plus) {
            // Exactly one receive, as the console.
            unsigned char reply[ReplyBufferSize];
            ssize_t n;
            do
                n = recv(c.Fd, reply, sizeof reply, 0);
            while (n < 0 && errno == EINTR);
            Finish(i, StatusVerdict(reply, n));
            return;
        }
        // The device-list library reads until the announced length is in, the peer closes or time is up.
        char chunk[4096];
        for (;;) {
            const ssize_t n = recv(c.Fd, chunk, sizeof chunk, 0);
            if (n > 0) {
                c.List.append(chunk, size_t(n));
                const TOutcome verdict = ListVerdict(c.List);
                if (verdict != TOutcome::None) {
                    Finish(i, verdict);
                    return;
                }
                continue;
            }
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
                return;
            Finish(i, c.List.empty() ? TOutcome::Connected : TOutcome::Partial);
            return;
        }
    }

    static const unsigned char *ListRequest()
    {
        static const unsigned char request[DeviceList::RequestSize]
            = {DeviceList::Magic[0], DeviceList::Magic[1], DeviceList::Magic[2], DeviceList::Magic[3],
                DeviceList::CommandList, 0, 0, 0};
        return request;
    }

    // The console's acceptance (signature DE DE, reply code 19), and beside it whether the reply was whole:
    // its frame size and announced text length match what the one receive got.
    static TOutcome StatusVerdict(const unsigned char *reply, ssize_t n)
    {
        if (n < 5 || reply[0] != 0xDE || reply[1] != 0xDE || reply[4] != StatusReplyCode)
            return TOutcome::Connected;
        if (n < StatusHeaderSize)
            return TOutcome::Partial;
        const uint32_t frame = uint32_t(reply[2]) | uint32_t(reply[3]) << 8;
        const uint32_t text = uint32_t(reply[5]) | uint32_t(reply[6]) << 8 | uint32_t(reply[7]) << 16
            | uint32_t(reply[8]) << 24;
        return frame == uint32_t(n) && text == uint32_t(n - StatusHeaderSize) ? TOutcome::Report
                                                                              : TOutcome::Partial;
    }

    // None while more is to come.
    static TOutcome ListVerdict(const std::string &list)
    {
        if (list.size() < size_t(DeviceList::ReplyHeaderSize))
            return TOutcome::None;
        const auto *h = reinterpret_cast<const unsigned char *>(list.data());
        if (memcmp(h, DeviceList::Magic, sizeof DeviceList::Magic) != 0 || h[4] != DeviceList::StatusOk)
            return TOutcome::Connected;
        const uint32_t length
            = uint32_t(h[8]) | uint32_t(h[9]) << 8 | uint32_t(h[10]) << 16 | uint32_t(h[11]) << 24;
        if (length > DeviceList::MaxText)
            return TOutcome::Connected;
        return list.size() >= DeviceList::ReplyHeaderSize + length ? TOutcome::Report : TOutcome::None;
    }

    // 0 when connected at once, EINPROGRESS while under way, otherwise the error.
    static int OpenAndConnect(TCheck &c, const sockaddr_in &to)
    {
        c.Fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (c.Fd < 0)
            return errno;
        ++c.Socket;
        c.Sent = 0;
        c.Readable = false;
        if (connect(c.Fd, reinterpret_cast<const sockaddr *>(&to), sizeof to) == 0)
            return 0;
        return errno == EINTR ? EINPROGRESS : errno;
    }

    static bool Established(int fd)
    {
        sockaddr_in peer{};
        socklen_t length = sizeof peer;
        return getpeername(fd, reinterpret_cast<sockaddr *>(&peer), &length) == 0;
    }

    static int PendingError(int fd)
    {
        int error = 0;
        socklen_t length = sizeof error;
        if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) < 0)
            return errno;
        return error;
    }

    bool Watch(uint32_t i, uint32_t events)
    {
        epoll_event ev{};
        ev.events = events;
        ev.data.u64 = uint64_t(checks[i].Socket) << 32 | i;
        return epoll_ctl(epollFd, EPOLL_CTL_ADD, checks[i].Fd, &ev) == 0;
    }

    static void CloseSocket(TCheck &c)
    {
        if (c.Fd >= 0) {
            close(c.Fd);
            c.Fd = -1;
        }
    }

    void Finish(uint32_t i, TOutcome outcome)
    {
        TCheck &c = checks[i];
        CloseSocket(c);
        c.Outcome = outcome;
        c.Phase = TPhase::Done;
        c.Timer = 0;
        c.FinishNs = NowNs();
        ++c.Finishes;
        ++finished;
    }

    void Arm(std::deque<TDeadline> &queue, uint32_t i, int64_t lengthNs)
    {
        checks[i].Timer = ++lastTimer;
        queue.push_back({NowNs() + lengthNs, i, lastTimer});
    }

    bool Live(const TDeadline &d) const { return checks[d.Check].Timer == d.Id; }

    // The state reached stands when a limit runs out.
    void Expire(int64_t now)
    {
        for (std::deque<TDeadline> *queue : {&connectTimers, &sweepTimers, &replyTimers}) {
            while (!queue->empty() && queue->front().Due <= now) {
                const TDeadline d = queue->front();
                queue->pop_front();
                if (!Live(d))
                    continue;
                TCheck &c = checks[d.Check];
                const bool noConnection
                    = c.Phase == TPhase::Sweeping || (c.Phase == TPhase::Connecting && !c.System->Plus);
                Finish(d.Check, noConnection ? TOutcome::NoAnswer : TOutcome::NoReply);
            }
        }
    }

    int WaitMs(int64_t giveUpNs)
    {
        int64_t due = giveUpNs;
        for (std::deque<TDeadline> *queue : {&connectTimers, &sweepTimers, &replyTimers}) {
            while (!queue->empty() && !Live(queue->front()))
                queue->pop_front();
            if (!queue->empty())
                due = std::min(due, queue->front().Due);
        }
        const int64_t left = due - NowNs();
        return left <= 0 ? 0 : int((left + 999'999) / 1'000'000);
    }

    std::vector<TCheck> &checks;
    const int64_t connectLimitNs; // also the device-list exchange's whole limit
    const int64_t sweepLimitNs;
    int epollFd = -1;
    size_t finished = 0;
    uint64_t lastTimer = 0;
    std::deque<TDeadline> connectTimers, sweepTimers, replyTimers;
};

// The simulator, started with the arguments the console's benchmark gives it, so that both meet the same
// fleet on the same addresses.
class TFleet
{
public:
    ~TFleet() { Stop(); }

    bool Start(const TOptions &o)
    {
        int out[2];
        if (pipe2(out, O_CLOEXEC) != 0)
            return false;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        const std::string fleet = std::to_string(o.Fleet), delay = std::to_string(o.Delay);
        std::vector<const char *> argv{
            o.Zyrsim.c_str(), "--fleet", fleet.c_str(), "--base", o.Base.c_str(), "--delay", delay.c_str()};
        if (!o.Mix.empty()) {
            argv.push_back("--mix");
            argv.push_back(o.Mix.c_str());
        }
        argv.push_back(nullptr);
        const int rc = posix_spawn(
            &pid, o.Zyrsim.c_str(), &actions, nullptr, const_cast<char **>(argv.data()), environ);
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        if (rc != 0) {
            pid = -1;
            close(out[0]);
            return false;
        }
        output = out[0];
        return ReadAnnouncement();
    }

    void Stop()
    {
        if (pid > 0) {
            kill(pid, SIGTERM);
            int status;
            waitpid(pid, &status, 0);
            pid = -1;
        }
        if (output >= 0) {
            close(output);
            output = -1;
        }
    }

    // User plus system time of the simulator so far, in nanoseconds; -1 when unknown.
    int64_t CpuNs() const
    {
        const std::string path = "/proc/" + std::to_string(pid) + "/stat";
        FILE *f = fopen(path.c_str(), "r");
        if (!f)
            return -1;
        char text[1024] = {};
        const size_t n = fread(text, 1, sizeof text - 1, f);
        fclose(f);
        const char *p = strrchr(text, ')');
        unsigned long long utime = 0, stime = 0;
        if (!n || !p
            || sscanf(p + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %llu %llu", &utime, &stime) != 2)
            return -1;
        return int64_t(utime + stime) * (1'000'000'000 / sysconf(_SC_CLK_TCK));
    }

    std::vector<TSystem> Systems;

private:
    // "name <tab> host:port <tab> ordinary|plus <tab> mode ..." per system, then "READY n".
    bool ReadAnnouncement()
    {
        std::string pending;
        const int64_t deadline = NowNs() + int64_t(120) * 1'000'000'000;
        while (NowNs() < deadline) {
            pollfd p{output, POLLIN, 0};
            if (poll(&p, 1, 1000) <= 0)
                continue;
            char chunk[65536];
            const ssize_t n = read(output, chunk, sizeof chunk);
            if (n <= 0)
                return false;
            pending.append(chunk, size_t(n));
            size_t nl;
            while ((nl = pending.find('\n')) != std::string::npos) {
                const std::string line = pending.substr(0, nl);
                pending.erase(0, nl + 1);
                if (line.rfind("READY", 0) == 0)
                    return !Systems.empty();
                if (!ParseLine(line))
                    return false;
            }
        }
        return false;
    }

    bool ParseLine(const std::string &line)
    {
        std::vector<std::string> f;
        size_t from = 0;
        for (size_t tab; (tab = line.find('\t', from)) != std::string::npos; from = tab + 1)
            f.push_back(line.substr(from, tab - from));
        f.push_back(line.substr(from));
        if (f.size() < 4)
            return false;
        TSystem s;
        s.Target = f[1];
        s.Plus = f[2] == "plus";
        s.Mode = f[3];
        const size_t colon = s.Target.rfind(':');
        s.Address.sin_family = AF_INET;
        s.Address.sin_port = htons(uint16_t(atoi(s.Target.c_str() + colon + 1)));
        if (colon == std::string::npos
            || inet_pton(AF_INET, s.Target.substr(0, colon).c_str(), &s.Address.sin_addr) != 1)
            return false;
        Systems.push_back(std::move(s));
        return true;
    }

    pid_t pid = -1;
    int output = -1;
};

std::string KindOf(const TSystem &s)
{
    return (s.Plus ? "plus-" : "") + s.Mode;
}

// What the simulator's behaviour calls for; None where the fleet's behaviour leaves it open.
TOutcome Expected(const TSystem &s)
{
    if (s.Mode == "ok")
        return TOutcome::Report;
    if (!s.Plus && s.Mode == "refuse")
        return TOutcome::NoAnswer;
    if (!s.Plus && s.Mode == "silent")
        return TOutcome::NoReply;
    return TOutcome::None;
}

struct TCycle
{
    double WallMs = 0, CpuUsPerCheck = 0, SimCpuUsPerCheck = 0, LastStartMs = 0;
    int Lost = 0, Doubled = 0, Unfinished = 0, Incomplete = 0, Wrong = 0;
    // Answering systems whose reply was not in when their wait ran out: the machine's load, as in the
    // console's soak; counted apart, not as a fault of the prober.
    int Late = 0;
    std::map<TOutcome, int> Outcomes;
    int Faults() const { return Lost + Doubled + Unfinished + Incomplete + Wrong; }
};

TCycle RunCycle(const std::vector<TSystem> &systems, int threads, const TOptions &o, const TFleet &fleet)
{
    // Each thread its own share, spread over the fleet as the kinds are.
    std::vector<std::vector<TCheck>> shares(static_cast<size_t>(threads));
    for (size_t i = 0; i < systems.size(); ++i) {
        TCheck c;
        c.System = &systems[i];
        c.Index = i;
        shares[i % size_t(threads)].push_back(std::move(c));
    }
    std::vector<TProber> probers;
    probers.reserve(size_t(threads));
    for (auto &share : shares)
        probers.emplace_back(share, o.TimeOut);
    TCycle f;
    const int64_t cpu0 = CpuNs();
    const int64_t sim0 = fleet.CpuNs();
    const int64_t t0 = NowNs();
    const int64_t giveUp = t0 + int64_t(60) * 1'000'000'000;
    std::vector<std::thread> running;
    for (TProber &p : probers)
        running.emplace_back([&p, giveUp] { p.Run(giveUp); });
    for (std::thread &t : running)
        t.join();
    const int64_t t1 = NowNs();
    const double n = double(std::max<size_t>(systems.size(), 1));
    f.CpuUsPerCheck = (CpuNs() - cpu0) / 1e3 / n;
    f.SimCpuUsPerCheck = sim0 < 0 ? -1 : (fleet.CpuNs() - sim0) / 1e3 / n;
    const bool gaveUp = t1 >= giveUp;
    int64_t last = 0;
    for (const TProber &p : probers)
        f.LastStartMs = std::max(f.LastStartMs, (p.LastStartNs - t0) / 1e6);
    for (const auto &share : shares) {
        for (const TCheck &c : share) {
            last = std::max(last, c.FinishNs);
            if (c.Finishes == 0) {
                // Checks the prober still held when time was up are unfinished; without that, lost.
                (gaveUp ? f.Unfinished : f.Lost)++;
                continue;
            }
            f.Doubled += c.Finishes > 1;
            ++f.Outcomes[c.Outcome];
            const TOutcome expected = Expected(*c.System);
            if (expected == TOutcome::None || c.Outcome == expected)
                continue;
            if (expected == TOutcome::Report && c.Outcome == TOutcome::NoReply)
                ++f.Late;
            else
                (expected == TOutcome::Report && c.Outcome == TOutcome::Partial ? f.Incomplete : f.Wrong)++;
        }
    }
    // The cycle ends with its last result, as the console's ends when the last result is applied.
    f.WallMs = ((gaveUp || last == 0 ? t1 : last) - t0) / 1e6;
    return f;
}

// The slowest single check of the fleet, each sample checked alone, the samples picked as the console's
// benchmark picks them.
double SlowestSingleMs(const std::vector<TSystem> &systems, const TOptions &o, std::string &which)
{
    std::map<std::string, std::vector<size_t>> byKind;
    for (size_t i = 0; i < systems.size(); ++i)
        byKind[KindOf(systems[i])].push_back(i);
    double slowest = 0;
    for (const auto &[kind, members] : byKind) {
        const size_t samples = std::min<size_t>(size_t(o.Singles), members.size());
        for (size_t k = 0; k < samples; ++k) {
            std::vector<TCheck> one(1);
            one[0].System = &systems[members[k * members.size() / samples]];
            TProber prober(one, o.TimeOut);
            const int64_t start = NowNs();
            prober.Run(start + int64_t(60) * 1'000'000'000);
            const double ms = ((one[0].FinishNs ? one[0].FinishNs : NowNs()) - start) / 1e6;
            if (ms > slowest) {
                slowest = ms;
                which = kind;
            }
        }
    }
    return slowest;
}

const char *OutcomeName(TOutcome o)
{
    switch (o) {
    case TOutcome::NoAnswer:
        return "no_answer";
    case TOutcome::Connected:
        return "connected";
    case TOutcome::Partial:
        return "partial";
    case TOutcome::NoReply:
        return "no_reply";
    case TOutcome::Report:
        return "report";
    default:
        return "none";
    }
}

void Figure(const std::string &key, double value, const char *unit = "")
{
    printf("%s %.3f%s%s\n", key.c_str(), value, *unit ? " " : "", unit);
    fflush(stdout);
}

bool ParseOptions(int argc, char **argv, TOptions &o)
{
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string arg = argv[i], v = argv[i + 1];
        if (arg == "--zyrsim")
            o.Zyrsim = v;
        else if (arg == "--fleet")
            o.Fleet = atoi(v.c_str());
        else if (arg == "--cycles")
            o.Cycles = atoi(v.c_str());
        else if (arg == "--delay")
            o.Delay = atoi(v.c_str());
        else if (arg == "--base")
            o.Base = v;
        else if (arg == "--timeout")
            o.TimeOut = atoi(v.c_str());
        else if (arg == "--singles")
            o.Singles = atoi(v.c_str());
        else if (arg == "--mix")
            o.Mix = v;
        else if (arg == "--threads") {
            o.Threads.clear();
            for (size_t from = 0; from <= v.size();) {
                const size_t comma = std::min(v.find(',', from), v.size());
                const int t = atoi(v.substr(from, comma - from).c_str());
                if (t < 1 || t > 64)
                    return false;
                o.Threads.push_back(t);
                from = comma + 1;
            }
        } else
            return false;
    }
    // Every limit (TimeOut div 4 the shortest) at least a millisecond.
    return argc % 2 == 1 && !o.Zyrsim.empty() && o.Fleet > 0 && o.Cycles > 0 && o.TimeOut >= 4
        && o.Singles > 0 && !o.Threads.empty();
}

} // namespace

int main(int argc, char **argv)
{
    TOptions o;
    if (!ParseOptions(argc, argv, o)) {
        fprintf(stderr,
            "usage: zyr_bench_reference --zyrsim PATH --fleet N [--cycles K] [--threads 1,2] [--delay MS]"
            " [--base A] [--timeout MS] [--singles S] [--mix ok=N,plus=N,refuse=N,silent=N]\n");
        return 2;
    }
    // A socket per check of the whole fleet at once, as the console allows itself.
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
    signal(SIGPIPE, SIG_IGN);
    if (FILE *f = fopen("/proc/loadavg", "r")) {
        char load[128] = {};
        if (fgets(load, sizeof load, f))
            printf("reference_load %s", load);
        fclose(f);
    }
    TFleet fleet;
    if (!fleet.Start(o)) {
        fprintf(stderr, "zyrsim did not come up\n");
        return 1;
    }
    printf("reference_fleet %zu\n", fleet.Systems.size());
    std::string which;
    const double single = SlowestSingleMs(fleet.Systems, o, which);
    printf("reference_slowest_single_kind %s\n", which.c_str());
    Figure("reference_slowest_single_ms", single, "ms");

    // The thread counts take turns, so that a change of the machine's load falls on each alike.
    std::map<int, std::vector<double>> wall, cpu, sim, lastStart;
    int faults = 0, late = 0;
    for (int c = 0; c < o.Cycles; ++c) {
        for (const int threads : o.Threads) {
            const TCycle f = RunCycle(fleet.Systems, threads, o, fleet);
            std::string outcomes;
            for (const auto &[outcome, count] : f.Outcomes)
                outcomes += std::string(outcomes.empty() ? "" : ",") + OutcomeName(outcome) + ":"
                    + std::to_string(count);
            printf(
                "reference threads %d cycle %d wall_ms %.1f ratio %.3f cpu_us_per_check %.1f sim_cpu_us %.1f"
                " last_start_ms %.1f outcomes %s lost %d doubled %d unfinished %d incomplete %d wrong %d "
                "late %d\n",
                threads, c + 1, f.WallMs, f.WallMs / single, f.CpuUsPerCheck, f.SimCpuUsPerCheck,
                f.LastStartMs, outcomes.c_str(), f.Lost, f.Doubled, f.Unfinished, f.Incomplete, f.Wrong,
                f.Late);
            fflush(stdout);
            faults += f.Faults();
            late += f.Late;
            wall[threads].push_back(f.WallMs);
            cpu[threads].push_back(f.CpuUsPerCheck);
            sim[threads].push_back(f.SimCpuUsPerCheck);
            lastStart[threads].push_back(f.LastStartMs);
        }
    }
    for (const int threads : o.Threads) {
        const std::string key = "reference_" + std::to_string(threads) + "t_";
        Figure(key + "cycle_ms", Median(wall[threads]), "ms");
        Figure(key + "cycle_ratio", Median(wall[threads]) / single);
        Figure(key + "cpu_us_per_check", Median(cpu[threads]), "us");
        Figure(key + "simulator_cpu_us_per_check", Median(sim[threads]), "us");
        Figure(key + "last_start_ms", Median(lastStart[threads]), "ms");
    }
    printf("reference_result_faults %d\n", faults);
    printf("reference_late_replies %d\n", late);
    return faults == 0 ? 0 : 3;
}
