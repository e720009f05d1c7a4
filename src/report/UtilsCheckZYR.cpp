#include "report/UtilsCheckZYR.h"
#include "platform/Format.h"
#include "platform/ItemParser.h"
#include "platform/Logger.h"

namespace {

const QChar kSeparator(4);

constexpr int kChannelStatesErrorCode = 10005;

} // namespace

EListError::EListError(int Index)
    : EZyrError(Format("List index out of bounds (%d)", Index))
{
}

QString GreenBox(const QString &Text)
{
    return Format("<font style=\"background-color: #00FF00\">%s</font>&nbsp;", Text);
}

QString RedBox(const QString &Text)
{
    return Format("<font style=\"background-color: #FF0000\">%s</font>&nbsp;", Text);
}

TGetDetails::TGetDetails(const QString &ReportText)
{
    TItemParser report(ReportText, kSeparator);
    if (report.HasMore()) {
        TItemParser header(report.NextGroup(), kSeparator);
        DeviceCount = header.NextInt(0);
        ServerVersion = header.NextItem();
        FreeDisk = header.NextItem();
        DiskAlarm = header.NextInt(0);
        FreeBackupDisk = header.NextItem();
        BackupDiskAlarm = header.NextInt(0);
    }
    if (report.HasMore()) {
        TItemParser list(report.NextGroup(), kSeparator);
        while (list.HasMore()) {
            TItemParser fields(list.NextGroup(), kSeparator);
            TDevice device;
            device.SerialNo = fields.NextItem();
            device.State = fields.NextInt(0);
            device.Capacity = fields.NextInt(0);
            device.Channels = fields.NextItem();
            Devices.append(device);
        }
    }
}

TDevice TGetDetails::GetDevice(int Index) const
{
    if (Index < 0 || Index >= Devices.size())
        throw EListError(Index);
    return Devices[Index];
}

QString TGetDetails::ChannelStates(int Index) const
{
    try {
        const TDevice device = GetDevice(Index);
        if (device.Capacity == 0)
            return QString();
        TItemParser values(device.Channels, u',');
        QStringList states;
        if (device.State == 2) {
            const int count = device.Capacity == 60 ? 4 : 2;
            for (int i = 0; i < count; ++i)
                states << (values.NextInt(0) == 4 ? u"0"_qs : u"1"_qs);
        } else {
            for (int64_t taken = 0; values.HasMore() && (device.Capacity < 0 || taken < device.Capacity);
                 ++taken)
                states << values.NextItem();
        }
        return states.join(u',');
    } catch (const EZyrError &e) {
        LogError(kChannelStatesErrorCode, e.Message());
        return QString();
    }
}

QString TGetDetails::ChannelStatesHtml(int Index) const
{
    if (GetDevice(Index).Capacity == 0)
        return QString();
    TItemParser states(ChannelStates(Index), u',');
    QString html;
    for (int number = 1; states.HasMore(); ++number) {
        const QString text = QString::number(number);
        switch (states.NextInt(0)) {
        case 0:
            html += GreenBox(text);
            break;
        case 1:
            html += RedBox(text);
            break;
        case 2:
            html += text + u"&nbsp;"_qs;
            break;
        default:
            break;
        }
    }
    return html;
}

bool TGetDetails::HasAlarm() const
{
    if (DiskAlarm == 1 || BackupDiskAlarm == 1)
        return true;
    for (int i = 0; i < DeviceCount; ++i) {
        if (GetDevice(i).State == 1 || ChannelStates(i).contains(u'1'))
            return true;
    }
    return false;
}

QString TGetDetails::MailHtml() const
{
    // Report texts are the recording system's own: escaped so they cannot inject markup into the mail.
    const QString disk = FreeDisk.toHtmlEscaped();
    const QString backup = FreeBackupDisk.toHtmlEscaped();
    QString html = Format("<tr><td style=\"border-bottom: none;\" colspan=\"4\">&nbsp;&nbsp;&nbsp;&nbsp;"
                          "Kalan Disk Alanı %s&nbsp;&nbsp;</td></tr>",
        DiskAlarm == 1 ? RedBox(disk) : disk);
    html += Format("<tr><td style=\"border-bottom: none; border-top: none;\" colspan=\"4\">"
                   "&nbsp;&nbsp;&nbsp;&nbsp;Kalan Yedekleme Disk Alanı %s&nbsp;&nbsp;</td></tr>",
        BackupDiskAlarm == 1 ? RedBox(backup) : backup);
    for (int i = 0; i < DeviceCount; ++i) {
        const TDevice device = GetDevice(i);
        QString heading = Format("%s / %d", device.SerialNo.toHtmlEscaped(), device.Capacity);
        if (device.State == 1 || (device.State == 2 && device.Capacity == 0))
            heading = RedBox(heading);
        if (i == DeviceCount - 1)
            html += Format("<tr><td style=\"border-top: none\" colspan=\"4\">&nbsp;&nbsp;&nbsp;&nbsp;"
                           "Aygıt SeriNo/Kapasite = %s&nbsp;&nbsp;&nbsp;%s&nbsp;&nbsp;</td></tr>",
                heading, ChannelStatesHtml(i));
        else
            html += Format("<tr><td style=\"border-bottom: none; border-top: none\" colspan=\"4\">"
                           "&nbsp;&nbsp;&nbsp;&nbsp;Aygıt SeriNo/Kapasite = %s&nbsp;&nbsp;&nbsp;%s"
                           "&nbsp;&nbsp;</td></tr>",
                heading, ChannelStatesHtml(i));
    }
    return html;
}

void TGetDetails::TextLines(QStringList &Lines) const
{
    Lines << Format("Sunucu versiyon %s", ServerVersion);
    Lines << Format("Kalan Disk Alanı %s   %d", FreeDisk, DiskAlarm);
    Lines << Format("Kalan Yedekleme Disk Alanı %s   %d", FreeBackupDisk, BackupDiskAlarm);
    for (int i = 0; i < DeviceCount; ++i) {
        const TDevice device = GetDevice(i);
        Lines << Format(
            "Aygıt SeriNo/Kapasite %s / %d   %s", device.SerialNo, device.Capacity, ChannelStates(i));
    }
}
