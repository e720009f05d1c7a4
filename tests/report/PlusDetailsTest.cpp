#include "report/PlusDetails.h"
#include "platform/Charset.h"
#include "report/Json.h"
#include <gtest/gtest.h>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>

namespace {

QString G(int n)
{
    return QString::fromUtf8("<font style=\"background-color: #00FF00\">%1</font>&nbsp;").arg(n);
}
QString R(int n)
{
    return QString::fromUtf8("<font style=\"background-color: #FF0000\">%1</font>&nbsp;").arg(n);
}
QString Plain(int n)
{
    return QString::number(n) + u"&nbsp;"_qs;
}

const QString kOpening = u"<tr><td colspan=\"4\" style=\"border-bottom: none;\"></td></tr>"_qs;
const QString kMiddleRow = QString::fromUtf8(
    "<tr><td style=\"border-bottom: none; border-top: none\" colspan=\"4\">&nbsp;&nbsp;&nbsp;&nbsp;"
    "Aygıt SeriNo/Kapasite = %1&nbsp;&nbsp;&nbsp;%2&nbsp;&nbsp;</td></tr>");
const QString kLastRow = QString::fromUtf8("<tr><td style=\"border-top: none\" colspan=\"4\">"
                                           "&nbsp;&nbsp;&nbsp;&nbsp;Aygıt SeriNo/Kapasite = "
                                           "%1&nbsp;&nbsp;&nbsp;%2&nbsp;&nbsp;</td></tr>");

QString Channel(bool line, int method)
{
    return QString::fromUtf8(R"({"caption": "K", "ChannelStatus": true, "LineStatus": %1, "RecordMethod": %2,
                                 "Radio": false, "Index": 0})")
        .arg(line ? u"true"_qs : u"false"_qs)
        .arg(method);
}

const QString kWorkedExample = u"{\"ServerName\": \"Merkez\", \"ServerIp\": \"10.0.0.7\", \"Devices\": ["_qs
    + u"{\"Serial\": \"A1001\", \"Frekans\": 8000, \"Bit\": 16, \"Bloke\": true, "_qs
    + u"\"ChannelCount\": 4, \"Firmware\": \"3.1\", \"DeviceType\": 7, \"AudioCodec\": 2, "_qs
    + u"\"Channels\": ["_qs + Channel(true, 1) + u","_qs + Channel(false, 1) + u","_qs + Channel(false, 0)
    + u","_qs + Channel(true, 2) + u"]}, "_qs
    + u"{\"Serial\": \"A1002\", \"ChannelCount\": 2, \"Channels\": ["_qs + Channel(true, 1) + u","_qs
    + Channel(true, 1) + u"]}]}"_qs;

} // namespace

TEST(GetPlusDetails, WorkedExample)
{
    const TGetPlusDetails d(kWorkedExample);
    EXPECT_EQ(d.ServerName, u"Merkez"_qs);
    EXPECT_EQ(d.ServerIp, u"10.0.0.7"_qs);
    ASSERT_EQ(d.DeviceCount(), 2);
    const TPlusDevice a = d.GetDevice(0);
    EXPECT_EQ(a.Serial, u"A1001"_qs);
    EXPECT_EQ(a.Frekans, 8000);
    EXPECT_EQ(a.Bit, 16);
    EXPECT_TRUE(a.Bloke);
    EXPECT_EQ(a.ChannelCount, 4);
    EXPECT_EQ(a.Firmware, u"3.1"_qs);
    EXPECT_EQ(a.DeviceType, 7);
    EXPECT_EQ(a.AudioCodec, 2);
    ASSERT_EQ(a.Channels.size(), 4);
    EXPECT_EQ(a.Channels[1].Caption, u"K"_qs);
    EXPECT_TRUE(a.Channels[1].ChannelStatus);
    EXPECT_FALSE(a.Channels[1].LineStatus);
    EXPECT_EQ(a.Channels[3].RecordMethod, 2);
    EXPECT_TRUE(a.HasAlarm);
    EXPECT_FALSE(d.GetDevice(1).HasAlarm);
    EXPECT_TRUE(d.HasAlarm);
    EXPECT_EQ(d.ChannelStates(0), u"0,1,2,0"_qs);
    EXPECT_EQ(d.ChannelStates(1), u"0,0"_qs);
    EXPECT_EQ(d.MailHtml(),
        kOpening + kMiddleRow.arg(u"A1001 / 4"_qs, G(1) + R(2) + Plain(3) + G(4))
            + kLastRow.arg(u"A1002 / 2"_qs, G(1) + G(2)));
}

