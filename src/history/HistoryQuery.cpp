#include "HistoryQuery.h"
#include <algorithm>
#include <cmath>
#include <functional>
#include <map>
#include <QDateTime>
#include <QHash>
#include <unordered_map>

namespace {
// A read transaction, so a query sees one cycle's commit whole: the periods and the last results agree.
class TReadTransaction
{
public:
    explicit TReadTransaction(TDatabase &db)
        : db(db)
    {
        db.Exec("BEGIN");
    }
    ~TReadTransaction() { sqlite3_exec(db.Handle(), "COMMIT", nullptr, nullptr, nullptr); }

private:
    TDatabase &db;
};

const char *kPeriodsSql = "SELECT start, n0, n1, n2, n3, n4, n5, n6, n7, s0, s1, s2, s3, s4, s5, s6, s7"
                          " FROM periods WHERE system=?1 AND start>=?2 AND start<?3";

void AddRow(TStateTotals &t, const TStatement &row)
{
    for (int i = 0; i < kHistoryStates; ++i) {
        t.Results[i] += row.Int(1 + i);
        t.Seconds[i] += row.Int(1 + kHistoryStates + i);
    }
}

// Every row of a system that starts in [from, to): from periods by range, from recent (kept in time order)
// hour by hour.
void ForRows(
    TDatabase &db, qint64 system, qint64 from, qint64 to, const std::function<void(const TStatement &)> &use)
{
    TStatement rows(db, kPeriodsSql);
    rows.Bind(1, system).Bind(2, from).Bind(3, to);
    while (rows.Step())
        use(rows);
    // Two subqueries: SQLite looks MIN and MAX up in the key only one at a time; both in one SELECT scan
    // the whole table, once per system in a report.
    TStatement span(db, "SELECT (SELECT MIN(start) FROM recent), (SELECT MAX(start) FROM recent)");
    if (!span.Step() || span.IsNull(0))
        return;
    const qint64 first = std::max(from + (kHourSeconds - from % kHourSeconds) % kHourSeconds, span.Int(0));
    const qint64 last = std::min(to - 1, span.Int(1));
    TStatement hour(db,
        "SELECT start, n0, n1, n2, n3, n4, n5, n6, n7, s0, s1, s2, s3, s4, s5, s6, s7"
        " FROM recent WHERE start=?1 AND system=?2");
    for (qint64 start = first; start <= last; start += kHourSeconds) {
        hour.Bind(1, start).Bind(2, system);
        if (hour.Step())
            use(hour);
    }
}

// Splits the rows of [bounds.front(), bounds.back()) into the cells between the bounds.
void Bin(TDatabase &db, qint64 system, const std::vector<qint64> &bounds, std::vector<TStateTotals> &cells)
{
    ForRows(db, system, bounds.front(), bounds.back(), [&](const TStatement &row) {
        const auto at = std::upper_bound(bounds.begin(), bounds.end(), row.Int(0)) - bounds.begin() - 1;
        AddRow(cells[size_t(at)], row);
    });
}

std::vector<qint64> DayBounds(QDate first, int days)
{
    std::vector<qint64> bounds;
    for (int i = 0; i <= days; ++i)
        bounds.push_back(first.addDays(i).startOfDay().toSecsSinceEpoch());
    return bounds;
}

qint64 Minutes(qint64 seconds)
{
    return (seconds + 30) / 60;
}
} // namespace

THistoryReader::THistoryReader(const QString &dbPath, int busyMs)
{
    db.Open(dbPath, true, busyMs);
}

bool THistoryReader::Find(const QString &address, TTail &tail, qint64 now)
{
    TStatement s(db, "SELECT id, last_time, last_hold, last_state FROM systems WHERE address=?1");
    s.Bind(1, address);
    if (!s.Step())
        return false;
    tail.id = s.Int(0);
    tail.from = s.Int(1);
    tail.to = std::min(s.Int(1) + s.Int(2), now);
    tail.state = int(s.Int(3));
    return true;
}

// The last result's hold, not yet written into the periods.
void THistoryReader::Add(TStateTotals &totals, const TTail &tail, qint64 from, qint64 to, qint64 now)
{
    const qint64 end = std::min(to, now);
    totals.Span += std::max<qint64>(0, end - from);
    const qint64 held = std::min(tail.to, end) - std::max(tail.from, from);
    if (held > 0)
        totals.Seconds[size_t(tail.state)] += held;
}

TStateTotals THistoryReader::Totals(const QString &address, qint64 from, qint64 to, qint64 now)
{
    TReadTransaction read(db);
    TStateTotals totals;
    TTail tail;
    if (!Find(address, tail, now)) {
        totals.Span = std::max<qint64>(0, std::min(to, now) - from);
        return totals;
    }
    ForRows(db, tail.id, from, to, [&](const TStatement &row) { AddRow(totals, row); });
    Add(totals, tail, from, to, now);
    return totals;
}

