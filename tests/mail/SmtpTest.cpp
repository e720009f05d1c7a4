#include "FakeSmtpServer.h"
#include "mail/MailSend.h"
#include "MailTestSupport.h"
#include "platform/Errors.h"
#include "platform/Logger.h"
#include "QtPrint.h"
#include <arpa/inet.h>
#include <chrono>
#include <clocale>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <QFile>
#include <QTemporaryDir>
#include <sys/socket.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

#ifdef ZYR_WITH_OPENSSL
#define SKIP_WITHOUT_TLS() (void)0
#else
#define SKIP_WITHOUT_TLS() GTEST_SKIP() << "built without a TLS library"
#endif

namespace {

using TScript = std::vector<std::string>;
using TLines = std::vector<std::string>;

const std::string kUser = "operator";
const std::string kPass = "gizli şifre";

std::string B64(const std::string &s)
{
    return MailBase64Encode(QByteArray::fromStdString(s)).toStdString();
}

TMailSettings Settings(int port)
{
    TMailSettings s;
    s.Host = QStringLiteral("127.0.0.1");
    s.Port = port;
    s.From = QStringLiteral("zyr@example.com");
    s.To = QStringLiteral("ops@example.com,second@example.com");
    s.TimeOut = 3000;
    return s;
}

// Sends one mail; the error text, empty on success.
std::string Deliver(TMailObjects &objects, const TMailSettings &settings,
    const QStringList &body = {QStringLiteral("<p>ok</p>")}, const QString &recipient = QString(),
    const QString &subject = QStringLiteral("Durum"))
{
    try {
        SendMail(objects, settings, {subject, body, {QStringLiteral("sys, 1.2.3.4, Çalışıyor")}}, recipient);
        return std::string();
    } catch (const EZyrError &e) {
        return e.Message().toStdString();
    }
}

// The server's side of a mail after the greeting and EHLO: MAIL, RCPT, DATA, message, QUIT.
TScript Delivery()
{
    return {"R", "S:250 sender ok\r\n", "R", "S:250 recipient ok\r\n", "R", "S:354 go ahead\r\n", "D",
        "S:250 queued\r\n", "R", "S:221 bye\r\n"};
}

TScript Session(TScript head)
{
    TScript tail = Delivery();
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

// The client's command lines, without the message between DATA and its ".".
TLines Commands(const TLines &received)
{
    TLines out;
    bool inData = false;
    for (const std::string &l : received) {
        if (inData) {
            inData = l != ".";
            continue;
        }
        out.push_back(l);
        inData = l == "DATA";
    }
    return out;
}

TLines Message(const TLines &received)
{
    TLines out;
    bool inData = false;
    for (const std::string &l : received) {
        if (inData && l == ".")
            break;
        if (inData)
            out.push_back(l);
        inData = inData || l == "DATA";
    }
    return out;
}

std::string Ehlo()
{
    return "EHLO " + TSMTPSend().SystemName.toStdString();
}

TEST(SmtpSession, EhloRefusedFallsBackToHeloWithoutAuthOrSize)
{
    TFakeSmtpServer server({Session({"S:220 fake\r\n", "R", "S:502 no EHLO\r\n", "R", "S:250 hello\r\n"})});
    TMailSettings s = Settings(server.Port());
    s.Username = QString::fromStdString(kUser);
    s.Password = QString::fromStdString(kPass);
    TMailObjects objects;
    EXPECT_EQ(Deliver(objects, s), "");
    const TLines expected = {Ehlo(), "HELO " + Ehlo().substr(5), "MAIL FROM:<zyr@example.com>",
        "RCPT TO:<ops@example.com>", "DATA", "QUIT"};
    EXPECT_EQ(Commands(server.Received()[0]), expected);
    EXPECT_FALSE(objects.SMTP.ESMTP);
    EXPECT_EQ(server.Errors(), "");
}

struct TAuthCase
{
    const char *name;
    std::string ehloReply;
    TScript authExchange;
    TLines expectedAuthLines;
    bool withSize;
};

TEST(SmtpSession, AuthenticationMechanismsInOrderOfPreference)
{
    const std::string plain
        = "AUTH PLAIN " + B64(std::string(1, '\0') + kUser + std::string(1, '\0') + kPass);
    const TAuthCase cases[] = {
        {"PLAIN fails, LOGIN follows", "250-fake\r\n250-AUTH LOGIN PLAIN\r\n250 SIZE 1000000\r\n",
            {"R", "S:535 no\r\n", "R", "S:334 VXNlcm5hbWU6\r\n", "R", "S:334 UGFzc3dvcmQ6\r\n", "R",
                "S:235 ok\r\n"},
            {plain, "AUTH LOGIN", B64(kUser), B64(kPass)}, true},
        {"old form AUTH=LOGIN", "250-fake\r\n250 AUTH=LOGIN\r\n",
            {"R", "S:334 VXNlcm5hbWU6\r\n", "R", "S:334 UGFzc3dvcmQ6\r\n", "R", "S:235 ok\r\n"},
            {"AUTH LOGIN", B64(kUser), B64(kPass)}, false},
        {"PLAIN accepted", "250-fake\r\n250-SIZE\r\n250 auth plain login\r\n", {"R", "S:235 ok\r\n"}, {plain},
            true},
    };
    for (const TAuthCase &c : cases) {
        SCOPED_TRACE(c.name);
        TScript script = {"S:220 fake\r\n", "R", "S:" + c.ehloReply};
        script.insert(script.end(), c.authExchange.begin(), c.authExchange.end());
        TFakeSmtpServer server({Session(script)});
        TMailSettings s = Settings(server.Port());
        s.Username = QString::fromStdString(kUser);
        s.Password = QString::fromStdString(kPass);
        TMailObjects objects;
        EXPECT_EQ(Deliver(objects, s), "");
        EXPECT_TRUE(objects.SMTP.AuthDone);
        const TLines received = server.Received()[0];
        TLines expected = {Ehlo()};
        expected.insert(expected.end(), c.expectedAuthLines.begin(), c.expectedAuthLines.end());
        qint64 size = 0;
        for (const QString &l : objects.Mime.Lines)
            size += l.toUtf8().size() + 2;
        expected.push_back(
            "MAIL FROM:<zyr@example.com>" + (c.withSize ? " SIZE=" + std::to_string(size) : std::string()));
        expected.insert(expected.end(), {"RCPT TO:<ops@example.com>", "DATA", "QUIT"});
        EXPECT_EQ(Commands(received), expected);
        EXPECT_EQ(server.Errors(), "");
    }
}

TEST(SmtpSession, CramMd5AnswersTheChallengeWithTheKeyedDigest)
{
    // The worked example of the CRAM-MD5 definition.
    const std::string challenge = "<1896.697170952@postoffice.reston.mci.net>";
    TFakeSmtpServer server({Session({"S:220 fake\r\n", "R", "S:250-fake\r\n250 AUTH PLAIN CRAM-MD5 LOGIN\r\n",
        "R", "S:334 " + B64(challenge) + "\r\n", "R", "S:235 ok\r\n"})});
    TMailSettings s = Settings(server.Port());
    s.Username = QStringLiteral("tim");
    s.Password = QStringLiteral("  tanstaaftanstaaf ");
    s.Password = s.Password.trimmed(); // the settings reader trims
    TMailObjects objects;
    EXPECT_EQ(Deliver(objects, s), "");
    const TLines received = server.Received()[0];
    ASSERT_GE(received.size(), 3u);
    EXPECT_EQ(received[1], "AUTH CRAM-MD5");
    EXPECT_EQ(received[2], "dGltIGI5MTNhNjAyYzdlZGE3YTQ5NWI0ZTZlNzMzNGQzODkw");
}

TEST(SmtpSession, NoCredentialsNoAuth)
{
    TFakeSmtpServer server({Session({"S:220 fake\r\n", "R", "S:250-fake\r\n250 AUTH PLAIN LOGIN\r\n"})});
    TMailObjects objects;
    EXPECT_EQ(Deliver(objects, Settings(server.Port())), "");
    const TLines expected
        = {Ehlo(), "MAIL FROM:<zyr@example.com>", "RCPT TO:<ops@example.com>", "DATA", "QUIT"};
    EXPECT_EQ(Commands(server.Received()[0]), expected);
}

TEST(SmtpSession, RefusalsRaiseTheirTextsAndSendNoQuit)
{
    struct TCase
    {
        const char *name;
        TScript afterEhlo;
        std::string error;
    };
    const TCase cases[] = {
        {"wrong password, then 530", {"R", "S:535 bad\r\n", "R", "S:530 auth required\r\n", "W"},
            "Mail from address(es) error"},
        {"recipient refused", {"R", "S:535 bad\r\n", "R", "S:250 ok\r\n", "R", "S:550 unknown user\r\n", "W"},
            "Mail to address error:second@example.com"},
        {"DATA refused",
            {"R", "S:235 ok\r\n", "R", "S:250 ok\r\n", "R", "S:250 ok\r\n", "R",
                "S:554-no\r\n554 really not\r\n", "W"},
            "554-no\r\n554 really not\r\n"},
        {"message refused",
            {"R", "S:235 ok\r\n", "R", "S:250 ok\r\n", "R", "S:250 ok\r\n", "R", "S:354 go\r\n", "D",
                "S:552 too big\r\n", "W"},
            "552 too big\r\n"},
    };
    for (const TCase &c : cases) {
        SCOPED_TRACE(c.name);
        TScript script = {"S:220 fake\r\n", "R", "S:250-fake\r\n250 AUTH PLAIN\r\n"};
        script.insert(script.end(), c.afterEhlo.begin(), c.afterEhlo.end());
        TFakeSmtpServer server({script});
        TMailSettings s = Settings(server.Port());
        s.Username = QString::fromStdString(kUser);
        s.Password = QStringLiteral("wrong");
        {
            TMailObjects objects;
            EXPECT_EQ(
                Deliver(objects, s, {QStringLiteral("x")}, QStringLiteral("second@example.com")), c.error);
        } // closes the connection, so the server stops listening
        const TLines commands = Commands(server.Received()[0]);
        EXPECT_EQ(std::count(commands.begin(), commands.end(), "QUIT"), 0);
    }
}

// A connection lost under the message, or while its end waits for the verdict, has no reply of its own:
// the error is the system's text for the socket error, never the server's "354" before it.
TEST(SmtpSession, ConnectionLostUnderTheMessageGivesTheSystemsText)
{
    const std::string previous = std::setlocale(LC_MESSAGES, nullptr);
    std::setlocale(LC_MESSAGES, "C");
    const TScript untilData = {"S:220 fake\r\n", "R", "S:250 fake\r\n", "R", "S:250 ok\r\n", "R",
        "S:250 ok\r\n", "R", "S:354 go ahead\r\n"};
    QStringList big; // far more than the socket buffers hold, so the reset meets the client still sending
    for (int i = 0; i < 60000; ++i)
        big.append(QString(120, QLatin1Char('x')));
    struct TCase
    {
        const char *name;
        TScript after354;
        QStringList body;
    } cases[] = {
        {"reset while the body is sent", {"R", "RST"}, big},
        {"reset after the final dot", {"D", "RST"}, {QStringLiteral("<p>ok</p>")}},
    };
    for (const TCase &c : cases) {
        SCOPED_TRACE(c.name);
        TScript script = untilData;
        script.insert(script.end(), c.after354.begin(), c.after354.end());
        TFakeSmtpServer server({script});
        TTestLog log;
        TMailObjects objects;
        EXPECT_EQ(Deliver(objects, Settings(server.Port()), c.body), "Connection reset by peer");
        objects.SMTP.Sock().Close();
        server.Received();
    }
    std::setlocale(LC_MESSAGES, previous.c_str());
}

TEST(SmtpSession, ConnectionFailuresAreAuthenticationErrors)
{
    const int closedPort = ClosedPort();
    TMailObjects objects;
    EXPECT_EQ(Deliver(objects, Settings(closedPort)), "Authentication error");

    TMailSettings unresolvable = Settings(25);
    unresolvable.Host = QStringLiteral("no-such-host.invalid");
    EXPECT_EQ(Deliver(objects, unresolvable), "Authentication error");

    // A greeting that never comes: given up after the time-out.
    TFakeSmtpServer silent({{"P:1200"}});
    TMailSettings s = Settings(silent.Port());
    s.TimeOut = 300;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Deliver(objects, s), "Authentication error");
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(290));
    EXPECT_LT(waited, std::chrono::milliseconds(1100));

