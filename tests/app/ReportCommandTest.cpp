// The monthly report from the command line: the real program file, started without a display, over a
// history written by the real writer in a folder of the test's own.
#include "FileBytes.h"
#include "history/HistoryStore.h"
#include "PrivateMount.h"
#include "records/SystemListFile.h"
#include "XdgSandbox.h"
#include <gtest/gtest.h>
#include <mutex>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

namespace {

qint64 June(int day, int hour)
{
    return QDateTime(QDate(2025, 6, day), QTime(hour, 0)).toSecsSinceEpoch();
}

THistoryResult Result(const char *address, const char *name, qint64 time, int state, int period)
{
    return {
        QString::fromUtf8(address), QString::fromUtf8(name), time, state, THistoryOrigin::Periodic, period};
}

// June 2025 (30 days, 43200 minutes; no clock change):
//   10.0.0.1 "Kayıt A": available 00-01 and 02-04 (its last result's hold of two periods), down 01-02;
//   10.0.0.2 "Kayıt B": devices missing for the ten minutes a result holds at a Period of 5;
//   10.0.0.3 "Kayıt C": in the list, its only result in May: not in the report;
//   10.0.0.8 "Arşiv" and 10.0.0.9 "Yedek; sunucu": no longer in the list; Arşiv goes down at the last hour
//   of the month, Yedek runs for the 10 minutes a result holds at a Period of 0.
const char *const kJuneCsv = "\xEF\xBB\xBF"
                             "İsim;IP Adresi;Kullanılabilirlik (%);Alarm süresi (dk);Kesinti sayısı;"
                             "En uzun kesinti (dk);Bilinmeyen süre (dk);Bakım (dk)\r\n"
                             "Kayıt B;10.0.0.2;0,0;10;0;0;43190;0\r\n"
                             "Kayıt A;10.0.0.1;75,0;60;1;60;42960;0\r\n"
                             "Arşiv;10.0.0.8;0,0;60;1;60;43140;0\r\n"
                             "\"Yedek; sunucu\";10.0.0.9;100,0;0;0;0;43190;0\r\n";
const char *const kHeaderOnly = "\xEF\xBB\xBF"
                                "İsim;IP Adresi;Kullanılabilirlik (%);Alarm süresi (dk);Kesinti sayısı;"
                                "En uzun kesinti (dk);Bilinmeyen süre (dk);Bakım (dk)\r\n";

struct TRun
{
    int Exit = -1;
    QByteArray Out, Err;
};

class ReportCommand : public ::testing::Test
{
protected:
    QTemporaryDir bin, data;
    TXdgSandbox sandbox;
    QString program;

    void SetUp() override
    {
        ASSERT_TRUE(bin.isValid() && data.isValid() && sandbox.Valid());
        // A program file of its own: the settings folder, where a lock could go, is the test's.
        program = bin.filePath(QStringLiteral("ZYRdenetleyici"));
        ASSERT_TRUE(QFile::copy(QStringLiteral(ZYR_PROGRAM), program));
        QFile::setPermissions(program, QFile::ExeOwner | QFile::ReadOwner | QFile::WriteOwner);
        WriteList({"10.0.0.2", "10.0.0.3", "10.0.0.1"});
        THistoryStore store(Db(), {});
        store.Record({Result(
            "10.0.0.3", "Kayıt C", QDateTime(QDate(2025, 5, 31), QTime(20, 0)).toSecsSinceEpoch(), 3, 60)});
        store.Record({Result("10.0.0.1", "Kayıt A", June(1, 0), 3, 60)});
        store.Record({Result("10.0.0.1", "Kayıt A", June(1, 1), 1, 60)});
        store.Record({Result("10.0.0.1", "Kayıt A", June(1, 2), 3, 60)});
        store.Record({Result("10.0.0.2", "Kayıt B", June(10, 12), 4, 5)});
        store.Record({Result("10.0.0.9", "Yedek; sunucu", June(20, 0), 2, 0)});
        store.Record({Result("10.0.0.8", "Arşiv", June(30, 23), 1, 60)});
    }

    QString Db() const { return data.filePath(QStringLiteral("ZYRdenetleyici.db")); }

    void WriteList(std::initializer_list<const char *> addresses)
    {
        TSystemList list;
        for (const char *address : addresses) {
            TSystemRecord r;
            r.Cells = {QStringLiteral("1"), QStringLiteral("listede ") + QLatin1String(address),
                QLatin1String(address), QString(), QStringLiteral("0"), QStringLiteral("3"), QString(),
                QString(), QStringLiteral("0")};
            list.Add(r);
        }
        SaveSystemList(list, data.filePath(QStringLiteral("ZYRdenetleyici.dat")));
    }

