// Confirmation before alarming, retry checks, acknowledgements and maintenance, with simulated systems
// whose answers change on command.
#include "EngineTestSupport.h"
#include "mail/StatusMails.h"
#include "SmtpSink.h"
#include <atomic>

namespace {

class AlarmRules : public EngineTest
{
protected:
    std::atomic<int> mails{0};
    int sounds = 0;
    QStringList entered;

    void SetUp() override
    {
        EngineTest::SetUp();
        TLiveSettings &s = engine->Settings();
        s.BeepAlarm = true;
        s.MailAfterCtrl = 1;
        engine->SendStatusMailsJob
            = [this](const TLiveSettings &, const TSystemList &, TMailObjects &) { ++mails; };
        QObject::connect(engine.get(), &TCheckEngine::AlarmDue, engine.get(), [this] { ++sounds; });
        QObject::connect(engine.get(), &TCheckEngine::AlarmsEntered, engine.get(),
            [this](const QStringList &Lines) { entered << Lines; });
    }
    // A periodic tick and its whole cycle.
    void Periodic()
    {
        engine->CycleThenAlarm(TCheckOrigin::Timer);
        WaitIdle();
    }
    // The log line that follows the first line containing Text.
    QString LineAfter(const QString &Text) const
    {
        const QStringList lines = LogLines();
        for (int i = 0; i + 1 < lines.size(); ++i)
            if (lines[i].contains(Text))
                return lines[i + 1];
        return QStringLiteral("<none>");
    }
};

} // namespace

// With AlarmAfter 3 a system that fails once and answers at the retry stays quiet; one that keeps failing
// is confirmed by the third result, which sounds, tells and mails like the end of the periodic cycle.
TEST_F(AlarmRules, UnconfirmedAlarmsAreCheckedAgainAndOnlyAConfirmedOneIsLoud)
{
    StartFleet({Healthy(), Healthy(), Healthy()});
    const TRecordId once = Add(QStringLiteral("bir-kez"), Target(0));
    const TRecordId down = Add(QStringLiteral("kapali"), Target(1));
    const TRecordId good = Add(QStringLiteral("saglam"), Target(2));
    engine->Settings().AlarmAfter = 3;
    engine->RetryIntervalMs = 300;
    sim->SetMode(0, "refuse");
    sim->SetMode(1, "refuse");

    Periodic();
    EXPECT_EQ(Cell(once, TSystemRecord::State), QStringLiteral("1"));
    EXPECT_EQ(Cell(down, TSystemRecord::State), QStringLiteral("1"));
    EXPECT_TRUE(engine->Unconfirmed(list.PositionOf(once)));
    EXPECT_FALSE(engine->CountsAsAlarm(list.PositionOf(down)));
    EXPECT_EQ(LineAfter(QStringLiteral("Denetleme bitti. IP: ") + Target(0)),
        QStringLiteral("Alarm doğrulanıyor (1/3). IP: ") + Target(0));
    EXPECT_EQ(sounds, 0);
    EXPECT_EQ(mails.load(), 0);
    EXPECT_TRUE(entered.isEmpty());
    ASSERT_TRUE(engine->RetryTimer->isActive());

    // The retry: the two unconfirmed systems only, the healthy one keeps its state and is not checked.
    sim->SetMode(0, "ok");
    const QString checked = Cell(good, TSystemRecord::ColDateTime);
    ASSERT_FALSE(checked.isEmpty());
    ASSERT_TRUE(WaitUntil([&] { return engine->Busy(); }, 5000));
    EXPECT_EQ(Cell(good, TSystemRecord::State), QStringLiteral("3"));
    EXPECT_EQ(Cell(good, TSystemRecord::ColDateTime), checked);
    WaitIdle();
    EXPECT_EQ(Cell(once, TSystemRecord::State), QStringLiteral("3"));
    EXPECT_EQ(LogCount(QStringLiteral("Denetleme başladı. IP: ") + Target(2)), 1);
    EXPECT_EQ(LogCount(QStringLiteral("Alarm doğrulanıyor (2/3). IP: ") + Target(1)), 1);
    EXPECT_EQ(LogCount(QStringLiteral("IP: ") + Target(0)), 5) << "two checks, one line 1/3";
    EXPECT_EQ(sounds, 0);
    EXPECT_EQ(mails.load(), 0);

    // The third result confirms: once, as at the end of a periodic cycle.
    ASSERT_TRUE(WaitUntil([&] { return LogCount(QStringLiteral("Alarm doğrulandı. IP: ")) == 1; }, 5000));
    WaitIdle();
    const QString ip = QStringLiteral(" IP: ") + Target(1);
    const QString started = QStringLiteral("Denetleme başladı.") + ip;
    const QString ended = QStringLiteral("Denetleme bitti.") + ip + QStringLiteral(" Sonuç: Çalışmıyor");
    EXPECT_EQ(LogLines().filter(ip).mid(0, 9),
        (QStringList{started, ended, QStringLiteral("Alarm doğrulanıyor (1/3).") + ip, started, ended,
            QStringLiteral("Alarm doğrulanıyor (2/3).") + ip, started, ended,
            QStringLiteral("Alarm doğrulandı.") + ip}));
    EXPECT_EQ(LogCount(QStringLiteral("Alarm doğrulandı. IP: ") + Target(1)), 1);
    EXPECT_TRUE(engine->CountsAsAlarm(list.PositionOf(down)));
    EXPECT_EQ(sounds, 1);
    EXPECT_EQ(mails.load(), 1);
    EXPECT_EQ(entered, QStringList{QStringLiteral("kapali: Çalışmıyor")});
    EXPECT_FALSE(engine->RetryTimer->isActive()) << "nothing is left unconfirmed";

    // Confirmed, it sounds after every periodic cycle; a recovery starts the count anew.
    Periodic();
    EXPECT_EQ(sounds, 2);
    EXPECT_EQ(mails.load(), 2);
    EXPECT_EQ(LogCount(QStringLiteral("Alarm doğrulanıyor")), 3);
    sim->SetMode(1, "ok");
    Periodic();
    sim->SetMode(1, "refuse");
    Periodic();
    EXPECT_EQ(LogCount(QStringLiteral("Alarm doğrulanıyor (1/3). IP: ") + Target(1)), 2);
    EXPECT_EQ(sounds, 2);
}

