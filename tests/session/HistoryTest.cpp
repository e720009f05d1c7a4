// The session's history: every cycle's results reach the database beside the list file, an address edit
// carries a system's history over, and a database that cannot be written costs the checks nothing.
#include "../support/PrivateMount.h"
#include "history/Database.h"
#include "history/HistoryQuery.h"
#include "SessionTestSupport.h"
#include <QDateTime>
#include <tuple>

namespace {

using TChange = std::tuple<int, int, THistoryOrigin>; // before, after, origin

class SessionHistory : public SessionTest
{
protected:
    QString Target(size_t i) const { return QString::fromStdString(sim->Target(i)); }
    static std::vector<TChange> Changes(THistoryReader &reader, const QString &Address)
    {
        std::vector<TChange> changes;
        for (const THistoryChange &c : reader.Changes(Address, QDateTime::currentSecsSinceEpoch()))
            changes.emplace_back(c.Before, c.After, c.Origin);
        return changes;
    }
    // Results per state over the last day.
    static std::array<qint64, kHistoryStates> Results(THistoryReader &reader, const QString &Address)
    {
        const qint64 now = QDateTime::currentSecsSinceEpoch();
        return reader.Totals(Address, now - kDaySeconds, now + kHourSeconds, now).Results;
    }
    static qint64 Hold(const QString &Db, const QString &Address)
    {
        TDatabase db;
        db.Open(Db, true);
        TStatement hold(db, "SELECT last_hold FROM systems WHERE address=?1");
        hold.Bind(1, Address);
        return hold.Step() ? hold.Int(0) : -1;
    }
};

// Each origin of a cycle is kept with the changes it saw; an unmarked record has no result to keep, and
// the Period in force gives each result its hold.
TEST_F(SessionHistory, EveryCycleLandsInTheDatabaseWithItsChangesAndOrigin)
{
    TSimSystem missing = Healthy("eksik");
    missing.Expect = 2;
    StartFleet({Healthy("saglam"), missing});
    const QString healthy = Target(0), lacking = Target(1), closed = QStringLiteral("127.0.0.1:1");
    AddRecord(QStringLiteral("kapali"), closed);
    session->ToggleSelect(IdOf(QStringLiteral("eksik")));
    std::atomic<int> mails{0};
    CountMails(mails);
    Edit([](TLiveSettings &s) {
        s.Period = 7;
        s.MailAfterCtrl = 2;
    });

    session->Engine().CycleThenAlarm(TCheckOrigin::StartUp);
    WaitIdle();
    session->ToggleSelect(IdOf(QStringLiteral("eksik")));
    session->CheckCycle();
    WaitIdle();
    ASSERT_EQ(StateOf(QStringLiteral("eksik")), QStringLiteral("4"));
    sim.reset(); // every system stops answering
    session->CheckRecord(IdOf(QStringLiteral("eksik")));
    WaitIdle();
    session->Engine().CycleThenAlarm(TCheckOrigin::Timer);
    WaitIdle();
    ASSERT_EQ(StateOf(QStringLiteral("saglam")), QStringLiteral("1"));
    session->End(); // the writer has written everything

    const QString db = dir.filePath(QStringLiteral("ZYRdenetleyici.db"));
    EXPECT_EQ(session->HistoryFileName(), db);
    THistoryReader reader(db);
    EXPECT_EQ(Changes(reader, healthy),
        (std::vector<TChange>{{3, 1, THistoryOrigin::Periodic}, {0, 3, THistoryOrigin::StartUp}}));
    EXPECT_EQ(Changes(reader, lacking),
        (std::vector<TChange>{{4, 1, THistoryOrigin::Single}, {0, 4, THistoryOrigin::Menu}}));
    EXPECT_EQ(Changes(reader, closed), (std::vector<TChange>{{0, 1, THistoryOrigin::StartUp}}));
    EXPECT_EQ(Results(reader, healthy), (std::array<qint64, kHistoryStates>{0, 1, 0, 2, 0, 0, 0, 0}));
    EXPECT_EQ(Results(reader, lacking), (std::array<qint64, kHistoryStates>{0, 2, 0, 0, 1, 0, 0, 0}));
    EXPECT_EQ(Results(reader, closed), (std::array<qint64, kHistoryStates>{0, 3, 0, 0, 0, 0, 0, 0}));
    for (const QString &address : {healthy, lacking, closed})
        EXPECT_EQ(Hold(db, address), 14 * 60) << "two periods of 7 minutes";
}

// The history follows an edited address; an edit that keeps the address leaves it where it is.
TEST_F(SessionHistory, AnAddressEditCarriesTheHistory)
{
    StartFleet({Healthy("saglam")});
    const QString before = Target(0);
    const QString after = QString(before).replace(QStringLiteral("127.0.0.1"), QStringLiteral("localhost"));
    ASSERT_NE(before, after);
    const TRecordId id = IdOf(QStringLiteral("saglam"));
    session->CheckCycle();
    WaitIdle();
    ASSERT_TRUE(session->ChangeRecord(id, {QStringLiteral("Şube"), before, QStringLiteral("1"), {}, false}));
    ASSERT_TRUE(session->ChangeRecord(id, {QStringLiteral("Şube"), after, QStringLiteral("1"), {}, false}));
    session->CheckCycle();
    WaitIdle();
    ASSERT_EQ(StateOf(QStringLiteral("Şube")), QStringLiteral("3"));
    session->End();

    THistoryReader reader(session->HistoryFileName());
    EXPECT_TRUE(Changes(reader, before).empty());
    EXPECT_EQ(Changes(reader, after), (std::vector<TChange>{{0, 3, THistoryOrigin::Menu}}));
    EXPECT_EQ(Results(reader, after), (std::array<qint64, kHistoryStates>{0, 0, 0, 2, 0, 0, 0, 0}));
}

// A session that finds no database starts one from the results its event log holds; a log without
// results gives an empty history and no line about it.
TEST_F(SessionHistory, ANewDatabaseIsSeededFromTheEventLog)
{
    for (const bool withResult : {false, true}) {
        SCOPED_TRACE(withResult ? "a result in the log" : "no result in the log");
        Make();
        dir.FreshLog();
        if (withResult) {
            StartFleet({Healthy("saglam")});
            session->CheckCycle();
            WaitIdle();
        }
        session.reset();
        for (const char *file : {"ZYRdenetleyici.db", "ZYRdenetleyici.db-wal", "ZYRdenetleyici.db-shm"})
            QFile::remove(dir.filePath(QString::fromLatin1(file)));

        session = std::make_unique<TConsoleSession>(
            dir.path(), QStringLiteral("ZYRdenetleyici.dat"), QStringLiteral("ZYRdenetleyici.log"));
        session->Start(true);
        WaitIdle();
        session->End();
        ASSERT_TRUE(QFile::exists(session->HistoryFileName()));
        if (withResult) {
            THistoryReader reader(session->HistoryFileName());
            EXPECT_EQ(Changes(reader, Target(0)), (std::vector<TChange>{{0, 3, THistoryOrigin::Log}}));
        }
        EXPECT_EQ(LogCount(QStringLiteral("Geçmiş bilgi dosyasından alındı: 1 satır okundu, ")),
            withResult ? 1 : 0);
        EXPECT_EQ(LogCount(QStringLiteral("Geçmiş")), withResult ? 1 : 0);
    }
}

// A list file in a read-only folder: no database, one log line about it, and the checks and their log lines
// as ever.
TEST_F(SessionHistory, ReadOnlyFolderKeepsTheChecksAndLogsTheFailureOnce)
{
    TPrivateTmpfs fs("size=1m,nr_inodes=64,mode=0755");
    SKIP_WITHOUT_PRIVATE_TMPFS(fs);
    ASSERT_TRUE(fs.MakeReadOnly());
    Make(fs.FilePath("ZYRdenetleyici.dat"));
    StartFleet({Healthy("saglam")});
    for (int cycle = 0; cycle < 3; ++cycle) {
        session->CheckCycle();
        WaitIdle();
        EXPECT_EQ(StateOf(QStringLiteral("saglam")), QStringLiteral("3"));
    }
    session->End();
    EXPECT_EQ(session->HistoryFileName(), fs.FilePath("ZYRdenetleyici.db"));
    EXPECT_FALSE(QFile::exists(session->HistoryFileName()));
    EXPECT_EQ(
        LogCount(QStringLiteral("Denetleme bitti. IP: ") + Target(0) + QStringLiteral(" Sonuç: Çalışıyor")),
        3);
    EXPECT_EQ(LogCount(QStringLiteral("Geçmiş veritabanına yazılamadı: salt okunur")), 1);
    EXPECT_EQ(LogCount(QStringLiteral("Geçmiş")), 1);
}

} // namespace