    // The program in the data folder as the current folder, with no display of any kind.
    TRun Run(const QStringList &args, const QString &folder = QString())
    {
        QProcessEnvironment env = sandbox.Environment();
        for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            env.remove(QLatin1String(name));
        QProcess p;
        p.setProcessEnvironment(env);
        p.setWorkingDirectory(folder.isEmpty() ? data.path() : folder);
        p.start(program, args);
        TRun run;
        if (!p.waitForFinished(30000)) {
            p.kill();
            p.waitForFinished();
            ADD_FAILURE() << "the report did not end";
            return run;
        }
        run.Exit = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
        run.Out = p.readAllStandardOutput();
        run.Err = p.readAllStandardError();
        return run;
    }

    // Every file under a folder, as relative paths; SQLite's own companions of the database left out.
    static QStringList Files(const QString &folder)
    {
        QStringList files;
        QDir dir(folder);
        for (const QString &name :
            dir.entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System))
            if (name != QLatin1String("ZYRdenetleyici.db-wal")
                && name != QLatin1String("ZYRdenetleyici.db-shm"))
                files << name;
        return files;
    }
    QStringList AllFiles() const
    {
        return Files(data.path()) + Files(bin.path()) + Files(sandbox.Path(QStringLiteral("run")))
            + Files(sandbox.Path(QStringLiteral("data"))) + Files(sandbox.Path(QStringLiteral("config")));
    }
};

TEST_F(ReportCommand, CsvBytesOnStandardOutputInTheListOrderWithoutDisplayLockOrLog)
{
    const QStringList before = AllFiles();
    const TRun run = Run({QStringLiteral("--report"), QStringLiteral("2025-06")});
    EXPECT_EQ(run.Exit, 0) << run.Err.toStdString();
    EXPECT_EQ(run.Out, QByteArray(kJuneCsv));
    EXPECT_EQ(run.Err, QByteArray());
    // No lock file, no log, no folder: only what was there.
    EXPECT_EQ(AllFiles().join(QLatin1Char(' ')).toStdString(), before.join(QLatin1Char(' ')).toStdString());

    // The same bytes into a file, the format named.
    const QString out = data.filePath(QStringLiteral("haziran.csv"));
    const TRun saved = Run({QStringLiteral("--format=csv"), QStringLiteral("--output"), out,
        QStringLiteral("--report"), QStringLiteral("2025-06")});
    EXPECT_EQ(saved.Exit, 0) << saved.Err.toStdString();
    EXPECT_EQ(saved.Out, QByteArray());
    EXPECT_EQ(ReadBytes(out), QByteArray(kJuneCsv));
}

TEST_F(ReportCommand, HtmlPageHoldsTheRowsInOrder)
{
    const TRun run = Run({QStringLiteral("--report"), QStringLiteral("2025-06"), QStringLiteral("--format"),
        QStringLiteral("html")});
    ASSERT_EQ(run.Exit, 0) << run.Err.toStdString();
    const QString html = QString::fromUtf8(run.Out);
    EXPECT_TRUE(html.startsWith(QStringLiteral("<!DOCTYPE html>")));
    EXPECT_TRUE(html.contains(QStringLiteral("<title>Kullanılabilirlik raporu 2025-06</title>")));
    const QStringList rows = {QStringLiteral("<td>Kayıt B</td><td>10.0.0.2</td><td class=\"n\">0,0</td>"),
        QStringLiteral("<td>Kayıt A</td><td>10.0.0.1</td><td class=\"n\">75,0</td>"),
        QStringLiteral("<td>Arşiv</td><td>10.0.0.8</td><td class=\"n\">0,0</td>"),
        QStringLiteral("<td>Yedek; sunucu</td><td>10.0.0.9</td><td class=\"n\">100,0</td>")};
    qsizetype at = 0;
    for (const QString &row : rows) {
        const qsizetype found = html.indexOf(row);
        EXPECT_GT(found, at) << row.toStdString();
        at = std::max(at, found);
    }
    EXPECT_EQ(html.count(QStringLiteral("<tr>")), 5);
    EXPECT_FALSE(html.contains(QStringLiteral("10.0.0.3")));
}