// A retry started by a menu cycle's finding confirms without a sound or a mail; one due while the console
// is busy waits for the end of that busy period; a periodic tick during a retry starts no cycle.
TEST_F(AlarmRules, RetryNeverStartsWhileBusyAndTakesItsCycleOrigin)
{
    StartFleet({Healthy(), Healthy(400)});
    const TRecordId down = Add(QStringLiteral("kapali"), Target(0));
    const TRecordId slow = Add(QStringLiteral("yavas"), Target(1));
    engine->Settings().AlarmAfter = 2;
    engine->RetryIntervalMs = 100;
    sim->SetMode(0, "refuse");

    ASSERT_TRUE(engine->CheckCycle(TCheckOrigin::Menu));
    WaitIdle();
    ASSERT_TRUE(engine->RetryTimer->isActive());
    // A single check of the slow system holds the console past the retry's time.
    ASSERT_TRUE(engine->CheckFocused(slow));
    ASSERT_TRUE(WaitUntil([&] { return !engine->RetryTimer->isActive(); }, 5000));
    EXPECT_TRUE(engine->Busy());
    EXPECT_EQ(LogCount(QStringLiteral("Denetleme başladı. IP: ") + Target(0)), 1) << "started while busy";
    ASSERT_TRUE(
        WaitUntil([&] { return LogCount(QStringLiteral("Denetleme başladı. IP: ") + Target(0)) == 2; }));
    EXPECT_EQ(LogLines().filter(QStringLiteral("Denetleme")).mid(4),
        (QStringList{QStringLiteral("Denetleme başladı. IP: ") + Target(1),
            QStringLiteral("Denetleme bitti. IP: ") + Target(1) + QStringLiteral(" Sonuç: Çalışıyor"),
            QStringLiteral("Denetleme başladı. IP: ") + Target(0)}));
    // A periodic tick during the retry starts nothing.
    ASSERT_TRUE(engine->Busy());
    engine->CycleThenAlarm(TCheckOrigin::Timer);
    WaitIdle();
    EXPECT_EQ(LogCount(QStringLiteral("Denetleme başladı. IP: ") + Target(1)), 2) << "the cycle, the single";
    EXPECT_EQ(LogCount(QStringLiteral("Alarm doğrulandı. IP: ") + Target(0)), 1);
    EXPECT_EQ(Cell(slow, TSystemRecord::State), QStringLiteral("3"));
    EXPECT_TRUE(engine->CountsAsAlarm(list.PositionOf(down)));
    EXPECT_EQ(sounds, 0) << "the finding cycle came from the menu";
    EXPECT_EQ(mails.load(), 0);

    // A periodic cycle that comes first takes the retry's place: no retry runs after it by itself.
    sim->SetMode(0, "ok");
    Periodic();
    sim->SetMode(0, "refuse");
    engine->RetryIntervalMs = 60000;
    Periodic();
    ASSERT_TRUE(engine->RetryTimer->isActive());
    Periodic();
    EXPECT_EQ(LogCount(QStringLiteral("Denetleme başladı. IP: ") + Target(0)), 5);
    EXPECT_EQ(LogCount(QStringLiteral("Alarm doğrulandı. IP: ") + Target(0)), 2);
    EXPECT_EQ(sounds, 1);
    EXPECT_EQ(mails.load(), 1);
    EXPECT_FALSE(engine->RetryTimer->isActive());
}

