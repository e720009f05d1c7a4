#include "store/Settings.h"
#include "platform/Version.h"
#include "platform/Integers.h"
#include "store/AppUtils.h"
#include "store/Profile.h"

namespace {
const QString General = QStringLiteral("General");
const QString Smtp = QStringLiteral("Smtp");
const QString Emails = QStringLiteral("Emails");
} // namespace

TLiveSettings::TLiveSettings(const QString &Folder)
{
    QString folder = Folder.isEmpty() ? ProgramFolder() : Folder;
    if (!folder.isEmpty() && !folder.endsWith(QLatin1Char('/')))
        folder += QLatin1Char('/');
    fileName = folder + QString::fromUtf8(kApplicationTitle) + QStringLiteral(".ini");
}

std::optional<int> TLiveSettings::PeriodValue() const
{
    const QString text = TrimBlanks(edtPeriod);
    int32_t value = 0;
    if (text.isEmpty() || !ReadInteger(text, value))
        return std::nullopt;
    return value;
}

int TLiveSettings::Period() const
{
    if (!cbPerCtrl)
        return 0;
    return PeriodValue().value_or(0);
}

QString TLiveSettings::Host() const
{
    return TrimBlanks(edtHost);
}

QString TLiveSettings::Username() const
{
    return TrimBlanks(edtUsername);
}

QString TLiveSettings::Password() const
{
    return TrimBlanks(edtPassword);
}

QString TLiveSettings::From() const
{
    return TrimBlanks(edtFrom);
}

int TLiveSettings::Port() const
{
    return ReadIntegerDef(TrimBlanks(edtPort), 25);
}

int TLiveSettings::AuthType() const
{
    return BoolToInt(cbAuth);
}

int TLiveSettings::SSL() const
{
    return BoolToInt(cbSSL);
}

QString TLiveSettings::To() const
{
    return GetCheckedList(clbEmails);
}

void TLiveSettings::LoadSettings()
{
    const TProfile ini(fileName);
    clbEmails.BeginUpdate();
    clbEmails.Clear();
    for (const QString &address : ini.ReadKeys(Emails))
        clbEmails.Add(address);

    const int period = ini.ReadInteger(General, QStringLiteral("Period"), 0);
    if (period > 0)
        edtPeriod = QString::number(period);
    cbPerCtrl = period > 0;
    cbRunAtStartup = ini.ReadBool(General, QStringLiteral("RunAtStartup"), true);
    cbShowOnStartup = ini.ReadBool(General, QStringLiteral("ShowMainOnStart"), true);
    cbCheckOnStartup = ini.ReadBool(General, QStringLiteral("CheckOnStart"), true);
    edtHost = ini.ReadString(Smtp, QStringLiteral("Host"));
    edtUsername = ini.ReadString(Smtp, QStringLiteral("Username"));
    edtPassword = ini.ReadString(Smtp, QStringLiteral("Password"));
    edtPort = QString::number(ini.ReadInteger(Smtp, QStringLiteral("Port"), 25));
    cbAuth = IntToBool(ini.ReadInteger(Smtp, QStringLiteral("AuthType"), 1));
    cbSSL = IntToBool(ini.ReadInteger(Smtp, QStringLiteral("SSL"), 0));
    edtFrom = ini.ReadString(Smtp, QStringLiteral("From"));
    SetCheckedList(clbEmails, ini.ReadString(Smtp, QStringLiteral("To")));
    // The choice has three items; a value the program never writes selects the default.
    const int afterCtrl = ini.ReadInteger(General, QStringLiteral("MailAfterCtrl"), 1);
    cbAfterCtrl = afterCtrl >= 0 && afterCtrl <= 2 ? afterCtrl : 1;
    cbBeep = ini.ReadBool(General, QStringLiteral("BeepAlarm"), true);
    cbDesktopNotify = ini.ReadBool(General, QStringLiteral("DesktopNotify"), true);
    timeOut = ini.ReadInteger(General, QStringLiteral("TimeOut"), 5000);
    clbEmails.EndUpdate();

    if (OnLoaded)
        OnLoaded();
}

void TLiveSettings::SaveSettings()
{
    TProfile ini(fileName);
    ini.WriteInteger(General, QStringLiteral("Period"), Period());
    ini.WriteInteger(General, QStringLiteral("RunAtStartup"), BoolToInt(RunAtStartup()));
    ini.WriteInteger(General, QStringLiteral("ShowMainOnStart"), BoolToInt(ShowMainOnStart()));
    ini.WriteInteger(General, QStringLiteral("CheckOnStart"), BoolToInt(CheckOnStart()));

    ini.WriteString(Smtp, QStringLiteral("Host"), Host());
    ini.WriteString(Smtp, QStringLiteral("Username"), Username());
    ini.WriteString(Smtp, QStringLiteral("Password"), Password());
    ini.WriteInteger(Smtp, QStringLiteral("Port"), Port());
    ini.WriteInteger(Smtp, QStringLiteral("AuthType"), AuthType());
    ini.WriteInteger(Smtp, QStringLiteral("SSL"), SSL());
    ini.WriteString(Smtp, QStringLiteral("From"), From());
    ini.WriteString(Smtp, QStringLiteral("To"), To());

    ini.WriteInteger(General, QStringLiteral("MailAfterCtrl"), MailAfterCtrl());
    ini.WriteInteger(General, QStringLiteral("BeepAlarm"), BoolToInt(BeepAlarm()));
    ini.WriteInteger(General, QStringLiteral("DesktopNotify"), BoolToInt(DesktopNotify()));

    QList<QPair<QString, QString>> addresses;
    for (const QString &address : clbEmails.Items())
        addresses.append({address, QString()});
    ini.ReplaceSection(Emails, addresses);

    if (RunAtStartup())
        CreateStartupShortcut(GetCaption());
    else
        RemoveStartupShortcut(GetCaption());
}
