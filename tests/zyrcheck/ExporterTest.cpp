// The exporter program over HTTP: verdicts, the targets file, and what hostile or clumsy clients get.
#include "Fleet.h"
#include "Processes.h"

#include "platform/FileLimit.h"

#include <arpa/inet.h>
#include <cmath>
#include <csignal>
#include <future>
#include <gtest/gtest.h>
#include <memory>
#include <netinet/in.h>
#include <poll.h>
#include <QTemporaryDir>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

// The targets file of a fleet: every system with its kind and expected devices.
std::string TargetsOf(const TRunningFleet &Fleet)
{
    std::string text = "# every behaviour\n";
    for (size_t i = 0; i < Fleet.Size(); ++i)
        text += Fleet.Target(i) + (Fleet.Plus(i) ? " plus" : "")
            + (Fleet.Devices(i) > 0 ? " devices=" + std::to_string(Fleet.Devices(i)) : "") + "\n";
    return text;
}

int Connect(int Port)
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_port = htons(uint16_t(Port));
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr *>(&at), sizeof at) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// Everything the server sends until it closes, at most Limit.
std::string ReadAll(int Fd, std::chrono::milliseconds Limit, bool &Closed)
{
    std::string got;
    Closed = false;
    const auto deadline = std::chrono::steady_clock::now() + Limit;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd p{Fd, POLLIN, 0};
        if (left.count() <= 0 || poll(&p, 1, int(left.count())) <= 0)
            return got;
        char buffer[4096];
        const ssize_t n = recv(Fd, buffer, sizeof buffer, 0);
        if (n <= 0) {
            Closed = true;
            return got;
        }
        got.append(buffer, size_t(n));
    }
}

// Listeners on a loopback address nobody listed, on every port a probe of it could use; they must never
// see a connection.
struct TTripwire
{
    std::string Host;
    std::vector<std::unique_ptr<TLoopbackListener>> Listeners;
    bool Open()
    {
        for (int attempt = 0; attempt < 50; ++attempt) {
            Listeners.clear();
            Host = RandomLoopbackHost();
            for (const uint16_t port : {17000, 80, 27101, 27103, 27105, 27106}) {
                Listeners.push_back(std::make_unique<TLoopbackListener>(Host, port));
                if (!Listeners.back()->Listening())
                    break;
            }
            if (Listeners.size() == 6 && Listeners.back()->Listening())
                return true;
        }
        return false;
    }
    int Connections()
    {
        int count = 0;
        for (const auto &listener : Listeners)
            count += listener->AcceptAndCloseWaiting();
        return count;
    }
};

class ExporterTest : public ::testing::Test
{
protected:
    TRunningFleet fleet;
    QTemporaryDir dir;
    std::string targets;
    TExporterProcess exporter;

    void SetUp() override
    {
        RaiseOpenFileLimit();
        std::string error;
        ASSERT_TRUE(fleet.Start(error)) << error;
        targets = dir.path().toStdString() + "/targets";
        ASSERT_TRUE(WriteFile(targets, TargetsOf(fleet)));
    }
    void StartExporter(std::vector<std::string> Args = {})
    {
        Args.insert(Args.end(), {"--targets", targets, "--probe-timeout", std::to_string(FleetProbeTimeOut)});
        ASSERT_TRUE(exporter.Start(Args));
    }
    size_t Find(const std::string &Name) const
    {
        for (size_t i = 0; i < fleet.Size(); ++i)
            if (fleet.Name(i) == Name)
                return i;
        return 0;
    }
};

} // namespace

