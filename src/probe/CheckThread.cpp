#include "probe/CheckThread.h"

#include "platform/Errors.h"
#include "platform/Format.h"
#include "platform/Integers.h"
#include "platform/SettingRules.h"

#include <condition_variable>
#include <mutex>

TProbeTarget SplitTarget(const QString &Target, bool IsPlus)
{
    TProbeTarget address;
    const int32_t defaultPort = IsPlus ? DefaultPlusPort : DefaultProbePort;
    const qsizetype colon = Target.indexOf(QLatin1Char(':'));
    int32_t port = defaultPort;
    if (colon < 0) {
        address.Host = Target.toStdString();
    } else {
        address.Host = Target.left(colon).toStdString();
        port = ReadIntegerDef(Target.mid(colon + 1, 255), defaultPort);
    }
    // No range check: like a 16-bit port field, only the low bits count.
    address.Port = uint16_t(uint32_t(port) & 0xFFFF);
    return address;
}

namespace {

std::chrono::milliseconds WaitBound(int32_t TimeOut)
{
    return std::chrono::milliseconds(2 * int64_t(EffectiveTimeOut(TimeOut)) + 2 * ReplyWaitMs + 180'000);
}

} // namespace

TThResponse RunCheck(const QString &Target, int32_t TimeOut, bool IsPlus)
{
    return RunCheck(Target, TimeOut, IsPlus, WaitBound(TimeOut));
}

TThResponse RunCheck(const QString &Target, int32_t TimeOut, bool IsPlus, std::chrono::milliseconds Bound)
{
    // Shared with the sink, so that a result coming after the bound lands in memory that is still there.
    struct TWait
    {
        std::mutex Mutex;
        std::condition_variable Done;
        std::unique_ptr<TThResponse> Result;
    };
    auto wait = std::make_shared<TWait>();
    TCheckThread::Start(Target, TimeOut, IsPlus, [wait](std::unique_ptr<TThResponse> Result) {
        std::lock_guard lock(wait->Mutex);
        wait->Result = std::move(Result);
        wait->Done.notify_all();
    });
    std::unique_lock lock(wait->Mutex);
    if (!wait->Done.wait_for(lock, Bound, [&] { return wait->Result != nullptr; }))
        throw EZyrError(Format("no result of the check of %s within %d ms", Target, Bound.count()));
    return std::move(*wait->Result);
}
