#include "console/Main.h"
#include "console/AlarmSound.h"
#include "console/DesktopNotification.h"
#include "console/Icons.h"
#include "console/MessageBoxes.h"
#include "console/ServiceList.h"
#include "console/UnitSettings.h"
#include "platform/Errors.h"
#include "platform/FileLocations.h"
#include "platform/Logger.h"
#include "platform/Version.h"
#include "records/SystemListFile.h"
#include "store/Settings.h"
#include <QApplication>
#include <QCloseEvent>
#include <QFile>
#include <QHeaderView>
#include <QLocale>
#include <QMenu>
#include <QScreen>
#include <QShortcut>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QUrl>

TMainForm *MainForm = nullptr;

namespace {
QString ErrorText(const std::exception &e)
{
    if (auto *zyr = dynamic_cast<const EZyrError *>(&e))
        return zyr->Message();
    return QString::fromUtf8(e.what());
}

} // namespace

TMainForm::TMainForm(TLiveSettings &Live, QWidget *parent)
    : QMainWindow(parent)
{
    MainForm = this;
    setObjectName(QStringLiteral("MainForm"));
    Log(QStringLiteral("Program açıldı"));
    setWindowTitle(QStringLiteral("ZYRdenetleyici"));
    QApplication::setApplicationName(QStringLiteral("ZYRdenetleyici"));
    setWindowIcon(AppIcon());
    DataFileName = FileLocations().DataFile(QStringLiteral("ZYRdenetleyici.dat"));
    LayoutFileName = FileLocations().DataFile(QStringLiteral("ZYRdenetleyici.ini"));

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
    ServiceList->header()->setSortIndicator(
        List.SortColumn(), List.SortAscending() ? Qt::AscendingOrder : Qt::DescendingOrder);
    CreateMenu();

    Engine = new TCheckEngine(List, Live, this);
    Engine->setObjectName(QStringLiteral("Engine"));
    Engine->HiddenStartPossible = [] { return QSystemTrayIcon::isSystemTrayAvailable(); };
    connect(Engine, &TCheckEngine::BusyChanged, this, &TMainForm::ShowBusy);
    connect(Engine, &TCheckEngine::AlarmsEntered, this, [this](const QStringList &lines) {
        if (Settings().DesktopNotify)
            ShowNotification(QStringLiteral("ZYRdenetleyici"), lines.join(QLatin1Char('\n')));
    });
    connect(Engine, &TCheckEngine::AlarmDue, this, [this](const QString &wav) {
        if (wav.isEmpty())
            PlayBeep();
        else
            PlayAlarmFile(wav);
    });

    alarmSound = new TAlarmSound(this);
    PlayAlarmFile = [this](const QString &path) { alarmSound->PlayFile(path); };
    PlayBeep = [this] { alarmSound->PlayDefault(); };
    // The desktop's notification service when the session has one; else the tray's own balloon.
    ShowNotification = [this](const QString &title, const QString &text) {
        if (!SendDesktopNotification(title, text) && TrayUsable())
            TrayIcon->showMessage(title, text, QSystemTrayIcon::Warning);
    };

    CreateTray();
    ExitRequested = false;
    ShowBusy(false);

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
    ReadLayout();
    UpdateTrayState();
    const QString version = GetVersionString();
    setWindowTitle(windowTitle() + QLatin1Char(' ') + version);
}

TMainForm::~TMainForm()
{
    // A mail under way ends (and logs its end) before the program's last line.
    Engine->Shutdown();
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
    MainMenu->setStyleSheet(
        QStringLiteral("QToolBar { background: rgb(214, 223, 247); border: none; spacing: 2px; }"
                       "QToolButton { padding: 2px 4px; }"));
    addToolBar(Qt::TopToolBarArea, MainMenu);
    // The captions are the commands' names; the tool buttons show them with the first letter underlined,
    // the key that Alt takes to the command (the button's own mnemonic, from the button text).
    auto item = [this](QAction *&action, const char *name, const QString &caption, int glyph) {
        action = MainMenu->addAction(Glyph(glyph), caption);
        action->setObjectName(QLatin1String(name));
        action->setIconText(QLatin1Char('&') + caption);
    };
    item(KontrolEt, "KontrolEt", QStringLiteral("Denetle"), 7);
    item(Ekle, "Ekle", QStringLiteral("Ekle"), 6);
    item(Ayarlar, "Ayarlar", QStringLiteral("Ayarlar"), 8);
    item(Gonder, "Gonder", QStringLiteral("Gönder"), 11);
    Yardim = new QMenu(QStringLiteral("Yardım"), this);
    Yardim->setObjectName(QStringLiteral("Yardim"));
    Yardim->setIcon(Glyph(13));
    Yardim->menuAction()->setObjectName(QStringLiteral("YardimAction"));
    Yardim->menuAction()->setIconText(QStringLiteral("&Yardım"));
    logFileAction = Yardim->addAction(Glyph(15), QStringLiteral("Bilgi Dosyası"));
    logFileAction->setObjectName(QStringLiteral("LogFile1"));
    Yardim->addSeparator();
    userGuideAction = Yardim->addAction(Glyph(14), QStringLiteral("Kullanım Kılavuzu"));
    userGuideAction->setObjectName(QStringLiteral("KullanmKlavuzu1"));
    aboutAction = Yardim->addAction(Glyph(12), QStringLiteral("Hakkında"));
    aboutAction->setObjectName(QStringLiteral("Hakknda1"));
    MainMenu->addAction(Yardim->menuAction());
    if (auto *button = qobject_cast<QToolButton *>(MainMenu->widgetForAction(Yardim->menuAction())))
        button->setPopupMode(QToolButton::InstantPopup);
    // The commands take the focus from the keyboard (F10, Tab, the arrows) and run with Space.
    for (QAction *action : MainMenu->actions())
        if (QWidget *button = MainMenu->widgetForAction(action))
            button->setFocusPolicy(Qt::TabFocus);
    auto *f10 = new QShortcut(QKeySequence(Qt::Key_F10), this);
    f10->setObjectName(QStringLiteral("FocusMenu"));
    connect(f10, &QShortcut::activated, this, &TMainForm::FocusMenu);
    connect(KontrolEt, &QAction::triggered, this, &TMainForm::KontrolEtClick);
}

