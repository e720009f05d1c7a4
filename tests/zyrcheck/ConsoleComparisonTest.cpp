// The console's check engine and zyrcheck (in this process and as the exporter) over one mixed fleet:
// every system gets the same state from both, and that state is the one its behaviour calls for.
#include "Fleet.h"
#include "Processes.h"

#include "engine/CheckEngine.h"
#include "platform/FileLimit.h"
#include "store/Settings.h"
#include "zyrcheck/ZyrCheck.h"

#include <future>
#include <gtest/gtest.h>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>

TEST(ConsoleComparison, ConsoleCycleAndZyrcheckGiveEverySystemTheSameState)
{
    RaiseOpenFileLimit();
    QTemporaryDir dir;
    const QString oldDir = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(dir.path()));
    TRunningFleet fleet;
    std::string error;
    ASSERT_TRUE(fleet.Start(error)) << error;

    TSystemList list;
    TLiveSettings settings;
    TCheckEngine engine(list, settings);
    engine.Settings().TimeOut = FleetProbeTimeOut;
    engine.Settings().BeepAlarm = false;
    for (size_t i = 0; i < fleet.Size(); ++i) {
        TSystemRecord r;
        r.Cells = {u"1"_qs, QString::fromStdString(fleet.Name(i)), QString::fromStdString(fleet.Target(i)),
            QString(), QString::number(fleet.Devices(i)), u"0"_qs, QString(), QString(),
            fleet.Plus(i) ? u"-1"_qs : u"0"_qs};
        list.Add(r);
    }
    ASSERT_TRUE(engine.CheckCycle(TCheckOrigin::Menu));
    QElapsedTimer wait;
    wait.start();
    while (engine.Busy() && wait.elapsed() < 60000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    ASSERT_FALSE(engine.Busy());
    std::map<std::string, int> console;
    for (int row = 0; row < list.Count(); ++row)
        console[list.Cell(row, TSystemRecord::Name).toStdString()]
            = list.Cell(row, TSystemRecord::State).toInt();

    std::vector<std::future<TZyrResult>> checks;
    for (size_t i = 0; i < fleet.Size(); ++i)
        checks.push_back(std::async(std::launch::async, [&, i] {
            return ZyrCheck(
                QString::fromStdString(fleet.Target(i)), fleet.Plus(i), fleet.Devices(i), FleetProbeTimeOut);
        }));
    TExporterProcess exporter;
    ASSERT_TRUE(exporter.Start({"--allow-any-target", "--probe-timeout", std::to_string(FleetProbeTimeOut)}));
    for (size_t i = 0; i < fleet.Size(); ++i) {
        SCOPED_TRACE(fleet.Name(i));
        const int headless = checks[i].get().State;
        const THttpAnswer a = HttpGet(exporter.Port,
            "/probe?target=" + fleet.Target(i) + "&plus=" + (fleet.Plus(i) ? "1" : "0")
                + "&devices=" + std::to_string(fleet.Devices(i)));
        EXPECT_EQ(console[fleet.Name(i)], headless);
        EXPECT_EQ(SampleOf(a.Body, "zyr_state"), headless);
        EXPECT_EQ(headless, fleet.Cases[i].State);
    }
    QDir::setCurrent(oldDir);
}
