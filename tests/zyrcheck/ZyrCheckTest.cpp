// The check, its plugin output and its exposition, in this process.
#include "zyrcheck/ZyrCheck.h"
#include "Fleet.h"
#include "platform/Logger.h"
#include "Processes.h"
#include "zyrcheck/Exposition.h"
#include "zyrcheck/Plugin.h"
#include "zyrcheck/Targets.h"

#include <future>
#include <gtest/gtest.h>
#include <QRegularExpression>
#include <regex>

namespace {

// The status line of the monitoring-plugin guidelines: "ZYR <STATUS> - <text> | <perfdata>", where each
// performance datum is 'label'=value[UOM];[warn];[crit];[min];[max] with ranges [@][start:][end].
const std::regex StatusLine(
    R"(^ZYR (OK|CRITICAL) - [^|\n]+ \| ('[^'=]+'=-?[0-9]+(\.[0-9]+)?(s|B)?(;(@?(-?[0-9.]+|~)?:?(-?[0-9.]+)?)?){0,4})( '[^'=]+'=-?[0-9]+(\.[0-9]+)?(s|B)?(;(@?(-?[0-9.]+|~)?:?(-?[0-9.]+)?)?){0,4})*$)");

// A line of the text exposition: a comment, or name{labels} value.
const std::regex ExpositionLine(
    R"(^(# (HELP|TYPE) [a-z_]+ .*|[a-z_]+(\{[a-z_]+="([^"\\\n]|\\["\\n])*"(,[a-z_]+="([^"\\\n]|\\["\\n])*")*\})? -?[0-9.e+-]+)$)");

std::string FirstLine(const std::string &Text)
{
    return Text.substr(0, Text.find('\n'));
}

TThResponse Report(const QString &Text)
{
    TThResponse r;
    r.ProbeState = psReport;
    r.ReportText = Text;
    return r;
}

// The worked example of an ordinary status report: two devices, a channel in alarm.
const QString Example
    = QStringLiteral("\0052\0042.9.4\00435.2 GB\0040\004120.0 GB\0040\006\004\005\005A1B2C3\0040\0048"
                     "\0040,0,1,2,0,0,0,0\006\004\005D4E5F6\0042\00430\0044,3\006\006");

} // namespace

TEST(ZyrCheck, EveryBehaviourGetsTheConsolesStateInPluginAndExposition)
{
    ASSERT_EQ(Logger, nullptr);
    TRunningFleet fleet;
    std::string error;
    ASSERT_TRUE(fleet.Start(error)) << error;
    std::vector<std::future<TZyrResult>> checks;
    for (size_t i = 0; i < fleet.Size(); ++i)
        checks.push_back(std::async(std::launch::async, [&, i] {
            return ZyrCheck(
                QString::fromStdString(fleet.Target(i)), fleet.Plus(i), fleet.Devices(i), FleetProbeTimeOut);
        }));
    for (size_t i = 0; i < fleet.Size(); ++i) {
        SCOPED_TRACE(fleet.Name(i));
        const TZyrResult result = checks[i].get();
        const int want = fleet.Cases[i].State;
        EXPECT_EQ(result.State, want);

        const TPluginOutput plugin = FormatPluginResult(result, 1);
        EXPECT_EQ(plugin.Status, want == 2 || want == 3 ? StatusOk : StatusCritical);
        EXPECT_TRUE(std::regex_match(FirstLine(plugin.Text), StatusLine)) << plugin.Text;

        const std::string metrics = ProbeMetrics(result);
        EXPECT_EQ(SampleOf(metrics, "zyr_state"), want);
        EXPECT_EQ(SampleOf(metrics, "zyr_up"), want == 1 ? 0 : 1);
        EXPECT_EQ(SampleOf(metrics, "zyr_expected_devices"), fleet.Devices(i));
        std::istringstream lines(metrics);
        for (std::string line; std::getline(lines, line);)
            EXPECT_TRUE(std::regex_match(line, ExpositionLine)) << line;
    }
    EXPECT_EQ(Logger, nullptr);
}

