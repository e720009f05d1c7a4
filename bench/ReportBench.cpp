// The monthly report of a large fleet from the command line, as an administrator runs it:
//   ZYRdenetleyici --report YYYY-MM [--format html] --output FILE
//
//   zyr_bench_report --program PATH [--systems 10000] [--period 60] [--dir DIR] [--runs 3]
//
// The history is written through the real writer (THistoryStore): one cycle of every system each Period
// minutes from the first day of the last month up to now, mostly "Çalışıyor" with a short outage now and
// then. What a report reads is one row per system and hour, whatever the period, so a period of 60
// minutes fills the same rows as one of 5 in a twelfth of the time. With --dir the database and the list
// file are kept there and used again by the next run.
#include "history/HistoryStore.h"
#include "records/SystemList.h"
#include "records/SystemListFile.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <sys/resource.h>
#include <vector>

namespace {

QString Address(int i)
{
    return QStringLiteral("10.%1.%2.%3").arg(i / 65536).arg(i / 256 % 256).arg(i % 256);
}

void WriteList(const QString &file, int systems)
{
    TSystemList list;
    std::vector<TSystemRecord> rows;
    for (int i = 0; i < systems; ++i) {
        TSystemRecord r;
        r.Cells = {QStringLiteral("1"), QStringLiteral("Sistem %1").arg(i), Address(i), QString(),
            QStringLiteral("0"), QStringLiteral("0"), QString(), QString(), QStringLiteral("0")};
        rows.push_back(r);
    }
    // Rows in reverse, so the report's order is the list's and not the database's.
    std::reverse(rows.begin(), rows.end());
    list.ReplaceAll(std::move(rows));
    SaveSystemList(list, file);
}

void Fill(const QString &db, int systems, int period, qint64 from, qint64 to)
{
    QElapsedTimer timer;
    timer.start();
    THistoryStore store(db, {});
    const qint64 step = qint64(period) * 60;
    qint64 cycles = 0;
    for (qint64 t = from; t < to; t += step, ++cycles) {
        std::vector<THistoryResult> results;
        results.reserve(size_t(systems));
        for (int i = 0; i < systems; ++i) {
            // Each system down for two cycles in every 300, at its own time.
            const int state = (cycles + i * 7) % 300 < 2 ? 1 : 3;
            results.push_back({Address(i), QStringLiteral("Sistem %1").arg(i), t + i % 60, state,
                THistoryOrigin::Periodic, period});
        }
        store.Record(std::move(results));
        if (cycles % 200 == 0)
            store.Flush(); // keeps the queue, and the memory it holds, small
    }
    store.Flush();
    std::printf("fill_cycles %lld\nfill_s %.1f\n", cycles, timer.elapsed() / 1000.0);
}

double ChildrenCpuMs()
{
    rusage usage{};
    ::getrusage(RUSAGE_CHILDREN, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000.0
        + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000.0;
}

// The best of Runs runs in milliseconds of wall time, with that run's CPU time; -1 when the program failed.
qint64 TimeReport(const QString &program, const QString &dir, const QStringList &args, int runs,
    qint64 &bytes, double &cpuMs)
{
    qint64 best = -1;
    for (int run = 0; run < runs; ++run) {
        QProcess p;
        p.setWorkingDirectory(dir);
        p.setProcessChannelMode(QProcess::ForwardedChannels);
        const double cpuBefore = ChildrenCpuMs();
        QElapsedTimer timer;
        timer.start();
        p.start(program, args);
        if (!p.waitForFinished(600000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
            std::fprintf(stderr, "the report failed: %s\n", qPrintable(args.join(QLatin1Char(' '))));
            return -1;
        }
        const qint64 ms = timer.elapsed();
        if (best < 0 || ms < best)
            cpuMs = ChildrenCpuMs() - cpuBefore;
        best = best < 0 ? ms : std::min(best, ms);
        bytes = QFileInfo(args.last()).size();
    }
    return best;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QString program, dir;
    int systems = 10000, period = 60, runs = 3;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--program"))
            program = QString::fromLocal8Bit(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--dir"))
            dir = QString::fromLocal8Bit(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--systems"))
            systems = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--period"))
            period = std::max(1, std::atoi(argv[i + 1]));
        else if (!std::strcmp(argv[i], "--runs"))
            runs = std::max(1, std::atoi(argv[i + 1]));
    }
    if (program.isEmpty()) {
        std::fprintf(stderr,
            "usage: zyr_bench_report --program PATH [--systems N] [--period MIN] [--dir DIR] [--runs N]\n");
        return 2;
    }
    program = QFileInfo(program).absoluteFilePath(); // started in the data folder
    QTemporaryDir temporary;
    if (dir.isEmpty())
        dir = temporary.path();
    QDir().mkpath(dir);
    dir = QFileInfo(dir).absoluteFilePath();

    const QDate today = QDate::currentDate();
    const QDate lastMonth = QDate(today.year(), today.month(), 1).addMonths(-1);
    const QString db = QDir(dir).filePath(QStringLiteral("ZYRdenetleyici.db"));
    const QString list = QDir(dir).filePath(QStringLiteral("ZYRdenetleyici.dat"));
    const QString marker = QDir(dir).filePath(QStringLiteral("filled-%1-%2-%3")
                                                  .arg(systems)
                                                  .arg(period)
                                                  .arg(lastMonth.toString(QStringLiteral("yyyy-MM"))));
    if (!QFileInfo::exists(marker)) {
        QFile::remove(db);
        WriteList(list, systems);
        Fill(db, systems, period, lastMonth.startOfDay().toSecsSinceEpoch(),
            QDateTime::currentSecsSinceEpoch());
        QFile(marker).open(QIODevice::WriteOnly);
    } else {
        std::printf("fill_cached 1\n");
    }
    std::printf("systems %d\ndb_mb %.1f\n", systems, QFileInfo(db).size() / 1048576.0);

    const QString out = QDir(dir).filePath(QStringLiteral("report.out"));
    struct TCase
    {
        const char *key;
        QDate month;
        const char *format;
    } cases[] = {{"report_last_month_csv", lastMonth, "csv"}, {"report_last_month_html", lastMonth, "html"},
        {"report_this_month_csv", today, "csv"}};
    int status = 0;
    for (const TCase &c : cases) {
        qint64 bytes = 0;
        double cpu = 0;
        const qint64 ms = TimeReport(program, dir,
            {QStringLiteral("--report"), c.month.toString(QStringLiteral("yyyy-MM")),
                QStringLiteral("--format"), QLatin1String(c.format), QStringLiteral("--output"), out},
            runs, bytes, cpu);
        if (ms < 0)
            status = 1;
        std::printf("%s_ms %lld\n%s_cpu_ms %.0f\n%s_kb %lld\n", c.key, ms, c.key, cpu, c.key, bytes / 1024);
        std::fflush(stdout);
    }
    return status;
}