// A result thrown away because the record was edited during its check does not count.
TEST_F(AlarmRules, AResultOfARecordEditedDuringItsCheckDoesNotCount)
{
    StartFleet({Healthy(), Healthy()});
    const TRecordId record = Add(QStringLiteral("degisen"), Target(0));
    engine->Settings().AlarmAfter = 2;
    engine->RetryIntervalMs = 60000;
    sim->SetMode(0, "refuse");
    sim->SetMode(1, "refuse");
    ASSERT_TRUE(engine->CheckCycle(TCheckOrigin::Menu));
    TRecordFields fields{QStringLiteral("degisen"), Target(1), QStringLiteral("1"), QString(), false};
    ASSERT_TRUE(engine->ChangeRecord(record, fields));
    WaitIdle();
    EXPECT_EQ(LogCount(QStringLiteral("Denetleme başladı. IP: ")), 2);
    EXPECT_EQ(LogCount(QStringLiteral("Denetleme bitti. IP: ")), 1);
    EXPECT_EQ(engine->Mark(record)->Count, 1);
    EXPECT_EQ(LogCount(QStringLiteral("Alarm doğrulanıyor (1/2). IP: ") + Target(1)), 1);
}

// An acknowledged alarm is quiet and stays so while the system stays in any alarm state; the first
// recovery takes the acknowledgement off by itself and the next failure is loud again.
TEST_F(AlarmRules, AcknowledgementKeepsAnAlarmQuietUntilTheSystemRecovers)
{
    StartFleet({Healthy(), Healthy()});
    const TRecordId down = Add(QStringLiteral("kapali"), Target(0));
    const TRecordId good = Add(QStringLiteral("saglam"), Target(1));
    sim->SetMode(0, "refuse");
    std::vector<TMarkEvent> events;
    QObject::connect(engine.get(), &TCheckEngine::MarkEvent, engine.get(),
        [&](const QString &, TMarkEvent Event) { events.push_back(Event); });
    Periodic();
    EXPECT_EQ(sounds, 1);
    EXPECT_EQ(mails.load(), 1);

    EXPECT_FALSE(engine->Acknowledge(good, QStringLiteral("x"))) << "no alarm to acknowledge";
    ASSERT_TRUE(engine->Acknowledge(down, QStringLiteral("Site arandı")));
    EXPECT_FALSE(engine->Acknowledge(down, QStringLiteral("yine"))) << "already acknowledged";
    EXPECT_EQ(
        LogCount(QStringLiteral("Alarm onaylandı. IP: ") + Target(0) + QStringLiteral(" Not: Site arandı")),
        1);
    EXPECT_EQ(engine->StateMark(list.PositionOf(down)), QStringLiteral(" (onaylandı: Site arandı)"));
    EXPECT_FALSE(engine->CountsAsAlarm(list.PositionOf(down)));
    Periodic();
    EXPECT_EQ(sounds, 1);
    EXPECT_EQ(mails.load(), 1) << "MailAfterCtrl 1 counts no acknowledged alarm";

    sim->SetMode(0, "ok");
    Periodic();
    EXPECT_EQ(
        LineAfter(QStringLiteral("Denetleme bitti. IP: ") + Target(0) + QStringLiteral(" Sonuç: Çalışıyor")),
        QStringLiteral("Alarm onayı kalktı, sistem düzeldi. IP: ") + Target(0));
    EXPECT_EQ(engine->Mark(down), nullptr);
    sim->SetMode(0, "refuse");
    Periodic();
    EXPECT_EQ(sounds, 2);

    ASSERT_TRUE(engine->Acknowledge(down, QStringLiteral("tekrar")));
    ASSERT_TRUE(engine->RemoveAcknowledgement(down));
    EXPECT_FALSE(engine->RemoveAcknowledgement(down));
    EXPECT_EQ(LogCount(QStringLiteral("Alarm onayı kaldırıldı. IP: ") + Target(0)), 1);
    Periodic();
    EXPECT_EQ(sounds, 3);
    EXPECT_EQ(events,
        (std::vector<TMarkEvent>{TMarkEvent::Acknowledged, TMarkEvent::AckFell, TMarkEvent::Acknowledged,
            TMarkEvent::AckRemoved}));
}