TEST_F(ReportCommand, MonthsWithoutResultsAndADamagedListFile)
{
    // A month before the history, and one that has not begun yet: the header alone, an empty table.
    for (const char *month : {"2025-04", "2999-01"}) {
        const TRun run = Run({QStringLiteral("--report"), QLatin1String(month)});
        EXPECT_EQ(run.Exit, 0) << month;
        EXPECT_EQ(run.Out, QByteArray(kHeaderOnly)) << month;
        const TRun html
            = Run({QStringLiteral("--report"), QLatin1String(month), QStringLiteral("--format=html")});
        EXPECT_EQ(html.Exit, 0) << month;
        EXPECT_EQ(QString::fromUtf8(html.Out).count(QStringLiteral("<tr>")), 1) << month;
    }
    // A list file that cannot be read costs only the order: every row by name.
    WriteBytes(data.filePath(QStringLiteral("ZYRdenetleyici.dat")), QByteArray("bozuk dosya"));
    const TRun run = Run({QStringLiteral("--report"), QStringLiteral("2025-06")});
    EXPECT_EQ(run.Exit, 0);
    const QStringList lines = QString::fromUtf8(run.Out).split(QStringLiteral("\r\n"));
    ASSERT_EQ(lines.size(), 6);
    QStringList names;
    for (int i = 1; i < 5; ++i)
        names << lines[i].section(QLatin1Char(';'), -7, -7); // the address: the name may hold a ';'
    EXPECT_EQ(names,
        (QStringList{QStringLiteral("10.0.0.8"), QStringLiteral("10.0.0.1"), QStringLiteral("10.0.0.2"),
            QStringLiteral("10.0.0.9")}));
}

TEST_F(ReportCommand, ReadsWhileTheConsoleWritesTheDatabase)
{
    std::mutex lock;
    QStringList faults;
    THistoryStore writer(Db(), [&](const QString &line) {
        std::lock_guard guard(lock);
        faults << line;
    });
    writer.SetRetentionDays(3650); // June 2025 is kept, folded into days
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    writer.Record({Result("10.0.0.1", "Kayıt A", now - 60, 3, 5)});
    writer.Flush();
    ASSERT_TRUE(QFile::exists(Db() + QStringLiteral("-wal"))) << "the writer holds the database open";
    const TRun run = Run({QStringLiteral("--report"), QStringLiteral("2025-06")});
    EXPECT_EQ(run.Exit, 0) << run.Err.toStdString();
    EXPECT_EQ(QString::fromUtf8(run.Out), QString::fromUtf8(kJuneCsv));
    // The writer goes on after the reader, and the reader sees what it wrote.
    writer.Record({Result("10.0.0.1", "Kayıt A", now, 1, 5)});
    writer.Flush();
    const TRun later = Run(
        {QStringLiteral("--report"), QDateTime::fromSecsSinceEpoch(now).toString(QStringLiteral("yyyy-MM"))});
    EXPECT_EQ(later.Exit, 0) << later.Err.toStdString();
    EXPECT_TRUE(QString::fromUtf8(later.Out).contains(QStringLiteral("\r\nKayıt A;10.0.0.1;")))
        << later.Out.toStdString();
    std::lock_guard guard(lock);
    EXPECT_EQ(faults, QStringList());
}

struct TBadCase
{
    std::vector<const char *> Args;
    const char *Message; // the first line on standard error
};

