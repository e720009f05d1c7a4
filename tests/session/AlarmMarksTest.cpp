// What the session makes of confirmation, acknowledgements and maintenance: the tray and the desktop
// notification count only the alarms that count, and acknowledgements and maintenance stand across a
// restart through the history database.
#include "../support/PrivateMount.h"
#include "history/AlarmNotes.h"
#include "history/HistoryQuery.h"
#include "SessionTestSupport.h"
#include <QDateTime>

namespace {

class SessionMarks : public SessionTest
{
protected:
    QString Target(size_t i) const { return QString::fromStdString(sim->Target(i)); }
    void Periodic()
    {
        session->Engine().CycleThenAlarm(TCheckOrigin::Timer);
        WaitIdle();
    }
    // The program's start on the files left: the list, then the start.
    void Restart()
    {
        Make();
        session->LoadList();
        session->Start(false);
    }
};

TEST_F(SessionMarks, TrayAndNotificationCountOnlyConfirmedQuietlessAlarms)
{
    StartFleet({Healthy("saglam"), Healthy("kapali"), Healthy("ikinci")});
    sim->SetMode(1, "refuse");
    sim->SetMode(2, "refuse");
    Edit([](TLiveSettings &s) { s.AlarmAfter = 2; });
    session->Engine().RetryIntervalMs = 60000;
    QList<QStringList> shown;
    QObject::connect(
        session.get(), &TConsoleSession::NotificationDue, [&](const QStringList &Lines) { shown << Lines; });

    Periodic();
    EXPECT_EQ(session->TrayState().Colour, TTrayColour::Green) << "unconfirmed alarms do not turn it red";
    EXPECT_EQ(session->TrayHint(), QStringLiteral("ZYRdenetleyici – 0 alarm / 3"));
    EXPECT_EQ(session->StateMark(IdOf(QStringLiteral("kapali"))), QStringLiteral(" (doğrulanıyor)"));
    EXPECT_TRUE(shown.isEmpty());

    Periodic();
    EXPECT_EQ(session->TrayState().Colour, TTrayColour::Red);
    EXPECT_EQ(session->TrayHint(), QStringLiteral("ZYRdenetleyici – 2 alarm / 3"));
    ASSERT_EQ(shown.size(), 1);
    EXPECT_EQ(
        shown[0], (QStringList{QStringLiteral("kapali: Çalışmıyor"), QStringLiteral("ikinci: Çalışmıyor")}));

    // Acknowledged (the one, then every marked alarm) and in maintenance: neither counts.
    int trayNews = 0;
    QObject::connect(session.get(), &TConsoleSession::TrayStateChanged, [&] { ++trayNews; });
    ASSERT_TRUE(session->Acknowledge(IdOf(QStringLiteral("kapali")), QStringLiteral("Arandı"), false));
    EXPECT_GE(trayNews, 1);
    EXPECT_EQ(session->TrayHint(), QStringLiteral("ZYRdenetleyici – 1 alarm / 3"));
    ASSERT_TRUE(session->Acknowledge(IdOf(QStringLiteral("saglam")), QStringLiteral("Hepsi"), true));
    EXPECT_EQ(session->StateMark(IdOf(QStringLiteral("kapali"))), QStringLiteral(" (onaylandı: Arandı)"));
    EXPECT_EQ(session->StateMark(IdOf(QStringLiteral("ikinci"))), QStringLiteral(" (onaylandı: Hepsi)"));
    EXPECT_EQ(session->StateMark(IdOf(QStringLiteral("saglam"))), QString());
    EXPECT_EQ(session->TrayState().Colour, TTrayColour::Green);
    EXPECT_EQ(LogCount(QStringLiteral("Alarm onaylandı. IP: ")), 2);
    ASSERT_TRUE(session->RemoveAcknowledgement(IdOf(QStringLiteral("ikinci"))));
    EXPECT_EQ(session->TrayState().Colour, TTrayColour::Red);
    const qint64 end = QDateTime::currentSecsSinceEpoch() + 3600;
    ASSERT_TRUE(
        session->StartMaintenance(IdOf(QStringLiteral("ikinci")), QStringLiteral("Onarım"), end, true));
    EXPECT_EQ(LogCount(QStringLiteral("Bakım başladı. IP: ")), 3) << "every marked system";
    EXPECT_EQ(session->StateMark(IdOf(QStringLiteral("kapali"))), QStringLiteral(" (bakımda)"));
    EXPECT_EQ(session->TrayHint(), QStringLiteral("ZYRdenetleyici – 0 alarm / 3"));
}

// Both stand across a restart: the state 0 after the start neither keeps nor drops an acknowledgement,
// the first result does; a maintenance whose end passed while the program was closed ends at the start.
TEST_F(SessionMarks, AcknowledgementAndMaintenanceStandAcrossARestart)
{
    StartFleet({Healthy("onayli"), Healthy("bakimda"), Healthy("uzun")});
    for (size_t i = 0; i < 3; ++i)
        sim->SetMode(i, "refuse");
    session->Start(false);
    Edit([](TLiveSettings &s) { s.BeepAlarm = true; });
    Periodic();
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    ASSERT_TRUE(session->Acknowledge(IdOf(QStringLiteral("onayli")), QStringLiteral("Site arandı"), false));
    ASSERT_TRUE(
        session->StartMaintenance(IdOf(QStringLiteral("bakimda")), QStringLiteral("kısa"), now + 2, false));
    ASSERT_TRUE(
        session->StartMaintenance(IdOf(QStringLiteral("uzun")), QStringLiteral("uzun"), now + 3600, false));
    session->SaveForSessionEnd();
    session->End();
    const std::vector<THistoryMark> kept = ReadStandingMarks(session->HistoryFileName());
    ASSERT_EQ(kept.size(), 3u);
    EXPECT_EQ(kept[0].Note, QStringLiteral("Site arandı"));
    EXPECT_EQ(kept[2].End, now + 3600);

    Restart();
    EXPECT_EQ(StateOf(QStringLiteral("onayli")), QStringLiteral("0"));
    const TAlarmMark *ack = session->Engine().Mark(IdOf(QStringLiteral("onayli")));
    ASSERT_TRUE(ack && ack->Ack);
    EXPECT_EQ(ack->Ack->Note, QStringLiteral("Site arandı"));
    EXPECT_TRUE(session->Engine().InMaintenance(IdOf(QStringLiteral("bakimda"))));
    EXPECT_EQ(LogCount(QStringLiteral("Bakım bitti.")), 0);
    session->End();

    // Closed past the short maintenance's end.
    QThread::msleep(std::max<qint64>(0, (now + 2) * 1000 - QDateTime::currentMSecsSinceEpoch() + 100));
    Restart();
    EXPECT_EQ(LogCount(QStringLiteral("Bakım bitti. IP: ") + Target(1)), 1);
    EXPECT_FALSE(session->Engine().InMaintenance(IdOf(QStringLiteral("bakimda"))));
    EXPECT_TRUE(session->Engine().InMaintenance(IdOf(QStringLiteral("uzun"))));
    int sounds = 0;
    QObject::connect(session.get(), &TConsoleSession::AlarmDue, [&] { ++sounds; });
    Edit([](TLiveSettings &s) { s.BeepAlarm = true; });

    // Still down: the acknowledgement stays and only the system out of maintenance sounds.
    Periodic();
    EXPECT_TRUE(session->Engine().Mark(IdOf(QStringLiteral("onayli")))->Ack);
    EXPECT_EQ(sounds, 1);
    session->ListForView().SetCell(session->List().PositionOf(IdOf(QStringLiteral("bakimda"))),
        TSystemRecord::Select, QStringLiteral("0"));
    Periodic();
    EXPECT_EQ(sounds, 1) << "the acknowledged and the maintained systems are quiet";
    sim->SetMode(0, "ok");
    Periodic();
    EXPECT_EQ(LogCount(QStringLiteral("Alarm onayı kalktı, sistem düzeldi. IP: ") + Target(0)), 1);
    session->End();
    Restart();
    EXPECT_EQ(session->Engine().Mark(IdOf(QStringLiteral("onayli"))), nullptr) << "its fall was kept";
    EXPECT_EQ(LogCount(QStringLiteral("Bakım bitti.")), 1);

    // A deleted record's maintenance does not come back to a system added at its address.
    ASSERT_EQ(ReadStandingMarks(session->HistoryFileName()).size(), 1u);
    ASSERT_TRUE(session->DeleteRecord(IdOf(QStringLiteral("uzun"))));
    session->End();
    EXPECT_TRUE(ReadStandingMarks(session->HistoryFileName()).empty());
    EXPECT_EQ(LogCount(QStringLiteral("Bakım bitti.")), 1) << "a deletion ends it without a line";
}

// The history keeps a system's time in maintenance apart: neither available nor in alarm.
TEST_F(SessionMarks, MaintenanceTimeIsNeitherAvailableNorAlarmInTheHistory)
{
    StartFleet({Healthy("bakimda")});
    sim->SetMode(0, "refuse");
    session->Start(false);
    const TRecordId record = IdOf(QStringLiteral("bakimda"));
    ASSERT_TRUE(session->StartMaintenance(
        record, QStringLiteral("n"), QDateTime::currentSecsSinceEpoch() + 600, false));
    Periodic();
    const qint64 from = QDateTime::currentSecsSinceEpoch();
    QThread::msleep(2100);
    ASSERT_TRUE(session->EndMaintenance(record));
    sim->SetMode(0, "ok");
    Periodic();
    const qint64 until = QDateTime::currentSecsSinceEpoch();
    session->End();

    THistoryReader reader(session->HistoryFileName());
    const TStateTotals totals = reader.Totals(Target(0), from - 3600, until + 3600, until + 5);
    EXPECT_EQ(totals.Results[kHistoryMaintenance], 1);
    EXPECT_EQ(totals.Results[1], 0);
    EXPECT_EQ(totals.Results[3], 1);
    EXPECT_GE(totals.Maintenance(), 2);
    EXPECT_LE(totals.Maintenance(), until - from + 1);
    EXPECT_EQ(totals.Alarm(), 0);
    EXPECT_EQ(totals.AvailabilityPercent(), 100.0) << "only the time after it is known";
}

// A database that cannot be written costs the marks nothing for this run.
TEST_F(SessionMarks, ReadOnlyFolderKeepsAcknowledgementsForTheRun)
{
    TPrivateTmpfs fs("size=1m,nr_inodes=64,mode=0755");
    SKIP_WITHOUT_PRIVATE_TMPFS(fs);
    ASSERT_TRUE(fs.MakeReadOnly());
    Make(fs.FilePath("ZYRdenetleyici.dat"));
    StartFleet({Healthy("kapali")});
    sim->SetMode(0, "refuse");
    session->Start(false);
    Periodic();
    ASSERT_TRUE(session->Acknowledge(IdOf(QStringLiteral("kapali")), QStringLiteral("not"), false));
    EXPECT_EQ(session->TrayState().Colour, TTrayColour::Grey);
    session->End();
    EXPECT_EQ(LogCount(QStringLiteral("Alarm onaylandı. IP: ")), 1);
    EXPECT_EQ(LogCount(QStringLiteral("Geçmiş veritabanına yazılamadı: salt okunur")), 1);
}

} // namespace
