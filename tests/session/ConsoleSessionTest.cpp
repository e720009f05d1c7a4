// The session's rules over a fleet of simulated recording systems: cycles and their states and log lines,
// the busy state, the mail, alarm and notification rules, the tray state, the start, the list file at start
// and at close, and the live settings.
#include "platform/Errors.h"
#include "SessionTestSupport.h"
#include "SmtpSink.h"
#include <atomic>
#include <QTimer>

namespace {

TEST_F(SessionTest, CycleOverFleetGivesEveryStateAndLogsEachOutcome)
{
    std::vector<TSimSystem> fleet;
    for (TSimSystem s : DemoFleet("127.0.0.", 2)) {
        s.Port = 0;
        if (s.Kind == TSimKind::Plus)
            s.Host = "auto";
        else
            s.Host = "127.0.0.1";
        fleet.push_back(s);
    }
    TSimSystem connectedOnly = Healthy("bozuk-yanit");
    connectedOnly.Mode = "badsig";
    fleet.push_back(connectedOnly);
    StartFleet(fleet);
    AddRecord(QStringLiteral("isaretsiz"), QStringLiteral("127.0.0.1:1"), 0, false);
    std::atomic<int> mails{0};
    CountMails(mails);
    QList<bool> busyNews;
    QObject::connect(session.get(), &TConsoleSession::BusyChanged, [&](bool Busy) { busyNews << Busy; });

    session->CheckCycle();
    EXPECT_TRUE(session->Busy());
    WaitIdle();
    EXPECT_EQ(busyNews, (QList<bool>{true, false}));
    const std::pair<const char *, const char *> expected[] = {
        {"saglam", "3"},
        {"kanal-alarmi", "6"},
        {"disk-alarmi", "6"},
        {"aygit-eksik", "4"},
        {"aygit-fazla", "5"},
        {"plus-saglam", "3"},
        {"plus-kanal-alarmi", "6"},
        {"kapali", "1"},
        {"bozuk-yanit", "2"},
        {"isaretsiz", "7"},
    };
    for (const auto &[name, state] : expected)
        EXPECT_EQ(StateOf(QString::fromUtf8(name)), QString::fromUtf8(state)) << name;
    for (size_t i = 0; i < sim->Systems().size(); ++i) {
        const QString ip = QString::fromStdString(sim->Target(i));
        EXPECT_EQ(LogCount(QStringLiteral("Denetleme başladı. IP: ") + ip), 1) << ip.toStdString();
    }
    EXPECT_EQ(LogCount(QStringLiteral("Sonuç: Aygıt eksik tespit edildi")), 1);
    EXPECT_EQ(LogCount(QStringLiteral("Sonuç: Çalışmıyor")), 1);
    EXPECT_EQ(LogCount(QStringLiteral("Sonuç: Alarm tespit edildi")), 3);
    EXPECT_EQ(mails.load(), 0); // the menu command never mails

    for (int i = 0; i < List().Count(); ++i) {
        const QString time = List().Cell(i, TSystemRecord::ColDateTime);
        if (List().Cell(i, TSystemRecord::Select) == QLatin1String("1"))
            EXPECT_TRUE(
                QRegularExpression(QStringLiteral("^\\d\\d\\D\\d\\d\\D\\d{4}   \\d\\d\\D\\d\\d\\D\\d\\d$"))
                    .match(time)
                    .hasMatch())
                << time.toStdString();
        else
            EXPECT_TRUE(time.isEmpty());
    }
}

TEST_F(SessionTest, CycleWithNoMarkedRecordClearsStatesAndStartsNothing)
{
    AddRecord(QStringLiteral("a"), QStringLiteral("127.0.0.1:1"), 0, false);
    List().SetCell(0, TSystemRecord::ColDateTime, QStringLiteral("01.01.2024   10:00:00"));
    int busyNews = 0;
    QObject::connect(session.get(), &TConsoleSession::BusyChanged, [&] { ++busyNews; });
    session->CheckCycle();
    EXPECT_EQ(List().Cell(0, TSystemRecord::State), QStringLiteral("7"));
    EXPECT_TRUE(List().Cell(0, TSystemRecord::ColDateTime).isEmpty());
    EXPECT_FALSE(session->Busy());
    EXPECT_EQ(busyNews, 0);
    EXPECT_EQ(LogCount(QStringLiteral("Denetleme başladı")), 0);
}

// Counts the list's resets (a re-sort is one) and remembers any order seen while the session is busy.
class TOrderWatch : public TSystemListObserver
{
public:
    std::function<void()> OnChange;
    int Resets = 0;
    void ListReset() override { ++Resets; }
    void RowsChanged(int, int) override { OnChange(); }
};

TEST_F(SessionTest, WhileBusyATickStartsNothingAndTheRowsKeepTheirPlaces)
{
    // Slow answers keep the cycle running meanwhile, within the reply wait.
    StartFleet({Healthy("b", 300), Healthy("a", 150), Healthy("c", 450)});
    List().SetCell(2, TSystemRecord::State, QStringLiteral("3"));
    ASSERT_TRUE(session->SortByHeader(TSystemRecord::State)); // by state, ascending
    const QStringList before = Names();
    std::atomic<int> mails{0};
    CountMails(mails);
    Edit([](TLiveSettings &s) { s.MailAfterCtrl = 0; });

    TOrderWatch watch;
    QStringList orderWhileBusy;
    watch.OnChange = [&] {
        if (session->Busy() && Names() != before)
            orderWhileBusy = Names();
    };
    List().SetObserver(&watch);
    bool tickSeen = false, sortedWhileBusy = true;
    QTimer::singleShot(60, session.get(), [&] {
        tickSeen = session->Busy();
        session->Engine().CycleThenAlarm(TCheckOrigin::Timer);
        sortedWhileBusy = session->SortByHeader(TSystemRecord::Name);
    });

    session->Engine().CycleThenAlarm(TCheckOrigin::Timer);
    WaitIdle();
    List().SetObserver(nullptr);

    EXPECT_TRUE(tickSeen);
    EXPECT_FALSE(sortedWhileBusy) << "a header click sorts nothing while busy";
    EXPECT_EQ(LogCount(QStringLiteral("Denetleme başladı")), 3);
    EXPECT_EQ(mails.load(), 1);
    EXPECT_TRUE(orderWhileBusy.isEmpty()) << orderWhileBusy.join(QLatin1Char(',')).toStdString();
    EXPECT_EQ(watch.Resets, 1); // one re-sort, when the cycle ended
    // Every answer was a healthy report.
    for (int i = 0; i < List().Count(); ++i)
        EXPECT_EQ(List().Cell(i, TSystemRecord::State), QStringLiteral("3"));
}

TEST_F(SessionTest, MailsAfterAPeriodicCycleFollowTheRule)
{
    struct TCase
    {
        int Rule;
        bool Alarm;
        TCheckOrigin Origin;
        int Mails;
    };
    const TCase cases[] = {
        {0, false, TCheckOrigin::Timer, 1},
        {1, false, TCheckOrigin::Timer, 0},
        {1, true, TCheckOrigin::Timer, 1},
        {2, true, TCheckOrigin::Timer, 0},
        {0, true, TCheckOrigin::Menu, 0},
        {0, true, TCheckOrigin::StartUp, 0},
    };
    TSimSystem excess = Healthy("fazla");
    excess.Expect = 0;
    excess.Devices.push_back({"D4E5F6", 0, 2, "0,0"});
    for (const TCase &c : cases) {
        Make();
        StartFleet({Healthy("saglam")});
        std::unique_ptr<TSimulator> second;
        if (c.Alarm) {
            second = StartSimulator({excess});
            ASSERT_TRUE(second);
            AddRecord(QStringLiteral("fazla"), QString::fromStdString(second->Target(0)), 1);
        }
        std::atomic<int> mails{0};
        CountMails(mails);
        Edit([&](TLiveSettings &s) { s.MailAfterCtrl = c.Rule; });
        session->Engine().CycleThenAlarm(c.Origin);
        WaitIdle();
        if (c.Alarm) {
            EXPECT_EQ(StateOf(QStringLiteral("fazla")), QStringLiteral("5"));
        }
        EXPECT_EQ(mails.load(), c.Mails) << "rule " << c.Rule << " origin " << int(c.Origin);
    }
}

// The whole road of a periodic check with a real SMTP server: the cycle ends in one status mail per
// ticked address under rule 0, and the menu's "Denetle" sends none.
TEST_F(SessionTest, PeriodicCycleDeliversTheStatusMailAndTheMenuCheckDoesNot)
{
    QTemporaryDir mails;
    TSmtpSink sink(mails.filePath(QStringLiteral("in")));
    ASSERT_GT(sink.Port(), 0) << "the SMTP server did not start";
    StartFleet({Healthy("saglam")});
    Edit([&](TLiveSettings &s) {
        s.Emails.Add(QStringLiteral("nobetci@example.com"));
        s.Emails.SetChecked(0, true);
        s.Host = QStringLiteral("127.0.0.1");
        s.Port = sink.Port();
        s.From = QStringLiteral("denetleyici@example.com");
        s.SSL = false;
        s.MailAfterCtrl = 0;
    });

    session->CheckCycle();
    WaitIdle();
    EXPECT_TRUE(sink.Recipients().isEmpty());

    session->Engine().CycleThenAlarm(TCheckOrigin::Timer);
    WaitIdle();
    EXPECT_EQ(sink.Recipients(), QStringList{QStringLiteral("nobetci@example.com")});
    QFile mail(mails.filePath(QStringLiteral("in/1.eml")));
    ASSERT_TRUE(mail.open(QIODevice::ReadOnly));
    const QByteArray message = mail.readAll();
    EXPECT_TRUE(message.contains("saglam")) << message.left(400).constData();
    EXPECT_EQ(LogCount(QStringLiteral("E-posta gönderildi")), 1)
        << LogLines().join(QLatin1Char('\n')).toStdString();
}

TEST_F(SessionTest, AlarmSoundsOnlyForAMarkedSystemThatDoesNotWork)
{
    struct TCase
    {
        const char *Select;
        const char *State;
        bool Beep;
        bool Wav;
        const char *Heard;
    };
    const TCase cases[] = {
        {"1", "1", true, false, "beep"},
        {"1", "1", true, true, "wav"},
        {"1", "6", true, true, ""},
        {"0", "1", true, true, ""},
        {"1", "1", false, true, ""},
    };
    for (const TCase &c : cases) {
        Make();
        AddRecord(QStringLiteral("x"), QStringLiteral("127.0.0.1:1"));
        List().SetCell(0, TSystemRecord::Select, QString::fromUtf8(c.Select));
        List().SetCell(0, TSystemRecord::State, QString::fromUtf8(c.State));
        Edit([&](TLiveSettings &s) { s.BeepAlarm = c.Beep; });
        QFile::remove(QStringLiteral("Alarm.wav"));
        if (c.Wav) {
            QFile wav(QStringLiteral("Alarm.wav"));
            ASSERT_TRUE(wav.open(QIODevice::WriteOnly));
        }
        QStringList heard;
        QObject::connect(session.get(), &TConsoleSession::AlarmDue, [&](const QString &Path) {
            if (Path.isEmpty()) {
                heard << QStringLiteral("beep");
                return;
            }
            heard << QStringLiteral("wav");
            EXPECT_EQ(Path, QDir::current().absoluteFilePath(QStringLiteral("Alarm.wav")));
        });
        session->Engine().PlayAlarm();
        EXPECT_EQ(heard.join(u','), QString::fromUtf8(c.Heard)) << c.Select << c.State << c.Beep << c.Wav;
    }
}

// The confirmed close writes every State as 0; a failed write raises the file's error and leaves the rows
// showing state 0 too. The end of the desktop session saves the same way and logs a failure.
TEST_F(SessionTest, CloseSavesEveryStateAsZeroAndAFailedSaveResetsTheRows)
{
    Make(QStringLiteral("yok/ZYRdenetleyici.dat"));
    AddRecord(QStringLiteral("a"), QStringLiteral("127.0.0.1:1"));
    List().SetCell(0, TSystemRecord::State, QStringLiteral("6"));
    List().SetCell(0, TSystemRecord::Details, QStringLiteral("rapor"));
    QString failure;
    try {
        session->SaveOnClose();
    } catch (const EZyrError &e) {
        failure = e.Message();
    }
    EXPECT_EQ(failure, QStringLiteral("Cannot create file yok/ZYRdenetleyici.dat"));
    EXPECT_EQ(List().Cell(0, TSystemRecord::State), QStringLiteral("0")); // reset when the save failed
    session->SaveForSessionEnd();
    EXPECT_EQ(LogLines().last(),
        QStringLiteral("Bir hata oluştu. Hata kodu: 10001. Cannot create file yok/ZYRdenetleyici.dat"));

    ASSERT_TRUE(QDir().mkdir(QStringLiteral("yok")));
    List().SetCell(0, TSystemRecord::State, QStringLiteral("6"));
    session->SaveOnClose();
    auto saved = Saved(QStringLiteral("yok/ZYRdenetleyici.dat"));
    ASSERT_EQ(saved->Count(), 1);
    EXPECT_EQ(saved->Cell(0, TSystemRecord::State), QStringLiteral("0"));
    EXPECT_EQ(saved->Cell(0, TSystemRecord::Details), QStringLiteral("rapor"));

    // The end of the desktop session writes even while busy.
    List().SetCell(0, TSystemRecord::Name, QStringLiteral("b"));
    session->Engine().SetBusy(true);
    session->SaveForSessionEnd();
    session->Engine().SetBusy(false);
    EXPECT_EQ(
        Saved(QStringLiteral("yok/ZYRdenetleyici.dat"))->Cell(0, TSystemRecord::Name), QStringLiteral("b"));

    // The program's last line, once, however the session ends.
    const int ends = LogCount(QStringLiteral("Program kapandı"));
    session->End();
    session.reset();
    EXPECT_EQ(LogLines().last(), QStringLiteral("Program kapandı"));
    EXPECT_EQ(LogCount(QStringLiteral("Program kapandı")), ends + 1);
}

TEST_F(SessionTest, DamagedListFileKeepsTheRowsReadAndTellsTheError)
{
    {
        TSystemList list;
        TSystemRecord r;
        r.Cells = {QStringLiteral("1"), QStringLiteral("ilk"), QStringLiteral("h1"), QString(),
            QStringLiteral("0"), QStringLiteral("0"), QString(), QString(), QStringLiteral("0")};
        list.Add(r);
        r.Cells[1] = QStringLiteral("ikinci");
        list.Add(r);
        QByteArray bytes = SystemListBytes(list);
        bytes.chop(5);
        QFile f(QStringLiteral("ZYRdenetleyici.dat"));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
    Make();
    EXPECT_EQ(session->LoadList(), QStringLiteral("Stream read error"));
    ASSERT_EQ(List().Count(), 1);
    EXPECT_EQ(List().Cell(0, TSystemRecord::Name), QStringLiteral("ilk"));
    // The lines of this session: the line before the load is written although the load failed.
    const QStringList lines = LogLines();
    EXPECT_EQ(lines.mid(lines.lastIndexOf(QStringLiteral("Program açıldı"))),
        (QStringList{QStringLiteral("Program açıldı"), QStringLiteral("Veriler yüklendi")}));

    // Without a file there is nothing to load and nothing to tell.
    QFile::remove(QStringLiteral("ZYRdenetleyici.dat"));
    Make();
    EXPECT_EQ(session->LoadList(), QString());
    EXPECT_EQ(List().Count(), 0);
    EXPECT_EQ(LogCount(QStringLiteral("Veriler yüklendi")), 1);
}

// The tray shows the marked systems' state: its colour, and the counts in its hint once a cycle has run;
// a periodic cycle tells of the systems that entered an alarm state, when the setting says so.
TEST_F(SessionTest, TrayStateAndNotificationsFollowTheMarkedSystems)
{
    TSimSystem down = Healthy("kapali");
    down.Mode = "refuse";
    TSimSystem alarm = Healthy("alarmli");
    alarm.Devices[0].Channels = "0,1,0,0";
    StartFleet({Healthy("saglam"), down, alarm});
    QList<QStringList> shown;
    QObject::connect(
        session.get(), &TConsoleSession::NotificationDue, [&](const QStringList &Lines) { shown << Lines; });
    int trayNews = 0;
    QObject::connect(session.get(), &TConsoleSession::TrayStateChanged, [&] {
        EXPECT_FALSE(session->Busy()) << "the tray keeps its state while a check runs";
        ++trayNews;
    });
    EXPECT_EQ(session->TrayState().Colour, TTrayColour::Grey);
    EXPECT_EQ(session->TrayHint(), QStringLiteral("ZYRdenetleyici"));

    session->CheckCycle();
    WaitIdle();
    EXPECT_EQ(trayNews, 1);
    EXPECT_EQ(session->TrayState().Colour, TTrayColour::Red);
    EXPECT_EQ(session->TrayHint(), QStringLiteral("ZYRdenetleyici – 2 alarm / 3"));
    EXPECT_TRUE(shown.isEmpty()) << "the menu's check notifies nobody";

    session->Engine().CycleThenAlarm(TCheckOrigin::Timer);
    WaitIdle();
    ASSERT_EQ(shown.size(), 1);
    EXPECT_EQ(shown[0],
        (QStringList{QStringLiteral("kapali: Çalışmıyor"), QStringLiteral("alarmli: Alarm tespit edildi")}));
    session->Engine().CycleThenAlarm(TCheckOrigin::Timer);
    WaitIdle();
    EXPECT_EQ(shown.size(), 1) << "nothing new";

    // Unmarked, the alarms count no more: green with the healthy one, grey with none.
    trayNews = 0;
    session->ToggleSelect(IdOf(QStringLiteral("kapali")));
    session->ToggleSelect(IdOf(QStringLiteral("alarmli")));
    EXPECT_EQ(trayNews, 2);
    EXPECT_EQ(session->TrayState().Colour, TTrayColour::Green);
    EXPECT_EQ(session->TrayHint(), QStringLiteral("ZYRdenetleyici – 0 alarm / 1"));
    session->Engine().CycleThenAlarm(TCheckOrigin::Timer);
    WaitIdle();
    session->ToggleSelect(IdOf(QStringLiteral("saglam")));
    EXPECT_EQ(session->TrayState().Colour, TTrayColour::Grey);
    EXPECT_EQ(session->TrayHint(), QStringLiteral("ZYRdenetleyici – 0 alarm / 0"));

    // Marked again they enter an alarm state anew; with the setting off nobody hears of it.
    Edit([](TLiveSettings &s) { s.DesktopNotify = false; });
    session->ToggleSelect(IdOf(QStringLiteral("kapali")));
    session->Engine().CycleThenAlarm(TCheckOrigin::Timer);
    WaitIdle();
    EXPECT_EQ(shown.size(), 1);
    EXPECT_EQ(session->TrayState().Colour, TTrayColour::Red);
    Edit([](TLiveSettings &s) { s.DesktopNotify = true; });
    session->ToggleSelect(IdOf(QStringLiteral("alarmli")));
    session->Engine().CycleThenAlarm(TCheckOrigin::Timer);
    WaitIdle();
    ASSERT_EQ(shown.size(), 2);
    EXPECT_EQ(shown[1], QStringList{QStringLiteral("alarmli: Alarm tespit edildi")});
}

TEST_F(SessionTest, StartUpCheckWaitsForTheFirstActivation)
{
    Edit([](TLiveSettings &s) {
        s.ShowMainOnStart = true;
        s.CheckOnStart = true;
        s.Period = 5;
    });
    TCheckEngine &engine = session->Engine();
    session->Start(true);
    EXPECT_TRUE(session->ShowOnStart());
    EXPECT_TRUE(engine.PendingStartCheck);
    EXPECT_TRUE(engine.PeriodTimer->isActive());
    EXPECT_EQ(engine.PeriodTimer->interval(), 5 * 60000);
    session->WindowActivated();
    EXPECT_FALSE(engine.PendingStartCheck);
    EXPECT_TRUE(engine.StartUpTimer->isActive());
    EXPECT_EQ(engine.StartUpTimer->interval(), 500);
    engine.StartUpTimer->stop();
    session->WindowActivated(); // a later activation arms nothing
    EXPECT_FALSE(engine.StartUpTimer->isActive());

    // Started hidden, the check waits for no window where a tray can bring it back, and for the first
    // showing where none can.
    for (const bool trayPossible : {true, false}) {
        Make();
        AddRecord(QStringLiteral("a"), QStringLiteral("127.0.0.1:1"));
        Edit([](TLiveSettings &s) {
            s.ShowMainOnStart = false;
            s.CheckOnStart = true;
        });
        const int started = LogCount(QStringLiteral("Denetleme başladı. IP: 127.0.0.1:1"));
        session->Start(trayPossible);
        EXPECT_FALSE(session->ShowOnStart());
        EXPECT_EQ(session->Engine().PendingStartCheck, !trayPossible);
        EXPECT_EQ(session->Busy(), trayPossible);
        WaitIdle();
        EXPECT_EQ(
            LogCount(QStringLiteral("Denetleme başladı. IP: 127.0.0.1:1")) - started, trayPossible ? 1 : 0);
    }
}

// The live settings are a value the session holds: a change is told once, an equal value not at all, and
// loading the file tells of it only when it differs.
TEST_F(SessionTest, SettingsChangesAreToldWhenTheValueDiffers)
{
    int changes = 0;
    QObject::connect(session.get(), &TConsoleSession::SettingsChanged, [&] { ++changes; });
    TLiveSettings copy = session->Settings();
    session->SetSettings(copy);
    EXPECT_EQ(changes, 0);
    copy.Emails.Add(QStringLiteral("a@x.com"));
    EXPECT_EQ(session->Settings().Emails.Count(), 0) << "a copy is no window onto the live settings";
    session->SetSettings(copy);
    EXPECT_EQ(changes, 1);
    copy.Emails.SetChecked(0, true);
    session->SetSettings(copy);
    EXPECT_EQ(changes, 2);
    EXPECT_EQ(session->Settings().To(), QStringLiteral("a@x.com"));

    QFile ini(QStringLiteral("ZYRdenetleyici.ini"));
    ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
    ini.write("[General]\r\nPeriod=30\r\n[Smtp]\r\nTo=b@x.com\r\n[Emails]\r\nb@x.com=\r\n");
    ini.close();
    session->LoadSettings();
    EXPECT_EQ(changes, 3);
    EXPECT_EQ(session->Settings().Period, 30);
    EXPECT_EQ(session->Settings().To(), QStringLiteral("b@x.com"));
    session->LoadSettings();
    EXPECT_EQ(changes, 3) << "the file holds what is in force";

    // Saved, the live settings are the file's.
    Edit([](TLiveSettings &s) {
        s.Period = 45;
        s.RunAtStartup = false;
    });
    session->SaveSettings();
    TLiveSettings read(dir.path());
    read.LoadSettings();
    EXPECT_EQ(read.Period, 45);
    EXPECT_TRUE(read == session->Settings());
}

} // namespace
