#include "zyrcheck/ZyrCheck.h"

#include "engine/Verdict.h"
#include "platform/Errors.h"
#include "platform/Format.h"
#include "report/PlusDetails.h"
#include "report/UtilsCheckZYR.h"

#include <cctype>
#include <charconv>
#include <chrono>

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
    if (Response.ProbeState == psReport) {
        if (Plus)
            ReadPlus(Response.ReportText, result);
        else
            ReadOrdinary(Response.ReportText, result);
    }
    try {
        const TReportVerdict verdict = WriteResultState(
            Response.ProbeState, [&] { return ReadReportVerdict(Response.ReportText, Plus); },
            [&] { return double(result.Expected); }, [&](int State) { result.State = State; });
        result.DeviceCount = verdict.DeviceCount;
        result.HasAlarm = verdict.HasAlarm;
    } catch (const EZyrError &) {
        // A header announcing more devices than listed, with no alarm before the missing one: the state
        // written last, 3, stands, as in the console.
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
    // digits [(.|,) digits] [blanks] [K|M|G|T|P [i]] B, blanks around
    const std::string text = Text.trimmed().toStdString();
    size_t i = 0;
    auto digits = [&](size_t most) {
        const size_t from = i;
        while (i < text.size() && i - from < most && text[i] >= '0' && text[i] <= '9')
            ++i;
        return i - from;
    };
    std::string number;
    if (digits(15) == 0)
        return std::nullopt;
    number = text.substr(0, i);
    if (i < text.size() && (text[i] == '.' || text[i] == ',')) {
        const size_t point = i++;
        if (digits(9) == 0)
            return std::nullopt;
        number += '.';
        number.append(text, point + 1, i - point - 1);
    }
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
        ++i;
    double scale = 1;
    static const std::string prefixes = "KMGTP";
    if (i < text.size()) {
        const size_t prefix = prefixes.find(char(toupper(static_cast<unsigned char>(text[i]))));
        if (prefix != std::string::npos) {
            for (size_t p = 0; p <= prefix; ++p)
                scale *= 1024;
            ++i;
            if (i < text.size() && (text[i] == 'i' || text[i] == 'I'))
                ++i;
        }
    }
    if (i + 1 != text.size() || (text[i] != 'B' && text[i] != 'b'))
        return std::nullopt;
    double value = 0;
    const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value);
    if (error != std::errc() || end != number.data() + number.size())
        return std::nullopt;
    return value * scale;
}

bool IsValidTarget(const QString &Target)
{
    const qsizetype colon = Target.indexOf(u':');
    const QString host = colon < 0 ? Target : Target.left(colon);
    if (host.isEmpty() || host.size() > 253)
        return false;
    // Labels of letters, digits and inner hyphens, 1 to 63 long, joined by dots.
    for (const QString &label : host.split(u'.')) {
        if (label.isEmpty() || label.size() > 63 || label.startsWith(u'-') || label.endsWith(u'-'))
            return false;
        for (const QChar c : label)
            if (!(c.unicode() < 128 && (isalnum(c.unicode()) || c == u'-')))
                return false;
    }
    if (colon < 0)
        return true;
    const QString port = Target.mid(colon + 1);
    if (port.isEmpty() || port.size() > 5 || port.front() == u'0')
        return false;
    for (const QChar c : port)
        if (c < u'0' || c > u'9')
            return false;
    return port.toInt() <= 65535;
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
