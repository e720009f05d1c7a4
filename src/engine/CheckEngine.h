#pragma once
#include "engine/TrayState.h"
#include "engine/Verdict.h"
#include "records/SystemList.h"
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <QBasicTimer>
#include <QEvent>
#include <QObject>
#include <unordered_map>
#include <unordered_set>
#include <vector>

class QTimer;
class TLiveSettings;
class TMailWorker;
struct TMailObjects;
struct TThResponse;

// Who started a check cycle: only the periodic timer may send mails.
enum class TCheckOrigin
{
    Menu,
    Timer,
    StartUp // the check on start, at once or at the window's first activation
};

// One check result from a worker. The cycle and the record are the ones the check was started for; the
// address and kind are what the record said then.
struct TCheckResult
{
    std::unique_ptr<TThResponse> Response;
    quint64 Cycle = 0;
    TRecordId Record = 0;
    QString Target;
    bool IsPlus = false;
    // What the report says, read on the runner's thread (with a report only): the error it raised, if any.
    TReportVerdict Verdict;
    std::exception_ptr VerdictError;
};

// Carries the results that came in since the engine last took any: the first one posts the event (at once
// when the engine is idle, at the end of a short hold after a batch), the next ones join it until the
// engine takes it, so a pass of the event loop handles them all at once instead of waking for each result.
// The engine owns them from then on.
class TCheckResultEvent : public QEvent
{
public:
    static constexpr QEvent::Type Kind = QEvent::Type(QEvent::User + 1);
    explicit TCheckResultEvent(std::shared_ptr<struct TResultGate> Gate);
    ~TCheckResultEvent() override;
    // Closes the batch (nothing joins it afterwards) and gives its results in the order they came.
    std::vector<TCheckResult> &Results();

private:
    friend class TCheckEngine;
    std::shared_ptr<struct TResultGate> gate;
    std::vector<TCheckResult> results;
    bool closed = false;
};

// A result a cycle took, as its log line names it: the record's address and name then, the time, the state.
struct TCycleResult
{
    QString Address;
    QString Name;
    qint64 Time = 0; // seconds since the epoch
    int State = 0;
    bool Maintenance = false; // the system was in maintenance
};

// An operator's word on a system in alarm: it keeps the alarm quiet while the system stays in one.
struct TAcknowledgement
{
    QString Note;
    qint64 Time = 0; // seconds since the epoch
};

// A system under repair until End: still checked and shown, but never loud.
struct TMaintenance
{
    QString Note;
    qint64 Start = 0;
    qint64 End = 0; // seconds since the epoch
};

// What the console knows of a record's alarm beyond its state.
struct TAlarmMark
{
    int Count = 0; // consecutive results in an alarm state
    std::optional<TAcknowledgement> Ack;
    std::optional<TMaintenance> Maintenance;
};

// A change of an acknowledgement or a maintenance, as the history keeps it.
enum class TMarkEvent
{
    Acknowledged = 1,
    AckRemoved = 2, // by hand
    AckFell = 3, // the system recovered
    MaintenanceStarted = 4,
    MaintenanceEnded = 5,
};

// What the record editor sets of a record.
struct TRecordFields
{
    QString Name;
    QString IP;
    QString DeviceCnt;
    QString Email;
    bool ZYRplus = false;
};

// The console's control loop without a window: check cycles over the list, the results and their
// verdicts, the busy state, the periodic and start-up timers, the alarm and mail rules, mail on a thread
// of its own, and the list commands by record identity. Windows observe it through its signals and give
// it commands; it never waits inside an event loop of its own.
class TCheckEngine : public QObject
{
    Q_OBJECT
public:
    // The live settings are read at the moment of use; the program object owns them.
    TCheckEngine(TSystemList &List, TLiveSettings &Settings, QObject *Parent = nullptr);
    ~TCheckEngine() override;

    TSystemList &List;

    TLiveSettings &Settings() { return settings; }

