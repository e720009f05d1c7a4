#pragma once
// A real SMTP server (aiosmtpd) on a loopback port chosen by the kernel, for tests of the mail path.
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QStringList>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

class TSmtpSink
{
public:
    // Each received message is stored as Folder/<n>.eml, its envelope recipients as Folder/<n>.rcpt.
    explicit TSmtpSink(const QString &Folder)
        : folder(Folder)
    {
        QDir().mkpath(folder);
        // Started with posix_spawn rather than QProcess: Qt's own process start clones the address space in
        // a way ThreadSanitizer cannot follow, after which it misses the test's locks.
        // Its standard input is a pipe only this process writes to: when the test dies (a sanitizer's halt),
        // the sink sees the end and goes too, instead of holding the test runner's output open.
        int out[2], in[2];
        if (pipe2(out, O_CLOEXEC) != 0)
            return;
        if (pipe2(in, O_CLOEXEC) != 0) {
            close(out[0]);
            close(out[1]);
            return;
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
        const QByteArray script(ZYR_SMTP_SINK), where = folder.toLocal8Bit();
        char *argv[] = {const_cast<char *>("/usr/bin/python3"), const_cast<char *>(script.constData()),
            const_cast<char *>(where.constData()), nullptr};
        if (posix_spawn(&pid, argv[0], &actions, nullptr, argv, environ) != 0)
            pid = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        close(in[0]);
        lifeline = in[1];
        // The sink prints its port once it listens.
        QByteArray line;
        pollfd wait{out[0], POLLIN, 0};
        char c = 0;
        while (pid > 0 && !line.endsWith('\n') && poll(&wait, 1, 15000) > 0 && read(out[0], &c, 1) == 1)
            line += c;
        close(out[0]);
        port = line.trimmed().toInt();
    }
    ~TSmtpSink() { Stop(); }
    TSmtpSink(const TSmtpSink &) = delete;
    TSmtpSink &operator=(const TSmtpSink &) = delete;

    void Stop()
    {
        if (lifeline >= 0)
            close(lifeline);
        lifeline = -1;
        if (pid <= 0)
            return;
        kill(pid, SIGKILL);
        while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) { }
        pid = -1;
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
    pid_t pid = -1;
    int port = 0;
    int lifeline = -1;
};
