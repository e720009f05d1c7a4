// The real main window over a fleet of simulated recording systems (offscreen platform).
#include "console/Main.h"
#include "console/MessageBoxes.h"
#include "console/ServiceList.h"
#include "dialogs/DialogTestUtil.h"
#include "platform/Errors.h"
#include "platform/Logger.h"
#include "records/SystemListFile.h"
#include "Simulator.h"
#include "store/Settings.h"
#include <atomic>
#include <deque>
#include <gtest/gtest.h>
#include <QAction>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QMenu>
#include <QRegularExpression>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QTimer>

namespace {

class MainFormTest : public ::testing::Test
{
protected:
    QTemporaryDir dir;
    QString oldDir = QDir::currentPath();
    std::unique_ptr<TLogger> log;
    std::unique_ptr<TSimulator> sim;

    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        QDir::setCurrent(dir.path());
        log = std::make_unique<TLogger>(QStringLiteral("ZYRdenetleyici.log"));
        Logger = log.get();
        TMessageBoxHook::Clear();
    }
    void TearDown() override
    {
        Logger = nullptr;
        log.reset();
        QDir::setCurrent(oldDir);
    }

    // The settings of every window the test makes, outliving them.
    std::deque<TLiveSettings> settingsOfForms;
    std::unique_ptr<TMainForm> MakeForm()
    {
        auto form = std::make_unique<TMainForm>(settingsOfForms.emplace_back());
        form->Settings().TimeOut = 3000;
        form->Settings().BeepAlarm = false;
        return form;
    }

    static void AddRecord(TMainForm &form, const QString &name, const QString &ip, int deviceCnt = 0,
        bool select = true, bool plus = false)
    {
        TSystemRecord r;
        r.Cells = {select ? QStringLiteral("1") : QStringLiteral("0"), name, ip, QString(),
            QString::number(deviceCnt), QStringLiteral("0"), QString(), QString(),
            plus ? QStringLiteral("-1") : QStringLiteral("0")};
        form.List.Add(r);
    }

    // Starts the simulated fleet and adds one marked record per system, expecting Expect devices.
    void StartFleet(TMainForm &form, std::vector<TSimSystem> systems)
    {
        sim = std::make_unique<TSimulator>(std::move(systems));
        std::string error;
        ASSERT_TRUE(sim->Start(error)) << error;
        for (size_t i = 0; i < sim->Systems().size(); ++i) {
            const TSimSystem &s = sim->Systems()[i];
            AddRecord(form, QString::fromStdString(s.Name), QString::fromStdString(sim->Target(i)),
                std::max(0, s.Expect), true, s.Kind == TSimKind::Plus);
        }
    }

    static TSimSystem Healthy(const std::string &name, int delayMs = 0)
    {
        TSimSystem s;
        s.Name = name;
        s.Port = 0;
        s.DelayMs = delayMs;
        s.Devices = {{"A1B2C3", 0, 4, "0,0,0,0"}};
        s.Expect = 1;
        return s;
    }

    QStringList LogLines() const
    {
        QFile f(QStringLiteral("ZYRdenetleyici.log"));
        if (!f.open(QIODevice::ReadOnly))
            return {};
        return QString::fromUtf8(f.readAll()).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    }
    int LogCount(const QString &text) const
    {
        int n = 0;
        for (const QString &line : LogLines())
            n += line.contains(text) ? 1 : 0;
        return n;
    }

    static QString StateOf(const TMainForm &form, const QString &name)
    {
        for (int i = 0; i < form.List.Count(); ++i)
            if (form.List.Cell(i, TSystemRecord::Name) == name)
                return form.List.Cell(i, TSystemRecord::State);
        return QStringLiteral("?");
    }
    // Counts the status mail rounds the engine sends, in place of sending them.
    static void CountMails(TMainForm &form, std::atomic<int> &mails)
    {
        form.Engine->SendStatusMailsJob
            = [&mails](const TLiveSettings &, const TSystemList &, TMailObjects &) { ++mails; };
    }
    static void WaitIdle(TMainForm &form)
    {
        ASSERT_TRUE(WaitUntil([&] { return !form.Busy(); }));
    }