    // Greeting not 220, and both EHLO and HELO refused.
    TFakeSmtpServer busy(
        {{"S:554 busy\r\n", "W"}, {"S:220 ok\r\n", "R", "S:500 no\r\n", "R", "S:501 no\r\n", "W"}});
    EXPECT_EQ(Deliver(objects, Settings(busy.Port())), "Authentication error");
    EXPECT_EQ(Deliver(objects, Settings(busy.Port())), "Authentication error");
    objects.SMTP.Sock().Close();
    EXPECT_EQ(busy.Received()[1], (TLines{Ehlo(), "HELO " + Ehlo().substr(5)}));
}

TEST(SmtpSession, ConnectGivesUpAtItsLimit)
{
    // A listener whose accept queue is full drops further connection requests unanswered.
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr *>(&a), sizeof a), 0);
    ASSERT_EQ(::listen(listener, 0), 0);
    socklen_t len = sizeof a;
    ::getsockname(listener, reinterpret_cast<sockaddr *>(&a), &len);
    const QString port = QString::number(ntohs(a.sin_port));
    std::vector<std::unique_ptr<TTcpSocket>> fillers;
    for (int i = 0; i < 3; ++i) {
        fillers.push_back(std::make_unique<TTcpSocket>());
        fillers.back()->ConnectAny(QStringLiteral("127.0.0.1"), port, 200);
    }
    TTcpSocket late;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(late.ConnectAny(QStringLiteral("127.0.0.1"), port, 300));
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(250));
    EXPECT_LT(waited, std::chrono::milliseconds(3000));
    EXPECT_EQ(late.LastError, ETIMEDOUT);
    ::close(listener);
}

