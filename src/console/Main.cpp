#include "console/Main.h"
#include "console/AlarmSound.h"
#include "console/Icons.h"
#include "console/MessageBoxes.h"
#include "console/ServiceList.h"
#include "console/UnitSettings.h"
#include "records/SystemListFile.h"
#include "platform/Errors.h"
#include "platform/Version.h"
#include "platform/Logger.h"
#include "store/Settings.h"
#include <QApplication>
#include <QCloseEvent>
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

TMainForm *MainForm = nullptr;

namespace {
QString ErrorText(const std::exception &e)
{
    if (auto *zyr = dynamic_cast<const EZyrError *>(&e))
        return zyr->Message();
    return QString::fromUtf8(e.what());
}

} // namespace

TMainForm::TMainForm(TLiveSettings &Settings, QWidget *parent)
    : QMainWindow(parent)
{
    MainForm = this;
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

    Engine = new TCheckEngine(List, Settings, this);
    Engine->setObjectName(QStringLiteral("Engine"));
    Engine->HiddenStartPossible = [] { return QSystemTrayIcon::isSystemTrayAvailable(); };
    connect(Engine, &TCheckEngine::BusyChanged, this, &TMainForm::ShowBusy);
    connect(Engine, &TCheckEngine::AlarmDue, this, [this](const QString &wav) {
        if (wav.isEmpty())
            PlayBeep();
        else
            PlayAlarmFile(wav);
    });

    alarmSound = new TAlarmSound(this);
    PlayAlarmFile = [this](const QString &path) { alarmSound->PlayFile(path); };
    PlayBeep = [this] { alarmSound->PlayDefault(); };

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

void TMainForm::k1Click()
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