    static QStringList Names(const TMainForm &form)
    {
        QStringList names;
        for (int i = 0; i < form.List.Count(); ++i)
            names << form.List.Cell(i, TSystemRecord::Name);
        return names;
    }
};

TEST_F(MainFormTest, WindowStartsWithTitleMenuAndVersion)
{
    auto form = MakeForm();
    EXPECT_TRUE(form->windowTitle().startsWith(QStringLiteral("ZYRdenetleyici ")));
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^ZYRdenetleyici \\d+\\.\\d+$"))
                    .match(form->windowTitle())
                    .hasMatch());
    EXPECT_EQ(form->size(), QSize(500, 500));
    EXPECT_EQ(form->minimumSize(), QSize(400, 350));
    const QStringList captions = {form->KontrolEt->text(), form->Ekle->text(), form->Ayarlar->text(),
        form->Gonder->text(), form->Yardim->title()};
    EXPECT_EQ(captions,
        (QStringList{QStringLiteral("Denetle"), QStringLiteral("Ekle"), QStringLiteral("Ayarlar"),
            QStringLiteral("Gönder"), QStringLiteral("Yardım")}));
    for (QAction *a :
        {form->KontrolEt, form->Ekle, form->Ayarlar, form->Gonder, form->logFileAction, form->exitAction})
        EXPECT_FALSE(a->icon().isNull()) << a->objectName().toStdString();
    EXPECT_EQ(form->TrayIcon->toolTip(), QStringLiteral("ZYRdenetleyici"));
    EXPECT_EQ(form->exitAction->text(), QStringLiteral("Çıkış"));
    EXPECT_EQ(LogLines().size(), 1);
    EXPECT_TRUE(LogLines().value(0).endsWith(QStringLiteral("Program açıldı")));
    for (int hidden : {TSystemRecord::Details, TSystemRecord::ColDateTime, TSystemRecord::ColZYRplus})
        EXPECT_TRUE(form->ServiceList->isColumnHidden(hidden));
    EXPECT_EQ(form->ServiceList->columnWidth(TSystemRecord::State), 45);
    EXPECT_EQ(form->ListModel->headerData(TSystemRecord::Name, Qt::Horizontal, Qt::DisplayRole).toString(),
        QStringLiteral("İsim"));
}

TEST_F(MainFormTest, CycleOverFleetGivesEveryStateAndLogsEachOutcome)
{
    auto form = MakeForm();
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
    StartFleet(*form, fleet);
    AddRecord(*form, QStringLiteral("isaretsiz"), QStringLiteral("127.0.0.1:1"), 0, false);
    std::atomic<int> mails{0};
    CountMails(*form, mails);

    form->KontrolEtClick();
    EXPECT_TRUE(form->Busy());
    WaitIdle(*form);
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
        EXPECT_EQ(StateOf(*form, QString::fromUtf8(name)), QString::fromUtf8(state)) << name;
    for (size_t i = 0; i < sim->Systems().size(); ++i) {
        const QString ip = QString::fromStdString(sim->Target(i));
        EXPECT_EQ(LogCount(QStringLiteral("Denetleme başladı. IP: ") + ip), 1) << ip.toStdString();
    }
    EXPECT_EQ(LogCount(QStringLiteral("Sonuç: Aygıt eksik tespit edildi")), 1);
    EXPECT_EQ(LogCount(QStringLiteral("Sonuç: Çalışmıyor")), 1);
    EXPECT_EQ(LogCount(QStringLiteral("Sonuç: Alarm tespit edildi")), 3);
    EXPECT_EQ(mails.load(), 0); // the menu command never mails

    for (int i = 0; i < form->List.Count(); ++i) {
        const QString time = form->List.Cell(i, TSystemRecord::ColDateTime);
        if (form->List.Cell(i, TSystemRecord::Select) == QLatin1String("1"))
            EXPECT_TRUE(
                QRegularExpression(QStringLiteral("^\\d\\d\\D\\d\\d\\D\\d{4}   \\d\\d\\D\\d\\d\\D\\d\\d$"))
                    .match(time)
                    .hasMatch())
                << time.toStdString();
        else
            EXPECT_TRUE(time.isEmpty());
    }
    // A refused connection leaves the previous report; a report replaces it.
    const QModelIndex dot = form->ListModel->index(0, TSystemRecord::State);
    EXPECT_FALSE(form->ListModel->data(dot, Qt::DecorationRole).isNull());
}