TEST(SmtpSession, BodyLinesStartingWithADotAreStuffed)
{
    TFakeSmtpServer server({Session({"S:220 fake\r\n", "R", "S:250 fake\r\n"})});
    TMailObjects objects;
    EXPECT_EQ(Deliver(objects, Settings(server.Port()),
                  {QStringLiteral("first"), QStringLiteral(".hidden"), QStringLiteral("..two")}),
        "");
    const TLines message = Message(server.Received()[0]);
    ASSERT_GE(message.size(), 3u);
    EXPECT_EQ(TLines(message.end() - 3, message.end()), (TLines{"=EF=BB=BFfirst", "..hidden", "...two"}));
}

TEST(SmtpSession, LargeMessageArrivesWhole)
{
    QStringList body;
    for (int i = 0; i < 400; ++i)
        body.append(QStringLiteral("<tr><td>satır %1</td><td>%2</td></tr>")
                        .arg(i)
                        .arg(QString(i % 120, QLatin1Char('x'))));
    TFakeSmtpServer server({Session({"S:220 fake\r\n", "R", "S:250 fake\r\n"})});
    TMailObjects objects;
    EXPECT_EQ(Deliver(objects, Settings(server.Port()), body), "");
    TLines sent;
    for (const QString &l : objects.Mime.Lines)
        sent.push_back(l.toStdString());
    EXPECT_EQ(Message(server.Received()[0]), sent);
}

