#pragma once
#include "platform/Logger.h"
#include "records/SystemList.h"
#include "store/Settings.h"
#include <arpa/inet.h>
#include <memory>
#include <netinet/in.h>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <sys/socket.h>
#include <unistd.h>

// A loopback port nobody listens on.
inline int ClosedPort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a);
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len);
    ::close(fd);
    return int(ntohs(a.sin_port));
}

// The event log in a temporary folder, installed as the program's log while it lives.
class TTestLog
{
public:
    TTestLog()
        : file(dir.filePath(QStringLiteral("ZYRdenetleyici.log")))
        , logger(std::make_unique<TLogger>(file))
    {
        Logger = logger.get();
    }
    ~TTestLog() { Logger = nullptr; }
    QString Text() const
    {
        QFile f(file);
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    }
    // The texts of the lines, without their time stamps.
    QStringList Lines() const
    {
        QStringList out;
        static const QRegularExpression stamp(QStringLiteral("^.*?\\d\\d:\\d\\d:\\d\\d\\S* "));
        for (QString line : Text().split(QStringLiteral("\r\n"), Qt::SkipEmptyParts))
            out.append(line.remove(stamp));
        return out;
    }

private:
    QTemporaryDir dir;
    QString file;
    std::unique_ptr<TLogger> logger;
};

struct TRow
{
    const char *select;
    const char *name;
    const char *ip;
    const char *email;
    const char *deviceCnt;
    int state;
    QString details;
    bool plus;
};

inline void AddRow(TSystemList &list, const TRow &row)
{
    TSystemRecord r;
    r.Cells = {QString::fromUtf8(row.select), QString::fromUtf8(row.name), QString::fromUtf8(row.ip),
        QString::fromUtf8(row.email), QString::fromUtf8(row.deviceCnt), QString::number(row.state),
        row.details, QStringLiteral("10.12.2026 05:30:00"),
        row.plus ? QStringLiteral("-1") : QStringLiteral("0")};
    list.Add(r);
}

// Mail settings aimed at a loopback port, with the given addresses (ticked when they start with '+').
inline void AimSettings(TLiveSettings &settings, int port, const QStringList &addresses)
{
    settings.Host = QStringLiteral("127.0.0.1");
    settings.Port = port;
    settings.From = QStringLiteral("zyr@example.com");
    settings.TimeOut = 3000;
    settings.Emails.Clear();
    for (const QString &a : addresses) {
        const bool ticked = a.startsWith(QLatin1Char('+'));
        const int index = settings.Emails.Add(ticked ? a.mid(1) : a);
        settings.Emails.SetChecked(index, ticked);
    }
}

// Decodes a quoted-printable body (lines joined by CR LF).
inline QByteArray QpDecode(const QStringList &lines)
{
    QByteArray out;
    for (const QString &line : lines) {
        const QByteArray l = line.toLatin1();
        bool soft = false;
        for (qsizetype i = 0; i < l.size(); ++i) {
            if (l[i] == '=' && i + 2 < l.size() + 0 && i + 2 <= l.size() - 1) {
                out.append(char(QByteArray::fromHex(l.mid(i + 1, 2)).at(0)));
                i += 2;
            } else if (l[i] == '=' && i == l.size() - 1) {
                soft = true;
            } else {
                out.append(l[i]);
            }
        }
        if (!soft)
            out.append("\r\n");
    }
    return out;
}
