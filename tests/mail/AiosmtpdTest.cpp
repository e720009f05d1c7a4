// Round trips through a real SMTP server (aiosmtpd under Debian's own Python) with STARTTLS and
// each authentication mechanism; Python's email package decodes what arrived.
#include "mail/StatusMails.h"
#include "mail/StatusReport.h"
#include "MailTestSupport.h"
#include "platform/Version.h"
#include "QtPrint.h"
#include <gtest/gtest.h>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QThread>

using namespace Qt::StringLiterals;

namespace {

const QString kUser = u"nöbetçi"_s;
const QString kPassword = u"Gizli Şifre 1"_s;

class TAiosmtpd
{
public:
    explicit TAiosmtpd(const QString &mechanisms)
    {
        process.setProcessChannelMode(QProcess::SeparateChannels);
        process.start(u"/usr/bin/python3"_s,
            {QString::fromUtf8(ZYR_SMTP_SERVER_SCRIPT), u"--outdir"_s, dir.path(), u"--user"_s, kUser,
                u"--password"_s, kPassword, u"--mechs"_s, mechanisms});
        if (!process.waitForStarted(10000))
            return;
        while (!process.canReadLine() && process.state() == QProcess::Running)
            process.waitForReadyRead(30000);
        port = process.readLine().trimmed().toInt();
    }
    ~TAiosmtpd()
    {
        process.closeWriteChannel(); // the server ends when its stdin closes
        if (!process.waitForFinished(10000)) {
            process.kill();
            process.waitForFinished(5000);
        }
    }
    QString Problem() { return port > 0 ? QString() : QString::fromUtf8(process.readAllStandardError()); }

    // The n-th received mail (from 1), as the server decoded it; empty when none arrives in time.
    QJsonObject Mail(int n)
    {
        const QString file = dir.filePath(u"mail-%1.json"_s.arg(n));
        for (int i = 0; i < 200 && !QFileInfo::exists(file); ++i)
            QThread::msleep(50);
        QFile f(file);
        if (!f.open(QIODevice::ReadOnly))
            return {};
        return QJsonDocument::fromJson(f.readAll()).object();
    }
    int MailCount() const { return int(QDir(dir.path()).entryList({u"mail-*.json"_s}).size()); }