TEST(SmtpSession, TwoMailsInARowNameOnlyTheirOwnRecipient)
{
    TFakeSmtpServer server({Session({"S:220 fake\r\n", "R", "S:250 fake\r\n"}),
        Session({"S:220 fake\r\n", "R", "S:250 fake\r\n"})});
    TMailObjects objects;
    TMailSettings s = Settings(server.Port());
    EXPECT_EQ(Deliver(objects, s, {QStringLiteral("one")}, QStringLiteral("a@example.com")), "");
    EXPECT_EQ(Deliver(objects, s, {QStringLiteral("two")}, QStringLiteral("b@example.com")), "");
    const auto received = server.Received();
    const TLines first = Message(received[0]);
    const TLines second = Message(received[1]);
    EXPECT_EQ(std::count(first.begin(), first.end(), "To: a@example.com"), 1);
    EXPECT_EQ(std::count(second.begin(), second.end(), "To: b@example.com"), 1);
    EXPECT_EQ(std::count(second.begin(), second.end(), "To: a@example.com"), 0);
    EXPECT_EQ(Commands(received[1])[2], "RCPT TO:<b@example.com>");
    EXPECT_EQ(second.back(), "=EF=BB=BFtwo");
}

TEST(SmtpSession, EmptyRecipientTakesTheFirstDefaultAddressAndIsLogged)
{
    QTemporaryDir dir;
    const QString logFile = dir.filePath(QStringLiteral("mail.log"));
    TLogger logger(logFile);
    Logger = &logger;
    TFakeSmtpServer server({Session({"S:220 fake\r\n", "R", "S:250 fake\r\n"}),
        Session({"S:220 fake\r\n", "R", "S:250 fake\r\n"})});
    TMailObjects objects;
    EXPECT_EQ(Deliver(objects, Settings(server.Port()), {QStringLiteral("x")}, QString(),
                  QStringLiteral("ZYRdenetleyici 2.1 sonuçları")),
        "");
    EXPECT_EQ(Deliver(objects, Settings(server.Port()), {QStringLiteral("x")}, QString(),
                  QStringLiteral("ZYRdenetleyici 2.1 test e-postası")),
        "");
    Logger = nullptr;
    const auto received = server.Received();
    EXPECT_EQ(Commands(received[0])[2], "RCPT TO:<ops@example.com>");
    QFile f(logFile);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QString log = QString::fromUtf8(f.readAll());
    EXPECT_EQ(log.count(QStringLiteral("E-posta şu adres(ler)e gönderilecek: ops@example.com\r\n")), 2);
    EXPECT_FALSE(log.contains(QStringLiteral("second@example.com")));
    // Only the status mail is logged with its content.
    EXPECT_EQ(log.count(QStringLiteral("E-posta içeriği: \r\nsys, 1.2.3.4, Çalışıyor\r\n")), 1);
}

