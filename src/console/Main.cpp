#include "console/Main.h"
#include "console/AlarmSound.h"
#include "console/Icons.h"
#include "console/MessageBoxes.h"
#include "console/ServiceList.h"
#include "console/UnitSettings.h"
#include "console/records/SystemListFile.h"
#include "engine/Verdict.h"
#include "mail/StatusMails.h"
#include "platform/Errors.h"
#include "platform/UserLocale.h"
#include "platform/Version.h"
#include "probe/CheckThread.h"
#include "store/Logger.h"
#include "store/Settings.h"
#include <QApplication>
#include <algorithm>
#include <climits>
#include <QCloseEvent>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QHeaderView>
#include <QLocale>
#include <QMenu>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QUrl>
#include <optional>

TMainForm *MainForm = nullptr;

// Workers may finish after the window is gone (a signal ends the program without waiting for them);
// they post through this gate, which the window closes when it is destroyed.
struct TResultGate
{
    std::mutex Lock;
    QObject *Target = nullptr;
};

namespace {
QString ErrorText(const std::exception &e)
{
    if (auto *zyr = dynamic_cast<const EZyrError *>(&e))
        return zyr->Message();
    return QString::fromUtf8(e.what());
}

} // namespace

QString FormatCheckTime(const QDateTime &When)
{
    const QChar date = UserDateSeparator();
    const QChar time = UserTimeSeparator();
    const QDate d = When.date();
    const QTime t = When.time();
    auto two = [](int n) { return QStringLiteral("%1").arg(n, 2, 10, QLatin1Char('0')); };
    return two(d.day()) + date + two(d.month()) + date + QStringLiteral("%1").arg(d.year(), 4, 10, QLatin1Char('0'))
        + QStringLiteral("   ") + two(t.hour()) + time + two(t.minute()) + time + two(t.second());
}

TCheckResultEvent::TCheckResultEvent(std::unique_ptr<TThResponse> Response, quint64 Cycle)
    : QEvent(Kind), Response(std::move(Response)), Cycle(Cycle)
{
}
TCheckResultEvent::~TCheckResultEvent() = default;

