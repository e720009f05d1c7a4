#pragma once
#include "platform/Socket.h"
#include <memory>
#include <QString>
#include <QStringList>

// The TLS layer of the build: OpenSSL when the program is built with it, otherwise the null layer.
std::unique_ptr<TSSLBase> CreateDefaultSSL();

// SMTP client: one session per mail, optional STARTTLS and authentication.
class TSMTPSend
{
public:
    // The platform's own connect would wait two minutes with the window frozen.
    static constexpr int kConnectTimeoutMs = 21000;
    // Longest reply accepted, and the whole reply's time budget in units of Timeout: a hostile or
    // broken server must not hold the window with endless or trickling input.
    static constexpr int kMaxReplyLines = 100;
    static constexpr int kReplyTimeoutFactor = 10;

    TSMTPSend();

    QString TargetHost;
    QString TargetPort = QStringLiteral("25");
    int Timeout = 60000;
    QString UserName;
    QString Password;
    QString SystemName;
    bool AutoTLS = false;
    bool FullSSL = false;

    int ResultCode = 0;
    QString ResultString;
    QStringList FullResult;
    QStringList ESMTPcap;
    bool ESMTP = true;
    bool AuthDone = false;
    bool ESMTPSize = false;
    int MaxSize = 0;

    TTcpSocket &Sock() { return sock; }

    bool OpenSession();
    bool SendSender(const QString &address, qint64 size);
    bool SendRecipient(const QString &address);
    bool SendContent(const QStringList &lines);
    bool CloseSession();
    int ReadReply();
    QString FindCapability(const QString &name) const;
    // The system's text for the connection's last error; empty when the last step met none.
    QString SocketErrorText() const;

private:
    bool Send(const QString &line);
    int Command(const QString &line);
    void FillCapabilities();
    bool AuthCramMD5();
    bool AuthPlain();
    bool AuthLogin();

    TTcpSocket sock;
};

QByteArray MailBase64Encode(const QByteArray &data);
QByteArray MailBase64Decode(const QByteArray &text);
QByteArray HmacMd5(const QByteArray &key, const QByteArray &message);
