// The history database's writer at the largest fleet, through the real THistoryStore on a real file:
//
//   zyr_bench_history [--systems 10000] [--days 7] [--hours 3] [--size-systems 1000] [--size-days 30]
//                     [--folder DIR]
//
// Writer: a database of --systems systems checked every 5 minutes for --days days of result time is
// written first; then --hours more hours of cycles are timed, each cycle from Record to the end of Flush
// (the writer thread's transaction and commit). The first cycle of each hour is reported apart: it opens a
// new hour row for every system and closes the last one. The once-a-day upkeep (hours that leave the
// recent table, folding into days, retention) runs after a cycle on the same thread and is timed alone.
// Size: --size-systems systems checked every minute for --size-days days; the file's size at the end.
// Every cycle changes the state of about 1 % of the systems, some to an alarm and back.
#include "ProcStats.h"

#include "history/HistoryStore.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStringList>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>

using namespace bench;

namespace {

struct TOptions
{
    int systems = 10000, days = 7, hours = 3;
    int sizeSystems = 1000, sizeDays = 30;
    QString folder;
};

// A fleet whose states change now and then: most answer, a few are in alarm for a while.
class TFleet
{
public:
    explicit TFleet(int n)
        : states(size_t(n), 3)
    {
        for (int i = 0; i < n; ++i) {
            addresses << QStringLiteral("10.%1.%2.%3:2000").arg(i / 65536).arg(i / 256 % 256).arg(i % 256);
            names << QStringLiteral("Kayıt sistemi %1").arg(i);
        }
    }