// A system in maintenance is checked and shown but quiet until its end, which its own timer ends.
TEST_F(AlarmRules, MaintenanceKeepsASystemQuietUntilItsEnd)
{
    StartFleet({Healthy()});
    const TRecordId down = Add(QStringLiteral("kapali"), Target(0));
    sim->SetMode(0, "refuse");
    const qint64 end = QDateTime::currentSecsSinceEpoch() + 2;
    EXPECT_FALSE(engine->StartMaintenance(down, QStringLiteral("n"), end - 3)) << "an end gone by";
    ASSERT_TRUE(engine->StartMaintenance(down, QStringLiteral("Disk değişiyor"), end));
    EXPECT_EQ(LogCount(QStringLiteral("Bakım başladı. IP: ") + Target(0) + QStringLiteral(" Bitiş: ")
                  + FormatMarkTime(end) + QStringLiteral(" Not: Disk değişiyor")),
        1);
    Periodic();
    EXPECT_EQ(Cell(down, TSystemRecord::State), QStringLiteral("1"));
    EXPECT_EQ(engine->StateMark(list.PositionOf(down)), QStringLiteral(" (bakımda)"));
    EXPECT_EQ(sounds, 0);
    EXPECT_EQ(mails.load(), 0);
    EXPECT_TRUE(entered.isEmpty());

    ASSERT_TRUE(WaitUntil([&] { return !engine->InMaintenance(down); }, 5000));
    EXPECT_GE(QDateTime::currentSecsSinceEpoch(), end);
    EXPECT_EQ(LogCount(QStringLiteral("Bakım bitti. IP: ") + Target(0)), 1);
    Periodic();
    EXPECT_EQ(sounds, 1);
    EXPECT_EQ(mails.load(), 1);
    EXPECT_EQ(entered, QStringList{QStringLiteral("kapali: Çalışmıyor")});

    ASSERT_TRUE(engine->StartMaintenance(down, QString(), end + 3600));
    ASSERT_TRUE(engine->EndMaintenance(down));
    EXPECT_FALSE(engine->EndMaintenance(down));
    EXPECT_EQ(LogCount(QStringLiteral("Bakım bitti. IP: ") + Target(0)), 2);
    EXPECT_FALSE(engine->MaintenanceTimer->isActive());
}

// The status mail's rows carry the marks after the state's text, as the rest of the row is written; the
// mail is read back from a real SMTP server.
TEST_F(AlarmRules, StatusMailRowsCarryTheMarks)
{
    TSmtpSink sink(dir.filePath(QStringLiteral("mails")));
    ASSERT_GT(sink.Port(), 0) << "the SMTP server did not start";
    StartFleet({Healthy(), Healthy(), Healthy(), Healthy()});
    const TRecordId fresh = Add(QStringLiteral("yeni-ariza"), Target(0));
    const TRecordId acknowledged = Add(QStringLiteral("onayli"), Target(1));
    const TRecordId maintained = Add(QStringLiteral("bakimda"), Target(2));
    Add(QStringLiteral("saglam"), Target(3));
    TLiveSettings &s = MailTo(sink.Port());
    s.MailAfterCtrl = 0;
    s.AlarmAfter = 2;
    engine->RetryIntervalMs = 60000;
    engine->SendStatusMailsJob = [](const TLiveSettings &Live, const TSystemList &Records,
                                     TMailObjects &Objects) { ::SendStatusMails(Live, Records, Objects); };
    sim->SetMode(1, "refuse");
    sim->SetMode(2, "refuse");
    ASSERT_TRUE(engine->CheckCycle(TCheckOrigin::Menu));
    WaitIdle();
    ASSERT_TRUE(engine->Acknowledge(acknowledged, QStringLiteral("Site <b>arandı</b>")));
    ASSERT_TRUE(engine->StartMaintenance(
        maintained, QStringLiteral("Disk"), QDateTime::currentSecsSinceEpoch() + 600));
    sim->SetMode(0, "refuse");
    Periodic();
    EXPECT_EQ(Cell(fresh, TSystemRecord::State), QStringLiteral("1"));

    ASSERT_EQ(sink.Recipients(), QStringList{QStringLiteral("ops@example.com")});
    QByteArray mail = sink.Message(1);
    mail.replace("=\r\n", "");
    const QString html = QString::fromUtf8(QByteArray::fromPercentEncoding(mail, '='));
    EXPECT_TRUE(html.contains(QStringLiteral("\">Çalışmıyor (doğrulanıyor)&nbsp;&nbsp;</td>")))
        << html.toStdString();
    EXPECT_TRUE(
        html.contains(QStringLiteral("\">Çalışmıyor (onaylandı: Site <b>arandı</b>)&nbsp;&nbsp;</td>")));
    EXPECT_TRUE(html.contains(QStringLiteral("\">Çalışmıyor (bakımda)&nbsp;&nbsp;</td>")));
    EXPECT_TRUE(html.contains(QStringLiteral("\">Çalışıyor&nbsp;&nbsp;</td>")));
    EXPECT_EQ(html.count(QStringLiteral("(do")), 1);
}
