#pragma once
#include "records/SystemList.h"
#include <QMainWindow>
#include <QPointer>

class QAction;
class QMenu;
class QSystemTrayIcon;
class QTimer;
class QToolBar;
class TConsoleSession;
class TFormAbout;
class TFormAcknowledge;
class TFormMaintenance;
class TFormDetails;
class TFormHelp;
class TFormHistory;
class TFormNewRecord;
class TFormReport;
class TFormSettings;
class TServiceListModel;
class TServiceListView;
struct TRowMarks;

// The dialogs the main window's commands open; the program object makes them.
struct TMainDialogs
{
    TFormNewRecord &Editor;
    TFormDetails &Details;
    TFormHelp &Help;
    TFormAbout &About;
    TFormSettings &Settings;
    TFormHistory *History = nullptr;
};

// The main window: the list of monitored systems, the menu, the list's commands and the tray icon. It
// draws the session and passes the operator's commands to it; what it keeps of its own is the list's
// layout (column widths, the layout file) and its place on the screen.
class TMainForm : public QMainWindow
{
    Q_OBJECT
public:
    // FormCreate. The layout file is a bare name resolved against the current directory, or in the user's
    // data folder when the program runs installed. The session outlives the window.
    explicit TMainForm(TConsoleSession &Session, QWidget *parent = nullptr);
    // FormDestroy.
    ~TMainForm() override;

    // The commands' dialogs, made after the window; they outlive it.
    void JoinDialogs(const TMainDialogs &Dialogs);

    // Shows the window at start when the settings ask for it, or when no tray could bring it back.
    void ShowAtStart();
    // A second start asked for the window, or the tray icon was clicked.
    void ShowMainWindow();
    // The tray menu's "Çıkış": closes without asking.
    void ExitClick();
    // The tray icon is usable: the desktop has a tray and the icon is shown on it.
    bool TrayUsable() const;

protected:
    void closeEvent(QCloseEvent *event) override;
    void changeEvent(QEvent *event) override;
    bool event(QEvent *event) override;
    bool eventFilter(QObject *Watched, QEvent *Event) override;

private:
    void CreateMenu();
    void CreateListMenu();
    void CreateTray();
    void UpdateTrayPresence();
    void UpdateTrayState();
    void ShowBusy(bool Flag);
    void ServiceListHeaderClick(int Column);
    void SetSelectHeader(bool Ticked);
    void ReadLayout();
    void WriteLayout();
    void FocusMenu();
    int FocusedIndex() const;
    TRecordId FocusedRecord() const;
    void PlayAlarm(const QString &WavFile);
    void ShowNotification(const QStringList &Lines);

    // The list commands (ListCommands.cpp).
    void CheckFocused();
    void AddRecord();
    void ChangeRecord();
    void DeleteRecord();
    // The focused record's history, for any state.
    void ShowHistory();
    // A left click released over a cell of a row; also Space (Select) and Enter (State) on the focused row.
    void ListClick(int Position, int Column);
    void GonderClick();
    void RaporClick();
    void OpenSettings();
    void ListSaveFailed(const QString &Message, bool First);
    // Acknowledgements and maintenance of the focused record (ListCommands.cpp).
    void AcknowledgeFocused();
    void RemoveAcknowledgementFocused();
    void MaintenanceFocused();
    void EndMaintenanceFocused();
    // The menu's entries that apply to the row under it.
    void ShowListMenuFor(TRecordId Record);
    TRowMarks MarksOf(int Position) const;

    TConsoleSession &session;
    TServiceListModel *listModel = nullptr;
    TServiceListView *serviceList = nullptr;
    QToolBar *mainMenu = nullptr;
    QAction *checkAllAction = nullptr;
    QAction *addAction = nullptr;
    QAction *settingsAction = nullptr;
    QAction *sendAction = nullptr;
    QAction *reportAction = nullptr;
    QMenu *helpMenu = nullptr;
    QAction *logFileAction = nullptr;
    QAction *userGuideAction = nullptr;
    QAction *aboutAction = nullptr;
    QMenu *listMenu = nullptr;
    QAction *checkAction = nullptr;
    QAction *deleteAction = nullptr;
    QAction *changeAction = nullptr;
    QAction *historyAction = nullptr;
    QAction *acknowledgeAction = nullptr;
    QAction *unacknowledgeAction = nullptr;
    QAction *maintenanceAction = nullptr;
    QAction *endMaintenanceAction = nullptr;
    TFormAcknowledge *acknowledgeDialog = nullptr;
    TFormMaintenance *maintenanceDialog = nullptr;
    QMenu *trayMenu = nullptr;
    QAction *exitAction = nullptr;
    QSystemTrayIcon *trayIcon = nullptr;
    QTimer *trayWatch = nullptr;
    class TAlarmSound *alarmSound = nullptr;
    // Made and ended by the program object, possibly before the window.
    QPointer<TFormNewRecord> editor;
    QPointer<TFormDetails> details;
    QPointer<TFormHelp> help;
    QPointer<TFormAbout> about;
    QPointer<TFormSettings> settingsDialog;
    QPointer<TFormHistory> history;
    TFormReport *reportDialog = nullptr; // made at its first use
    QString layoutFileName;
    bool exitRequested = false;
};
