#include "mail/StatusReport.h"
#include "FakeSmtpServer.h"
#include "mail/StatusMails.h"
#include "MailTestSupport.h"
#include "platform/Errors.h"
#include "platform/Version.h"
#include "QtPrint.h"
#include "report/PlusDetails.h"
#include "report/UtilsCheckZYR.h"
#include <gtest/gtest.h>
#include <QRegularExpression>

using namespace Qt::StringLiterals;

namespace {

QString Report(const char *readable)
{
    QString s = QString::fromUtf8(readable);
    s.replace(u'<', QChar(5)).replace(u'>', QChar(6)).replace(u'|', QChar(4));
    return s;
}

// A report of ten devices, the first in alarm.
QString TenDevices()
{
    QString devices = u"<A1B2C3|1|4|0,1,0,0>"_s;
    for (int i = 1; i < 10; ++i)
        devices += u"|<D%1|0|2|0,0>"_s.arg(i);
    return Report("<10|2.9.4|35.2 GB|0|120.0 GB|0>|<") + Report(devices.toUtf8().constData()) + Report(">");
}
const QString kAlarmReport = TenDevices();

QString PlusReport(int devices)
{
    QString list;
    for (int i = 0; i < devices; ++i)
        list += (i ? u","_s : QString())
            + u"{\"Serial\": \"P%1\", \"ChannelCount\": 0, \"Channels\": []}"_s.arg(i);
    return u"{\"ServerName\": \"Merkez\", \"ServerIp\": \"127.0.0.7\", \"Devices\": ["_s + list + u"]}"_s;
}

QString Row(const QString &name, const QString &ip, const char *colour, const QString &state)
{
    return u"<tr><td>%1</td><td>%2</td><td style=\"background-color: %3\">%4&nbsp;&nbsp;</td><td>10.12.2026 05:30:00</td></tr>"_s
        .arg(name, ip, QString::fromLatin1(colour), state);
}

const QString kTableStart
    = u"<table border=\"1\" cellspacing=\"0\" cellpadding=\"0\" style=\"background-color: #EFEFEF\">"_s;
const QString kHeader
    = u"<tr><th width=\"150\" align=\"left\">İsim</th><th width=\"150\" align=\"left\">IP Adresi</th>"
      "<th align=\"left\">Durum</th><th width=\"150\" align=\"left\">Denetleme Zamanı</th></tr>"_s;

class StatusReport : public ::testing::Test
{
protected:
    void SetUp() override { AimSettings(settings, ClosedPort(), {u"+ops@example.com"_s}); }
    QTemporaryDir dir;
    TLiveSettings settings{dir.path()};
    TSystemList list;
    TTestLog log;
    TMailObjects unsent; // for mails that never reach a server
};

TEST_F(StatusReport, TwoSystemsTheSecondInAlarmWithItsReport)
{
    AddRow(list, {"1", "Santral", "127.0.0.1", "", "0", csWorking, QString(), false});
    AddRow(list, {"1", "Kayıt <b>2</b>", "127.0.0.2:17001", "", "0", csAlarm, kAlarmReport, false});
    const TMailText mail = BuildStatusReport(settings, list, u"ops@example.com"_s, u"0,1"_s, unsent);

    EXPECT_EQ(mail.Subject, u"ZYRdenetleyici "_s + GetVersionString() + u" sonuçları"_s);
    // The report's rows as written out by hand, one a line in the fixture.
    QFile rows(QStringLiteral(ZYR_MAIL_TEST_DATA "/ten-devices-rows.html"));
    ASSERT_TRUE(rows.open(QIODevice::ReadOnly));
    const QString reportRows = QString::fromUtf8(rows.readAll()).remove(u'\n');
    const QStringList expected
        = {kTableStart, kHeader, Row(u"Santral"_s, u"127.0.0.1"_s, "#00FF00", u"Çalışıyor"_s),
            Row(u"Kayıt <b>2</b>"_s, u"127.0.0.2:17001"_s, "#FF0000", u"Alarm tespit edildi"_s), reportRows,
            u"</table>"_s};
    EXPECT_EQ(mail.Body, expected);
    QStringList summary
        = {u"Santral, 127.0.0.1, Çalışıyor"_s, u"Kayıt <b>2</b>, 127.0.0.2:17001, Alarm tespit edildi"_s,
            u"Sunucu versiyon 2.9.4"_s, u"Kalan Disk Alanı 35.2 GB   0"_s,
            u"Kalan Yedekleme Disk Alanı 120.0 GB   0"_s, u"Aygıt SeriNo/Kapasite A1B2C3 / 4   0,1,0,0"_s};
    for (int i = 1; i < 10; ++i)
        summary << u"Aygıt SeriNo/Kapasite D%1 / 2   0,0"_s.arg(i);
    EXPECT_EQ(mail.Summary, summary);
    EXPECT_EQ(log.Lines().last(), u"E-posta gönderiminde hata: Authentication error"_s);
}

TEST_F(StatusReport, StatesColoursAndWhenDetailsFollow)
{
    struct TCase
    {
        int state;
        QString details;
        const char *colour;
        QString text;
        bool detailRow;
    };
    const TCase cases[] = {
        {csNotChecked, QString(), "#EFEFEF", u"Denetlenmemiş"_s, false},
        {csNotWorking, kAlarmReport, "#FF0000", u"Çalışmıyor"_s, false}, // an old report is not shown
        {csWorking, kAlarmReport, "#00FF00", u"Çalışıyor"_s, false},
        {csWorkingReport, u"   "_s, "#00FF00", u"Çalışıyor"_s, false},
        {csWorkingReport, kAlarmReport, "#00FF00", u"Çalışıyor"_s, true},
        {csChecking, kAlarmReport, "#EFEFEF", u"Denetlenmemiş"_s, false}, // left over from a cycle it missed
    };
    for (const TCase &c : cases) {
        list.Clear();
        AddRow(list, {"1", "S", "h", "", "0", c.state, c.details, false});
        const TMailText mail = BuildStatusReport(settings, list, QString(), u"0"_s, unsent);
        SCOPED_TRACE(c.state);
        ASSERT_EQ(mail.Body.size(), c.detailRow ? 5 : 4);
        EXPECT_EQ(mail.Body[2], Row(u"S"_s, u"h"_s, c.colour, c.text));
    }
}

TEST_F(StatusReport, DeviceDifferenceFromTheReportOfEitherKind)
{
    AddRow(list, {"1", "A", "a", "", "12", csDevicesMissing, kAlarmReport, false});
    AddRow(list, {"1", "B", "b", "", "1", csDevicesExcess, PlusReport(3), true});
    AddRow(list, {"1", "C", "c", "", "on iki", csDevicesMissing, kAlarmReport, false});
    const TMailText mail = BuildStatusReport(settings, list, QString(), u"0,1,2"_s, unsent);
    EXPECT_EQ(mail.Body[2], Row(u"A"_s, u"a"_s, "#FF0000", u"2 Aygıt eksik tespit edildi"_s));
    EXPECT_EQ(mail.Body[4], Row(u"B"_s, u"b"_s, "#FF0000", u"2 Aygıt fazla tespit edildi"_s));
    const QString plusRow
        = u"<tr><td style=\"border-bottom: none; border-top: none\" colspan=\"4\">"
          "&nbsp;&nbsp;&nbsp;&nbsp;Aygıt SeriNo/Kapasite = P%1 / 0&nbsp;&nbsp;&nbsp;&nbsp;&nbsp;</td></tr>"_s;
    EXPECT_EQ(mail.Body[5],
        u"<tr><td colspan=\"4\" style=\"border-bottom: none;\"></td></tr>"_s + plusRow.arg(0) + plusRow.arg(1)
            + u"<tr><td style=\"border-top: none\" colspan=\"4\">&nbsp;&nbsp;&nbsp;&nbsp;Aygıt "
              u"SeriNo/Kapasite = "
              "P2 / 0&nbsp;&nbsp;&nbsp;&nbsp;&nbsp;</td></tr>"_s);
    EXPECT_EQ(mail.Body[6], Row(u"C"_s, u"c"_s, "#FF0000", u"Aygıt eksik tespit edildi"_s));
    EXPECT_EQ(mail.Body.last(), u"</table>"_s);
    // The extended system adds no summary lines of its own.
    EXPECT_TRUE(mail.Summary.contains(u"B, b, 2 Aygıt fazla tespit edildi"_s));
    EXPECT_EQ(mail.Summary.indexOf(u"C, c, Aygıt eksik tespit edildi"_s),
        mail.Summary.indexOf(u"B, b, 2 Aygıt fazla tespit edildi"_s) + 1);
    const QStringList lines = log.Lines();
    EXPECT_TRUE(
        lines.contains(u"Bir hata oluştu. Hata kodu: 10003. 'on iki' is not a valid integer value"_s));
    EXPECT_EQ(lines.last(), u"E-posta gönderiminde hata: Authentication error"_s);
}

TEST_F(StatusReport, NothingToSendOrABadPosition)
{
    AddRow(list, {"1", "A", "a", "", "0", csWorking, QString(), false});

    AimSettings(settings, ClosedPort(), {u"ops@example.com"_s}); // nothing ticked
    const TMailText none = BuildStatusReport(settings, list, QString(), u"0"_s, unsent);
    EXPECT_EQ(none.Subject, QString());
    EXPECT_EQ(none.Body, QStringList());
    EXPECT_TRUE(log.Lines().isEmpty());

    BuildStatusReport(settings, list, u"ops@example.com"_s, u"0,7"_s, unsent);
    EXPECT_EQ(log.Lines(), QStringList{u"E-posta gönderiminde hata: List index out of bounds (7)"_s});

    // A position that is no integer counts as 0.
    const TMailText mail = BuildStatusReport(settings, list, u"ops@example.com"_s, u"x"_s, unsent);
    ASSERT_EQ(mail.Body.size(), 4);
    EXPECT_EQ(mail.Body[2], Row(u"A"_s, u"a"_s, "#00FF00", u"Çalışıyor"_s));
}

TEST_F(StatusReport, DeliveredMailAndTheTestMail)
{
    TFakeSmtpServer server(
        {{"S:220 fake\r\n", "R", "S:250 fake\r\n", "R", "S:250 ok\r\n", "R", "S:250 ok\r\n", "R",
             "S:354 go\r\n", "D", "S:250 queued\r\n", "R", "S:221 bye\r\n"},
            {"S:220 fake\r\n", "R", "S:250 fake\r\n", "R", "S:250 ok\r\n", "R", "S:250 ok\r\n", "R",
                "S:354 go\r\n", "D", "S:250 queued\r\n", "R", "S:221 bye\r\n"}});
    AimSettings(settings, server.Port(), {u"b@example.com"_s, u"+c@example.com"_s, u"+a@example.com"_s});
    AddRow(list, {"1", "A", "a", "", "0", csWorking, QString(), false});
    TMailObjects objects;
    BuildStatusReport(settings, list, u"b@example.com"_s, u"0"_s, objects);
    QString failure;
    const TMailText test = TestMailText();
    EXPECT_TRUE(SendTestMail(settings, test, failure, objects));
    EXPECT_EQ(failure, QString());
    EXPECT_EQ(test.Summary, QStringList());
    EXPECT_EQ(test.Subject, GetCaption() + u" test e-postası"_s);
    ASSERT_EQ(test.Body.size(), 1);
    const QRegularExpression body(u"^\\d\\d\\D\\d\\d\\D\\d{4}  \\d\\d\\D\\d\\d\\D\\d\\d : "_s
        + QRegularExpression::escape(GetCaption())
        + u" tarafından gönderilmiş bir test e-postasıdır\\.\\.\\.$"_s);
    EXPECT_TRUE(body.match(test.Body[0]).hasMatch()) << test.Body[0].toStdString();

    const auto received = server.Received();
    EXPECT_EQ(received[0][2], "RCPT TO:<b@example.com>");
    EXPECT_EQ(received[1][2], "RCPT TO:<a@example.com>"); // the first ticked address in list order
    const QStringList lines = log.Lines();
    EXPECT_EQ(lines.count(u"E-posta gönderildi"_s), 2);
    EXPECT_TRUE(lines.contains(u"E-posta şu adres(ler)e gönderilecek: b@example.com"_s));
    EXPECT_TRUE(lines.contains(u"E-posta şu adres(ler)e gönderilecek: a@example.com"_s));

    // A failed test mail reports the delivery's message.
    AimSettings(settings, ClosedPort(), {u"+a@example.com"_s});
    EXPECT_FALSE(SendTestMail(settings, TestMailText(), failure, objects));
    EXPECT_EQ(failure, u"Authentication error"_s);
    EXPECT_EQ(log.Lines().last(), u"E-posta gönderiminde hata: Authentication error"_s);
}

class StatusDispatch : public StatusReport
{
protected:
    void SetUp() override
    {
        StatusReport::SetUp();
        AddRow(list, {"1", "NoAddress", "h0", "", "0", csDevicesExcess, QString(), false});
        AddRow(list, {"1", "Working", "h1", "ab@x.com", "0", csWorking, QString(), false});
        AddRow(list, {"1", "Down", "h2", "b@x.com,c@x.com", "0", csNotWorking, QString(), false});
        AddRow(list, {"0", "Unmarked", "h3", "b@x.com", "0", csNotWorking, QString(), false});
        AddRow(list, {"1", "Alarm", "h4", "B@X.COM", "0", csAlarm, QString(), false});
    }
};

TEST_F(StatusDispatch, RecipientRecordsMatchWholeAddresses)
{
    struct TCase
    {
        int rule;
        const char *address;
        bool ticked;
        const char *records;
    };
    const TCase cases[] = {
        {0, "b@x.com", true, "0,2,4"},
        {0, "b@x.com", false, "2,4"},
        {0, "ab@x.com", false, "1"},
        {0, "x.com", false, ""},
        {0, "d@x.com", true, "0"},
        {0, "d@x.com", false, ""},
        {1, "b@x.com", true, "0,2,4"},
        {1, "ab@x.com", true, "0"},
        {2, "c@x.com", false, "2"},
    };
    for (const TCase &c : cases) {
        settings.MailAfterCtrl = c.rule;
        EXPECT_EQ(RecipientRecords(settings, list, QString::fromUtf8(c.address), c.ticked),
            QString::fromUtf8(c.records))
            << c.rule << " " << c.address << " " << c.ticked;
    }
}

TEST_F(StatusDispatch, ASelectOrStateThatIsNoNumberEndsTheDispatch)
{
    settings.MailAfterCtrl = 1;
    list.SetCell(2, TSystemRecord::State, u"?"_s);
    EXPECT_THROW(SendStatusMails(settings, list, unsent), EZyrError);
    list.SetCell(2, TSystemRecord::State, u"1"_s);
    list.SetCell(4, TSystemRecord::Select, u"evet"_s);
    EXPECT_THROW(RecipientRecords(settings, list, u"b@x.com"_s, false), EZyrError);
    EXPECT_TRUE(log.Lines().isEmpty());
}

TEST_F(StatusDispatch, OneMailPerConcernedAddressWithOnlyItsRecords)
{
    const std::vector<std::string> session = {"S:220 fake\r\n", "R", "S:250 fake\r\n", "R", "S:250 ok\r\n",
        "R", "S:250 ok\r\n", "R", "S:354 go\r\n", "D", "S:250 queued\r\n", "R", "S:221 bye\r\n"};
    TFakeSmtpServer server({session, session});
    // z@x.com is concerned by nothing; b@x.com is ticked, so it also hears about NoAddress.
    settings.MailAfterCtrl = 1; // alarms only: Working (ab@x.com) drops out
    AimSettings(settings, server.Port(), {u"ab@x.com"_s, u"+b@x.com"_s, u"c@x.com"_s, u"z@x.com"_s});
    TMailObjects objects;
    SendStatusMails(settings, list, objects);
    const auto received = server.Received();
    ASSERT_EQ(received.size(), 2u);
    EXPECT_EQ(received[0][2], "RCPT TO:<b@x.com>");
    EXPECT_EQ(received[1][2], "RCPT TO:<c@x.com>");
    auto body = [](const std::vector<std::string> &lines) {
        QStringList message;
        bool in = false;
        for (const std::string &l : lines) {
            if (l == ".")
                break;
            if (in)
                message.append(QString::fromStdString(l));
            in = in || l.empty();
        }
        return QString::fromUtf8(QpDecode(message));
    };
    const QString first = body(received[0]);
    for (const char *name : {"NoAddress", "Down", "Alarm"})
        EXPECT_TRUE(first.contains(u"<td>"_s + QString::fromUtf8(name) + u"</td>"_s)) << name;
    EXPECT_FALSE(first.contains(u"Working"_s));
    EXPECT_FALSE(first.contains(u"Unmarked"_s));
    const QString second = body(received[1]);
    EXPECT_TRUE(second.contains(u"<td>Down</td>"_s));
    EXPECT_FALSE(second.contains(u"NoAddress"_s));
    EXPECT_FALSE(second.contains(u"Alarm"_s));
}

} // namespace
