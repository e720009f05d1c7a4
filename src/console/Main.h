#pragma once
#include "engine/CheckEngine.h"
#include "records/SystemList.h"
#include <functional>
#include <QMainWindow>

class QAction;
class QMenu;
class QSystemTrayIcon;
class QTimer;
class QToolBar;
class TFormSettings;
class TLiveSettings;
class TServiceListModel;
class TServiceListView;

// The main window: the list of monitored systems, the menu and the tray icon. It observes the check
// engine, which owns the cycles, the busy state, the timers and the mail and alarm rules, and gives it
// the operator's commands.
class TMainForm : public QMainWindow
{
    Q_OBJECT
public:
    // FormCreate. The list file and the layout file are bare names resolved against the current directory,
    // or in the user's data folder when the program runs installed. The settings belong to the program
    // object and outlive the window.
    explicit TMainForm(TLiveSettings &Live, QWidget *parent = nullptr);
    // FormDestroy.
    ~TMainForm() override;

    TSystemList List;
    TCheckEngine *Engine = nullptr;
    TServiceListModel *ListModel = nullptr;
    TServiceListView *ServiceList = nullptr;
    QToolBar *MainMenu = nullptr;
    QAction *KontrolEt = nullptr;
    QAction *Ekle = nullptr;
    QAction *Ayarlar = nullptr;
    QAction *Gonder = nullptr;
    QMenu *Yardim = nullptr;
    QAction *logFileAction = nullptr;
    QAction *userGuideAction = nullptr;
    QAction *aboutAction = nullptr;
    QMenu *trayMenu = nullptr;
    QAction *exitAction = nullptr;
    QSystemTrayIcon *TrayIcon = nullptr;

    QString DataFileName;
    QString LayoutFileName;
    bool ExitRequested = false;

    bool Busy() const;
    void KontrolEtClick() { Engine->CheckCycle(TCheckOrigin::Menu); }
    // Checks the focused record alone; raises EZyrError when its ColZYRplus is no flag.
    void CheckFocused();
    void ShowMainWindow();
    void ExitClick();
    // A click on the Select header: the hidden caption flips and every record's Select follows it.
    void ToggleAllSelect();
    // The row with the keyboard focus, or -1.
    int FocusedIndex() const;
    // The record with the keyboard focus, or 0.
    TRecordId FocusedRecord() const;
    // Shows the window at start when the settings ask for it, or when no tray could bring it back.
    void ShowAtStart();
    // The list written as a confirmed close writes it (every State as 0; the rows keep theirs). Raises
    // EZyrError when the file cannot be written.
    void SaveListAsOnClose();
    // Termination by a signal or the end of the desktop session: the list is saved at once, even while
    // busy.
    void SaveForSessionEnd();

    // The live settings, read at the moment of use.
    TLiveSettings &Settings();
    // Joins the settings dialog (created after the window): the "Ayarlar" command opens it, a saved
    // dialog applies the settings again, and it may clear deleted addresses from the list.
    void SetSettingsDialog(TFormSettings *Dialog);
    TFormSettings *FormSettings = nullptr;

    // The alarm players: the "Alarm.wav" path, or the shipped alarm (the beep without an audio output).
    std::function<void(const QString &)> PlayAlarmFile;
    std::function<void()> PlayBeep;
    // Shows a desktop notification through the tray (replaceable for tests).
    std::function<void(const QString &Title, const QString &Text)> ShowNotification;

    // The tray icon's colour and hint for the states of the marked systems; kept while a check runs, whose
    // rows show no state until their results come.
    void UpdateTrayState();
    // F10: the focus to the first tool bar command that can be used.
    void FocusMenu();

protected:
    void closeEvent(QCloseEvent *event) override;
    void changeEvent(QEvent *event) override;
    bool event(QEvent *event) override;

private:
    void CreateMenu();
    void CreateTray();
    void UpdateTrayPresence();
    bool TrayUsable() const;
    void ShowBusy(bool Flag);
    void ServiceListHeaderClick(int Column);
    void SetSelectHeader(bool Ticked);
    void ReadLayout();
    void WriteLayout();

    class TAlarmSound *alarmSound = nullptr;
    QTimer *trayWatch = nullptr;
};

extern TMainForm *MainForm;