TEST_F(MainFormTest, CycleWithNoMarkedRecordClearsStatesAndStartsNothing)
{
    auto form = MakeForm();
    AddRecord(*form, QStringLiteral("a"), QStringLiteral("127.0.0.1:1"), 0, false);
    form->List.SetCell(0, TSystemRecord::ColDateTime, QStringLiteral("01.01.2024   10:00:00"));
    form->KontrolEtClick();
    EXPECT_EQ(form->List.Cell(0, TSystemRecord::State), QStringLiteral("7"));
    EXPECT_TRUE(form->List.Cell(0, TSystemRecord::ColDateTime).isEmpty());
    EXPECT_TRUE(
        form->ListModel->data(form->ListModel->index(0, TSystemRecord::State), Qt::DecorationRole).isNull());
    EXPECT_FALSE(form->Busy());
    EXPECT_TRUE(form->KontrolEt->isEnabled());
    EXPECT_EQ(LogCount(QStringLiteral("Denetleme başladı")), 0);
}

TEST_F(MainFormTest, WhileBusyTicksStartNothingCloseIsRefusedAndRowsKeepTheirPlaces)
{
    auto form = MakeForm();
    form->show();
    // Slow answers keep the cycle running while the window is driven.
    StartFleet(*form, {Healthy("b", 300), Healthy("a", 150), Healthy("c", 450)}); // within the reply wait
    form->List.SetCell(2, TSystemRecord::State, QStringLiteral("3"));
    form->ServiceList->header()->sectionClicked(TSystemRecord::State); // sort by state, ascending
    const QStringList before = Names(*form);
    std::atomic<int> mails{0};
    CountMails(*form, mails);
    form->Settings().MailAfterCtrl = 0;

    QStringList orderWhileBusy;
    int resets = 0;
    QObject::connect(form->ListModel, &QAbstractItemModel::dataChanged, form.get(), [&] {
        if (form->Busy() && Names(*form) != before)
            orderWhileBusy = Names(*form);
    });
    QObject::connect(form->ListModel, &QAbstractItemModel::modelReset, form.get(), [&] { ++resets; });
    bool closed = true, tickSeen = false, enabledWhileBusy = true;
    QTimer::singleShot(60, form.get(), [&] {
        tickSeen = form->Busy();
        enabledWhileBusy = form->KontrolEt->isEnabled() || form->ServiceList->isEnabled();
        form->Engine->CycleThenAlarm(TCheckOrigin::Timer);
        closed = form->close();
    });

    form->Engine->CycleThenAlarm(TCheckOrigin::Timer);
    WaitIdle(*form);

    EXPECT_TRUE(tickSeen);
    EXPECT_FALSE(enabledWhileBusy);
    EXPECT_FALSE(closed);
    EXPECT_TRUE(form->isVisible());
    EXPECT_TRUE(TMessageBoxHook::Shown.isEmpty()); // refused without a question
    EXPECT_EQ(LogCount(QStringLiteral("Denetleme başladı")), 3);
    EXPECT_EQ(mails.load(), 1);
    EXPECT_TRUE(orderWhileBusy.isEmpty()) << orderWhileBusy.join(QLatin1Char(',')).toStdString();
    EXPECT_EQ(resets, 1); // one re-sort, when the cycle ended
    // Every answer was a healthy report.
    for (int i = 0; i < form->List.Count(); ++i)
        EXPECT_EQ(form->List.Cell(i, TSystemRecord::State), QStringLiteral("3"));
    EXPECT_TRUE(form->KontrolEt->isEnabled());
}

