#include "probe/CheckThread.h"

#include "platform/Charset.h"
#include "platform/Errors.h"
#include "probe/CheckRunner.h"
#include "ProbeTestSupport.h"

#include <chrono>
#include <future>
#include <gtest/gtest.h>
#include <map>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

long long MsSince(Clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

QString Target(const TSimulator &sim, size_t i)
{
    return QString::fromStdString(sim.Target(i));
}

} // namespace

TEST(SplitTarget, PortRules)
{
    struct Case
    {
        const char *target;
        bool plus;
        const char *host;
        uint16_t port;
    };
    const Case cases[] = {
        {"127.0.0.5", false, "127.0.0.5", 17000}, {"127.0.0.5:17220", false, "127.0.0.5", 17220},
        {"127.0.0.5", true, "127.0.0.5", 80}, {"127.0.0.7:8080", true, "127.0.0.7", 8080},
        {"127.0.0.5:", false, "127.0.0.5", 17000}, {"host:abc", false, "host", 17000},
        {"host: 17220", false, "host", 17220}, {"host:17220 ", false, "host", 17000},
        {"host:$4368", false, "host", 17256}, {"host:0x4368", false, "host", 17256},
        {"host:+17220", false, "host", 17220}, {"a:b:c", false, "a", 17000},
        {" host :1", false, " host ", 1}, // the address is not trimmed
        {":17220", false, "", 17220},
        {"host:82537", false, "host", 17001}, // no range check: only the low 16 bits count
    };
    for (const Case &c : cases) {
        const TProbeTarget t = SplitTarget(QString::fromUtf8(c.target), c.plus);
        EXPECT_EQ(t.Host, c.host) << c.target;
        EXPECT_EQ(t.Port, c.port) << c.target;
    }
    // Only the first 255 characters after the colon are the port text.
    EXPECT_EQ(
        SplitTarget(QStringLiteral("h:") + QString(254, QLatin1Char(' ')) + QStringLiteral("12"), false).Port,
        1); // the 255th character is '1'
    EXPECT_EQ(
        SplitTarget(QStringLiteral("h:") + QString(253, QLatin1Char(' ')) + QStringLiteral("12"), false).Port,
        12);
}

// One simulated system per kind of answer; every state and text is the one the failure table gives.
TEST(CheckThread, OrdinaryAnswersGiveTheirStates)
{
    auto system = [](const char *name, const char *mode) {
        TSimSystem s;
        s.Name = name;
        s.Port = 0;
        s.Mode = mode;
        s.Devices = {{"A1B2C3", 0, 8, "0,0,1,2,0,0,0,0"}};
        return s;
    };
    std::vector<TSimSystem> systems;
    systems.push_back(system("ok", "ok"));
    systems.push_back(system("silent", "silent"));
    systems.push_back(system("late", "ok"));
    systems.back().DelayMs = 600;
    systems.push_back(system("badsig", "badsig"));
    systems.push_back(system("badcode", "badcode"));
    systems.push_back(system("short", "short"));
    systems.push_back(system("close", "close"));
    systems.push_back(system("zero", "ok"));
    systems.back().Length = 0;
    systems.push_back(system("negative", "neglen"));
    // 100 bytes announced, the first piece carries 40 of them
    systems.push_back(system("split", "split"));
    systems.back().Report = std::string(100, 'r');
    systems.back().SplitAt = 9 + 40;
    systems.back().GapMs = 300;
    // a length field far beyond the buffer, with more text than it holds
    systems.push_back(system("oversize", "ok"));
    systems.back().Report = std::string(700, 'o');
    systems.back().Length = 100000;
    systems.push_back(system("cp1254", "ok"));
    systems.back().Report = "Kal\xFDn\xFD\4\xFE";
    systems.push_back(system("refuse", "refuse"));

    auto sim = StartSimulator(systems);
    ASSERT_TRUE(sim);
    const std::string okReport = BuildReport(sim->Systems()[0]);
    struct Expect
    {
        int32_t state;
        QString text;
    };
    const std::map<std::string, Expect> expected = {
        {"ok", {psReport, DecodeExternalText(okReport.data(), qsizetype(okReport.size()))}},
        {"silent", {psConnected, {}}},
        {"late", {psConnected, {}}},
        {"badsig", {psConnected, {}}},
        {"badcode", {psConnected, {}}},
        {"short", {psConnected, {}}},
        {"close", {psConnected, {}}},
        {"zero", {psReport, {}}},
        {"negative", {psReport, {}}},
        {"split", {psReport, QString(40, QLatin1Char('r')) + QString(60, QChar(0))}},
        {"oversize", {psReport, QString(503, QLatin1Char('o'))}},
        {"cp1254", {psReport, QString::fromUtf8("Kalını\4ş")}},
        {"refuse", {psNoAnswer, {}}},
    };

    TResultQueue queue;
    for (size_t i = 0; i < sim->Systems().size(); ++i)
        TCheckThread::Start(Target(*sim, i), 2000, false, queue.Sink(int32_t(i)));
    ASSERT_TRUE(queue.WaitFor(sim->Systems().size(), std::chrono::seconds(20)));
    std::vector<int> seen(sim->Systems().size());
    while (auto r = queue.Take()) {
        ASSERT_GE(r.Tag, 0);
        ASSERT_LT(size_t(r.Tag), seen.size());
        ++seen[size_t(r.Tag)];
        const std::string &name = sim->Systems()[size_t(r.Tag)].Name;
        const Expect &e = expected.at(name);
        EXPECT_EQ(r->ProbeState, e.state) << name;
        EXPECT_EQ(r->ReportText, e.text) << name;
    }
    for (size_t i = 0; i < seen.size(); ++i)
        EXPECT_EQ(seen[i], 1) << sim->Systems()[i].Name;
}

