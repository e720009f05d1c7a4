// A real Prometheus scrapes the fleet through the exporter, with the relabelling of the multi-target pattern.
#include "Fleet.h"
#include "Processes.h"

#include "platform/FileLimit.h"

#include <gtest/gtest.h>
#include <map>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <thread>

namespace {

std::string ScrapeConfig(const TRunningFleet &Fleet, int ExporterPort)
{
    const std::string exporter = "127.0.0.1:" + std::to_string(ExporterPort);
    std::string yaml = "global:\n"
                       "  scrape_interval: 2s\n"
                       "  scrape_timeout: 2s\n"
                       "scrape_configs:\n"
                       "  - job_name: zyr\n"
                       "    metrics_path: /probe\n"
                       "    static_configs:\n";
    for (size_t i = 0; i < Fleet.Size(); ++i)
        yaml += "      - targets: ['" + Fleet.Target(i) + "']\n        labels: {plus: '"
            + (Fleet.Plus(i) ? "1" : "0") + "', devices: '" + std::to_string(Fleet.Devices(i)) + "'}\n";
    yaml += "    relabel_configs:\n"
            "      - source_labels: [__address__]\n"
            "        target_label: __param_target\n"
            "      - source_labels: [__param_target]\n"
            "        target_label: instance\n"
            "      - source_labels: [plus]\n"
            "        target_label: __param_plus\n"
            "      - source_labels: [devices]\n"
            "        target_label: __param_devices\n"
            "      - target_label: __address__\n"
            "        replacement: "
        + exporter
        + "\n"
          "  - job_name: zyrcheck\n"
          "    static_configs:\n"
          "      - targets: ['"
        + exporter + "']\n";
    return yaml;
}

// instance -> value of every series an instant query returns.
std::map<std::string, double> Query(int Port, const std::string &Expression)
{
    std::map<std::string, double> values;
    const THttpAnswer a = HttpGet(Port, "/api/v1/query?query=" + Expression, std::chrono::seconds(5));
    if (a.Status != 200)
        return values;
    const QJsonObject top = QJsonDocument::fromJson(QByteArray::fromStdString(a.Body)).object();
    for (const QJsonValue &item : top.value(u"data"_qs).toObject().value(u"result"_qs).toArray()) {
        const QJsonObject series = item.toObject();
        const std::string instance
            = series.value(u"metric"_qs).toObject().value(u"instance"_qs).toString().toStdString();
        values[instance] = series.value(u"value"_qs).toArray().at(1).toString().toDouble();
    }
    return values;
}

} // namespace

TEST(Prometheus, ScrapesEverySystemWithTheConsolesState)
{
    RaiseOpenFileLimit();
    TRunningFleet fleet;
    std::string error;
    ASSERT_TRUE(fleet.Start(error)) << error;
    QTemporaryDir dir;
    const std::string folder = dir.path().toStdString();
    // Listed in the exporter's file without kind or devices: those come from Prometheus's parameters.
    std::string targets;
    for (size_t i = 0; i < fleet.Size(); ++i)
        targets += fleet.Target(i) + (fleet.Plus(i) ? " plus\n" : "\n");
    ASSERT_TRUE(WriteFile(folder + "/targets", targets));
    TExporterProcess exporter;
    ASSERT_TRUE(exporter.Start(
        {"--targets", folder + "/targets", "--probe-timeout", std::to_string(FleetProbeTimeOut)}));

    ASSERT_TRUE(WriteFile(folder + "/prometheus.yml", ScrapeConfig(fleet, exporter.Port)));
    // A free port may be taken by someone else before Prometheus binds it: then it ends, and it is tried
    // anew.
    int port = 0;
    TChild prometheus;
    for (int attempt = 0; attempt < 3 && port == 0; ++attempt) {
        port = FreePort();
        ASSERT_TRUE(prometheus.Start(
            {PROMETHEUS_PROGRAM, "--config.file=" + folder + "/prometheus.yml",
                "--storage.tsdb.path=" + folder + "/data",
                "--web.listen-address=127.0.0.1:" + std::to_string(port), "--log.level=warn"},
            folder + "/prometheus.out", folder + "/prometheus.err"));
        bool ready = false;
        for (int i = 0; i < 300 && !ready && prometheus.Running(); ++i) {
            ready = HttpGet(port, "/-/ready", std::chrono::seconds(1)).Status == 200;
            if (!ready)
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        if (!ready) {
            prometheus.Stop();
            port = 0;
        }
    }
    ASSERT_NE(port, 0) << ReadFile(folder + "/prometheus.err");

    std::map<std::string, double> states;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(90);
    while (std::chrono::steady_clock::now() < deadline) {
        ASSERT_TRUE(prometheus.Running()) << ReadFile(folder + "/prometheus.err");
        states = Query(port, "zyr_state");
        if (states.size() == fleet.Size())
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
    }
    ASSERT_EQ(states.size(), fleet.Size()) << ReadFile(folder + "/prometheus.err");
    for (size_t i = 0; i < fleet.Size(); ++i) {
        ASSERT_TRUE(states.count(fleet.Target(i))) << fleet.Target(i);
        EXPECT_EQ(states[fleet.Target(i)], fleet.Cases[i].State) << fleet.Name(i);
    }
    // Every scrape succeeded, the exporter's own metrics included.
    const std::map<std::string, double> up = Query(port, "up");
    EXPECT_EQ(up.size(), fleet.Size() + 1);
    for (const auto &[instance, value] : up)
        EXPECT_EQ(value, 1) << instance;
    EXPECT_EQ(Query(port, "process_resident_memory_bytes").size(), 1u);
    EXPECT_EQ(prometheus.Stop(std::chrono::seconds(10)), 0);
}