TEST_F(MainFormTest, MailsAfterAPeriodicCycleFollowTheRule)
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
        auto form = MakeForm();
        StartFleet(*form, {Healthy("saglam")});
        if (c.Alarm) {
            TSimulator second({excess});
            std::string error;
            ASSERT_TRUE(second.Start(error));
            AddRecord(*form, QStringLiteral("fazla"), QString::fromStdString(second.Target(0)), 1);
            std::atomic<int> mails{0};
            CountMails(*form, mails);
            form->Settings().MailAfterCtrl = c.Rule;
            form->Engine->CycleThenAlarm(c.Origin);
            WaitIdle(*form);
            EXPECT_EQ(StateOf(*form, QStringLiteral("fazla")), QStringLiteral("5"));
            EXPECT_EQ(mails.load(), c.Mails) << "rule " << c.Rule << " origin " << int(c.Origin);
        } else {
            std::atomic<int> mails{0};
            CountMails(*form, mails);
            form->Settings().MailAfterCtrl = c.Rule;
            form->Engine->CycleThenAlarm(c.Origin);
            WaitIdle(*form);
            EXPECT_EQ(mails.load(), c.Mails) << "rule " << c.Rule;
        }
    }
}

// The whole road of a periodic check with a real SMTP server: the cycle ends in one status mail per
// ticked address under rule 0, and the menu's "Denetle" sends none.
TEST_F(MainFormTest, PeriodicCycleDeliversTheStatusMailAndTheMenuCheckDoesNot)
{
    QTemporaryDir mails;
    TSmtpSink sink(mails.filePath(QStringLiteral("in")));
    ASSERT_GT(sink.Port(), 0) << "the SMTP server did not start";
    auto form = MakeForm();
    StartFleet(*form, {Healthy("saglam")});
    TLiveSettings &settings = form->Settings();
    settings.Emails.Add(QStringLiteral("nobetci@example.com"));
    settings.Emails.SetChecked(0, true);
    settings.Host = QStringLiteral("127.0.0.1");
    settings.Port = sink.Port();
    settings.From = QStringLiteral("denetleyici@example.com");
    settings.SSL = false;
    settings.MailAfterCtrl = 0;

    form->Engine->CycleThenAlarm(TCheckOrigin::Menu);
    WaitIdle(*form);
    EXPECT_TRUE(sink.Recipients().isEmpty());

    form->Engine->CycleThenAlarm(TCheckOrigin::Timer);
    WaitIdle(*form);
    EXPECT_EQ(sink.Recipients(), QStringList{QStringLiteral("nobetci@example.com")});
    QFile mail(mails.filePath(QStringLiteral("in/1.eml")));
    ASSERT_TRUE(mail.open(QIODevice::ReadOnly));
    const QByteArray message = mail.readAll();
    EXPECT_TRUE(message.contains("saglam")) << message.left(400).constData();
    EXPECT_EQ(LogCount(QStringLiteral("E-posta gönderildi")), 1)
        << LogLines().join(QLatin1Char('\n')).toStdString();
}

TEST_F(MainFormTest, AlarmSoundsOnlyForAMarkedSystemThatDoesNotWork)
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
        auto form = MakeForm();
        AddRecord(*form, QStringLiteral("x"), QStringLiteral("127.0.0.1:1"));
        form->List.SetCell(0, TSystemRecord::Select, QString::fromUtf8(c.Select));
        form->List.SetCell(0, TSystemRecord::State, QString::fromUtf8(c.State));
        form->Settings().BeepAlarm = c.Beep;
        QFile::remove(QStringLiteral("Alarm.wav"));
        if (c.Wav) {
            QFile wav(QStringLiteral("Alarm.wav"));
            ASSERT_TRUE(wav.open(QIODevice::WriteOnly));
        }
        QString heard;
        form->PlayAlarmFile = [&](const QString &path) {
            heard = QStringLiteral("wav");
            EXPECT_EQ(path, QDir::current().absoluteFilePath(QStringLiteral("Alarm.wav")));
        };
        form->PlayBeep = [&] { heard = QStringLiteral("beep"); };
        form->Engine->PlayAlarm();
        EXPECT_EQ(heard, QString::fromUtf8(c.Heard)) << c.Select << c.State << c.Beep << c.Wav;
    }
}

