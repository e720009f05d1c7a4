#pragma once
#include "store/CheckList.h"
#include <QString>

// The live settings, typed, one field per key of the settings file: a plain value, so a snapshot is a copy.
// The console session owns the live copy and tells of its changes; a cancelled settings dialog leaves its
// edits in force until the next LoadSettings.
class TLiveSettings
{
public:
    // Folder of the settings file, with or without a trailing '/'; empty means the program's own folder.
    // The fields start with the keys' defaults.
    explicit TLiveSettings(const QString &Folder = QString());

    int Period; // minutes; 0 when periodic checking is off
    bool RunAtStartup;
    bool ShowMainOnStart;
    bool CheckOnStart;
    int MailAfterCtrl; // 0 after every periodic check, 1 only on alarm, 2 never
    bool BeepAlarm;
    bool DesktopNotify; // a notification after each periodic cycle
    int HistoryDays; // how long the history keeps results, 30..3650
    int AlarmAfter; // consecutive alarm results that confirm an alarm, 1..10
    int RetryInterval; // seconds to the check of unconfirmed alarms, 10..600
    int TimeOut; // milliseconds; read from the file only, never written
    QString Host; // text fields hold no leading or trailing blanks
    QString Username;
    QString Password;
    int Port;
    bool AuthType; // stored as 1 or 0; only a stored 1 means on
    bool SSL; // the same rule
    QString From;
    // Every notification address; the ticked ones are the default addresses (key To).
    TCheckList Emails;

    // The ticked addresses joined by "," in list order, empty when none is ticked.
    QString To() const;

    QString FileName() const { return fileName; }

    // Reads the file into the fields; missing keys and values that are no integers or lie outside a
    // key's range give the defaults.
    void LoadSettings();
    // Writes the fields to the file (raises EZyrError "Unable to write to %s" when a write is refused,
    // keys written before stay written), then makes the autostart entry agree with RunAtStartup. Each
    // write replaces the file whole or leaves it as it was; a new file is readable by its owner alone.
    void SaveSettings();

    bool operator==(const TLiveSettings &Other) const = default;

private:
    QString fileName;
};