    QTimer *PeriodTimer = nullptr;
    QTimer *StartUpTimer = nullptr;
    bool PendingStartCheck = false;
    // What ApplySettings (at start) left for the first showing of the window.
    bool ShowOnStart = true;
    // Whether a hidden start could be undone (a tray icon can bring the window back); without it a
    // hidden start counts as a shown one.
    bool HiddenStartPossible = false;
    // The status mails of one round, run on the mail thread from the snapshot; replaceable for tests.
    std::function<void(const TLiveSettings &, const TSystemList &, TMailObjects &)> SendStatusMailsJob;

    bool Busy() const { return busy; }
    // Checks of the current cycle or single check not answered yet.
    int Outstanding() const;
    // A status mail round or a test mail is out.
    bool MailBusy() const { return mailOut != TMailKind::None; }
    // A check cycle (not a single check) has ended since the start.
    bool CycleHasRun() const { return cycleHasRun; }

    void SetBusy(bool Flag);
    // False when nothing was started (busy, or no marked record).
    bool CheckCycle(TCheckOrigin Origin);
    // Checks one record alone, whatever its Select. Raises EZyrError (the console left idle) when its
    // ColZYRplus is no flag.
    bool CheckFocused(TRecordId Record);
    // The cycle, then the alarm: at the end of the cycle, or at once when the tick started none.
    void CycleThenAlarm(TCheckOrigin Origin);
    void PlayAlarm();
    // While busy a confirmed settings dialog's call is kept for the end of the busy period.
    void ApplySettings(bool AtStart);
    void FormActivate();
    void StartUpCheckDue();

    // The send command, confirmed: the status mails of every record, the console busy until they are
    // out. Confirmed while busy (a cycle started under the question), it runs when that has ended.
    void SendStatusMails();
    // The settings dialog's Test with its current values. False while status mails are out.
    bool SendTestMail(const TLiveSettings &Source);

    // The list commands. Each applies at once to its record, also while busy; the rows move only when
    // the console is idle (a re-sort asked while busy waits for the end of the busy period).
    TRecordId AddRecord(const TRecordFields &Fields);
    bool ChangeRecord(TRecordId Record, const TRecordFields &Fields);
    bool DeleteRecord(TRecordId Record);
    // Raises EZyrError when Select is no number.
    bool ToggleSelect(TRecordId Record);
    void ReSort();

    // The program is ending: the mail under way stops at once, no result is taken any more.
    void Shutdown();

    // Alarm confirmation, acknowledgements and maintenance.
    // Null for a record with nothing to tell.
    const TAlarmMark *Mark(TRecordId Record) const;
    // The record is in an alarm state that is not confirmed yet (fewer consecutive results than AlarmAfter).
    bool Unconfirmed(int Position) const;
    // The record's alarm counts for the sound, the tray, the notification and the mail rule: marked, in a
    // confirmed alarm state, neither acknowledged nor in maintenance.
    bool CountsAsAlarm(int Position) const;
    bool InMaintenance(TRecordId Record) const;
    // What the state's text gets in the mail and the details window: " (bakımda)", " (onaylandı: <note>)"
    // for an alarm, " (doğrulanıyor)" for an unconfirmed one; empty otherwise.
    QString StateMark(int Position) const;
    // Only a record in an alarm state that is not acknowledged; false otherwise.
    bool Acknowledge(TRecordId Record, const QString &Note);
    bool RemoveAcknowledgement(TRecordId Record);
    // End in seconds since the epoch, after now; replaces a maintenance under way.
    bool StartMaintenance(TRecordId Record, const QString &Note, qint64 End);
    bool EndMaintenance(TRecordId Record);
    // What a previous run left (at start, before any result): a maintenance whose end has passed ends now.
    void RestoreMark(TRecordId Record, const std::optional<TAcknowledgement> &Ack,
        const std::optional<TMaintenance> &Maintenance);
    // The retry check of unconfirmed alarms is due in this many milliseconds; tests set it below the
    // settings' least. Negative: RetryInterval seconds.
    int RetryIntervalMs = -1;
    QTimer *RetryTimer = nullptr;
    QTimer *MaintenanceTimer = nullptr;

signals:
    void BusyChanged(bool Busy);
    // A cycle (with its status mails) has ended.
    void CycleFinished();
    // The last result of a cycle is in: the results it took, in the order they came (before its mails).
    void CycleResults(TCheckOrigin Origin, bool Single, const std::vector<TCycleResult> &Results);
    // The alarm sound is due: the WAV file to play, or empty for the default beep.
    void AlarmDue(const QString &WavFile);
    // A periodic cycle has ended in which marked systems entered an alarm state: one line "%s: %s" (name,
    // state text) each. Sent whatever the settings say; the window decides whether to show it.
    void AlarmsEntered(const QStringList &Lines);
    void MailBusyChanged(bool Busy);
    void TestMailFinished(bool Sent, const QString &Failure);
    // The send command's selection failed (a Select or State cell that is no number).
    void SendFailed(const QString &Message);
    // A record's confirmation, acknowledgement or maintenance changed (its dot and tooltip).
    void MarkChanged(TRecordId Record);
    // An acknowledgement or maintenance began or ended: for the history (End for a maintenance begun).
    void MarkEvent(const QString &Address, TMarkEvent Event, const QString &Note, qint64 Time, qint64 End);

protected:
    void customEvent(QEvent *Event) override;
    void timerEvent(QTimerEvent *Event) override;

private:
    enum class TMailKind
    {
        None,
        Status,
        Test
    };
    struct TRun
    {
        quint64 Id = 0;
        TCheckOrigin Origin = TCheckOrigin::Menu;
        bool Single = false;
        // A check of the unconfirmed alarms only, with the origin of the cycle that found them.
        bool Retry = false;
        // Alarms this run confirmed that count (CountsAsAlarm).
        int NewlyConfirmed = 0;
        // Every record at the start, in row order: records added later take no part.
        std::vector<TRecordId> Members;
        size_t Next = 0;
        bool Starting = true;
        std::unordered_set<TRecordId> Waiting;
        std::vector<TCycleResult> Taken;
    };
    struct TDueMails
    {
        bool FromCycle = false;
        std::vector<TRecordId> Members; // empty with FromCycle false: every record
    };