TEST_F(MainFormTest, CloseAsksSavesWithStatesResetAndKeepsTheWindowOnAFailedSave)
{
    auto form = MakeForm();
    form->show();
    AddRecord(*form, QStringLiteral("a"), QStringLiteral("127.0.0.1:1"));
    form->List.SetCell(0, TSystemRecord::State, QStringLiteral("6"));

    TMessageBoxHook::SetNextAnswer(IDCANCEL);
    EXPECT_FALSE(form->close());
    ASSERT_EQ(TMessageBoxHook::Shown.size(), 1);
    EXPECT_EQ(TMessageBoxHook::Shown[0].Title, QStringLiteral("ONAY"));
    EXPECT_EQ(TMessageBoxHook::Shown[0].Text, form->windowTitle() + QStringLiteral(" kapatılsın mı?"));
    EXPECT_FALSE(QFile::exists(form->DataFileName));

    form->DataFileName = dir.filePath(QStringLiteral("yok/ZYRdenetleyici.dat"));
    TMessageBoxHook::Clear();
    TMessageBoxHook::SetNextAnswer(IDOK);
    EXPECT_FALSE(form->close());
    ASSERT_EQ(TMessageBoxHook::Shown.size(), 2);
    EXPECT_EQ(TMessageBoxHook::Shown[1].Title, QStringLiteral("ZYRdenetleyici"));
    EXPECT_TRUE(TMessageBoxHook::Shown[1].Text.startsWith(QStringLiteral("Cannot create file")));
    EXPECT_TRUE(form->isVisible());
    EXPECT_EQ(form->List.Cell(0, TSystemRecord::State), QStringLiteral("0")); // reset before the save failed

    form->DataFileName = QStringLiteral("ZYRdenetleyici.dat");
    form->ExitClick(); // the tray's exit asks nothing
    EXPECT_FALSE(form->isVisible());
    TSystemList saved;
    LoadSystemList(saved, QStringLiteral("ZYRdenetleyici.dat"));
    ASSERT_EQ(saved.Count(), 1);
    EXPECT_EQ(saved.Cell(0, TSystemRecord::State), QStringLiteral("0"));
    form.reset();
    EXPECT_TRUE(LogLines().last().endsWith(QStringLiteral("Program kapandı")));
}

TEST_F(MainFormTest, DamagedListFileIsShownAndTheRowsReadStay)
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
    auto form = MakeForm();
    ASSERT_EQ(TMessageBoxHook::Shown.size(), 1);
    EXPECT_EQ(TMessageBoxHook::Shown[0].Title, QStringLiteral("ZYRdenetleyici"));
    EXPECT_EQ(TMessageBoxHook::Shown[0].Text, QStringLiteral("Stream read error."));
    EXPECT_EQ(form->List.Count(), 1);
    EXPECT_EQ(form->ListModel->SelectHeaderCaption(), QStringLiteral("1"));
    EXPECT_TRUE(form->windowTitle().contains(QLatin1Char('.')));
    const QStringList lines = LogLines();
    ASSERT_EQ(lines.size(), 2);
    EXPECT_TRUE(lines[1].endsWith(QStringLiteral("Veriler yüklendi")));
}