TEST(SmtpSession, LineBreaksInAnAddressNeverReachTheServer)
{
    TFakeSmtpServer server({{"S:220 fake\r\n", "R", "S:250 fake\r\n", "W"},
        {"S:220 fake\r\n", "R", "S:250 fake\r\n", "R", "S:250 ok\r\n", "W"}});
    TMailSettings s = Settings(server.Port());
    s.From = QStringLiteral("zyr@example.com>\r\nRCPT TO:<victim@example.com");
    TMailObjects objects;
    EXPECT_EQ(Deliver(objects, s), "Mail from address(es) error");
    s = Settings(server.Port());
    EXPECT_EQ(Deliver(objects, s, {QStringLiteral("x")}, QStringLiteral("a@example.com>\nDATA")),
        "Mail to address error:a@example.com>\nDATA");
    objects.SMTP.Sock().Close();
    const auto received = server.Received();
    EXPECT_EQ(received[0], TLines{Ehlo()});
    EXPECT_EQ(received[1], (TLines{Ehlo(), "MAIL FROM:<zyr@example.com>"}));
}

TEST(SmtpSession, DisplayNameSenderIsRefusedInMailFrom)
{
    TFakeSmtpServer server({{"S:220 fake\r\n", "R", "S:250 fake\r\n", "R", "S:553 bad address\r\n", "W"}});
    TMailSettings s = Settings(server.Port());
    s.From = QStringLiteral("Nöbet <zyr@example.com>");
    {
        TMailObjects objects;
        EXPECT_EQ(Deliver(objects, s), "Mail from address(es) error");
    }
    EXPECT_EQ(Commands(server.Received()[0])[1], "MAIL FROM:<Nöbet <zyr@example.com>>");
}

} // namespace