TEST(GetPlusDetails, UnusableTextsGiveAnEmptyReport)
{
    const QString faults[] = {
        u""_qs,
        u"not json"_qs,
        u"[1, 2]"_qs,
        u"{\"ServerName\": \"S\", \"Devices\": 5}"_qs,
        // a non-numeric ChannelCount empties the whole report, the devices before it too
        u"{\"ServerName\": \"S\", \"Devices\": [{\"Serial\": \"ok\", \"Channels\": [{\"RecordMethod\": 1}]},"
        " {\"ChannelCount\": \"çok\"}]}"_qs,
        u"{\"ServerName\": \"S\", \"Devices\": [{\"Channels\": [{\"LineStatus\": true}, 3]}]}"_qs,
        u"{\"ServerName\": \"S\", \"Devices\": [{\"Serial\": {\"x\" 1}}]}"_qs,
        u"{\"ServerName\": \"\\u12\"}"_qs,
    };
    for (const QString &text : faults) {
        const TGetPlusDetails d(text);
        EXPECT_EQ(d.DeviceCount(), 0) << text.toStdString();
        EXPECT_FALSE(d.HasAlarm);
        EXPECT_TRUE(d.ServerName.isEmpty());
        EXPECT_TRUE(d.ServerIp.isEmpty());
        EXPECT_TRUE(d.MailHtml().isEmpty());
        EXPECT_TRUE(d.ChannelStates(0).isEmpty());
    }
}

TEST(GetPlusDetails, DevicesAndChannelsEdgeCases)
{
    const TGetPlusDetails noDevices(u"{\"ServerName\": \"S\", \"ServerIp\": \"1.2.3.4\"}"_qs);
    EXPECT_EQ(noDevices.ServerName, u"S"_qs);
    EXPECT_EQ(noDevices.ServerIp, u"1.2.3.4"_qs);
    EXPECT_EQ(noDevices.DeviceCount(), 0);

    const TGetPlusDetails d(
        u"{\"Devices\": [{\"Serial\": \"E\", \"ChannelCount\": 8, \"Channels\": []},"
        " {\"Serial\": \"M\"},"
        " {\"Serial\": \"C\", \"ChannelCount\": \"3\", \"DeviceType\": 300, \"Frekans\": 4294967297,"
        "  \"Channels\": [{\"LineStatus\": false, \"RecordMethod\": 0},"
        "   {\"RecordMethod\": 1}, {\"LineStatus\": false, \"RecordMethod\": 256},"
        "   {\"LineStatus\": \"TRUE\", \"RecordMethod\": 3.7}]}]}"_qs);
    ASSERT_EQ(d.DeviceCount(), 3);
    for (int i : {0, 1}) {
        EXPECT_TRUE(d.GetDevice(i).Channels.isEmpty());
        EXPECT_FALSE(d.GetDevice(i).HasAlarm);
        EXPECT_TRUE(d.ChannelStates(i).isEmpty());
    }
    const TPlusDevice c = d.GetDevice(2);
    EXPECT_EQ(c.ChannelCount, 3);
    EXPECT_EQ(c.DeviceType, 44); // 300 keeps its low 8 bits
    EXPECT_EQ(c.Frekans, 1); // 2^32 + 1 keeps its low 32 bits
    EXPECT_EQ(c.Channels[2].RecordMethod, 0); // 256 is cut to 0: not recorded
    EXPECT_EQ(c.Channels[3].RecordMethod, 3);
    EXPECT_TRUE(c.HasAlarm); // the second channel: no LineStatus key counts as line missing
    EXPECT_TRUE(d.HasAlarm);
    EXPECT_EQ(d.ChannelStates(2), u"2,1,2,0"_qs);
    EXPECT_EQ(d.ChannelStates(3), QString());
    EXPECT_EQ(d.ChannelStates(-1), QString());
    EXPECT_EQ(d.GetDevice(3).Serial, QString());
    EXPECT_EQ(d.MailHtml(),
        kOpening + kMiddleRow.arg(u"E / 8"_qs, QString()) + kMiddleRow.arg(u"M / 0"_qs, QString())
            + kLastRow.arg(u"C / 3"_qs, Plain(1) + R(2) + Plain(3) + G(4)));

    const TGetPlusDetails single(u"{\"Devices\": [{\"Serial\": \"<Tek>\", \"ChannelCount\": 1}]}"_qs);
    EXPECT_EQ(single.MailHtml(), kOpening + kLastRow.arg(u"&lt;Tek&gt; / 1"_qs, QString()));
    EXPECT_FALSE(single.HasAlarm);
}

