#pragma once
#include "probe/CheckThread.h"

#include <cstdint>
#include <optional>
#include <QList>
#include <QString>
#include <QStringList>
#include <string>

// One row of the details window as text: its description, its state cell ("0" green, "1" red, empty for
// no image) and its channel states.
struct TReportRow
{
    QString Description;
    QString State;
    QString Channels;
};

// A device as the details window shows it, with its channels judged the way the verdict judges them.
struct TZyrDevice
{
    QString Serial;
    bool Alarm = false; // the window's red dot
    QList<bool> ChannelAlarms; // by position, from 1
};

// A check of one system judged as the console judges it, with what the report says for metrics.
struct TZyrResult
{
    int ProbeState = psNoAnswer;
    int State = psNoAnswer; // 1 to 6
    double Seconds = 0;
    bool Plus = false;
    int Expected = 0;
    // Below only with a report (ProbeState 3).
    int DeviceCount = 0; // what the verdict compares: the header's figure, or the devices of a list
    bool HasAlarm = false;
    QString ServerVersion, ServerName, ServerIp;
    QString FreeDisk, FreeBackupDisk;
    int DiskAlarm = 0, BackupDiskAlarm = 0;
    std::optional<double> FreeDiskBytes, FreeBackupDiskBytes;
    QList<TZyrDevice> Devices; // the devices the window lists
    QList<TReportRow> Rows;

    bool HasReport() const { return ProbeState == psReport; }
    int ChannelsInAlarm() const;
    int DevicesInAlarm() const;
};

// Runs one check on the console's check runner (its probe, its TimeOut, its fixed waits), the calling
// thread waiting for it, and judges it with the console's verdict rules. Expected 0 or less is not
// compared. Raises EZyrError only when no result comes within the wait's bound (see RunCheck).
TZyrResult ZyrCheck(const QString &Target, bool Plus, int Expected, int32_t TimeOut);
// The judging half, for a probe already made.
TZyrResult JudgeCheck(const TThResponse &Response, bool Plus, int Expected, double Seconds);

// A free-space text such as "35.2 GB" in bytes; units are powers of 1,024, as Windows shows them. Nothing
// when the text is no number with a known unit.
std::optional<double> ParseDiskSpace(const QString &Text);

// An address a monitoring engine may hand over: a host name or dotted IPv4 address, optionally ':' and a
// decimal port 1 to 65535; nothing else (no blanks, no hexadecimal ports, no second colon).
bool IsValidTarget(const QString &Target);

// Decimal digits only (no sign, no blanks, at most 9 digits) within Min and Max.
bool ReadWholeNumber(const std::string &Text, long Min, long Max, long &Value);
