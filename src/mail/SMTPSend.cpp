#include "mail/SMTPSend.h"
#include "platform/Charset.h"
#include <algorithm>
#include <cstring>
#include <unistd.h>
#ifdef ZYR_WITH_OPENSSL
#include "mail/SSLOpenSSL.h"
#include <openssl/evp.h>
#include <openssl/hmac.h>
#else
#include <QCryptographicHash>
#include <QMessageAuthenticationCode>
#endif

std::unique_ptr<TSSLBase> CreateDefaultSSL()
{
#ifdef ZYR_WITH_OPENSSL
    return std::make_unique<TSSLOpenSSL>();
#else
    return std::make_unique<TSSLNone>();
#endif
}

QByteArray MailBase64Encode(const QByteArray &data)
{
#ifdef ZYR_WITH_OPENSSL
    QByteArray out(4 * ((data.size() + 2) / 3) + 1, '\0');
    const int n = EVP_EncodeBlock(reinterpret_cast<unsigned char *>(out.data()),
        reinterpret_cast<const unsigned char *>(data.constData()), int(data.size()));
    out.resize(n);
    return out;
#else
    return data.toBase64();
#endif
}

QByteArray MailBase64Decode(const QByteArray &text)
{
#ifdef ZYR_WITH_OPENSSL
    const QByteArray in = text.trimmed();
    if (in.isEmpty() || in.size() % 4 != 0)
        return QByteArray::fromBase64(in); // lenient with a server's odd padding
    QByteArray out(3 * (in.size() / 4) + 1, '\0');
    const int n = EVP_DecodeBlock(reinterpret_cast<unsigned char *>(out.data()),
        reinterpret_cast<const unsigned char *>(in.constData()), int(in.size()));
    if (n < 0)
        return QByteArray::fromBase64(in);
    int padding = 0; // EVP_DecodeBlock counts the padding as zero bytes
    if (in.endsWith("=="))
        padding = 2;
    else if (in.endsWith('='))
        padding = 1;
    out.resize(n - padding);
    return out;
#else
    return QByteArray::fromBase64(text.trimmed());
#endif
}

QByteArray HmacMd5(const QByteArray &key, const QByteArray &message)
{
#ifdef ZYR_WITH_OPENSSL
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    HMAC(EVP_md5(), key.constData(), int(key.size()),
        reinterpret_cast<const unsigned char *>(message.constData()), size_t(message.size()), digest,
        &length);
    return QByteArray(reinterpret_cast<const char *>(digest), int(length));
#else
    return QMessageAuthenticationCode::hash(message, key, QCryptographicHash::Md5);
#endif
}

TSMTPSend::TSMTPSend()
{
    sock.SetSSL(CreateDefaultSSL());
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) == 0 && name[0])
        SystemName = QString::fromUtf8(name);
    else
        SystemName = QStringLiteral("127.0.0.1");
}

bool TSMTPSend::Send(const QString &line)
{
    // An address from the settings file could smuggle in a command of its own.
    if (line.contains(QLatin1Char('\r')) || line.contains(QLatin1Char('\n')))
        return false;
    return sock.SendAll(line.toUtf8() + "\r\n", std::max(Timeout, 0));
}

int TSMTPSend::Command(const QString &line)
{
    if (!Send(line)) {
        FullResult.clear();
        ResultString.clear();
        ResultCode = 0;
        return 0;
    }
    return ReadReply();
}

int TSMTPSend::ReadReply()
{
    FullResult.clear();
    ResultString.clear();
    ResultCode = 0;
    const auto deadline
        = TTcpSocket::TClock::now() + std::chrono::milliseconds(qint64(Timeout) * kReplyTimeoutFactor);
    bool failed = false;
    while (true) {
        QByteArray raw;
        if (!sock.ReadLine(raw, Timeout, deadline)) {
            failed = true;
            break;
        }
        ResultString = DecodeExternalText(raw);
        FullResult.append(ResultString);
        if (ResultString.indexOf(QLatin1Char('-')) != 3)
            break;
        if (FullResult.size() >= kMaxReplyLines) {
            failed = true;
            break;
        }
    }
    // A reply cut short by a time-out, a lost connection or an oversized line is no reply.
    if (failed || FullResult.isEmpty())
        return ResultCode = 0;
    const QString first = FullResult.first();
    if (first.size() >= 3) {
        int code = 0;
        for (int i = 0; i < 3 && code >= 0; ++i) {
            const char16_t c = first[i].unicode();
            code = c >= '0' && c <= '9' ? code * 10 + (c - '0') : -1;
        }
        ResultCode = code < 0 ? 0 : code;
    }
    return ResultCode;
}

QString TSMTPSend::SocketErrorText() const
{
    return sock.ErrorText();
}

QString TSMTPSend::FindCapability(const QString &name) const
{
    const QString wanted = name.toUpper();
    for (const QString &line : ESMTPcap)
        if (line.toUpper().startsWith(wanted))
            return line;
    return QString();
}

