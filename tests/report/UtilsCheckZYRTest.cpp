#include "report/UtilsCheckZYR.h"
#include "platform/Logger.h"
#include <gtest/gtest.h>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

namespace {

// Builds a report text from a readable form: '<' and '>' open and close a group, '|' separates.
QString Report(const char *readable)
{
    QString s = QString::fromUtf8(readable);
    s.replace(u'<', QChar(5)).replace(u'>', QChar(6)).replace(u'|', QChar(4));
    return s;
}

const char *kWorkedExample
    = "<2|2.9.4|35.2 GB|0|120.0 GB|0>|<<A1B2C3|0|8|0,0,1,2,0,0,0,0>|<D4E5F6|2|30|4,3>>";

QString G(int n)
{
    return QString::fromUtf8("<font style=\"background-color: #00FF00\">%1</font>&nbsp;").arg(n);
}
QString R(const QString &s)
{
    return QString::fromUtf8("<font style=\"background-color: #FF0000\">%1</font>&nbsp;").arg(s);
}
QString R(int n)
{
    return R(QString::number(n));
}

const QString kDiskRow
    = QString::fromUtf8("<tr><td style=\"border-bottom: none;\" colspan=\"4\">"
                        "&nbsp;&nbsp;&nbsp;&nbsp;Kalan Disk Alanı %1&nbsp;&nbsp;</td></tr>");
const QString kBackupRow = QString::fromUtf8(
    "<tr><td style=\"border-bottom: none; border-top: none;\" colspan=\"4\">&nbsp;&nbsp;&nbsp;&nbsp;"
    "Kalan Yedekleme Disk Alanı %1&nbsp;&nbsp;</td></tr>");
const QString kDeviceRow = QString::fromUtf8(
    "<tr><td style=\"border-bottom: none; border-top: none\" colspan=\"4\">&nbsp;&nbsp;&nbsp;&nbsp;"
    "Aygıt SeriNo/Kapasite = %1&nbsp;&nbsp;&nbsp;%2&nbsp;&nbsp;</td></tr>");
const QString kLastDeviceRow = QString::fromUtf8("<tr><td style=\"border-top: none\" colspan=\"4\">"
                                                 "&nbsp;&nbsp;&nbsp;&nbsp;Aygıt SeriNo/Kapasite = "
                                                 "%1&nbsp;&nbsp;&nbsp;%2&nbsp;&nbsp;</td></tr>");

// Points the program-wide log at a file of a temporary folder for one test.
class LogCapture
{
public:
    LogCapture()
        : logger(dir.filePath(u"test.log"_qs))
    {
        Logger = &logger;
    }
    ~LogCapture() { Logger = nullptr; }
    QString Text() const
    {
        QFile f(dir.filePath(u"test.log"_qs));
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    }

private:
    QTemporaryDir dir;
    TLogger logger;
};

} // namespace

TEST(GetDetails, WorkedExample)
{
    const TGetDetails d(Report(kWorkedExample));
    EXPECT_EQ(d.DeviceCount, 2);
    EXPECT_EQ(d.ServerVersion, u"2.9.4"_qs);
    EXPECT_EQ(d.FreeDisk, u"35.2 GB"_qs);
    EXPECT_EQ(d.DiskAlarm, 0);
    EXPECT_EQ(d.FreeBackupDisk, u"120.0 GB"_qs);
    EXPECT_EQ(d.BackupDiskAlarm, 0);
    ASSERT_EQ(d.Devices.size(), 2);
    const TDevice a = d.GetDevice(0), b = d.GetDevice(1);
    EXPECT_EQ(a.SerialNo, u"A1B2C3"_qs);
    EXPECT_EQ(a.State, 0);
    EXPECT_EQ(a.Capacity, 8);
    EXPECT_EQ(a.Channels, u"0,0,1,2,0,0,0,0"_qs);
    EXPECT_EQ(b.SerialNo, u"D4E5F6"_qs);
    EXPECT_EQ(b.State, 2);
    EXPECT_EQ(b.Capacity, 30);
    EXPECT_EQ(b.Channels, u"4,3"_qs);

    EXPECT_EQ(d.ChannelStates(0), u"0,0,1,2,0,0,0,0"_qs);
    EXPECT_EQ(d.ChannelStates(1), u"0,1"_qs);
    EXPECT_TRUE(d.HasAlarm());

    const QString boxes0 = G(1) + G(2) + R(3) + u"4&nbsp;"_qs + G(5) + G(6) + G(7) + G(8);
    EXPECT_EQ(d.ChannelStatesHtml(0), boxes0);
    EXPECT_EQ(d.ChannelStatesHtml(1), G(1) + R(2));

    QStringList lines{u"önceki"_qs};
    d.TextLines(lines);
    EXPECT_EQ(lines,
        (QStringList{u"önceki"_qs, u"Sunucu versiyon 2.9.4"_qs, u"Kalan Disk Alanı 35.2 GB   0"_qs,
            u"Kalan Yedekleme Disk Alanı 120.0 GB   0"_qs,
            u"Aygıt SeriNo/Kapasite A1B2C3 / 8   0,0,1,2,0,0,0,0"_qs,
            u"Aygıt SeriNo/Kapasite D4E5F6 / 30   0,1"_qs}));

    EXPECT_EQ(d.MailHtml(),
        kDiskRow.arg(u"35.2 GB"_qs) + kBackupRow.arg(u"120.0 GB"_qs)
            + kDeviceRow.arg(u"A1B2C3 / 8"_qs, boxes0) + kLastDeviceRow.arg(u"D4E5F6 / 30"_qs, G(1) + R(2)));
}