std::vector<TStateTotals> THistoryReader::Cells(
    const QString &address, const std::vector<qint64> &bounds, qint64 now)
{
    TReadTransaction read(db);
    std::vector<TStateTotals> cells(bounds.size() - 1);
    TTail tail;
    const bool known = Find(address, tail, now);
    if (known)
        Bin(db, tail.id, bounds, cells);
    for (size_t i = 0; i < cells.size(); ++i) {
        if (known)
            Add(cells[i], tail, bounds[i], bounds[i + 1], now);
        else
            cells[i].Span = std::max<qint64>(0, std::min(bounds[i + 1], now) - bounds[i]);
    }
    return cells;
}

std::vector<TStateTotals> THistoryReader::LastHours(const QString &address, qint64 now)
{
    std::vector<qint64> bounds;
    const qint64 hour = now - now % kHourSeconds;
    for (int i = 23; i >= -1; --i)
        bounds.push_back(hour - i * kHourSeconds);
    return Cells(address, bounds, now);
}

std::vector<TStateTotals> THistoryReader::LastDays(const QString &address, qint64 now)
{
    return Cells(address, DayBounds(QDateTime::fromSecsSinceEpoch(now).date().addDays(-29), 30), now);
}

std::vector<THistoryChange> THistoryReader::Changes(const QString &address, qint64 now)
{
    TReadTransaction read(db);
    std::vector<THistoryChange> out;
    TTail tail;
    if (!Find(address, tail, now))
        return out;
    TStatement s(db, "SELECT time, before, after, origin FROM changes WHERE system=?1 ORDER BY time DESC");
    s.Bind(1, tail.id);
    qint64 next = std::max(tail.to, tail.from);
    while (s.Step()) {
        const qint64 time = s.Int(0);
        out.push_back(
            {time, int(s.Int(1)), int(s.Int(2)), THistoryOrigin(s.Int(3)), std::max<qint64>(0, next - time)});
        next = time;
    }
    return out;
}

std::vector<THistoryMark> THistoryReader::Marks(const QString &address)
{
    TStatement table(db, "SELECT 1 FROM sqlite_master WHERE type='table' AND name='marks'");
    if (!table.Step())
        return {};
    return ReadMarks(db, address, 0);
}

