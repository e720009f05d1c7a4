#pragma once
#include "store/CheckList.h"
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

// The live settings: the fields the settings dialog edits, read by every other part at the moment
// of use. No widgets here; the dialog binds its controls to these fields and a cancelled dialog
// leaves its edits in force until the next LoadSettings.
class TLiveSettings
{
public:
    // Folder of the settings file, with or without a trailing '/'; empty means the program's own folder.
    explicit TLiveSettings(const QString &Folder = QString());

    // Dialog fields, named after their controls.
    bool cbPerCtrl = false;
    QString edtPeriod = QStringLiteral("1");
    bool cbRunAtStartup = true;
    bool cbShowOnStartup = true;
    bool cbCheckOnStartup = true;
    int cbAfterCtrl = 1; // 0 after every check, 1 only on alarm, 2 never
    bool cbBeep = true;
    bool cbDesktopNotify = true;
    QString edtHost;
    QString edtUsername;
    QString edtPassword;
    QString edtPort = QStringLiteral("25");
    bool cbAuth = true;
    bool cbSSL = false;
    QString edtFrom;
    TCheckList clbEmails;

    // Working fields of the mail code; never stored.
    QString MailSubject;
    QStringList MailBody;
    QStringList MailSummary;

    // Readers, each by its key name.
    int Period() const; // 0 when periodic checking is off or the period text is no integer
    bool RunAtStartup() const { return cbRunAtStartup; }
    bool ShowMainOnStart() const { return cbShowOnStartup; }
    bool CheckOnStart() const { return cbCheckOnStartup; }
    int MailAfterCtrl() const { return cbAfterCtrl; }
    bool BeepAlarm() const { return cbBeep; }
    bool DesktopNotify() const { return cbDesktopNotify; }
    int TimeOut() const { return timeOut; }
    // Text fields without leading and trailing blanks.
    QString Host() const;
    QString Username() const;
    QString Password() const;
    QString From() const;
    int Port() const; // 25 when the port text is empty or no integer
    int AuthType() const;
    int SSL() const;
    QString To() const; // ticked addresses joined by "," in list order

    // The integer in edtPeriod, or nothing when its text is blank or no integer (the dialog's Save check).
    std::optional<int> PeriodValue() const;

    // Only the settings file sets it; tests and tools may override it.
    void SetTimeOut(int Value) { timeOut = Value; }

    QString FileName() const { return fileName; }

    // Reads the file into the fields; missing keys and values that are no integers give the defaults.
    // Raises OnLoaded afterwards so that a shown dialog can refresh its controls.
    void LoadSettings();
    // Writes the fields to the file (raises EZyrError "Unable to write to %s" when a write is refused,
    // keys written before stay written), then makes the autostart entry agree with RunAtStartup. Each
    // write replaces the file whole or leaves it as it was; a new file is readable by its owner alone.
    void SaveSettings();

    std::function<void()> OnLoaded;

private:
    QString fileName;
    int timeOut = 5000;
};
