#pragma once
#include "platform/Format.h"
#include <mutex>
#include <QByteArray>
#include <QDateTime>
#include <QString>

// The event log: one time-stamped line per event, appended to a text file. Any thread may log.
class TLogger
{
public:
    explicit TLogger(const QString &FileName);
    ~TLogger();
    TLogger(const TLogger &) = delete;
    TLogger &operator=(const TLogger &) = delete;

    void Log(const QString &Text);
    template <typename... Args>
    void LogFmt(TFormatString<std::type_identity_t<Args>...> Fmt, const Args &...args)
    {
        Log(Format<Args...>(Fmt, args...));
    }
    bool Active() const { return fd >= 0; }

    // The time stamp of a line: short date, blank, long time; the time is left out at 00:00:00.
    static QString TimeStamp(const QDateTime &when);
    // Its formats, the user's, asked of the system once; a reader of the log parses with the same ones.
    static const QString &StampDateFormat();
    static const QString &StampTimeFormat();

private:
    std::mutex lock;
    int fd = -1;
    friend class TLogBatch;
    void Write(const QByteArray &Lines);

    // The stamp of the second last logged in: a cycle logs thousands of lines a second, and formatting the
    // user's date and time cost more than writing the line.
    qint64 stampSecond = -1;
    QByteArray stampText;
};

// Holds the lines this thread logs while it lives and writes them with one write() when it ends: a pass of
// the event loop that handles thousands of results costs one system call, not two per result, and every line
// is in the file before the loop goes on. Other threads' lines are not held. Nested batches write at the end
// of the outermost.
class TLogBatch
{
public:
    TLogBatch();
    ~TLogBatch();
    TLogBatch(const TLogBatch &) = delete;
    TLogBatch &operator=(const TLogBatch &) = delete;
};

// The program-wide log; null until the program creates it, and then every call below is a no-op.
extern TLogger *Logger;

inline void Log(const QString &Text)
{
    if (Logger)
        Logger->Log(Text);
}
template <typename... Args> void LogFmt(TFormatString<std::type_identity_t<Args>...> Fmt, const Args &...args)
{
    if (Logger)
        Logger->Log(Format<Args...>(Fmt, args...));
}

inline constexpr const char *kErrorLogFormat = "Bir hata oluştu. Hata kodu: %d. %s";
inline void LogError(int code, const QString &message)
{
    LogFmt(kErrorLogFormat, code, message);
}