TEST_F(MainFormTest, SelectHeaderTogglesEveryRowAndOtherHeadersSort)
{
    auto form = MakeForm();
    AddRecord(*form, QStringLiteral("9"), QStringLiteral("h"), 9, true);
    AddRecord(*form, QStringLiteral("10"), QStringLiteral("h"), 10, false);
    QHeaderView *head = form->ServiceList->header();
    EXPECT_EQ(form->ListModel->SelectHeaderCaption(), QStringLiteral("0")); // set when the window was made
    head->sectionClicked(TSystemRecord::Select);
    EXPECT_EQ(form->List.SelectedCount(), 2);
    head->sectionClicked(TSystemRecord::Select);
    EXPECT_EQ(form->List.SelectedCount(), 0);
    head->sectionClicked(TSystemRecord::DeviceCnt);
    EXPECT_EQ(Names(*form), (QStringList{QStringLiteral("10"), QStringLiteral("9")})); // texts: "10" < "9"
    head->sectionClicked(TSystemRecord::DeviceCnt);
    EXPECT_EQ(Names(*form), (QStringList{QStringLiteral("9"), QStringLiteral("10")}));
}

// The dot of the tray icon as drawn: the colour at its centre.
QColor TrayDot(const TMainForm &Form)
{
    return Form.TrayIcon->icon().pixmap(32, 32).toImage().pixelColor(16, 14);
}

// The tray shows the marked systems' state: its colour, and the counts in its hint once a cycle has run;
// a periodic cycle tells the desktop of the systems that entered an alarm state, when the setting says so.
TEST_F(MainFormTest, TrayShowsTheStateAndPeriodicCyclesNotify)
{
    auto form = MakeForm();
    TSimSystem down = Healthy("kapali");
    down.Mode = "refuse";
    TSimSystem alarm = Healthy("alarmli");
    alarm.Devices[0].Channels = "0,1,0,0";
    StartFleet(*form, {Healthy("saglam"), down, alarm});
    form->UpdateTrayState();
    QList<QPair<QString, QString>> shown;
    form->ShowNotification = [&](const QString &title, const QString &text) { shown.append({title, text}); };
    const QColor grey(0xa0, 0xa4, 0xaa), red(0xe5, 0x39, 0x35), green(0x43, 0xc0, 0x47);
    auto near = [](QColor a, QColor b) {
        return std::abs(a.red() - b.red()) < 24 && std::abs(a.green() - b.green()) < 24
            && std::abs(a.blue() - b.blue()) < 24;
    };
    EXPECT_TRUE(near(TrayDot(*form), grey));
    EXPECT_EQ(form->TrayIcon->toolTip(), QStringLiteral("ZYRdenetleyici"));

    form->KontrolEtClick();
    WaitIdle(*form);
    EXPECT_TRUE(near(TrayDot(*form), red));
    EXPECT_EQ(form->TrayIcon->toolTip(), QStringLiteral("ZYRdenetleyici – 2 alarm / 3"));
    EXPECT_TRUE(shown.isEmpty()) << "the menu's check notifies nobody";

    form->Engine->CycleThenAlarm(TCheckOrigin::Timer);
    WaitIdle(*form);
    ASSERT_EQ(shown.size(), 1);
    EXPECT_EQ(shown[0].first, QStringLiteral("ZYRdenetleyici"));
    EXPECT_EQ(shown[0].second, QStringLiteral("kapali: Çalışmıyor\nalarmli: Alarm tespit edildi"));
    form->Engine->CycleThenAlarm(TCheckOrigin::Timer);
    WaitIdle(*form);
    EXPECT_EQ(shown.size(), 1) << "nothing new";

    // Unmarked, the alarms count no more: green with the healthy one, grey with none.
    for (const char *name : {"kapali", "alarmli"}) {
        const int row = Names(*form).indexOf(QString::fromUtf8(name));
        form->Engine->ToggleSelect(form->List.IdAt(row));
    }
    form->UpdateTrayState();
    EXPECT_TRUE(near(TrayDot(*form), green));
    EXPECT_EQ(form->TrayIcon->toolTip(), QStringLiteral("ZYRdenetleyici – 0 alarm / 1"));
    form->Engine->CycleThenAlarm(TCheckOrigin::Timer);
    WaitIdle(*form);
    form->Engine->ToggleSelect(form->List.IdAt(Names(*form).indexOf(QStringLiteral("saglam"))));
    form->UpdateTrayState();
    EXPECT_TRUE(near(TrayDot(*form), grey));
    EXPECT_EQ(form->TrayIcon->toolTip(), QStringLiteral("ZYRdenetleyici – 0 alarm / 0"));

    // Marked again they enter an alarm state anew; with the setting off the desktop hears nothing.
    form->Settings().DesktopNotify = false;
    form->Engine->ToggleSelect(form->List.IdAt(Names(*form).indexOf(QStringLiteral("kapali"))));
    form->Engine->CycleThenAlarm(TCheckOrigin::Timer);
    WaitIdle(*form);
    EXPECT_EQ(shown.size(), 1);
    EXPECT_TRUE(near(TrayDot(*form), red));
    form->Settings().DesktopNotify = true;
    form->Engine->ToggleSelect(form->List.IdAt(Names(*form).indexOf(QStringLiteral("alarmli"))));
    form->Engine->CycleThenAlarm(TCheckOrigin::Timer);
    WaitIdle(*form);
    ASSERT_EQ(shown.size(), 2);
    EXPECT_EQ(shown[1].second, QStringLiteral("alarmli: Alarm tespit edildi"));
}

