#include "Simulator.h"

#include "DeviceListProtocol.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <netinet/in.h>
#include <random>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// epoll data: listeners carry their index with the top bit set, connections their id.
constexpr uint64_t ListenerTag = uint64_t(1) << 63;
constexpr uint64_t WakeTag = ~uint64_t(0);

void PutLe32(std::string &out, int32_t value)
{
    const uint32_t v = uint32_t(value);
    for (int i = 0; i < 4; ++i)
        out += char((v >> (8 * i)) & 0xFF);
}

} // namespace

TSimulator::TSimulator(std::vector<TSimSystem> systemList)
    : systems(std::move(systemList))
{
    epollFd = epoll_create1(EPOLL_CLOEXEC);
    wakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.u64 = WakeTag;
    epoll_ctl(epollFd, EPOLL_CTL_ADD, wakeFd, &ev);
}

TSimulator::~TSimulator()
{
    Stop();
    if (thread.joinable())
        thread.join();
    for (auto &[id, c] : connections)
        close(c.Fd);
    for (const TListener &l : listeners)
        close(l.Fd);
    close(wakeFd);
    close(epollFd);
}

int64_t TSimulator::NowMs() const
{
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1000LL + t.tv_nsec / 1000000;
}

std::string TSimulator::Target(size_t i) const
{
    const TSimSystem &s = systems.at(i);
    return s.Host + ":" + std::to_string(s.Port);
}

bool TSimulator::OpenListener(
    size_t system, const std::string &host, int port, TRole role, int &boundPort, std::string &error)
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        error = std::string("socket: ") + strerror(errno);
        return false;
    }
    const int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_port = htons(uint16_t(port));
    inet_pton(AF_INET, host.c_str(), &at.sin_addr);
    if (bind(fd, reinterpret_cast<sockaddr *>(&at), sizeof at) < 0 || listen(fd, SOMAXCONN) < 0) {
        error = host + ":" + std::to_string(port) + ": " + strerror(errno);
        close(fd);
        return false;
    }
    socklen_t len = sizeof at;
    getsockname(fd, reinterpret_cast<sockaddr *>(&at), &len);
    boundPort = ntohs(at.sin_port);
    listeners.push_back({fd, system, role, role == TRole::Status || role == TRole::PlusOwn ? 0 : port,
        std::make_shared<std::atomic<uint64_t>>(0)});
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.u64 = ListenerTag | (listeners.size() - 1);
    epoll_ctl(epollFd, EPOLL_CTL_ADD, fd, &ev);
    return true;
}

// An extended system needs the fixed ports 27101.. to itself; look for a loopback address where they
// are all free, so that simulators of parallel tests do not collide.
bool TSimulator::PickAutoHost(TSimSystem &system, std::string &error)
{
    std::random_device seed;
    std::mt19937 random(seed());
    for (int attempt = 0; attempt < 200; ++attempt) {
        char host[32];
        snprintf(host, sizeof host, "127.%u.%u.%u", 200 + unsigned(random() % 50), unsigned(random() % 256),
            1 + unsigned(random() % 254));
        bool free = true;
        for (const int port : {27101, 27103, 27105, 27106}) {
            const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            sockaddr_in at{};
            at.sin_family = AF_INET;
            at.sin_port = htons(uint16_t(port));
            inet_pton(AF_INET, host, &at.sin_addr);
            free = bind(fd, reinterpret_cast<sockaddr *>(&at), sizeof at) == 0;
            close(fd);
            if (!free)
                break;
        }
        if (free) {
            system.Host = host;
            return true;
        }
    }
    error = system.Name + ": boş bir 127.x.y.z adresi bulunamadı";
    return false;
}