TEST_F(ExporterTest, EveryListedSystemGetsTheConsolesState)
{
    StartExporter();
    std::vector<std::future<THttpAnswer>> answers;
    for (size_t i = 0; i < fleet.Size(); ++i)
        answers.push_back(std::async(std::launch::async, [&, i] {
            // The kind and the expected devices come from the targets file.
            return HttpGet(exporter.Port, "/probe?target=" + fleet.Target(i));
        }));
    for (size_t i = 0; i < fleet.Size(); ++i) {
        SCOPED_TRACE(fleet.Name(i));
        const THttpAnswer a = answers[i].get();
        ASSERT_EQ(a.Status, 200) << a.Body;
        EXPECT_EQ(SampleOf(a.Body, "zyr_state"), fleet.Cases[i].State);
        EXPECT_EQ(SampleOf(a.Body, "zyr_expected_devices"), fleet.Devices(i));
    }
    // A query may name the kind and the devices itself; devices only change the verdict.
    const size_t missing = Find("aygit-eksik");
    THttpAnswer a = HttpGet(exporter.Port, "/probe?target=" + fleet.Target(missing) + "&plus=0&devices=2");
    EXPECT_EQ(SampleOf(a.Body, "zyr_state"), 3);
    a = HttpGet(exporter.Port, "/probe?target=" + fleet.Target(missing) + "&devices=0");
    EXPECT_EQ(SampleOf(a.Body, "zyr_state"), 3);

    a = HttpGet(exporter.Port, "/metrics");
    EXPECT_EQ(a.Status, 200);
    EXPECT_GE(SampleOf(a.Body, "zyr_exporter_probes_total"), double(fleet.Size() + 2));
    EXPECT_EQ(SampleOf(a.Body, "zyr_exporter_targets"), double(fleet.Size()));
    EXPECT_GT(SampleOf(a.Body, "process_resident_memory_bytes"), 1e6);
    EXPECT_GT(SampleOf(a.Body, "process_cpu_seconds_total"), 0);
    EXPECT_EQ(exporter.Child.Stop(), 0); // SIGTERM ends it cleanly
}

