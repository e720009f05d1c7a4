// The real main window over a console session (offscreen platform): what the window shows of the session,
// its menu, its close, its layout file and its tray icon. The session's own rules are tested in
// tests/session.
#include "console/Main.h"
#include "console/MessageBoxes.h"
#include "console/ServiceList.h"
#include "dialogs/DialogTestUtil.h"
#include "LoggedFolder.h"
#include "platform/Errors.h"
#include "platform/Logger.h"
#include "records/SystemListFile.h"
#include "session/ConsoleSession.h"
#include "SimFleet.h"
#include <gtest/gtest.h>
#include <QAction>
#include <QAudioDevice>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QMediaDevices>
#include <QMenu>
#include <QRegularExpression>
#include <QSoundEffect>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QTimer>

namespace {

class MainFormTest : public ::testing::Test
{
protected:
    TLoggedFolder dir;
    std::unique_ptr<TSimulator> sim;
    std::unique_ptr<TConsoleSession> session;
    std::unique_ptr<TMainForm> form;

    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        TMessageBoxHook::Clear();
    }
    void TearDown() override
    {
        form.reset();
        session.reset();
        sim.reset();
    }

    // A window over a new session, as the program makes them (the previous window and session end first).
    TMainForm &Make()
    {
        form.reset();
        session.reset();
        session = std::make_unique<TConsoleSession>(dir.path(), QStringLiteral("ZYRdenetleyici.dat"));
        TLiveSettings s = session->Settings();
        s.TimeOut = 3000;
        s.BeepAlarm = false;
        session->SetSettings(s);
        form = std::make_unique<TMainForm>(*session);
        return *form;
    }
    TSystemList &List() { return session->ListForView(); }
    TServiceListView *View() const { return Child<TServiceListView>(form.get(), "ServiceList"); }
    TServiceListModel *Model() const { return qobject_cast<TServiceListModel *>(View()->model()); }
    QAction *Action(const char *Name) const { return Child<QAction>(form.get(), Name); }
    QSystemTrayIcon *Tray() const { return Child<QSystemTrayIcon>(form.get(), "TrayIcon"); }
    QVariant Dot(int Row) const { return Model()->index(Row, TSystemRecord::State).data(Qt::DecorationRole); }

