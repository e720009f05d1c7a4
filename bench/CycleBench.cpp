// Check cycles over a simulated fleet, driven through the main window's own scheduling: the menu's
// "Denetle" (no mail), the checks run by the check runner, results through the check engine's event queue.
//
//   zyr_bench_cycle --zyrsim PATH --fleet N [--cycles K] [--delay MS] [--base 127.1.0.1]
//   zyr_bench_cycle --zyrsim PATH --fleet N --soak MINUTES [--seed S]
//
// Prints "key value" lines for scripts/bench; exits non-zero when a cycle loses, doubles or leaves a
// result unfinished.
#include "ProcStats.h"

#include "console/Application.h"
#include "console/Main.h"
#include "platform/Logger.h"
#include "probe/CheckRunner.h"
#include "probe/CheckThread.h"
#include "session/ConsoleSession.h"
#include "store/Settings.h"

#include <QAction>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QHash>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <map>
#include <mutex>
#include <random>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>
#include <unordered_map>

using namespace bench;

namespace {

struct TOptions
{
    QString Zyrsim;
    int Fleet = 100;
    int Cycles = 5;
    int Delay = 100;
    QString Base = QStringLiteral("127.1.0.1");
    int TimeOut = 5000;
    int Singles = 6; // single checks per kind for the slowest-check baseline
    double SoakMinutes = 0;
    unsigned Seed = 1;
    int Restart = 20; // soak: a new random fleet every so many cycles
    int FdLimit = 0; // when set: the descriptor limit (soft and hard) for the cycles, to run out of sockets
    QString Mix; // the simulator's fleet mix (--mix); empty: its own
};

struct TSystem
{
    QString Target;
    bool Plus = false;
    QString Mode; // the simulator's behaviour: ok, refuse, silent, ... (list mode for extended systems)
};

void Figure(const char *key, double value, const char *unit = "")
{
    printf("%s %.3f%s%s\n", key, value, *unit ? " " : "", unit);
    fflush(stdout);
}

// Runs the simulator and reads the fleet it announces.
class TFleet
{
public:
    ~TFleet() { Stop(); }

    bool Start(const QString &program, const QStringList &args)
    {
        Stop();
        Systems.clear();
        process.setProgram(program);
        process.setArguments(args);
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start();
        if (!process.waitForStarted(10000))
            return false;
        const int64_t deadline = NowNs() + int64_t(120) * 1000000000;
        QByteArray pending;
        while (NowNs() < deadline) {
            if (!process.waitForReadyRead(1000) && process.state() != QProcess::Running)
                return false;
            pending += process.readAll();
            qsizetype nl;
            while ((nl = pending.indexOf('\n')) >= 0) {
                const QString line = QString::fromUtf8(pending.left(nl));
                pending.remove(0, nl + 1);
                if (line.startsWith(QLatin1String("READY")))
                    return true;
                const QStringList f = line.split(QLatin1Char('\t'));
                if (f.size() >= 4)
                    Systems.push_back({f[1], f[2] == QLatin1String("plus"), f[3]});
            }
        }
        return false;
    }

    void Stop()
    {
        if (process.state() == QProcess::NotRunning)
            return;
        process.terminate();
        if (!process.waitForFinished(10000)) {
            process.kill();
            process.waitForFinished(5000);
        }
    }