bool TSimulator::Bind(std::string &error)
{
    reports.clear();
    for (size_t i = 0; i < systems.size(); ++i) {
        TSimSystem &s = systems[i];
        if (s.Port < 0)
            s.Port = DefaultPort(s.Kind);
        auto closed = [&](int port) {
            for (const int p : s.Closed)
                if (p == port)
                    return true;
            return false;
        };
        // A parallel test may take a free address between the look and the bind: look again.
        const bool autoHost = s.Host == "auto";
        for (int attempt = 0;; ++attempt) {
            if (autoHost && !PickAutoHost(s, error))
                return false;
            const size_t before = listeners.size();
            std::string why;
            bool ok = true;
            int bound = s.Port;
            if (s.Kind == TSimKind::Ordinary) {
                if (s.Mode != "refuse")
                    ok = OpenListener(i, s.Host, s.Port, TRole::Status, bound, why);
            } else {
                if (!closed(0))
                    ok = OpenListener(i, s.Host, s.Port, TRole::PlusOwn, bound, why);
                for (const int port : {27101, 27103, 27105, 27106}) {
                    int ignored = 0;
                    if (ok && !closed(port))
                        ok = OpenListener(i, s.Host, port, port == 27101 ? TRole::PlusList : TRole::PlusSweep,
                            ignored, why);
                }
            }
            if (ok) {
                s.Port = bound;
                reports.push_back(BuildReport(s)); // after the address is known: it is part of the list
                break;
            }
            while (listeners.size() > before) {
                epoll_ctl(epollFd, EPOLL_CTL_DEL, listeners.back().Fd, nullptr);
                close(listeners.back().Fd);
                listeners.pop_back();
            }
            if (!autoHost || attempt >= 20) {
                error = s.Name + ": " + why;
                return false;
            }
            s.Host = "auto";
        }
    }
    return true;
}

uint64_t TSimulator::AcceptedOn(size_t system, int port) const
{
    for (const TListener &l : listeners)
        if (l.System == system && l.Port == port)
            return l.Count->load();
    return 0;
}

bool TSimulator::Start(std::string &error)
{
    if (!Bind(error))
        return false;
    thread = std::thread([this] { Run(); });
    return true;
}

void TSimulator::Stop()
{
    stopping.store(true);
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = write(wakeFd, &one, sizeof one);
}

void TSimulator::ApplyMode(size_t system, const std::string &mode)
{
    if (system >= systems.size() || systems[system].Kind != TSimKind::Ordinary)
        return;
    TSimSystem &s = systems[system];
    TListener *status = nullptr;
    for (TListener &l : listeners)
        if (l.System == system && l.Role == TRole::Status)
            status = &l;
    // Refusing is having no listener: it closes, and opens again on the same port when the mode changes.
    if (mode == "refuse" && status && status->Fd >= 0) {
        epoll_ctl(epollFd, EPOLL_CTL_DEL, status->Fd, nullptr);
        close(status->Fd);
        status->Fd = -1;
    } else if (mode != "refuse" && (!status || status->Fd < 0)) {
        int bound = s.Port;
        std::string error;
        if (!status) {
            if (!OpenListener(system, s.Host, s.Port, TRole::Status, bound, error))
                fprintf(stderr, "zyrsim: %s\n", error.c_str());
        } else {
            const size_t index = size_t(status - listeners.data());
            const TListener kept = *status;
            listeners.erase(listeners.begin() + std::ptrdiff_t(index));
            if (OpenListener(system, s.Host, s.Port, TRole::Status, bound, error)) {
                // Back in its place: the epoll tags name listeners by index.
                TListener opened = listeners.back();
                listeners.pop_back();
                opened.Count = kept.Count;
                listeners.insert(listeners.begin() + std::ptrdiff_t(index), opened);
                epoll_event ev{};
                ev.events = EPOLLIN;
                ev.data.u64 = ListenerTag | index;
                epoll_ctl(epollFd, EPOLL_CTL_MOD, opened.Fd, &ev);
            } else {
                listeners.insert(listeners.begin() + std::ptrdiff_t(index), kept);
                fprintf(stderr, "zyrsim: %s\n", error.c_str());
            }
        }
    }
    s.Mode = mode;
}

void TSimulator::SetMode(size_t system, const std::string &mode)
{
    std::unique_lock lock(modesLock);
    newModes.emplace_back(system, mode);
    const uint64_t asked = ++modesAsked;
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = write(wakeFd, &one, sizeof one);
    // Returns once the loop has taken it, so the next connection meets the new mode.
    modesDone.wait(lock, [&] { return modesApplied >= asked || stopping.load(); });
}

