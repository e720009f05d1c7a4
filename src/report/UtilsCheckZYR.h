#pragma once
#include "platform/Errors.h"
#include <cstdint>
#include <QList>
#include <QString>
#include <QStringList>

// Raised for an index outside a list; the message is "List index out of bounds (<index>)".
class EListError : public EZyrError
{
public:
    explicit EListError(int Index);
};

// One recording device of a status report.
struct TDevice
{
    QString SerialNo;
    int32_t State = 0; // 1: in alarm; 2: status-code device (channel value 4 is normal)
    int32_t Capacity = 0; // 0: the device shows no channels
    QString Channels; // channel values separated by ','
};

// The status report of an ordinary recording system: built from the report text, then only read.
// Fields a report lacks stay 0 or empty; DeviceCount is the header's figure, not the list's length.
class TGetDetails
{
public:
    int32_t DiskAlarm = 0;
    int32_t DeviceCount = 0;
    int32_t BackupDiskAlarm = 0;
    QString FreeDisk;
    QString FreeBackupDisk;
    QString ServerVersion;
    QList<TDevice> Devices;

    explicit TGetDetails(const QString &ReportText);

    TDevice GetDevice(int Index) const; // EListError outside Devices
    // Never raises: a missing device is logged (code 10005) and gives an empty text.
    QString ChannelStates(int Index) const;
    QString ChannelStatesHtml(int Index) const;
    bool HasAlarm() const;
    QString MailHtml() const;
    void TextLines(QStringList &Lines) const;
};

// A green, red or plain numbered box as the status mail draws it.
QString GreenBox(const QString &Text);
QString RedBox(const QString &Text);