void TSMTPSend::FillCapabilities()
{
    ESMTPcap.clear();
    for (qsizetype i = 1; i < FullResult.size(); ++i)
        ESMTPcap.append(FullResult[i].mid(4));
}

bool TSMTPSend::OpenSession()
{
    ESMTP = true;
    AuthDone = false;
    ESMTPcap.clear();
    ESMTPSize = false;
    MaxSize = 0;

    if (!sock.ConnectAny(TargetHost, TargetPort, kConnectTimeoutMs))
        return false;
    if (FullSSL && !sock.StartTLS(Timeout))
        return false;
    if (ReadReply() != 220)
        return false;
    int code = Command(QStringLiteral("EHLO ") + SystemName);
    if (code < 250 || code > 259) {
        ESMTP = false;
        code = Command(QStringLiteral("HELO ") + SystemName);
        if (code < 250 || code > 259)
            return false;
    }
    if (!ESMTP)
        return true;
    FillCapabilities();

    if (!FullSSL && AutoTLS && !FindCapability(QStringLiteral("STARTTLS")).isEmpty()) {
        if (Command(QStringLiteral("STARTTLS")) != 220 || sock.LastError != 0)
            return false;
        if (!sock.StartTLS(Timeout))
            return false;
        Command(QStringLiteral("EHLO ") + SystemName);
        FillCapabilities();
    }

    if (!UserName.isEmpty() || !Password.isEmpty()) {
        QString s = FindCapability(QStringLiteral("AUTH "));
        if (s.isEmpty())
            s = FindCapability(QStringLiteral("AUTH="));
        s = s.toUpper();
        if (!s.isEmpty()) {
            if (s.contains(QStringLiteral("CRAM-MD5")))
                AuthDone = AuthCramMD5();
            if (!AuthDone && s.contains(QStringLiteral("PLAIN")))
                AuthDone = AuthPlain();
            if (!AuthDone && s.contains(QStringLiteral("LOGIN")))
                AuthDone = AuthLogin();
        }
    }

    const QString size = FindCapability(QStringLiteral("SIZE"));
    if (!size.isEmpty()) {
        ESMTPSize = true;
        bool ok = false;
        const int value = size.mid(5).trimmed().toInt(&ok);
        MaxSize = ok ? value : 0;
    }
    return true;
}

bool TSMTPSend::AuthCramMD5()
{
    if (Command(QStringLiteral("AUTH CRAM-MD5")) != 334)
        return false;
    const QByteArray challenge = MailBase64Decode(ResultString.mid(4).toUtf8());
    const QByteArray digest = HmacMd5(Password.toUtf8(), challenge).toHex();
    const QByteArray answer = UserName.toUtf8() + ' ' + digest;
    return Command(QString::fromLatin1(MailBase64Encode(answer))) == 235;
}

bool TSMTPSend::AuthPlain()
{
    const QByteArray token
        = QByteArray(1, '\0') + UserName.toUtf8() + QByteArray(1, '\0') + Password.toUtf8();
    return Command(QStringLiteral("AUTH PLAIN ") + QString::fromLatin1(MailBase64Encode(token))) == 235;
}

bool TSMTPSend::AuthLogin()
{
    if (Command(QStringLiteral("AUTH LOGIN")) != 334)
        return false;
    if (Command(QString::fromLatin1(MailBase64Encode(UserName.toUtf8()))) != 334)
        return false;
    return Command(QString::fromLatin1(MailBase64Encode(Password.toUtf8()))) == 235;
}

bool TSMTPSend::SendSender(const QString &address, qint64 size)
{
    QString line = QStringLiteral("MAIL FROM:<") + address + QLatin1Char('>');
    if (ESMTPSize && size > 0)
        line += QStringLiteral(" SIZE=") + QString::number(size);
    return Command(line) / 100 == 2;
}

bool TSMTPSend::SendRecipient(const QString &address)
{
    return Command(QStringLiteral("RCPT TO:<") + address + QLatin1Char('>')) / 100 == 2;
}

bool TSMTPSend::SendContent(const QStringList &lines)
{
    if (Command(QStringLiteral("DATA")) != 354)
        return false;
    const int sendLimit = std::max(Timeout, 0);
    QByteArray block;
    for (const QString &text : lines) {
        QByteArray line = text.toUtf8();
        if (line.startsWith('.'))
            line.prepend('.');
        if (block.size() + line.size() >= 1500) {
            if (!block.isEmpty() && !sock.SendAll(block, sendLimit))
                return false;
            block.clear();
        }
        block += line + "\r\n";
    }
    if (!block.isEmpty() && !sock.SendAll(block, sendLimit))
        return false;
    return Command(QStringLiteral(".")) / 100 == 2;
}

bool TSMTPSend::CloseSession()
{
    const bool ok = Command(QStringLiteral("QUIT")) == 221;
    sock.Close();
    return ok;
}
