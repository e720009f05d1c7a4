// The exporter program over HTTP: verdicts, the targets file, and what hostile or clumsy clients get.
#include "Fleet.h"
#include "Processes.h"

#include "platform/FileLimit.h"

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cmath>
#include <csignal>
#include <future>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <netinet/in.h>
#include <poll.h>
#include <QTemporaryDir>
#include <sys/resource.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

// The time bounds are the exporter's goals; under ThreadSanitizer it runs several times slower.
#if defined(__SANITIZE_THREAD__)
constexpr double Slower = 4;
#else
constexpr double Slower = 1;
#endif

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

// One answer to a request written on a fresh connection: its head, the body its Content-Length gives (none
// to a HEAD), anything after that, and whether the server then closed the connection.
struct TRawAnswer
{
    std::string Head, Body, After;
    bool Closed = false;
    double Seconds = -1; // until the answer was complete
};

TRawAnswer Exchange(int Port, const std::string &Request, bool HeadOnly = false)
{
    TRawAnswer a;
    const int fd = Connect(Port);
    if (fd < 0)
        return a;
    const auto start = std::chrono::steady_clock::now();
    send(fd, Request.data(), Request.size(), MSG_NOSIGNAL);
    std::string got;
    size_t end = std::string::npos, length = 0;
    for (;;) {
        if (end == std::string::npos && (end = got.find("\r\n\r\n")) != std::string::npos) {
            a.Head = got.substr(0, end + 4);
            const size_t at = a.Head.find("Content-Length: ");
            length = HeadOnly || at == std::string::npos ? 0 : std::stoul(a.Head.substr(at + 16));
        }
        if (end != std::string::npos && got.size() >= end + 4 + length)
            break;
        pollfd p{fd, POLLIN, 0};
        char buffer[65536];
        const ssize_t n = poll(&p, 1, 10000) > 0 ? recv(fd, buffer, sizeof buffer, 0) : -1;
        if (n <= 0) {
            a.Closed = true;
            a.After = got;
            close(fd);
            return a;
        }
        got.append(buffer, size_t(n));
    }
    a.Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    a.Body = got.substr(end + 4, length);
    a.After = got.substr(end + 4 + length) + ReadAll(fd, std::chrono::milliseconds(300), a.Closed);
    close(fd);
    return a;
}

double Refused(const std::string &Metrics, const std::string &Reason)
{
    return SampleOf(Metrics, "zyr_exporter_refused_total{reason=\"" + Reason + "\"}");
}

double Since(std::chrono::steady_clock::time_point Start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - Start).count();
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
    // Requests sent back to back (pipelined): only the first head is taken from the socket, so the second
    // waits there for its turn and both are answered, in order, on a connection that stays open.
    const int fd = kept.front();
    const std::string twice = request + request;
    send(fd, twice.data(), twice.size(), MSG_NOSIGNAL);
    got.clear();
    closed = false;
    size_t answers = 0;
    for (int wait = 0; wait < 50 && answers < 2 && !closed; ++wait) {
        got += ReadAll(fd, std::chrono::milliseconds(100), closed);
        answers = 0;
        for (size_t at = 0; (at = got.find("\nzyr_report_received 1\n", at)) != std::string::npos; ++at)
            ++answers;
    }
    EXPECT_EQ(answers, 2u);
    EXPECT_EQ(got.rfind("HTTP/1.1 200 OK\r\n", 0), 0u);
    EXPECT_NE(got.find("HTTP/1.1 200 OK\r\n", 1), std::string::npos);
    ReadAll(fd, std::chrono::milliseconds(200), closed);
    EXPECT_FALSE(closed);
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

