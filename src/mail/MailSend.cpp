#include "mail/MailSend.h"
#include "platform/Errors.h"
#include "platform/Logger.h"
#include "platform/SettingRules.h"
#include "store/Settings.h"
#include <cerrno>
#include <cstring>

void SendMail(
    TMailObjects &Objects, const TMailSettings &Settings, const TMailText &Text, const QString &Recipient)
{
    const QString &Subject = Text.Subject;
    TSMTPSend &smtp = Objects.SMTP;
    TMimeMess &mime = Objects.Mime;
    smtp.TargetHost = Settings.Host;
    smtp.TargetPort = QString::number(Settings.Port);
    smtp.UserName = Settings.Username;
    smtp.Password = Settings.Password;
    smtp.Timeout = Settings.TimeOut;
    smtp.AutoTLS = Settings.SSL;
    smtp.FullSSL = false;

    mime.Header.Subject = Subject;
    mime.Header.Date = QDateTime::currentDateTime();
    mime.Header.XMailer = QStringLiteral("Dorvanek");
    mime.Header.CharsetCode = TMimeChar::ISO_8859_9;
    mime.Header.From = Settings.From;

    QString to = Recipient;
    if (to.isEmpty())
        to = Settings.To.section(QLatin1Char(','), 0, 0);
    mime.Header.ToList.clear();
    mime.Header.ToList.append(to);

    mime.SetHtmlBody(Text.Body);
    mime.ComposeMessage();

    LogFmt("E-posta şu adres(ler)e gönderilecek: %s", to);
    if (!Subject.contains(QStringLiteral("test"))) {
        QString content;
        for (const QString &line : Text.Summary)
            content += line + QStringLiteral("\r\n");
        LogFmt("E-posta içeriği: \r\n%s", content);
    }

    if (!smtp.OpenSession()) {
        // A mail cut short because the program is ending did not fail at authentication.
        if (Objects.Cancel.Triggered()) {
            char buffer[256];
            throw EZyrError(QString::fromLocal8Bit(::strerror_r(ECANCELED, buffer, sizeof buffer)));
        }
        throw EZyrError(QStringLiteral("Authentication error"));
    }
    // Asked for a secured channel and not offered one: the mail still goes, and the operator can see how.
    if (Settings.SSL && !smtp.Sock().TlsActive())
        LogFmt("Sunucu STARTTLS desteklemiyor, e-posta şifrelenmeden gönderiliyor: %s", Settings.Host);
    qint64 size = 0;
    for (const QString &line : mime.Lines)
        size += line.toUtf8().size() + 2;
    if (!smtp.SendSender(Settings.From, size))
        throw EZyrError(QStringLiteral("Mail from address(es) error"));
    if (!smtp.SendRecipient(to))
        throw EZyrError(QStringLiteral("Mail to address error:") + to);
    if (!smtp.SendContent(mime.Lines)) {
        // A connection lost under the message leaves no reply to it, only the server's "354" before.
        if (const QString failure = smtp.SocketErrorText(); !failure.isEmpty())
            throw EZyrError(failure);
        QString reply;
        for (const QString &line : smtp.FullResult)
            reply += line + QStringLiteral("\r\n");
        throw EZyrError(reply);
    }
    smtp.CloseSession();
}

TMailSettings MailSettingsOf(const TLiveSettings &Settings)
{
    TMailSettings m;
    m.Host = Settings.Host;
    m.Port = Settings.Port;
    m.Username = Settings.Username;
    m.Password = Settings.Password;
    m.SSL = Settings.SSL;
    m.From = Settings.From;
    m.To = Settings.To();
    m.TimeOut = EffectiveTimeOut(Settings.TimeOut);
    return m;
}
