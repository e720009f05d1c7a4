#include "probe/CheckThread.h"

#include "platform/Charset.h"
#include "ProbeTestSupport.h"

#include <chrono>
#include <gtest/gtest.h>
#include <map>

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
        TCheckThread::Start(Target(*sim, i), int32_t(i), 2000, false, queue.Sink());
    ASSERT_TRUE(queue.WaitFor(sim->Systems().size(), std::chrono::seconds(20)));
    std::vector<int> seen(sim->Systems().size());
    while (auto r = queue.Take()) {
        ASSERT_GE(r->RecordIndex, 0);
        ASSERT_LT(size_t(r->RecordIndex), seen.size());
        ++seen[size_t(r->RecordIndex)];
        const std::string &name = sim->Systems()[size_t(r->RecordIndex)].Name;
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
    auto named = CheckOnce(QStringLiteral("localhost:%1").arg(sim->Systems()[0].Port), 2000, false, 41);
    ASSERT_TRUE(named);
    EXPECT_EQ(named->RecordIndex, 41);
    EXPECT_EQ(named->ProbeState, psReport);

    auto nameless = CheckOnce(QStringLiteral(":%1").arg(sim->Systems()[0].Port), 2000, false);
    ASSERT_TRUE(nameless);
    EXPECT_EQ(nameless->ProbeState, psNoAnswer);
    EXPECT_TRUE(nameless->ReportText.isEmpty());
}

TEST(CheckThread, ConnectTimeLimits)
{
    TFullListener full;
    ASSERT_TRUE(full.Ready());
    const QString target = QString::fromStdString(full.Target());
    struct Case
    {
        int32_t timeOut;
        long long atLeast, below;
    };
    // TimeOut div 2 for the connect; a negative TimeOut counts as 5000 and so stays bounded.
    for (const Case c : {Case{800, 380, 3000}, Case{-1, 2400, 6000}}) {
        const auto start = Clock::now();
        auto r = CheckOnce(target, c.timeOut, false);
        const long long spent = MsSince(start);
        ASSERT_TRUE(r);
        EXPECT_EQ(r->ProbeState, psNoAnswer) << c.timeOut;
        EXPECT_GE(spent, c.atLeast) << c.timeOut;
        EXPECT_LT(spent, c.below) << c.timeOut;
    }
}

TEST(CheckThread, TimeOutBelowTwoConnectsWithoutALimitOfItsOwn)
{
    TSimSystem s;
    s.Name = "ok";
    s.Port = 0;
    auto sim = StartSimulator({s});
    ASSERT_TRUE(sim);
    for (const int32_t timeOut : {0, 1}) {
        auto r = CheckOnce(Target(*sim, 0), timeOut, false);
        ASSERT_TRUE(r);
        EXPECT_EQ(r->ProbeState, psReport) << timeOut;
    }
}