TMainForm::TMainForm(QWidget *parent) : QMainWindow(parent), gate(std::make_shared<TResultGate>())
{
    MainForm = this;
    gate->Target = this;
    setObjectName(QStringLiteral("MainForm"));
    Log(QStringLiteral("Program açıldı"));
    setWindowTitle(QStringLiteral("ZYRdenetleyici"));
    QApplication::setApplicationName(QStringLiteral("ZYRdenetleyici"));
    setWindowIcon(AppIcon());
    DataFileName = QStringLiteral("ZYRdenetleyici.dat");
    LayoutFileName = QStringLiteral("ZYRdenetleyici.ini");

    resize(500, 500);
    setMinimumSize(400, 350);
    if (QScreen *screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    QPalette pal = palette();
    pal.setColor(QPalette::Window, kWindowColor);
    setPalette(pal);

    ListModel = new TServiceListModel(List, this);
    ServiceList = new TServiceListView(this);
    ServiceList->setModel(ListModel);
    ServiceList->SetUpColumns();
    setCentralWidget(ServiceList);
    connect(ServiceList->header(), &QHeaderView::sectionClicked, this, &TMainForm::ServiceListHeaderClick);
    ServiceList->header()->setSortIndicator(List.SortColumn(),
                                            List.SortAscending() ? Qt::AscendingOrder : Qt::DescendingOrder);
    CreateMenu();

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    connect(Timer1, &QTimer::timeout, this, [this] { Timer1Timer(TCheckOrigin::Timer); });
    TimerDummy = new QTimer(this);
    TimerDummy->setObjectName(QStringLiteral("TimerDummy"));
    TimerDummy->setInterval(500);
    connect(TimerDummy, &QTimer::timeout, this, &TMainForm::TimerDummyTimer);

    alarmSound = new TAlarmSound(this);
    PlayAlarmFile = [this](const QString &path) { alarmSound->PlayFile(path); };
    PlayBeep = [this] { alarmSound->PlayDefault(); };
    SendStatusMailsHook = [this] { SendStatusMails(Settings(), List); };

    CreateTray();
    ExitRequested = false;
    SetBusy(false);

    // A list that fails to load keeps the rows read so far; the remaining steps still run, so the caption
    // gets its version and the Select header its glyph.
    if (QFile::exists(DataFileName)) {
        Log(QStringLiteral("Veriler yüklendi"));
        try {
            LoadSystemList(List, DataFileName);
        } catch (const std::exception &e) {
            ShowGeneralError(ErrorText(e));
        }
    }
    SetSelectHeader(List.SelectedCount() >= 1);
    const QString version = GetVersionString();
    setWindowTitle(windowTitle() + QLatin1Char(' ') + version);
}

TMainForm::~TMainForm()
{
    {
        std::lock_guard lock(gate->Lock);
        gate->Target = nullptr;
    }
    Log(QStringLiteral("Program kapandı"));
    delete TrayIcon;
    TrayIcon = nullptr;
    WriteLayout();
    // The view reads the list until it is gone, and the list is a member that dies before the children.
    delete ServiceList;
    ServiceList = nullptr;
    delete ListModel;
    ListModel = nullptr;
    if (MainForm == this)
        MainForm = nullptr;
}

void TMainForm::CreateMenu()
{
    // A menu bar shows a glyph in place of the caption; a fixed tool bar shows both, as the menu should.
    MainMenu = new QToolBar(this);
    MainMenu->setObjectName(QStringLiteral("MainMenu"));
    MainMenu->setMovable(false);
    MainMenu->setFloatable(false);
    MainMenu->setContextMenuPolicy(Qt::PreventContextMenu);
    MainMenu->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    MainMenu->setIconSize(QSize(16, 16));
    MainMenu->setStyleSheet(QStringLiteral("QToolBar { background: rgb(214, 223, 247); border: none; spacing: 2px; }"
                                           "QToolButton { padding: 2px 4px; }"));
    addToolBar(Qt::TopToolBarArea, MainMenu);
    auto item = [this](QAction *&action, const char *name, const QString &caption, int glyph) {
        action = MainMenu->addAction(ImageList1(glyph), caption);
        action->setObjectName(QLatin1String(name));
    };
    // Captions carry no "&": the menu has no automatic accelerators.
    item(KontrolEt, "KontrolEt", QStringLiteral("Denetle"), 7);
    item(Ekle, "Ekle", QStringLiteral("Ekle"), 6);
    item(Ayarlar, "Ayarlar", QStringLiteral("Ayarlar"), 8);
    item(Gonder, "Gonder", QStringLiteral("Gönder"), 11);
    Yardim = new QMenu(QStringLiteral("Yardım"), this);
    Yardim->setObjectName(QStringLiteral("Yardim"));
    Yardim->setIcon(ImageList1(13));
    Yardim->menuAction()->setObjectName(QStringLiteral("YardimAction"));
    LogFile1 = Yardim->addAction(ImageList1(15), QStringLiteral("Bilgi Dosyası"));
    LogFile1->setObjectName(QStringLiteral("LogFile1"));
    Yardim->addSeparator();
    KullanmKlavuzu1 = Yardim->addAction(ImageList1(14), QStringLiteral("Kullanım Kılavuzu"));
    KullanmKlavuzu1->setObjectName(QStringLiteral("KullanmKlavuzu1"));
    Hakknda1 = Yardim->addAction(ImageList1(12), QStringLiteral("Hakkında"));
    Hakknda1->setObjectName(QStringLiteral("Hakknda1"));
    MainMenu->addAction(Yardim->menuAction());
    if (auto *button = qobject_cast<QToolButton *>(MainMenu->widgetForAction(Yardim->menuAction())))
        button->setPopupMode(QToolButton::InstantPopup);
    connect(KontrolEt, &QAction::triggered, this, &TMainForm::KontrolEtClick);
}

void TMainForm::CreateTray()
{
    PopupTrayIcon = new QMenu(this);
    PopupTrayIcon->setObjectName(QStringLiteral("PopupTrayIcon"));
    k1 = PopupTrayIcon->addAction(ImageList1(9), QStringLiteral("Çıkış"));
    k1->setObjectName(QStringLiteral("k1"));
    connect(k1, &QAction::triggered, this, &TMainForm::k1Click);

    TrayIcon = new QSystemTrayIcon(AppIcon(), this);
    TrayIcon->setObjectName(QStringLiteral("TrayIcon"));
    TrayIcon->setToolTip(windowTitle());
    TrayIcon->setContextMenu(PopupTrayIcon);
    // Many Linux trays never send a double click, so a single click brings the window back too.
    connect(TrayIcon, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::DoubleClick || reason == QSystemTrayIcon::Trigger)
            ShowMainWindow();
    });
    UpdateTrayPresence();
    if (!QSystemTrayIcon::isSystemTrayAvailable()) {
        // An autostarted program may come up before the panel: look again until a tray appears.
        trayWatch = new QTimer(this);
        trayWatch->setInterval(2000);
        connect(trayWatch, &QTimer::timeout, this, &TMainForm::UpdateTrayPresence);
        trayWatch->start();
    }
}

