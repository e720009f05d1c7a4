#include "console/Main.h"
#include "console/About.h"
#include "console/AlarmSound.h"
#include "console/DesktopNotification.h"
#include "console/Help.h"
#include "console/Icons.h"
#include "console/MessageBoxes.h"
#include "console/MonthReport.h"
#include "console/ReportDialog.h"
#include "console/ServiceList.h"
#include "console/UnitDetails.h"
#include "console/UnitNewRecord.h"
#include "console/UnitSettings.h"
#include "platform/Errors.h"
#include "platform/FileLocations.h"
#include "platform/Logger.h"
#include "platform/Version.h"
#include "records/SystemListFile.h"
#include "session/ConsoleSession.h"
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

namespace {
QString ErrorText(const std::exception &e)
{
    if (auto *zyr = dynamic_cast<const EZyrError *>(&e))
        return zyr->Message();
    return QString::fromUtf8(e.what());
}

} // namespace

TMainForm::TMainForm(TConsoleSession &Session, QWidget *parent)
    : QMainWindow(parent)
    , session(Session)
{
    setObjectName(QStringLiteral("MainForm"));
    setWindowTitle(QStringLiteral("ZYRdenetleyici"));
    QApplication::setApplicationName(QStringLiteral("ZYRdenetleyici"));
    setWindowIcon(AppIcon());
    layoutFileName = FileLocations().DataFile(QStringLiteral("ZYRdenetleyici.ini"));

    resize(500, 500);
    setMinimumSize(400, 350);
    if (QScreen *screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    QPalette pal = palette();
    pal.setColor(QPalette::Window, kWindowColor);
    setPalette(pal);

    listModel = new TServiceListModel(session.ListForView(), this);
    serviceList = new TServiceListView(this);
    serviceList->setObjectName(QStringLiteral("ServiceList"));
    serviceList->setModel(listModel);
    serviceList->SetUpColumns();
    setCentralWidget(serviceList);
    connect(serviceList->header(), &QHeaderView::sectionClicked, this, &TMainForm::ServiceListHeaderClick);
    serviceList->header()->setSortIndicator(session.List().SortColumn(),
        session.List().SortAscending() ? Qt::AscendingOrder : Qt::DescendingOrder);
    CreateMenu();
    CreateListMenu();
    listModel->SetMarks([this](int Position) { return MarksOf(Position); });
    connect(&session, &TConsoleSession::MarkChanged, this, [this](TRecordId Record) {
        if (const int position = session.List().PositionOf(Record); position >= 0)
            listModel->MarksChanged(position);
    });

    connect(&session, &TConsoleSession::BusyChanged, this, &TMainForm::ShowBusy);
    connect(&session, &TConsoleSession::TrayStateChanged, this, &TMainForm::UpdateTrayState);
    connect(&session, &TConsoleSession::NotificationDue, this, &TMainForm::ShowNotification);
    connect(&session, &TConsoleSession::AlarmDue, this, &TMainForm::PlayAlarm);
    connect(&session, &TConsoleSession::ListSaveFailed, this, &TMainForm::ListSaveFailed);
    // The send command's selection error, shown as the general error display shows any other.
    connect(&session, &TConsoleSession::SendFailed, this,
        [](const QString &message) { ShowGeneralError(message); });
    alarmSound = new TAlarmSound(this);

    CreateTray();
    exitRequested = false;
    ShowBusy(false);

    // A list that fails to load keeps the rows read so far; the remaining steps still run, so the caption
    // gets its version and the Select header its glyph.
    if (const QString failure = session.LoadList(); !failure.isEmpty())
        ShowGeneralError(failure);
    SetSelectHeader(session.List().SelectedCount() >= 1);
    ReadLayout();
    UpdateTrayState();
    const QString version = GetVersionString();
    setWindowTitle(windowTitle() + QLatin1Char(' ') + version);
}

TMainForm::~TMainForm()
{
    // The program's last line first; the tray icon and the layout go after it.
    session.End();
    delete trayIcon;
    trayIcon = nullptr;
    WriteLayout();
    // The view reads the session's list: gone before the session is. The window stops filtering its
    // events first: the view's end sends some while it is half destroyed.
    serviceList->viewport()->removeEventFilter(this);
    serviceList->removeEventFilter(this);
    delete serviceList;
    serviceList = nullptr;
    delete listModel;
    listModel = nullptr;
}

void TMainForm::PlayAlarm(const QString &WavFile)
{
    if (WavFile.isEmpty())
        alarmSound->PlayDefault();
    else
        alarmSound->PlayFile(WavFile);
}

void TMainForm::ShowNotification(const QStringList &Lines)
{
    // The desktop's notification service when the session has one; else the tray's own balloon.
    const QString title = QStringLiteral("ZYRdenetleyici");
    const QString text = Lines.join(QLatin1Char('\n'));
    if (!SendDesktopNotification(title, text) && TrayUsable())
        trayIcon->showMessage(title, text, QSystemTrayIcon::Warning);
}

void TMainForm::CreateMenu()
{
    // A menu bar shows a glyph in place of the caption; a fixed tool bar shows both, as the menu should.
    mainMenu = new QToolBar(this);
    mainMenu->setObjectName(QStringLiteral("MainMenu"));
    mainMenu->setMovable(false);
    mainMenu->setFloatable(false);
    mainMenu->setContextMenuPolicy(Qt::PreventContextMenu);
    mainMenu->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    mainMenu->setIconSize(QSize(16, 16));
    mainMenu->setStyleSheet(
        QStringLiteral("QToolBar { background: rgb(214, 223, 247); border: none; spacing: 2px; }"
                       "QToolButton { padding: 2px 4px; }"));
    addToolBar(Qt::TopToolBarArea, mainMenu);
    // The captions are the commands' names; the tool buttons show them with the first letter underlined,
    // the key that Alt takes to the command (the button's own mnemonic, from the button text).
    auto item = [this](QAction *&action, const char *name, const QString &caption, int glyph) {
        action = mainMenu->addAction(Glyph(glyph), caption);
        action->setObjectName(QLatin1String(name));
        action->setIconText(QLatin1Char('&') + caption);
    };
    item(checkAllAction, "KontrolEt", QStringLiteral("Denetle"), 7);
    item(addAction, "Ekle", QStringLiteral("Ekle"), 6);
    item(settingsAction, "Ayarlar", QStringLiteral("Ayarlar"), 8);
    item(sendAction, "Gonder", QStringLiteral("Gönder"), 11);
    item(reportAction, "Rapor", QStringLiteral("Rapor"), 15);
    helpMenu = new QMenu(QStringLiteral("Yardım"), this);
    helpMenu->setObjectName(QStringLiteral("Yardim"));
    helpMenu->setIcon(Glyph(13));
    helpMenu->menuAction()->setObjectName(QStringLiteral("YardimAction"));
    helpMenu->menuAction()->setIconText(QStringLiteral("&Yardım"));
    logFileAction = helpMenu->addAction(Glyph(15), QStringLiteral("Bilgi Dosyası"));
    logFileAction->setObjectName(QStringLiteral("LogFile1"));
    helpMenu->addSeparator();
    userGuideAction = helpMenu->addAction(Glyph(14), QStringLiteral("Kullanım Kılavuzu"));
    userGuideAction->setObjectName(QStringLiteral("KullanmKlavuzu1"));
    aboutAction = helpMenu->addAction(Glyph(12), QStringLiteral("Hakkında"));
    aboutAction->setObjectName(QStringLiteral("Hakknda1"));
    mainMenu->addAction(helpMenu->menuAction());
    if (auto *button = qobject_cast<QToolButton *>(mainMenu->widgetForAction(helpMenu->menuAction())))
        button->setPopupMode(QToolButton::InstantPopup);
    // The commands take the focus from the keyboard (F10, Tab, the arrows) and run with Space.
    for (QAction *action : mainMenu->actions())
        if (QWidget *button = mainMenu->widgetForAction(action))
            button->setFocusPolicy(Qt::TabFocus);
    auto *f10 = new QShortcut(QKeySequence(Qt::Key_F10), this);
    f10->setObjectName(QStringLiteral("FocusMenu"));
    connect(f10, &QShortcut::activated, this, &TMainForm::FocusMenu);
    connect(checkAllAction, &QAction::triggered, &session, &TConsoleSession::CheckCycle);
    connect(addAction, &QAction::triggered, this, &TMainForm::AddRecord);
    connect(settingsAction, &QAction::triggered, this, &TMainForm::OpenSettings);
    connect(sendAction, &QAction::triggered, this, &TMainForm::GonderClick);
    connect(reportAction, &QAction::triggered, this, &TMainForm::RaporClick);
    connect(logFileAction, &QAction::triggered, this, [] { OpenLogFile(); });
    connect(userGuideAction, &QAction::triggered, this, [this] {
        if (help)
            help->ShowHelp();
    });
    connect(aboutAction, &QAction::triggered, this, [this] {
        if (about)
            about->ShowAbout();
    });
}

void TMainForm::CreateTray()
{
    trayMenu = new QMenu(this);
    trayMenu->setObjectName(QStringLiteral("PopupTrayIcon"));
    exitAction = trayMenu->addAction(Glyph(9), QStringLiteral("Çıkış"));
    exitAction->setObjectName(QStringLiteral("k1"));
    connect(exitAction, &QAction::triggered, this, &TMainForm::ExitClick);

    trayIcon = new QSystemTrayIcon(TrayStateIcon(TTrayColour::Grey), this);
    trayIcon->setObjectName(QStringLiteral("TrayIcon"));
    trayIcon->setToolTip(windowTitle());
    trayIcon->setContextMenu(trayMenu);
    // Many Linux trays never send a double click, so a single click brings the window back too.
    connect(trayIcon, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
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
    if (!trayIcon || !QSystemTrayIcon::isSystemTrayAvailable())
        return;
    trayIcon->show();
    if (trayWatch)
        trayWatch->stop();
}

bool TMainForm::TrayUsable() const
{
    return trayIcon && trayIcon->isVisible() && QSystemTrayIcon::isSystemTrayAvailable();
}

void TMainForm::JoinDialogs(const TMainDialogs &Dialogs)
{
    editor = &Dialogs.Editor;
    details = &Dialogs.Details;
    help = &Dialogs.Help;
    about = &Dialogs.About;
    settingsDialog = &Dialogs.Settings;
    history = Dialogs.History;
}

// Only reads the history: open while a check runs too.
void TMainForm::RaporClick()
{
    if (!reportDialog)
        reportDialog = new TFormReport(this);
    reportDialog->ShowReport(session.HistoryFileName(), ReportOrder(session.List()));
}

void TMainForm::ShowBusy(bool Flag)
{
    for (QAction *action : {checkAllAction, addAction, settingsAction, sendAction})
        action->setEnabled(!Flag);
    serviceList->setEnabled(!Flag);
}

void TMainForm::UpdateTrayState()
{
    if (!trayIcon || session.Busy())
        return;
    trayIcon->setIcon(TrayStateIcon(session.TrayState().Colour));
    trayIcon->setToolTip(session.TrayHint());
}

void TMainForm::FocusMenu()
{
    for (QAction *action : mainMenu->actions()) {
        QWidget *button = mainMenu->widgetForAction(action);
        if (button && action->isEnabled() && button->isVisible()) {
            button->setFocus(Qt::ShortcutFocusReason);
            return;
        }
    }
}

bool TMainForm::event(QEvent *event)
{
    if (event->type() == QEvent::WindowActivate)
        session.WindowActivated();
    return QMainWindow::event(event);
}

void TMainForm::ShowAtStart()
{
    if (session.ShowOnStart() || !QSystemTrayIcon::isSystemTrayAvailable()) {
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
    exitRequested = true;
    close();
}

void TMainForm::closeEvent(QCloseEvent *event)
{
    if (session.Busy()) {
        exitRequested = false;
        event->ignore();
        return;
    }
    if (!exitRequested && ConfirmBox(Format("%s kapatılsın mı?", windowTitle())) != IDOK) {
        event->ignore();
        return;
    }
    exitRequested = false;
    try {
        session.SaveOnClose();
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

int TMainForm::FocusedIndex() const
{
    const QModelIndex current = serviceList->currentIndex();
    return current.isValid() && current.row() < session.List().Count() ? current.row() : -1;
}

TRecordId TMainForm::FocusedRecord() const
{
    const int position = FocusedIndex();
    return position < 0 ? 0 : session.List().IdAt(position);
}

void TMainForm::SetSelectHeader(bool Ticked)
{
    listModel->SetSelectHeaderCaption(Ticked ? QStringLiteral("1") : QStringLiteral("0"));
}

void TMainForm::ServiceListHeaderClick(int Column)
{
    if (session.Busy())
        return;
    if (Column == TSystemRecord::Select) {
        // The hidden caption flips and every record's Select follows it.
        const bool ticked = listModel->SelectHeaderCaption() == QLatin1String("0");
        SetSelectHeader(ticked);
        session.SetAllSelect(ticked);
        return;
    }
    if (session.SortByHeader(Column))
        serviceList->header()->setSortIndicator(session.List().SortColumn(),
            session.List().SortAscending() ? Qt::AscendingOrder : Qt::DescendingOrder);
}

void TMainForm::ReadLayout()
{
    // The widths the operator gave the columns that take them, and the order the rows had; sorted once now
    // so that the header's indicator tells the truth about the rows.
    const TSavedListLayout saved = ReadListLayout(layoutFileName);
    QHeaderView *head = serviceList->header();
    for (int column : {int(TSystemRecord::Name), int(TSystemRecord::Email)})
        if (saved.Widths[size_t(column)] > 0)
            head->resizeSection(column, std::max(saved.Widths[size_t(column)], head->minimumSectionSize()));
    session.SetSortOrder(saved.SortColumn, saved.SortAscending);
    head->setSortIndicator(session.List().SortColumn(),
        session.List().SortAscending() ? Qt::AscendingOrder : Qt::DescendingOrder);
}

void TMainForm::WriteLayout()
{
    TListLayout layout;
    const QHeaderView *head = serviceList->header();
    int bandWidth = 0;
    for (int c = 0; c < TSystemRecord::ColumnCount; ++c) {
        TListColumnLayout column;
        column.Visible = !head->isSectionHidden(c);
        column.Index = head->visualIndex(c);
        column.ColIndex = column.Index;
        column.Width = head->sectionSize(c);
        column.Sorted = SortedLayoutValue(session.List(), c);
        if (column.Visible)
            bandWidth += column.Width;
        layout.Columns.push_back(column);
    }
    layout.Bands.push_back({0, true, 0, bandWidth});
    try {
        SaveListLayout(layout, layoutFileName);
    } catch (const std::exception &e) {
        Log(ErrorText(e)); // the program is ending; the layout is only informative
    }
}