    void StartSlice();
    void StartCheck(int Position, TRecordId Record);
    void Launch(const QString &Target, bool IsPlus, TRecordId Record);
    void OnCheckResults(std::vector<TCheckResult> &Results);
    bool OnCheckResult(const TCheckResult &Result);
    bool ChecksAsStarted(int Position, const TCheckResult &Result) const;
    // The state written, or -1 when the result could not be judged.
    int ApplyResult(int Position, const TCheckResult &Result);
    void MaybeFinishCycle();
    void FinishCycle();
    void EndBusy();
    void EndResultBatch();
    void QueueStatusMails(TDueMails Due);
    void StartStatusMails(const TDueMails &Due);
    void StatusMailsDone(bool FromCycle, bool Failed, const QString &Error);
    // A result's state into the record's count: logs the confirmation lines; true when it confirmed now.
    bool CountResult(int Position, int State);
    void ScheduleRetry(TCheckOrigin Origin);
    void StartRetry();
    void ArmMaintenanceTimer();
    void MaintenanceDue();
    void TellMark(TRecordId Record);
    int AlarmAfter() const;

    bool busy = false;
    bool cycleHasRun = false;
    TAlarmEntries alarmEntries;
    std::optional<TRun> run;
    quint64 lastCycle = 0;
    bool alarmAtEnd = false;
    bool applyAtEnd = false;
    bool sendAtEnd = false;
    bool retryAtEnd = false;
    TCheckOrigin retryOrigin = TCheckOrigin::Menu;
    std::unordered_map<TRecordId, TAlarmMark> marks;
    bool resultBatch = false;
    TMailKind mailOut = TMailKind::None;
    std::optional<TDueMails> dueMails;
    std::shared_ptr<struct TResultGate> gate;
    // Runs while results are held back after a batch (see TResultGate::Hold).
    QBasicTimer holdTimer;
    TLiveSettings &settings;
    std::unique_ptr<TMailWorker> mail;
};

// "dd/mm/yyyy   hh:nn:ss" with the user's date and time separators.
QString FormatCheckTime(const class QDateTime &When);
// "dd/mm/yyyy hh:nn" with the user's separators: the times of acknowledgements and maintenance.
QString FormatMarkTime(qint64 Seconds);