TEST(CheckThread, NamesAndUnresolvableHosts)
{
    TSimSystem s;
    s.Name = "ok";
    s.Port = 0;
    auto sim = StartSimulator({s});
    ASSERT_TRUE(sim);
    auto named = CheckOnce(QStringLiteral("localhost:%1").arg(sim->Systems()[0].Port), 2000, false);
    ASSERT_TRUE(named);
    EXPECT_EQ(named->ProbeState, psReport);

    for (const bool isPlus : {false, true}) {
        auto nameless = CheckOnce(QStringLiteral(":%1").arg(sim->Systems()[0].Port), 2000, isPlus);
        ASSERT_TRUE(nameless);
        EXPECT_EQ(nameless->ProbeState, psNoAnswer);
        EXPECT_TRUE(nameless->ReportText.isEmpty());
        // Its share of the descriptor table is given back whole.
        EXPECT_EQ(CheckRunnerFigures().InFlight, 0) << isPlus;
    }
}

// Both ways a check is asked of the runner: with a sink (the console's way), and waited for on the
// caller's thread (zyrcheck's way).
std::unique_ptr<TThResponse> CheckEitherWay(bool onRunner, const QString &target, int32_t timeOut)
{
    if (onRunner)
        return CheckOnce(target, timeOut, false);
    return std::make_unique<TThResponse>(RunCheck(target, timeOut, false));
}

TEST(CheckThread, ConnectTimeLimits)
{
    TFullListener full;
    ASSERT_TRUE(full.Ready());
    const QString target = QString::fromStdString(full.Target());
    struct Case
    {
        int32_t timeOut;
        long long limit; // TimeOut div 2
    };
    // A negative TimeOut counts as 5000 and so stays bounded. Limits of 1.5 s and more keep the bounds
    // clear of a loaded machine and the sanitizers; the upper bound is TimeOut itself, the nearest wrong
    // limit.
    for (const bool onRunner : {true, false}) {
        for (const Case c : {Case{3000, 1500}, Case{-1, 2500}}) {
            const auto start = Clock::now();
            auto r = CheckEitherWay(onRunner, target, c.timeOut);
            const long long spent = MsSince(start);
            ASSERT_TRUE(r);
            EXPECT_EQ(r->ProbeState, psNoAnswer) << c.timeOut << (onRunner ? " runner" : " thread");
            EXPECT_GE(spent, c.limit * 9 / 10) << c.timeOut << (onRunner ? " runner" : " thread");
            EXPECT_LT(spent, c.limit * 2) << c.timeOut << (onRunner ? " runner" : " thread");
        }
    }
}

