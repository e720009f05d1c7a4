#pragma once
#include "console/records/SystemList.h"
#include <QEvent>
#include <QMainWindow>
#include <functional>
#include <memory>
#include <mutex>

class QAction;
class QMenu;
class QSystemTrayIcon;
class QTimer;
class QToolBar;
class TFormSettings;
class TLiveSettings;
class TServiceListModel;
class TServiceListView;
struct TThResponse;

// Who started a check cycle: only the periodic timer may send mails.
enum class TCheckOrigin { Menu, Timer, MainForm };

// Carries one check result from a worker to the main window, which owns it from then on.
class TCheckResultEvent : public QEvent
{
public:
    static constexpr QEvent::Type Kind = QEvent::Type(QEvent::User + 1);
    TCheckResultEvent(std::unique_ptr<TThResponse> Response, quint64 Cycle);
    ~TCheckResultEvent() override;
    std::unique_ptr<TThResponse> Response;
    quint64 Cycle;
};

// The main window: the list of monitored systems, the menu, the tray icon and the check scheduling.
class TMainForm : public QMainWindow
{
    Q_OBJECT
public:
    // FormCreate. The list file and the layout file are bare names resolved against the current directory.
    explicit TMainForm(QWidget *parent = nullptr);
    // FormDestroy.
    ~TMainForm() override;

    TSystemList List;
    TServiceListModel *ListModel = nullptr;
    TServiceListView *ServiceList = nullptr;
    QToolBar *MainMenu = nullptr;
    QAction *KontrolEt = nullptr;
    QAction *Ekle = nullptr;
    QAction *Ayarlar = nullptr;
    QAction *Gonder = nullptr;
    QMenu *Yardim = nullptr;
    QAction *LogFile1 = nullptr;
    QAction *KullanmKlavuzu1 = nullptr;
    QAction *Hakknda1 = nullptr;
    QMenu *PopupTrayIcon = nullptr;
    QAction *k1 = nullptr;
    QSystemTrayIcon *TrayIcon = nullptr;
    QTimer *Timer1 = nullptr;
    QTimer *TimerDummy = nullptr;

    QString DataFileName;
    QString LayoutFileName;
    bool ExitRequested = false;
    bool Busy = false;
    int Outstanding = 0;
    bool PendingStartCheck = false;
    // What ApplySettings (at start) left for the first showing of the window.
    bool ShowOnStart = true;

    void SetBusy(bool Flag);
    void CheckCycle(TCheckOrigin Origin);
    void CheckFocused();
    void Timer1Timer(TCheckOrigin Origin);
    void PlayAlarm();
    void ApplySettings(bool AtStart);
    void FormActivate();
    void TimerDummyTimer();
    void KontrolEtClick() { CheckCycle(TCheckOrigin::Menu); }
    void ShowMainWindow();
    void k1Click();
    // A click on the Select header: the hidden caption flips and every record's Select follows it.
    void ToggleAllSelect();
    // The row with the keyboard focus, or -1.
    int FocusedIndex() const;
    // Shows the window at start when the settings ask for it, or when no tray could bring it back.
    void ShowAtStart();
    // The list written as a confirmed close writes it (every State as 0; the rows keep theirs). Raises
    // EZyrError when the file cannot be written.
    void SaveListAsOnClose();
    // Termination by a signal or the end of the desktop session: save at once, even while busy.
    void SaveForSessionEnd();

    // The settings read at the moment of use: the settings object's, or defaults while it does not exist.
    TLiveSettings &Settings();
    // Joins the settings object (created after the window): the "Ayarlar" command opens it, a saved
    // dialog applies the settings again, and it may clear deleted addresses from the list.
    void SetSettingsObject(TFormSettings *Object);
    TFormSettings *FormSettings = nullptr;

    // Sends the status mails at the end of a periodic cycle; replaceable so a test can watch the calls.
    std::function<void()> SendStatusMailsHook;
    // The alarm players: the "Alarm.wav" path, or the shipped alarm (the beep without an audio output).
    std::function<void(const QString &)> PlayAlarmFile;
    std::function<void()> PlayBeep;

protected:
    void closeEvent(QCloseEvent *event) override;
    void changeEvent(QEvent *event) override;
    void customEvent(QEvent *event) override;
    bool event(QEvent *event) override;

private:
    void CreateMenu();
    void CreateTray();
    void UpdateTrayPresence();
    bool TrayUsable() const;
    void OnCheckResult(TCheckResultEvent *Event);
    void StartCheck(int Position);
    void WaitForResults();
    void EndResultBatch();
    void ServiceListHeaderClick(int Column);
    void SetSelectHeader(bool Ticked);
    void WriteLayout();

    std::mutex ResultLock;
    // Longest run of worker starts between two passes of the event loop.
    static constexpr int StartSliceMs = 10;
    bool resultBatch = false;
    quint64 cycle = 0;
    class QEventLoop *waitLoop = nullptr;
    std::unique_ptr<TLiveSettings> ownSettings;
    std::shared_ptr<struct TResultGate> gate;
    class TAlarmSound *alarmSound = nullptr;
    QTimer *trayWatch = nullptr;
};

// "dd/mm/yyyy   hh:nn:ss" with the user's date and time separators.
QString FormatCheckTime(const QDateTime &When);

extern TMainForm *MainForm;
