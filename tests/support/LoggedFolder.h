#pragma once
// A folder of the test's own made the current folder, with the program's event log open in it as the
// process's log: what an engine, a session or a window writes there lands in it and nowhere else. The
// previous folder comes back, and the log closes, when it goes; declared before what writes to the log, it
// outlives it.
#include "platform/Logger.h"
#include <memory>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

class TLoggedFolder
{
public:
    TLoggedFolder()
    {
        if (!dir.isValid())
            return;
        QDir::setCurrent(dir.path());
        log = std::make_unique<TLogger>(QStringLiteral("ZYRdenetleyici.log"));
        Logger = log.get();
    }
    ~TLoggedFolder()
    {
        if (Logger == log.get())
            Logger = nullptr;
        log.reset();
        QDir::setCurrent(oldDir);
    }
    TLoggedFolder(const TLoggedFolder &) = delete;
    TLoggedFolder &operator=(const TLoggedFolder &) = delete;

    // An empty log in place of the one written so far, for the next row of a table of cases.
    void FreshLog()
    {
        Logger = nullptr;
        log.reset();
        QFile::remove(dir.filePath(QStringLiteral("ZYRdenetleyici.log")));
        log = std::make_unique<TLogger>(QStringLiteral("ZYRdenetleyici.log"));
        Logger = log.get();
    }

    bool isValid() const { return log != nullptr; }
    QString path() const { return dir.path(); }
    QString filePath(const QString &Name) const { return dir.filePath(Name); }

private:
    QString oldDir = QDir::currentPath();
    QTemporaryDir dir;
    std::unique_ptr<TLogger> log;
};