TEST(ZyrCheck, RowsAreTheDetailsWindowsRowsAndMetricsFollowThem)
{
    TZyrResult r = JudgeCheck(Report(Example), false, 3, 0.25);
    EXPECT_EQ(r.State, 4); // devices missing overrides the alarm
    EXPECT_TRUE(r.HasAlarm);
    const std::vector<std::vector<QString>> rows = {
        {u"Sunucu versiyon 2.9.4"_qs, u""_qs, u""_qs},
        {u"Kalan Disk Alanı 35.2 GB"_qs, u"0"_qs, u""_qs},
        {u"Kalan Yedekleme Disk Alanı 120.0 GB"_qs, u"0"_qs, u""_qs},
        {u"Aygıt SeriNo/Kapasite A1B2C3 / 8"_qs, u"0"_qs, u"0,0,1,2,0,0,0,0"_qs},
        {u"Aygıt SeriNo/Kapasite D4E5F6 / 30"_qs, u"0"_qs, u"0,1"_qs},
    };
    ASSERT_EQ(r.Rows.size(), qsizetype(rows.size()));
    for (size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(r.Rows[qsizetype(i)].Description, rows[i][0]);
        EXPECT_EQ(r.Rows[qsizetype(i)].State, rows[i][1]);
        EXPECT_EQ(r.Rows[qsizetype(i)].Channels, rows[i][2]);
    }
    EXPECT_EQ(r.ChannelsInAlarm(), 2);
    EXPECT_EQ(r.DevicesInAlarm(), 0);

    const TPluginOutput out = FormatPluginResult(r, 1);
    EXPECT_EQ(out.Text,
        "ZYR CRITICAL - Aygıt eksik tespit edildi: 2 of 3 devices, 2 channels in alarm | "
        "'time'=0.250000s;;;0 "
        "'devices'=2;;3:3;0 'devices_expected'=3;;;0 'channels_alarm'=2;;0;0 'disk_free'=37795712205B;;;0 "
        "'backup_disk_free'=128849018880B;;;0\n"
        "Sunucu versiyon 2.9.4\n"
        "Kalan Disk Alanı 35.2 GB   0\n"
        "Kalan Yedekleme Disk Alanı 120.0 GB   0\n"
        "Aygıt SeriNo/Kapasite A1B2C3 / 8   0   0,0,1,2,0,0,0,0\n"
        "Aygıt SeriNo/Kapasite D4E5F6 / 30   0   0,1\n");
    EXPECT_EQ(FormatPluginResult(r, 0).Text, FirstLine(out.Text) + "\n");

    const std::string metrics = ProbeMetrics(r);
    for (const char *line : {"zyr_state 4\n", "zyr_devices 2\n", "zyr_alarm 1\n", "zyr_expected_devices 3\n",
             "zyr_disk_free_bytes{disk=\"main\"} 37795712204.8\n",
             "zyr_device_alarm{device=\"2\",serial=\"D4E5F6\"} 0\n",
             "zyr_channel_alarm{device=\"1\",serial=\"A1B2C3\",channel=\"3\"} 1\n",
             "zyr_channel_alarm{device=\"2\",serial=\"D4E5F6\",channel=\"2\"} 1\n",
             "zyr_report_info{version=\"2.9.4\"} 1\n"})
        EXPECT_NE(metrics.find(line), std::string::npos) << line;
    EXPECT_EQ(metrics.find("channel=\"9\""), std::string::npos);

    // An extended system's list: the server row, then its devices.
    const QString json = QStringLiteral(
        R"({"ServerName":"Merkez","ServerIp":"10.0.0.7","Devices":[{"Serial":"A1001","ChannelCount":4,"Channels":[)"
        R"({"LineStatus":true,"RecordMethod":1},{"LineStatus":false,"RecordMethod":1},)"
        R"({"LineStatus":false,"RecordMethod":0},{"LineStatus":true,"RecordMethod":2}]},)"
        R"({"Serial":"A1002","ChannelCount":2,"Channels":[{"LineStatus":true,"RecordMethod":1}]}]})");
    r = JudgeCheck(Report(json), true, 0, 0.1);
    EXPECT_EQ(r.State, 6);
    ASSERT_EQ(r.Rows.size(), 3);
    EXPECT_EQ(r.Rows[0].Description, u"Merkez(10.0.0.7)"_qs);
    EXPECT_EQ(r.Rows[0].State, QString());
    EXPECT_EQ(r.Rows[1].Description, u"Aygıt SeriNo/Kapasite A1001 / 4"_qs);
    EXPECT_EQ(r.Rows[1].State, u"1"_qs);
    EXPECT_EQ(r.Rows[1].Channels, u"0,1,2,0"_qs);
    EXPECT_EQ(r.Rows[2].Channels, u"0"_qs);
    EXPECT_EQ(FirstLine(FormatPluginResult(r, 0).Text),
        "ZYR CRITICAL - Alarm tespit edildi: 2 devices, 1 device in alarm, 1 channel in alarm | "
        "'time'=0.100000s;;;0 "
        "'devices'=2;;;0 'devices_expected'=0;;;0 'channels_alarm'=1;;0;0");
    EXPECT_NE(ProbeMetrics(r).find("zyr_report_info{server_name=\"Merkez\",server_ip=\"10.0.0.7\"} 1\n"),
        std::string::npos);
}

