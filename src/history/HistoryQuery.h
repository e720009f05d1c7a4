#pragma once
#include "history/AlarmNotes.h"
#include "history/Database.h"
#include "history/History.h"
#include <array>
#include <QDate>
#include <QStringList>
#include <vector>

// Seconds and results per state over some time.
struct TStateTotals
{
    std::array<qint64, kHistoryStates> Seconds{};
    std::array<qint64, kHistoryStates> Results{};
    qint64 Span = 0; // the length of the range up to now: known and unknown time

    qint64 Available() const { return Seconds[2] + Seconds[3]; }
    qint64 Alarm() const { return Seconds[1] + Seconds[4] + Seconds[5] + Seconds[6]; }
    qint64 Known() const { return Available() + Alarm(); }
    // Also part of the unknown time: a result in state 7 counts neither way, as ever.
    qint64 Maintenance() const { return Seconds[kHistoryMaintenance]; }
    qint64 Unknown() const { return std::max<qint64>(0, Span - Known()); }
    // Of the known time; -1 when none is known.
    double AvailabilityPercent() const
    {
        return Known() ? 100.0 * double(Available()) / double(Known()) : -1;
    }
    // The share of known time in alarm, 0..1; -1 when none is known.
    double AlarmShare() const { return Known() ? double(Alarm()) / double(Known()) : -1; }
};

struct THistoryChange
{
    qint64 Time = 0;
    int Before = 0, After = 0;
    THistoryOrigin Origin = THistoryOrigin::Periodic;
    qint64 Lasted = 0; // seconds until the next change, or until the state's last hold ends (or now)
};

struct TMonthRow
{
    QString Name, Address;
    double Availability = -1; // percent of known time; -1 none known
    qint64 AlarmMinutes = 0, Outages = 0, LongestOutageMinutes = 0, UnknownMinutes = 0;
    std::vector<double> Days; // the alarm share of each day of the month, -1 unknown
    qint64 MaintenanceMinutes = 0;
};

// Read-only queries, usable while the writer runs and without one. Every "now" is the moment the answer
// is made for: a range that reaches past it ends there, and the last result's state holds up to it.
class THistoryReader
{
public:
    // Throws EHistoryError when the database cannot be opened (a missing one is never created), or when a
    // call finds it locked for longer than busyMs (the window's reads wait little; a report may wait).
    explicit THistoryReader(const QString &dbPath, int busyMs = 5000);

    // Over [from, to), in whole periods (hours; days beyond the hours kept).
    TStateTotals Totals(const QString &address, qint64 from, qint64 to, qint64 now);
    // The 24 hours up to now's hour and the 30 local days up to today, oldest first.
    std::vector<TStateTotals> LastHours(const QString &address, qint64 now);
    std::vector<TStateTotals> LastDays(const QString &address, qint64 now);
    // Newest first.
    std::vector<THistoryChange> Changes(const QString &address, qint64 now);
    // Acknowledgements and maintenance of a system, oldest first; none in a database older than them.
    std::vector<THistoryMark> Marks(const QString &address);
    // One row per system with results in the month: the given addresses in their order, then the rest by
    // name.
    std::vector<TMonthRow> Month(QDate month, const QStringList &order, qint64 now);

private:
    struct TTail
    {
        qint64 id = 0, from = 0, to = 0;
        int state = 0;
    };
    bool Find(const QString &address, TTail &tail, qint64 now);
    void Add(TStateTotals &totals, const TTail &tail, qint64 from, qint64 to, qint64 now);
    std::vector<TStateTotals> Cells(const QString &address, const std::vector<qint64> &bounds, qint64 now);

    TDatabase db;
};

// Green for no alarm, red for all, blended between; grey when unknown.
QString AlarmColour(double share);
inline constexpr const char *kMaintenanceColour = "#4a7fd0";
// A period's colour: maintenance when it took more of the time than known states did, else its alarm share.
QString PeriodColour(const TStateTotals &totals);
QByteArray MonthCsv(const std::vector<TMonthRow> &rows);
QByteArray MonthHtml(const std::vector<TMonthRow> &rows, QDate month);