void TMainForm::CreateTray()
{
    trayMenu = new QMenu(this);
    trayMenu->setObjectName(QStringLiteral("PopupTrayIcon"));
    exitAction = trayMenu->addAction(Glyph(9), QStringLiteral("Çıkış"));
    exitAction->setObjectName(QStringLiteral("k1"));
    connect(exitAction, &QAction::triggered, this, &TMainForm::ExitClick);

    TrayIcon = new QSystemTrayIcon(TrayStateIcon(TTrayColour::Grey), this);
    TrayIcon->setObjectName(QStringLiteral("TrayIcon"));
    TrayIcon->setToolTip(windowTitle());
    TrayIcon->setContextMenu(trayMenu);
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

void TMainForm::SetSettingsDialog(TFormSettings *Dialog)
{
    FormSettings = Dialog;
    if (!Dialog)
        return;
    Dialog->Records = &List;
    Dialog->Applied = [this] { Engine->ApplySettings(false); };
    Dialog->SetEngine(Engine);
    connect(Dialog, &QObject::destroyed, this, [this] { FormSettings = nullptr; });
    connect(Ayarlar, &QAction::triggered, Dialog, [this] {
        if (!Busy() && FormSettings)
            FormSettings->Execute();
    });
}

TLiveSettings &TMainForm::Settings()
{
    return Engine->Settings();
}

bool TMainForm::Busy() const
{
    return Engine->Busy();
}

void TMainForm::ShowBusy(bool Flag)
{
    for (QAction *action : {KontrolEt, Ekle, Ayarlar, Gonder})
        action->setEnabled(!Flag);
    ServiceList->setEnabled(!Flag);
    if (!Flag)
        UpdateTrayState();
}

void TMainForm::UpdateTrayState()
{
    if (!TrayIcon || Busy())
        return;
    const TTrayState state = ReadTrayState(List);
    TrayIcon->setIcon(TrayStateIcon(state.Colour));
    TrayIcon->setToolTip(TrayHint(state, Engine->CycleHasRun()));
}

void TMainForm::FocusMenu()
{
    for (QAction *action : MainMenu->actions()) {
        QWidget *button = MainMenu->widgetForAction(action);
        if (button && action->isEnabled() && button->isVisible()) {
            button->setFocus(Qt::ShortcutFocusReason);
            return;
        }
    }
}

void TMainForm::CheckFocused()
{
    Engine->CheckFocused(FocusedRecord());
}

bool TMainForm::event(QEvent *event)
{
    if (event->type() == QEvent::WindowActivate)
        Engine->FormActivate();
    return QMainWindow::event(event);
}

void TMainForm::ShowAtStart()
{
    if (Engine->ShowOnStart || !QSystemTrayIcon::isSystemTrayAvailable()) {
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

void TMainForm::ExitClick()
{
    ExitRequested = true;
    close();
}

void TMainForm::closeEvent(QCloseEvent *event)
{
    if (Busy()) {
        ExitRequested = false;
        event->ignore();
        return;
    }
    if (!ExitRequested && ConfirmBox(Format("%s kapatılsın mı?", windowTitle())) != IDOK) {
        event->ignore();
        return;
    }
    ExitRequested = false;
    // Written with every State as 0. The rows themselves need the reset only when the window stays
    // open after a failed save; otherwise resetting ten thousand rows would cost more than the write.
    try {
        SaveListAsOnClose();
    } catch (const std::exception &e) {
        {
            TListUpdate update(List);
            for (int i = 0; i < List.Count(); ++i)
                List.SetCellNumber(i, TSystemRecord::State, csNotChecked);
        }
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

TRecordId TMainForm::FocusedRecord() const
{
    const int position = FocusedIndex();
    return position < 0 ? 0 : List.IdAt(position);
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
    if (Busy())
        return;
    if (Column == TSystemRecord::Select) {
        ToggleAllSelect();
        return;
    }
    if (List.HeaderClickSort(Column))
        ServiceList->header()->setSortIndicator(
            List.SortColumn(), List.SortAscending() ? Qt::AscendingOrder : Qt::DescendingOrder);
}

void TMainForm::ReadLayout()
{
    // The widths the operator gave the columns that take them, and the order the rows had; sorted once now
    // so that the header's indicator tells the truth about the rows.
    const TSavedListLayout saved = ReadListLayout(LayoutFileName);
    QHeaderView *head = ServiceList->header();
    for (int column : {int(TSystemRecord::Name), int(TSystemRecord::Email)})
        if (saved.Widths[size_t(column)] > 0)
            head->resizeSection(column, std::max(saved.Widths[size_t(column)], head->minimumSectionSize()));
    if (saved.SortColumn >= 0)
        List.SetSortOrder(saved.SortColumn, saved.SortAscending);
    List.Sort();
    head->setSortIndicator(
        List.SortColumn(), List.SortAscending() ? Qt::AscendingOrder : Qt::DescendingOrder);
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