void TMainForm::UpdateTrayPresence()
{
    if (!TrayIcon || !QSystemTrayIcon::isSystemTrayAvailable())
        return;
    TrayIcon->show();
    if (trayWatch)
        trayWatch->stop();
}

bool TMainForm::TrayUsable() const
{
    return TrayIcon && TrayIcon->isVisible() && QSystemTrayIcon::isSystemTrayAvailable();
}

void TMainForm::SetSettingsObject(TFormSettings *Object)
{
    FormSettings = Object;
    if (!Object)
        return;
    Object->Records = &List;
    Object->Applied = [this] { ApplySettings(false); };
    connect(Ayarlar, &QAction::triggered, Object, [this] {
        if (!Busy && FormSettings)
            FormSettings->Execute();
    });
}

TLiveSettings &TMainForm::Settings()
{
    if (FormSettings)
        return FormSettings->Settings;
    if (!ownSettings)
        ownSettings = std::make_unique<TLiveSettings>();
    return *ownSettings;
}

void TMainForm::SetBusy(bool Flag)
{
    Busy = Flag;
    for (QAction *action : {KontrolEt, Ekle, Ayarlar, Gonder})
        action->setEnabled(!Flag);
    ServiceList->setEnabled(!Flag);
    if (!Flag)
        List.Sort();
}

void TMainForm::CheckCycle(TCheckOrigin Origin)
{
    if (Busy)
        return;
    {
        TListUpdate update(List);
        for (int i = 0; i < List.Count(); ++i) {
            List.SetCellNumber(i, TSystemRecord::State, csChecking);
            List.SetCell(i, TSystemRecord::ColDateTime, QString());
        }
    }
    const int n = List.SelectedCount();
    Outstanding = n;
    if (n == 0)
        return;
    SetBusy(true);
    ++cycle;
    try {
        Outstanding = 0;
        // Starting thousands of workers takes a while: the window handles its events (results among
        // them) between slices of the start, so it never freezes for the whole of it.
        QElapsedTimer slice;
        slice.start();
        // The view hears of the started rows once per slice, not once per row.
        std::optional<TListUpdate> batch(std::in_place, List);
        for (int i = 0; i < List.Count(); ++i) {
            if (List.CellAsNumber(i, TSystemRecord::Select) != 1)
                continue;
            StartCheck(i);
            if (slice.elapsed() >= StartSliceMs) {
                batch.reset();
                QCoreApplication::processEvents();
                batch.emplace(List);
                slice.restart();
            }
        }
        batch.reset();
        WaitForResults();
        if (Outstanding == 0) { // otherwise the program is quitting and the wait was cut short
            int alarms = 0;
            for (int i = 0; i < List.Count(); ++i)
                if (List.CellAsNumber(i, TSystemRecord::Select) == 1
                    && IsAlarmState(int(List.CellAsNumber(i, TSystemRecord::State))))
                    ++alarms;
            const int rule = Settings().MailAfterCtrl();
            if (Origin == TCheckOrigin::Timer && (rule == 0 || (rule == 1 && alarms >= 1)) && SendStatusMailsHook)
                SendStatusMailsHook();
        }
    } catch (const std::exception &e) {
        LogError(10001, ErrorText(e));
    }
    ++cycle; // results still on their way belong to an ended cycle
    SetBusy(false);
}

