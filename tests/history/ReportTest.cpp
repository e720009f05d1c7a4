// The monthly report: its rows, its CSV bytes and its HTML page.
#include "HistoryFixture.h"
#include <gtest/gtest.h>

namespace {
std::vector<TMonthRow> MonthFixture(const QTemporaryDir &dir)
{
    const QString path = dir.filePath(QStringLiteral("h.db"));
    {
        THistoryStore store(path, {});
        auto named = [](const char *address, const char *name, qint64 time, int state, int period) {
            THistoryResult r = Result(address, time, state, period);
            r.Name = QString::fromUtf8(name);
            return r;
        };
        // Down from October into November, but no result in November: not in the report.
        store.Record({named("10.0.0.3", "Eski", LocalTime(2026, 10, 31, 23), 1, 60)});
        store.Record({named("10.0.0.1", "Kayıt 1", LocalTime(2026, 11, 1, 0), 3, 60)});
        store.Record({named("10.0.0.1", "Kayıt 1", LocalTime(2026, 11, 1, 1), 1, 60)});
        store.Record({named("10.0.0.1", "Kayıt 1", LocalTime(2026, 11, 1, 2), 1, 60)});
        store.Record({named("10.0.0.1", "Kayıt 1", LocalTime(2026, 11, 1, 3), 3, 60)});
        store.Record({named("10.0.0.2", "Yedek; \"kayıt\"", LocalTime(2026, 11, 30, 23), 1, 0)});
    }
    return THistoryReader(path).Month(
        QDate(2026, 11, 17), {QStringLiteral("10.0.0.2")}, LocalTime(2026, 12, 5));
}
} // namespace

TEST(MonthReport, CsvBytes)
{
    QTemporaryDir dir;
    // 10.0.0.1: available 00-01 and 03-05 (the hold of two hours), in alarm 01-03, one outage of two hours.
    // 10.0.0.2: down for the ten minutes a result holds with no period, in the list order's first place.
    // The unknown time is the rest of the month's 43200 minutes.
    const QByteArray expected = QByteArray("\xEF\xBB\xBF")
        + QStringLiteral("İsim;IP Adresi;Kullanılabilirlik (%);Alarm süresi (dk);Kesinti sayısı;"
                         "En uzun kesinti (dk);Bilinmeyen süre (dk);Bakım (dk)\r\n"
                         "\"Yedek; \"\"kayıt\"\"\";10.0.0.2;0,0;10;1;10;43190;0\r\n"
                         "Kayıt 1;10.0.0.1;60,0;120;1;120;42900;0\r\n")
              .toUtf8();
    EXPECT_EQ(MonthCsv(MonthFixture(dir)), expected);
}

TEST(MonthReport, OutageFromTheMonthBeforeAndMonthUnderWay)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("h.db"));
    {
        THistoryStore store(path, {});
        store.Record({Result("a", LocalTime(2026, 10, 31, 22), 1, 60)});
        store.Record({Result("a", LocalTime(2026, 11, 1, 0), 1, 60)});
        store.Record({Result("a", LocalTime(2026, 11, 1, 1), 3, 60)});
        store.Record({Result("a", LocalTime(2026, 11, 2, 0), 1, 60)});
    }
    // Made on 2 November 00:30: the month ends there.
    const std::vector<TMonthRow> rows
        = THistoryReader(path).Month(QDate(2026, 11, 1), {}, LocalTime(2026, 11, 2, 0, 30));
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].Outages, 1); // the entry of 2 November; the one of October is not this month's
    EXPECT_EQ(rows[0].LongestOutageMinutes, 60); // 00:00-01:00 of the outage begun in October
    EXPECT_EQ(rows[0].AlarmMinutes, 60 + 30);
    EXPECT_EQ(rows[0].UnknownMinutes, 1470 - 90 - 120);
    ASSERT_EQ(rows[0].Days.size(), 30u);
    EXPECT_DOUBLE_EQ(rows[0].Days[0], 60.0 / 180);
    EXPECT_EQ(rows[0].Days[1], 1.0);
    EXPECT_EQ(rows[0].Days[2], -1);
}

TEST(MonthReport, HtmlPageHasTheTableAndADayStripPerSystem)
{
    QTemporaryDir dir;
    const QString html = QString::fromUtf8(MonthHtml(MonthFixture(dir), QDate(2026, 11, 1)));
    EXPECT_TRUE(html.startsWith(QStringLiteral("<!DOCTYPE html>")));
    EXPECT_TRUE(html.contains(QStringLiteral("<title>Kullanılabilirlik raporu 2026-11</title>")));
    EXPECT_FALSE(html.contains(QStringLiteral("http"))) << "self-contained";
    EXPECT_TRUE(html.contains(QStringLiteral("<td>Yedek; &quot;kayıt&quot;</td><td>10.0.0.2</td>"
                                             "<td class=\"n\">0,0</td><td class=\"n\">10</td>")));
    EXPECT_TRUE(html.contains(QStringLiteral("<td>Kayıt 1</td><td>10.0.0.1</td><td class=\"n\">60,0</td>")));
    EXPECT_LT(html.indexOf(QStringLiteral("10.0.0.2")), html.indexOf(QStringLiteral("10.0.0.1")));
    // 1 November of 10.0.0.1 is 40% alarm; 30 November of 10.0.0.2 all alarm; every other day unknown.
    EXPECT_TRUE(html.contains(QStringLiteral("background:#536000\" title=\"01.11.2026\"")));
    EXPECT_TRUE(html.contains(QStringLiteral("background:#d00000\" title=\"30.11.2026\"")));
    EXPECT_EQ(html.count(QStringLiteral("background:#c0c0c0")), 29 * 2);
    EXPECT_EQ(html.count(QStringLiteral("<tr>")), 3);
}

// Results kept as taken in maintenance: their time is neither available nor in alarm, and the month
// counts it on its own.
TEST(MonthReport, MaintenanceTimeStandsApart)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("h.db"));
    {
        THistoryStore store(path, {});
        store.Record({Result("a", LocalTime(2026, 11, 3, 0), 3, 60)});
        store.Record({Result("a", LocalTime(2026, 11, 3, 1), kHistoryMaintenance, 60)});
        store.Record({Result("a", LocalTime(2026, 11, 3, 2), kHistoryMaintenance, 60)});
        store.Record({Result("a", LocalTime(2026, 11, 3, 3), 1, 60)});
    }
    const std::vector<TMonthRow> rows
        = THistoryReader(path).Month(QDate(2026, 11, 1), {}, LocalTime(2026, 11, 3, 4));
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].MaintenanceMinutes, 120);
    EXPECT_EQ(rows[0].AlarmMinutes, 60);
    EXPECT_EQ(rows[0].Outages, 1);
    EXPECT_DOUBLE_EQ(rows[0].Availability, 50.0);
    // Up to now: 3120 minutes of the month, 240 of them known or in maintenance.
    EXPECT_EQ(rows[0].UnknownMinutes, 2880);
    EXPECT_TRUE(MonthCsv(rows).endsWith(";50,0;60;1;60;2880;120\r\n")) << MonthCsv(rows).toStdString();
}