    int port = 0;

private:
    QTemporaryDir dir;
    QProcess process;
};

// What a reader gets back from the body: the byte-order mark, then the lines.
QString HtmlOf(const QStringList &body)
{
    return QChar(0xFEFF) + body.join(u"\r\n"_s) + u"\r\n"_s;
}

QString Html(const QJsonObject &mail)
{
    return mail.value(u"html"_s).toString().replace(u"\r\n"_s, u"\n"_s).replace(u'\n', u"\r\n"_s);
}

class AiosmtpdRoundTrip : public ::testing::TestWithParam<const char *>
{
protected:
    QTemporaryDir dir;
    TLiveSettings settings{dir.path()};
    TSystemList list;
    TTestLog log;
};

TEST_P(AiosmtpdRoundTrip, StatusMailsOverStartTlsWithAuthentication)
{
#ifndef ZYR_WITH_OPENSSL
    GTEST_SKIP() << "the server insists on STARTTLS";
#endif
    const QString mechanism = QString::fromUtf8(GetParam());
    TAiosmtpd server(mechanism);
    ASSERT_GT(server.port, 0) << server.Problem().toStdString();

    AimSettings(settings, server.port, {u"+ops@example.com"_s, u"b@example.com"_s, u"z@example.com"_s});
    settings.SSL = true;
    settings.Username = kUser;
    settings.Password = kPassword;
    settings.MailAfterCtrl = 0;
    const QString report = QString(QChar(5)) + u"1"_s + QChar(4) + u"2.9.4"_s + QChar(4) + u"35.2 GB"_s
        + QChar(4) + u"1"_s + QChar(4) + u"120.0 GB"_s + QChar(4) + u"0"_s + QChar(6) + QChar(4) + QChar(5)
        + QChar(5) + u"SN-Ç1"_s + QChar(4) + u"0"_s + QChar(4) + u"2"_s + QChar(4) + u"0,1"_s + QChar(6)
        + QChar(6);
    AddRow(list, {"1", "Şube İzmir — çağrı", "127.0.0.1", "", "1", csAlarm, report, false});
    AddRow(list,
        {"1", "Güney Ağı", "127.0.0.2:17001", "b@example.com,ops@example.com", "0", csWorking, QString(),
            false});
    AddRow(list, {"0", "Kapalı", "127.0.0.3", "z@example.com", "0", csNotWorking, QString(), false});

    TMailObjects objects;
    SendStatusMails(settings, list, objects);

    const QJsonObject first = server.Mail(1);
    const QJsonObject second = server.Mail(2);
    ASSERT_FALSE(first.isEmpty()) << log.Text().toStdString();
    ASSERT_FALSE(second.isEmpty()) << log.Text().toStdString();
    EXPECT_EQ(server.MailCount(), 2); // z@example.com hears about no marked record

    const QString subject = u"ZYRdenetleyici "_s + GetVersionString() + u" sonuçları"_s;
    for (const QJsonObject &mail : {first, second}) {
        EXPECT_EQ(mail.value(u"subject"_s).toString(), subject);
        EXPECT_TRUE(mail.value(u"tls"_s).toBool());
        EXPECT_EQ(mail.value(u"auth"_s).toString(), mechanism);
        EXPECT_EQ(mail.value(u"mail_from"_s).toString(), u"zyr@example.com"_s);
        EXPECT_EQ(mail.value(u"from"_s).toString(), u"zyr@example.com"_s);
        EXPECT_EQ(mail.value(u"content_type"_s).toString(), u"text/html"_s);
        EXPECT_EQ(mail.value(u"charset"_s).toString(), u"utf-8"_s);
        EXPECT_TRUE(mail.value(u"mail_options"_s).toArray().first().toString().startsWith(u"SIZE="_s));
    }
    // The address list is sorted, so b@example.com comes first and hears only about its own record.
    EXPECT_EQ(first.value(u"rcpt_tos"_s).toArray(), QJsonArray{u"b@example.com"_s});
    EXPECT_EQ(first.value(u"to"_s).toString(), u"b@example.com"_s);
    EXPECT_EQ(second.value(u"rcpt_tos"_s).toArray(), QJsonArray{u"ops@example.com"_s});
    EXPECT_EQ(second.value(u"to"_s).toString(), u"ops@example.com"_s);
    EXPECT_TRUE(Html(second).contains(u"<td>Şube İzmir — çağrı</td>"_s));
    EXPECT_TRUE(Html(second).contains(u"SN-Ç1"_s));
    EXPECT_TRUE(Html(second).contains(u"<td>Güney Ağı</td>"_s));

    // Both bodies, composed again for comparison.
    AimSettings(settings, ClosedPort(), {u"+ops@example.com"_s});
    EXPECT_EQ(Html(second),
        HtmlOf(BuildStatusReport(settings, list, u"ops@example.com"_s, u"0,1"_s, objects).Body));
    EXPECT_EQ(
        Html(first), HtmlOf(BuildStatusReport(settings, list, u"b@example.com"_s, u"1"_s, objects).Body));
    EXPECT_FALSE(Html(first).contains(u"Şube"_s));
    EXPECT_EQ(log.Lines().count(u"E-posta gönderildi"_s), 2);
}

INSTANTIATE_TEST_SUITE_P(
    Mechanisms, AiosmtpdRoundTrip, ::testing::Values("PLAIN", "LOGIN", "CRAM-MD5"), [](const auto &info) {
        return std::string(info.param) == "CRAM-MD5" ? std::string("CRAM_MD5") : std::string(info.param);
    });

TEST(Aiosmtpd, TestMailGoesToTheFirstTickedAddress)
{
#ifndef ZYR_WITH_OPENSSL
    GTEST_SKIP() << "the server insists on STARTTLS";
#endif
    TAiosmtpd server(u"LOGIN,PLAIN,CRAM-MD5"_s);
    ASSERT_GT(server.port, 0) << server.Problem().toStdString();
    QTemporaryDir dir;
    TLiveSettings settings(dir.path());
    TTestLog log;
    AimSettings(settings, server.port, {u"b@example.com"_s, u"+d@example.com"_s, u"+c@example.com"_s});
    settings.SSL = true;
    settings.Username = kUser;
    settings.Password = kPassword;
    QString failure;
    TMailObjects objects;
    const TMailText text = TestMailText();
    ASSERT_TRUE(SendTestMail(settings, text, failure, objects)) << failure.toStdString();
    const QJsonObject mail = server.Mail(1);
    ASSERT_FALSE(mail.isEmpty());
    EXPECT_EQ(mail.value(u"subject"_s).toString(), GetCaption() + u" test e-postası"_s);
    EXPECT_EQ(mail.value(u"rcpt_tos"_s).toArray(), QJsonArray{u"c@example.com"_s});
    EXPECT_EQ(mail.value(u"auth"_s).toString(), u"CRAM-MD5"_s);
    EXPECT_EQ(Html(mail), HtmlOf(text.Body));
    // The test mail's content is not logged.
    EXPECT_FALSE(log.Text().contains(u"E-posta içeriği"_s));

    // A wrong password: every mechanism is refused, and then MAIL FROM.
    settings.Password = u"yanlış"_s;
    EXPECT_FALSE(SendTestMail(settings, text, failure, objects));
    EXPECT_EQ(failure, u"Mail from address(es) error"_s);
}

} // namespace
