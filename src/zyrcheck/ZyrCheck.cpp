#include "zyrcheck/ZyrCheck.h"

#include "engine/Verdict.h"
#include "platform/Errors.h"
#include "platform/Format.h"
#include "report/PlusDetails.h"
#include "report/UtilsCheckZYR.h"

#include <chrono>
#include <QRegularExpression>

namespace {

QList<bool> ChannelAlarms(const QString &States)
{
    QList<bool> alarms;
    if (States.isEmpty())
        return alarms;
    // The verdict finds an alarm wherever a '1' stands in the states ("12" included).
    for (const QString &item : States.split(u','))
        alarms.append(item.contains(u'1'));
    return alarms;
}

void ReadOrdinary(const QString &Report, TZyrResult &Result)
{
    const TGetDetails details(Report);
    Result.ServerVersion = details.ServerVersion;
    Result.FreeDisk = details.FreeDisk;
    Result.FreeBackupDisk = details.FreeBackupDisk;
    Result.DiskAlarm = details.DiskAlarm;
    Result.BackupDiskAlarm = details.BackupDiskAlarm;
    Result.FreeDiskBytes = ParseDiskSpace(details.FreeDisk);
    Result.FreeBackupDiskBytes = ParseDiskSpace(details.FreeBackupDisk);
    Result.Rows.append({Format("Sunucu versiyon %s", details.ServerVersion), QString(), QString()});
    Result.Rows.append(
        {Format("Kalan Disk Alanı %s", details.FreeDisk), QString::number(details.DiskAlarm), QString()});
    Result.Rows.append({Format("Kalan Yedekleme Disk Alanı %s", details.FreeBackupDisk),
        QString::number(details.BackupDiskAlarm), QString()});
    // Walked by the header's count like the details window, which stops at the first missing device.
    try {
        for (int i = 0; i < details.DeviceCount; ++i) {
            const TDevice device = details.GetDevice(i);
            const bool red = device.State == 2 ? device.Capacity == 0 : device.State == 1;
            const QString states = details.ChannelStates(i);
            Result.Rows.append({Format("Aygıt SeriNo/Kapasite %s / %d", device.SerialNo, device.Capacity),
                red ? u"1"_qs : u"0"_qs, states});
            Result.Devices.append({device.SerialNo, red, ChannelAlarms(states)});
        }
    } catch (const EZyrError &) {
    }
}

void ReadPlus(const QString &Report, TZyrResult &Result)
{
    const TGetPlusDetails details(Report);
    Result.ServerName = details.ServerName;
    Result.ServerIp = details.ServerIp;
    Result.Rows.append({Format("%s(%s)", details.ServerName, details.ServerIp), QString(), QString()});
    for (int i = 0; i < details.DeviceCount(); ++i) {
        const TPlusDevice device = details.GetDevice(i);
        const QString states = details.ChannelStates(i);
        Result.Rows.append({Format("Aygıt SeriNo/Kapasite %s / %d", device.Serial, device.ChannelCount),
            device.HasAlarm ? u"1"_qs : u"0"_qs, states});
        Result.Devices.append({device.Serial, device.HasAlarm, ChannelAlarms(states)});
    }
}

} // namespace

int TZyrResult::ChannelsInAlarm() const
{
    int count = 0;
    for (const TZyrDevice &device : Devices)
        for (const bool alarm : device.ChannelAlarms)
            count += alarm ? 1 : 0;
    return count;
}

int TZyrResult::DevicesInAlarm() const
{
    int count = 0;
    for (const TZyrDevice &device : Devices)
        count += device.Alarm ? 1 : 0;
    return count;
}

TZyrResult JudgeCheck(const TThResponse &Response, bool Plus, int Expected, double Seconds)
{
    TZyrResult result;
    result.ProbeState = Response.ProbeState;
    result.Plus = Plus;
    result.Expected = Expected > 0 ? Expected : 0;
    result.Seconds = Seconds;
    result.State = Response.ProbeState;
    if (Response.ProbeState != psReport)
        return result;
    if (Plus)
        ReadPlus(Response.ReportText, result);
    else
        ReadOrdinary(Response.ReportText, result);
    try {
        const TReportVerdict verdict = ReadReportVerdict(Response.ReportText, Plus);
        result.DeviceCount = verdict.DeviceCount;
        result.HasAlarm = verdict.HasAlarm;
        result.State = VerdictState(Response.ProbeState, verdict, result.Expected);
    } catch (const EZyrError &) {
        // A header announcing more devices than listed, with no alarm before the missing one: the console
        // keeps the state it had written, 3, and so do we.
        const TGetDetails details(Response.ReportText);
        result.DeviceCount = details.DeviceCount;
    }
    return result;
}

TZyrResult ZyrCheck(const QString &Target, bool Plus, int Expected, int32_t TimeOut)
{
    const auto start = std::chrono::steady_clock::now();
    const TThResponse response = RunCheck(Target, TimeOut, Plus);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    return JudgeCheck(response, Plus, Expected, took.count());
}

std::optional<double> ParseDiskSpace(const QString &Text)
{
    static const QRegularExpression pattern(
        QStringLiteral("^\\s*(\\d{1,15}(?:[.,]\\d{1,9})?)\\s*([KMGTP]?)(i?)B\\s*$"),
        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = pattern.match(Text);
    if (!match.hasMatch())
        return std::nullopt;
    QString number = match.captured(1);
    number.replace(u',', u'.');
    bool ok = false;
    double value = number.toDouble(&ok);
    if (!ok)
        return std::nullopt;
    const QString prefix = match.captured(2).toUpper();
    for (const QChar unit : u"KMGTP"_qs) {
        if (prefix.isEmpty())
            break;
        value *= 1024.0;
        if (unit == prefix.front())
            break;
    }
    return value;
}

bool IsValidTarget(const QString &Target)
{
    // Host name labels or a dotted address, then an optional decimal port.
    static const QRegularExpression pattern(
        QStringLiteral("^(?=[A-Za-z0-9.-]{1,253}(?::|\\z))[A-Za-z0-9](?:[A-Za-z0-9-]{0,61}[A-Za-z0-9])?"
                       "(?:\\.[A-Za-z0-9](?:[A-Za-z0-9-]{0,61}[A-Za-z0-9])?)*(?::([1-9][0-9]{0,4}))?\\z"));
    const QRegularExpressionMatch match = pattern.match(Target);
    if (!match.hasMatch())
        return false;
    return !match.hasCaptured(1) || match.captured(1).toInt() <= 65535;
}

bool ReadWholeNumber(const std::string &Text, long Min, long Max, long &Value)
{
    if (Text.empty() || Text.size() > 9)
        return false;
    long v = 0;
    for (const char c : Text) {
        if (c < '0' || c > '9')
            return false;
        v = v * 10 + (c - '0');
    }
    if (v < Min || v > Max)
        return false;
    Value = v;
    return true;
}