TEST(GetDetails, MissingPartsKeepDefaults)
{
    const TGetDetails empty(QString{});
    EXPECT_EQ(empty.DeviceCount, 0);
    EXPECT_TRUE(empty.ServerVersion.isEmpty());
    EXPECT_TRUE(empty.Devices.isEmpty());
    EXPECT_FALSE(empty.HasAlarm());

    const TGetDetails header(Report("<3|1.0|5 GB|x|6 GB>"));
    EXPECT_EQ(header.DeviceCount, 3);
    EXPECT_EQ(header.ServerVersion, u"1.0"_qs);
    EXPECT_EQ(header.FreeDisk, u"5 GB"_qs);
    EXPECT_EQ(header.DiskAlarm, 0);
    EXPECT_EQ(header.FreeBackupDisk, u"6 GB"_qs);
    EXPECT_EQ(header.BackupDiskAlarm, 0);
    EXPECT_TRUE(header.Devices.isEmpty());

    // Fields past the grammar's are ignored; a device group of one field leaves the rest at defaults.
    const TGetDetails extra(Report("<1|v|a|0|b|0|extra>|<<S1|0|2|0,0|more>|<S2>>|ignored"));
    ASSERT_EQ(extra.Devices.size(), 2);
    EXPECT_EQ(extra.Devices[0].Channels, u"0,0"_qs);
    EXPECT_EQ(extra.Devices[1].SerialNo, u"S2"_qs);
    EXPECT_EQ(extra.Devices[1].Capacity, 0);
}

TEST(GetDetails, ChannelStatesByDeviceKind)
{
    struct Case
    {
        const char *device;
        const char *states;
        bool alarm;
    } cases[] = {
        {"S|0|3|0,1,0,1,1", "0,1,0", true},
        {"S|0|10|0,1,0,1,1", "0,1,0,1,1", true},
        {"S|0|-1|0,0,2", "0,0,2", false},
        {"S|0|0|1,1,1", "", false},
        {"S|2|60|4,4,4,5", "0,0,0,1", true},
        {"S|2|60|4,4,4,4", "0,0,0,0", false},
        {"S|2|30|4", "0,1", true},
        {"S|2|30|4,4,1,1", "0,0", false},
        {"S|2|0|1,1", "", false}, // a status-code device without channels is no alarm here
        {"S|0|4|0,12,0", "0,12,0", true}, // "12" holds the character '1'
        {"S|1|2|0,0", "0,0", true},
    };
    for (const auto &c : cases) {
        const TGetDetails d(Report("<1|v|a|0|b|0>|<<") + Report(c.device) + Report(">>"));
        EXPECT_EQ(d.ChannelStates(0), QString::fromUtf8(c.states)) << c.device;
        EXPECT_EQ(d.HasAlarm(), c.alarm) << c.device;
    }
}

TEST(GetDetails, BoxesSkipUnknownValuesButKeepNumbering)
{
    const TGetDetails d(Report("<2|v|a|0|b|0>|<<S|0|4|0,12,x,1>|<T|0|0|0,1>>"));
    EXPECT_EQ(d.ChannelStatesHtml(0), G(1) + G(3) + R(4)); // "x" reads as 0, "12" draws nothing
    EXPECT_EQ(d.ChannelStatesHtml(1), QString());
}