void TSimulator::Run()
{
    epoll_event events[256];
    while (!stopping.load()) {
        int wait = -1;
        if (!timers.empty()) {
            const int64_t left = timers.begin()->first - NowMs();
            wait = left <= 0 ? 0 : int(left);
        }
        const int n = epoll_wait(epollFd, events, 256, wait);
        if (n < 0 && errno != EINTR)
            break;
        for (int k = 0; k < n; ++k) {
            const uint64_t tag = events[k].data.u64;
            if (tag == WakeTag) {
                uint64_t count = 0;
                [[maybe_unused]] const ssize_t r = read(wakeFd, &count, sizeof count);
                std::lock_guard lock(modesLock);
                for (auto &[system, mode] : newModes)
                    ApplyMode(system, mode);
                newModes.clear();
                modesApplied = modesAsked;
                modesDone.notify_all();
                continue;
            }
            if (tag & ListenerTag) {
                Accept(listeners[tag & ~ListenerTag]);
                continue;
            }
            if (events[k].events & (EPOLLIN | EPOLLHUP | EPOLLERR))
                Readable(tag);
            if (events[k].events & EPOLLOUT)
                Writable(tag);
        }
        const int64_t now = NowMs();
        while (!timers.empty() && timers.begin()->first <= now) {
            const auto [id, action] = timers.begin()->second;
            timers.erase(timers.begin());
            Fire(id, action);
        }
    }
}

void TSimulator::Accept(const TListener &listener)
{
    for (;;) {
        const int fd = accept4(listener.Fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0)
            return;
        accepted.fetch_add(1);
        listener.Count->fetch_add(1);
        const TSimSystem &s = systems[listener.System];
        if ((listener.Role == TRole::Status && s.Mode == "close") || listener.Role == TRole::PlusOwn
            || listener.Role == TRole::PlusSweep
            || (listener.Role == TRole::PlusList && s.ListMode == "close")) {
            close(fd);
            continue;
        }
        const uint64_t id = nextId++;
        TConnection &c = connections[id];
        c.Fd = fd;
        c.System = listener.System;
        c.Role = listener.Role;
        epoll_event ev{};
        ev.events = EPOLLIN;
        ev.data.u64 = id;
        epoll_ctl(epollFd, EPOLL_CTL_ADD, fd, &ev);
    }
}

void TSimulator::Readable(uint64_t id)
{
    auto it = connections.find(id);
    if (it == connections.end())
        return;
    TConnection &c = it->second;
    char chunk[4096];
    const ssize_t n = recv(c.Fd, chunk, sizeof chunk, 0);
    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
        Drop(id);
        return;
    }
    if (n < 0 || c.Answered)
        return;
    c.In.append(chunk, size_t(n));
    if (c.In.size() > 64)
        c.In.resize(64); // requests are short; whatever follows is ignored
    const TSimSystem &s = systems[c.System];
    if (c.Role == TRole::Status) {
        if (c.In.size() < 6)
            return;
        static const char request[5] = {char(0xDE), char(0xDE), 6, 0, 10};
        if (memcmp(c.In.data(), request, 5) != 0) {
            Drop(id);
            return;
        }
        c.Answered = true;
        if (s.Mode != "silent")
            timers.emplace(NowMs() + s.DelayMs, std::make_pair(id, TAction::Reply));
    } else {
        if (c.In.size() < size_t(DeviceList::RequestSize))
            return;
        if (memcmp(c.In.data(), DeviceList::Magic, 4) != 0 || c.In[4] != char(DeviceList::CommandList)) {
            Drop(id);
            return;
        }
        c.Answered = true;
        if (s.ListMode != "silent")
            timers.emplace(NowMs() + s.ListDelayMs, std::make_pair(id, TAction::Reply));
    }
}

