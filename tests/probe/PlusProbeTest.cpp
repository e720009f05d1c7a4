#include "probe/PlusProbe.h"

#include "platform/Charset.h"
#include "ProbeTestSupport.h"

#include <chrono>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <vector>

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

// A port of the sweep that takes no connection ends the check after TimeOut div 4 = 1000 ms, well below
// TimeOut div 2, the nearest wrong limit; the ports after it are never tried. Both cases run at once.
TEST(PlusProbe, EachPortOfTheSweepWaitsTimeOutDivFour)
{
    struct TCase
    {
        std::string Host = RandomLoopbackHost();
        std::vector<std::unique_ptr<TLoopbackListener>> Open; // the ports before the silent one
        std::unique_ptr<TFullListener> Silent;
        std::unique_ptr<TLoopbackListener> After; // a port after it
    };
    TCase cases[2];
    // The own port silent.
    cases[0].Silent = std::make_unique<TFullListener>(cases[0].Host);
    cases[0].After = std::make_unique<TLoopbackListener>(cases[0].Host, 27101);
    // The own port and 27101 open, 27103 silent.
    cases[1].Open.push_back(std::make_unique<TLoopbackListener>(cases[1].Host, 0));
    cases[1].Open.push_back(std::make_unique<TLoopbackListener>(cases[1].Host, 27101));
    cases[1].Silent = std::make_unique<TFullListener>(cases[1].Host, 27103);
    cases[1].After = std::make_unique<TLoopbackListener>(cases[1].Host, 27105);
    for (const TCase &c : cases) {
        ASSERT_TRUE(c.Silent->Ready() && c.After->Listening()) << c.Host;
        for (const auto &l : c.Open)
            ASSERT_TRUE(l->Listening()) << c.Host;
    }
    const uint16_t ownPort[] = {cases[0].Silent->Port(), cases[1].Open[0]->Port()};

    TResultQueue queue;
    const auto start = Clock::now();
    for (int i = 0; i < 2; ++i)
        TCheckThread::Start(QString::fromStdString(cases[i].Host + ":" + std::to_string(ownPort[i])), 4000,
            true, queue.Sink(i));
    ASSERT_TRUE(queue.WaitFor(1, std::chrono::seconds(10)));
    const long long first = MsSince(start);
    ASSERT_TRUE(queue.WaitFor(2, std::chrono::seconds(10)));
    const long long last = MsSince(start);
    EXPECT_GE(first, 900);
    EXPECT_LT(last, 1900);
    while (auto r = queue.Take()) {
        EXPECT_EQ(r->ProbeState, psNoAnswer) << r.Tag;
        EXPECT_TRUE(r->ReportText.isEmpty());
    }
    for (TCase &c : cases) {
        for (const auto &l : c.Open)
            EXPECT_EQ(l->AcceptAndCloseWaiting(), 1) << c.Host << ":" << l->Port();
        EXPECT_EQ(c.After->AcceptAndCloseWaiting(), 0) << c.Host;
    }
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
