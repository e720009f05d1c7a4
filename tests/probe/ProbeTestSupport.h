#pragma once
#include "probe/CheckThread.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>

// Collects the results that check workers deliver. The shared state outlives the queue, so a worker
// still leaving the sink never touches freed memory.
class TResultQueue
{
public:
    TCheckResultSink Sink()
    {
        return [state = state](std::unique_ptr<TThResponse> r) {
            std::lock_guard lock(state->mutex);
            state->results.push_back(std::move(r));
            state->changed.notify_all();
        };
    }
    // Waits until count results are in, at most limit.
    bool WaitFor(size_t count, std::chrono::milliseconds limit)
    {
        std::unique_lock lock(state->mutex);
        return state->changed.wait_for(lock, limit, [&] { return state->results.size() >= count; });
    }
    std::unique_ptr<TThResponse> Take()
    {
        std::lock_guard lock(state->mutex);
        if (state->results.empty())
            return nullptr;
        auto r = std::move(state->results.front());
        state->results.pop_front();
        return r;
    }
    size_t Size()
    {
        std::lock_guard lock(state->mutex);
        return state->results.size();
    }

private:
    struct TState
    {
        std::mutex mutex;
        std::condition_variable changed;
        std::deque<std::unique_ptr<TThResponse>> results;
    };
    std::shared_ptr<TState> state = std::make_shared<TState>();
};

// Runs one check and waits for its result.
inline std::unique_ptr<TThResponse> CheckOnce(
    const QString &target, int32_t timeOut, bool isPlus, int32_t index = 7)
{
    TResultQueue queue;
    TCheckThread::Start(target, index, timeOut, isPlus, queue.Sink());
    if (!queue.WaitFor(1, std::chrono::seconds(30)))
        return nullptr;
    return queue.Take();
}

#include "Simulator.h"

#include <cstdio>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

// A simulator serving the given systems from this process.
inline std::unique_ptr<TSimulator> StartSimulator(std::vector<TSimSystem> systems)
{
    auto sim = std::make_unique<TSimulator>(std::move(systems));
    std::string error;
    if (!sim->Start(error)) {
        ADD_FAILURE() << "simulator: " << error;
        return nullptr;
    }
    return sim;
}

// A loopback listener whose accept queue is full, so a further connect is never answered: the only
// way to meet a connect time limit without leaving the machine.
class TFullListener
{
public:
    TFullListener();
    ~TFullListener();
    uint16_t Port() const { return port; }
    bool Ready() const { return ready; }
    // Ends the filling connections and takes what waits in the queue, so that a connect held back gets
    // through at its next try. Called again, takes the later ones too.
    void Drain();

private:
    int listener = -1;
    uint16_t port = 0;
    bool ready = false;
    std::vector<int> clients;
    std::vector<int> taken;
};

// A zyrsim process serving a fleet (--fleet N --delay 100, 85 % ordinary, 5 % extended, 5 % refusing,
// 5 % silent systems), each on its own loopback address.
struct TFleetProcess
{
    pid_t pid = -1;
    FILE *out = nullptr;
    std::vector<std::vector<std::string>> lines; // name, target, kind, mode

    bool Start(int count, const std::string &base);
    // At a random base address; a few tries, as other tests may hold an address.
    bool StartSomewhere(int count);
    // The exit status of zyrsim.
    int Stop();
    ~TFleetProcess() { Stop(); }
};