namespace {

TScript TlsHead(const std::string &afterStartTls)
{
    return {"S:220 fake\r\n", "R", "S:250-fake\r\n250-STARTTLS\r\n250 AUTH LOGIN\r\n", "R",
        "S:220 go ahead\r\n" + afterStartTls, "TLS", "R",
        "S:250-secure\r\n250-SIZE 5000000\r\n250 AUTH PLAIN\r\n", "R", "S:235 ok\r\n"};
}

TEST(SmtpStartTls, SecuresTheSessionAndReadsTheNewCapabilities)
{
    SKIP_WITHOUT_TLS();
    TFakeSmtpServer server({Session(TlsHead(""))});
    TTestLog log;
    TMailSettings s = Settings(server.Port());
    s.SSL = true;
    s.Username = QString::fromStdString(kUser);
    s.Password = QString::fromStdString(kPass);
    TMailObjects objects;
    EXPECT_EQ(Deliver(objects, s), "");
    EXPECT_FALSE(log.Text().contains(QStringLiteral("STARTTLS desteklemiyor")));
    const TLines commands = Commands(server.Received()[0]);
    ASSERT_GE(commands.size(), 5u);
    EXPECT_EQ(TLines(commands.begin(), commands.begin() + 3), (TLines{Ehlo(), "STARTTLS", Ehlo()}));
    // AUTH PLAIN and SIZE come from the capabilities after the handshake, not the plain ones.
    EXPECT_EQ(commands[3].rfind("AUTH PLAIN ", 0), 0u);
    EXPECT_NE(commands[4].find(" SIZE="), std::string::npos);
    EXPECT_EQ(server.Errors(), "");
}

TEST(SmtpStartTls, BytesSentBeforeTheHandshakeAreNeverReadAsReplies)
{
    SKIP_WITHOUT_TLS();
    // An injected capability list and a premature acceptance ride along with the 220.
    TFakeSmtpServer server({Session(TlsHead("250-injected\r\n250 AUTH LOGIN\r\n235 forged\r\n"))});
    TMailSettings s = Settings(server.Port());
    s.SSL = true;
    s.Username = QString::fromStdString(kUser);
    s.Password = QString::fromStdString(kPass);
    TMailObjects objects;
    EXPECT_EQ(Deliver(objects, s), "");
    const TLines commands = Commands(server.Received()[0]);
    ASSERT_GE(commands.size(), 4u);
    EXPECT_EQ(commands[2], Ehlo());
    EXPECT_EQ(commands[3].rfind("AUTH PLAIN ", 0), 0u);
    EXPECT_EQ(server.Errors(), "");
}

TEST(SmtpStartTls, OnlyWhenAskedAndOffered)
{
    // SSL on, STARTTLS not offered: plain session, no error.
    TFakeSmtpServer plain({Session({"S:220 fake\r\n", "R", "S:250 fake\r\n"})});
    TMailSettings s = Settings(plain.Port());
    s.SSL = true;
    TMailObjects objects;
    EXPECT_EQ(Deliver(objects, s), "");
    EXPECT_EQ(Commands(plain.Received()[0])[1], "MAIL FROM:<zyr@example.com>");

    SKIP_WITHOUT_TLS();
    // SSL switched off between two sends: the second session stays plain.
    TFakeSmtpServer twice(
        {Session(TlsHead("")), Session({"S:220 fake\r\n", "R", "S:250-fake\r\n250 STARTTLS\r\n"})});
    s = Settings(twice.Port());
    s.SSL = true;
    s.Username = QString::fromStdString(kUser);
    s.Password = QString::fromStdString(kPass);
    EXPECT_EQ(Deliver(objects, s), "");
    s.SSL = false;
    s.Username.clear();
    s.Password.clear();
    EXPECT_EQ(Deliver(objects, s), "");
    const auto received = twice.Received();
    EXPECT_EQ(Commands(received[0])[1], "STARTTLS");
    EXPECT_EQ(Commands(received[1]),
        (TLines{Ehlo(), "MAIL FROM:<zyr@example.com>", "RCPT TO:<ops@example.com>", "DATA", "QUIT"}));
}

TEST(SmtpStartTls, APlainSessionDespiteTheSettingIsLoggedWithTheHost)
{
    const QString line
        = QStringLiteral("Sunucu STARTTLS desteklemiyor, e-posta şifrelenmeden gönderiliyor: 127.0.0.1");
    struct TCase
    {
        const char *name;
        TScript head;
        bool ssl;
        int lines;
    } cases[] = {
        {"STARTTLS not offered", {"S:220 fake\r\n", "R", "S:250-fake\r\n250 SIZE 1000000\r\n"}, true, 1},
        {"EHLO refused, HELO", {"S:220 fake\r\n", "R", "S:502 no\r\n", "R", "S:250 fake\r\n"}, true, 1},
        {"not asked for", {"S:220 fake\r\n", "R", "S:250 fake\r\n"}, false, 0},
    };
    for (const TCase &c : cases) {
        SCOPED_TRACE(c.name);
        TFakeSmtpServer server({Session(c.head)});
        TTestLog log;
        TMailSettings s = Settings(server.Port());
        s.SSL = c.ssl;
        TMailObjects objects;
        EXPECT_EQ(Deliver(objects, s), "");
        EXPECT_EQ(log.Lines().count(line), c.lines);
        if (c.lines) {
            EXPECT_EQ(log.Lines().last(), line); // after what is about to be sent
        }
    }
}

TEST(SmtpStartTls, RefusedOrImpossibleTlsIsAnAuthenticationError)
{
    TFakeSmtpServer server(
        {{"S:220 fake\r\n", "R", "S:250-fake\r\n250 STARTTLS\r\n", "R", "S:454 not now\r\n", "W"},
            {"S:220 fake\r\n", "R", "S:250-fake\r\n250 STARTTLS\r\n", "R", "S:220 go ahead\r\n", "W"}});
    TMailSettings s = Settings(server.Port());
    s.SSL = true;
    TMailObjects objects;
    EXPECT_EQ(Deliver(objects, s), "Authentication error");
    // Without a TLS library the handshake cannot happen.
    objects.SMTP.Sock().SetSSL(std::make_unique<TSSLNone>());
    EXPECT_EQ(Deliver(objects, s), "Authentication error");
    objects.SMTP.Sock().Close();
    EXPECT_EQ(server.Received()[1], (TLines{Ehlo(), "STARTTLS"}));
}

TEST(SmtpStartTls, APeerGoneAfterTheHandshakeFailsTheMailNotTheProgram)
{
    SKIP_WITHOUT_TLS();
    TFakeSmtpServer server({{"S:220 fake\r\n", "R", "S:250-fake\r\n250 STARTTLS\r\n", "R",
                                "S:220 go ahead\r\n", "TLS", "R", "S:250 fake\r\n"},
        {"S:220 fake\r\n", "R", "S:250 fake\r\n", "R", "S:550 no\r\n", "W"}});
    TMailSettings s = Settings(server.Port());
    s.SSL = true;
    TMailObjects objects;
    EXPECT_EQ(Deliver(objects, s), "Mail from address(es) error");
    // Writing into the dead secured connection must not raise SIGPIPE.
    bool sent = true;
    for (int i = 0; i < 5 && sent; ++i) {
        sent = objects.SMTP.Sock().SendAll(QByteArray("NOOP\r\n"), objects.SMTP.Timeout);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_FALSE(sent);
    // The next session closes the old one (its close_notify meets a closed socket) and goes on.
    s.SSL = false;
    EXPECT_EQ(Deliver(objects, s), "Mail from address(es) error");
    objects.SMTP.Sock().Close();
    server.Received();
}

// The program ending while the server holds the TLS handshake: the handshake's wait ends at the cancel
// like every other wait of the session, long before the time-out.
TEST(SmtpStartTls, CancelEndsAHandshakeTheServerHolds)
{
    SKIP_WITHOUT_TLS();
    const std::string previous = std::setlocale(LC_MESSAGES, nullptr);
    std::setlocale(LC_MESSAGES, "C");
    TFakeSmtpServer server(
        {{"S:220 fake\r\n", "R", "S:250-fake\r\n250 STARTTLS\r\n", "R", "S:220 go ahead\r\n", "P:2000"}});
    TMailSettings s = Settings(server.Port());
    s.SSL = true;
    s.TimeOut = 10000;
    TMailObjects objects;
    const auto start = std::chrono::steady_clock::now();
    std::thread stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        objects.Cancel.Trigger();
    });
    EXPECT_EQ(Deliver(objects, s), "Operation canceled");
    const auto waited = std::chrono::steady_clock::now() - start;
    stopper.join();
    EXPECT_GE(waited, std::chrono::milliseconds(300));
    EXPECT_LT(waited, std::chrono::milliseconds(1500));
    objects.SMTP.Sock().Close();
    EXPECT_EQ(server.Received()[0], (TLines{Ehlo(), "STARTTLS"}));
    std::setlocale(LC_MESSAGES, previous.c_str());
}