TEST(GetPlusDetails, ChannelAlarmRule)
{
    // A channel that records but has no line is the only alarm; its status and radio flags play no part.
    struct TCase
    {
        bool Line;
        int Method;
        bool Status;
        bool Radio;
        bool Alarm;
    };
    const TCase cases[] = {
        {false, 0, false, false, false},
        {false, 0, true, true, false},
        {false, 1, false, false, true},
        {false, 1, true, true, true},
        {false, 2, true, false, true},
        {false, 255, false, true, true},
        {true, 0, false, false, false},
        {true, 1, false, false, false},
        {true, 1, true, true, false},
        {true, 255, true, false, false},
    };
    for (const TCase &t : cases) {
        TPlusChannel c;
        c.LineStatus = t.Line;
        c.RecordMethod = uint8_t(t.Method);
        c.ChannelStatus = t.Status;
        c.Radio = t.Radio;
        EXPECT_EQ(TGetPlusDetails::IsChannelAlarm(c), t.Alarm)
            << "line " << t.Line << " method " << t.Method << " status " << t.Status << " radio " << t.Radio;
    }
}

TEST(GetPlusDetails, ClearEmptiesTheReport)
{
    TGetPlusDetails d(kWorkedExample);
    ASSERT_EQ(d.DeviceCount(), 2);
    d.Clear();
    EXPECT_EQ(d.DeviceCount(), 0);
    EXPECT_FALSE(d.HasAlarm);
    EXPECT_TRUE(d.ServerName.isEmpty());
    EXPECT_TRUE(d.ServerIp.isEmpty());
}

// Every text of a public JSON test suite, through the text boundary as a probe reads it; the reader is
// lenient, so what matters is that none crashes, hangs or reads out of bounds.
TEST(GetPlusDetails, JsonTestSuite)
{
    const QDir dir(QStringLiteral(ZYR_JSON_TEST_SUITE));
    ASSERT_TRUE(dir.exists()) << "the JSON test suite is missing from the tree: " << ZYR_JSON_TEST_SUITE;
    const QStringList files = dir.entryList({u"*.json"_qs}, QDir::Files, QDir::Name);
    EXPECT_EQ(files.size(), 318);
    int accepted = 0;
    for (const QString &name : files) {
        QFile f(dir.filePath(name));
        ASSERT_TRUE(f.open(QIODevice::ReadOnly)) << name.toStdString();
        const QString text = DecodeExternalText(f.readAll());
        try {
            const IJsonObject o = ParseObject(text);
            for (int i = 0; i < o->Count(); ++i) {
                o->Pair(i).Value->ToText();
                o->Pair(i).Value->ToBoolean();
            }
            ++accepted;
        } catch (const EZyrError &) {
        }
        const TGetPlusDetails d(text);
        d.MailHtml();
        EXPECT_EQ(d.ChannelStates(d.DeviceCount()), QString()) << name.toStdString();
        if (name == u"y_object_basic.json") {
            EXPECT_EQ(ParseObject(text)->MemberText(u"asd"_qs), u"sdf"_qs);
        }
    }
    EXPECT_GT(accepted, 0);
}
