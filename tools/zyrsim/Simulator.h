#pragma once
#include "SimConfig.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

// Serves a whole fleet of simulated recording systems from one epoll loop.
class TSimulator
{
public:
    explicit TSimulator(std::vector<TSimSystem> systems);
    ~TSimulator();
    TSimulator(const TSimulator &) = delete;
    TSimulator &operator=(const TSimulator &) = delete;

    // Opens every listener. After it, Systems() holds the addresses and ports actually used.
    bool Bind(std::string &error);
    // Runs the loop on the calling thread until Stop.
    void Run();
    // Bind and run on a thread of its own (in-process use by tests).
    bool Start(std::string &error);
    // Safe from any thread and from a signal handler.
    void Stop();

    const std::vector<TSimSystem> &Systems() const { return systems; }
    // The address text a console would be given for system i.
    std::string Target(size_t i) const;
    // Changes how ordinary system i answers from its next connection on; refuse closes its listener, any
    // other mode opens it again on the same port. Safe from any thread but the loop's; returns once the
    // loop has taken it.
    void SetMode(size_t system, const std::string &mode);
    // Connections accepted so far, by anyone.
    uint64_t Accepted() const { return accepted.load(); }
    // Connections accepted on one port of system i (0: its own port).
    uint64_t AcceptedOn(size_t system, int port) const;

private:
    enum class TRole
    {
        Status,
        PlusOwn,
        PlusSweep,
        PlusList
    };
    struct TListener
    {
        int Fd = -1;
        size_t System = 0;
        TRole Role = TRole::Status;
        int Port = 0;
        std::shared_ptr<std::atomic<uint64_t>> Count;
    };
    struct TConnection
    {
        int Fd = -1;
        size_t System = 0;
        TRole Role = TRole::Status;
        std::string In;
        std::string Out;
        std::string Later; // second piece of a split reply
        bool Answered = false;
        bool CloseWhenSent = false;
    };
    enum class TAction
    {
        Reply,
        SecondPiece
    };

    bool OpenListener(
        size_t system, const std::string &host, int port, TRole role, int &boundPort, std::string &error);
    bool PickAutoHost(TSimSystem &system, std::string &error);
    void Accept(const TListener &listener);
    void Readable(uint64_t id);
    void Writable(uint64_t id);
    void Flush(uint64_t id);
    void Drop(uint64_t id);
    void ApplyMode(size_t system, const std::string &mode);
    void Fire(uint64_t id, TAction action);
    std::string OrdinaryReply(const TSimSystem &system, std::string &later) const;
    std::string ListReply(const TSimSystem &system) const;
    int64_t NowMs() const;

    std::vector<TSimSystem> systems;
    std::vector<std::string> reports;
    std::vector<TListener> listeners;
    std::unordered_map<uint64_t, TConnection> connections;
    std::multimap<int64_t, std::pair<uint64_t, TAction>> timers;
    uint64_t nextId = 1;
    int epollFd = -1;
    int wakeFd = -1;
    std::atomic<bool> stopping{false};
    std::atomic<uint64_t> accepted{0};
    std::thread thread;
    std::mutex modesLock;
    std::condition_variable modesDone;
    std::vector<std::pair<size_t, std::string>> newModes; // for the loop to take
    uint64_t modesAsked = 0, modesApplied = 0;
};