// ReadReply over a socket pair. With packets every send is exactly one read of the client (up to
// its read size); a stream carries lines longer than one read.
struct TReplyPipe
{
    TSMTPSend smtp;
    int peer = -1;
    explicit TReplyPipe(int timeoutMs, int type = SOCK_SEQPACKET)
    {
        int fds[2];
        if (::socketpair(AF_UNIX, type | SOCK_CLOEXEC, 0, fds) != 0)
            throw std::runtime_error("socketpair");
        smtp.Sock().Attach(fds[0]);
        smtp.Timeout = timeoutMs;
        peer = fds[1];
    }
    ~TReplyPipe() { ::close(peer); }
    void Send(const std::string &packet)
    {
        ASSERT_EQ(::send(peer, packet.data(), packet.size(), 0), ssize_t(packet.size()));
    }
};

TEST(SmtpReply, LineEndsOfEveryKindEvenSplitAcrossReads)
{
    TReplyPipe pipe(1000);
    for (const char *packet : {"250-a\r", "\n250-b\n", "\r250-c\r", "250-d\n\r250 e", "\r\n"})
        pipe.Send(packet);
    EXPECT_EQ(pipe.smtp.ReadReply(), 250);
    EXPECT_EQ(
        pipe.smtp.FullResult, (QStringList{u"250-a"_s, u"250-b"_s, u"250-c"_s, u"250-d"_s, u"250 e"_s}));
    EXPECT_EQ(pipe.smtp.ResultString, QStringLiteral("250 e"));

    pipe.Send("220 next\r\nleft over\r\n");
    EXPECT_EQ(pipe.smtp.ReadReply(), 220);
    EXPECT_EQ(pipe.smtp.ReadReply(), 0); // "lef" is no number
    EXPECT_EQ(pipe.smtp.FullResult, QStringList{u"left over"_s});
}