// The column widths and the sort order of the last run come back, and the rows are sorted by them at
// once; a damaged layout costs nothing, and reading it writes nothing.
TEST_F(MainFormTest, ListLayoutOfTheLastRunComesBack)
{
    {
        TSystemList list;
        for (const char *ip : {"h2", "h3", "h1"}) {
            TSystemRecord r;
            r.Cells = {QStringLiteral("1"), QStringLiteral("ad-") + QLatin1String(ip), QLatin1String(ip),
                QString(), QStringLiteral("0"), QStringLiteral("0"), QString(), QString(),
                QStringLiteral("0")};
            list.Add(r);
        }
        SaveSystemList(list, QStringLiteral("ZYRdenetleyici.dat"));
    }
    auto write = [](const QByteArray &bytes) {
        QFile f(QStringLiteral("ZYRdenetleyici.ini"));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
    };
    auto read = [] {
        QFile f(QStringLiteral("ZYRdenetleyici.ini"));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    };
    const QByteArray layout
        = "[General]\r\nPeriod=5\r\n[\\ServiceList\\Columns\\Name]\r\nWidth=140\r\nSorted=0\r\n"
          "[\\ServiceList\\Columns\\IP]\r\nWidth=90\r\nSorted=2\r\n"
          "[\\ServiceList\\Columns\\Email]\r\nWidth=250\r\nSorted=0\r\n";
    write(layout);
    {
        auto form = MakeForm();
        EXPECT_EQ(read(), layout) << "reading costs no byte";
        QHeaderView *head = form->ServiceList->header();
        EXPECT_EQ(head->sectionSize(TSystemRecord::Name), 140);
        EXPECT_EQ(head->sectionSize(TSystemRecord::Email), 250);
        EXPECT_EQ(head->sectionSize(TSystemRecord::State), 45) << "fixed columns stay as they are";
        EXPECT_EQ(Names(*form),
            (QStringList{QStringLiteral("ad-h1"), QStringLiteral("ad-h2"), QStringLiteral("ad-h3")}));
        EXPECT_EQ(head->sortIndicatorSection(), int(TSystemRecord::IP));
        EXPECT_EQ(head->sortIndicatorOrder(), Qt::AscendingOrder);
        head->resizeSection(TSystemRecord::Name, 160);
    }
    // Written at the end, read at the next start.
    const TSavedListLayout again = ReadListLayout(QStringLiteral("ZYRdenetleyici.ini"));
    EXPECT_EQ(again.Widths[TSystemRecord::Name], 160);
    EXPECT_EQ(again.SortColumn, int(TSystemRecord::IP));
    EXPECT_TRUE(read().startsWith("[General]\r\nPeriod=5\r\n"));

    // Damaged: the defaults, sorted by name descending as at any first start.
    const QByteArray damaged
        = "[\\ServiceList\\Columns\\Name]\nWidth=-3\nSorted=5\n[\\ServiceList\\Columns\\Email]\n"
          "Width=\xff\nSorted\n[\\ServiceList\\Columns\\IP";
    write(damaged);
    auto form = MakeForm();
    EXPECT_EQ(read(), damaged);
    QHeaderView *head = form->ServiceList->header();
    EXPECT_EQ(head->sectionSize(TSystemRecord::Name), 75);
    EXPECT_EQ(head->sectionSize(TSystemRecord::Email), 200);
    EXPECT_EQ(Names(*form),
        (QStringList{QStringLiteral("ad-h3"), QStringLiteral("ad-h2"), QStringLiteral("ad-h1")}));
    EXPECT_EQ(head->sortIndicatorSection(), int(TSystemRecord::Name));
    EXPECT_EQ(head->sortIndicatorOrder(), Qt::DescendingOrder);
}

