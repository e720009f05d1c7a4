#pragma once
#include <climits>
#include <cstdint>

// The range rules of the ranged settings, for every part that reads them: the settings store, the settings
// dialog, the check engine's timer, the probes and the history.

// A periodic check runs every 1 to 1440 minutes; a stored value below 1 means it is off.
constexpr int kPeriodMin = 1;
constexpr int kPeriodMax = 1440;
// What the settings dialog accepts when periodic checking is ticked.
constexpr bool PeriodAccepted(int Minutes)
{
    return Minutes >= kPeriodMin && Minutes <= kPeriodMax;
}
// The timer interval in milliseconds, 0 when periodic checking is off. A hand-edited period beyond the
// timer's range (about 24 days) waits as long as the timer can.
constexpr int PeriodInterval(int Minutes)
{
    if (Minutes < kPeriodMin)
        return 0;
    const int64_t ms = int64_t(Minutes) * 60000;
    return ms > INT_MAX ? INT_MAX : int(ms);
}

// Time-out of a probe or the mail connection in milliseconds; a value below the least counts as the default.
constexpr int32_t kDefaultTimeOut = 5000;
constexpr int32_t kTimeOutMin = 0;
constexpr int32_t EffectiveTimeOut(int32_t TimeOut)
{
    return TimeOut < kTimeOutMin ? kDefaultTimeOut : TimeOut;
}

// Days of history kept; a stored value outside the range gives the default.
constexpr int kHistoryDaysMin = 30;
constexpr int kHistoryDaysMax = 3650;
constexpr int kHistoryDaysDefault = 400;

// Consecutive results in an alarm state that confirm an alarm; a stored value outside the range gives the
// default, which confirms at once.
constexpr int kAlarmAfterMin = 1;
constexpr int kAlarmAfterMax = 10;
constexpr int kAlarmAfterDefault = 1;
// Seconds from the end of a cycle that found unconfirmed alarms to the check that looks at them again.
constexpr int kRetryIntervalMin = 10;
constexpr int kRetryIntervalMax = 600;
constexpr int kRetryIntervalDefault = 60;