    std::vector<THistoryResult> Cycle(qint64 time, int period)
    {
        std::vector<THistoryResult> results(states.size());
        for (size_t i = 0; i < states.size(); ++i) {
            if (random() % 100 == 0)
                states[i] = states[i] == 3 ? int(1 + random() % 6) : 3;
            results[i] = {addresses[qsizetype(i)], names[qsizetype(i)], time, states[i],
                THistoryOrigin::Periodic, period};
        }
        return results;
    }

private:
    std::vector<int> states;
    QStringList addresses, names;
    std::minstd_rand random{12345};
};

int Fail(const char *what)
{
    std::fprintf(stderr, "zyr_bench_history: %s\n", what);
    return 1;
}

// Midnight local time some days back, so the days ahead cross day boundaries as the console would.
qint64 StartTime(int daysBack)
{
    const QDate first = QDate::currentDate().addDays(-daysBack - 1);
    return first.startOfDay().toSecsSinceEpoch();
}

int WriterFigures(const TOptions &o, const QString &folder)
{
    const QString path = folder + QStringLiteral("/writer.db");
    QStringList faults;
    THistoryStore store(path, [&](const QString &line) { faults << line; });
    TFleet fleet(o.systems);
    const int period = 5;
    qint64 time = StartTime(o.days);
    const qint64 filled = time + qint64(o.days) * 86400;
    std::printf("writing %d days of %d systems every %d minutes...\n", o.days, o.systems, period);
    std::fflush(stdout);
    for (; time < filled; time += period * 60)
        store.Record(fleet.Cycle(time, period));
    store.Flush();
    if (!faults.isEmpty())
        return Fail(faults.first().toUtf8().constData());
    const qint64 builtBytes = QFileInfo(path).size() + QFileInfo(path + QStringLiteral("-wal")).size();

    std::vector<double> ordinary, firstOfHour, ordinaryCpu, firstOfHourCpu;
    double upkeep = 0;
    const qint64 end = time + qint64(o.hours) * 3600;
    for (; time < end; time += period * 60) {
        std::vector<THistoryResult> cycle = fleet.Cycle(time, period);
        const bool dayTurns = QDateTime::fromSecsSinceEpoch(time).date()
            != QDateTime::fromSecsSinceEpoch(time - period * 60).date();
        const int64_t start = NowNs(), cpu = NamedThreadsCpuNs("zyr-history");
        store.Record(std::move(cycle));
        store.Flush();
        const double ms = double(NowNs() - start) / 1e6;
        const double cpuMs = double(NamedThreadsCpuNs("zyr-history") - cpu) / 1e6;
        if (dayTurns) {
            upkeep = ms; // the cycle and the day's upkeep after it
        } else {
            const bool first = time % 3600 < period * 60;
            (first ? firstOfHour : ordinary).push_back(ms);
            (first ? firstOfHourCpu : ordinaryCpu).push_back(cpuMs);
        }
    }
    if (!faults.isEmpty())
        return Fail(faults.first().toUtf8().constData());
    std::printf("history_db_mb_before_timing %.1f\n", double(builtBytes) / 1e6);
    std::printf("history_cycle_ms %.1f\n", Median(ordinary));
    std::printf("history_cycle_max_ms %.1f\n", *std::max_element(ordinary.begin(), ordinary.end()));
    std::printf("history_cycle_cpu_ms %.1f\n", Median(ordinaryCpu));
    if (!firstOfHour.empty()) {
        std::printf("history_first_of_hour_ms %.1f\n", Median(firstOfHour));
        std::printf(
            "history_first_of_hour_max_ms %.1f\n", *std::max_element(firstOfHour.begin(), firstOfHour.end()));
        std::printf("history_first_of_hour_cpu_ms %.1f\n", Median(firstOfHourCpu));
    }
    if (upkeep > 0)
        std::printf("history_day_upkeep_ms %.1f\n", upkeep);

    // A fleet seen for the first time: every system and its first change are new rows.
    TFleet fresh(o.systems);
    THistoryStore newStore(
        folder + QStringLiteral("/fresh.db"), [&](const QString &line) { faults << line; });
    newStore.Flush();
    const int64_t start = NowNs(), cpu = NamedThreadsCpuNs("zyr-history");
    newStore.Record(fresh.Cycle(time, period));
    newStore.Flush();
    std::printf("history_new_fleet_cycle_ms %.1f\n", double(NowNs() - start) / 1e6);
    std::printf(
        "history_new_fleet_cycle_cpu_ms %.1f\n", double(NamedThreadsCpuNs("zyr-history") - cpu) / 1e6);
    return faults.isEmpty() ? 0 : Fail(faults.first().toUtf8().constData());
}

int SizeFigure(const TOptions &o, const QString &folder)
{
    const QString path = folder + QStringLiteral("/size.db");
    QStringList faults;
    {
        THistoryStore store(path, [&](const QString &line) { faults << line; });
        TFleet fleet(o.sizeSystems);
        qint64 time = StartTime(o.sizeDays);
        const qint64 end = time + qint64(o.sizeDays) * 86400;
        std::printf("writing %d days of %d systems every minute...\n", o.sizeDays, o.sizeSystems);
        std::fflush(stdout);
        const int64_t start = NowNs();
        int cycles = 0;
        for (; time < end; time += 60, ++cycles) {
            store.Record(fleet.Cycle(time, 1));
            if (cycles % 256 == 0)
                store.Flush(); // keeps the queue short
        }
        store.Flush();
        std::printf("history_size_fill_s %.0f\n", double(NowNs() - start) / 1e9);
    }
    if (!faults.isEmpty())
        return Fail(faults.first().toUtf8().constData());
    // The writer is closed: its last checkpoint moved the journal into the file.
    const qint64 bytes = QFileInfo(path).size() + QFileInfo(path + QStringLiteral("-wal")).size();
    std::printf("history_size_mb %.1f\n", double(bytes) / 1e6);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    TOptions o;
    for (int i = 1; i < argc; ++i) {
        auto next = [&](int &value) {
            if (i + 1 < argc)
                value = std::atoi(argv[++i]);
        };
        if (!std::strcmp(argv[i], "--systems"))
            next(o.systems);
        else if (!std::strcmp(argv[i], "--days"))
            next(o.days);
        else if (!std::strcmp(argv[i], "--hours"))
            next(o.hours);
        else if (!std::strcmp(argv[i], "--size-systems"))
            next(o.sizeSystems);
        else if (!std::strcmp(argv[i], "--size-days"))
            next(o.sizeDays);
        else if (!std::strcmp(argv[i], "--folder") && i + 1 < argc)
            o.folder = QString::fromLocal8Bit(argv[++i]);
        else
            return Fail("usage: zyr_bench_history [--systems N] [--days D] [--hours H] [--size-systems N] "
                        "[--size-days D] [--folder DIR]");
    }
    QTemporaryDir temporary(o.folder.isEmpty() ? QDir::tempPath() + QStringLiteral("/zyr-history-XXXXXX")
                                               : o.folder + QStringLiteral("/zyr-history-XXXXXX"));
    if (!temporary.isValid())
        return Fail("no temporary folder");
    double load[3] = {};
    if (FILE *f = std::fopen("/proc/loadavg", "r")) {
        if (std::fscanf(f, "%lf %lf %lf", &load[0], &load[1], &load[2]) != 3)
            load[0] = -1;
        std::fclose(f);
    }
    std::printf("history_load %.2f/%.2f/%.2f\n", load[0], load[1], load[2]);
    int status = WriterFigures(o, temporary.path());
    if (status == 0 && o.sizeDays > 0)
        status = SizeFigure(o, temporary.path());
    return status;
}
