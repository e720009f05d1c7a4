// The zyrcheck exporter beside Debian's blackbox exporter, both probing one simulated fleet with the same
// concurrent scrapes: CPU time per probe, peak resident memory, and what each answer says.
//   zyr_bench_exporter --zyrsim PATH --zyrcheck PATH --blackbox PATH [--fleet 1000] [--base 127.5.0.1]
//                      [--concurrency 64] [--rounds 3]
// The blackbox exporter is an independent tool; its tcp module sends the status request DE DE 06 00 0A
// (its own line feed after it makes the sixth byte) and matches the reply's signature and reply code. It
// cannot read the report, so it tells up from down only; extended systems get a connect to their own port.
#include <httplib.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <netinet/in.h>
#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

struct TSystem
{
    std::string Target;
    bool Plus = false;
    std::string Mode;
};

struct TOptions
{
    QString Zyrsim, Zyrcheck, Blackbox;
    int Fleet = 1000;
    QString Base = QStringLiteral("127.5.0.1");
    int Concurrency = 64;
    int Rounds = 3;
};

int64_t NowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
        std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// A /proc/PID/stat or /proc/PID/status figure of another process.
std::string ProcText(qint64 Pid, const char *File)
{
    QFile f(QStringLiteral("/proc/%1/%2").arg(Pid).arg(QLatin1String(File)));
    return f.open(QIODevice::ReadOnly) ? f.readAll().toStdString() : std::string();
}

double CpuSeconds(qint64 Pid)
{
    const std::string stat = ProcText(Pid, "stat");
    const size_t close = stat.rfind(')');
    unsigned long long utime = 0, stime = 0;
    if (close == std::string::npos
        || sscanf(stat.c_str() + close + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %llu %llu", &utime,
               &stime)
            != 2)
        return -1;
    return double(utime + stime) / double(sysconf(_SC_CLK_TCK));
}

// VmHWM, VmRSS, RssAnon, RssFile of /proc/PID/status in MB.
double StatusMb(qint64 Pid, const std::string &Field)
{
    const std::string status = ProcText(Pid, "status");
    const size_t at = status.find(Field + ":");
    return at == std::string::npos ? -1 : std::stod(status.substr(at + Field.size() + 1)) / 1024.0;
}

// Starts a program and waits for a line of its standard output that holds Text; returns that line.
std::string StartAndWait(QProcess &Process, const QString &Program, const QStringList &Args, const char *Text,
    std::vector<std::string> *Lines = nullptr)
{
    Process.setProgram(Program);
    Process.setArguments(Args);
    Process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    Process.start();
    if (!Process.waitForStarted(10000))
        return {};
    QByteArray pending;
    const int64_t deadline = NowNs() + int64_t(120) * 1000000000;
    while (NowNs() < deadline) {
        if (!Process.waitForReadyRead(1000) && Process.state() != QProcess::Running)
            return {};
        pending += Process.readAll();
        for (qsizetype nl; (nl = pending.indexOf('\n')) >= 0;) {
            const std::string line = pending.left(nl).toStdString();
            pending.remove(0, nl + 1);
            if (line.find(Text) != std::string::npos)
                return line;
            if (Lines)
                Lines->push_back(line);
        }
    }
    return {};
}

void Stop(QProcess &Process)
{
    if (Process.state() == QProcess::NotRunning)
        return;
    Process.terminate();
    if (!Process.waitForFinished(10000)) {
        Process.kill();
        Process.waitForFinished(5000);
    }
}

bool Ready(int Port)
{
    httplib::Client client("127.0.0.1", Port);
    client.set_connection_timeout(1, 0);
    client.set_read_timeout(1, 0);
    for (int i = 0; i < 100; ++i) {
        if (const auto r = client.Get("/metrics"); r && r->status == 200)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
}

// A port that was free a moment ago, for the blackbox exporter, which cannot take any free port itself.
int FreePort()
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof at;
    int port = 0;
    if (bind(fd, reinterpret_cast<sockaddr *>(&at), sizeof at) == 0
        && getsockname(fd, reinterpret_cast<sockaddr *>(&at), &size) == 0)
        port = ntohs(at.sin_port);
    close(fd);
    return port;
}

double Sample(const std::string &Body, const std::string &Name)
{
    const size_t at = Body.find("\n" + Name + " ");
    return at == std::string::npos ? -1 : std::stod(Body.substr(at + Name.size() + 2));
}

struct TRound
{
    double Seconds = 0;
    double CpuSeconds = 0;
    int Probes = 0;
    int Answers = 0; // 200 with the metric this exporter gives
    int Right = 0; // and that metric says what the system's behaviour calls for
    std::map<int, int> Outcomes;
};