void TMainForm::StartCheck(int Position)
{
    List.SetCellNumber(Position, TSystemRecord::State, csChecking);
    const QString target = List.Cell(Position, TSystemRecord::IP);
    const bool plus = List.CellAsFlag(Position, TSystemRecord::ColZYRplus);
    const quint64 id = cycle;
    std::shared_ptr<TResultGate> to = gate;
    TCheckThread::Start(target, Position, Settings().TimeOut(), plus, [to, id](std::unique_ptr<TThResponse> r) {
        std::lock_guard lock(to->Lock);
        if (to->Target)
            QCoreApplication::postEvent(to->Target, new TCheckResultEvent(std::move(r), id));
    });
    LogFmt("Denetleme başladı. IP: %s", target);
    ++Outstanding;
}

void TMainForm::WaitForResults()
{
    if (Outstanding <= 0)
        return;
    QEventLoop loop;
    waitLoop = &loop;
    // The loop also ends when the application quits (every nested loop is told to exit then).
    loop.exec();
    waitLoop = nullptr;
    EndResultBatch();
}

void TMainForm::EndResultBatch()
{
    if (!resultBatch)
        return;
    resultBatch = false;
    List.EndUpdate();
}

void TMainForm::CheckFocused()
{
    const int position = FocusedIndex();
    if (position < 0 || Busy)
        return;
    SetBusy(true);
    ++cycle;
    Outstanding = 1;
    try {
        List.SetCellNumber(position, TSystemRecord::State, csChecking);
        const QString target = List.Cell(position, TSystemRecord::IP);
        LogFmt("Denetleme başladı. IP: %s", target);
        const bool plus = List.CellAsFlag(position, TSystemRecord::ColZYRplus);
        const quint64 id = cycle;
        std::shared_ptr<TResultGate> to = gate;
        TCheckThread::Start(target, position, Settings().TimeOut(), plus, [to, id](std::unique_ptr<TThResponse> r) {
            std::lock_guard lock(to->Lock);
            if (to->Target)
                QCoreApplication::postEvent(to->Target, new TCheckResultEvent(std::move(r), id));
        });
        WaitForResults();
    } catch (...) {
        ++cycle;
        SetBusy(false);
        throw;
    }
    ++cycle;
    SetBusy(false);
}

void TMainForm::customEvent(QEvent *event)
{
    if (event->type() == TCheckResultEvent::Kind)
        OnCheckResult(static_cast<TCheckResultEvent *>(event));
    else
        QMainWindow::customEvent(event);
}