std::vector<TMonthRow> THistoryReader::Month(QDate month, const QStringList &order, qint64 now)
{
    const QDate first(month.year(), month.month(), 1);
    const std::vector<qint64> bounds = DayBounds(first, first.daysInMonth());
    const size_t dayCount = bounds.size() - 1;
    const qint64 from = bounds.front(), to = bounds.back(), end = std::min(to, now);
    TReadTransaction read(db);
    struct TSystemTail
    {
        QString address, name;
        TTail tail;
    };
    std::vector<TSystemTail> systems;
    {
        TStatement s(db, "SELECT id, address, name, last_time, last_hold, last_state FROM systems");
        while (s.Step())
            systems.push_back({s.Text(1), s.Text(2),
                {s.Int(0), s.Int(3), std::min(s.Int(3) + s.Int(4), now), int(s.Int(5))}});
    }
    // A month of 10,000 systems is millions of hourly rows: each is summed in SQL to what the report needs
    // of it, and every row of the month is read in one pass per table, not looked up hour by hour.
    struct TDaySums
    {
        qint64 available = 0, alarm = 0, maintenance = 0;
    };
    const auto add = [&](std::vector<TDaySums> &days, const TStatement &row) {
        TDaySums &day
            = days[size_t(std::upper_bound(bounds.begin(), bounds.end(), row.Int(1)) - bounds.begin() - 1)];
        day.available += row.Int(2);
        day.alarm += row.Int(3);
        day.maintenance += row.Int(4);
    };
    // The hours of today and yesterday, in time order: all systems at once.
    std::unordered_map<qint64, std::vector<TDaySums>> recent;
    std::unordered_map<qint64, qint64> recentResults;
    {
        TStatement s(db,
            "SELECT system, start, s2+s3, s1+s4+s5+s6, s7, n0+n1+n2+n3+n4+n5+n6+n7"
            " FROM recent WHERE start>=?1 AND start<?2");
        s.Bind(1, from).Bind(2, to);
        while (s.Step()) {
            std::vector<TDaySums> &days = recent[s.Int(0)];
            if (days.empty())
                days.resize(dayCount);
            add(days, s);
            recentResults[s.Int(0)] += s.Int(5);
        }
    }
    // The counts of results only tell whether there are any: one row with some answers that, and reading
    // them from every row would cost a third of the time.
    TStatement periods(db,
        "SELECT system, start, s2+s3, s1+s4+s5+s6, s7 FROM periods WHERE system=?1 AND start>=?2 AND "
        "start<?3");
    TStatement anyResult(db,
        "SELECT 1 FROM periods WHERE system=?1 AND start>=?2 AND start<?3 AND n0+n1+n2+n3+n4+n5+n6+n7>0 "
        "LIMIT 1");
    // The change before the month too: an outage may have begun before it.
    TStatement changes(db,
        "SELECT time, after FROM changes WHERE system=?1 AND time<?3 AND time>=IFNULL("
        "(SELECT MAX(time) FROM changes WHERE system=?1 AND time<?2), ?2) ORDER BY time");
    TStatement later(db, "SELECT MIN(time) FROM changes WHERE system=?1 AND time>=?2");
    std::vector<TMonthRow> rows;
    for (const TSystemTail &s : systems) {
        std::vector<TDaySums> days;
        if (auto found = recent.find(s.tail.id); found != recent.end())
            days = std::move(found->second);
        else
            days.resize(dayCount);
        periods.Bind(1, s.tail.id).Bind(2, from).Bind(3, to);
        while (periods.Step())
            add(days, periods);
        TMonthRow row{s.name, s.address, -1, 0, 0, 0, 0, {}};
        row.Days.reserve(dayCount);
        qint64 available = 0, alarm = 0, maintenance = 0, span = 0;
        for (size_t i = 0; i < dayCount; ++i) {
            // The last result's hold, not yet written into the periods.
            TDaySums &day = days[i];
            const qint64 dayEnd = std::min(bounds[i + 1], now);
            span += std::max<qint64>(0, dayEnd - bounds[i]);
            const qint64 held = std::min(s.tail.to, dayEnd) - std::max(s.tail.from, bounds[i]);
            if (held > 0 && IsAvailableState(s.tail.state))
                day.available += held;
            else if (held > 0 && IsAlarmState(s.tail.state))
                day.alarm += held;
            else if (held > 0 && s.tail.state == kHistoryMaintenance)
                day.maintenance += held;
            const qint64 known = day.available + day.alarm;
            row.Days.push_back(known ? double(day.alarm) / double(known) : -1);
            available += day.available;
            alarm += day.alarm;
            maintenance += day.maintenance;
        }
        if (recentResults[s.tail.id] == 0 && !anyResult.Bind(1, s.tail.id).Bind(2, from).Bind(3, to).Step())
            continue;
        const qint64 known = available + alarm;
        row.Availability = known ? 100.0 * double(available) / double(known) : -1;
        row.AlarmMinutes = Minutes(alarm);
        row.MaintenanceMinutes = Minutes(maintenance);
        row.UnknownMinutes = Minutes(std::max<qint64>(0, span - known - maintenance));
        later.Bind(1, s.tail.id).Bind(2, to);
        const qint64 afterMonth
            = later.Step() && !later.IsNull(0) ? later.Int(0) : std::max(s.tail.to, s.tail.from);
        changes.Bind(1, s.tail.id).Bind(2, from).Bind(3, to);
        std::vector<std::pair<qint64, int>> list;
        while (changes.Step())
            list.push_back({changes.Int(0), int(changes.Int(1))});
        qint64 longest = 0;
        for (size_t i = 0; i < list.size(); ++i) {
            if (list[i].second != 1)
                continue;
            if (list[i].first >= from)
                ++row.Outages;
            const qint64 until = i + 1 < list.size() ? list[i + 1].first : afterMonth;
            longest = std::max(longest, std::min(until, end) - std::max(list[i].first, from));
        }
        row.LongestOutageMinutes = Minutes(longest);
        rows.push_back(std::move(row));
    }
    // Each address's place looked up once: a search of the list per comparison is quadratic at 10,000.
    QHash<QString, qsizetype> place;
    place.reserve(order.size());
    for (qsizetype i = order.size() - 1; i >= 0; --i)
        place.insert(order[i], i); // the first place of an address listed twice
    const auto placeOf = [&](const QString &address) { return place.value(address, order.size()); };
    std::stable_sort(rows.begin(), rows.end(), [&](const TMonthRow &a, const TMonthRow &b) {
        const qsizetype ia = placeOf(a.Address), ib = placeOf(b.Address);
        if (ia != ib)
            return ia < ib;
        if (ia < order.size())
            return false;
        return a.Name != b.Name ? a.Name < b.Name : a.Address < b.Address;
    });
    return rows;
}

