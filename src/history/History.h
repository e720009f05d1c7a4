#pragma once
#include <QString>
#include <QtGlobal>

// What the history keeps of one result and the rules every part of it shares.

inline constexpr int kHistoryStates = 8; // 0..7, as a record's State
// No result is ever 7 (a check running): the history keeps the results of a system in maintenance there, so
// its time counts as neither available nor in alarm.
inline constexpr int kHistoryMaintenance = 7;
inline constexpr qint64 kHourSeconds = 3600;
inline constexpr qint64 kDaySeconds = 86400;
// Hours older than this fold into days.
inline constexpr qint64 kHourlyDays = 35;
inline constexpr int kRetentionMin = 30, kRetentionMax = 3650, kRetentionDefault = 400;

enum class THistoryOrigin
{
    Log = 0, // taken from the event log
    StartUp = 1,
    Periodic = 2,
    Menu = 3,
    Single = 4,
};

struct THistoryResult
{
    QString Address; // the record's IP text: the system's identity
    QString Name;
    qint64 Time = 0; // seconds since the epoch
    int State = 0;
    THistoryOrigin Origin = THistoryOrigin::Periodic;
    int Period = 0; // minutes, the setting in force at the result
};

// How long a result's state holds without a newer result: two periods, or 10 minutes with no period.
inline qint64 HoldSeconds(int period)
{
    return period > 0 ? 2 * qint64(period) * 60 : 600;
}

inline bool IsAvailableState(int state)
{
    return state == 2 || state == 3;
}
inline bool IsAlarmState(int state)
{
    return state == 1 || state == 4 || state == 5 || state == 6;
}

// The log lines of the history.
inline constexpr const char *kHistoryWriteFailed = "Geçmiş veritabanına yazılamadı: %s";
inline constexpr const char *kHistoryRecovered = "Geçmiş veritabanı yeniden yazılabiliyor";
inline constexpr const char *kHistoryMovedAside
    = "Geçmiş veritabanı bozuk, %s olarak ayrıldı; yenisi başlatıldı";
inline constexpr const char *kHistoryImported
    = "Geçmiş bilgi dosyasından alındı: %d satır okundu, %d satır atlandı";
