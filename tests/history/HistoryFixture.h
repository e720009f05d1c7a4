#pragma once
#include "history/HistoryQuery.h"
#include "history/HistoryStore.h"
#include <mutex>
#include <QDateTime>
#include <QStringList>
#include <QTemporaryDir>

// The log lines a store reports, collected from its writer thread.
struct TReported
{
    std::mutex lock;
    QStringList lines;
    THistoryStore::TReport Sink()
    {
        return [this](const QString &line) {
            std::lock_guard guard(lock);
            lines << line;
        };
    }
    QStringList Lines()
    {
        std::lock_guard guard(lock);
        return lines;
    }
};

inline THistoryResult Result(const char *address, qint64 time, int state, int period = 5,
    THistoryOrigin origin = THistoryOrigin::Periodic)
{
    return {QString::fromUtf8(address), QString::fromUtf8(address), time, state, origin, period};
}

// A whole UTC hour, far from any edge of a local day.
inline constexpr qint64 kBase = 1794398400; // 2026-11-11 12:00 UTC

inline qint64 LocalTime(int y, int m, int d, int h = 0, int min = 0)
{
    return QDateTime(QDate(y, m, d), QTime(h, min)).toSecsSinceEpoch();
}
