// What is kept over time: hours folding into days, the retention, an address changed by an edit (with its
// acknowledgements and maintenance).
#include "HistoryFixture.h"
#include <gtest/gtest.h>
#include <sqlite3.h>

namespace {
// One figure from the database file as the writer left it.
qint64 Query(const QString &path, const char *sql)
{
    sqlite3 *db = nullptr;
    sqlite3_open_v2(path.toUtf8().constData(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt *s = nullptr;
    qint64 value = -1;
    if (sqlite3_prepare_v2(db, sql, -1, &s, nullptr) == SQLITE_OK && sqlite3_step(s) == SQLITE_ROW)
        value = sqlite3_column_int64(s, 0);
    sqlite3_finalize(s);
    sqlite3_close(db);
    return value;
}
} // namespace

TEST(Keeping, HoursOlderThan35DaysFoldIntoDays)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("h.db"));
    const qint64 old = LocalTime(2026, 10, 1, 10), now = LocalTime(2026, 11, 10, 10);
    {
        THistoryStore store(path, {});
        store.Record({Result("a", old, 3), Result("b", old, 3)});
        store.Record({Result("a", old + 300, 1)});
        store.Record({Result("a", old + 3600, 1)}); // another hour of the same day
        store.Record({Result("a", LocalTime(2026, 10, 7, 10), 3)}); // 34 days before now: stays hours
        store.Record({Result("a", now, 3)});
    }
    const QString day = QString::number(LocalTime(2026, 10, 1));
    const QByteArray sql
        = "SELECT s3*1000000+s1*1000+n1 FROM periods WHERE system=1 AND length=86400 AND start="
        + day.toUtf8();
    EXPECT_EQ(Query(path, sql.constData()), 300 * 1000000 + 1200 * 1000 + 2);
    EXPECT_EQ(Query(path, "SELECT COUNT(*) FROM periods WHERE system=2 AND length=86400"), 1);
    // Left as hours: 7 October's, and now's among the recent ones.
    EXPECT_EQ(Query(path, "SELECT COUNT(*) FROM periods WHERE length=3600"), 1);
    EXPECT_EQ(Query(path, "SELECT COUNT(*) FROM recent"), 1);

    THistoryReader reader(path);
    const TStateTotals t
        = reader.Totals(QStringLiteral("a"), LocalTime(2026, 10, 1), LocalTime(2026, 10, 2), now);
    EXPECT_EQ(t.Available(), 300);
    EXPECT_EQ(t.Alarm(), 1200);
    EXPECT_EQ(t.Results[1], 2);
}

TEST(Keeping, RetentionDropsOlderRows)
{
    const struct
    {
        int days;
        bool keeps29, keeps31, keeps40;
    } cases[] = {
        {400, true, true, true}, {30, true, false, false}, {5, true, false, false}, {35, true, true, false}};
    const qint64 now = kBase;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.days);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("h.db"));
        {
            THistoryStore store(path, {});
            store.SetRetentionDays(c.days);
            store.Record({Result("d40", now - 40 * 86400, 3)});
            store.Record({Result("d31", now - 31 * 86400, 1)});
            store.Record({Result("d29", now - 29 * 86400, 3)});
            store.Record({Result("now", now, 3)});
        }
        THistoryReader reader(path);
        const auto kept = [&](const char *address) {
            return reader.Totals(QString::fromUtf8(address), now - 50 * 86400, now, now).Known() > 0;
        };
        EXPECT_EQ(kept("d29"), c.keeps29);
        EXPECT_EQ(kept("d31"), c.keeps31);
        EXPECT_EQ(kept("d40"), c.keeps40);
        EXPECT_EQ(reader.Changes(QStringLiteral("d40"), now).size(), c.keeps40 ? 1u : 0u);
    }
}

TEST(Keeping, RenamedAddressKeepsItsHistory)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("h.db"));
    {
        THistoryStore store(path, {});
        store.Record({Result("10.0.0.1", kBase, 3), Result("10.0.0.5", kBase, 1)});
        store.Record({Result("10.0.0.1", kBase + 300, 1), Result("10.0.0.5", kBase + 300, 1)});
        store.RenameAddress(QStringLiteral("10.0.0.1"), QStringLiteral("10.0.0.9"));
        store.Record({Result("10.0.0.9", kBase + 600, 1)});
        // Onto an address that has a history of its own: the two join.
        store.RenameAddress(QStringLiteral("10.0.0.5"), QStringLiteral("10.0.0.9"));
    }
    THistoryReader reader(path);
    const qint64 now = kBase + 900;
    const TStateTotals moved = reader.Totals(QStringLiteral("10.0.0.9"), kBase, kBase + 3600, now);
    EXPECT_EQ(moved.Seconds[3], 300);
    EXPECT_EQ(moved.Seconds[1], 300 + 300 + 300); // its own hold, the joined one's and the hold up to now
    EXPECT_EQ(moved.Results[1], 2 + 2);
    EXPECT_EQ(reader.Changes(QStringLiteral("10.0.0.9"), now).size(), 2u + 1u);
    EXPECT_EQ(reader.Totals(QStringLiteral("10.0.0.1"), kBase, kBase + 3600, now).Known(), 0);
    EXPECT_EQ(reader.Totals(QStringLiteral("10.0.0.5"), kBase, kBase + 3600, now).Known(), 0);
}

