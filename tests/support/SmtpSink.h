#pragma once
// A real SMTP server (aiosmtpd) on a loopback port chosen by the kernel, for tests of the mail path.
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QStringList>

class TSmtpSink
{
public:
    // Each received message is stored as Folder/<n>.eml, its envelope recipients as Folder/<n>.rcpt.
    explicit TSmtpSink(const QString &Folder)
        : folder(Folder)
    {
        QDir().mkpath(folder);
        process.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral(ZYR_SMTP_SINK), folder});
        if (process.waitForReadyRead(15000))
            port = process.readLine().trimmed().toInt();
    }
    ~TSmtpSink() { Stop(); }
    TSmtpSink(const TSmtpSink &) = delete;
    TSmtpSink &operator=(const TSmtpSink &) = delete;

    void Stop()
    {
        process.kill();
        process.waitForFinished();
    }
    int Port() const { return port; }
    QStringList Recipients() const
    {
        QStringList found;
        for (QDirIterator it(folder, {QStringLiteral("*.rcpt")}); it.hasNext();) {
            QFile file(it.next());
            if (file.open(QIODevice::ReadOnly))
                found << QString::fromUtf8(file.readAll());
        }
        return found;
    }
    // The n-th message as it arrived (from 1); empty when there is none.
    QByteArray Message(int N) const
    {
        QFile file(QDir(folder).filePath(QStringLiteral("%1.eml").arg(N)));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

private:
    QString folder;
    QProcess process;
    int port = 0;
};
