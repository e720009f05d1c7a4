#pragma once
#include <cstdint>
#include <QList>
#include <QString>

struct TPlusChannel
{
    QString Caption;
    bool ChannelStatus = false;
    bool LineStatus = false; // true: the channel's line is present
    uint8_t RecordMethod = 0; // 0: the channel is not recorded
    bool Radio = false;
    int32_t Index = 0;
};

struct TPlusDevice
{
    QString Serial;
    int32_t Frekans = 0;
    int32_t Bit = 0;
    bool Bloke = false;
    int32_t ChannelCount = 0;
    QString Firmware;
    uint8_t DeviceType = 0;
    uint8_t AudioCodec = 0;
    bool HasAlarm = false; // a channel of the device is in alarm
    QList<TPlusChannel> Channels;
};

// The device list of an extended system, read from the JSON text the device-list library returned.
// Any fault in the text leaves the whole report empty; nothing is logged.
class TGetPlusDetails
{
public:
    QString ServerName;
    QString ServerIp;
    QList<TPlusDevice> Devices;
    bool HasAlarm = false;

    explicit TGetPlusDetails(const QString &Text);

    void Clear();
    static bool IsChannelAlarm(const TPlusChannel &Channel);
    int DeviceCount() const { return int(Devices.size()); }
    TPlusDevice GetDevice(int Index) const; // an empty device outside 0 .. DeviceCount - 1
    QString ChannelStates(int Index) const;
    QString MailHtml() const;
};
