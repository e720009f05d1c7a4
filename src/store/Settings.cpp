#include "store/Settings.h"
#include "platform/SettingRules.h"
#include "platform/Version.h"
#include "store/AppUtils.h"
#include "store/Profile.h"
#include <climits>
#include <variant>

namespace {

enum class TKind
{
    Integer, // decimal on writing; the shared integer rule on reading
    Boolean, // written 1 or 0; any non-zero integer reads as true
    Flag, // written 1 or 0; only an exact 1 reads as true
    Text, // written without leading and trailing blanks
    Ticks, // the ticked addresses of the list, joined by ","
    Keys, // the whole section: one key per address, each with an empty value
};

using TField = std::variant<int TLiveSettings::*, bool TLiveSettings::*, QString TLiveSettings::*,
    TCheckList TLiveSettings::*>;

struct TKey
{
    const char *Section;
    const char *Name;
    TKind Kind;
    TField Field;
    int Default = 0; // integers, and booleans and flags as 1 or 0; texts and lists start empty
    // An integer read outside the range gives the default.
    int Min = INT_MIN;
    int Max = INT_MAX;
    bool Written = true;
    // Written only once it differs from the default or the file holds it: files of users who never touch
    // it stay as they were.
    bool WrittenWhenSet = false;
};

// Every key, in the order SaveSettings writes them. LoadSettings reads the address list first, since the
// ticks of To name its items, then the others in this order.
const TKey kKeys[] = {
    {"General", "Period", TKind::Integer, &TLiveSettings::Period, 0, kPeriodMin},
    {"General", "RunAtStartup", TKind::Boolean, &TLiveSettings::RunAtStartup, 1},
    {"General", "ShowMainOnStart", TKind::Boolean, &TLiveSettings::ShowMainOnStart, 1},
    {"General", "CheckOnStart", TKind::Boolean, &TLiveSettings::CheckOnStart, 1},
    {"Smtp", "Host", TKind::Text, &TLiveSettings::Host},
    {"Smtp", "Username", TKind::Text, &TLiveSettings::Username},
    {"Smtp", "Password", TKind::Text, &TLiveSettings::Password},
    {"Smtp", "Port", TKind::Integer, &TLiveSettings::Port, 25},
    {"Smtp", "AuthType", TKind::Flag, &TLiveSettings::AuthType, 1},
    {"Smtp", "SSL", TKind::Flag, &TLiveSettings::SSL, 0},
    {"Smtp", "From", TKind::Text, &TLiveSettings::From},
    {"Smtp", "To", TKind::Ticks, &TLiveSettings::Emails},
    // The choice has three items; a value the program never writes selects the default.
    {"General", "MailAfterCtrl", TKind::Integer, &TLiveSettings::MailAfterCtrl, 1, 0, 2},
    {"General", "BeepAlarm", TKind::Boolean, &TLiveSettings::BeepAlarm, 1},
    {"General", "DesktopNotify", TKind::Boolean, &TLiveSettings::DesktopNotify, 1},
    {"General", "HistoryDays", TKind::Integer, &TLiveSettings::HistoryDays, kHistoryDaysDefault,
        kHistoryDaysMin, kHistoryDaysMax},
    {"General", "AlarmAfter", TKind::Integer, &TLiveSettings::AlarmAfter, kAlarmAfterDefault, kAlarmAfterMin,
        kAlarmAfterMax, true, true},
    {"General", "RetryInterval", TKind::Integer, &TLiveSettings::RetryInterval, kRetryIntervalDefault,
        kRetryIntervalMin, kRetryIntervalMax, true, true},
    // Only a hand edit of the file sets it.
    {"General", "TimeOut", TKind::Integer, &TLiveSettings::TimeOut, kDefaultTimeOut, kTimeOutMin, INT_MAX,
        false},
    {"Emails", "", TKind::Keys, &TLiveSettings::Emails},
};

template <class T> T &FieldOf(TLiveSettings &Settings, const TKey &Key)
{
    return Settings.*std::get<T TLiveSettings::*>(Key.Field);
}

template <class T> const T &FieldOf(const TLiveSettings &Settings, const TKey &Key)
{
    return Settings.*std::get<T TLiveSettings::*>(Key.Field);
}

QString Text(const char *Name)
{
    return QString::fromLatin1(Name);
}

} // namespace

