#include "probe/PlusProbe.h"

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

TSimSystem PlusSystem(const char *name)
{
    TSimSystem s;
    s.Name = name;
    s.Kind = TSimKind::Plus;
    s.Host = "auto";
    s.Port = 0;
    s.Devices = {{"A1001", 0, 4, "0120"}, {"A1002", 0, 2, "00"}};
    return s;
}

QString Target(const TSimulator &sim, size_t i)
{
    return QString::fromStdString(sim.Target(i));
}

} // namespace

// Through the worker with the real libZyrPlus.so from the test program's own folder.
TEST(PlusProbe, SweepAndDeviceListGiveTheirStates)
{
    std::vector<TSimSystem> systems;
    systems.push_back(PlusSystem("ok"));
    for (const char *mode : {"unavailable", "broken", "truncated", "oversize", "close"}) {
        systems.push_back(PlusSystem(mode));
        systems.back().ListMode = mode;
    }
    systems.push_back(PlusSystem("slow"));
    systems.back().ListDelayMs = 1500; // beyond TimeOut div 2
    for (const int closed : {0, 27101, 27103, 27105, 27106}) {
        systems.push_back(PlusSystem(("closed" + std::to_string(closed)).c_str()));
        systems.back().Closed = {closed};
    }
    auto sim = StartSimulator(systems);
    ASSERT_TRUE(sim);
    const std::string json = BuildReport(sim->Systems()[0]);

    TResultQueue queue;
    const auto start = Clock::now();
    for (size_t i = 0; i < sim->Systems().size(); ++i)
        TCheckThread::Start(Target(*sim, i), 2000, true, queue.Sink(int32_t(i)));
    ASSERT_TRUE(queue.WaitFor(sim->Systems().size(), std::chrono::seconds(20)));
    EXPECT_LT(MsSince(start), 5000);
    std::map<std::string, int32_t> states;
    while (auto r = queue.Take()) {
        const std::string &name = sim->Systems()[size_t(r.Tag)].Name;
        EXPECT_TRUE(states.emplace(name, r->ProbeState).second) << name << " delivered twice";
        if (name == "ok")
            EXPECT_EQ(r->ReportText, QString::fromStdString(json));
        else
            EXPECT_TRUE(r->ReportText.isEmpty()) << name;
    }
    const std::map<std::string, int32_t> expected = {
        {"ok", psReport},
        {"unavailable", psConnected},
        {"broken", psConnected},
        {"truncated", psConnected},
        {"oversize", psConnected},
        {"close", psConnected},
        {"slow", psConnected},
        {"closed0", psNoAnswer},
        {"closed27101", psNoAnswer},
        {"closed27103", psNoAnswer},
        {"closed27105", psNoAnswer},
        {"closed27106", psNoAnswer},
    };
    EXPECT_EQ(states, expected);

    // The sweep stops at the closed 27105: 27106 is never tried, nor the library (a second
    // connection to 27101).
    size_t at27105 = 0;
    while (sim->Systems()[at27105].Name != "closed27105")
        ++at27105;
    EXPECT_EQ(sim->AcceptedOn(at27105, 0), 1u);
    EXPECT_EQ(sim->AcceptedOn(at27105, 27101), 1u);
    EXPECT_EQ(sim->AcceptedOn(at27105, 27103), 1u);
    EXPECT_EQ(sim->AcceptedOn(at27105, 27106), 0u);
    // A complete sweep is followed by the library's own connection to 27101.
    EXPECT_EQ(sim->AcceptedOn(0, 27101), 2u);
    EXPECT_EQ(sim->AcceptedOn(0, 27106), 1u);
}

TEST(PlusProbe, EachPortTestHasTimeOutDivFour)
{
    TFullListener full;
    ASSERT_TRUE(full.Ready());
    const TProbeTarget address{full.Host(), full.Port()};
    QByteArray report;
    const auto start = Clock::now();
    // The own port is dropped unanswered and the sweep stops there: one limit of TimeOut div 4 = 1000 ms,
    // well below TimeOut div 2, the nearest wrong limit.
    EXPECT_EQ(RunPlusProbe(address, 4000, {}, report), psNoAnswer);
    const long long spent = MsSince(start);
    EXPECT_GE(spent, 900);
    EXPECT_LT(spent, 2000);
    EXPECT_TRUE(report.isEmpty());
}

// The probe's side of the library call, with stand-in libraries.
TEST(PlusProbe, LibraryResultsAndFailures)
{
    struct Case
    {
        const char *library;
        int32_t state;
        int size;
    };
    const Case cases[] = {
        {FAKE_LIBRARY_DIR "/does-not-exist.so", psConnected, 0},
        {FAKE_LIBRARY_DIR "/libfake_noexport.so", psConnected, 0},
        {FAKE_LIBRARY_DIR "/libfake_r0_l350.so", psConnected, 0},
        {FAKE_LIBRARY_DIR "/libfake_rneg_l350.so", psConnected, 0},
        {FAKE_LIBRARY_DIR "/libfake_r1_l0.so", psConnected, 0},
        {FAKE_LIBRARY_DIR "/libfake_r1_l350.so", psReport, 350},
        {FAKE_LIBRARY_DIR "/libfake_r1_l9000.so", psReport, 8192}, // cut to the buffer
    };
    for (const Case &c : cases) {
        QByteArray report("left over");
        EXPECT_EQ(FetchDeviceList({c.library}, "127.0.0.7", 5000, report), c.state) << c.library;
        EXPECT_EQ(report.size(), c.size) << c.library;
        if (c.size > 0) {
            EXPECT_TRUE(report.startsWith("127.0.0.7|27101|2500|")) << report.left(40).constData();
        }
    }
    // The first library that loads is used: a missing one in front is passed over.
    QByteArray report;
    EXPECT_EQ(FetchDeviceList({FAKE_LIBRARY_DIR "/missing.so", FAKE_LIBRARY_DIR "/libfake_r1_l350.so"}, "h",
                  1000, report),
        psReport);
    EXPECT_TRUE(report.startsWith("h|27101|500|"));
}