TEST_F(ExporterTest, UnlistedTargetsAreRefusedAndNeverContacted)
{
    TTripwire tripwire;
    ASSERT_TRUE(tripwire.Open());
    StartExporter();
    const size_t ordinary = Find("saglam"), plus = Find("plus-saglam");
    const std::string host = fleet.Simulator->Systems()[ordinary].Host;
    const std::vector<std::string> refused = {
        "/probe?target=" + tripwire.Host,
        "/probe?target=" + tripwire.Host + ":17000",
        "/probe?target=" + tripwire.Host + "&plus=1",
        "/probe?target=" + tripwire.Host + ":27101&plus=0",
        "/probe?target=" + fleet.Target(ordinary) + "&plus=1", // another kind sweeps other ports
        "/probe?target=" + host + ":17001",
        "/probe?target=" + fleet.Target(plus) + "&plus=0",
    };
    for (const std::string &path : refused) {
        const THttpAnswer a = HttpGet(exporter.Port, path);
        EXPECT_EQ(a.Status, 403) << path;
        EXPECT_EQ(a.Body, "target not listed\n");
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(tripwire.Connections(), 0);
    EXPECT_EQ(fleet.Simulator->AcceptedOn(ordinary, 0), 0u);
    EXPECT_EQ(fleet.Simulator->AcceptedOn(plus, 27101), 0u);

    // Listed now and reloaded on SIGHUP: the same request is probed; a faulty file keeps that list.
    ASSERT_TRUE(WriteFile(targets, ReadFile(targets) + tripwire.Host + "\n"));
    kill(exporter.Child.Pid(), SIGHUP);
    THttpAnswer a;
    for (int i = 0; i < 100 && a.Status != 200; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        a = HttpGet(exporter.Port, "/probe?target=" + tripwire.Host);
    }
    EXPECT_EQ(a.Status, 200);
    EXPECT_EQ(SampleOf(a.Body, "zyr_state"), 2); // accepted, never answered
    EXPECT_EQ(tripwire.Connections(), 1);
    ASSERT_TRUE(WriteFile(targets, "127.0.0.1 bozuk satır\n"));
    kill(exporter.Child.Pid(), SIGHUP);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    a = HttpGet(exporter.Port, "/probe?target=" + tripwire.Host);
    EXPECT_EQ(a.Status, 200);
    a = HttpGet(exporter.Port, "/metrics");
    EXPECT_EQ(SampleOf(a.Body, "zyr_exporter_last_reload_success"), 0);
    EXPECT_EQ(tripwire.Connections(), 1);
}

TEST_F(ExporterTest, MalformedOverlongAndSlowRequests)
{
    StartExporter({"--idle-timeout", "2"});
    const std::string listed = fleet.Target(Find("saglam"));
    const std::vector<std::string> bad = {
        "/probe",
        "/probe?",
        "/probe?target=",
        "/probe?target=a%20b",
        "/probe?target=" + listed + "&target=" + listed,
        "/probe?target=" + listed + "&plus=yes",
        "/probe?target=" + listed + "&devices=-1",
        "/probe?target=" + listed + "&module=tcp",
        "/probe?target=" + listed + "%",
        "/probe?target=" + listed + "&x=" + std::string(600, 'a'),
    };
    for (const std::string &path : bad)
        EXPECT_EQ(HttpGet(exporter.Port, path).Status, 400) << path.substr(0, 80);
    EXPECT_EQ(HttpGet(exporter.Port, "/nothing").Status, 404);
    EXPECT_EQ(fleet.Simulator->Accepted(), 0u);

    // A head beyond 8 KiB is refused at once; garbage is answered 400 by the parser; both are closed.
    const std::vector<std::pair<std::string, std::string>> raw = {
        {"GET /probe?target=" + listed + " HTTP/1.1\r\nX: " + std::string(9000, 'x') + "\r\n\r\n",
            "HTTP/1.1 431 "},
        {"\x01\x02\x03 garbage\r\n\r\n", "HTTP/1.1 400 "},
    };
    for (const auto &[request, answer] : raw) {
        const int fd = Connect(exporter.Port);
        ASSERT_GE(fd, 0);
        send(fd, request.data(), request.size(), MSG_NOSIGNAL);
        bool closed = false;
        const std::string got = ReadAll(fd, std::chrono::seconds(5), closed);
        EXPECT_EQ(got.substr(0, answer.size()), answer) << got.substr(0, 60);
        EXPECT_TRUE(closed);
        close(fd);
    }

    // Slow clients: one silent, one sending a byte every 100 ms; both are closed when the idle time is up,
    // and meanwhile others are served.
    const auto start = std::chrono::steady_clock::now();
    const int silent = Connect(exporter.Port), trickle = Connect(exporter.Port);
    ASSERT_GE(silent, 0);
    ASSERT_GE(trickle, 0);
    auto served
        = std::async(std::launch::async, [&] { return HttpGet(exporter.Port, "/probe?target=" + listed); });
    const std::string head = "GET /probe?target=" + listed + " HTTP/1.1\r\nHost: x\r\n";
    bool trickleClosed = false;
    for (size_t i = 0; !trickleClosed; ++i) {
        if (send(trickle, &head[i % head.size()], 1, MSG_NOSIGNAL) != 1)
            trickleClosed = true;
        pollfd p{trickle, POLLIN, 0};
        if (poll(&p, 1, 100) > 0) {
            char c;
            trickleClosed = recv(trickle, &c, 1, 0) <= 0;
        }
        ASSERT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(6));
    }
    const double trickleSeconds
        = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_GE(trickleSeconds, 1.9);
    EXPECT_LT(trickleSeconds, 3.5);
    bool silentClosed = false;
    EXPECT_EQ(ReadAll(silent, std::chrono::seconds(3), silentClosed), "");
    EXPECT_TRUE(silentClosed);
    close(silent);
    close(trickle);
    EXPECT_EQ(served.get().Status, 200);
    const THttpAnswer metrics = HttpGet(exporter.Port, "/metrics");
    EXPECT_GE(SampleOf(metrics.Body, "zyr_exporter_refused_total{reason=\"bad_request\"}"), 10);
    EXPECT_TRUE(exporter.Child.Running());
}

