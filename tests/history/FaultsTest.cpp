// Faults of the disk and the file never cost monitoring: each kind is logged once, recovery is logged, a
// damaged file is moved aside, and a kill loses at most the cycle under way. On real file systems.
#include "../support/PrivateMount.h"
#include "HistoryFixture.h"
#include <csignal>
#include <gtest/gtest.h>
#include <QDir>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>

namespace {
std::vector<THistoryResult> Cycle(qint64 time, int systems, int first = 0)
{
    std::vector<THistoryResult> results;
    for (int i = first; i < first + systems; ++i) {
        const QByteArray address = "10." + QByteArray::number(i / 65536) + '.'
            + QByteArray::number(i / 256 % 256) + '.' + QByteArray::number(i % 256);
        results.push_back(Result(address.constData(), time, i % 7 == 0 ? 1 : 3));
    }
    return results;
}

QString Integrity(const QString &path)
{
    sqlite3 *db = nullptr;
    sqlite3_open_v2(path.toUtf8().constData(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt *s = nullptr;
    QString answer;
    if (sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &s, nullptr) == SQLITE_OK
        && sqlite3_step(s) == SQLITE_ROW)
        answer = QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(s, 0)));
    sqlite3_finalize(s);
    sqlite3_close(db);
    return answer;
}

