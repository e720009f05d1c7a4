// The check runner behind TCheckThread::Start. Ordinary checks run on one poller thread (non-blocking
// connect, the six-byte request, the 512 ms wait for readability, one receive, close); so does the port
// sweep of extended checks, whose device-list library call then runs on a pool of threads (it blocks).
// Host names are looked up on a small pool before the first connect. Checks wait in one queue for a free
// share of the descriptor table and start in order.
#include "probe/CheckRunner.h"

#include "platform/Charset.h"
#include "platform/FileLimit.h"
#include "platform/SettingRules.h"
#include "platform/Socket.h"
#include "probe/PlusProbe.h"

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <pthread.h>
#include <queue>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <thread>
#include <time.h>
#include <unistd.h>
#include <vector>

namespace {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr size_t WorkerStackSize = 1024 * 1024; // sanitizers need roomier frames
#else
constexpr size_t WorkerStackSize = 256 * 1024;
#endif

constexpr int MaxPlusThreads = 512;
constexpr int MaxResolverThreads = 8;
// Long enough to carry a pool's threads from one cycle to the next when cycles follow each other (the
// operator's, an exporter's scrapes): a thread started and ended per cycle cost more than its library call
// does. A periodic cycle minutes apart finds them gone, and the pool holds nothing between.
constexpr auto IdleThreadLife = std::chrono::seconds(10);
// Checks started between two looks at the sockets. Starting comes first: a cycle lasts until the last
// check's wait ends, and a reply that came in meanwhile still counts when it is read.
constexpr int StartSlice = 4096;
constexpr int EventBatch = 256;
constexpr int64_t RetryNs = 20'000'000; // a new look for a descriptor or thread when nothing frees one

int64_t NowNs()
{
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return int64_t(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}

int64_t ThreadCpuNs()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return int64_t(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}

enum class TPhase : uint8_t
{
    Queued,
    Resolving,
    Connecting,
    Sending,
    Replying,
    Sweeping, // extended: a port of the sweep being connected
    Plus, // extended: the library call, on the pool
};

struct TJob
{
    QString Target;
    int32_t TimeOut = 0;
    bool IsPlus = false;
    TCheckResultSink Sink;
    TThResponse Result;

    bool Split = false;
    TProbeTarget Address;
    in_addr Ip{};
    bool HasIp = false;
    TPhase Phase = TPhase::Queued;
    int Fd = -1;
    uint32_t Slot = 0;
    uint64_t TimerId = 0;
    uint8_t Sent = 0;
    bool Readable = false;
    uint8_t SweepStep = 0; // extended: 0 the own port, then PlusSweepPorts in turn
};

enum class TNote : uint8_t
{
    New,
    Resolved,
    Unresolved,
    ResolveStarved,
    PlusDone,
};

struct TNoteItem
{
    TNote Kind;
    TJob *Job;
};

struct TTimer
{
    int64_t Due;
    uint32_t Slot;
    uint64_t Id;
    bool operator>(const TTimer &other) const { return Due > other.Due; }
};

// Process end: results are no longer handed out once exit() has begun, so no sink runs into objects that
// static destruction is taking down. Threads that are still busy simply stop where they are.
std::atomic<bool> ending{false};
std::atomic<int> delivering{0};

[[noreturn]] void Park()
{
    for (;;)
        pause();
}

void Deliver(TJob *job)
{
    auto result = std::make_unique<TThResponse>(std::move(job->Result));
    TCheckResultSink sink = std::move(job->Sink);
    delete job;
    delivering.fetch_add(1);
    if (ending.load()) {
        delivering.fetch_sub(1);
        Park();
    }
    try {
        if (sink)
            sink(std::move(result));
    } catch (...) {
        // a failed hand-over loses the result, never the process
    }
    delivering.fetch_sub(1);
}

void SettleAtExit()
{
    ending.store(true);
    for (int i = 0; i < 200 && delivering.load() > 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

bool StartDetached(void *(*body)(void *), void *argument)
{
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setstacksize(&attributes, WorkerStackSize);
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    pthread_t thread;
    const int rc = pthread_create(&thread, &attributes, body, argument);
    pthread_attr_destroy(&attributes);
    return rc == 0;
}

// By the thread itself: naming another thread opens a file under /proc, which needs a descriptor (there
// may be none to spare) and, in a plugin that promises to write no file, shows as a file opened for writing.
void NameThisThread(const char *name)
{
    pthread_setname_np(pthread_self(), name);
}

class TRunner;

// Threads that take jobs from a queue; the last one stays, the others leave after a while without work.
class TPool
{
public:
    TPool(TRunner &Runner, void (TRunner::*Work)(TJob *), int MaxThreads, const char *Name)
        : runner(Runner)
        , work(Work)
        , maxThreads(MaxThreads)
        , name(Name)
    {
    }

    void Post(TJob *job)
    {
        std::lock_guard lock(mutex);
        if (!idle.empty()) {
            TIdle *taker = idle.back();
            idle.pop_back();
            taker->Job = job;
            taker->Wake.notify_one();
            return;
        }
        jobs.push_back(job);
    }

    // Jobs wait and no thread is there to take them (the pool's threads add more threads themselves).
    bool Orphaned()
    {
        std::lock_guard lock(mutex);
        return !jobs.empty() && threads == 0;
    }

    bool Grow()
    {
        {
            std::lock_guard lock(mutex);
            ++threads;
            ++starting;
        }
        if (StartDetached(&TPool::Main, this))
            return true;
        std::lock_guard lock(mutex);
        --threads;
        --starting;
        return false;
    }

    int Threads()
    {
        std::lock_guard lock(mutex);
        return threads;
    }

    int64_t CpuNs() const { return cpuNs.load(); }

private:
    static void *Main(void *self)
    {
        NameThisThread(static_cast<TPool *>(self)->name);
        static_cast<TPool *>(self)->Serve();
        return nullptr;
    }

    void Serve();

    TRunner &runner;
    void (TRunner::*work)(TJob *);
    const int maxThreads;
    const char *const name;
    // A thread waiting for work; a job is handed to it directly.
    struct TIdle
    {
        std::condition_variable Wake;
        TJob *Job = nullptr;
    };

    std::mutex mutex;
    std::deque<TJob *> jobs;
    // The thread that went idle last takes the next job: threads beyond what the work needs stay at the
    // bottom and leave when their idle life runs out, instead of each being kept warm in turn.
    std::vector<TIdle *> idle;
    int threads = 0;
    int starting = 0; // created, not yet waiting for work
    std::atomic<int64_t> cpuNs{0};
};

class TRunner
{
public:
    void Submit(TJob *job)
    {
        Note(TNote::New, job);
        if (!pollerUp.load(std::memory_order_acquire))
            StartPoller();
    }

    void Note(TNote kind, TJob *job)
    {
        bool wake = false;
        {
            std::lock_guard lock(inboxMutex);
            inbox.push_back({kind, job});
            // A busy poller looks at the inbox before it next waits; only a waiting one needs waking.
            if (pollerWaiting && !wakeSent) {
                wakeSent = true;
                wake = true;
            }
        }
        const int fd = wakeFd.load(std::memory_order_acquire);
        if (wake && fd >= 0) {
            const uint64_t one = 1;
            [[maybe_unused]] const ssize_t n = write(fd, &one, sizeof one);
        }
    }

    TCheckRunnerFigures Figures()
    {
        TCheckRunnerFigures f;
        {
            std::lock_guard lock(figuresMutex);
            f = figures;
        }
        f.PlusThreads = plus.Threads();
        f.ResolverThreads = resolver.Threads();
        f.PlusCpuNs = plus.CpuNs();
        f.ResolverCpuNs = resolver.CpuNs();
        return f;
    }

    void ResetPeak()
    {
        std::lock_guard lock(figuresMutex);
        figures.PeakInFlight = figures.InFlight;
    }

    // The extended probe after its sweep: the device-list library call, on a thread of the pool.
    void RunPlus(TJob *job)
    {
        try {
            QByteArray report;
            job->Result.ProbeState
                = FetchDeviceList(DeviceListLibraryCandidates(), job->Address.Host, job->TimeOut, report);
            if (job->Result.ProbeState == psReport)
                job->Result.ReportText = DecodeExternalText(report);
        } catch (...) {
            // the state reached stands
        }
        Deliver(job);
        Note(TNote::PlusDone, nullptr);
    }

    void CountRefusedThread()
    {
        std::lock_guard lock(figuresMutex);
        ++figures.ThreadsRefused;
    }

    void Resolve(TJob *job)
    {
        bool local = false;
        const bool found = ResolveIPv4(job->Address.Host, job->Ip, &local);
        Note(found ? TNote::Resolved : local ? TNote::ResolveStarved : TNote::Unresolved, job);
    }

private:
    // On the first check, and again on later ones while the system refuses: the poller's thread. The
    // checks wait in the inbox meanwhile.
    void StartPoller()
    {
        std::lock_guard lock(startMutex);
        if (pollerUp.load())
            return;
        const int64_t now = NowNs();
        if (lastStartTry != 0 && now - lastStartTry < RetryNs)
            return;
        const bool first = lastStartTry == 0;
        lastStartTry = now;
        // The first time only, a short wait rides out a passing shortage, as a refused thread did before.
        for (int attempt = 0; attempt < (first ? 10 : 1); ++attempt) {
            if (attempt > 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            if (StartDetached(&TRunner::PollerMain, this)) {
                pollerUp.store(true, std::memory_order_release);
                return;
            }
            CountRefusedThread();
        }
    }

    static void *PollerMain(void *self)
    {
        NameThisThread("zyr-poller");
        static_cast<TRunner *>(self)->Poll();
        return nullptr;
    }

    // The poller's own descriptors; with the table full it waits for them like any check.
    void OpenPoller()
    {
        for (;;) {
            if (epollFd < 0)
                epollFd = epoll_create1(EPOLL_CLOEXEC);
            const int wake = wakeFd.load() < 0 ? eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC) : wakeFd.load();
            if (epollFd >= 0 && wake >= 0) {
                epoll_event ev{};
                ev.events = EPOLLIN;
                ev.data.u64 = WakeTag;
                if (epoll_ctl(epollFd, EPOLL_CTL_ADD, wake, &ev) == 0) {
                    wakeFd.store(wake, std::memory_order_release);
                    return;
                }
            }
            if (wake >= 0)
                close(wake);
            std::this_thread::sleep_for(std::chrono::nanoseconds(RetryNs));
        }
    }

    void Poll()
    {
        OpenPoller();
        // One of each pool at once, so that extended checks and host names always have a thread, also
        // when the system later refuses new ones.
        if (!plus.Grow())
            CountRefusedThread();
        if (!resolver.Grow())
            CountRefusedThread();
        std::vector<epoll_event> events(EventBatch);
        for (;;) {
            if (ending.load())
                Park();
            TakeInbox();
            StartWaiting();
            GrowPools();
            const int n = epoll_wait(epollFd, events.data(), EventBatch, WaitBegins(TimeoutMs()));
            {
                std::lock_guard lock(inboxMutex);
                pollerWaiting = false;
            }
            for (int i = 0; i < n; ++i) {
                if (events[size_t(i)].data.u64 == WakeTag) {
                    uint64_t count;
                    [[maybe_unused]] const ssize_t r = read(wakeFd.load(), &count, sizeof count);
                    continue;
                }
                const uint32_t slot = uint32_t(events[size_t(i)].data.u64);
                if (slot < connections.size() && connections[slot])
                    OnEvent(connections[slot], events[size_t(i)].events);
            }
            // Events still waiting in the kernel are handled before any time limit runs out: a reply that
            // is there counts, however busy this thread was.
            if (n < EventBatch)
                ExpireTimers(NowNs());
        }
    }

    // The wait's time-out, 0 when notes came in meanwhile; from here on a note wakes the poller.
    int WaitBegins(int timeoutMs)
    {
        std::lock_guard lock(inboxMutex);
        if (!inbox.empty())
            return 0;
        pollerWaiting = true;
        return timeoutMs;
    }

    void TakeInbox()
    {
        {
            std::lock_guard lock(inboxMutex);
            taken.swap(inbox);
            wakeSent = false;
        }
        for (const TNoteItem &item : taken) {
            TJob *job = item.Job;
            switch (item.Kind) {
            case TNote::New:
                waiting.push_back(job);
                break;
            case TNote::Resolved:
                Release(Cost(job));
                job->HasIp = true;
                job->Phase = TPhase::Queued;
                waiting.push_front(job); // its turn came already
                break;
            case TNote::Unresolved:
                Release(Cost(job));
                Deliver(job);
                break;
            case TNote::ResolveStarved:
                Release(Cost(job));
                Starved(job);
                break;
            case TNote::PlusDone:
                Release(PlusCheckDescriptors);
                break;
            }
        }
        taken.clear();
    }

    // Starts checks from the queue while their descriptors fit; in order, so that none waits for ever.
    void StartWaiting()
    {
        sliceFull = false;
        if (waiting.empty())
            return;
        const int64_t now = NowNs();
        if (inFlight == 0) {
            if (retryAt != 0 && now < retryAt)
                return;
            // Sized afresh whenever nothing of ours is open: the limit, less the reserve, less what the
            // rest of the program holds.
            fileLimit = OpenFileLimit();
            capacity = DescriptorBudget();
            SetFigure(&TCheckRunnerFigures::Capacity, capacity);
        }
        retryAt = 0;
        int started = 0;
        for (; !waiting.empty(); ++started) {
            if (started == StartSlice) {
                sliceFull = true;
                break;
            }
            TJob *job = waiting.front();
            if (!job->Split) {
                job->Address = SplitTarget(job->Target, job->IsPlus);
                job->Split = true;
                job->HasIp = inet_pton(AF_INET, job->Address.Host.c_str(), &job->Ip) == 1;
            }
            const int cost = Cost(job);
            if (inFlight + cost > capacity && inFlight > 0)
                break;
            waiting.pop_front();
            Hold(cost);
            if (!job->HasIp) {
                job->Phase = TPhase::Resolving;
                resolver.Post(job);
            } else if (!(job->IsPlus ? Sweep(job) : Connect(job))) {
                break;
            }
        }
        std::lock_guard lock(figuresMutex);
        figures.Queued = int(waiting.size());
        if (started > 0)
            figures.LastStartNs = NowNs();
    }

    // A pool without a thread (the system refused them) is asked for one again on the retry timer.
    void GrowPools()
    {
        const int64_t now = NowNs();
        if (threadRetryAt != 0 && now < threadRetryAt)
            return;
        threadRetryAt = 0;
        for (TPool *pool : {&plus, &resolver}) {
            if (pool->Orphaned() && !pool->Grow()) {
                CountRefusedThread();
                threadRetryAt = now + RetryNs;
            }
        }
    }

    int TimeoutMs()
    {
        if (sliceFull)
            return 0;
        int64_t due = INT64_MAX;
        while (!timers.empty() && !Live(timers.top()))
            timers.pop();
        if (!timers.empty())
            due = timers.top().Due;
        if (retryAt != 0)
            due = std::min(due, retryAt);
        if (threadRetryAt != 0)
            due = std::min(due, threadRetryAt);
        if (due == INT64_MAX)
            return -1;
        const int64_t left = due - NowNs();
        if (left <= 0)
            return 0;
        return int(std::min<int64_t>((left + 999'999) / 1'000'000, 24 * 3600 * 1000));
    }

    // Step 4 for an ordinary check: a socket and a non-blocking connect. False when the socket could not
    // be had (the check is back at the head of the queue).
    bool Connect(TJob *job)
    {
        int fd = OpenTcpSocket();
        if (fd < 0 && IsLocalResourceError(errno)) {
            Release(1);
            Starved(job);
            return false;
        }
        if (fd >= 0 && fileLimit - fd <= DescriptorReserve) {
            close(fd);
            Release(1);
            Starved(job);
            return false;
        }
        if (fd < 0) {
            Release(1);
            Deliver(job);
            return true;
        }
        job->Fd = fd;
        job->Phase = TPhase::Connecting;
        job->Result.ProbeState = psNoAnswer;
        const int err = StartConnect(fd, job->Ip, job->Address.Port);
        if (err != 0 && err != EINPROGRESS) {
            if (IsLocalResourceError(err)) {
                close(fd);
                job->Fd = -1;
                Release(1);
                Starved(job);
                return false;
            }
            Finish(job);
            return true;
        }
        Attach(job);
        // On loopback the handshake is mostly done by now, and the request goes out at once. On a connection
        // still being set up the send fails with EAGAIN and nothing reaches the wire; the request then waits
        // for the connect as before.
        bool connected = err == 0;
        if (!connected) {
            const ssize_t n = SendSome(fd, StatusRequest.data(), StatusRequest.size());
            if (n > 0) {
                connected = true;
                job->Sent = uint8_t(n);
            } else if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
                Finish(job); // the connect failed (refused, unreachable)
                return true;
            }
        }
        epoll_event ev{};
        ev.events = EPOLLIN | EPOLLRDHUP | EPOLLET;
        if (job->Sent < StatusRequest.size())
            ev.events |= EPOLLOUT;
        ev.data.u64 = job->Slot;
        if (epoll_ctl(epollFd, EPOLL_CTL_ADD, fd, &ev) != 0) {
            Finish(job);
            return true;
        }
        if (connected) {
            Connected(job);
            return true;
        }
        // TimeOut div 2; below 1 ms the kernel's own connect time applies.
        const int limit = job->TimeOut / 2;
        if (limit > 0)
            Arm(job, NowNs() + int64_t(limit) * 1'000'000);
        return true;
    }

    // The extended check's sweep from its current port on: connect and close, each within TimeOut div 4,
    // ended by the first refusal; on loopback a connect is mostly over when the call returns and is not
    // waited for. After the last port the library call goes to the pool. False when a socket could not be
    // had (the check is back at the head of the queue, to sweep again from its own port).
    bool Sweep(TJob *job)
    {
        for (; job->SweepStep <= std::size(PlusSweepPorts); ++job->SweepStep) {
            const uint16_t port
                = job->SweepStep == 0 ? job->Address.Port : PlusSweepPorts[job->SweepStep - 1];
            const int fd = OpenTcpSocket();
            if (fd < 0) {
                if (IsLocalResourceError(errno))
                    return SweepStarved(job);
                Finish(job);
                return true;
            }
            if (fileLimit - fd <= DescriptorReserve) {
                close(fd);
                return SweepStarved(job);
            }
            int err = StartConnect(fd, job->Ip, port);
            if (err == EINPROGRESS && ConnectEstablished(fd))
                err = 0;
            else if (err == EINPROGRESS && (err = ConnectError(fd)) == 0)
                err = EINPROGRESS; // not refused by now either: still under way
            if (err == 0) {
                close(fd);
                continue;
            }
            if (err != EINPROGRESS) {
                close(fd);
                if (IsLocalResourceError(err))
                    return SweepStarved(job);
                Finish(job);
                return true;
            }
            job->Fd = fd;
            job->Phase = TPhase::Sweeping;
            Attach(job);
            epoll_event ev{};
            ev.events = EPOLLOUT | EPOLLET;
            ev.data.u64 = job->Slot;
            if (epoll_ctl(epollFd, EPOLL_CTL_ADD, fd, &ev) != 0) {
                Finish(job);
                return true;
            }
            // Below 1 ms the kernel's own connect time applies.
            const int limit = job->TimeOut / 4;
            if (limit > 0)
                Arm(job, NowNs() + int64_t(limit) * 1'000'000);
            return true;
        }
        job->Phase = TPhase::Plus;
        plus.Post(job);
        return true;
    }

    // A sweep port's connect came to its end.
    void SweepSettled(TJob *job, int error)
    {
        CloseSocket(job);
        if (error != 0) {
            if (IsLocalResourceError(error))
                SweepStarved(job);
            else
                Finish(job);
            return;
        }
        ++job->SweepStep;
        Sweep(job);
    }

    bool SweepStarved(TJob *job)
    {
        CloseSocket(job);
        job->SweepStep = 0;
        Release(PlusCheckDescriptors);
        Starved(job);
        return false;
    }

    void OnEvent(TJob *job, uint32_t events)
    {
        const bool readable = events & (EPOLLIN | EPOLLRDHUP | EPOLLERR | EPOLLHUP);
        switch (job->Phase) {
        case TPhase::Connecting: {
            const int error = ConnectError(job->Fd);
            if (error == 0 && !(events & (EPOLLOUT | EPOLLERR | EPOLLHUP)))
                return; // still on its way
            if (error != 0) {
                Finish(job);
                return;
            }
            job->Readable = readable;
            Connected(job);
            return;
        }
        case TPhase::Sending:
            job->Readable = job->Readable || readable;
            if (events & (EPOLLOUT | EPOLLERR | EPOLLHUP))
                Send(job);
            return;
        case TPhase::Replying:
            if (readable)
                Receive(job);
            return;
        case TPhase::Sweeping: {
            const int error = ConnectError(job->Fd);
            if (error == 0 && !(events & (EPOLLOUT | EPOLLERR | EPOLLHUP)))
                return;
            SweepSettled(job, error);
            return;
        }
        default:
            return;
        }
    }

    void Connected(TJob *job)
    {
        job->Result.ProbeState = psConnected;
        Send(job);
    }

    // Step 6: the request in full, each wait for room bounded like the reply wait.
    void Send(TJob *job)
    {
        while (job->Sent < StatusRequest.size()) {
            const ssize_t n
                = SendSome(job->Fd, StatusRequest.data() + job->Sent, StatusRequest.size() - job->Sent);
            if (n > 0) {
                job->Sent = uint8_t(job->Sent + n);
                continue;
            }
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                if (job->Phase != TPhase::Sending) {
                    job->Phase = TPhase::Sending;
                    Arm(job, NowNs() + int64_t(ReplyWaitMs) * 1'000'000);
                }
                return;
            }
            Finish(job);
            return;
        }
        // Step 7: the fixed reply wait.
        job->Phase = TPhase::Replying;
        Arm(job, NowNs() + int64_t(ReplyWaitMs) * 1'000'000);
        if (job->Readable)
            Receive(job);
    }

    // Step 8: exactly one receive.
    void Receive(TJob *job)
    {
        std::array<unsigned char, ReplyBufferSize> reply{};
        const ssize_t received = ReceiveSome(job->Fd, reply.data(), reply.size());
        try {
            AcceptStatusReply(reply.data(), received, job->Result);
        } catch (...) {
        }
        Finish(job);
    }

    void ExpireTimers(int64_t now)
    {
        while (!timers.empty() && timers.top().Due <= now) {
            const TTimer timer = timers.top();
            timers.pop();
            if (Live(timer))
                Finish(connections[timer.Slot]); // the state reached stands
        }
    }

    bool Live(const TTimer &timer) const
    {
        return timer.Slot < connections.size() && connections[timer.Slot]
            && connections[timer.Slot]->TimerId == timer.Id;
    }

    void Arm(TJob *job, int64_t due)
    {
        job->TimerId = ++lastTimerId;
        timers.push({due, job->Slot, job->TimerId});
    }

    void Attach(TJob *job)
    {
        if (freeSlots.empty()) {
            job->Slot = uint32_t(connections.size());
            connections.push_back(job);
        } else {
            job->Slot = freeSlots.back();
            freeSlots.pop_back();
            connections[job->Slot] = job;
        }
    }

    // Step 9 and the result. An ordinary check holds its share with its socket, an extended one from its
    // start to its result.
    void Finish(TJob *job)
    {
        const bool held = job->IsPlus || job->Fd >= 0;
        CloseSocket(job);
        if (held)
            Release(Cost(job));
        Deliver(job);
    }

    // The socket closed, its slot free, its time limit void.
    void CloseSocket(TJob *job)
    {
        if (job->Fd < 0)
            return;
        close(job->Fd);
        job->Fd = -1;
        job->TimerId = 0;
        if (connections.size() > job->Slot && connections[job->Slot] == job) {
            connections[job->Slot] = nullptr;
            freeSlots.push_back(job->Slot);
        }
    }

    static int Cost(const TJob *job) { return job->IsPlus ? PlusCheckDescriptors : 1; }

    // No descriptor for this check now: it waits at the head of the queue until one of ours is freed (or,
    // with none of ours open, for a while), and the capacity shrinks to what did fit.
    void Starved(TJob *job)
    {
        job->Phase = TPhase::Queued;
        waiting.push_front(job);
        capacity = std::max(inFlight, 1);
        if (inFlight == 0)
            retryAt = NowNs() + RetryNs;
        std::lock_guard lock(figuresMutex);
        ++figures.Waited;
    }

    void Hold(int units)
    {
        inFlight += units;
        std::lock_guard lock(figuresMutex);
        figures.InFlight = inFlight;
        figures.PeakInFlight = std::max(figures.PeakInFlight, inFlight);
    }

    void Release(int units)
    {
        inFlight -= units;
        SetFigure(&TCheckRunnerFigures::InFlight, inFlight);
    }

    void SetFigure(int TCheckRunnerFigures::*field, int value)
    {
        std::lock_guard lock(figuresMutex);
        figures.*field = value;
    }

    static constexpr uint64_t WakeTag = ~uint64_t(0);

    std::mutex startMutex;
    int64_t lastStartTry = 0;
    std::atomic<bool> pollerUp{false};
    int epollFd = -1;
    std::atomic<int> wakeFd{-1};

    std::mutex inboxMutex;
    std::vector<TNoteItem> inbox;
    bool pollerWaiting = true; // also before the poller's first wait: its descriptors take the first note
    bool wakeSent = false;

    std::mutex figuresMutex;
    TCheckRunnerFigures figures;

    TPool plus{*this, &TRunner::RunPlus, MaxPlusThreads, "zyr-plus"};
    TPool resolver{*this, &TRunner::Resolve, MaxResolverThreads, "zyr-resolve"};

    // The poller thread's own.
    std::vector<TNoteItem> taken;
    std::deque<TJob *> waiting;
    std::vector<TJob *> connections; // by slot: the checks holding a socket
    std::vector<uint32_t> freeSlots;
    std::priority_queue<TTimer, std::vector<TTimer>, std::greater<TTimer>> timers;
    uint64_t lastTimerId = 0;
    int inFlight = 0;
    int capacity = 1;
    int fileLimit = INT32_MAX;
    int64_t retryAt = 0;
    int64_t threadRetryAt = 0;
    bool sliceFull = false; // the last start slice ended with checks that could start
};

void TPool::Serve()
{
    {
        std::lock_guard lock(mutex);
        --starting;
    }
    for (;;) {
        TJob *job;
        bool spawn = false;
        {
            std::unique_lock lock(mutex);
            if (jobs.empty()) {
                TIdle me;
                for (;;) {
                    idle.push_back(&me);
                    me.Wake.wait_for(lock, IdleThreadLife, [&] { return me.Job != nullptr; });
                    if (me.Job)
                        break; // Post took it off the stack
                    idle.erase(std::find(idle.begin(), idle.end(), &me));
                    if (threads > 1) {
                        --threads;
                        return;
                    }
                }
                job = me.Job;
            } else {
                job = jobs.front();
                jobs.pop_front();
            }
            // More jobs than threads to take them: one more thread, started here rather than on the
            // poller, which has sockets to see to. Each new thread does the same while jobs remain.
            spawn = jobs.size() > idle.size() + size_t(starting) && threads < maxThreads;
        }
        if (spawn && !Grow())
            runner.CountRefusedThread();
        const int64_t before = ThreadCpuNs();
        (runner.*work)(job);
        cpuNs.fetch_add(ThreadCpuNs() - before);
        if (ending.load())
            Park();
    }
}

// Never destroyed: its threads may still run while the process ends.
std::atomic<TRunner *> instance{nullptr};

void ForgetInChild()
{
    // The threads did not come along; the copy's locks may be held by one of them.
    instance.store(nullptr);
}

TRunner &Runner()
{
    TRunner *runner = instance.load(std::memory_order_acquire);
    if (runner)
        return *runner;
    auto *made = new TRunner;
    if (!instance.compare_exchange_strong(runner, made)) {
        delete made;
        return *runner;
    }
    static std::once_flag hooks;
    std::call_once(hooks, [] {
        pthread_atfork(nullptr, nullptr, ForgetInChild);
        atexit(SettleAtExit);
    });
    return *made;
}

} // namespace

void AcceptStatusReply(const unsigned char *Reply, ssize_t Received, TThResponse &Result)
{
    constexpr unsigned char ReplyCode = 19;
    constexpr int ReplyHeaderSize = 9;
    if (Received <= 0 || Reply[0] != 0xDE || Reply[1] != 0xDE || Reply[4] != ReplyCode)
        return;
    Result.ProbeState = psReport;
    const int32_t announced = int32_t(
        uint32_t(Reply[5]) | uint32_t(Reply[6]) << 8 | uint32_t(Reply[7]) << 16 | uint32_t(Reply[8]) << 24);
    const int32_t room = ReplyBufferSize - ReplyHeaderSize;
    const int32_t size = announced <= 0 ? 0 : (announced > room ? room : announced);
    Result.ReportText = DecodeExternalText(reinterpret_cast<const char *>(Reply) + ReplyHeaderSize, size);
}

void TCheckThread::Start(const QString &Target, int32_t TimeOut, bool IsPlus, TCheckResultSink Sink)
{
    auto *job = new TJob;
    job->Target = Target;
    job->TimeOut = EffectiveTimeOut(TimeOut);
    job->IsPlus = IsPlus;
    job->Sink = std::move(Sink);
    job->Result.ProbeState = psNoAnswer;
    Runner().Submit(job);
}

TCheckRunnerFigures CheckRunnerFigures()
{
    return Runner().Figures();
}

void ResetCheckRunnerPeak()
{
    Runner().ResetPeak();
}
