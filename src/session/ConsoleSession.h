#pragma once
#include "engine/CheckEngine.h"
#include "engine/TrayState.h"
#include "history/HistoryStore.h"
#include "records/SystemList.h"
#include "store/Settings.h"
#include <memory>
#include <QObject>

// One run of the console without a window: the list of systems and its file, the live settings, the check
// engine with its mail worker, and what the tray shows. The program object makes it; the windows read it,
// observe its signals and give it the operator's commands. Every command that changes the list saves the
// list file at once, so a crash loses nothing entered.
class TConsoleSession : public QObject
{
    Q_OBJECT
public:
    // The settings file lives in SettingsFolder; ListFile is the list file's path (absolute or relative to
    // the current folder), and the history database lives beside it. A new database is seeded from the
    // event log LogFile, when given. Logs "Program açıldı".
    TConsoleSession(const QString &SettingsFolder, const QString &ListFile,
        const QString &LogFile = QString(), QObject *Parent = nullptr);
    // Ends the session unless End did.
    ~TConsoleSession() override;
    // The program's end: the mail under way ends (and logs its end), the history writes what it holds, then
    // "Program kapandı". Once; the main window calls it first thing when it is destroyed, before its tray
    // icon and layout go.
    void End();

    const TSystemList &List() const { return list; }
    // The list for the window's model, which observes it; changes go through the commands below.
    TSystemList &ListForView() { return list; }
    TCheckEngine &Engine() { return *engine; }
    const TCheckEngine &Engine() const { return *engine; }
    QString ListFileName() const { return listFile; }
    // The history database's path: ZYRdenetleyici.db in the list file's folder.
    QString HistoryFileName() const { return historyFile; }

    // The list file, when there is one ("Veriler yüklendi"). A list that fails to load keeps the rows read
    // so far; the error text is returned for the window to show, empty when none.
    QString LoadList();
    // The settings file into the live settings.
    void LoadSettings();
    // The start: periodic checking and the start-up check as the settings say. HiddenStartPossible: a
    // window started hidden can be brought back (the desktop has a tray); without it a hidden start counts
    // as a shown one.
    void Start(bool HiddenStartPossible);

    const TLiveSettings &Settings() const { return settings; }
    // Replaces the live settings (a dialog's edit); SettingsChanged follows when anything differs.
    void SetSettings(const TLiveSettings &Value);
    // Writes the live settings to their file; raises EZyrError when it cannot.
    void SaveSettings();
    // A confirmed settings dialog: the timers follow the new settings (at the end of a busy period).
    void ApplySettings();

    bool Busy() const { return engine->Busy(); }
    bool MailBusy() const { return engine->MailBusy(); }
    TTrayState TrayState() const;
    // The tray's hint for the current state.
    QString TrayHint() const;

    // The operator's commands. Each list command applies to its record by identity.
    void CheckCycle();
    // Raises EZyrError (the console left idle) when the record's ColZYRplus is no flag.
    void CheckRecord(TRecordId Record);
    TRecordId AddRecord(const TRecordFields &Fields);
    bool ChangeRecord(TRecordId Record, const TRecordFields &Fields);
    bool DeleteRecord(TRecordId Record);
    // Raises EZyrError when Select is no number.
    void ToggleSelect(TRecordId Record);
    // Every record's Select set to Ticked ("1" or "0").
    void SetAllSelect(bool Ticked);
    // The record list re-sorted by a header click (not while busy); false for the Select column.
    bool SortByHeader(int Column);
    // The column and order read back from the layout: the list is sorted once.
    void SetSortOrder(int Column, bool Ascending);
    bool AddressInUse(const QString &Address) const { return list.AddressInUse(Address); }
    // Takes the address off every record.
    void RemoveAddress(const QString &Address);
    // The send command, confirmed.
    void SendStatusMails();
    // The settings dialog's Test with its current values. False while a mail is out.
    bool SendTestMail(const TLiveSettings &Values);
    // Acknowledgements and maintenance, logged and kept in the history database (they stand across a
    // restart). With All, every marked record they apply to; false when none took it.
    bool Acknowledge(TRecordId Record, const QString &Note, bool All);
    bool RemoveAcknowledgement(TRecordId Record);
    bool StartMaintenance(TRecordId Record, const QString &Note, qint64 End, bool All);
    bool EndMaintenance(TRecordId Record);
    // The record's state text as the details window and the mail show it, with its mark appended:
    // " (doğrulanıyor)", " (onaylandı: <note>)" or " (bakımda)".
    QString StateMark(TRecordId Record) const;
    // The window's first activation (the start-up check may wait for it).
    void WindowActivated() { engine->FormActivate(); }
    // Whether the window shows itself at start (the settings, as applied at start).
    bool ShowOnStart() const { return engine->ShowOnStart; }

    // The list written as a confirmed close writes it, every State as 0. Raises EZyrError when the file
    // cannot be written; the rows then show state 0 too.
    void SaveOnClose();
    // The end of the desktop session: the list saved at once, even while busy; a failure is logged.
    void SaveForSessionEnd();
    // Termination by a signal: the mail under way stops, no result is taken any more, then the list is
    // saved as at the end of the desktop session.
    void EndForSignal();
    void Shutdown() { engine->Shutdown(); }

signals:
    void BusyChanged(bool Busy);
    void SettingsChanged();
    // The tray's colour or counts may have changed.
    void TrayStateChanged();
    // A record's confirmation, acknowledgement or maintenance changed.
    void MarkChanged(TRecordId Record);
    // Saving the list after a command failed (also logged); First is true the first time in this run.
    void ListSaveFailed(const QString &Message, bool First);
    // The alarm sound is due: the WAV file to play, or empty for the default beep.
    void AlarmDue(const QString &WavFile);
    // With "Masaüstü bildirimi" on, after a periodic cycle in which marked systems entered an alarm state:
    // one line "%s: %s" (name, state text) each.
    void NotificationDue(const QStringList &Lines);
    // The mail worker's news, passed on.
    void MailBusyChanged(bool Busy);
    void TestMailFinished(bool Sent, const QString &Failure);
    void SendFailed(const QString &Message);
    // The history's writer has committed new results (or a rename): readers may look again. Queued from
    // the writer's thread; several commits may come as several signals.
    void HistoryWritten();

private:
    // The record, and with All every other marked one.
    std::vector<TRecordId> AndMarked(TRecordId Record, bool All) const;
    void ListChanged();
    // The history's writer, opened at the start or at the first result, whichever comes first.
    THistoryStore *History();
    void RecordCycle(TCheckOrigin Origin, bool Single, const std::vector<TCycleResult> &Results);
    // The tray keeps its state while a check runs, whose rows show no state until their results come.
    void NotifyTray();
    // The acknowledgements and maintenance a previous run left, onto the records of their addresses.
    void RestoreMarks();

    QString listFile;
    QString historyFile;
    QString logFile;
    TSystemList list;
    TLiveSettings settings;
    std::unique_ptr<TCheckEngine> engine;
    std::unique_ptr<THistoryStore> history;
    bool saveErrorSeen = false;
    bool ended = false;
};