// One figure from the database file.
qint64 Figure(const QString &path, const char *sql)
{
    sqlite3 *db = nullptr;
    sqlite3_open_v2(path.toUtf8().constData(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt *s = nullptr;
    qint64 n = -1;
    if (sqlite3_prepare_v2(db, sql, -1, &s, nullptr) == SQLITE_OK && sqlite3_step(s) == SQLITE_ROW)
        n = sqlite3_column_int64(s, 0);
    sqlite3_finalize(s);
    sqlite3_close(db);
    return n;
}

qint64 TotalResults(const QString &path)
{
    return Figure(path,
        "SELECT (SELECT TOTAL(n0+n1+n2+n3+n4+n5+n6+n7) FROM periods)"
        " + (SELECT TOTAL(n0+n1+n2+n3+n4+n5+n6+n7) FROM recent)");
}

const QString kFull = QStringLiteral("Geçmiş veritabanına yazılamadı: disk dolu");
const QString kReadOnly = QStringLiteral("Geçmiş veritabanına yazılamadı: salt okunur");
const QString kRecovered = QStringLiteral("Geçmiş veritabanı yeniden yazılabiliyor");
} // namespace

TEST(HistoryFaults, FullDiskLoggedOnceThenRecovery)
{
    TPrivateTmpfs fs("size=256k,mode=0755");
    SKIP_WITHOUT_PRIVATE_TMPFS(fs);
    const QString db = fs.FilePath("ZYRdenetleyici.db");
    TReported reported;
    {
        THistoryStore store(db, reported.Sink());
        store.Record(Cycle(kBase, 50));
        store.Flush();
        fs.Fill();
        for (int i = 1; i <= 4; ++i)
            store.Record(Cycle(kBase + i * 60, 50, i * 1000)); // new systems: new pages
        store.Flush();
        EXPECT_EQ(reported.Lines(), QStringList{kFull});
        ASSERT_TRUE(QFile::remove(fs.FilePath("fill")));
        store.Record(Cycle(kBase + 600, 50));
    }
    EXPECT_EQ(reported.Lines(), (QStringList{kFull, kRecovered}));
    EXPECT_EQ(Integrity(db), QStringLiteral("ok"));
    EXPECT_EQ(TotalResults(db), 100); // the first and the last cycle
}

TEST(HistoryFaults, ReadOnlyFolderLoggedOnceThenRecovery)
{
    TPrivateTmpfs fs("size=1m,mode=0755");
    SKIP_WITHOUT_PRIVATE_TMPFS(fs);
    ASSERT_TRUE(fs.MakeReadOnly());
    const QString db = fs.FilePath("ZYRdenetleyici.db");
    TReported reported;
    {
        THistoryStore store(db, reported.Sink());
        store.Record(Cycle(kBase, 10));
        store.Record(Cycle(kBase + 60, 10));
        store.Flush();
        EXPECT_EQ(reported.Lines(), QStringList{kReadOnly});
        ASSERT_EQ(::mount(nullptr, QFile::encodeName(fs.Path()).constData(), nullptr,
                      MS_REMOUNT | MS_NOSUID | MS_NODEV, nullptr),
            0);
        store.Record(Cycle(kBase + 120, 10));
    }
    EXPECT_EQ(reported.Lines(), (QStringList{kReadOnly, kRecovered}));
    EXPECT_EQ(TotalResults(db), 10);
    // Private from the first byte, its journal too.
    struct stat st
    {
    };
    ASSERT_EQ(::stat(QFile::encodeName(db).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    ASSERT_EQ(::stat(QFile::encodeName(db + QStringLiteral("-wal")).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST(HistoryFaults, DamagedDatabaseMovedAsideAndStartedAgain)
{
    QTemporaryDir dir;
    const QString db = dir.filePath(QStringLiteral("ZYRdenetleyici.db"));
    QByteArray garbage(8192, '\0');
    for (int i = 0; i < garbage.size(); ++i)
        garbage[i] = char(i * 7919 % 251);
    {
        QFile f(db);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(garbage);
    }
    TReported reported;
    {
        THistoryStore store(db, reported.Sink());
        store.Record(Cycle(kBase, 3));
    }
    const QStringList aside = QDir(dir.path()).entryList({QStringLiteral("ZYRdenetleyici.db.bozuk-*")});
    ASSERT_EQ(aside.size(), 1);
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^ZYRdenetleyici\\.db\\.bozuk-\\d{8}-\\d{6}$"))
                    .match(aside[0])
                    .hasMatch());
    QFile moved(dir.filePath(aside[0]));
    ASSERT_TRUE(moved.open(QIODevice::ReadOnly));
    EXPECT_EQ(moved.readAll(), garbage);
    EXPECT_EQ(reported.Lines(),
        QStringList{QStringLiteral("Geçmiş veritabanı bozuk, %1 olarak ayrıldı; yenisi başlatıldı")
                        .arg(dir.filePath(aside[0]))});
    EXPECT_EQ(TotalResults(db), 3);
}

// Killed while it writes a cycle of 10,000 systems, at several moments into it: every cycle written before
// is there, no cycle in part, and the database opens and takes new cycles.
TEST(HistoryFaults, KillDuringACycleKeepsEveryEarlierCycle)
{
    QTemporaryDir dir;
    const QString db = dir.filePath(QStringLiteral("ZYRdenetleyici.db"));
    qint64 kept = 0;
    for (double into : {0.1, 0.3, 0.5, 0.7, 0.9}) {
        SCOPED_TRACE(into);
        int pipeFds[2];
        ASSERT_EQ(::pipe(pipeFds), 0);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ::close(pipeFds[0]);
            THistoryStore store(db, {});
            for (int cycle = 0;; ++cycle) {
                store.Record(Cycle(kBase + (kept / 10000 + cycle) * 60, 10000));
                store.Flush();
                const char done = 'c';
                if (::write(pipeFds[1], &done, 1) != 1)
                    ::_exit(1);
            }
        }
        ::close(pipeFds[1]);
        // The time between two cycles' ends tells how far into the next one a moment is.
        char c = 0;
        const bool acknowledged = ::read(pipeFds[0], &c, 1) == 1;
        QElapsedTimer cycle;
        cycle.start();
        const bool again = acknowledged && ::read(pipeFds[0], &c, 1) == 1;
        ::usleep(useconds_t(double(cycle.nsecsElapsed()) / 1000 * into));
        ::kill(child, SIGKILL);
        int status = 0;
        ::waitpid(child, &status, 0);
        ::close(pipeFds[0]);
        ASSERT_TRUE(again);
        ASSERT_TRUE(WIFSIGNALED(status));

        EXPECT_EQ(Integrity(db), QStringLiteral("ok"));
        const qint64 results = TotalResults(db);
        EXPECT_EQ(results % 10000, 0) << "a cycle written in part";
        EXPECT_EQ(Figure(db, "SELECT COUNT(DISTINCT last_time) FROM systems"), 1)
            << "a cycle written in part";
        EXPECT_GE(results, kept + 20000) << "an acknowledged cycle lost";
        kept = results;
    }
    TReported reported;
    {
        THistoryStore store(db, reported.Sink());
        store.Record(Cycle(kBase + 86400, 10));
    }
    EXPECT_TRUE(reported.Lines().isEmpty());
    EXPECT_EQ(TotalResults(db), kept + 10);
}