TLiveSettings::TLiveSettings(const QString &Folder)
{
    QString folder = Folder.isEmpty() ? ProgramFolder() : Folder;
    if (!folder.isEmpty() && !folder.endsWith(QLatin1Char('/')))
        folder += QLatin1Char('/');
    fileName = folder + QString::fromUtf8(kApplicationTitle) + QStringLiteral(".ini");

    for (const TKey &key : kKeys) {
        switch (key.Kind) {
        case TKind::Integer:
            FieldOf<int>(*this, key) = key.Default;
            break;
        case TKind::Boolean:
        case TKind::Flag:
            FieldOf<bool>(*this, key) = key.Default != 0;
            break;
        case TKind::Text:
            FieldOf<QString>(*this, key).clear();
            break;
        case TKind::Ticks:
        case TKind::Keys:
            break;
        }
    }
}

QString TLiveSettings::To() const
{
    return GetCheckedList(Emails);
}

void TLiveSettings::LoadSettings()
{
    const TProfile ini(fileName);
    for (const TKey &key : kKeys) {
        if (key.Kind != TKind::Keys)
            continue;
        TCheckList &list = FieldOf<TCheckList>(*this, key);
        list.Clear();
        for (const QString &name : ini.ReadKeys(Text(key.Section)))
            list.Add(name);
    }
    for (const TKey &key : kKeys) {
        const QString section = Text(key.Section);
        const QString name = Text(key.Name);
        switch (key.Kind) {
        case TKind::Integer: {
            const int value = ini.ReadInteger(section, name, key.Default);
            FieldOf<int>(*this, key) = value >= key.Min && value <= key.Max ? value : key.Default;
            break;
        }
        case TKind::Boolean:
            FieldOf<bool>(*this, key) = ini.ReadBool(section, name, key.Default != 0);
            break;
        case TKind::Flag:
            FieldOf<bool>(*this, key) = IntToBool(ini.ReadInteger(section, name, key.Default));
            break;
        case TKind::Text:
            FieldOf<QString>(*this, key) = ini.ReadString(section, name);
            break;
        case TKind::Ticks:
            SetCheckedList(FieldOf<TCheckList>(*this, key), ini.ReadString(section, name));
            break;
        case TKind::Keys:
            break;
        }
    }
}

void TLiveSettings::SaveSettings()
{
    TProfile ini(fileName);
    for (const TKey &key : kKeys) {
        if (!key.Written)
            continue;
        const QString section = Text(key.Section);
        const QString name = Text(key.Name);
        if (key.WrittenWhenSet && FieldOf<int>(*this, key) == key.Default
            && ini.ReadString(section, name, QStringLiteral("<unset>")) == QStringLiteral("<unset>"))
            continue;
        switch (key.Kind) {
        case TKind::Integer:
            ini.WriteInteger(section, name, FieldOf<int>(*this, key));
            break;
        case TKind::Boolean:
        case TKind::Flag:
            ini.WriteInteger(section, name, BoolToInt(FieldOf<bool>(*this, key)));
            break;
        case TKind::Text:
            ini.WriteString(section, name, TrimBlanks(FieldOf<QString>(*this, key)));
            break;
        case TKind::Ticks:
            ini.WriteString(section, name, GetCheckedList(FieldOf<TCheckList>(*this, key)));
            break;
        case TKind::Keys: {
            QList<QPair<QString, QString>> keys;
            for (const QString &item : FieldOf<TCheckList>(*this, key).Items())
                keys.append({item, QString()});
            ini.ReplaceSection(section, keys);
            break;
        }
        }
    }

    if (RunAtStartup)
        CreateStartupShortcut(GetCaption());
    else
        RemoveStartupShortcut(GetCaption());
}
