// The "Geçmiş" window's opening for a system with a month of one-minute results: the history of one
// system checked every minute for the given days, among others checked every hour, written through the real
// writer into a real database; then the window made, aimed at the system and drawn (offscreen), several
// times, the writer still open as in a running console. Also the re-read an open window makes after a commit.
//
//   zyr_bench_history_window [--systems 1000] [--days 30] [--runs 7]
//
// Prints "key value" lines for scripts/bench.
#include "ProcStats.h"

#include "console/Application.h"
#include "console/HistoryWindow.h"
#include "history/HistoryQuery.h"
#include "history/HistoryStore.h"
#include "session/ConsoleSession.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTreeWidget>

#include <cstdio>
#include <cstring>
#include <memory>

using namespace bench;

namespace {

const QString kAddress = QStringLiteral("10.0.0.1:17220");

// The watched system's state at a minute of its history: up, with a ten-minute outage every six hours and
// twenty minutes of missing devices every day.
int StateAt(qint64 minute)
{
    if (minute % 360 < 10)
        return 1;
    if (minute % 1440 >= 600 && minute % 1440 < 620)
        return 4;
    return 3;
}

// One job per hour: the watched system's sixty results and one result of every other system.
void Fill(const QString &path, int systems, int days, qint64 now)
{
    QStringList failures;
    THistoryStore store(path, [&failures](const QString &line) { failures << line; });
    const qint64 minutes = qint64(days) * 1440;
    const qint64 first = now - minutes * 60;
    std::vector<THistoryResult> job;
    for (qint64 m = 0; m < minutes; ++m) {
        const qint64 time = first + m * 60;
        job.push_back({kAddress, QStringLiteral("Merkez"), time, StateAt(m), THistoryOrigin::Periodic, 1});
        if (m % 60 == 59) {
            for (int s = 1; s < systems; ++s)
                job.push_back({QStringLiteral("10.1.%1.%2:17220").arg(s / 250).arg(s % 250 + 1),
                    QStringLiteral("Sistem %1").arg(s), time, s % 17 ? 3 : 1, THistoryOrigin::Periodic, 60});
            store.Record(std::move(job));
            job = {};
        }
    }
    store.Record(std::move(job));
    store.Flush();
    for (const QString &line : failures)
        fprintf(stderr, "writer: %s\n", qPrintable(line));
}

} // namespace

int main(int argc, char **argv)
{
    int systems = 1000, days = 30, runs = 7;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (strcmp(argv[i], "--systems") == 0)
            systems = atoi(argv[i + 1]);
        else if (strcmp(argv[i], "--days") == 0)
            days = atoi(argv[i + 1]);
        else if (strcmp(argv[i], "--runs") == 0)
            runs = atoi(argv[i + 1]);
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    int qtArgc = 1;
    TApplication app(qtArgc, argv);
    QTemporaryDir dir;
    const QString list = dir.filePath(QStringLiteral("ZYRdenetleyici.dat"));
    TConsoleSession session(dir.path(), list);
    const qint64 now = QDateTime::currentSecsSinceEpoch();

    int64_t t = NowNs();
    Fill(session.HistoryFileName(), systems, days, now);
    printf("history_fill_s %.1f\n", (NowNs() - t) / 1e9);
    printf("history_db_mb %.1f\n", QFileInfo(session.HistoryFileName()).size() / 1048576.0);

    // A writer holds the database open, as the console's does.
    THistoryStore writer(session.HistoryFileName(), {});
    writer.Flush();
    std::vector<double> opens, rereads;
    int rows = 0;
    for (int run = 0; run < runs; ++run) {
        t = NowNs();
        auto window = std::make_unique<TFormHistory>(session);
        window->ShowFor(QStringLiteral("Merkez"), kAddress);
        window->grab(); // laid out and painted
        opens.push_back((NowNs() - t) / 1e6);
        t = NowNs();
        window->ShowFor(QStringLiteral("Merkez"), kAddress); // shown already: read again only
        rereads.push_back((NowNs() - t) / 1e6);
        rows = window->findChild<QTreeWidget *>(QStringLiteral("lstChanges"))->topLevelItemCount();
    }
    // The reader's queries alone, as the window makes them.
    std::vector<double> openMs, hourMs, dayMs, yearMs, changeMs;
    for (int run = 0; run < runs; ++run) {
        const qint64 at = QDateTime::currentSecsSinceEpoch();
        t = NowNs();
        THistoryReader reader(session.HistoryFileName());
        openMs.push_back((NowNs() - t) / 1e6);
        t = NowNs();
        reader.LastHours(kAddress, at);
        hourMs.push_back((NowNs() - t) / 1e6);
        t = NowNs();
        reader.LastDays(kAddress, at);
        dayMs.push_back((NowNs() - t) / 1e6);
        t = NowNs();
        reader.Totals(kAddress, at - 365 * kDaySeconds, at, at);
        yearMs.push_back((NowNs() - t) / 1e6);
        t = NowNs();
        reader.Changes(kAddress, at);
        changeMs.push_back((NowNs() - t) / 1e6);
    }
    printf("history_reader_open_ms %.2f\n", Median(openMs));
    printf("history_reader_hours_ms %.2f\n", Median(hourMs));
    printf("history_reader_days_ms %.2f\n", Median(dayMs));
    printf("history_reader_year_ms %.2f\n", Median(yearMs));
    printf("history_reader_changes_ms %.2f\n", Median(changeMs));
    printf("history_window_changes %d\n", rows);
    printf("history_window_first_open_ms %.1f\n", opens.front());
    printf("history_window_open_ms %.1f\n", Median(opens));
    printf("history_window_reread_ms %.1f\n", Median(rereads));
    return rows > 0 ? 0 : 1;
}