TEST_F(MainFormTest, StartUpCheckWaitsForTheFirstActivation)
{
    auto form = MakeForm();
    form->Settings().ShowMainOnStart = true;
    form->Settings().CheckOnStart = true;
    form->Settings().Period = 5;
    TCheckEngine &engine = *form->Engine;
    engine.ApplySettings(true);
    EXPECT_TRUE(engine.PendingStartCheck);
    EXPECT_TRUE(engine.PeriodTimer->isActive());
    EXPECT_EQ(engine.PeriodTimer->interval(), 5 * 60000);
    engine.FormActivate();
    EXPECT_FALSE(engine.PendingStartCheck);
    EXPECT_TRUE(engine.StartUpTimer->isActive());
    EXPECT_EQ(engine.StartUpTimer->interval(), 500);
    engine.FormActivate(); // a later activation arms nothing
    engine.StartUpCheckDue();
    EXPECT_FALSE(engine.StartUpTimer->isActive());

    // Without a tray a hidden start would be unreachable: the window is shown and checks on activation.
    auto hidden = MakeForm();
    hidden->Settings().ShowMainOnStart = false;
    hidden->Settings().CheckOnStart = true;
    hidden->Engine->ApplySettings(true);
    hidden->ShowAtStart();
    EXPECT_TRUE(hidden->isVisible());
    EXPECT_TRUE(hidden->Engine->PendingStartCheck);
}

TEST(GeneralErrorDisplay, AddsAFullStopAfterCharactersSortingAfterIt)
{
    const std::pair<const char *, const char *> cases[] = {
        {"Cannot open file x", "Cannot open file x."},
        {"Hata 5", "Hata 5."},
        {"Bitti.", "Bitti."},
        {"(x)", "(x)"},
        {"soru?", "soru?."},
        {"", ""},
        {"şu ğ", "şu ğ."},
    };
    for (const auto &[in, out] : cases)
        EXPECT_EQ(GeneralErrorText(QString::fromUtf8(in)), QString::fromUtf8(out)) << in;
}

TEST(GeneralErrorDisplay, AnExceptionEscapingAnEventHandlerIsShownNotPropagated)
{
    TMessageBoxHook::Clear();
    QObject target;
    QTimer::singleShot(0, &target, [] { throw EZyrError(QStringLiteral("Beklenmeyen durum")); });
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    ASSERT_EQ(TMessageBoxHook::Shown.size(), 1);
    EXPECT_EQ(TMessageBoxHook::Shown[0].Title, QStringLiteral("ZYRdenetleyici"));
    EXPECT_EQ(TMessageBoxHook::Shown[0].Text, QStringLiteral("Beklenmeyen durum."));
    EXPECT_EQ(TMessageBoxHook::Shown[0].Icon, QMessageBox::Critical);
}

} // namespace
