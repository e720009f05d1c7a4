// The check engine over real simulated fleets, a real SMTP server and real files: cycles, results by
// record identity, list commands confirmed while a cycle runs, the alarm rule, and mail on its own thread.
#include "EngineTestSupport.h"
#include "platform/Errors.h"
#include "SmtpSink.h"
#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <QTimer>
#include <thread>

namespace {

// One row's bytes as the list file holds them.
QByteArray RowBytes(const TSystemList &List, int Position)
{
    TSystemList one;
    one.Add(List.Record(Position));
    return SystemListBytes(one);
}

QByteArray Decoded(QByteArray Message)
{
    Message.replace("=\r\n", ""); // soft line breaks of quoted-printable
    return QByteArray::fromPercentEncoding(Message, '=');
}

class TResetCounter : public TSystemListObserver
{
public:
    void ListReset() override { ++Resets; }
    int Resets = 0;
};

TEST(RecordIdentity, FollowsItsRecordThroughSortsDeletesAndCopies)
{
    TSystemList list;
    TSystemRecord r;
    r.Cells = QStringList(TSystemRecord::ColumnCount, QStringLiteral("0"));
    std::map<std::string, TRecordId> ids;
    for (const char *name : {"b", "c", "a"}) {
        r.Cells[TSystemRecord::Name] = QString::fromLatin1(name);
        ids[name] = list.IdAt(list.Add(r));
    }
    EXPECT_NE(ids["a"], ids["b"]);
    EXPECT_NE(ids["b"], ids["c"]);
    auto where = [&](const char *name) { return list.PositionOf(ids[name]); };

    list.SortBy(TSystemRecord::Name, true);
    EXPECT_EQ(std::vector<int>({where("a"), where("b"), where("c")}), std::vector<int>({0, 1, 2}));
    list.Delete(1);
    EXPECT_EQ(where("b"), -1);
    EXPECT_EQ(std::vector<int>({where("a"), where("c")}), std::vector<int>({0, 1}));

    // A copy of a record added again is a record of its own.
    const TRecordId again = list.IdAt(list.Add(list.Record(0)));
    EXPECT_NE(again, ids["a"]);
    EXPECT_EQ(list.PositionOf(again), 2);
    EXPECT_EQ(where("a"), 0);

    // Rows handed over with their identity keep it; rows read from a file get new ones.
    TSystemList copy;
    copy.ReplaceAll({list.Record(1), list.Record(0)});
    EXPECT_EQ(copy.PositionOf(ids["c"]), 0);
    EXPECT_EQ(copy.PositionOf(ids["a"]), 1);
    TSystemList loaded;
    LoadSystemListFromBytes(loaded, SystemListBytes(list));
    ASSERT_EQ(loaded.Count(), 3);
    for (int i = 0; i < loaded.Count(); ++i)
        EXPECT_EQ(list.PositionOf(loaded.IdAt(i)), -1);
}

// "Değiştir" or "Kaydı Sil" opened on the first row of a list sorted by "Durum", confirmed while the
// periodic cycle that re-sorts the rows runs, or after it has re-sorted them: the opened system changes,
// every other row of the saved file stays byte for byte as it was.
TEST_F(EngineTest, ListCommandConfirmedAroundACycleActsOnTheOpenedRecordOnly)
{
    struct TCase
    {
        const char *Name;
        bool Delete;
        bool MidCycle;
    };
    const TCase cases[] = {
        {"change after the re-sort", false, false},
        {"change during the cycle", false, true},
        {"delete after the re-sort", true, false},
        {"delete during the cycle", true, true},
    };
    for (const TCase &c : cases) {
        SCOPED_TRACE(c.Name);
        list.SetObserver(nullptr);
        list.Clear();
        dir.FreshLog();
        StartFleet({Refusing(), Healthy(150), Healthy(400)});
        // The cycle takes one down and brings the others up: the rows change places when it ends.
        const TRecordId a = Add(QStringLiteral("a"), Target(0), QStringLiteral("3"));
        const TRecordId b = Add(QStringLiteral("b"), Target(1), QStringLiteral("1"));
        const TRecordId c3 = Add(QStringLiteral("c"), Target(2), QStringLiteral("2"));
        list.SortBy(TSystemRecord::State, true);
        ASSERT_EQ(Names(), (QStringList{QStringLiteral("b"), QStringLiteral("c"), QStringLiteral("a")}));
        const TRecordId opened = list.IdAt(0);
        ASSERT_EQ(opened, b);
        TResetCounter resets;
        list.SetObserver(&resets);

        engine->CycleThenAlarm(TCheckOrigin::Timer);
        ASSERT_TRUE(engine->Busy());
        if (!c.MidCycle) {
            WaitIdle();
            ASSERT_EQ(Names(), (QStringList{QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")}));
        }
        const int resetsBefore = resets.Resets;
        TSystemList before;
        LoadSystemListFromBytes(before, SystemListBytes(list, true));
        if (c.Delete)
            ASSERT_TRUE(engine->DeleteRecord(opened));
        else
            ASSERT_TRUE(engine->ChangeRecord(
                opened, {QStringLiteral("b yeni"), Target(1), QStringLiteral("1"), {}, false}));
        SaveSystemListOnClose(list, QStringLiteral("ZYRdenetleyici.dat"));
        TSystemList after;
        LoadSystemList(after, QStringLiteral("ZYRdenetleyici.dat"));

        // The other rows, in their order, byte for byte; the opened one changed or gone.
        QList<QByteArray> othersBefore, othersAfter;
        QByteArray openedBefore, openedAfter;
        for (int i = 0; i < before.Count(); ++i)
            (before.Cell(i, TSystemRecord::Name) == QLatin1String("b") ? openedBefore
                                                                       : othersBefore.emplace_back())
                = RowBytes(before, i);
        for (int i = 0; i < after.Count(); ++i)
            (after.Cell(i, TSystemRecord::Name) == QLatin1String("b yeni") ? openedAfter
                                                                           : othersAfter.emplace_back())
                = RowBytes(after, i);
        EXPECT_EQ(othersAfter, othersBefore);
        EXPECT_EQ(after.Count(), c.Delete ? 2 : 3);
        if (c.Delete) {
            EXPECT_TRUE(openedAfter.isEmpty());
            EXPECT_EQ(LogCount(QStringLiteral("\"b\" isimli kayıt silindi")), 1);
        } else {
            QByteArray expected = openedBefore;
            expected.replace(QByteArrayLiteral("\x01\x00\x00\x00"
                                               "b"),
                QByteArrayLiteral("\x06\x00\x00\x00"
                                  "b yeni"));
            EXPECT_EQ(openedAfter, expected);
            EXPECT_EQ(LogCount(QStringLiteral("\"b yeni\" isimli kayıt güncellendi")), 1);
        }

        if (c.MidCycle) {
            // Applied at once, but the rows keep their places until the cycle ends.
            EXPECT_TRUE(engine->Busy());
            EXPECT_EQ(resets.Resets, resetsBefore);
            EXPECT_EQ(list.PositionOf(c3), c.Delete ? 0 : 1);
            WaitIdle();
            EXPECT_EQ(resets.Resets, resetsBefore + 1);
            // The deleted record's result is dropped without a line, and still ends the cycle.
            EXPECT_EQ(LogCount(QStringLiteral("Denetleme bitti. IP: ") + Target(1)), c.Delete ? 0 : 1);
        }
        EXPECT_EQ(Cell(a, TSystemRecord::State), QStringLiteral("1"));
        EXPECT_EQ(Cell(c3, TSystemRecord::State), QStringLiteral("3"));
        if (!c.Delete) {
            EXPECT_EQ(Cell(b, TSystemRecord::State), QStringLiteral("3"));
        }
        list.SetObserver(nullptr);
    }
}

// "Ekle" confirmed while a periodic cycle runs: the record is in the list at once, but the cycle does not
// check it, does not wait for it and does not mail it; it takes its sorted place when the cycle ends.
TEST_F(EngineTest, RecordAddedDuringACycleIsNotCheckedCountedOrMailed)
{
    TSmtpSink sink(dir.filePath(QStringLiteral("mails")));
    ASSERT_GT(sink.Port(), 0) << "the SMTP server did not start";
    StartFleet({Healthy(300), Healthy(300), Healthy()});
    Add(QStringLiteral("kuzey-sube"), Target(0));
    Add(QStringLiteral("guney-sube"), Target(1));
    TLiveSettings &s = MailTo(sink.Port());
    s.MailAfterCtrl = 0;

    engine->CycleThenAlarm(TCheckOrigin::Timer);
    ASSERT_TRUE(engine->Busy());
    const TRecordId added
        = engine->AddRecord({QStringLiteral("yeni-sube"), Target(2), QStringLiteral("1"), {}, false});
    EXPECT_EQ(list.PositionOf(added), 2); // by name it belongs first, but rows keep their places while busy
    EXPECT_EQ(LogCount(QStringLiteral("\"yeni-sube\" isimli kayıt eklendi")), 1);
    WaitIdle();

    EXPECT_EQ(LogCount(QStringLiteral("Denetleme başladı. IP: ") + Target(2)), 0);
    EXPECT_EQ(Cell(added, TSystemRecord::State), QStringLiteral("0"));
    EXPECT_TRUE(Cell(added, TSystemRecord::ColDateTime).isEmpty());
    EXPECT_EQ(list.PositionOf(added), 0);
    ASSERT_EQ(sink.Recipients(), QStringList{QStringLiteral("ops@example.com")});
    const QByteArray mail = Decoded(sink.Message(1));
    EXPECT_TRUE(mail.contains("kuzey-sube"));
    EXPECT_TRUE(mail.contains("guney-sube"));
    EXPECT_FALSE(mail.contains("yeni-sube"));
}

// The record editor confirmed while the record's check is out. A new address or "ZYR+" makes the answer
// under way one about another system: it is dropped without a line and the record is checked again before
// its cycle (or single check) ends, so the verdict, the alarm sound and lines and the mail are about the
// record as the operator now sees it. A new device count alone judges the answer under way against it.
TEST_F(EngineTest, RecordEditedWhileItsCheckRunsEndsWithAVerdictOnWhatItNowSays)
{
    TSimSystem plus;
    plus.Kind = TSimKind::Plus;
    plus.Host = "auto";
    plus.Port = 0;
    plus.Devices = {{"P4001", 0, 4, "0000"}};
    TSimSystem slowElsewhere = Healthy(400);
    slowElsewhere.Host = "auto"; // nothing listens on the extended ports of its address
    // %0 and %1 answer late, %2 is down, %3 is an extended system with one device, %4 answers late.
    StartFleet({Healthy(400), Healthy(400), Refusing(), plus, slowElsewhere});
    struct TEdit
    {
        size_t System;
        bool Plus;
        const char *DeviceCnt;
    };
    struct TCase
    {
        const char *Name;
        bool Single;
        size_t First; // the ordinary system the record names when its check starts
        std::vector<TEdit> Edits; // each confirmed while the check started last runs
        bool DeleteAfter; // then "Kaydı Sil" while the check started last runs
        std::vector<const char *> Log; // %n: the address of system n
        const char *State;
        const char *Details; // a text the report shown holds; empty: no report
        std::vector<const char *> Mailed; // the record's state in each status mail
        std::vector<const char *> Told;
        std::vector<const char *> Sounded; // the record's state when the alarm sounded
    };
    const char *const edited = "\"x\" isimli kayıt güncellendi";
    const TCase cases[] = {
        {"address and ZYR+ to an extended system", false, 0, {{3, true, "1"}}, false,
            {"Denetleme başladı. IP: %0", edited, "Denetleme başladı. IP: %3",
                "Denetleme bitti. IP: %3 Sonuç: Çalışıyor"},
            "3", "P4001", {}, {}, {}},
        {"address to a system that is down", false, 0, {{2, false, "1"}}, false,
            {"Denetleme başladı. IP: %0", edited, "Denetleme başladı. IP: %2",
                "Denetleme bitti. IP: %2 Sonuç: Çalışmıyor"},
            "1", "", {"1"}, {"x: Çalışmıyor"}, {"1"}},
        {"ZYR+ alone", false, 4, {{4, true, "1"}}, false,
            {"Denetleme başladı. IP: %4", edited, "Denetleme başladı. IP: %4",
                "Denetleme bitti. IP: %4 Sonuç: Çalışmıyor"},
            "1", "", {"1"}, {"x: Çalışmıyor"}, {"1"}},
        {"device count alone", false, 0, {{0, false, "2"}}, false,
            {"Denetleme başladı. IP: %0", edited, "Denetleme bitti. IP: %0 Sonuç: Aygıt eksik tespit edildi"},
            "4", "A1B2C3", {"4"}, {"x: Aygıt eksik tespit edildi"}, {}},
        {"address twice", false, 0, {{1, false, "1"}, {2, false, "1"}}, false,
            {"Denetleme başladı. IP: %0", edited, "Denetleme başladı. IP: %1", edited,
                "Denetleme başladı. IP: %2", "Denetleme bitti. IP: %2 Sonuç: Çalışmıyor"},
            "1", "", {"1"}, {"x: Çalışmıyor"}, {"1"}},
        {"address, then deleted during the second check", false, 0, {{1, false, "1"}}, true,
            {"Denetleme başladı. IP: %0", edited, "Denetleme başladı. IP: %1", "\"x\" isimli kayıt silindi"},
            nullptr, nullptr, {}, {}, {}},
        {"single check, address and ZYR+", true, 0, {{3, true, "1"}}, false,
            {"Denetleme başladı. IP: %0", edited, "Denetleme başladı. IP: %3",
                "Denetleme bitti. IP: %3 Sonuç: Çalışıyor"},
            "3", "P4001", {}, {}, {}},
    };
    auto texts = [&](const std::vector<const char *> &Lines) {
        QStringList out;
        for (const char *line : Lines) {
            QString text = QString::fromUtf8(line);
            for (size_t i = 0; i < 5; ++i)
                text.replace(QStringLiteral("%%1").arg(i), Target(i));
            out << text;
        }
        return out;
    };
    const QString started = QStringLiteral("Denetleme başladı. IP: ");
    const QString finished = QStringLiteral("Denetleme bitti. IP: ");
    TLiveSettings &s = engine->Settings();
    s.MailAfterCtrl = 1;
    s.BeepAlarm = true;
    QStringList mailed;
    std::mutex mailedLock;
    engine->SendStatusMailsJob = [&](const TLiveSettings &, const TSystemList &records, TMailObjects &) {
        std::lock_guard lock(mailedLock);
        for (int i = 0; i < records.Count(); ++i)
            mailed << records.Cell(i, TSystemRecord::State);
    };
    QStringList told;
    int ends = 0;
    QObject::connect(engine.get(), &TCheckEngine::AlarmsEntered, engine.get(),
        [&](const QStringList &lines) { told << lines; });
    QObject::connect(engine.get(), &TCheckEngine::CycleFinished, engine.get(), [&] { ++ends; });
    // The results the cycle tells of, as their log lines would name them: only answers about the record as
    // it now is.
    QStringList taken;
    QObject::connect(engine.get(), &TCheckEngine::CycleResults, engine.get(),
        [&](TCheckOrigin, bool, const std::vector<TCycleResult> &results) {
            for (const TCycleResult &r : results)
                taken << QStringLiteral("Denetleme bitti. IP: %1 Sonuç: %2 (%3)")
                             .arg(r.Address, StateDescription(r.State), r.Name);
        });
    QStringList sounded;
    QObject::connect(engine.get(), &TCheckEngine::AlarmDue, engine.get(),
        [&] { sounded << list.Cell(0, TSystemRecord::State); });

    for (const TCase &c : cases) {
        SCOPED_TRACE(c.Name);
        list.Clear();
        dir.FreshLog();
        mailed.clear();
        told.clear();
        sounded.clear();
        taken.clear();
        ends = 0;

        const TRecordId x = Add(QStringLiteral("x"), Target(c.First));
        if (c.Single)
            ASSERT_TRUE(engine->CheckFocused(x));
        else
            engine->CycleThenAlarm(TCheckOrigin::Timer);
        ASSERT_TRUE(engine->Busy());
        QString out = Target(c.First);
        for (const TEdit &e : c.Edits) {
            // Confirmed while the check of the address it replaces is out: its line is there, its result not.
            ASSERT_TRUE(WaitUntil([&] { return LogCount(started + out) == LogCount(finished + out) + 1; }));
            ASSERT_TRUE(engine->Busy());
            ASSERT_TRUE(engine->ChangeRecord(
                x, {QStringLiteral("x"), Target(e.System), QString::fromLatin1(e.DeviceCnt), {}, e.Plus}));
            out = Target(e.System);
        }
        if (c.DeleteAfter) {
            ASSERT_TRUE(WaitUntil([&] { return LogCount(started + out) == 1; }));
            ASSERT_TRUE(engine->DeleteRecord(x));
        }
        WaitIdle();

        EXPECT_EQ(LogLines(), texts(c.Log));
        QStringList results = texts(c.Log).filter(finished);
        for (QString &line : results)
            line += QStringLiteral(" (x)");
        EXPECT_EQ(taken, results);
        EXPECT_EQ(ends, 1);
        if (c.State) {
            EXPECT_EQ(Cell(x, TSystemRecord::State), QString::fromLatin1(c.State));
            const QString details = Cell(x, TSystemRecord::Details);
            if (*c.Details)
                EXPECT_TRUE(details.contains(QString::fromLatin1(c.Details))) << details.toStdString();
            else
                EXPECT_TRUE(details.isEmpty()) << details.toStdString();
        } else {
            EXPECT_EQ(list.Count(), 0);
        }
        std::lock_guard lock(mailedLock);
        EXPECT_EQ(mailed, texts(c.Mailed));
        EXPECT_EQ(told, texts(c.Told));
        EXPECT_EQ(sounded, texts(c.Sounded));
    }
}

// An error while starting ends the cycle at once (the rows re-sort); a check already started reports
// later and its result reaches its own record, not the one now at its old row. Such a late result never
// counts towards the end of a later cycle.
TEST_F(EngineTest, LateResultReachesItsRecordAfterAReSortAndNeverEndsALaterCycle)
{
    StartFleet({Healthy(400), Healthy()});
    const TRecordId a = Add(QStringLiteral("a"), Target(0));
    const TRecordId z = Add(QStringLiteral("z"), Target(1), QStringLiteral("0"), QStringLiteral("x"));

    const QString finishedA
        = QStringLiteral("Denetleme bitti. IP: ") + Target(0) + QStringLiteral(" Sonuç: Çalışıyor");
    EXPECT_TRUE(engine->CheckCycle(TCheckOrigin::Menu));
    // The error ends the cycle while the start goes on (in its first slice or a later one), without
    // waiting for a.
    ASSERT_TRUE(WaitUntil([&] { return !engine->Busy(); }));
    EXPECT_EQ(LogCount(finishedA), 0);
    EXPECT_TRUE(LogLines().contains(
        QStringLiteral("Bir hata oluştu. Hata kodu: 10001. 'x' is not a valid boolean value")));
    ASSERT_EQ(Names(), (QStringList{QStringLiteral("z"), QStringLiteral("a")})); // by name, descending
    ASSERT_TRUE(WaitUntil([&] { return LogCount(finishedA) == 1; }));
    EXPECT_EQ(Cell(a, TSystemRecord::State), QStringLiteral("3"));
    EXPECT_FALSE(Cell(a, TSystemRecord::ColDateTime).isEmpty());
    EXPECT_EQ(Cell(z, TSystemRecord::State), QStringLiteral("7"));
    EXPECT_TRUE(Cell(z, TSystemRecord::ColDateTime).isEmpty());

    // Again, a first; its check is still out when the next cycle starts.
    list.SortBy(TSystemRecord::Name, true);
    EXPECT_TRUE(engine->CheckCycle(TCheckOrigin::Menu));
    ASSERT_TRUE(WaitUntil([&] { return !engine->Busy(); }));
    EXPECT_EQ(LogCount(finishedA), 1);
    QThread::msleep(150);
    list.SetCell(list.PositionOf(z), TSystemRecord::ColZYRplus, QStringLiteral("0"));
    int linesAtEnd = -1;
    QObject::connect(
        engine.get(), &TCheckEngine::CycleFinished, engine.get(), [&] { linesAtEnd = LogCount(finishedA); });
    ASSERT_TRUE(engine->CheckCycle(TCheckOrigin::Menu));
    ASSERT_TRUE(engine->Busy());
    ASSERT_TRUE(WaitUntil([&] { return linesAtEnd >= 0; }));
    EXPECT_EQ(linesAtEnd, 3); // the first cycle's, the ended cycle's late one, and this cycle's own
    EXPECT_EQ(Cell(z, TSystemRecord::State), QStringLiteral("3"));
    EXPECT_EQ(Cell(a, TSystemRecord::State), QStringLiteral("3"));
}

// The periodic tick: while busy it starts nothing and sounds at once on the states as they are;
// otherwise it starts a cycle and sounds when its checks have ended, while its mails are still out.
TEST_F(EngineTest, AlarmOnATickWhileBusyAndAtTheEndOfThePeriodicCycle)
{
    StartFleet({Refusing(), Healthy(400)});
    const TRecordId down = Add(QStringLiteral("kapali"), Target(0));
    Add(QStringLiteral("yavas"), Target(1));
    TLiveSettings &s = engine->Settings();
    s.BeepAlarm = true;
    s.MailAfterCtrl = 0;
    std::atomic<int> mails{0};
    std::atomic<bool> release{false};
    engine->SendStatusMailsJob = [&](const TLiveSettings &, const TSystemList &, TMailObjects &) {
        ++mails;
        while (!release)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    };
    QStringList heard;
    QList<bool> busyWhenHeard;
    QObject::connect(engine.get(), &TCheckEngine::AlarmDue, engine.get(), [&](const QString &wav) {
        heard << wav;
        busyWhenHeard << engine->Busy();
    });

    ASSERT_TRUE(engine->CheckCycle(TCheckOrigin::Menu));
    ASSERT_TRUE(WaitUntil([&] { return Cell(down, TSystemRecord::State) == QLatin1String("1"); }));
    ASSERT_TRUE(engine->Busy());
    EXPECT_TRUE(heard.isEmpty());
    engine->CycleThenAlarm(TCheckOrigin::Timer);
    EXPECT_EQ(heard, QStringList{QString()}); // the default beep: there is no "Alarm.wav"
    EXPECT_EQ(LogCount(QStringLiteral("Denetleme başladı")), 2);
    WaitIdle();
    EXPECT_EQ(heard.size(), 1); // the menu's cycle itself does not sound
    EXPECT_EQ(mails.load(), 0);

    QFile wav(QStringLiteral("Alarm.wav"));
    ASSERT_TRUE(wav.open(QIODevice::WriteOnly));
    wav.close();
    engine->CycleThenAlarm(TCheckOrigin::Timer);
    EXPECT_TRUE(engine->Busy());
    EXPECT_EQ(heard.size(), 1);
    ASSERT_TRUE(WaitUntil([&] { return heard.size() == 2; }));
    EXPECT_EQ(heard[1], QDir::current().absoluteFilePath(QStringLiteral("Alarm.wav")));
    EXPECT_TRUE(busyWhenHeard[1]); // the mail round is still out
    EXPECT_TRUE(engine->MailBusy());
    release = true;
    WaitIdle();
    EXPECT_EQ(heard.size(), 2);
    EXPECT_EQ(mails.load(), 1);
}

// Results that pile up while the window thread is held are handled together: each record gets its one
// result and line, and the lines are in the file when the cycle's end is told.
TEST_F(EngineTest, ResultsArrivingTogetherEndTheCycleWithEveryLineWritten)
{
    // No result comes before the last check has started (the start runs in slices through the event loop,
    // slower under the sanitizers): two thirds answer after 300 ms, a third takes the connection and never
    // answers (512 ms for the reply: a system that runs, with no report).
    std::vector<TSimSystem> fleet;
    for (int i = 0; i < 12; ++i) {
        fleet.push_back(Healthy(300));
        if (i % 3 == 2)
            fleet.back().Mode = "silent";
    }
    StartFleet(fleet);
    std::vector<TRecordId> records;
    for (size_t i = 0; i < fleet.size(); ++i)
        records.push_back(Add(QStringLiteral("s%1").arg(i), Target(i)));
    int finishedAtEnd = -1;
    QObject::connect(engine.get(), &TCheckEngine::CycleFinished, engine.get(),
        [&] { finishedAtEnd = LogCount(QStringLiteral("Denetleme bitti. IP: ")); });

    ASSERT_TRUE(engine->CheckCycle(TCheckOrigin::Menu));
    ASSERT_TRUE(WaitUntil([&] { return LogCount(QStringLiteral("Denetleme başladı. IP: ")) == 12; }));
    EXPECT_EQ(LogCount(QStringLiteral("Denetleme bitti. IP: ")), 0) << "a result before the last start";
    // Every check ends meanwhile; their results wait for the event loop as one batch.
    QThread::msleep(800);
    EXPECT_EQ(engine->Outstanding(), 12);
    WaitIdle();
    EXPECT_EQ(finishedAtEnd, 12);
    for (size_t i = 0; i < records.size(); ++i)
        EXPECT_EQ(
            Cell(records[i], TSystemRecord::State), i % 3 == 2 ? QStringLiteral("2") : QStringLiteral("3"))
            << i;
    EXPECT_EQ(LogCount(QStringLiteral(" Sonuç: Çalışıyor")), 12);
}

TEST_F(EngineTest, SingleCheckTakesOneRecordWithoutMailOrSound)
{
    StartFleet({Refusing()});
    const TRecordId one = Add(QStringLiteral("tek"), Target(0));
    list.SetCell(0, TSystemRecord::Select, QStringLiteral("0"));
    const TRecordId bad = Add(
        QStringLiteral("bozuk"), QStringLiteral("127.0.0.1:1"), QStringLiteral("2"), QStringLiteral("x"));
    TLiveSettings &s = engine->Settings();
    s.BeepAlarm = true;
    s.MailAfterCtrl = 0;
    std::atomic<int> mails{0};
    engine->SendStatusMailsJob = [&](const TLiveSettings &, const TSystemList &, TMailObjects &) { ++mails; };
    int alarms = 0;
    QObject::connect(engine.get(), &TCheckEngine::AlarmDue, engine.get(), [&] { ++alarms; });

    ASSERT_TRUE(engine->CheckFocused(one));
    EXPECT_TRUE(engine->Busy());
    EXPECT_FALSE(engine->CheckFocused(one));
    WaitIdle();
    EXPECT_EQ(Cell(one, TSystemRecord::State), QStringLiteral("1"));
    EXPECT_EQ(Cell(bad, TSystemRecord::State), QStringLiteral("2"));
    EXPECT_EQ(mails.load(), 0);
    EXPECT_EQ(alarms, 0);

    // A ColZYRplus that is no flag: the line is written, the error reaches the caller, the console is idle.
    EXPECT_THROW(engine->CheckFocused(bad), EZyrError);
    EXPECT_FALSE(engine->Busy());
    EXPECT_EQ(LogCount(QStringLiteral("Denetleme başladı. IP: 127.0.0.1:1")), 1);
}

// The systems that entered an alarm state are told of at the end of periodic cycles only, at once (not
// after a slow mail round), and once; the menu's cycles neither tell nor change what was told.
TEST_F(EngineTest, PeriodicCyclesTellOfSystemsEnteringAnAlarmStateOnce)
{
    StartFleet({Refusing(), Healthy(), Refusing()});
    Add(QStringLiteral("kapali"), Target(0));
    Add(QStringLiteral("saglam"), Target(1));
    const TRecordId later = Add(QStringLiteral("sonra"), Target(2));
    list.SetCell(list.PositionOf(later), TSystemRecord::Select, QStringLiteral("0"));
    engine->Settings().MailAfterCtrl = 0;
    std::atomic<bool> release{false};
    engine->SendStatusMailsJob = [&](const TLiveSettings &, const TSystemList &, TMailObjects &) {
        while (!release)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    };
    QList<QStringList> told;
    QObject::connect(engine.get(), &TCheckEngine::AlarmsEntered, engine.get(),
        [&](const QStringList &lines) { told << lines; });

    EXPECT_FALSE(engine->CycleHasRun());
    ASSERT_TRUE(engine->CheckFocused(list.IdAt(0)));
    WaitIdle();
    EXPECT_FALSE(engine->CycleHasRun()) << "a single check is no cycle";
    ASSERT_TRUE(engine->CheckCycle(TCheckOrigin::Menu));
    WaitIdle();
    EXPECT_TRUE(engine->CycleHasRun());
    EXPECT_TRUE(told.isEmpty()) << "the menu's cycle tells nothing";

    engine->CycleThenAlarm(TCheckOrigin::Timer);
    // Told while the status mails are still held back.
    ASSERT_TRUE(WaitUntil([&] { return !told.isEmpty(); }));
    EXPECT_EQ(told[0], QStringList({QStringLiteral("kapali: Çalışmıyor")}));
    EXPECT_TRUE(engine->MailBusy());
    release = true;
    WaitIdle();

    engine->CycleThenAlarm(TCheckOrigin::Timer);
    WaitIdle();
    EXPECT_EQ(told.size(), 1) << "still down: told once";

    list.SetCell(list.PositionOf(later), TSystemRecord::Select, QStringLiteral("1"));
    ASSERT_TRUE(engine->CheckCycle(TCheckOrigin::Menu));
    WaitIdle();
    EXPECT_EQ(told.size(), 1);
    engine->CycleThenAlarm(TCheckOrigin::Timer);
    WaitIdle();
    ASSERT_EQ(told.size(), 2);
    EXPECT_EQ(told[1], QStringList({QStringLiteral("sonra: Çalışmıyor")}));
}

// Status mails to a server that accepts and never answers: every address waits its TimeOut, on the mail
// thread; the window thread's 10 ms timer keeps ticking all along.
TEST_F(EngineTest, MailRoundToASilentServerLeavesTheEventLoopRunning)
{
    const TLoopbackListener silent(64);
    ASSERT_TRUE(silent.Listening());
    TLiveSettings &s = engine->Settings();
    for (const char *address : {"a@example.com", "b@example.com", "c@example.com"})
        s.Emails.SetChecked(s.Emails.Add(QString::fromLatin1(address)), true);
    s.Host = QString::fromStdString(silent.Host());
    s.Port = silent.Port();
    s.From = QStringLiteral("denetleyici@example.com");
    s.TimeOut = 1500;
    Add(QStringLiteral("sistem"), QStringLiteral("127.0.0.1:1"), QStringLiteral("2"));
    QList<bool> mailBusy;
    QObject::connect(
        engine.get(), &TCheckEngine::MailBusyChanged, engine.get(), [&](bool on) { mailBusy << on; });

    QElapsedTimer round;
    qint64 last = 0, longest = 0;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    tick.setInterval(10);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        longest = std::max(longest, round.elapsed() - last);
        last = round.elapsed();
    });
    round.start();
    tick.start();
    engine->SendStatusMails();
    EXPECT_TRUE(engine->Busy());
    EXPECT_TRUE(engine->MailBusy());
    WaitIdle(60000);
    tick.stop();

    EXPECT_GE(round.elapsed(), 3 * 1500 - 100); // each address waited for its greeting
    EXPECT_LT(longest, 500) << "the window thread stood still for " << longest << " ms";
    EXPECT_EQ(LogCount(QStringLiteral("E-posta gönderiminde hata: Authentication error")), 3);
    EXPECT_EQ(mailBusy, (QList<bool>{true, false}));
}

// The program ending during a mail round: the wait under way ends at once and no further address is tried.
TEST_F(EngineTest, ShutdownEndsAMailRoundAtOnce)
{
    const TLoopbackListener silent(64);
    ASSERT_TRUE(silent.Listening());
    TLiveSettings &s = engine->Settings();
    for (const char *address : {"a@example.com", "b@example.com", "c@example.com"})
        s.Emails.SetChecked(s.Emails.Add(QString::fromLatin1(address)), true);
    s.Host = QString::fromStdString(silent.Host());
    s.Port = silent.Port();
    s.From = QStringLiteral("denetleyici@example.com");
    s.TimeOut = 60000;
    Add(QStringLiteral("sistem"), QStringLiteral("127.0.0.1:1"), QStringLiteral("2"));

    engine->SendStatusMails();
    ASSERT_TRUE(WaitUntil([&] { return LogCount(QStringLiteral("gönderilecek")) == 1; }));
    QThread::msleep(100);
    QElapsedTimer stop;
    stop.start();
    engine->Shutdown();
    EXPECT_LT(stop.elapsed(), 2000);
    EXPECT_EQ(LogCount(QStringLiteral("gönderilecek")), 1);
    EXPECT_EQ(LogCount(QStringLiteral("E-posta gönderiminde hata")), 1);
    // Not a false "Authentication error": the system's text for a cancelled operation.
    EXPECT_EQ(LogCount(QStringLiteral("E-posta gönderiminde hata: Operation canceled")), 1);
}

// One mail at a time: status mails that fall due while a test mail is out wait for it, and a test mail
// is refused while status mails are out.
TEST_F(EngineTest, StatusMailsWaitForATestMailAndTestWaitsForNothing)
{
    TSmtpSink sink(dir.filePath(QStringLiteral("mails")));
    ASSERT_GT(sink.Port(), 0) << "the SMTP server did not start";
    const TLoopbackListener silent(64);
    TLiveSettings &s = MailTo(sink.Port());
    s.TimeOut = 1500;
    Add(QStringLiteral("sistem"), QStringLiteral("127.0.0.1:1"), QStringLiteral("2"));
    TLiveSettings toSilent = s;
    toSilent.Host = QString::fromStdString(silent.Host());
    toSilent.Port = silent.Port();
    QList<std::pair<bool, QString>> tests;
    QObject::connect(
        engine.get(), &TCheckEngine::TestMailFinished, engine.get(), [&](bool sent, const QString &failure) {
            tests.append({sent, failure});
        });
    QList<bool> mailBusy;
    QObject::connect(
        engine.get(), &TCheckEngine::MailBusyChanged, engine.get(), [&](bool on) { mailBusy << on; });

    ASSERT_TRUE(engine->SendTestMail(toSilent));
    EXPECT_FALSE(engine->SendTestMail(toSilent));
    engine->SendStatusMails();
    EXPECT_TRUE(engine->Busy());
    WaitIdle(30000);
    ASSERT_EQ(tests.size(), 1);
    EXPECT_FALSE(tests[0].first);
    EXPECT_EQ(tests[0].second, QStringLiteral("Authentication error"));
    EXPECT_EQ(sink.Recipients(), QStringList{QStringLiteral("ops@example.com")});
    const QStringList lines = LogLines();
    const qsizetype failed = lines.indexOf(QStringLiteral("E-posta gönderiminde hata: Authentication error"));
    const qsizetype sent = lines.indexOf(QStringLiteral("E-posta gönderildi"));
    EXPECT_TRUE(failed >= 0 && sent > failed) << lines.join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(mailBusy, (QList<bool>{true, false, true, false}));

    s.Host = QString::fromStdString(silent.Host());
    s.Port = silent.Port();
    engine->SendStatusMails();
    ASSERT_TRUE(engine->MailBusy());
    EXPECT_FALSE(engine->SendTestMail(s));
    WaitIdle(30000);
    EXPECT_EQ(tests.size(), 1);
}

// A settings dialog saved, or "Gönder" confirmed, while a cycle started under it runs: applied when the
// cycle has ended, as the nested waits of old let it happen; nothing else starts meanwhile.
TEST_F(EngineTest, SettingsAndSendConfirmedWhileBusyRunWhenItEnds)
{
    StartFleet({Healthy(300)});
    Add(QStringLiteral("a"), Target(0));
    TLiveSettings &s = engine->Settings();
    s.Period = 5;
    std::atomic<int> mails{0};
    engine->SendStatusMailsJob = [&](const TLiveSettings &, const TSystemList &, TMailObjects &) { ++mails; };

    ASSERT_TRUE(engine->CheckCycle(TCheckOrigin::Menu));
    s.Period = 7;
    engine->ApplySettings(false);
    engine->SendStatusMails();
    EXPECT_FALSE(engine->PeriodTimer->isActive());
    EXPECT_FALSE(engine->CheckCycle(TCheckOrigin::Menu));
    EXPECT_FALSE(engine->CheckFocused(list.IdAt(0)));
    EXPECT_EQ(mails.load(), 0);
    WaitIdle();
    EXPECT_EQ(mails.load(), 1);
    EXPECT_TRUE(engine->PeriodTimer->isActive());
    EXPECT_EQ(engine->PeriodTimer->interval(), 7 * 60000);
    EXPECT_EQ(LogCount(QStringLiteral("Denetleme başladı")), 1);
}

} // namespace