TEST_F(ExporterTest, OnlyGetAndHeadWithoutABodyAreServedTheRestRefusedAtOnce)
{
    StartExporter();
    const std::string probe = "/probe?target=" + fleet.Target(Find("saglam"));
    struct TCase
    {
        std::string Request;
        std::string Answer; // how the answer starts after "HTTP/1.1 "
        std::string Reason; // the refusal counted, if any
        bool Closes; // the connection is closed after the answer
        bool HeadOnly = false;
    };
    const std::vector<TCase> cases = {
        // Bodies announced and held back: answered without waiting for them.
        {"POST / HTTP/1.1\r\nHost: x\r\nContent-Length: 1\r\n\r\n",
            "405 Method Not Allowed\r\nAllow: GET, HEAD\r\n", "method_not_allowed", true},
        {"PUT /metrics HTTP/1.1\r\nContent-Length: 100\r\n\r\nabc",
            "405 Method Not Allowed\r\nAllow: GET, HEAD\r\n", "method_not_allowed", true},
        {"POST " + probe + " HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n",
            "405 Method Not Allowed\r\nAllow: GET\r\n", "method_not_allowed", true},
        {"DELETE " + probe + " HTTP/1.1\r\n\r\n", "405 Method Not Allowed\r\nAllow: GET\r\n",
            "method_not_allowed", true},
        {"HEAD " + probe + " HTTP/1.1\r\n\r\n", "405 Method Not Allowed\r\nAllow: GET\r\n",
            "method_not_allowed", true, true},
        {"OPTIONS * HTTP/1.1\r\n\r\n", "405 Method Not Allowed\r\nAllow: GET, HEAD\r\n", "method_not_allowed",
            true},
        {"GET /metrics HTTP/1.1\r\nContent-Length: 5\r\n\r\n", "400 Bad Request\r\n", "body", true},
        {"GET " + probe + " HTTP/1.1\r\ncontent-length: 0012\r\n\r\n", "400 Bad Request\r\n", "body", true},
        {"HEAD / HTTP/1.1\r\nContent-Length: 1\r\n\r\n", "400 Bad Request\r\n", "body", true, true},
        {"GET " + probe + " HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n", "400 Bad Request\r\n",
            "transfer_encoding", true},
        {"GET / HTTP/1.1\r\nTransfer-Encoding: identity\r\nContent-Length: 0\r\n\r\n", "400 Bad Request\r\n",
            "transfer_encoding", true},
        {"GET /metrics HTTP/1.1\r\nContent-Length : 5\r\n\r\n", "400 Bad Request\r\n", "malformed", true},
        {"GET /metrics HTTP/1.1\r\nContent-Length: -1\r\n\r\n", "400 Bad Request\r\n", "malformed", true},
        {"GET /metrics HTTP/1.1\r\nX-A: 1\r\n folded\r\n\r\n", "400 Bad Request\r\n", "malformed", true},
        {"GET /metrics HTTP/2.0\r\n\r\n", "400 Bad Request\r\n", "malformed", true},
        {"GET  /metrics HTTP/1.1\r\n\r\n", "400 Bad Request\r\n", "malformed", true},
        // Served, on a connection that stays open.
        {"GET /metrics HTTP/1.1\r\nContent-Length: 0\r\n\r\n", "200 OK\r\n", "", false},
        {"HEAD /metrics HTTP/1.1\r\n\r\n", "200 OK\r\n", "", false, true},
        {"HEAD / HTTP/1.1\r\n\r\n", "200 OK\r\n", "", false, true},
        {"GET /nothing HTTP/1.1\r\n\r\n", "404 Not Found\r\n", "not_found", false},
    };
    std::map<std::string, int> expected;
    for (const TCase &c : cases) {
        SCOPED_TRACE(c.Request.substr(0, c.Request.find('\r')));
        const TRawAnswer a = Exchange(exporter.Port, c.Request, c.HeadOnly);
        EXPECT_EQ(a.Head.rfind("HTTP/1.1 " + c.Answer, 0), 0u) << a.Head;
        EXPECT_GE(a.Seconds, 0);
        EXPECT_LT(a.Seconds, 1.0 * Slower);
        EXPECT_EQ(a.Closed, c.Closes);
        EXPECT_EQ(a.After, ""); // no body after the head of a HEAD answer, nothing after the answer
        if (c.Closes) {
            EXPECT_NE(a.Head.find("\r\nConnection: close\r\n"), std::string::npos);
        }
        if (c.Answer.rfind("200", 0) == 0) {
            EXPECT_GT(std::stoul(a.Head.substr(a.Head.find("Content-Length: ") + 16)), 100u);
        }
        ++expected[c.Reason];
    }
    const std::string metrics = HttpGet(exporter.Port, "/metrics").Body;
    for (const char *reason : {"method_not_allowed", "body", "transfer_encoding", "malformed", "not_found",
             "bad_request", "forbidden"})
        EXPECT_EQ(Refused(metrics, reason), expected[reason]) << reason;
    // None of the refused probes reached the system.
    EXPECT_EQ(fleet.Simulator->Accepted(), 0u);
}