    // User plus system CPU time of the simulator process so far, in nanoseconds; -1 when unknown.
    int64_t CpuNs() const
    {
        FILE *f
            = fopen(QStringLiteral("/proc/%1/stat").arg(process.processId()).toLocal8Bit().constData(), "r");
        if (!f)
            return -1;
        char text[1024] = {};
        const size_t n = fread(text, 1, sizeof text - 1, f);
        fclose(f);
        const char *p = strrchr(text, ')'); // the name may hold blanks
        if (!n || !p)
            return -1;
        unsigned long long utime = 0, stime = 0;
        // Fields after the name: state ppid pgrp session tty tpgid flags minflt cminflt majflt cmajflt utime
        // stime
        if (sscanf(p + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %llu %llu", &utime, &stime) != 2)
            return -1;
        return int64_t(utime + stime) * (1000000000 / sysconf(_SC_CLK_TCK));
    }

    std::vector<TSystem> Systems;

private:
    QProcess process;
};

// The console as the program makes it: a session and the main window over it, with what the benchmark
// reads of them.
struct TConsole
{
    TConsole()
        : Session(QDir::currentPath(), QStringLiteral("ZYRdenetleyici.dat"))
        , Form(Session)
    {
    }
    bool Busy() const { return Session.Busy(); }

    TConsoleSession Session;
    TMainForm Form;
    TSystemList &List = Session.ListForView();
    TCheckEngine *Engine = &Session.Engine();
    QAction *KontrolEt = Form.findChild<QAction *>(QStringLiteral("KontrolEt"));
};

// Counts the results that reach the check engine, per record.
class TResultCounter : public QObject
{
public:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == TCheckResultEvent::Kind)
            for (const TCheckResult &r : static_cast<TCheckResultEvent *>(event)->Results())
                if (r.Response)
                    ++Hits[r.Record];
        return QObject::eventFilter(watched, event);
    }
    std::unordered_map<TRecordId, int> Hits;
};

// The largest gap between ticks of a 10 ms timer: how long the main thread went without its event loop.
class TStallMeter
{
public:
    TStallMeter()
    {
        timer.setTimerType(Qt::PreciseTimer);
        timer.setInterval(10);
        QObject::connect(&timer, &QTimer::timeout, [this] {
            const int64_t now = NowNs();
            if (now - last > maxGap)
                maxGap = now - last;
            last = now;
        });
    }
    void Begin()
    {
        last = NowNs();
        maxGap = 0;
        timer.start();
    }
    double EndMs()
    {
        timer.stop();
        const int64_t now = NowNs();
        // A cycle that ends inside a gap still counts it.
        if (now - last > maxGap + 10000000)
            maxGap = now - last - 10000000;
        return maxGap / 1e6;
    }

private:
    QTimer timer;
    int64_t last = 0;
    int64_t maxGap = 0;
};

void FillList(TConsole &form, const std::vector<TSystem> &systems)
{
    std::vector<TSystemRecord> rows;
    rows.reserve(systems.size());
    int n = 0;
    for (const TSystem &s : systems) {
        TSystemRecord r;
        r.Cells = {QStringLiteral("1"), QStringLiteral("sim%1").arg(++n), s.Target, QString(),
            QStringLiteral("1"), QStringLiteral("0"), QString(), QString(),
            s.Plus ? QStringLiteral("-1") : QStringLiteral("0")};
        rows.push_back(std::move(r));
    }
    form.List.ReplaceAll(std::move(rows));
}

// The slowest single check of the fleet, each sample run alone.
double SlowestSingleMs(const std::vector<TSystem> &systems, const TOptions &o, QString &which)
{
    std::map<QString, std::vector<size_t>> byKind;
    for (size_t i = 0; i < systems.size(); ++i)
        byKind[(systems[i].Plus ? QStringLiteral("plus-") : QString()) + systems[i].Mode].push_back(i);
    double slowest = 0;
    for (const auto &[kind, members] : byKind) {
        const size_t samples = std::min<size_t>(size_t(o.Singles), members.size());
        for (size_t k = 0; k < samples; ++k) {
            const TSystem &s = systems[members[k * members.size() / samples]];
            std::mutex m;
            std::condition_variable cv;
            int64_t doneAt = 0;
            const int64_t start = NowNs();
            TCheckThread::Start(s.Target, o.TimeOut, s.Plus, [&](std::unique_ptr<TThResponse>) {
                std::lock_guard lock(m);
                doneAt = NowNs();
                cv.notify_one();
            });
            std::unique_lock lock(m);
            cv.wait(lock, [&] { return doneAt != 0; });
            const double ms = (doneAt - start) / 1e6;
            if (ms > slowest) {
                slowest = ms;
                which = kind;
            }
        }
    }
    return slowest;
}

// Time on a CPU of each of the process's threads now, by tid, with the thread's name ("window" for the main
// thread); from schedstat, in nanoseconds.
std::map<int, std::pair<std::string, int64_t>> ThreadTimes()
{
    std::map<int, std::pair<std::string, int64_t>> times;
    DIR *tasks = opendir("/proc/self/task");
    if (!tasks)
        return times;
    while (const dirent *e = readdir(tasks)) {
        const int tid = atoi(e->d_name);
        if (tid <= 0)
            continue;
        char path[64], name[32] = {};
        snprintf(path, sizeof path, "/proc/self/task/%d/comm", tid);
        if (FILE *f = fopen(path, "r")) {
            if (fgets(name, sizeof name, f))
                name[strcspn(name, "\n")] = 0;
            fclose(f);
        }
        snprintf(path, sizeof path, "/proc/self/task/%d/schedstat", tid);
        long long ns = 0;
        if (FILE *f = fopen(path, "r")) {
            if (fscanf(f, "%lld", &ns) != 1)
                ns = 0;
            fclose(f);
        }
        times[tid] = {tid == getpid() ? std::string("window") : std::string(name), ns};
    }
    closedir(tasks);
    return times;
}

// CPU time spent between two readings, by thread name; threads that ended meanwhile are not in it.
std::map<std::string, int64_t> ThreadCpuSpent(const std::map<int, std::pair<std::string, int64_t>> &before,
    const std::map<int, std::pair<std::string, int64_t>> &after)
{
    std::map<std::string, int64_t> spent;
    for (const auto &[tid, now] : after) {
        const auto was = before.find(tid);
        spent[now.first]
            += now.second - (was != before.end() && was->second.first == now.first ? was->second.second : 0);
    }
    return spent;
}

// The checks of the whole fleet started at once straight into the check runner, without the window: what
// the runner itself costs and how soon the last result is in.
void RunnerAlone(const std::vector<TSystem> &systems, const TOptions &o, double single)
{
    std::vector<double> wall, cpu, ratio;
    for (int run = 0; run < 3; ++run) {
        std::mutex m;
        std::condition_variable cv;
        size_t done = 0;
        const int64_t cpu0 = CpuNs();
        const int64_t t0 = NowNs();
        for (size_t i = 0; i < systems.size(); ++i)
            TCheckThread::Start(
                systems[i].Target, o.TimeOut, systems[i].Plus, [&](std::unique_ptr<TThResponse>) {
                    std::lock_guard lock(m);
                    if (++done == systems.size())
                        cv.notify_one();
                });
        {
            std::unique_lock lock(m);
            cv.wait(lock, [&] { return done == systems.size(); });
        }
        const int64_t t1 = NowNs();
        wall.push_back((t1 - t0) / 1e6);
        ratio.push_back(wall.back() / single);
        cpu.push_back((CpuNs() - cpu0) / 1e3 / double(systems.size()));
        printf("runner alone %d wall_ms %.1f ratio %.3f cpu_us_per_check %.1f last_start_ms %.1f\n", run + 1,
            wall.back(), ratio.back(), cpu.back(), (CheckRunnerFigures().LastStartNs - t0) / 1e6);
        fflush(stdout);
    }
    Figure("runner_alone_cycle_ms", Median(wall), "ms");
    Figure("runner_alone_ratio", Median(ratio));
    Figure("runner_alone_cpu_us_per_check", Median(cpu), "us");
}

struct TCycleFigures
{
    double WallMs = 0, StallMs = 0, CpuUsPerCheck = 0, MainCpuUsPerCheck = 0, SimCpuUsPerCheck = 0,
           PeakRssMb = 0;
    // The check runner's threads (event-driven poller, extended-check pool, name lookups) and the rest
    // (toolkit threads, threads that ended during the cycle).
    double PollerCpuUsPerCheck = 0, PlusCpuUsPerCheck = 0, ResolverCpuUsPerCheck = 0, OtherCpuUsPerCheck = 0;
    int Lost = 0, Doubled = 0, Unfinished = 0, Stray = 0;
    std::map<int, int> States;
    int AnsweringNotWorking = 0; // systems that answer (not refusing) shown as "Çalışmıyor"
    int PeakInFlight = 0, Capacity = 0;
    double LastStartMs = 0; // the last check's start, from the cycle's
};

// The check runner's share of a cycle just ended: each of its threads' CPU time, how many checks it held
// at once, and the answering systems it let show as not working.
void RunnerFigures(TCycleFigures &f, int n, const std::map<int, std::pair<std::string, int64_t>> &threads0,
    const TCheckRunnerFigures &runner0, int64_t t0, TConsole &form, const TFleet &fleet)
{
    const double perCheck = 1e3 * std::max(n, 1);
    auto spent = ThreadCpuSpent(threads0, ThreadTimes());
    const TCheckRunnerFigures runner = CheckRunnerFigures();
    f.PollerCpuUsPerCheck = spent["zyr-poller"] / perCheck;
    // The pools' threads may have ended before the cycle did: their own count.
    f.PlusCpuUsPerCheck = (runner.PlusCpuNs - runner0.PlusCpuNs) / perCheck;
    f.ResolverCpuUsPerCheck = (runner.ResolverCpuNs - runner0.ResolverCpuNs) / perCheck;
    f.OtherCpuUsPerCheck = std::max(0.0,
        f.CpuUsPerCheck - f.MainCpuUsPerCheck - f.PollerCpuUsPerCheck - f.PlusCpuUsPerCheck
            - f.ResolverCpuUsPerCheck);
    f.PeakInFlight = runner.PeakInFlight;
    f.Capacity = runner.Capacity;
    f.LastStartMs = (runner.LastStartNs - t0) / 1e6;
    // Rows re-sort at the end of a cycle: a system is found by its address.
    QHash<QString, QString> modeOf;
    for (const TSystem &s : fleet.Systems)
        modeOf.insert(s.Target, s.Mode);
    for (int i = 0; i < n; ++i)
        if (int(form.List.CellAsNumber(i, TSystemRecord::State)) == csNotWorking
            && modeOf.value(form.List.Cell(i, TSystemRecord::IP)) != QLatin1String("refuse"))
            ++f.AnsweringNotWorking;
}

// The menu's "Denetle", waiting for the console to leave the busy state.
void RunMenuCycle(TConsole &form)
{
    QEventLoop idle;
    QObject::connect(form.Engine, &TCheckEngine::BusyChanged, &idle, [&idle](bool busy) {
        if (!busy)
            idle.quit();
    });
    form.KontrolEt->trigger();
    if (form.Busy())
        idle.exec();
}

TCycleFigures RunCycle(TConsole &form, TResultCounter &counter, TStallMeter &stall, const TFleet &fleet)
{
    TCycleFigures f;
    const int n = form.List.Count();
    counter.Hits.clear();
    counter.Hits.reserve(
        size_t(n)); // the count is the benchmark's own cost on the window thread: no rehashing
    ResetPeakRss();
    ResetCheckRunnerPeak();
    const auto threads0 = ThreadTimes();
    const TCheckRunnerFigures runner0 = CheckRunnerFigures();
    const int64_t cpu0 = CpuNs();
    const int64_t main0 = ThreadCpuNs();
    const int64_t sim0 = fleet.CpuNs();
    stall.Begin();
    const int64_t t0 = NowNs();
    RunMenuCycle(form);
    const int64_t t1 = NowNs();
    f.StallMs = stall.EndMs();
    f.WallMs = (t1 - t0) / 1e6;
    f.CpuUsPerCheck = (CpuNs() - cpu0) / 1e3 / std::max(n, 1);
    f.MainCpuUsPerCheck = (ThreadCpuNs() - main0) / 1e3 / std::max(n, 1);
    f.SimCpuUsPerCheck = sim0 < 0 ? -1 : (fleet.CpuNs() - sim0) / 1e3 / std::max(n, 1);
    f.PeakRssMb = StatusField("VmHWM") / 1024.0;
    size_t counted = 0;
    for (int i = 0; i < n; ++i) {
        const auto found = counter.Hits.find(form.List.IdAt(i));
        const int hits = found == counter.Hits.end() ? 0 : found->second;
        counted += hits > 0;
        f.Lost += hits == 0;
        f.Doubled += hits > 1;
        const int state = int(form.List.CellAsNumber(i, TSystemRecord::State));
        f.Unfinished += state == csChecking;
        ++f.States[state];
    }
    RunnerFigures(f, n, threads0, runner0, t0, form, fleet);
    f.Stray = int(counter.Hits.size() - counted);
    if (form.Busy() || form.Engine->Outstanding() != 0)
        ++f.Unfinished;
    return f;
}

QString StatesText(const std::map<int, int> &states)
{
    QStringList parts;
    for (const auto &[state, count] : states)
        parts << QStringLiteral("%1:%2").arg(state).arg(count);
    return parts.join(QLatin1Char(','));
}

int RunBenchmark(TConsole &form, const TOptions &o)
{
    TFleet fleet;
    QStringList simArgs{QStringLiteral("--fleet"), QString::number(o.Fleet), QStringLiteral("--base"), o.Base,
        QStringLiteral("--delay"), QString::number(o.Delay)};
    if (!o.Mix.isEmpty())
        simArgs << QStringLiteral("--mix") << o.Mix;
    if (!fleet.Start(o.Zyrsim, simArgs)) {
        fprintf(stderr, "zyrsim did not come up\n");
        return 1;
    }
    QString which;
    const double single = SlowestSingleMs(fleet.Systems, o, which);
    printf("fleet %zu\n", fleet.Systems.size());
    printf("slowest_single_kind %s\n", qPrintable(which));
    Figure("slowest_single_ms", single, "ms");

    if (o.FdLimit <= 0)
        RunnerAlone(fleet.Systems, o, single);

    FillList(form, fleet.Systems);
    if (o.FdLimit > 0) {
        // Fewer descriptors than checks: the checks wait their turn, and every system still gets its own
        // state.
        const rlimit limit{rlim_t(o.FdLimit), rlim_t(o.FdLimit)};
        if (setrlimit(RLIMIT_NOFILE, &limit) != 0)
            return 1;
        printf("fd_limit %d\n", o.FdLimit);
    }
    TResultCounter counter;
    form.Engine->installEventFilter(&counter);
    TStallMeter stall;
    std::vector<double> wall, stalls, cpu, mainCpu, simCpu, rss, pollerCpu, plusCpu, resolverCpu, otherCpu;
    int faults = 0, notWorking = 0, answeringNotWorking = 0, peakInFlight = 0, capacity = 0;
    for (int c = 0; c < o.Cycles; ++c) {
        const TCycleFigures f = RunCycle(form, counter, stall, fleet);
        printf("cycle %d wall_ms %.1f ratio %.3f stall_ms %.1f cpu_us_per_check %.1f main_cpu_us %.1f "
               "poller_cpu_us %.1f"
               " plus_cpu_us %.1f resolver_cpu_us %.1f other_cpu_us %.1f sim_cpu_us %.1f peak_rss_mb %.1f"
               " in_flight %d/%d last_start_ms %.1f states %s lost %d doubled %d unfinished %d\n",
            c + 1, f.WallMs, f.WallMs / single, f.StallMs, f.CpuUsPerCheck, f.MainCpuUsPerCheck,
            f.PollerCpuUsPerCheck, f.PlusCpuUsPerCheck, f.ResolverCpuUsPerCheck, f.OtherCpuUsPerCheck,
            f.SimCpuUsPerCheck, f.PeakRssMb, f.PeakInFlight, f.Capacity, f.LastStartMs,
            qPrintable(StatesText(f.States)), f.Lost, f.Doubled, f.Unfinished);
        fflush(stdout);
        faults += f.Lost + f.Doubled + f.Unfinished + f.Stray;
        notWorking = std::max(notWorking, f.States.count(csNotWorking) ? f.States.at(csNotWorking) : 0);
        answeringNotWorking = std::max(answeringNotWorking, f.AnsweringNotWorking);
        peakInFlight = std::max(peakInFlight, f.PeakInFlight);
        capacity = std::max(capacity, f.Capacity);
        wall.push_back(f.WallMs);
        stalls.push_back(f.StallMs);
        cpu.push_back(f.CpuUsPerCheck);
        mainCpu.push_back(f.MainCpuUsPerCheck);
        simCpu.push_back(f.SimCpuUsPerCheck);
        rss.push_back(f.PeakRssMb);
        pollerCpu.push_back(f.PollerCpuUsPerCheck);
        plusCpu.push_back(f.PlusCpuUsPerCheck);
        resolverCpu.push_back(f.ResolverCpuUsPerCheck);
        otherCpu.push_back(f.OtherCpuUsPerCheck);
    }
    form.Engine->removeEventFilter(&counter);
    Figure("cycle_ms", Median(wall), "ms");
    Figure("cycle_ratio", Median(wall) / single);
    Figure("stall_ms", Median(stalls), "ms");
    Figure("cpu_us_per_check", Median(cpu), "us");
    Figure("main_thread_cpu_us_per_check", Median(mainCpu), "us");
    Figure("poller_cpu_us_per_check", Median(pollerCpu), "us");
    Figure("plus_pool_cpu_us_per_check", Median(plusCpu), "us");
    Figure("resolver_cpu_us_per_check", Median(resolverCpu), "us");
    Figure("other_threads_cpu_us_per_check", Median(otherCpu), "us");
    Figure("simulator_cpu_us_per_check", Median(simCpu), "us");
    Figure("peak_rss_mb", *std::max_element(rss.begin(), rss.end()), "MB");
    printf("checks_in_flight_peak %d\n", peakInFlight);
    printf("checks_in_flight_capacity %d\n", capacity);
    printf("not_working %d\n", notWorking);
    printf("answering_not_working %d\n", answeringNotWorking);
    printf("result_faults %d\n", faults);
    return faults == 0 ? 0 : 3;
}

// A fleet whose systems misbehave in every way the simulator knows, drawn afresh from the seed.
QString RandomFleetConfig(int count, const QString &base, std::mt19937 &random, std::vector<QString> &modes)
{
    static const char *const ordinary[]
        = {"ok", "ok", "ok", "refuse", "silent", "close", "badsig", "badcode", "neglen", "short", "split"};
    static const char *const lists[]
        = {"ok", "ok", "broken", "unavailable", "truncated", "oversize", "close"};
    const QStringList octets = base.split(QLatin1Char('.'));
    const uint32_t first = (octets.value(0).toUInt() << 24) | (octets.value(1).toUInt() << 16)
        | (octets.value(2).toUInt() << 8) | octets.value(3).toUInt();
    QString text;
    modes.clear();
    for (int i = 0; i < count; ++i) {
        const uint32_t a = first + uint32_t(i);
        const QString host = QStringLiteral("%1.%2.%3.%4")
                                 .arg(a >> 24)
                                 .arg((a >> 16) & 255)
                                 .arg((a >> 8) & 255)
                                 .arg(a & 255);
        const bool plus = random() % 10 == 0;
        text += QStringLiteral("[soak%1]\n").arg(i + 1);
        text += QStringLiteral("address = %1:%2\n").arg(host).arg(plus ? 8080 : 17000);
        text += QStringLiteral("delay = %1\n").arg(random() % 400);
        if (plus) {
            const QString mode = QString::fromLatin1(lists[random() % std::size(lists)]);
            text += QStringLiteral("type = plus\nlist = %1\nlistdelay = %2\n").arg(mode).arg(random() % 400);
            text += QStringLiteral("device = P%1 4 0%2%3\n")
                        .arg(i)
                        .arg(random() % 3)
                        .arg(QStringLiteral("00"));
            if (random() % 8 == 0)
                text += QStringLiteral("closed = 27105\n");
            modes.push_back(QStringLiteral("plus-") + mode);
        } else {
            const QString mode = QString::fromLatin1(ordinary[random() % std::size(ordinary)]);
            text += QStringLiteral("mode = %1\n").arg(mode);
            text += QStringLiteral("device = S%1 0 8 0,0,%2,0\n").arg(i).arg(random() % 3);
            if (random() % 6 == 0)
                text += QStringLiteral("diskalarm = 1\n");
            modes.push_back(mode);
        }
    }
    return text;
}

int RunSoak(TConsole &form, const TOptions &o)
{
    QTemporaryDir dir;
    std::mt19937 random(o.Seed);
    TFleet fleet;
    TResultCounter counter;
    form.Engine->installEventFilter(&counter);
    TStallMeter stall;
    const int64_t end = NowNs() + int64_t(o.SoakMinutes * 60e9);
    int cycle = 0, faults = 0, wrong = 0, lateReplies = 0;
    // Baseline: the largest figures of the first cycles after the warm-up; the end: of the last cycles.
    const int64_t warmEnd = NowNs() + int64_t(std::min(5.0, o.SoakMinutes / 6) * 60e9);
    int64_t baseThreads = 0, baseFds = 0, baseRss = 0;
    int64_t lastThreads = 0, lastFds = 0, lastRss = 0, maxThreads = 0, maxFds = 0, maxRss = 0;
    double worstStall = 0;
    std::vector<double> walls;
    std::vector<QString> modes;
    QHash<QString, QString> modeOf;
    while (NowNs() < end) {
        if (cycle % o.Restart == 0) {
            const QString config = dir.filePath(QStringLiteral("fleet.conf"));
            QFile file(config);
            if (!file.open(QIODevice::WriteOnly)
                || file.write(RandomFleetConfig(o.Fleet, o.Base, random, modes).toUtf8()) < 0)
                return 1;
            file.close();
            if (!fleet.Start(o.Zyrsim, {QStringLiteral("--config"), config})) {
                fprintf(stderr, "zyrsim did not come up\n");
                return 1;
            }
            FillList(form, fleet.Systems);
            // Rows move when a cycle ends (the list re-sorts): behaviours are found by address.
            modeOf.clear();
            for (const TSystem &s : fleet.Systems)
                modeOf.insert(s.Target, (s.Plus ? QStringLiteral("plus-") : QString()) + s.Mode);
        }
        ++cycle;
        const TCycleFigures f = RunCycle(form, counter, stall, fleet);
        // Every system's outcome must follow from its behaviour.
        int mismatched = 0;
        std::map<QString, int> wrongByMode;
        for (int i = 0; i < form.List.Count(); ++i) {
            const int state = int(form.List.CellAsNumber(i, TSystemRecord::State));
            const QString mode = modeOf.value(form.List.Cell(i, TSystemRecord::IP));
            const bool ok = mode == QLatin1String("refuse") ? state == csNotWorking
                : (mode == QLatin1String("silent") || mode == QLatin1String("close")
                      || mode == QLatin1String("badsig") || mode == QLatin1String("badcode"))
                ? state == csWorking
                : mode == QLatin1String("ok") ? state >= csWorkingReport && state <= csAlarm
                                              : state >= csNotWorking && state <= csAlarm;
            // A reply the system sends late (its delay plus the machine's load beyond the 512 ms wait) is
            // rightly "working, no report"; counted apart, not as a fault.
            const bool late = !ok && state == csWorking
                && (mode == QLatin1String("ok") || mode == QLatin1String("split")
                    || mode == QLatin1String("short") || mode == QLatin1String("neglen"));
            lateReplies += late;
            mismatched += !ok && !late;
            if (!ok)
                ++wrongByMode[mode + QStringLiteral("->") + QString::number(state)];
        }
        for (const auto &[what, count] : wrongByMode)
            printf("soak cycle %d unexpected %s x%d\n", cycle, qPrintable(what), count);
        wrong += mismatched;
        faults += f.Lost + f.Doubled + f.Unfinished + f.Stray;
        walls.push_back(f.WallMs);
        worstStall = std::max(worstStall, f.StallMs);
        // Let the last workers leave before counting threads.
        QThread::msleep(300);
        QCoreApplication::processEvents();
        lastThreads = StatusField("Threads");
        lastFds = OpenDescriptors();
        lastRss = StatusField("VmRSS");
        maxThreads = std::max(maxThreads, lastThreads);
        maxFds = std::max(maxFds, lastFds);
        maxRss = std::max(maxRss, lastRss);
        // After the first fleet restart: the process helpers of the simulator's restart are in the base.
        if (cycle > o.Restart + 1 && (NowNs() < warmEnd || cycle <= 3 * o.Restart)) {
            baseThreads = std::max(baseThreads, lastThreads);
            baseFds = std::max(baseFds, lastFds);
            baseRss = std::max(baseRss, lastRss);
        }
        if (cycle % 10 == 0 || f.Lost + f.Doubled + f.Unfinished + f.Stray + mismatched || f.StallMs > 100) {
            printf("soak cycle %d wall_ms %.1f stall_ms %.1f threads %lld fds %lld rss_mb %.1f lost %d "
                   "doubled %d "
                   "unfinished %d stray %d mismatched %d\n",
                cycle, f.WallMs, f.StallMs, (long long)lastThreads, (long long)lastFds, lastRss / 1024.0,
                f.Lost, f.Doubled, f.Unfinished, f.Stray, mismatched);
            fflush(stdout);
        }
    }
    form.Engine->removeEventFilter(&counter);
    auto growth = [](int64_t base, int64_t last) {
        return base > 0 ? 100.0 * double(last - base) / double(base) : 0;
    };
    printf("soak_cycles %d\n", cycle);
    printf("soak_results %lld\n", (long long)cycle * o.Fleet);
    Figure("soak_cycle_ms_median", Median(walls), "ms");
    Figure("soak_stall_ms_max", worstStall, "ms");
    printf("soak_threads base %lld end %lld max %lld\n", (long long)baseThreads, (long long)lastThreads,
        (long long)maxThreads);
    printf(
        "soak_fds base %lld end %lld max %lld\n", (long long)baseFds, (long long)lastFds, (long long)maxFds);
    printf("soak_rss_mb base %.1f end %.1f max %.1f\n", baseRss / 1024.0, lastRss / 1024.0, maxRss / 1024.0);
    Figure("soak_threads_growth_pct", growth(baseThreads, lastThreads), "%");
    Figure("soak_fds_growth_pct", growth(baseFds, lastFds), "%");
    Figure("soak_rss_growth_pct", growth(baseRss, lastRss), "%");
    printf("soak_result_faults %d\n", faults);
    printf("soak_late_replies %d\n", lateReplies);
    printf("soak_wrong_states %d\n", wrong);
    return faults == 0 && wrong == 0 ? 0 : 3;
}

bool ParseOptions(int argc, char **argv, TOptions &o)
{
    for (int i = 1; i < argc; ++i) {
        const QString arg = QString::fromLocal8Bit(argv[i]);
        if (i + 1 >= argc)
            return false;
        const QString v = QString::fromLocal8Bit(argv[++i]);
        if (arg == QLatin1String("--zyrsim"))
            o.Zyrsim = v;
        else if (arg == QLatin1String("--fleet"))
            o.Fleet = v.toInt();
        else if (arg == QLatin1String("--cycles"))
            o.Cycles = v.toInt();
        else if (arg == QLatin1String("--delay"))
            o.Delay = v.toInt();
        else if (arg == QLatin1String("--base"))
            o.Base = v;
        else if (arg == QLatin1String("--timeout"))
            o.TimeOut = v.toInt();
        else if (arg == QLatin1String("--singles"))
            o.Singles = v.toInt();
        else if (arg == QLatin1String("--soak"))
            o.SoakMinutes = v.toDouble();
        else if (arg == QLatin1String("--seed"))
            o.Seed = v.toUInt();
        else if (arg == QLatin1String("--restart"))
            o.Restart = std::max(1, v.toInt());
        else if (arg == QLatin1String("--fd-limit"))
            o.FdLimit = v.toInt();
        else if (arg == QLatin1String("--mix"))
            o.Mix = v;
        else
            return false;
    }
    return !o.Zyrsim.isEmpty() && o.Fleet > 0 && o.Cycles > 0;
}

} // namespace

int main(int argc, char **argv)
{
    TOptions o;
    if (!ParseOptions(argc, argv, o)) {
        fprintf(stderr,
            "usage: zyr_bench_cycle --zyrsim PATH --fleet N [--cycles K] [--delay MS] [--base A]"
            " [--timeout MS] [--singles S] [--mix ok=N,plus=N,refuse=N,silent=N] [--fd-limit N]"
            " [--soak MINUTES [--seed S] [--restart CYCLES]]\n");
        return 2;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    int qtArgc = 1;
    TApplication app(qtArgc, argv);
    QTemporaryDir work;
    QDir::setCurrent(work.path());
    TLogger log(QStringLiteral("ZYRdenetleyici.log"));
    Logger = &log;
    int rc = 0;
    {
        TConsole form;
        form.Form.show();
        QCoreApplication::processEvents();
        printf("open_file_limit %llu\n", [] {
            rlimit l{};
            getrlimit(RLIMIT_NOFILE, &l);
            return (unsigned long long)l.rlim_cur;
        }());
        rc = o.SoakMinutes > 0 ? RunSoak(form, o) : RunBenchmark(form, o);
        form.List.Clear();
    }
    Logger = nullptr;
    return rc;
}