void TMainForm::OnCheckResult(TCheckResultEvent *Event)
{
    std::lock_guard lock(ResultLock);
    std::unique_ptr<TThResponse> result = std::move(Event->Response);
    // A result of an ended cycle could land on a row that a re-sort has given to another system.
    if (!result || Event->Cycle != cycle || !Busy)
        return;
    // The results of one event-loop pass reach the view as one change, not one repaint request per cell.
    if (!resultBatch) {
        resultBatch = true;
        List.BeginUpdate();
        QTimer::singleShot(0, this, &TMainForm::EndResultBatch);
    }
    try {
        const int i = result->RecordIndex;
        if (i >= 0 && i < List.Count()) {
            List.SetCellNumber(i, TSystemRecord::State, result->ProbeState);
            List.SetCell(i, TSystemRecord::ColDateTime, FormatCheckTime(QDateTime::currentDateTime()));
            if (result->ProbeState == psReport) {
                List.SetCell(i, TSystemRecord::Details, result->ReportText);
                const TReportVerdict report = ReadReportVerdict(List.Cell(i, TSystemRecord::Details),
                                                                List.CellAsFlag(i, TSystemRecord::ColZYRplus));
                if (report.HasAlarm)
                    List.SetCellNumber(i, TSystemRecord::State, csAlarm);
                List.SetCellNumber(i, TSystemRecord::State,
                                   VerdictState(psReport, report, List.CellAsNumber(i, TSystemRecord::DeviceCnt)));
            }
            LogFmt("Denetleme bitti. IP: %s Sonuç: %s", List.Cell(i, TSystemRecord::IP),
                   StateDescription(int(List.CellAsNumber(i, TSystemRecord::State))));
        }
    } catch (const std::exception &e) {
        LogError(10002, ErrorText(e));
    }
    if (Outstanding > 0)
        --Outstanding;
    if (Outstanding == 0 && waitLoop)
        waitLoop->quit();
}

void TMainForm::Timer1Timer(TCheckOrigin Origin)
{
    CheckCycle(Origin);
    PlayAlarm();
}

void TMainForm::PlayAlarm()
{
    if (!Settings().BeepAlarm())
        return;
    bool down = false;
    for (int i = 0; i < List.Count() && !down; ++i)
        down = List.Cell(i, TSystemRecord::Select).trimmed() == QLatin1String("1")
            && List.Cell(i, TSystemRecord::State).trimmed() == QLatin1String("1");
    if (!down)
        return;
    const QString wav = QDir::current().absoluteFilePath(QStringLiteral("Alarm.wav"));
    if (QFile::exists(wav))
        PlayAlarmFile(wav);
    else
        PlayBeep();
}

void TMainForm::ApplySettings(bool AtStart)
{
    if (Busy)
        return;
    Timer1->stop();
    PendingStartCheck = false;
    TLiveSettings &settings = Settings();
    if (AtStart) {
        ShowOnStart = settings.ShowMainOnStart();
        // A hidden start is only hidden when a tray can bring the window back; otherwise it is a shown one.
        const bool hidden = !settings.ShowMainOnStart() && QSystemTrayIcon::isSystemTrayAvailable();
        if (!hidden || !settings.CheckOnStart())
            PendingStartCheck = settings.CheckOnStart();
        else
            Timer1Timer(TCheckOrigin::MainForm);
    }
    if (settings.Period() >= 1) {
        // A hand-edited Period beyond the timer's range (about 24 days) waits as long as the timer can.
        Timer1->setInterval(int(std::min<qint64>(qint64(settings.Period()) * 60000, INT_MAX)));
        Timer1->start();
    }
}

void TMainForm::FormActivate()
{
    if (PendingStartCheck)
        TimerDummy->start();
    PendingStartCheck = false;
}

void TMainForm::TimerDummyTimer()
{
    TimerDummy->stop();
    Timer1Timer(TCheckOrigin::MainForm);
}

bool TMainForm::event(QEvent *event)
{
    if (event->type() == QEvent::WindowActivate)
        FormActivate();
    return QMainWindow::event(event);
}

void TMainForm::ShowAtStart()
{
    if (ShowOnStart || !QSystemTrayIcon::isSystemTrayAvailable()) {
        show();
        activateWindow(); // the start-up check waits for the first activation
    }
}