QString AlarmColour(double share)
{
    if (share < 0)
        return QStringLiteral("#c0c0c0");
    const auto mix = [share](int none, int all) { return int(std::lround(none + (all - none) * share)); };
    return QStringLiteral("#%1%2%3")
        .arg(mix(0x00, 0xd0), 2, 16, QLatin1Char('0'))
        .arg(mix(0xa0, 0x00), 2, 16, QLatin1Char('0'))
        .arg(mix(0x00, 0x00), 2, 16, QLatin1Char('0'));
}

QString PeriodColour(const TStateTotals &totals)
{
    if (totals.Maintenance() > totals.Known())
        return QString::fromLatin1(kMaintenanceColour);
    return AlarmColour(totals.AlarmShare());
}

namespace {
const char16_t *kColumns[] = {u"İsim", u"IP Adresi", u"Kullanılabilirlik (%)", u"Alarm süresi (dk)",
    u"Kesinti sayısı", u"En uzun kesinti (dk)", u"Bilinmeyen süre (dk)", u"Bakım (dk)"};

QStringList Cells(const TMonthRow &r)
{
    const QString availability = r.Availability < 0
        ? QString()
        : QString::number(r.Availability, 'f', 1).replace(QLatin1Char('.'), QLatin1Char(','));
    return {r.Name, r.Address, availability, QString::number(r.AlarmMinutes), QString::number(r.Outages),
        QString::number(r.LongestOutageMinutes), QString::number(r.UnknownMinutes),
        QString::number(r.MaintenanceMinutes)};
}

QString CsvField(QString text)
{
    if (!text.contains(QLatin1Char(';')) && !text.contains(QLatin1Char('"'))
        && !text.contains(QLatin1Char('\n')) && !text.contains(QLatin1Char('\r')))
        return text;
    return QLatin1Char('"') + text.replace(QLatin1String("\""), QLatin1String("\"\"")) + QLatin1Char('"');
}
} // namespace

QByteArray MonthCsv(const std::vector<TMonthRow> &rows)
{
    QStringList header;
    for (const char16_t *c : kColumns)
        header << QString::fromUtf16(c);
    QString text = header.join(QLatin1Char(';')) + QLatin1String("\r\n");
    for (const TMonthRow &r : rows) {
        QStringList fields;
        for (const QString &cell : Cells(r))
            fields << CsvField(cell);
        text += fields.join(QLatin1Char(';')) + QLatin1String("\r\n");
    }
    return QByteArray("\xEF\xBB\xBF") + text.toUtf8();
}

QByteArray MonthHtml(const std::vector<TMonthRow> &rows, QDate month)
{
    const QString title
        = QStringLiteral("Kullanılabilirlik raporu ") + month.toString(QStringLiteral("yyyy-MM"));
    QString html = QStringLiteral("<!DOCTYPE html>\n<html lang=\"tr\"><head><meta charset=\"utf-8\"><title>")
        + title
        + QStringLiteral("</title><style>body{font-family:sans-serif}table{border-collapse:collapse}"
                         "td,th{border:1px solid #999;padding:2px 6px}td.n{text-align:right}"
                         ".g{display:inline-block;width:10px;height:14px;margin-right:1px}</style></head>"
                         "<body><h1>")
        + title + QStringLiteral("</h1><table><tr>");
    for (const char16_t *c : kColumns)
        html += QStringLiteral("<th>") + QString::fromUtf16(c) + QStringLiteral("</th>");
    html += QStringLiteral("<th>Günler</th></tr>\n");
    QStringList titles;
    for (int d = 1; d <= month.daysInMonth(); ++d)
        titles << QDate(month.year(), month.month(), d).toString(QStringLiteral("dd.MM.yyyy"));
    const QString grey = AlarmColour(-1), green = AlarmColour(0), red = AlarmColour(1);
    for (const TMonthRow &r : rows) {
        html += QStringLiteral("<tr>");
        const QStringList cells = Cells(r);
        for (int i = 0; i < cells.size(); ++i)
            html += (i < 2 ? QStringLiteral("<td>") : QStringLiteral("<td class=\"n\">"))
                + cells[i].toHtmlEscaped() + QStringLiteral("</td>");
        html += QStringLiteral("<td>");
        // 300,000 days at 10,000 systems: each day's title made once, the usual colours once.
        for (size_t d = 0; d < r.Days.size(); ++d) {
            const double share = r.Days[d];
            const QString &colour = share == -1 ? grey
                : share == 0                    ? green
                : share == 1                    ? red
                                                : AlarmColour(share);
            // A blank inside: a reader that draws no empty inline box (a rich-text view) still shows the day.
            html += QLatin1String("<span class=\"g\" style=\"background:") + colour
                + QLatin1String("\" title=\"") + titles.value(qsizetype(d))
                + QLatin1String("\">&nbsp;</span>");
        }
        html += QStringLiteral("</td></tr>\n");
    }
    html += QStringLiteral("</table></body></html>\n");
    return html.toUtf8();
}