TEST_F(ReportCommand, BadArgumentsEndWithStatus2AndAMessage)
{
    const TBadCase cases[] = {
        {{"--report", "2025-6"}, "Geçersiz ay: \"2025-6\" (YYYY-AA bekleniyor)"},
        {{"--report", "2025-13"}, "Geçersiz ay: \"2025-13\" (YYYY-AA bekleniyor)"},
        {{"--report", "2025-00"}, "Geçersiz ay: \"2025-00\" (YYYY-AA bekleniyor)"},
        {{"--report", "2025-06x"}, "Geçersiz ay: \"2025-06x\" (YYYY-AA bekleniyor)"},
        {{"--report", " 2025-06"}, "Geçersiz ay: \" 2025-06\" (YYYY-AA bekleniyor)"},
        {{"--output", "x.csv", "--report=0000-01"}, "Geçersiz ay: \"0000-01\" (YYYY-AA bekleniyor)"},
        {{"--report"}, "--report seçeneğinin değeri eksik"},
        {{"--report", "2025-06", "--format", "pdf", "--output", "x.csv"},
            "Geçersiz biçim: \"pdf\" (csv ya da html)"},
        {{"--report", "2025-06", "--format", "CSV"}, "Geçersiz biçim: \"CSV\" (csv ya da html)"},
        {{"--report", "2025-06", "--format"}, "--format seçeneğinin değeri eksik"},
        {{"--report", "2025-06", "--output"}, "--output seçeneğinin değeri eksik"},
        {{"--report", "2025-06", "--output="}, "--output seçeneğinin değeri eksik"},
        {{"--report", "2025-06", "--renk", "kırmızı"}, "Bilinmeyen seçenek: --renk"},
        {{"--output", "x.csv", "--report", "2025-06", "fazla"}, "Bilinmeyen seçenek: fazla"},
    };
    const QStringList before = AllFiles();
    for (const TBadCase &c : cases) {
        QStringList args;
        for (const char *a : c.Args)
            args << QString::fromUtf8(a);
        const TRun run = Run(args);
        const std::string label = args.join(QLatin1Char(' ')).toStdString();
        EXPECT_EQ(run.Exit, 2) << label;
        EXPECT_EQ(run.Out, QByteArray()) << label;
        const QStringList lines = QString::fromUtf8(run.Err).split(QLatin1Char('\n'));
        EXPECT_EQ(lines.value(0), QString::fromUtf8(c.Message)) << label;
        EXPECT_TRUE(lines.value(1).startsWith(QStringLiteral("Kullanım: ZYRdenetleyici --report YYYY-AA")))
            << label;
    }
    EXPECT_EQ(AllFiles().join(QLatin1Char(' ')).toStdString(), before.join(QLatin1Char(' ')).toStdString())
        << "no output file, lock or log";
}

TEST_F(ReportCommand, MissingDatabaseOrUnwritableOutputEndWithStatus2)
{
    // Started in a folder without a history: nothing is made there.
    QTemporaryDir empty;
    const TRun missing = Run({QStringLiteral("--report"), QStringLiteral("2025-06")}, empty.path());
    EXPECT_EQ(missing.Exit, 2);
    EXPECT_EQ(missing.Out, QByteArray());
    EXPECT_EQ(missing.Err, QByteArray("Geçmiş veritabanı bulunamadı: ZYRdenetleyici.db\n"));
    EXPECT_EQ(Files(empty.path()), QStringList());

    // A database that is no database.
    WriteBytes(empty.filePath(QStringLiteral("ZYRdenetleyici.db")), QByteArray(4096, 'x'));
    const TRun damaged = Run({QStringLiteral("--report"), QStringLiteral("2025-06")}, empty.path());
    EXPECT_EQ(damaged.Exit, 2);
    EXPECT_TRUE(damaged.Err.startsWith("Geçmiş veritabanı okunamadı: ZYRdenetleyici.db: "))
        << damaged.Err.toStdString();

    // An output in a folder that does not exist.
    const QString nowhere = data.filePath(QStringLiteral("yok/rapor.csv"));
    const TRun noFolder
        = Run({QStringLiteral("--report"), QStringLiteral("2025-06"), QStringLiteral("--output"), nowhere});
    EXPECT_EQ(noFolder.Exit, 2);
    EXPECT_TRUE(noFolder.Err.startsWith(
        (QStringLiteral("Rapor kaydedilemedi: ") + nowhere + QStringLiteral(": ")).toUtf8()))
        << noFolder.Err.toStdString();
    EXPECT_FALSE(QFileInfo::exists(data.filePath(QStringLiteral("yok"))));
}

TEST_F(ReportCommand, AFullDiskLeavesTheOldFileWhole)
{
    TPrivateTmpfs disk("size=64k,mode=0755");
    if (!disk.Mounted())
        GTEST_SKIP() << disk.Error();
    const QString out = disk.FilePath("rapor.html");
    WriteBytes(out, QByteArray("eski rapor"));
    disk.Fill();
    const TRun run = Run({QStringLiteral("--report"), QStringLiteral("2025-06"), QStringLiteral("--format"),
        QStringLiteral("html"), QStringLiteral("--output"), out});
    EXPECT_EQ(run.Exit, 2);
    EXPECT_TRUE(
        run.Err.startsWith((QStringLiteral("Rapor kaydedilemedi: ") + out + QStringLiteral(": ")).toUtf8()))
        << run.Err.toStdString();
    EXPECT_EQ(ReadBytes(out), QByteArray("eski rapor"));
    EXPECT_EQ(Files(disk.Path()), (QStringList{QStringLiteral("fill"), QStringLiteral("rapor.html")}));
}

} // namespace