// Acknowledgements and maintenance follow an edited address: of a checked system, of one never checked,
// and onto an address with marks of its own, where the latest event still tells what stands.
TEST(Keeping, RenamedAddressKeepsItsMarks)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("h.db"));
    const auto mark = [](const char *address, int kind, qint64 time, const char *note = "", qint64 end = 0) {
        return THistoryMark{QString::fromUtf8(address), kind, QString::fromUtf8(note), time, end};
    };
    {
        THistoryStore store(path, {});
        store.Record({Result("10.0.0.1", kBase, 1), Result("10.0.0.7", kBase, 3)});
        store.RecordMark(mark("10.0.0.1", THistoryMark::Acknowledged, kBase + 10, "aranıyor"));
        store.RecordMark(
            mark("10.0.0.7", THistoryMark::MaintenanceStarted, kBase + 20, "eski", kBase + 7200));
        store.RecordMark(
            mark("10.0.0.1", THistoryMark::MaintenanceStarted, kBase + 30, "onarım", kBase + 3600));
        store.RecordMark(mark("10.0.0.3", THistoryMark::MaintenanceStarted, kBase + 40, "", kBase + 900));
        store.RecordMark(mark("10.0.0.7", THistoryMark::MaintenanceEnded, kBase + 50));
        store.RenameAddress(QStringLiteral("10.0.0.1"), QStringLiteral("10.0.0.9"));
        store.RenameAddress(QStringLiteral("10.0.0.3"), QStringLiteral("10.0.0.4")); // never checked
        store.RenameAddress(QStringLiteral("10.0.0.9"), QStringLiteral("10.0.0.7")); // joins 10.0.0.7's
    }
    THistoryReader reader(path);
    for (const char *gone : {"10.0.0.1", "10.0.0.3", "10.0.0.9"})
        EXPECT_TRUE(reader.Marks(QString::fromUtf8(gone)).empty()) << gone;
    std::vector<std::pair<int, qint64>> joined;
    for (const THistoryMark &m : reader.Marks(QStringLiteral("10.0.0.7")))
        joined.push_back({m.Kind, m.Time - kBase});
    EXPECT_EQ(joined,
        (std::vector<std::pair<int, qint64>>{{THistoryMark::Acknowledged, 10},
            {THistoryMark::MaintenanceStarted, 20}, {THistoryMark::MaintenanceStarted, 30},
            {THistoryMark::MaintenanceEnded, 50}}));
    // What a restart restores: the edited system's marks, though 10.0.0.7's own maintenance ended later.
    QStringList standing;
    for (const THistoryMark &m : ReadStandingMarks(path))
        standing << QStringLiteral("%1 %2 %3 %4")
                        .arg(m.Address)
                        .arg(m.Kind)
                        .arg(m.Note)
                        .arg(m.End ? m.End - kBase : 0);
    EXPECT_EQ(standing.join(QStringLiteral(" | ")).toStdString(),
        "10.0.0.4 4  900 | 10.0.0.7 1 aranıyor 0 | 10.0.0.7 4 onarım 3600");
}

// A clock set back, then a restart: the writer's idea of a system's newest hour row is behind the rows
// the database holds, and a later result must still add to the row that is there, not fail the cycle.
TEST(Keeping, ClockSetBackThenRestartAddsToTheRowsThere)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("h.db"));
    TReported reported;
    {
        THistoryStore store(path, reported.Sink());
        store.Record({Result("a", kBase + 1800, 3)}); // 12:30
        store.Record({Result("a", kBase + 3600 + 600, 3)}); // 13:10
        store.Record({Result("a", kBase + 3000, 1)}); // the clock back at 12:50
    }
    {
        THistoryStore store(path, reported.Sink());
        store.Record({Result("a", kBase + 3600 + 1200, 3)}); // 13:20 again
    }
    EXPECT_TRUE(reported.Lines().isEmpty()) << reported.Lines().join(u'\n').toStdString();
    const QByteArray hour = QByteArray::number(kBase + 3600);
    EXPECT_EQ(Query(path, "SELECT n3*1000+n1 FROM recent WHERE system=1 AND start=" + hour), 2000);
    // 12:30 held 10 minutes (two periods); 12:50 in alarm up to the hour, where it had held 10 minutes.
    const QByteArray before = QByteArray::number(kBase);
    EXPECT_EQ(Query(path, "SELECT s3*10000+s1 FROM recent WHERE system=1 AND start=" + before), 6000600);
}

// What the writer keeps of a system's last result and name must be on disk, not only in its memory: a new
// writer (the next start) goes on from there.
TEST(Keeping, LastResultAndNameSurviveARestart)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("h.db"));
    auto named = [](const char *address, const char *name, qint64 time, int state) {
        THistoryResult r = Result(address, time, state);
        r.Name = QString::fromUtf8(name);
        return r;
    };
    {
        THistoryStore store(path, {});
        store.Record({named("a", "Eski", kBase, 3)});
        store.Record({named("a", "Yeni ad", kBase + 60, 3)});
        // A system new in this cycle with two results in it: the second one is its last.
        store.Record({named("b", "B", kBase + 60, 3), named("b", "B", kBase + 120, 1)});
    }
    {
        THistoryStore store(path, {});
        store.Record({named("b", "B", kBase + 420, 3)});
    }
    THistoryReader reader(path);
    const TStateTotals b = reader.Totals(QStringLiteral("b"), kBase, kBase + 3600, kBase + 3600);
    EXPECT_EQ(b.Seconds[3], 60 + 600); // 12:01 to 12:02, and from 12:07 its hold of two periods
    EXPECT_EQ(b.Seconds[1], 300); // 12:02 in alarm until the next result at 12:07
    const std::vector<TMonthRow> rows
        = reader.Month(QDateTime::fromSecsSinceEpoch(kBase).date(), {}, kBase + 3600);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[1].Address + u'=' + rows[1].Name, QStringLiteral("a=Yeni ad")); // by name, after B
}
