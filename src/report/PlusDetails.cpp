#include "report/PlusDetails.h"
#include "platform/Format.h"
#include "report/Json.h"
#include "report/UtilsCheckZYR.h"

TGetPlusDetails::TGetPlusDetails(const QString &Text)
{
    Clear();
    try {
        const IJsonObject top = ParseObject(Text);
        ServerName = top->MemberText(u"ServerName"_qs);
        ServerIp = top->MemberText(u"ServerIp"_qs);
        const IJsonArray devices = top->MemberArray(u"Devices"_qs);
        if (devices->IsEmpty())
            return;
        Devices.resize(devices->Count());
        for (int i = 0; i < devices->Count(); ++i) {
            const IJsonObject d = devices->ItemObject(i);
            TPlusDevice &device = Devices[i];
            device.Serial = d->MemberText(u"Serial"_qs);
            // Integers arrive as 64 bits and keep their low bits in the narrower fields.
            device.Frekans = int32_t(uint32_t(d->MemberInteger(u"Frekans"_qs)));
            device.Bit = int32_t(uint32_t(d->MemberInteger(u"Bit"_qs)));
            device.Bloke = d->MemberBoolean(u"Bloke"_qs);
            device.ChannelCount = int32_t(uint32_t(d->MemberInteger(u"ChannelCount"_qs)));
            device.Firmware = d->MemberText(u"Firmware"_qs);
            device.DeviceType = uint8_t(d->MemberInteger(u"DeviceType"_qs));
            device.AudioCodec = uint8_t(d->MemberInteger(u"AudioCodec"_qs));
            device.HasAlarm = false;
            const IJsonArray channels = d->MemberArray(u"Channels"_qs);
            if (!channels->IsEmpty()) {
                device.Channels.resize(channels->Count());
                for (int j = 0; j < channels->Count(); ++j) {
                    const IJsonObject c = channels->ItemObject(j);
                    TPlusChannel &channel = device.Channels[j];
                    channel.Caption = c->MemberText(u"caption"_qs);
                    channel.ChannelStatus = c->MemberBoolean(u"ChannelStatus"_qs);
                    channel.LineStatus = c->MemberBoolean(u"LineStatus"_qs);
                    channel.RecordMethod = uint8_t(c->MemberInteger(u"RecordMethod"_qs));
                    if (!device.HasAlarm)
                        device.HasAlarm = IsChannelAlarm(channel);
                    channel.Radio = c->MemberBoolean(u"Radio"_qs);
                    channel.Index = int32_t(uint32_t(c->MemberInteger(u"Index"_qs)));
                }
            }
            if (device.HasAlarm)
                HasAlarm = true;
        }
    } catch (const EZyrError &) {
        Clear();
    }
}

void TGetPlusDetails::Clear()
{
    ServerName.clear();
    ServerIp.clear();
    Devices.clear();
    HasAlarm = false;
}

bool TGetPlusDetails::IsChannelAlarm(const TPlusChannel &Channel)
{
    return !Channel.LineStatus && Channel.RecordMethod != 0;
}

TPlusDevice TGetPlusDetails::GetDevice(int Index) const
{
    return Index >= 0 && Index < Devices.size() ? Devices[Index] : TPlusDevice();
}

QString TGetPlusDetails::ChannelStates(int Index) const
{
    if (Index < 0 || Index >= Devices.size())
        return QString();
    QStringList digits;
    for (const TPlusChannel &channel : Devices[Index].Channels)
        digits << (channel.RecordMethod == 0 ? u"2"_qs : IsChannelAlarm(channel) ? u"1"_qs : u"0"_qs);
    return digits.join(u',');
}

QString TGetPlusDetails::MailHtml() const
{
    if (Devices.isEmpty())
        return QString();
    QString html = u"<tr><td colspan=\"4\" style=\"border-bottom: none;\"></td></tr>"_qs;
    for (qsizetype i = 0; i < Devices.size(); ++i) {
        const TPlusDevice &device = Devices[i];
        // The serial is the remote system's text: escaped so it cannot inject markup into the mail.
        const QString heading = Format("%s / %d", device.Serial.toHtmlEscaped(), device.ChannelCount);
        QString boxes;
        for (qsizetype j = 0; j < device.Channels.size(); ++j) {
            const TPlusChannel &channel = device.Channels[j];
            const QString number = QString::number(j + 1);
            if (channel.RecordMethod == 0)
                boxes += number + u"&nbsp;"_qs;
            else if (IsChannelAlarm(channel))
                boxes += RedBox(number);
            else
                boxes += GreenBox(number);
        }
        if (i == Devices.size() - 1)
            html += Format("<tr><td style=\"border-top: none\" colspan=\"4\">&nbsp;&nbsp;&nbsp;&nbsp;"
                           "Aygıt SeriNo/Kapasite = %s&nbsp;&nbsp;&nbsp;%s&nbsp;&nbsp;</td></tr>",
                heading, boxes);
        else
            html += Format("<tr><td style=\"border-bottom: none; border-top: none\" colspan=\"4\">"
                           "&nbsp;&nbsp;&nbsp;&nbsp;Aygıt SeriNo/Kapasite = %s&nbsp;&nbsp;&nbsp;%s"
                           "&nbsp;&nbsp;</td></tr>",
                heading, boxes);
    }
    return html;
}