TEST(ZyrCheck, StatesWithoutAReportAndTheCountBeyondTheList)
{
    TThResponse none;
    none.ProbeState = psNoAnswer;
    TZyrResult r = JudgeCheck(none, false, 2, 0.5);
    EXPECT_EQ(r.State, 1);
    EXPECT_EQ(
        FormatPluginResult(r, 1).Text, "ZYR CRITICAL - Çalışmıyor: no connection | 'time'=0.500000s;;;0\n");
    EXPECT_EQ(ProbeMetrics(r).find("zyr_devices"), std::string::npos);

    TThResponse connected;
    connected.ProbeState = psConnected;
    r = JudgeCheck(connected, true, 2, 0.5);
    EXPECT_EQ(r.State, 2);
    const TPluginOutput out = FormatPluginResult(r, 0);
    EXPECT_EQ(out.Status, StatusOk);
    EXPECT_EQ(out.Text, "ZYR OK - Çalışıyor: connected, no report | 'time'=0.500000s;;;0\n");

    // The header announces three devices and lists two: the window lists two and stops; no alarm was found
    // before the missing one, so the state stays 3 as in the console.
    QString text = Example;
    text.replace(u"0,0,1,2,0,0,0,0"_qs, u"0,0,0,0"_qs).replace(u"4,3"_qs, u"4,4"_qs);
    text[1] = u'3';
    r = JudgeCheck(Report(text), false, 3, 0.1);
    EXPECT_EQ(r.State, 3);
    EXPECT_EQ(r.DeviceCount, 3);
    EXPECT_EQ(r.Rows.size(), 5);
}

TEST(ZyrCheck, TextsFromTheSystemCannotBreakTheOutput)
{
    // A version and a serial with a '|', a line feed and a backslash: no second line, no early performance
    // data, no broken label.
    const QString text
        = QStringLiteral("\0051\0042.9|4\00410 GB\0040\0041 GB\0040\006\004\005\005A|B\nC\\D\0040\0042"
                         "\0040,0\006\006");
    const TZyrResult r = JudgeCheck(Report(text), false, 0, 0.1);
    const std::string out = FormatPluginResult(r, 1).Text;
    EXPECT_EQ(std::count(out.begin(), out.end(), '|'), 1) << out;
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 5) << out;
    EXPECT_NE(out.find("Sunucu versiyon 2.9¦4\n"), std::string::npos) << out;
    EXPECT_NE(out.find("Aygıt SeriNo/Kapasite A¦B\xEF\xBF\xBD"
                       "C\\D / 2   0   0,0\n"),
        std::string::npos)
        << out;
    EXPECT_NE(ProbeMetrics(r).find("{device=\"1\",serial=\"A|B\\nC\\\\D\"} 0\n"), std::string::npos);
    EXPECT_EQ(LabelValue(u"a\"b\\c\nd\u0001e"_qs),
        "a\\\"b\\\\c\\nd\xEF\xBF\xBD"
        "e");
    EXPECT_EQ(LabelValue(QString(300, u'x')).size(), 256u);
}

TEST(ZyrCheck, FreeDiskTexts)
{
    const std::vector<std::pair<const char *, double>> readable = {
        {"35.2 GB", 35.2 * 1073741824.0},
        {"35,2 GB", 35.2 * 1073741824.0},
        {"512 B", 512},
        {"1 KB", 1024},
        {"1.5 MiB", 1.5 * 1048576},
        {"2 TB", 2 * 1099511627776.0},
        {" 7gb ", 7 * 1073741824.0},
    };
    for (const auto &[text, bytes] : readable) {
        const std::optional<double> v = ParseDiskSpace(QString::fromUtf8(text));
        ASSERT_TRUE(v) << text;
        EXPECT_DOUBLE_EQ(*v, bytes) << text;
    }
    for (const char *text : {"", "GB", "35.2", "35.2 GB free", "-3 GB", "1e9 B", "35.2 XB", "1,2,3 GB"})
        EXPECT_FALSE(ParseDiskSpace(QString::fromUtf8(text))) << text;
}

