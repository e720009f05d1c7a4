#include "HistoryQuery.h"
#include <algorithm>
#include <cmath>
#include <functional>
#include <map>
#include <QDateTime>

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
    TStatement span(db, "SELECT MIN(start), MAX(start) FROM recent");
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

THistoryReader::THistoryReader(const QString &dbPath)
{
    db.Open(dbPath, true);
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

std::vector<TMonthRow> THistoryReader::Month(QDate month, const QStringList &order, qint64 now)
{
    const QDate first(month.year(), month.month(), 1);
    const std::vector<qint64> bounds = DayBounds(first, first.daysInMonth());
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
    // The change before the month too: an outage may have begun before it.
    TStatement changes(db,
        "SELECT time, after FROM changes WHERE system=?1 AND time<?3 AND time>=IFNULL("
        "(SELECT MAX(time) FROM changes WHERE system=?1 AND time<?2), ?2) ORDER BY time");
    TStatement later(db, "SELECT MIN(time) FROM changes WHERE system=?1 AND time>=?2");
    std::vector<TMonthRow> rows;
    for (const TSystemTail &s : systems) {
        std::vector<TStateTotals> days(bounds.size() - 1);
        Bin(db, s.tail.id, bounds, days);
        TStateTotals total;
        for (size_t i = 0; i < days.size(); ++i) {
            Add(days[i], s.tail, bounds[i], bounds[i + 1], now);
            for (int k = 0; k < kHistoryStates; ++k) {
                total.Seconds[k] += days[i].Seconds[k];
                total.Results[k] += days[i].Results[k];
            }
            total.Span += days[i].Span;
        }
        qint64 results = 0;
        for (qint64 n : total.Results)
            results += n;
        if (results == 0)
            continue;
        TMonthRow row{s.name, s.address, total.AvailabilityPercent(), Minutes(total.Alarm()), 0, 0,
            Minutes(total.Unknown()), {}};
        row.MaintenanceMinutes = Minutes(total.Maintenance());
        for (const TStateTotals &d : days)
            row.Days.push_back(d.AlarmShare());
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
    std::stable_sort(rows.begin(), rows.end(), [&](const TMonthRow &a, const TMonthRow &b) {
        qsizetype ia = order.indexOf(a.Address), ib = order.indexOf(b.Address);
        ia = ia < 0 ? order.size() : ia;
        ib = ib < 0 ? order.size() : ib;
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

namespace {
const char16_t *kColumns[] = {u"İsim", u"IP Adresi", u"Kullanılabilirlik (%)", u"Alarm süresi (dk)",
    u"Kesinti sayısı", u"En uzun kesinti (dk)", u"Bilinmeyen süre (dk)"};

QStringList Cells(const TMonthRow &r)
{
    const QString availability = r.Availability < 0
        ? QString()
        : QString::number(r.Availability, 'f', 1).replace(QLatin1Char('.'), QLatin1Char(','));
    return {r.Name, r.Address, availability, QString::number(r.AlarmMinutes), QString::number(r.Outages),
        QString::number(r.LongestOutageMinutes), QString::number(r.UnknownMinutes)};
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
    for (const TMonthRow &r : rows) {
        html += QStringLiteral("<tr>");
        const QStringList cells = Cells(r);
        for (int i = 0; i < cells.size(); ++i)
            html += (i < 2 ? QStringLiteral("<td>") : QStringLiteral("<td class=\"n\">"))
                + cells[i].toHtmlEscaped() + QStringLiteral("</td>");
        html += QStringLiteral("<td>");
        for (size_t d = 0; d < r.Days.size(); ++d)
            html += QStringLiteral("<span class=\"g\" style=\"background:%1\" title=\"%2\"></span>")
                        .arg(AlarmColour(r.Days[d]),
                            QDate(month.year(), month.month(), int(d) + 1)
                                .toString(QStringLiteral("dd.MM.yyyy")));
        html += QStringLiteral("</td></tr>\n");
    }
    html += QStringLiteral("</table></body></html>\n");
    return html.toUtf8();
}