// TimeOut 0 and 1 give a limit of 0: the connect lasts as long as the kernel's does. The full queue drops
// the first connection request; once it is drained the kernel's retry, about a second later, connects.
// A zero limit of the program's own would have given up at once.
TEST(CheckThread, TimeOutBelowTwoConnectsWithoutALimitOfItsOwn)
{
    TFullListener full;
    ASSERT_TRUE(full.Ready());
    const QString target = QString::fromStdString(full.Target());
    TResultQueue queue;
    std::vector<std::future<TThResponse>> direct;
    for (const int32_t timeOut : {0, 1}) {
        TCheckThread::Start(target, timeOut, false, queue.Sink(timeOut));
        direct.push_back(
            std::async(std::launch::async, [&target, timeOut] { return RunCheck(target, timeOut, false); }));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(500)); // every first request has met the full queue
    const auto start = Clock::now();
    auto done = [&] {
        for (auto &d : direct)
            if (d.wait_for(std::chrono::seconds(0)) != std::future_status::ready)
                return false;
        return queue.Size() == 2;
    };
    while (!done() && MsSince(start) < 20000) {
        full.Drain();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_TRUE(done());
    for (size_t i = 0; i < direct.size(); ++i)
        EXPECT_EQ(direct[i].get().ProbeState, psConnected) << "thread, TimeOut " << i;
    while (auto r = queue.Take())
        EXPECT_EQ(r->ProbeState, psConnected) << "runner, TimeOut " << r.Tag;
}

// A wait for a check that outlives its bound ends there with an error. The check itself goes on and its
// result, coming later, lands in memory that is still there (the sanitizers watch).
TEST(CheckThread, WaitForARunnerCheckEndsAtItsBound)
{
    TFullListener full;
    ASSERT_TRUE(full.Ready());
    const QString target = QString::fromStdString(full.Target());
    // TimeOut 0 sets no connect limit of the check's own: only the bound ends the wait.
    auto waited = std::async(std::launch::async, [&target] {
        const auto start = Clock::now();
        try {
            RunCheck(target, 0, false, std::chrono::milliseconds(400));
        } catch (const EZyrError &) {
            return MsSince(start);
        }
        return -1LL;
    });
    const bool ended = waited.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
    // The check gets through once the queue is drained, and delivers.
    const auto start = Clock::now();
    while (CheckRunnerFigures().InFlight > 0 && MsSince(start) < 20000) {
        full.Drain();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ASSERT_TRUE(ended) << "the wait outlived its bound";
    const long long spent = waited.get();
    EXPECT_GE(spent, 360);
    EXPECT_LT(spent, 2000);
    EXPECT_EQ(CheckRunnerFigures().InFlight, 0);
}

// The check's side of the wire, seen by a scripted system: exactly the six request bytes, and a reply
// sent about 300 ms later still counts (the reply wait is 512 ms). Both ways a check is asked of the
// runner: with a sink, and waited for.
TEST(CheckWire, SixRequestBytesAndAReplyAfter300Ms)
{
    TLoopbackListener server;
    ASSERT_TRUE(server.Listening());
    const std::vector<unsigned char> reply
        = {0xDE, 0xDE, 0x00, 0x00, 19, 5, 0, 0, 0, 'D', 'u', 'r', 'u', 'm'};
    std::vector<std::string> received(2);
    std::thread system([&] {
        for (std::string &bytes : received) {
            pollfd waiting{server.Fd(), POLLIN, 0};
            if (poll(&waiting, 1, 10000) <= 0)
                return; // no check came: the results below show it
            const int peer = accept(server.Fd(), nullptr, nullptr);
            const auto start = Clock::now();
            // Everything the check sends before the reply: a request sent short or long shows here.
            pollfd p{peer, POLLIN, 0};
            while (MsSince(start) < 300 && poll(&p, 1, int(300 - MsSince(start))) > 0) {
                char chunk[64];
                const ssize_t n = recv(peer, chunk, sizeof chunk, 0);
                if (n <= 0)
                    break;
                bytes.append(chunk, size_t(n));
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(std::max(0LL, 300 - MsSince(start))));
            send(peer, reply.data(), reply.size(), MSG_NOSIGNAL);
            // Stays open until the check has read and closed, so that the close is the check's.
            char rest;
            while (recv(peer, &rest, 1, 0) > 0) { }
            close(peer);
        }
    });
    const QString target = QString::fromStdString(server.Target());
    auto onRunner = CheckOnce(target, 2000, false);
    const TThResponse onThread = RunCheck(target, 2000, false);
    system.join();
    ASSERT_TRUE(onRunner);
    for (const TThResponse *r : {static_cast<const TThResponse *>(onRunner.get()), &onThread}) {
        EXPECT_EQ(r->ProbeState, psReport);
        EXPECT_EQ(r->ReportText, QStringLiteral("Durum"));
    }
    for (const std::string &bytes : received)
        EXPECT_EQ(bytes, std::string("\xDE\xDE\x06\x00\x0A\x00", 6));
}