// One probe of every system, Concurrency at a time.
TRound RunRound(const std::vector<TSystem> &Systems, int Port, qint64 Pid, bool Ours, int Concurrency)
{
    TRound round;
    std::atomic<size_t> next{0};
    std::mutex mutex;
    const double cpuBefore = CpuSeconds(Pid);
    const int64_t start = NowNs();
    std::vector<std::thread> scrapers;
    for (int t = 0; t < Concurrency; ++t)
        scrapers.emplace_back([&] {
            httplib::Client client("127.0.0.1", Port);
            client.set_connection_timeout(10, 0);
            client.set_read_timeout(15, 0);
            client.set_keep_alive(true);
            const httplib::Headers headers = {{"X-Prometheus-Scrape-Timeout-Seconds", "10"}};
            for (size_t i; (i = next++) < Systems.size();) {
                const TSystem &s = Systems[i];
                std::string path = "/probe?target=" + s.Target;
                if (Ours)
                    path += s.Plus ? "&plus=1&devices=1" : "&plus=0&devices=1";
                else
                    path += s.Plus ? "&module=connect" : "&module=zyr";
                const auto r = client.Get(path, headers);
                const double value = r && r->status == 200
                    ? Sample("\n" + r->body, Ours ? "zyr_state" : "probe_success")
                    : -1;
                // A healthy system is 3 (or up), a refusing one 1 (down), a silent one 2: working, no report,
                // which a connect-and-expect prober can only call down.
                const int want = Ours ? (s.Mode == "refuse"   ? 1
                                         : s.Mode == "silent" ? 2
                                                              : 3)
                                      : (s.Mode == "refuse" || s.Mode == "silent" ? 0 : 1);
                std::lock_guard lock(mutex);
                ++round.Probes;
                if (value >= 0) {
                    ++round.Answers;
                    ++round.Outcomes[int(value)];
                    round.Right += int(value) == want ? 1 : 0;
                }
            }
        });
    for (std::thread &t : scrapers)
        t.join();
    round.Seconds = double(NowNs() - start) / 1e9;
    round.CpuSeconds = CpuSeconds(Pid) - cpuBefore;
    return round;
}

void Figure(const char *Key, double Value)
{
    printf("%s %.3f\n", Key, Value);
    fflush(stdout);
}

int Usage()
{
    fprintf(stderr,
        "usage: zyr_bench_exporter --zyrsim PATH --zyrcheck PATH --blackbox PATH [--fleet N] "
        "[--base 127.x.y.z] [--concurrency N] [--rounds N]\n");
    return 2;
}

} // namespace