void TMainForm::ShowMainWindow()
{
    setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    show();
    raise();
    activateWindow();
}

void TMainForm::changeEvent(QEvent *event)
{
    QMainWindow::changeEvent(event);
    // Minimising hides the window only while a tray icon can bring it back.
    if (event->type() == QEvent::WindowStateChange && isMinimized() && TrayUsable())
        QTimer::singleShot(0, this, [this] {
            if (isMinimized())
                hide();
        });
}

void TMainForm::k1Click()
{
    ExitRequested = true;
    close();
}

void TMainForm::closeEvent(QCloseEvent *event)
{
    if (Busy) {
        ExitRequested = false;
        event->ignore();
        return;
    }
    if (!ExitRequested && ConfirmBox(Format("%s kapatılsın mı?", windowTitle())) != IDOK) {
        event->ignore();
        return;
    }
    ExitRequested = false;
    {
        TListUpdate update(List);
        for (int i = 0; i < List.Count(); ++i)
            List.SetCellNumber(i, TSystemRecord::State, csNotChecked);
    }
    try {
        SaveSystemList(List, DataFileName);
    } catch (const std::exception &e) {
        ShowGeneralError(ErrorText(e));
        event->ignore();
        return;
    }
    event->accept();
    // The program ends with its main window, also when the window was hidden in the tray. exit(), not
    // quit(): quit() would first ask every window to close, and this one would ask its question again.
    QTimer::singleShot(0, qApp, [] { QCoreApplication::exit(0); });
}

void TMainForm::SaveListAsOnClose()
{
    SaveSystemListOnClose(List, DataFileName);
}

void TMainForm::SaveForSessionEnd()
{
    try {
        SaveListAsOnClose();
    } catch (const std::exception &e) {
        LogError(10001, ErrorText(e));
    }
}

int TMainForm::FocusedIndex() const
{
    const QModelIndex current = ServiceList->currentIndex();
    return current.isValid() && current.row() < List.Count() ? current.row() : -1;
}

void TMainForm::SetSelectHeader(bool Ticked)
{
    ListModel->SetSelectHeaderCaption(Ticked ? QStringLiteral("1") : QStringLiteral("0"));
}

void TMainForm::ToggleAllSelect()
{
    const bool ticked = ListModel->SelectHeaderCaption() == QLatin1String("0");
    ListModel->SetSelectHeaderCaption(ticked ? QStringLiteral("1") : QStringLiteral("0"));
    TListUpdate update(List);
    for (int i = 0; i < List.Count(); ++i)
        List.SetCell(i, TSystemRecord::Select, ticked ? QStringLiteral("1") : QStringLiteral("0"));
}

void TMainForm::ServiceListHeaderClick(int Column)
{
    if (Busy)
        return;
    if (Column == TSystemRecord::Select) {
        ToggleAllSelect();
        return;
    }
    if (List.HeaderClickSort(Column))
        ServiceList->header()->setSortIndicator(List.SortColumn(),
                                                List.SortAscending() ? Qt::AscendingOrder : Qt::DescendingOrder);
}

void TMainForm::WriteLayout()
{
    TListLayout layout;
    const QHeaderView *head = ServiceList->header();
    int bandWidth = 0;
    for (int c = 0; c < TSystemRecord::ColumnCount; ++c) {
        TListColumnLayout column;
        column.Visible = !head->isSectionHidden(c);
        column.Index = head->visualIndex(c);
        column.ColIndex = column.Index;
        column.Width = head->sectionSize(c);
        column.Sorted = SortedLayoutValue(List, c);
        if (column.Visible)
            bandWidth += column.Width;
        layout.Columns.push_back(column);
    }
    layout.Bands.push_back({0, true, 0, bandWidth});
    try {
        SaveListLayout(layout, LayoutFileName);
    } catch (const std::exception &e) {
        Log(ErrorText(e)); // the program is ending; the layout is only informative
    }
}
