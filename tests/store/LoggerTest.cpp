#include "platform/UserLocale.h"
#include "platform/Logger.h"
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <thread>
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

TEST(Logger, ReadOnlyFolderLeavesLoggerInactive)
{
    if (geteuid() == 0)
        GTEST_SKIP() << "root writes into read-only folders";
    QTemporaryDir dir;
    ASSERT_EQ(chmod(QFile::encodeName(dir.path()).constData(), 0555), 0);
    TLogger log(dir.filePath(QStringLiteral("ZYRdenetleyici.log")));
    EXPECT_FALSE(log.Active());
    log.Log(QStringLiteral("nothing")); // must not crash
    EXPECT_FALSE(QFile::exists(dir.filePath(QStringLiteral("ZYRdenetleyici.log"))));
    chmod(QFile::encodeName(dir.path()).constData(), 0755);
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