std::string TSimulator::OrdinaryReply(const TSimSystem &s, std::string &later) const
{
    const std::string &text = reports[size_t(&s - systems.data())];
    std::string frame;
    frame += s.Mode == "badsig" ? char(0xDF) : char(0xDE);
    frame += char(0xDE);
    frame += char(0x00);
    frame += char(0x00);
    frame += s.Mode == "badcode" ? char(20) : char(19);
    int32_t length = int32_t(text.size());
    if (s.Mode == "neglen")
        length = -1;
    if (s.Length)
        length = *s.Length;
    PutLe32(frame, length);
    frame += text;
    const uint32_t total = uint32_t(frame.size());
    frame[2] = char(total & 0xFF);
    frame[3] = char((total >> 8) & 0xFF);
    if (s.Mode == "short")
        frame.resize(4);
    if (s.Mode == "split") {
        const size_t at = s.SplitAt >= 0 ? std::min(size_t(s.SplitAt), frame.size()) : frame.size() / 2;
        later = frame.substr(at);
        frame.resize(at);
    }
    return frame;
}

std::string TSimulator::ListReply(const TSimSystem &s) const
{
    std::string text = reports[size_t(&s - systems.data())];
    if (s.ListMode == "oversize" && text.size() <= DeviceList::MaxText)
        text.append(DeviceList::MaxText + 1 - text.size(), ' ');
    std::string frame(reinterpret_cast<const char *>(DeviceList::Magic), 4);
    if (s.ListMode == "broken")
        frame = "HTTP/1.0 500 Internal Server Error\r\n\r\n";
    else if (s.ListMode == "unavailable") {
        frame += char(DeviceList::StatusUnavailable);
        frame.append(3, '\0');
        PutLe32(frame, 0);
    } else {
        frame += char(DeviceList::StatusOk);
        frame.append(3, '\0');
        PutLe32(frame, int32_t(text.size()));
        frame += text;
        if (s.ListMode == "truncated") {
            frame.resize(DeviceList::ReplyHeaderSize + text.size() / 2);
        }
    }
    return frame;
}

void TSimulator::Fire(uint64_t id, TAction action)
{
    auto it = connections.find(id);
    if (it == connections.end())
        return;
    TConnection &c = it->second;
    const TSimSystem &s = systems[c.System];
    if (action == TAction::SecondPiece) {
        c.Out += c.Later;
        c.Later.clear();
        c.CloseWhenSent = true;
    } else if (c.Role == TRole::Status) {
        c.Out += OrdinaryReply(s, c.Later);
        if (c.Later.empty())
            c.CloseWhenSent = true;
        else
            timers.emplace(NowMs() + s.GapMs, std::make_pair(id, TAction::SecondPiece));
    } else {
        c.Out += ListReply(s);
        c.CloseWhenSent = true;
    }
    Flush(id);
}

void TSimulator::Flush(uint64_t id)
{
    auto it = connections.find(id);
    if (it == connections.end())
        return;
    TConnection &c = it->second;
    while (!c.Out.empty()) {
        const ssize_t n = send(c.Fd, c.Out.data(), c.Out.size(), MSG_NOSIGNAL);
        if (n > 0) {
            c.Out.erase(0, size_t(n));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            epoll_event ev{};
            ev.events = EPOLLIN | EPOLLOUT;
            ev.data.u64 = id;
            epoll_ctl(epollFd, EPOLL_CTL_MOD, c.Fd, &ev);
            return;
        }
        Drop(id);
        return;
    }
    if (c.CloseWhenSent) {
        // The whole reply is out; the peer reads it before it sees the close.
        shutdown(c.Fd, SHUT_WR);
    }
}

void TSimulator::Writable(uint64_t id)
{
    auto it = connections.find(id);
    if (it == connections.end())
        return;
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.u64 = id;
    epoll_ctl(epollFd, EPOLL_CTL_MOD, it->second.Fd, &ev);
    Flush(id);
}

void TSimulator::Drop(uint64_t id)
{
    auto it = connections.find(id);
    if (it == connections.end())
        return;
    epoll_ctl(epollFd, EPOLL_CTL_DEL, it->second.Fd, nullptr);
    close(it->second.Fd);
    connections.erase(it);
}
