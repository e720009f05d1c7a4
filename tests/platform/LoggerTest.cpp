#include "platform/Logger.h"
#include "platform/UserLocale.h"
#include <cstdio>
#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {
QByteArray ReadAll(const QString &path)
{
    QFile f(path);
    f.open(QIODevice::ReadOnly);
    return f.readAll();
}
} // namespace

TEST(Logger, CreatesThenAppendsAcrossRuns)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("ZYRdenetleyici.log"));
    {
        TLogger log(path);
        ASSERT_TRUE(log.Active());
        log.Log(QStringLiteral("Program açıldı"));
    }
    {
        TLogger log(path);
        log.LogFmt("Denetleme bitti. IP: %s Sonuç: %s", "srv1", QStringLiteral("Çalışıyor"));
    }
    const QList<QByteArray> lines = ReadAll(path).split('\n');
    ASSERT_EQ(lines.size(), 3); // two lines and the empty rest after the last LF
    EXPECT_TRUE(lines[0].endsWith(QStringLiteral(" Program açıldı\r").toUtf8()));
    EXPECT_TRUE(lines[1].endsWith(QStringLiteral(" Denetleme bitti. IP: srv1 Sonuç: Çalışıyor\r").toUtf8()));
    EXPECT_TRUE(lines[2].isEmpty());
}

TEST(Logger, ErrorLineFormat)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("x.log"));
    TLogger log(path);
    log.LogFmt(kErrorLogFormat, 10005, QStringLiteral("M"));
    const QByteArray line = ReadAll(path);
    EXPECT_TRUE(line.endsWith(QStringLiteral(" Bir hata oluştu. Hata kodu: 10005. M\r\n").toUtf8()));
    EXPECT_FALSE(line.startsWith(' '));
}

TEST(Logger, TimeStampLeavesOutMidnight)
{
    const QDate d(2026, 12, 10);
    const QString midnight = TLogger::TimeStamp(QDateTime(d, QTime(0, 0, 0, 500)));
    EXPECT_EQ(midnight, UserLocale().toString(d, UserLocale().dateFormat(QLocale::ShortFormat)));
    EXPECT_FALSE(midnight.contains(QLatin1String("Dec"))); // numeric, also without regional settings
    const QString later = TLogger::TimeStamp(QDateTime(d, QTime(0, 0, 1)));
    EXPECT_TRUE(later.startsWith(midnight + QLatin1Char(' ')));
    EXPECT_GT(later.size(), midnight.size() + 1);
}

// Root writes into read-only folders, so as root the logger runs in a child process that has become
// nobody.
TEST(Logger, ReadOnlyFolderLeavesLoggerInactive)
{
    QTemporaryDir dir;
    const QByteArray folder = QFile::encodeName(dir.path());
    ASSERT_EQ(chmod(folder.constData(), 0555), 0);
    const QString path = dir.filePath(QStringLiteral("ZYRdenetleyici.log"));
    enum
    {
        Fine,
        Unreachable,
        Active,
        Written,
        NoNobody
    };
    const auto check = [&] {
        if (access(folder.constData(), R_OK | X_OK) != 0)
            return Unreachable; // it would be inactive for the wrong reason
        TLogger log(path);
        if (log.Active())
            return Active;
        log.Log(QStringLiteral("nothing")); // must not crash
        return QFile::exists(path) ? Written : Fine;
    };
    int result = Fine;
    if (geteuid() != 0) {
        result = check();
    } else if (const passwd *nobody = getpwnam("nobody"); !nobody) {
        result = NoNobody;
    } else {
        const pid_t pid = fork();
        if (pid == 0) {
            if (setgroups(0, nullptr) != 0 || setgid(nobody->pw_gid) != 0 || setuid(nobody->pw_uid) != 0
                || geteuid() == 0)
                _exit(NoNobody);
            _exit(check());
        }
        int status = 0;
        ASSERT_TRUE(pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status)) << "the child as nobody";
        result = WEXITSTATUS(status);
    }
    chmod(folder.constData(), 0755);
    if (result == NoNobody) {
        std::fprintf(stderr, "\n*** SKIPPED: root could not become nobody to meet a read-only folder ***\n");
        GTEST_SKIP() << "SKIPPED: root could not become nobody";
    }
    EXPECT_NE(result, Unreachable) << "the temporary folder is out of the test user's reach: "
                                   << folder.constData();
    EXPECT_NE(result, Active) << "the logger opened a file in a read-only folder";
    EXPECT_NE(result, Written) << "the logger wrote into a read-only folder";
    EXPECT_EQ(result, Fine);
}

TEST(Logger, UnopenablePathLeavesLoggerInactive)
{
    QTemporaryDir dir;
    TLogger log(dir.filePath(QStringLiteral("missing/folder/ZYRdenetleyici.log")));
    EXPECT_FALSE(log.Active());
    log.Log(QStringLiteral("nothing"));
}

TEST(Logger, LinesFromManyThreadsStayWhole)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("t.log"));
    {
        TLogger log(path);
        TLogger other(path); // a second writer on the same file, as another process would be
        std::vector<std::thread> threads;
        for (int t = 0; t < 8; ++t)
            threads.emplace_back([&, t] {
                for (int i = 0; i < 200; ++i)
                    (t % 2 ? other : log).LogFmt("thread %d line %d xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx", t, i);
            });
        for (auto &th : threads)
            th.join();
    }
    const QList<QByteArray> lines = ReadAll(path).split('\n');
    ASSERT_EQ(lines.size(), 8 * 200 + 1);
    for (int i = 0; i < lines.size() - 1; ++i)
        ASSERT_TRUE(lines[i].endsWith("xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx\r")) << lines[i].constData();
}

// A batch holds the lines its thread logs and writes them, in order and byte for byte as single lines
// would be, when the outermost batch ends; lines of other threads are not held.
TEST(Logger, BatchWritesItsThreadsLinesAtItsEnd)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("b.log"));
    const QString single = dir.filePath(QStringLiteral("s.log"));
    TLogger log(path);
    {
        TLogger one(single);
        one.Log(QStringLiteral("Denetleme başladı. IP: 127.0.0.1"));
    }
    {
        TLogBatch outer;
        log.Log(QStringLiteral("Denetleme başladı. IP: 127.0.0.1"));
        {
            TLogBatch inner;
            log.Log(QStringLiteral("iki"));
        }
        EXPECT_EQ(ReadAll(path), QByteArray()) << "written before the outer batch ended";
        std::thread([&] { log.Log(QStringLiteral("başka iş parçacığı")); }).join();
        EXPECT_TRUE(ReadAll(path).endsWith(QStringLiteral(" başka iş parçacığı\r\n").toUtf8()));
        log.Log(QStringLiteral("üç"));
    }
    const QList<QByteArray> lines = ReadAll(path).split('\n');
    ASSERT_EQ(lines.size(), 5);
    EXPECT_TRUE(lines[0].endsWith(QStringLiteral(" başka iş parçacığı\r").toUtf8()));
    // Same stamp format and line end as a line written alone (the second may have turned meanwhile).
    const QByteArray alone = ReadAll(single);
    EXPECT_EQ(lines[1].size() + 1, alone.size()) << lines[1].constData() << " / " << alone.constData();
    EXPECT_TRUE(lines[1].endsWith(" Denetleme başladı. IP: 127.0.0.1\r"));
    EXPECT_TRUE(lines[2].endsWith(" iki\r"));
    EXPECT_TRUE(lines[3].endsWith(QStringLiteral(" üç\r").toUtf8()));
    EXPECT_TRUE(lines[4].isEmpty());
}