TEST_F(ExporterTest, AnsweredConnectionsWaitForTheirNextRequestWithoutAThread)
{
    StartExporter({"--max-probes", "1"}); // 5 workers
    const std::string listed = fleet.Target(Find("saglam"));
    const std::string request = "GET /probe?target=" + listed + " HTTP/1.1\r\nHost: x\r\n\r\n";
    // Sends the request and reads one answer, which ends with the last metric of a probe.
    auto ask = [&](int fd, bool &closed) {
        send(fd, request.data(), request.size(), MSG_NOSIGNAL);
        std::string got;
        closed = false;
        for (int wait = 0; wait < 50 && got.find("zyr_report_received") == std::string::npos && !closed;
             ++wait)
            got += ReadAll(fd, std::chrono::milliseconds(100), closed);
        return got;
    };
    // More answered connections than workers, each then asking again: none of them holds a worker.
    std::vector<int> kept;
    for (int i = 0; i < 8; ++i) {
        const int fd = Connect(exporter.Port);
        ASSERT_GE(fd, 0);
        bool closed = false;
        const std::string got = ask(fd, closed);
        EXPECT_EQ(got.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << got.substr(0, 40);
        EXPECT_NE(got.find("Keep-Alive: timeout=120"), std::string::npos);
        EXPECT_FALSE(closed);
        kept.push_back(fd);
    }
    for (const int fd : kept) {
        bool closed = false;
        const std::string got = ask(fd, closed);
        EXPECT_NE(got.find("\nzyr_state 3\n"), std::string::npos) << got.substr(0, 60);
        EXPECT_FALSE(closed);
    }
    // "Connection: close" is honoured.
    const std::string last = "GET /metrics HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n";
    send(kept.back(), last.data(), last.size(), MSG_NOSIGNAL);
    bool closed = false;
    std::string got = ReadAll(kept.back(), std::chrono::seconds(5), closed);
    EXPECT_NE(got.find("zyr_exporter_build_info"), std::string::npos);
    EXPECT_TRUE(closed);
    // Requests sent back to back (pipelined): the connection cannot be handed on with bytes read ahead, so
    // it is answered at least once and then closed, never left hanging.
    const int fd = kept.front();
    const std::string twice = request + request;
    send(fd, twice.data(), twice.size(), MSG_NOSIGNAL);
    got = ReadAll(fd, std::chrono::seconds(5), closed);
    EXPECT_TRUE(closed);
    size_t answers = 0;
    for (size_t at = 0; (at = got.find("HTTP/1.1 200 OK", at)) != std::string::npos; ++at)
        ++answers;
    EXPECT_GE(answers, 1u);
    EXPECT_LE(answers, 2u);
    for (const int k : kept)
        close(k);
    EXPECT_EQ(SampleOf(HttpGet(exporter.Port, "/metrics").Body, "zyr_exporter_connections_total"), 9);
}

TEST_F(ExporterTest, ThousandIdleConnectionsLeaveMemoryAndScrapesAlone)
{
    StartExporter();
    const std::string listed = fleet.Target(Find("saglam"));
    std::vector<int> idle;
    for (int i = 0; i < 1000; ++i) {
        const int fd = Connect(exporter.Port);
        ASSERT_GE(fd, 0) << i;
        if (i % 2) // half of them start a request and never end it
            send(fd, "GET /probe?target=", 18, MSG_NOSIGNAL);
        idle.push_back(fd);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const auto start = std::chrono::steady_clock::now();
    const THttpAnswer a = HttpGet(exporter.Port, "/probe?target=" + listed, std::chrono::seconds(2),
        {{"X-Prometheus-Scrape-Timeout-Seconds", "2"}});
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(a.Status, 200);
    EXPECT_EQ(SampleOf(a.Body, "zyr_state"), 3);
    EXPECT_LT(seconds, 2.0);
    const long kb = ResidentKb(exporter.Child.Pid());
    const THttpAnswer metrics = HttpGet(exporter.Port, "/metrics");
    EXPECT_GE(SampleOf(metrics.Body, "zyr_exporter_connections_open"), 1001);
    RecordProperty("resident_kb_with_1000_idle", std::to_string(kb));
#if !defined(ZYR_SANITIZED)
    EXPECT_LE(kb, 64 * 1024) << "resident memory with 1,000 idle connections";
#endif
    for (const int fd : idle)
        close(fd);
}

TEST_F(ExporterTest, TheScrapeTimeoutIsADeadlineNeverTheProbesTimeOut)
{
    // A reply after 400 ms is within the probe's fixed 512 ms wait, whatever the scraper's time-out.
    TSimSystem late;
    late.Name = "yavas";
    late.Host = "auto";
    late.Port = 0;
    late.DelayMs = 400;
    late.Devices = {{"A1", 0, 1, "0"}};
    TSimulator slow({late});
    std::string error;
    ASSERT_TRUE(slow.Start(error)) << error;
    ASSERT_TRUE(WriteFile(targets, ReadFile(targets) + slow.Target(0) + "\n"));
    StartExporter({"--max-probes", "1"});
    const std::vector<std::pair<std::string, std::string>> shortScrape
        = {{"X-Prometheus-Scrape-Timeout-Seconds", "0.1"}};
    THttpAnswer a
        = HttpGet(exporter.Port, "/probe?target=" + slow.Target(0), std::chrono::seconds(5), shortScrape);
    EXPECT_EQ(a.Status, 200);
    EXPECT_EQ(SampleOf(a.Body, "zyr_state"), 3);
    EXPECT_GE(SampleOf(a.Body, "zyr_probe_duration_seconds"), 0.39);

    // With the only slot taken, a probe that cannot start before its deadline is refused, not queued on.
    auto busy = std::async(std::launch::async,
        [&] { return HttpGet(exporter.Port, "/probe?target=" + fleet.Target(Find("mod-silent"))); });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const auto start = std::chrono::steady_clock::now();
    a = HttpGet(exporter.Port, "/probe?target=" + slow.Target(0), std::chrono::seconds(5),
        {{"X-Prometheus-Scrape-Timeout-Seconds", "0.2"}});
    const double waited = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(a.Status, 503);
    EXPECT_LT(waited, 0.35);
    EXPECT_EQ(SampleOf(busy.get().Body, "zyr_state"), 2);
    // /metrics needs no slot.
    EXPECT_EQ(HttpGet(exporter.Port, "/metrics", std::chrono::seconds(1)).Status, 200);
}

TEST(ExporterProgram, ArgumentsAndStart)
{
    struct TCase
    {
        std::vector<std::string> Args;
        int Exit;
        std::string Message;
    };
    QTemporaryDir dir;
    const std::string faulty = dir.path().toStdString() + "/faulty";
    WriteFile(faulty, "127.0.0.1\nbad host\n");
    const std::vector<TCase> cases = {
        {{"--listen", "127.0.0.1:0"}, 2, "give --targets FILE, or --allow-any-target"},
        {{"--listen", "localhost:9"}, 2, "--listen needs"},
        {{"--listen", "127.0.0.1:70000", "--allow-any-target"}, 2, "--listen needs"},
        {{"--listen", ":0", "--allow-any-target", "--max-probes", "0"}, 2, "--max-probes needs"},
        {{"--listen", ":0", "--allow-any-target", "-H", "x"}, 2, "unknown option"},
        {{"--listen", ":0", "--targets", dir.path().toStdString() + "/none"}, 1, "cannot read"},
        {{"--listen", ":0", "--targets", faulty}, 1, "line 2"},
    };
    for (const TCase &c : cases) {
        std::vector<std::string> argv = {ZYRCHECK_PROGRAM};
        argv.insert(argv.end(), c.Args.begin(), c.Args.end());
        TChild child;
        const std::string err = dir.path().toStdString() + "/err";
        ASSERT_TRUE(child.Start(argv, dir.path().toStdString() + "/out", err));
        int status = -1;
        waitpid(child.Pid(), &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == c.Exit) << c.Message << " " << status;
        EXPECT_NE(ReadFile(err).find(c.Message), std::string::npos) << ReadFile(err);
    }
    // Bound to loopback unless told otherwise.
    TExporterProcess exporter;
    ASSERT_TRUE(exporter.Start({"--allow-any-target"}));
    TChild plain;
    ASSERT_TRUE(
        plain.Start({ZYRCHECK_PROGRAM, "--listen", std::to_string(FreePort()), "--allow-any-target"}));
    EXPECT_NE(plain.WaitForLine("listening on 127.0.0.1:", std::chrono::seconds(10)), "");
}
