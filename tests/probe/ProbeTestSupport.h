#pragma once
#include "probe/CheckThread.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>

// A delivered result with the tag of the sink it came through.
struct TTaggedResult
{
    int32_t Tag = 0;
    std::unique_ptr<TThResponse> Response;

    explicit operator bool() const { return Response != nullptr; }
    TThResponse *operator->() const { return Response.get(); }
};

// Collects the results that check workers deliver. The shared state outlives the queue, so a worker
// still leaving the sink never touches freed memory.
class TResultQueue
{
public:
    // Tag tells the test which check a result belongs to.
    TCheckResultSink Sink(int32_t Tag = 0)
    {
        return [state = state, Tag](std::unique_ptr<TThResponse> r) {
            std::lock_guard lock(state->mutex);
            state->results.push_back({Tag, std::move(r)});
            state->changed.notify_all();
        };
    }
    // Waits until count results are in, at most limit.
    bool WaitFor(size_t count, std::chrono::milliseconds limit)
    {
        std::unique_lock lock(state->mutex);
        return state->changed.wait_for(lock, limit, [&] { return state->results.size() >= count; });
    }
    TTaggedResult Take()
    {
        std::lock_guard lock(state->mutex);
        if (state->results.empty())
            return {};
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
        std::deque<TTaggedResult> results;
    };
    std::shared_ptr<TState> state = std::make_shared<TState>();
};

// Runs one check and waits for its result.
inline std::unique_ptr<TThResponse> CheckOnce(const QString &target, int32_t timeOut, bool isPlus)
{
    TResultQueue queue;
    TCheckThread::Start(target, timeOut, isPlus, queue.Sink());
    if (!queue.WaitFor(1, std::chrono::seconds(30)))
        return nullptr;
    return queue.Take().Response;
}

#include "Loopback.h"
#include "SimFleet.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