TEST(Targets, AddressesQueriesAndTheTargetsFile)
{
    for (const char *good : {"127.0.0.5", "127.0.0.5:17000", "kayit-1.example", "a", "h:1", "h:65535"})
        EXPECT_TRUE(IsValidTarget(QString::fromUtf8(good))) << good;
    for (const char *bad : {"", ":80", "h:", "h:0", "h:65536", "h:017", "h:$4368", "h:abc", "a:b:c", "h :1",
             " h", "-h", "h-", "a..b", "http://h", "h/x", "h:1:", "[::1]:80", "h\n", "ğ.example"})
        EXPECT_FALSE(IsValidTarget(QString::fromUtf8(bad))) << bad;

    struct TQueryCase
    {
        std::string Query;
        bool Ok;
        std::string Target;
        int Plus; // -1 absent
        int Devices; // -1 absent
    };
    const std::vector<TQueryCase> queries = {
        {"target=127.0.0.5", true, "127.0.0.5", -1, -1},
        {"target=127.0.0.5%3A17001&plus=1&devices=3", true, "127.0.0.5:17001", 1, 3},
        {"devices=0&plus=0&target=h", true, "h", 0, 0},
        {"target=h&&", true, "h", -1, -1},
        {"", false, "", -1, -1},
        {"plus=1", false, "", -1, -1},
        {"target=h&target=g", false, "", -1, -1},
        {"target=h&plus=2", false, "", -1, -1},
        {"target=h&plus=", false, "", -1, -1},
        {"target=h&devices=-1", false, "", -1, -1},
        {"target=h&devices=1e3", false, "", -1, -1},
        {"target=h&devices=9999999999", false, "", -1, -1},
        {"target=h&module=tcp", false, "", -1, -1},
        {"target", false, "", -1, -1},
        {"target=h%2", false, "", -1, -1},
        {"target=h%zz", false, "", -1, -1},
        {"target=h%00", false, "", -1, -1},
        {"target=a%20b", false, "", -1, -1},
        {"target=" + std::string(600, 'a'), false, "", -1, -1},
    };
    for (const TQueryCase &c : queries) {
        TProbeQuery q;
        std::string error;
        ASSERT_EQ(ParseProbeQuery(c.Query, q, error), c.Ok) << c.Query << " " << error;
        if (!c.Ok) {
            EXPECT_FALSE(error.empty());
            continue;
        }
        EXPECT_EQ(q.Target, c.Target);
        EXPECT_EQ(q.Plus ? int(*q.Plus) : -1, c.Plus) << c.Query;
        EXPECT_EQ(q.Devices ? *q.Devices : -1, c.Devices) << c.Query;
    }

    TTargetList list;
    std::string error;
    ASSERT_TRUE(
        list.Parse("# systems\n127.0.0.5 devices=2\n\n  127.0.0.6:8080 plus # extended\nKayit.Example:17001\n"
                   "127.0.0.7 plus devices=4\n",
            error))
        << error;
    ASSERT_EQ(list.Size(), 4u);
    struct TFindCase
    {
        const char *Address;
        int Plus;
        int Found; // index, -1 none
    };
    const TFindCase finds[] = {
        {"127.0.0.5", -1, 0},
        {"127.0.0.5:17000", -1, 0},
        {"127.0.0.5:17000", 0, 0},
        {"127.0.0.5", 1, -1}, // the listed kind only: an extended sweep would touch other ports
        {"127.0.0.5:17001", -1, -1},
        {"127.0.0.6:8080", -1, 1},
        {"127.0.0.6:8080", 0, -1},
        {"127.0.0.6", 1, -1},
        {"kayit.example:17001", -1, 2},
        {"KAYIT.EXAMPLE:17001", 0, 2},
        {"127.0.0.7:80", 1, 3},
        {"127.0.0.7", -1, 3},
        {"127.0.0.8", -1, -1},
    };
    for (const TFindCase &f : finds) {
        const TTarget *t = list.Find(f.Address, f.Plus < 0 ? std::nullopt : std::optional<bool>(f.Plus == 1));
        EXPECT_EQ(t ? int(t - list.Targets().data()) : -1, f.Found) << f.Address << " plus " << f.Plus;
    }
    EXPECT_EQ(list.Targets()[3].Devices, 4);

    for (const char *bad : {"127.0.0.5 extra\n", "127.0.0.5 devices=x\n", "127.0.0.5 plus plus\n",
             "ok.example\nbad host:1\n", "127.0.0.5 devices=1 devices=2\n"}) {
        TTargetList kept = list;
        EXPECT_FALSE(kept.Parse(bad, error)) << bad;
        EXPECT_NE(error.find("line "), std::string::npos) << error;
        EXPECT_EQ(kept.Size(), 4u); // a faulty text leaves the list as it was
    }
}
