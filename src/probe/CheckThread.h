#pragma once
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <QString>
#include <string>

enum TProbeState : int32_t
{
    psNoAnswer = 1, // no connection
    psConnected = 2, // connected, no acceptable report
    psReport = 3, // report received
};

// One check's outcome. The worker creates it and hands it over through the sink; from then on it
// belongs to the receiver; whatever names the check (the engine's cycle and record) travels in the sink.
struct TThResponse
{
    int32_t ProbeState = psNoAnswer;
    // The recording system's bytes, decoded once by DecodeExternalText; zero bytes are kept.
    QString ReportText;
};

// Called exactly once per check, on one of the check runner's threads (never the thread that started the
// check). The console posts a QEvent (QEvent::User + 1) owning the result; tests push into a queue. It must
// not block for long and must not throw.
using TCheckResultSink = std::function<void(std::unique_ptr<TThResponse>)>;

constexpr int32_t DefaultProbePort = 17000;
constexpr int32_t DefaultPlusPort = 80;
constexpr int ReplyBufferSize = 512;
constexpr int ReplyWaitMs = 512;

// Host and port of a check, split from the operator's address text.
struct TProbeTarget
{
    std::string Host; // UTF-8 bytes of the text before the first ':'
    uint16_t Port = 0;
};
TProbeTarget SplitTarget(const QString &Target, bool IsPlus);

// One check started on the check runner like the console's, the calling thread waiting for its result;
// any number of threads may wait at once. The check's own limits end it long before the wait's bound
// (twice TimeOut and both reply waits, and three minutes more for a host-name lookup, a turn in the
// runner's queue or a connect with no limit of its own); past the bound the call raises EZyrError and the
// late result is dropped.
TThResponse RunCheck(const QString &Target, int32_t TimeOut, bool IsPlus);
// The same with a bound of the caller's.
TThResponse RunCheck(const QString &Target, int32_t TimeOut, bool IsPlus, std::chrono::milliseconds Bound);

// One check of one recording system, handed to the check runner: ordinary systems are probed by one
// event-driven thread, extended systems and host-name lookups on small worker pools. A check that finds
// no free descriptor or thread waits for one; its time limits start when it starts. The caller keeps
// nothing and never waits for it.
class TCheckThread
{
public:
    // Queues the check and returns at once. TimeOut is in milliseconds; a negative value counts as 5000.
    static void Start(const QString &Target, int32_t TimeOut, bool IsPlus, TCheckResultSink Sink);

    TCheckThread() = delete;
};
