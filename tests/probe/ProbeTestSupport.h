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

#include "Loopback.h"
#include "SimFleet.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