TEST(SmtpReply, CodesFromTheFirstLine)
{
    const std::pair<const char *, int> cases[] = {
        {"354 go\r\n", 354},
        {"25\r\n", 0},
        {"2x0 odd\r\n", 0},
        {"-50 neg\r\n", 0},
        {"250\r\n", 250},
        {"\r\n", 0},
        {"599-a\r\n250 b\r\n", 599},
        {"250 a-b\r\n", 250},
    };
    for (const auto &[text, code] : cases) {
        TReplyPipe pipe(1000);
        pipe.Send(text);
        EXPECT_EQ(pipe.smtp.ReadReply(), code) << text;
    }
}

TEST(SmtpReply, OversizedEndlessOrTricklingRepliesFailWithCodeZero)
{
    {
        TReplyPipe pipe(1000, SOCK_STREAM);
        pipe.Send("250 " + std::string(8188, 'x') + "\r\n"); // 8192 characters: still accepted
        EXPECT_EQ(pipe.smtp.ReadReply(), 250);
        pipe.Send("250 " + std::string(8189, 'x') + "\r\n");
        EXPECT_EQ(pipe.smtp.ReadReply(), 0);
    }
    {
        TReplyPipe pipe(1000, SOCK_STREAM);
        for (int i = 0; i < 3; ++i)
            pipe.Send(std::string(4000, 'y')); // no line end ever
        EXPECT_EQ(pipe.smtp.ReadReply(), 0);
    }
    {
        TReplyPipe pipe(1000);
        std::string hundred;
        for (int i = 0; i < 99; ++i)
            hundred += "250-cap\r\n";
        pipe.Send(hundred + "250 last\r\n");
        EXPECT_EQ(pipe.smtp.ReadReply(), 250);
        EXPECT_EQ(pipe.smtp.FullResult.size(), 100);
        pipe.Send(hundred + "250-one too many\r\n250 last\r\n");
        EXPECT_EQ(pipe.smtp.ReadReply(), 0);
    }
    {
        // Pieces every 30 ms keep each wait short, but the reply as a whole overruns 10 x 50 ms.
        TReplyPipe pipe(50);
        std::thread trickle([&] {
            for (int i = 0; i < 40; ++i) {
                pipe.Send("250-slow\r\n");
                std::this_thread::sleep_for(std::chrono::milliseconds(30));
            }
        });
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(pipe.smtp.ReadReply(), 0);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1000));
        trickle.join();
    }
    {
        // A reply cut off after its first line is no reply either.
        TReplyPipe pipe(100);
        pipe.Send("250-first\r\n");
        EXPECT_EQ(pipe.smtp.ReadReply(), 0);
    }
}

} // namespace
