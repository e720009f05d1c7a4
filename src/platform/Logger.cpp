#include "platform/Logger.h"
#include "platform/UserLocale.h"
#include <fcntl.h>
#include <QFile>
#include <QLocale>
#include <QRegularExpression>
#include <unistd.h>

TLogger *Logger = nullptr;

namespace {
// The lines of the thread's open batch, and the logger they are for.
struct THeldLines
{
    int Depth = 0;
    TLogger *Owner = nullptr;
    QByteArray Lines;
};
thread_local THeldLines held;
} // namespace

TLogger::TLogger(const QString &FileName)
{
    // O_APPEND puts every write at the end, also after lines another process wrote meanwhile.
    fd = ::open(QFile::encodeName(FileName).constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
}

TLogger::~TLogger()
{
    if (held.Owner == this) {
        Write(held.Lines);
        held.Lines.resize(0);
        held.Owner = nullptr;
    }
    std::lock_guard guard(lock);
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

const QString &TLogger::StampDateFormat()
{
    static const QString format = UserLocale().dateFormat(QLocale::ShortFormat);
    return format;
}

const QString &TLogger::StampTimeFormat()
{
    // Qt's long time format names the time zone; the log wants the clock time alone.
    static const QString format = [] {
        QString f = UserLocale().timeFormat(QLocale::LongFormat);
        f.remove(QRegularExpression(QStringLiteral("\\s*\\bt+\\b\\s*")));
        return f.trimmed();
    }();
    return format;
}

QString TLogger::TimeStamp(const QDateTime &when)
{
    // The user's formats, asked of the system once: asking cost more than writing the line, and a cycle
    // over thousands of systems logs two lines per check on the window's thread.
    static const QLocale locale = UserLocale();
    const QString &dateFormat = StampDateFormat();
    const QString &timeFormat = StampTimeFormat();
    QString text = locale.toString(when.date(), dateFormat);
    const QTime t = when.time();
    if (t.hour() == 0 && t.minute() == 0 && t.second() == 0)
        return text;
    return text + QLatin1Char(' ') + locale.toString(t, timeFormat);
}

void TLogger::Log(const QString &Text)
{
    if (fd < 0)
        return;
    const QByteArray text = Text.toUtf8();
    QByteArray stamp;
    {
        std::lock_guard guard(lock);
        if (fd < 0)
            return;
        if (const qint64 second = QDateTime::currentSecsSinceEpoch(); second != stampSecond) {
            stampSecond = second;
            stampText = TimeStamp(QDateTime::fromSecsSinceEpoch(second)).toUtf8() + ' ';
        }
        if (held.Depth == 0) {
            const QByteArray line = stampText + text + "\r\n";
            qsizetype done = 0;
            while (done < line.size()) {
                const ssize_t n = ::write(fd, line.constData() + done, size_t(line.size() - done));
                if (n <= 0)
                    return; // a failed write is not reported
                done += n;
            }
            return;
        }
        stamp = stampText;
    }
    if (held.Owner != this && held.Owner) {
        // Lines for another log (a test switching logs): the held ones go first, in order.
        held.Owner->Write(held.Lines);
        held.Lines.resize(0);
    }
    held.Owner = this;
    held.Lines += stamp;
    held.Lines += text;
    held.Lines += "\r\n";
}

void TLogger::Write(const QByteArray &Lines)
{
    std::lock_guard guard(lock);
    qsizetype done = 0;
    while (fd >= 0 && done < Lines.size()) {
        const ssize_t n = ::write(fd, Lines.constData() + done, size_t(Lines.size() - done));
        if (n <= 0)
            return; // a failed write is not reported
        done += n;
    }
}

TLogBatch::TLogBatch()
{
    ++held.Depth;
}

TLogBatch::~TLogBatch()
{
    if (--held.Depth > 0 || !held.Owner)
        return;
    held.Owner->Write(held.Lines);
    held.Lines.resize(0); // keeps its room for the next pass
    held.Owner = nullptr;
}