TEST_F(ExporterTest, RangesAreIgnoredSoNoAnswerOutgrowsItsBody)
{
    StartExporter();
    std::string many = "bytes=0-";
    for (int i = 1; i < 1500; ++i)
        many += ",0-";
    const std::string probe = "/probe?target=" + fleet.Target(Find("saglam"));
    const std::string metricsWithRanges = "GET /metrics HTTP/1.1\r\nRange: " + many + "\r\n\r\n";
    struct TCase
    {
        std::string Request, Start, End; // how the whole body starts and ends
    };
    const std::vector<TCase> cases = {
        {"GET / HTTP/1.1\r\nRange: bytes=0-3\r\n\r\n", "<html>", "</html>\n"},
        {"GET " + probe + " HTTP/1.1\r\nRange: bytes=5-9\r\nIf-Range: x\r\n\r\n", "# HELP zyr_up ",
            ",channel=\"2\"} 0\n"},
        {metricsWithRanges, "# HELP process_cpu_seconds_total ", "zyr_exporter_build_info{version=\""},
    };
    for (const auto &[request, begin, ending] : cases) {
        SCOPED_TRACE(request.substr(0, request.find('\r')));
        const TRawAnswer a = Exchange(exporter.Port, request);
        EXPECT_EQ(a.Head.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << a.Head.substr(0, 40);
        EXPECT_NE(a.Head.find("\r\nAccept-Ranges: none\r\n"), std::string::npos);
        EXPECT_EQ(a.Head.find("Content-Range"), std::string::npos);
        EXPECT_EQ(a.Body.rfind(begin, 0), 0u);
        EXPECT_NE(a.Body.find(ending, a.Body.size() - std::min(a.Body.size(), ending.size() + 20)),
            std::string::npos);
        EXPECT_EQ(a.After, "");
        EXPECT_FALSE(a.Closed);
    }
    // 36 at once: each answer is its body and a head, and the memory stays where it was.
    std::vector<std::future<TRawAnswer>> answers;
    for (int i = 0; i < 36; ++i)
        answers.push_back(
            std::async(std::launch::async, [&] { return Exchange(exporter.Port, metricsWithRanges); }));
    for (auto &answer : answers) {
        const TRawAnswer a = answer.get();
        EXPECT_EQ(a.Head.rfind("HTTP/1.1 200 OK\r\n", 0), 0u);
        EXPECT_LT(a.Head.size() + a.Body.size() + a.After.size(), 16384u);
    }
    const long peakKb = PeakResidentKb(exporter.Child.Pid());
    RecordProperty("peak_resident_kb_after_ranges", std::to_string(peakKb));
#if !defined(ZYR_SANITIZED)
    EXPECT_LT(peakKb, 64 * 1024);
#endif
}

TEST_F(ExporterTest, AProbeNoWorkerTakesInTimeIsRefusedNotParked)
{
    // One slot and five probe workers: one probing, four waiting for the slot, each probe of the silent
    // system taking its 512 ms reply wait. A request beyond them waits for a worker 2 s at most.
    StartExporter({"--max-probes", "1"});
    const std::string silent = "/probe?target=" + fleet.Target(Find("mod-silent"));
    constexpr int Requests = 12;
    const auto start = std::chrono::steady_clock::now();
    std::vector<std::future<std::pair<THttpAnswer, double>>> answers;
    for (int i = 0; i < Requests; ++i)
        answers.push_back(std::async(std::launch::async, [&] {
            const THttpAnswer a = HttpGet(exporter.Port, silent, std::chrono::seconds(15));
            return std::make_pair(a, Since(start));
        }));
    // What needs no probe is not queued behind them.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const auto asked = std::chrono::steady_clock::now();
    const THttpAnswer metrics = HttpGet(exporter.Port, "/metrics", std::chrono::seconds(2));
    EXPECT_EQ(metrics.Status, 200);
    EXPECT_LT(Since(asked), 0.5 * Slower);
    EXPECT_EQ(SampleOf(metrics.Body, "zyr_exporter_probes_in_flight"), 1);
    int refused = 0;
    for (auto &answer : answers) {
        const auto [a, seconds] = answer.get();
        if (a.Status == 503) {
            ++refused;
            EXPECT_EQ(a.Body, "no worker was free in time\n");
            EXPECT_GE(seconds, 1.9);
            EXPECT_LT(seconds, 2 + 0.8 * Slower);
        } else {
            EXPECT_EQ(a.Status, 200);
            EXPECT_EQ(SampleOf(a.Body, "zyr_state"), 2);
        }
    }
    // Workers come free at 0.51, 1.02 and 1.53 s: requests 10 to 12 (and 9, which races the fourth) find
    // none in time.
    EXPECT_GE(refused, 3);
    EXPECT_LE(refused, Requests - 6);
    EXPECT_EQ(Refused(HttpGet(exporter.Port, "/metrics").Body, "no_worker"), refused);
}

TEST_F(ExporterTest, TwoSlotsKeepThirtyTwoLoopingClientsMoving)
{
    // Requests waiting for a probe slot outnumber the slots all the time. A wake-up lost when a slot is
    // freed leaves a request asleep while a slot is free, until its deadline (a 503; 0.75 s in an optimised
    // build, longer under the sanitizers, whose probes take several times as long).
    StartExporter({"--max-probes", "2"});
    const std::string probe = "/probe?target=" + fleet.Target(Find("saglam"));
    constexpr int Clients = 32, Slots = 2;
    struct TRecord
    {
        int Status;
        double Seconds, Probe;
    };
    std::vector<std::vector<TRecord>> records(Clients);
    std::atomic<bool> stop{false};
    std::vector<std::thread> clients;
    for (int c = 0; c < Clients; ++c)
        clients.emplace_back([&, c] {
            while (!stop) {
                const auto start = std::chrono::steady_clock::now();
                const THttpAnswer a = HttpGet(exporter.Port, probe, std::chrono::seconds(10),
                    {{"X-Prometheus-Scrape-Timeout-Seconds", std::to_string(int(Slower))}});
                records[c].push_back({a.Status, Since(start),
                    a.Status == 200 ? SampleOf(a.Body, "zyr_probe_duration_seconds") : 0});
            }
        });
    std::this_thread::sleep_for(std::chrono::seconds(2));
    stop = true;
    for (std::thread &t : clients)
        t.join();
    double slowestProbe = 0, slowestAnswer = 0;
    size_t answers = 0, refused = 0;
    for (const auto &list : records)
        for (const TRecord &r : list) {
            ++answers;
            refused += r.Status != 200;
            slowestProbe = std::max(slowestProbe, r.Probe);
            slowestAnswer = std::max(slowestAnswer, r.Seconds);
        }
    printf(
        "%zu answers, slowest probe %.4f s, slowest answer %.4f s\n", answers, slowestProbe, slowestAnswer);
    EXPECT_GT(answers, size_t(Clients) * 10);
    EXPECT_EQ(refused, 0u);
    // At worst a request waits while every other client's probe runs, two at a time: no answer may take
    // twice that.
    EXPECT_LE(slowestAnswer, 2 * double(Clients) / Slots * slowestProbe * Slower);
}

TEST_F(ExporterTest, ReloadCountersOnlyGrow)
{
    StartExporter();
    // A long faulty file: each reload reads it a while before failing at its last line, and scrapes fall
    // within those reads.
    std::string faulty;
    for (int i = 0; i < 300; ++i)
        faulty += "127.0.0.1:" + std::to_string(1000 + i) + "\n";
    ASSERT_TRUE(WriteFile(targets, faulty + "bozuk satır\n"));
    auto reloads = [](const std::string &Metrics, const std::string &Result) {
        return SampleOf(Metrics, "zyr_exporter_target_reloads_total{result=\"" + Result + "\"}");
    };
    std::atomic<bool> stop{false};
    std::atomic<int> hangups{0};
    std::thread signaller([&] {
        while (!stop) {
            kill(exporter.Child.Pid(), SIGHUP);
            ++hangups;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    });
    double failures = 0, wrongSuccess = 0;
    int scrapes = 0, decreases = 0;
    for (const auto start = std::chrono::steady_clock::now(); Since(start) < 1.5; ++scrapes) {
        const std::string metrics = HttpGet(exporter.Port, "/metrics").Body;
        if (reloads(metrics, "success") != 0)
            wrongSuccess = reloads(metrics, "success");
        decreases += reloads(metrics, "failure") < failures;
        failures = std::max(failures, reloads(metrics, "failure"));
    }
    stop = true;
    signaller.join();
    printf("%d scrapes during the reloads\n", scrapes);
    EXPECT_EQ(wrongSuccess, 0) << "a success counted while every reload failed";
    EXPECT_EQ(decreases, 0);
    EXPECT_GT(failures, 0);
    if (Slower == 1) { // under ThreadSanitizer the reloads alone can fill the time
        EXPECT_GE(scrapes, 5);
    }

    // A good file, once the last hang-up's reload is over: one success, the failures kept.
    for (double before = -1; before != failures;) {
        before = failures;
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        failures = reloads(HttpGet(exporter.Port, "/metrics").Body, "failure");
    }
    ASSERT_TRUE(WriteFile(targets + ".yeni", TargetsOf(fleet)));
    ASSERT_EQ(rename((targets + ".yeni").c_str(), targets.c_str()), 0);
    kill(exporter.Child.Pid(), SIGHUP);
    std::string metrics;
    for (int i = 0; i < 100 && reloads(metrics, "success") != 1; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        metrics = HttpGet(exporter.Port, "/metrics").Body;
    }
    EXPECT_EQ(reloads(metrics, "success"), 1);
    EXPECT_EQ(reloads(metrics, "failure"), failures);
    EXPECT_LE(reloads(metrics, "failure"), hangups);
    EXPECT_EQ(SampleOf(metrics, "zyr_exporter_last_reload_success"), 1);
    EXPECT_EQ(SampleOf(metrics, "zyr_exporter_targets"), double(fleet.Size()));
}

TEST_F(ExporterTest, ThousandHostileConnectionsStarveNeitherScrapesNorMemory)
{
    // This process holds both ends' worth of descriptors for the client side; the exporter inherits the
    // limit.
    rlimit limit{};
    getrlimit(RLIMIT_NOFILE, &limit);
    if (limit.rlim_cur < 4096) {
        limit.rlim_cur = limit.rlim_max = std::max<rlim_t>(limit.rlim_max, 4096);
        setrlimit(RLIMIT_NOFILE, &limit);
        getrlimit(RLIMIT_NOFILE, &limit);
    }
    if (limit.rlim_cur < 4096)
        GTEST_SKIP() << "needs 4,096 descriptors, has " << limit.rlim_cur;
    StartExporter();
    const std::string probe = "/probe?target=" + fleet.Target(Find("saglam"));
    constexpr int PerKind = 250;
    std::string padding; // 80 lines of 99 bytes
    for (int i = 0; i < 80; ++i)
        padding += "X-Dolgu-" + std::to_string(100 + i) + ": " + std::string(86, 'd') + "\r\n";
    // Silent after a whole head: a body announced and never sent, a chunked body never begun, an answer
    // never read.
    const std::vector<std::string> silent = {
        "GET /metrics HTTP/1.1\r\nHost: x\r\nContent-Length: 100\r\n\r\n",
        "GET " + probe + " HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\n",
        "GET / HTTP/1.1\r\nHost: x\r\n\r\n",
    };
    // A body announced, a little of it sent.
    const std::string posting
        = "POST " + probe + " HTTP/1.1\r\nHost: x\r\nContent-Length: 100000\r\n\r\n" + std::string(1000, 'b');
    // A byte a second.
    const std::string trickled = "GET " + probe + " HTTP/1.1\r\nHost: x\r\n\r\n";
    // 8 KiB heads, half of them never ended.
    const std::vector<std::string> large = {
        "GET / HTTP/1.1\r\nHost: x\r\n" + padding + "\r\n", "GET /metrics HTTP/1.1\r\nHost: x\r\n" + padding};
    ASSERT_LT(large[0].size(), 8192u);
    ASSERT_GT(large[0].size(), 7900u);

    std::vector<int> all, posted, trickling;
    int expectedBody = 0, expectedChunked = 0;
    for (int i = 0; i < 4 * PerKind; ++i) {
        const int fd = Connect(exporter.Port);
        ASSERT_GE(fd, 0) << i;
        all.push_back(fd);
        const int kind = i % 4, nth = i / 4;
        std::string sent;
        if (kind == 0) {
            sent = silent[size_t(nth) % silent.size()];
            expectedBody += nth % 3 == 0;
            expectedChunked += nth % 3 == 1;
        } else if (kind == 1) {
            sent = posting;
            posted.push_back(fd);
        } else if (kind == 2) {
            trickling.push_back(fd);
        } else {
            sent = large[size_t(nth) % 2];
        }
        ASSERT_EQ(send(fd, sent.data(), sent.size(), MSG_NOSIGNAL), ssize_t(sent.size()));
    }
    std::atomic<bool> stop{false};
    std::thread trickler([&] {
        for (size_t byte = 0; !stop; ++byte) {
            for (const int fd : trickling)
                send(fd, &trickled[byte % trickled.size()], 1, MSG_NOSIGNAL | MSG_DONTWAIT);
            for (int i = 0; i < 10 && !stop; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    });

    double slowest = 0;
    long residentKb = 0;
    int statuses = 0;
    for (int round = 0; round < 12; ++round) {
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
        for (const std::string &path : {probe, std::string("/metrics")}) {
            const auto asked = std::chrono::steady_clock::now();
            const THttpAnswer a = HttpGet(exporter.Port, path, std::chrono::seconds(5));
            slowest = std::max(slowest, Since(asked));
            statuses += a.Status == 200;
            if (path == probe) {
                EXPECT_EQ(SampleOf(a.Body, "zyr_state"), 3);
            }
        }
        residentKb = std::max(residentKb, ResidentKb(exporter.Child.Pid()));
    }
    const long peakKb = PeakResidentKb(exporter.Child.Pid());
    const std::string metrics = HttpGet(exporter.Port, "/metrics").Body;
    stop = true;
    trickler.join();

    printf("1,000 hostile connections: slowest scrape %.3f s, resident at most %ld kB, peak (VmHWM) %ld kB\n",
        slowest, residentKb, peakKb);
    RecordProperty("slowest_scrape_ms", std::to_string(int(slowest * 1000)));
    RecordProperty("peak_resident_kb", std::to_string(peakKb));
    EXPECT_EQ(statuses, 24);
    EXPECT_LT(slowest, 1.0 * Slower);
#if !defined(ZYR_SANITIZED)
    EXPECT_LT(peakKb, 64 * 1024);
#endif
    // Each refusal counted once under its reason; nothing else refused, nothing evicted.
    EXPECT_EQ(Refused(metrics, "method_not_allowed"), PerKind);
    EXPECT_EQ(Refused(metrics, "body"), expectedBody);
    EXPECT_EQ(Refused(metrics, "transfer_encoding"), expectedChunked);
    for (const char *reason : {"malformed", "no_worker", "deadline", "bad_request", "forbidden"})
        EXPECT_EQ(Refused(metrics, reason), 0) << reason;
    EXPECT_EQ(SampleOf(metrics, "zyr_exporter_connections_closed_unserved_total{reason=\"evicted\"}"), 0);
    // The posts had their refusal at once, and nothing of their body was waited for.
    for (const int fd : posted) {
        bool closed = false;
        const std::string got = ReadAll(fd, std::chrono::milliseconds(100), closed);
        EXPECT_EQ(got.rfind("HTTP/1.1 405 ", 0), 0u);
        EXPECT_TRUE(closed);
    }
    for (const int fd : all)
        close(fd);
    EXPECT_TRUE(exporter.Child.Running());
}

TEST_F(ExporterTest, ClientsThatReadNoAnswerHoldNoWorker)
{
    StartExporter();
    // Each asks for /metrics thousands of times back to back, with a small receive buffer, and reads
    // nothing: the answers soon fill its connection, and a worker that waited for room would be held there.
    std::string requests;
    for (int i = 0; i < 2000; ++i)
        requests += "GET /metrics HTTP/1.1\r\nHost: x\r\n\r\n";
    std::vector<int> hostile;
    for (int i = 0; i < 8; ++i) {
        const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const int small = 4096;
        setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
        sockaddr_in at{};
        at.sin_family = AF_INET;
        at.sin_port = htons(uint16_t(exporter.Port));
        at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr *>(&at), sizeof at), 0);
        EXPECT_GT(send(fd, requests.data(), requests.size(), MSG_NOSIGNAL | MSG_DONTWAIT), 0);
        hostile.push_back(fd);
    }
    double slowest = 0;
    for (int round = 0; round < 8; ++round) {
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
        const auto asked = std::chrono::steady_clock::now();
        EXPECT_EQ(HttpGet(exporter.Port, "/metrics", std::chrono::seconds(5)).Status, 200);
        slowest = std::max(slowest, Since(asked));
    }
    EXPECT_LT(slowest, 1.0 * Slower);
    // They were closed on once their connections were full, not waited for (and not read from here, which
    // would let the answers flow again): the scrape's own connection is left.
    double open = 0;
    for (const auto start = std::chrono::steady_clock::now(); Since(start) < 10 && open != 1;) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        open = SampleOf(HttpGet(exporter.Port, "/metrics").Body, "zyr_exporter_connections_open");
    }
    EXPECT_EQ(open, 1);
    for (const int fd : hostile)
        close(fd);
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