int main(int argc, char **argv)
{
    TOptions o;
    for (int i = 1; i + 1 < argc; i += 2) {
        const QString arg = QString::fromUtf8(argv[i]), value = QString::fromUtf8(argv[i + 1]);
        if (arg == u"--zyrsim"_qs)
            o.Zyrsim = value;
        else if (arg == u"--zyrcheck"_qs)
            o.Zyrcheck = value;
        else if (arg == u"--blackbox"_qs)
            o.Blackbox = value;
        else if (arg == u"--fleet"_qs)
            o.Fleet = value.toInt();
        else if (arg == u"--base"_qs)
            o.Base = value;
        else if (arg == u"--concurrency"_qs)
            o.Concurrency = value.toInt();
        else if (arg == u"--rounds"_qs)
            o.Rounds = value.toInt();
        else
            return Usage();
    }
    if (o.Zyrsim.isEmpty() || o.Zyrcheck.isEmpty() || o.Blackbox.isEmpty() || o.Fleet < 1 || o.Concurrency < 1
        || o.Rounds < 1)
        return Usage();

    QTemporaryDir dir;
    QProcess simulator, zyrcheck, blackbox;
    std::vector<std::string> lines;
    if (StartAndWait(simulator, o.Zyrsim,
            {u"--fleet"_qs, QString::number(o.Fleet), u"--base"_qs, o.Base, u"--delay"_qs, u"100"_qs},
            "READY", &lines)
            .empty()) {
        fprintf(stderr, "zyrsim did not start\n");
        return 1;
    }
    std::vector<TSystem> systems;
    std::string targets;
    for (const std::string &line : lines) {
        std::vector<std::string> f;
        for (size_t start = 0, tab;; start = tab + 1) {
            tab = line.find('\t', start);
            f.push_back(line.substr(start, tab - start));
            if (tab == std::string::npos)
                break;
        }
        if (f.size() < 4)
            continue;
        systems.push_back({f[1], f[2] == "plus", f[3]});
        targets += f[1] + (f[2] == "plus" ? " plus\n" : "\n");
    }
    const QString targetsFile = dir.filePath(u"targets"_qs),
                  blackboxConfig = dir.filePath(u"blackbox.yml"_qs);
    {
        QFile f(targetsFile);
        f.open(QIODevice::WriteOnly);
        f.write(targets.c_str());
    }
    {
        QFile f(blackboxConfig);
        f.open(QIODevice::WriteOnly);
        f.write("modules:\n"
                "  zyr:\n"
                "    prober: tcp\n"
                "    timeout: 3s\n"
                "    tcp:\n"
                "      preferred_ip_protocol: ip4\n"
                "      ip_protocol_fallback: false\n"
                "      query_response:\n"
                "        - send: !!binary \"3t4GAAo=\"\n" // DE DE 06 00 0A, and blackbox's line feed
                "        - expect: \"(?s)^\\\\x{FFFD}\\\\x{FFFD}..\\\\x13\"\n" // DE DE, size, reply code 19
                "  connect:\n"
                "    prober: tcp\n"
                "    timeout: 3s\n"
                "    tcp:\n"
                "      preferred_ip_protocol: ip4\n"
                "      ip_protocol_fallback: false\n");
    }

    const std::string listening = StartAndWait(zyrcheck, o.Zyrcheck,
        {u"--listen"_qs, u"127.0.0.1:0"_qs, u"--targets"_qs, targetsFile, u"--max-probes"_qs,
            QString::number(o.Concurrency)},
        "listening on");
    const int ourPort = listening.empty() ? 0 : std::stoi(listening.substr(listening.rfind(':') + 1));
    const int theirPort = FreePort();
    blackbox.setProgram(o.Blackbox);
    blackbox.setArguments({u"--config.file="_qs + blackboxConfig,
        u"--web.listen-address=127.0.0.1:"_qs + QString::number(theirPort), u"--log.level=error"_qs});
    blackbox.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    blackbox.start();
    if (!ourPort || !blackbox.waitForStarted(10000) || !Ready(ourPort) || !Ready(theirPort)) {
        fprintf(stderr, "an exporter did not start\n");
        Stop(zyrcheck);
        Stop(blackbox);
        Stop(simulator);
        return 1;
    }
    printf("fleet %zu systems, %d concurrent scrapes, %d rounds each, exporters alternating\n",
        systems.size(), o.Concurrency, o.Rounds);
    TRound ours, theirs;
    double ourSim = 0, theirSim = 0;
    auto add = [](TRound &total, const TRound &r) {
        total.Seconds += r.Seconds;
        total.CpuSeconds += r.CpuSeconds;
        total.Probes += r.Probes;
        total.Answers += r.Answers;
        total.Right += r.Right;
        for (const auto &[k, v] : r.Outcomes)
            total.Outcomes[k] += v;
    };
    for (int r = 0; r < o.Rounds; ++r) {
        double before = CpuSeconds(simulator.processId());
        add(ours, RunRound(systems, ourPort, zyrcheck.processId(), true, o.Concurrency));
        ourSim += CpuSeconds(simulator.processId()) - before;
        before = CpuSeconds(simulator.processId());
        add(theirs, RunRound(systems, theirPort, blackbox.processId(), false, o.Concurrency));
        theirSim += CpuSeconds(simulator.processId()) - before;
    }
    const double ourCpu = ours.CpuSeconds / ours.Probes * 1e6,
                 theirCpu = theirs.CpuSeconds / theirs.Probes * 1e6;
    const double ourRss = StatusMb(zyrcheck.processId(), "VmHWM"),
                 theirRss = StatusMb(blackbox.processId(), "VmHWM");
    Figure("zyrcheck_cpu_us_per_probe", ourCpu);
    Figure("blackbox_cpu_us_per_probe", theirCpu);
    Figure("cpu_ratio", ourCpu / theirCpu);
    Figure("zyrcheck_peak_rss_mb", ourRss);
    Figure("blackbox_peak_rss_mb", theirRss);
    Figure("rss_ratio", ourRss / theirRss);
    // What the resident memory is made of at the end: pages of the program's own, and pages of files (the
    // program and its libraries, shared with any other process that maps them).
    Figure("zyrcheck_end_rss_anon_mb", StatusMb(zyrcheck.processId(), "RssAnon"));
    Figure("zyrcheck_end_rss_file_mb", StatusMb(zyrcheck.processId(), "RssFile"));
    Figure("blackbox_end_rss_anon_mb", StatusMb(blackbox.processId(), "RssAnon"));
    Figure("blackbox_end_rss_file_mb", StatusMb(blackbox.processId(), "RssFile"));
    Figure("zyrcheck_answered_pct", 100.0 * ours.Answers / ours.Probes);
    Figure("blackbox_answered_pct", 100.0 * theirs.Answers / theirs.Probes);
    Figure("zyrcheck_as_behaviour_pct", 100.0 * ours.Right / ours.Probes);
    Figure("blackbox_as_behaviour_pct", 100.0 * theirs.Right / theirs.Probes);
    Figure("zyrcheck_distinct_outcomes", double(ours.Outcomes.size()));
    Figure("blackbox_distinct_outcomes", double(theirs.Outcomes.size()));
    Figure("zyrcheck_round_s", ours.Seconds / o.Rounds);
    Figure("blackbox_round_s", theirs.Seconds / o.Rounds);
    Figure("simulator_cpu_us_per_probe_zyrcheck", ourSim / ours.Probes * 1e6);
    Figure("simulator_cpu_us_per_probe_blackbox", theirSim / theirs.Probes * 1e6);
    for (const auto &[k, v] : ours.Outcomes)
        printf("zyrcheck zyr_state %d: %d answers\n", k, v);
    for (const auto &[k, v] : theirs.Outcomes)
        printf("blackbox probe_success %d: %d answers\n", k, v);
    Stop(zyrcheck);
    Stop(blackbox);
    Stop(simulator);
    return ours.Answers == ours.Probes ? 0 : 1;
}