    void AddRecord(const QString &name, const QString &ip, int deviceCnt = 0, bool select = true)
    {
        TSystemRecord r;
        r.Cells = {select ? QStringLiteral("1") : QStringLiteral("0"), name, ip, QString(),
            QString::number(deviceCnt), QStringLiteral("0"), QString(), QString(), QStringLiteral("0")};
        List().Add(r);
    }
    // Starts the simulated fleet and adds one marked record per system, expecting its devices.
    void StartFleet(std::vector<TSimSystem> systems)
    {
        sim = StartSimulator(std::move(systems));
        ASSERT_TRUE(sim);
        for (size_t i = 0; i < sim->Systems().size(); ++i) {
            const TSimSystem &s = sim->Systems()[i];
            AddRecord(QString::fromStdString(s.Name), QString::fromStdString(sim->Target(i)),
                std::max(0, s.Expect));
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
    void WaitIdle()
    {
        ASSERT_TRUE(WaitUntil([&] { return !session->Busy(); }));
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
    QStringList Names()
    {
        QStringList names;
        for (int i = 0; i < List().Count(); ++i)
            names << List().Cell(i, TSystemRecord::Name);
        return names;
    }
};

TEST_F(MainFormTest, WindowStartsWithTitleMenuAndVersion)
{
    TMainForm &f = Make();
    EXPECT_TRUE(f.windowTitle().startsWith(QStringLiteral("ZYRdenetleyici ")));
    EXPECT_TRUE(
        QRegularExpression(QStringLiteral("^ZYRdenetleyici \\d+\\.\\d+$")).match(f.windowTitle()).hasMatch());
    EXPECT_EQ(f.size(), QSize(500, 500));
    EXPECT_EQ(f.minimumSize(), QSize(400, 350));
    const QStringList captions = {Action("KontrolEt")->text(), Action("Ekle")->text(),
        Action("Ayarlar")->text(), Action("Gonder")->text(), Child<QMenu>(&f, "Yardim")->title()};
    EXPECT_EQ(captions,
        (QStringList{QStringLiteral("Denetle"), QStringLiteral("Ekle"), QStringLiteral("Ayarlar"),
            QStringLiteral("Gönder"), QStringLiteral("Yardım")}));
    for (const char *name : {"KontrolEt", "Ekle", "Ayarlar", "Gonder", "LogFile1", "k1"})
        EXPECT_FALSE(Action(name)->icon().isNull()) << name;
    EXPECT_EQ(Tray()->toolTip(), QStringLiteral("ZYRdenetleyici"));
    EXPECT_EQ(Action("k1")->text(), QStringLiteral("Çıkış"));
    EXPECT_EQ(LogLines().size(), 1);
    EXPECT_TRUE(LogLines().value(0).endsWith(QStringLiteral("Program açıldı")));
    for (int hidden : {TSystemRecord::Details, TSystemRecord::ColDateTime, TSystemRecord::ColZYRplus})
        EXPECT_TRUE(View()->isColumnHidden(hidden));
    EXPECT_EQ(View()->columnWidth(TSystemRecord::State), 45);
    EXPECT_EQ(Model()->headerData(TSystemRecord::Name, Qt::Horizontal, Qt::DisplayRole).toString(),
        QStringLiteral("İsim"));
}

// "Denetle" checks the marked systems; a dot shows each outcome, and an unmarked row shows none.
TEST_F(MainFormTest, DenetleChecksTheMarkedSystemsAndTheDotsShowTheOutcome)
{
    Make();
    TSimSystem down = Healthy("kapali");
    down.Mode = "refuse";
    StartFleet({Healthy("saglam"), down});
    AddRecord(QStringLiteral("isaretsiz"), QStringLiteral("127.0.0.1:1"), 0, false);
    List().SetCell(2, TSystemRecord::State, QStringLiteral("3"));
    EXPECT_FALSE(Dot(2).isNull());

    Action("KontrolEt")->trigger();
    EXPECT_TRUE(session->Busy());
    WaitIdle();
    EXPECT_EQ(LogCount(QStringLiteral("Denetleme başladı. IP: 127.0.0.1")), 2);
    const QStringList states = {List().Cell(0, TSystemRecord::State), List().Cell(1, TSystemRecord::State),
        List().Cell(2, TSystemRecord::State)};
    EXPECT_EQ(states, (QStringList{QStringLiteral("3"), QStringLiteral("1"), QStringLiteral("7")}));
    EXPECT_FALSE(Dot(0).isNull());
    EXPECT_FALSE(Dot(1).isNull());
    EXPECT_TRUE(Dot(2).isNull()) << "an unmarked row shows no dot after the cycle";
    EXPECT_TRUE(Action("KontrolEt")->isEnabled());
}

TEST_F(MainFormTest, WhileBusyTheCommandsAreOffCloseIsRefusedAndTheRowsMoveOnceAtTheEnd)
{
    Make();
    form->show();
    // Slow answers keep the cycle running while the window is driven.
    StartFleet({Healthy("b", 300), Healthy("a", 150), Healthy("c", 450)}); // within the reply wait
    List().SetCell(2, TSystemRecord::State, QStringLiteral("3"));
    emit View()->header()->sectionClicked(TSystemRecord::State); // sort by state, ascending
    const QStringList before = Names();

    QStringList orderWhileBusy;
    int resets = 0;
    QObject::connect(Model(), &QAbstractItemModel::dataChanged, form.get(), [&] {
        if (session->Busy() && Names() != before)
            orderWhileBusy = Names();
    });
    QObject::connect(Model(), &QAbstractItemModel::modelReset, form.get(), [&] { ++resets; });
    bool closed = true, enabledWhileBusy = true;
    QTimer::singleShot(60, form.get(), [&] {
        for (const char *name : {"KontrolEt", "Ekle", "Ayarlar", "Gonder"})
            enabledWhileBusy = enabledWhileBusy && Action(name)->isEnabled();
        enabledWhileBusy = enabledWhileBusy || View()->isEnabled();
        emit View()->header()->sectionClicked(TSystemRecord::Name); // sorts nothing while busy
        closed = form->close();
    });

    Action("KontrolEt")->trigger();
    WaitIdle();

    EXPECT_FALSE(enabledWhileBusy);
    EXPECT_FALSE(closed);
    EXPECT_TRUE(form->isVisible());
    EXPECT_TRUE(TMessageBoxHook::Shown.isEmpty()); // refused without a question
    EXPECT_TRUE(orderWhileBusy.isEmpty()) << orderWhileBusy.join(QLatin1Char(',')).toStdString();
    EXPECT_EQ(resets, 1); // one re-sort, when the cycle ended
    EXPECT_EQ(View()->header()->sortIndicatorSection(), int(TSystemRecord::State));
    EXPECT_EQ(Names(), before) << "equal states keep their order; the click while busy sorted nothing";
    for (const char *name : {"KontrolEt", "Ekle", "Ayarlar", "Gonder"})
        EXPECT_TRUE(Action(name)->isEnabled()) << name;
    EXPECT_TRUE(View()->isEnabled());
}

// The alarm the session calls for is played: the user's Alarm.wav, otherwise the shipped call (the beep on
// a desktop without audio output).
TEST_F(MainFormTest, TheAlarmTheSessionCallsForIsPlayed)
{
    Make();
    AddRecord(QStringLiteral("x"), QStringLiteral("127.0.0.1:1"));
    List().SetCell(0, TSystemRecord::State, QStringLiteral("1"));
    TLiveSettings s = session->Settings();
    s.BeepAlarm = true;
    session->SetSettings(s);
    auto settled = [](QSoundEffect *effect) {
        WaitUntil([&] { return effect->status() != QSoundEffect::Loading; }, 10000);
    };

    session->Engine().PlayAlarm();
    QSoundEffect *effect = form->findChild<QSoundEffect *>();
    if (QMediaDevices::defaultAudioOutput().isNull()) {
        EXPECT_EQ(effect, nullptr) << "no player without an output: the beep";
    } else {
        ASSERT_NE(effect, nullptr);
        EXPECT_EQ(effect->source(), QUrl(QStringLiteral("qrc:/sounds/alarm.wav")));
        settled(effect);
    }

    const QString wav = QDir::current().absoluteFilePath(QStringLiteral("Alarm.wav"));
    ASSERT_TRUE(QFile::copy(QStringLiteral(":/sounds/alarm.wav"), wav));
    session->Engine().PlayAlarm();
    effect = form->findChild<QSoundEffect *>();
    ASSERT_NE(effect, nullptr);
    EXPECT_EQ(effect->source(), QUrl::fromLocalFile(wav));
    settled(effect);
    form.reset();
    // The player's sample is freed through the event loop, which the program runs and a test must.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

TEST_F(MainFormTest, CloseAsksSavesWithStatesResetAndKeepsTheWindowOnAFailedSave)
{
    Make();
    form->show();
    AddRecord(QStringLiteral("a"), QStringLiteral("127.0.0.1:1"));
    List().SetCell(0, TSystemRecord::State, QStringLiteral("6"));

    TMessageBoxHook::SetNextAnswer(IDCANCEL);
    EXPECT_FALSE(form->close());
    ASSERT_EQ(TMessageBoxHook::Shown.size(), 1);
    EXPECT_EQ(TMessageBoxHook::Shown[0].Title, QStringLiteral("ONAY"));
    EXPECT_EQ(TMessageBoxHook::Shown[0].Text, form->windowTitle() + QStringLiteral(" kapatılsın mı?"));
    EXPECT_FALSE(QFile::exists(QStringLiteral("ZYRdenetleyici.dat")));

    // A folder where the list file should be: the write fails.
    ASSERT_TRUE(QDir().mkdir(QStringLiteral("ZYRdenetleyici.dat")));
    TMessageBoxHook::Clear();
    TMessageBoxHook::SetNextAnswer(IDOK);
    EXPECT_FALSE(form->close());
    ASSERT_EQ(TMessageBoxHook::Shown.size(), 2);
    EXPECT_EQ(TMessageBoxHook::Shown[1].Title, QStringLiteral("ZYRdenetleyici"));
    EXPECT_EQ(TMessageBoxHook::Shown[1].Text, QStringLiteral("Cannot create file ZYRdenetleyici.dat."));
    EXPECT_TRUE(form->isVisible());
    EXPECT_EQ(List().Cell(0, TSystemRecord::State), QStringLiteral("0")); // reset before the save failed

    ASSERT_TRUE(QDir().rmdir(QStringLiteral("ZYRdenetleyici.dat")));
    TMessageBoxHook::Clear();
    Action("k1")->trigger(); // the tray's exit asks nothing
    EXPECT_TRUE(TMessageBoxHook::Shown.isEmpty());
    EXPECT_FALSE(form->isVisible());
    TSystemList saved;
    LoadSystemList(saved, QStringLiteral("ZYRdenetleyici.dat"));
    ASSERT_EQ(saved.Count(), 1);
    EXPECT_EQ(saved.Cell(0, TSystemRecord::State), QStringLiteral("0"));
    // The window's end is the program's: its last line, before the session itself goes.
    form.reset();
    EXPECT_TRUE(LogLines().last().endsWith(QStringLiteral("Program kapandı")));
    session.reset();
    EXPECT_EQ(LogCount(QStringLiteral("Program kapandı")), 1);
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
    Make();
    ASSERT_EQ(TMessageBoxHook::Shown.size(), 1);
    EXPECT_EQ(TMessageBoxHook::Shown[0].Title, QStringLiteral("ZYRdenetleyici"));
    EXPECT_EQ(TMessageBoxHook::Shown[0].Text, QStringLiteral("Stream read error."));
    EXPECT_EQ(Model()->rowCount(), 1);
    EXPECT_EQ(Model()->SelectHeaderCaption(), QStringLiteral("1"));
    EXPECT_TRUE(form->windowTitle().contains(QLatin1Char('.')));
    const QStringList lines = LogLines();
    ASSERT_EQ(lines.size(), 2);
    EXPECT_TRUE(lines[1].endsWith(QStringLiteral("Veriler yüklendi")));
}

TEST_F(MainFormTest, SelectHeaderTogglesEveryRowAndOtherHeadersSort)
{
    Make();
    AddRecord(QStringLiteral("9"), QStringLiteral("h"), 9, true);
    AddRecord(QStringLiteral("10"), QStringLiteral("h"), 10, false);
    QHeaderView *head = View()->header();
    EXPECT_EQ(Model()->SelectHeaderCaption(), QStringLiteral("0")); // set when the window was made
    emit head->sectionClicked(TSystemRecord::Select);
    EXPECT_EQ(Model()->SelectHeaderCaption(), QStringLiteral("1"));
    EXPECT_EQ(List().SelectedCount(), 2);
    emit head->sectionClicked(TSystemRecord::Select);
    EXPECT_EQ(List().SelectedCount(), 0);
    emit head->sectionClicked(TSystemRecord::DeviceCnt);
    EXPECT_EQ(Names(), (QStringList{QStringLiteral("10"), QStringLiteral("9")})); // texts: "10" < "9"
    EXPECT_EQ(head->sortIndicatorSection(), int(TSystemRecord::DeviceCnt));
    EXPECT_EQ(head->sortIndicatorOrder(), Qt::AscendingOrder);
    emit head->sectionClicked(TSystemRecord::DeviceCnt);
    EXPECT_EQ(Names(), (QStringList{QStringLiteral("9"), QStringLiteral("10")}));
    EXPECT_EQ(head->sortIndicatorOrder(), Qt::DescendingOrder);
}

// The dot of the tray icon as drawn: the colour at its centre.
QColor TrayDot(const QSystemTrayIcon *Tray)
{
    return Tray->icon().pixmap(32, 32).toImage().pixelColor(16, 14);
}

// The tray icon draws the session's tray state: the colour, and the counts in its hint once a cycle ran.
TEST_F(MainFormTest, TrayIconShowsTheStateOfTheMarkedSystems)
{
    Make();
    TSimSystem down = Healthy("kapali");
    down.Mode = "refuse";
    StartFleet({Healthy("saglam"), down});
    const QColor grey(0xa0, 0xa4, 0xaa), red(0xe5, 0x39, 0x35), green(0x43, 0xc0, 0x47);
    auto near = [](QColor a, QColor b) {
        return std::abs(a.red() - b.red()) < 24 && std::abs(a.green() - b.green()) < 24
            && std::abs(a.blue() - b.blue()) < 24;
    };
    EXPECT_TRUE(near(TrayDot(Tray()), grey));
    EXPECT_EQ(Tray()->toolTip(), QStringLiteral("ZYRdenetleyici"));

    Action("KontrolEt")->trigger();
    WaitIdle();
    EXPECT_TRUE(near(TrayDot(Tray()), red));
    EXPECT_EQ(Tray()->toolTip(), QStringLiteral("ZYRdenetleyici – 1 alarm / 2"));

    // A list command tells the tray at once.
    session->ToggleSelect(List().IdAt(Names().indexOf(QStringLiteral("kapali"))));
    EXPECT_TRUE(near(TrayDot(Tray()), green));
    EXPECT_EQ(Tray()->toolTip(), QStringLiteral("ZYRdenetleyici – 0 alarm / 1"));
    session->ToggleSelect(List().IdAt(Names().indexOf(QStringLiteral("saglam"))));
    EXPECT_TRUE(near(TrayDot(Tray()), grey));
    EXPECT_EQ(Tray()->toolTip(), QStringLiteral("ZYRdenetleyici – 0 alarm / 0"));
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
        Make();
        EXPECT_EQ(read(), layout) << "reading costs no byte";
        QHeaderView *head = View()->header();
        EXPECT_EQ(head->sectionSize(TSystemRecord::Name), 140);
        EXPECT_EQ(head->sectionSize(TSystemRecord::Email), 250);
        EXPECT_EQ(head->sectionSize(TSystemRecord::State), 45) << "fixed columns stay as they are";
        EXPECT_EQ(Names(),
            (QStringList{QStringLiteral("ad-h1"), QStringLiteral("ad-h2"), QStringLiteral("ad-h3")}));
        EXPECT_EQ(head->sortIndicatorSection(), int(TSystemRecord::IP));
        EXPECT_EQ(head->sortIndicatorOrder(), Qt::AscendingOrder);
        head->resizeSection(TSystemRecord::Name, 160);
        form.reset();
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
    Make();
    EXPECT_EQ(read(), damaged);
    QHeaderView *head = View()->header();
    EXPECT_EQ(head->sectionSize(TSystemRecord::Name), 75);
    EXPECT_EQ(head->sectionSize(TSystemRecord::Email), 200);
    EXPECT_EQ(
        Names(), (QStringList{QStringLiteral("ad-h3"), QStringLiteral("ad-h2"), QStringLiteral("ad-h1")}));
    EXPECT_EQ(head->sortIndicatorSection(), int(TSystemRecord::Name));
    EXPECT_EQ(head->sortIndicatorOrder(), Qt::DescendingOrder);
}

// Without a tray a hidden start would be unreachable: the window is shown, and its first activation lets
// the start-up check run.
TEST_F(MainFormTest, HiddenStartWithoutATrayShowsTheWindowWhoseActivationStartsTheCheck)
{
    if (QSystemTrayIcon::isSystemTrayAvailable())
        GTEST_SKIP() << "this desktop has a tray";
    Make();
    TLiveSettings s = session->Settings();
    s.ShowMainOnStart = false;
    s.CheckOnStart = true;
    session->SetSettings(s);
    session->Start(QSystemTrayIcon::isSystemTrayAvailable());
    TCheckEngine &engine = session->Engine();
    EXPECT_TRUE(engine.PendingStartCheck);
    form->ShowAtStart();
    EXPECT_TRUE(form->isVisible());
    ASSERT_TRUE(WaitUntil([&] { return !engine.PendingStartCheck; }, 5000))
        << "no activation reached the session";
    EXPECT_TRUE(engine.StartUpTimer->isActive());
    engine.StartUpTimer->stop();
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