TEST(GetDetails, DiskAlarmsAndRedHeadings)
{
    const TGetDetails d(Report("<2|v|1 GB|1|2 GB|2>|<<S1|1|4|>|<S2|2|0|>>"));
    EXPECT_TRUE(d.HasAlarm());
    EXPECT_EQ(d.MailHtml(),
        kDiskRow.arg(R(u"1 GB"_qs)) + kBackupRow.arg(u"2 GB"_qs) + kDeviceRow.arg(R(u"S1 / 4"_qs), QString())
            + kLastDeviceRow.arg(R(u"S2 / 0"_qs), QString()));

    const TGetDetails two(Report("<0|v|1 GB|2|2 GB|1>"));
    EXPECT_TRUE(two.HasAlarm());
    EXPECT_EQ(two.MailHtml(), kDiskRow.arg(u"1 GB"_qs) + kBackupRow.arg(R(u"2 GB"_qs)));

    const TGetDetails none(Report("<0|v|1 GB|2|2 GB|2>"));
    EXPECT_FALSE(none.HasAlarm());
}

TEST(GetDetails, NonPositiveDeviceCountRendersDisksOnly)
{
    for (const char *count : {"0", "-3"}) {
        const TGetDetails d(Report("<") + QString::fromUtf8(count) + Report("|v|a|0|b|0>|<<S|1|2|1,1>>"));
        EXPECT_EQ(d.MailHtml(), kDiskRow.arg(u"a"_qs) + kBackupRow.arg(u"b"_qs));
        QStringList lines;
        d.TextLines(lines);
        EXPECT_EQ(lines.size(), 3);
        EXPECT_FALSE(d.HasAlarm()); // the device beyond DeviceCount is ignored
    }
}

TEST(GetDetails, MissingDevicesRaiseTheListError)
{
    LogCapture log;
    const TGetDetails d(Report("<3|v|a|0|b|0>|<<S|0|2|0,0>>"));
    try {
        d.GetDevice(1);
        FAIL() << "no error";
    } catch (const EListError &e) {
        EXPECT_EQ(e.Message(), u"List index out of bounds (1)"_qs);
    }
    EXPECT_THROW(d.GetDevice(-1), EListError);
    EXPECT_THROW(d.HasAlarm(), EListError);
    EXPECT_THROW(d.MailHtml(), EListError);
    EXPECT_THROW(d.ChannelStatesHtml(2), EListError);
    QStringList lines;
    EXPECT_THROW(d.TextLines(lines), EListError);

    EXPECT_EQ(d.ChannelStates(2), QString());
    EXPECT_TRUE(
        log.Text().contains(u"Bir hata oluştu. Hata kodu: 10005. List index out of bounds (2)\r\n"_qs))
        << log.Text().toStdString();

    // An alarm before the missing index is found without raising.
    const TGetDetails alarm(Report("<3|v|a|0|b|0>|<<S|0|2|0,1>>"));
    EXPECT_TRUE(alarm.HasAlarm());
}

TEST(GetDetails, ReportTextsCannotInjectMarkupIntoTheMail)
{
    const TGetDetails plain(QChar(5) + u"1"_qs + QChar(4) + u"v"_qs + QChar(4) + u"<b>5 & 6"_qs + QChar(4)
        + u"1"_qs + QChar(4) + u"\"x\""_qs + QChar(4) + u"0"_qs + QChar(6) + QChar(4) + QChar(5) + QChar(5)
        + u"<i>S</i>"_qs + QChar(4) + u"0"_qs + QChar(4) + u"1"_qs + QChar(4) + u"0"_qs + QChar(6)
        + QChar(6));
    EXPECT_EQ(plain.FreeDisk, u"<b>5 & 6"_qs);
    EXPECT_EQ(plain.MailHtml(),
        kDiskRow.arg(R(u"&lt;b&gt;5 &amp; 6"_qs)) + kBackupRow.arg(u"&quot;x&quot;"_qs)
            + kLastDeviceRow.arg(u"&lt;i&gt;S&lt;/i&gt; / 1"_qs, G(1)));
    QStringList lines;
    plain.TextLines(lines);
    EXPECT_EQ(lines[1], u"Kalan Disk Alanı <b>5 & 6   1"_qs); // plain text stays as it came
}
