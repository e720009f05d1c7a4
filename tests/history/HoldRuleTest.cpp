// The hold rule and availability, through the real writer into a real database file.
#include "HistoryFixture.h"
#include <gtest/gtest.h>

namespace {
struct TStep
{
    qint64 at; // seconds after kBase
    int state, period;
};

struct TCase
{
    const char *name;
    std::vector<TStep> steps;
    qint64 now; // seconds after kBase
    qint64 available, alarm, unknown;
    double percent;
};

std::vector<TStateTotals> Record(
    const QTemporaryDir &dir, const std::vector<TStep> &steps, qint64 now, qint64 from, qint64 to)
{
    TReported reported;
    {
        THistoryStore store(dir.filePath(QStringLiteral("h.db")), reported.Sink());
        for (const TStep &s : steps)
            store.Record({Result("10.0.0.1", kBase + s.at, s.state, s.period)});
    }
    EXPECT_TRUE(reported.Lines().isEmpty()) << reported.Lines().join(QLatin1Char('|')).toStdString();
    THistoryReader reader(dir.filePath(QStringLiteral("h.db")));
    return {reader.Totals(QStringLiteral("10.0.0.1"), from, to, kBase + now)};
}
} // namespace

TEST(HoldRule, AvailabilityOfKnownTime)
{
    const TCase cases[] = {
        {"a state holds until the next result", {{0, 3, 5}, {300, 1, 5}}, 600, 300, 300, 0, 50.0},
        {"beyond two periods the time is unknown", {{0, 3, 5}, {1000, 1, 5}}, 1200, 600, 200, 400, 75.0},
        {"ten minutes when the period is 0", {{0, 2, 0}, {900, 2, 0}}, 2000, 1200, 0, 800, 100.0},
        {"the last state holds up to now", {{0, 6, 10}}, 100, 0, 100, 0, 0.0},
        {"the last state's hold runs out before now", {{0, 4, 1}}, 1000, 0, 120, 880, 0.0},
        {"the period in force at each result", {{0, 3, 1}, {600, 1, 30}}, 1000, 120, 400, 480,
            120.0 / 520 * 100},
        {"devices missing, in excess and alarm count as alarm",
            {{0, 4, 5}, {100, 5, 5}, {200, 6, 5}, {300, 2, 5}}, 400, 100, 300, 0, 25.0},
        {"not checked and checking count neither way", {{0, 0, 5}, {100, 7, 5}, {200, 3, 5}}, 300, 100, 0,
            200, 100.0},
        {"a result out of order holds for nothing", {{500, 3, 5}, {200, 1, 5}}, 700, 0, 500, 200, 0.0},
    };
    for (const TCase &c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        const TStateTotals t = Record(dir, c.steps, c.now, kBase, kBase + 7200)[0];
        EXPECT_EQ(t.Available(), c.available);
        EXPECT_EQ(t.Alarm(), c.alarm);
        EXPECT_EQ(t.Unknown(), c.unknown);
        EXPECT_NEAR(t.AvailabilityPercent(), c.percent, 1e-9);
    }
}

TEST(HoldRule, NoKnownTimeHasNoPercentage)
{
    QTemporaryDir dir;
    const TStateTotals t = Record(dir, {{0, 3, 5}}, 100, kBase + 3600, kBase + 7200)[0];
    EXPECT_EQ(t.Known(), 0);
    EXPECT_EQ(t.Span, 0); // the range lies after now
    EXPECT_EQ(t.AvailabilityPercent(), -1);
}

// A hold that crosses an hour is split at it; results count in the hour they arrive.
TEST(HoldRule, SplitsAtHoursIntoCells)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("h.db"));
    {
        THistoryStore store(path, {});
        store.Record({Result("a", kBase + 3000, 3, 10)});
        store.Record({Result("a", kBase + 3900, 1, 10)});
    }
    THistoryReader reader(path);
    const qint64 now = kBase + 3 * 3600 + 60;
    const QString a = QStringLiteral("a");
    const TStateTotals first = reader.Totals(a, kBase, kBase + 3600, now);
    EXPECT_EQ(first.Seconds[3], 600);
    EXPECT_EQ(first.Results[3], 1);
    EXPECT_EQ(first.Unknown(), 3000);
    const TStateTotals second = reader.Totals(a, kBase + 3600, kBase + 7200, now);
    EXPECT_EQ(second.Seconds[3], 300);
    EXPECT_EQ(second.Seconds[1], 1200); // the last result's hold, not yet closed by a newer one
    EXPECT_EQ(second.Results[1], 1);

    const std::vector<TStateTotals> hours = reader.LastHours(a, now);
    ASSERT_EQ(hours.size(), 24u);
    EXPECT_EQ(hours[20].AlarmShare(), 0.0); // kBase's hour
    EXPECT_DOUBLE_EQ(hours[21].AlarmShare(), 1200.0 / 1500);
    EXPECT_EQ(hours[22].AlarmShare(), -1);
    EXPECT_EQ(hours[23].Span, 60); // the hour under way ends now
    EXPECT_EQ(hours[19].AlarmShare(), -1);
    const std::vector<TStateTotals> days = reader.LastDays(a, now);
    ASSERT_EQ(days.size(), 30u);
    EXPECT_EQ(days[29].Alarm() + days[28].Alarm(), 1200);
    EXPECT_EQ(days[29].Available() + days[28].Available(), 900);
}

// The last state lasted as long as its hold: beyond that it is unknown.
TEST(HoldRule, ChangesNewestFirstWithHowLongEachLasted)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("h.db"));
    {
        THistoryStore store(path, {});
        store.Record({Result("a", kBase, 3, 10, THistoryOrigin::StartUp)});
        store.Record({Result("a", kBase + 600, 1, 10)});
        store.Record({Result("a", kBase + 1200, 1, 10)});
        store.Record({Result("a", kBase + 1800, 3, 10, THistoryOrigin::Single)});
    }
    const std::vector<THistoryChange> changes
        = THistoryReader(path).Changes(QStringLiteral("a"), kBase + 4000);
    ASSERT_EQ(changes.size(), 3u);
    const struct
    {
        qint64 at;
        int before, after;
        THistoryOrigin origin;
        qint64 lasted;
    } expected[] = {{1800, 1, 3, THistoryOrigin::Single, 1200}, {600, 3, 1, THistoryOrigin::Periodic, 1200},
        {0, 0, 3, THistoryOrigin::StartUp, 600}};
    for (size_t i = 0; i < changes.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(changes[i].Time, kBase + expected[i].at);
        EXPECT_EQ(changes[i].Before, expected[i].before);
        EXPECT_EQ(changes[i].After, expected[i].after);
        EXPECT_EQ(changes[i].Origin, expected[i].origin);
        EXPECT_EQ(changes[i].Lasted, expected[i].lasted);
    }
}

TEST(HoldRule, AlarmColours)
{
    EXPECT_EQ(AlarmColour(0), QStringLiteral("#00a000"));
    EXPECT_EQ(AlarmColour(1), QStringLiteral("#d00000"));
    EXPECT_EQ(AlarmColour(0.5), QStringLiteral("#685000"));
    EXPECT_EQ(AlarmColour(-1), QStringLiteral("#c0c0c0"));
}
