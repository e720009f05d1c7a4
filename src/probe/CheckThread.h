#pragma once
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
// belongs to the receiver.
struct TThResponse
{
    int32_t RecordIndex = 0;
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

// One whole check on the calling thread, with the same wire bytes, limits and verdicts as a started one:
// the address split, the probe of an ordinary or extended system, every wait bounded by TimeOut
// (negative: 5000) and the fixed reply wait. Never raises; RecordIndex of the result is 0.
TThResponse RunCheck(const QString &Target, int32_t TimeOut, bool IsPlus);

// One check of one recording system, handed to the check runner: ordinary systems are probed by one
// event-driven thread, extended systems and host-name lookups on small worker pools. A check that finds
// no free descriptor or thread waits for one; its time limits start when it starts. The caller keeps
// nothing and never waits for it.
class TCheckThread
{
public:
    // Queues the check and returns at once. TimeOut is in milliseconds; a negative value counts as 5000.
    static void Start(
        const QString &Target, int32_t RecordIndex, int32_t TimeOut, bool IsPlus, TCheckResultSink Sink);

    TCheckThread() = delete;
};
