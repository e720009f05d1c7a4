#include "zyrcheck/Plugin.h"

#include "records/SystemList.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <getopt.h>
#include <mutex>
#include <thread>

namespace {

constexpr int DefaultProbeTimeOut = 5000;
constexpr int DefaultRunLimit = 10; // seconds, as monitoring plugins have it

// Report texts come from the recording system: a '|' would start performance data and a line break a new
// line of output, so neither may pass.
std::string Clean(const QString &Text)
{
    QString clean;
    clean.reserve(Text.size());
    for (const QChar c : Text) {
        if (c == u'|')
            clean += QChar(0x00A6);
        else if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            clean += QChar(0xFFFD);
        else
            clean += c;
    }
    return clean.toStdString();
}

std::string Plural(int n, const char *one, const char *many)
{
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

std::string Fixed(double value, int decimals)
{
    char text[64];
    snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

const char *StatusWord(int Status)
{
    switch (Status) {
    case StatusOk:
        return "OK";
    case StatusWarning:
        return "WARNING";
    case StatusCritical:
        return "CRITICAL";
    default:
        return "UNKNOWN";
    }
}

std::string Summary(const TZyrResult &Result)
{
    const std::string state = StateDescription(Result.State).toStdString();
    if (Result.State == csNotWorking)
        return state + ": no connection";
    if (!Result.HasReport())
        return state + ": connected, no report";
    std::string text = state + ": ";
    if (Result.Expected > 0)
        text += std::to_string(Result.DeviceCount) + " of " + Plural(Result.Expected, "device", "devices");
    else
        text += Plural(Result.DeviceCount, "device", "devices");
    if (Result.DiskAlarm == 1)
        text += ", disk alarm";
    if (Result.BackupDiskAlarm == 1)
        text += ", backup disk alarm";
    if (const int n = Result.DevicesInAlarm())
        text += ", " + Plural(n, "device", "devices") + " in alarm";
    if (const int n = Result.ChannelsInAlarm())
        text += ", " + Plural(n, "channel", "channels") + " in alarm";
    return text;
}

std::string PerformanceData(const TZyrResult &Result)
{
    std::string perf = "'time'=" + Fixed(Result.Seconds, 6) + "s;;;0";
    if (!Result.HasReport())
        return perf;
    const std::string expected = std::to_string(Result.Expected);
    perf += " 'devices'=" + std::to_string(Result.DeviceCount) + ";;"
        + (Result.Expected > 0 ? expected + ":" + expected : std::string()) + ";0";
    perf += " 'devices_expected'=" + expected + ";;;0";
    perf += " 'channels_alarm'=" + std::to_string(Result.ChannelsInAlarm()) + ";;0;0";
    if (Result.FreeDiskBytes)
        perf += " 'disk_free'=" + Fixed(*Result.FreeDiskBytes, 0) + "B;;;0";
    if (Result.FreeBackupDiskBytes)
        perf += " 'backup_disk_free'=" + Fixed(*Result.FreeBackupDiskBytes, 0) + "B;;;0";
    return perf;
}

const char *const UsageText
    = "Usage: zyrcheck -H ADDRESS[:PORT] [--plus] [--devices N] [--probe-timeout MS]\n"
      "                [-t SECONDS] [-v]\n"
      "       zyrcheck --listen [ADDRESS]:PORT (--targets FILE | --allow-any-target) ...\n";

std::string HelpText()
{
    return VersionText()
        + "\n"
          "Checks one recording system the way the ZYRdenetleyici console does (the same probe, time limits "
          "and\n"
          "verdict) and reports it as a monitoring plugin.\n\n"
        + UsageText
        + "\n"
          "Options:\n"
          " -h, --help\n"
          "    Print this help and exit.\n"
          " -V, --version\n"
          "    Print the version and exit.\n"
          " -H, --hostname=ADDRESS[:PORT]\n"
          "    The system's address; the port defaults to 17000 (80 with --plus).\n"
          " --plus\n"
          "    The system is an extended (ZYR+) system: its ports are swept and its device list is fetched\n"
          "    through libZyrPlus.so.\n"
          " --devices=N\n"
          "    The number of recording devices the system must report (default 0: not compared).\n"
          " --probe-timeout=MS\n"
          "    The console's TimeOut in milliseconds (default 5000): the connect gets half of it, each port "
          "of\n"
          "    an extended system a quarter. 0 leaves the connect to the system's own limit.\n"
          " -t, --timeout=SECONDS\n"
          "    Limit for the whole run (default 10); when it is exceeded the result is UNKNOWN.\n"
          " -v, --verbose\n"
          "    Also print the report's rows, as the console's details window lists them; twice adds the\n"
          "    probe's settings.\n\n"
          "States: OK for \"Çalışıyor\" (a report without alarm, or connected without a report);\n"
          "CRITICAL for \"Çalışmıyor\", \"Aygıt eksik tespit edildi\", \"Aygıt fazla tespit edildi\" and\n"
          "\"Alarm tespit edildi\"; UNKNOWN for bad arguments, an exceeded -t or an internal error.\n\n"
          "As a Prometheus exporter (--listen), see zyrcheck --listen --help.\n";
}

void Print(const TPluginOutput &Output)
{
    fwrite(Output.Text.data(), 1, Output.Text.size(), stdout);
    fflush(stdout);
}

} // namespace

std::string VersionText()
{
    return "zyrcheck " + std::to_string(ZYR_VERSION_MAJOR) + "." + std::to_string(ZYR_VERSION_MINOR) + "."
        + std::to_string(ZYR_VERSION_PATCH) + "." + std::to_string(ZYR_VERSION_TWEAK) + " (ZYRdenetleyici "
        + std::to_string(ZYR_VERSION_MAJOR) + "." + std::to_string(ZYR_VERSION_MINOR) + ")";
}

TPluginOutput FormatPluginResult(const TZyrResult &Result, int Verbosity)
{
    TPluginOutput out;
    out.Status = IsAlarmState(Result.State) ? StatusCritical : StatusOk;
    out.Text = std::string("ZYR ") + StatusWord(out.Status) + " - " + Summary(Result) + " | "
        + PerformanceData(Result) + "\n";
    if (Verbosity >= 1) {
        for (const TReportRow &row : Result.Rows) {
            std::string line = Clean(row.Description);
            if (!row.State.isEmpty())
                line += "   " + Clean(row.State);
            if (!row.Channels.isEmpty())
                line += "   " + Clean(row.Channels);
            out.Text += line + "\n";
        }
    }
    return out;
}

TPluginOutput PluginUnknown(const std::string &Why, bool WithUsage)
{
    TPluginOutput out;
    out.Status = StatusUnknown;
    out.Text = "ZYR UNKNOWN - " + Why + "\n";
    if (WithUsage)
        out.Text += UsageText;
    return out;
}

int RunPlugin(int argc, char **argv)
{
    enum
    {
        OptPlus = 256,
        OptDevices,
        OptProbeTimeout
    };
    static const option options[] = {
        {"help", no_argument, nullptr, 'h'},
        {"version", no_argument, nullptr, 'V'},
        {"verbose", no_argument, nullptr, 'v'},
        {"hostname", required_argument, nullptr, 'H'},
        {"timeout", required_argument, nullptr, 't'},
        {"plus", no_argument, nullptr, OptPlus},
        {"devices", required_argument, nullptr, OptDevices},
        {"probe-timeout", required_argument, nullptr, OptProbeTimeout},
        {nullptr, 0, nullptr, 0},
    };
    QString target;
    bool plus = false;
    long devices = 0, probeTimeOut = DefaultProbeTimeOut, limit = DefaultRunLimit;
    int verbosity = 0;
    bool help = false, version = false;
    std::string error;
    opterr = 0;
    optind = 1;
    int c;
    while (error.empty() && (c = getopt_long(argc, argv, ":hVvH:t:", options, nullptr)) != -1) {
        switch (c) {
        case 'h':
            help = true;
            break;
        case 'V':
            version = true;
            break;
        case 'v':
            ++verbosity;
            break;
        case 'H':
            target = QString::fromUtf8(optarg);
            if (!IsValidTarget(target))
                error = "invalid address '" + Clean(target) + "'";
            break;
        case 't':
            if (!ReadWholeNumber(optarg, 1, 86400, limit))
                error = "-t needs a whole number of seconds from 1 to 86400";
            break;
        case OptPlus:
            plus = true;
            break;
        case OptDevices:
            if (!ReadWholeNumber(optarg, 0, 1000000, devices))
                error = "--devices needs a whole number from 0 to 1000000";
            break;
        case OptProbeTimeout:
            if (!ReadWholeNumber(optarg, 0, 3600000, probeTimeOut))
                error = "--probe-timeout needs milliseconds from 0 to 3600000";
            break;
        case ':':
            error = std::string("option ") + argv[optind - 1] + " needs a value";
            break;
        default:
            error = std::string("unknown option ") + argv[optind - 1];
            break;
        }
    }
    // --help and --version win over everything else, also over a bad argument.
    if (help) {
        Print({StatusUnknown, HelpText()});
        return StatusUnknown;
    }
    if (version) {
        Print({StatusUnknown, VersionText() + "\n"});
        return StatusUnknown;
    }
    if (error.empty() && optind < argc)
        error = "unexpected argument '" + std::string(argv[optind]) + "'";
    if (error.empty() && target.isEmpty())
        error = "no address given (-H)";
    if (!error.empty()) {
        const TPluginOutput out = PluginUnknown(error, true);
        Print(out);
        return out.Status;
    }

    // The check runs on a thread of its own, so the limit holds whatever the network does.
    struct TShared
    {
        std::mutex Mutex;
        std::condition_variable Done;
        bool Finished = false;
        TPluginOutput Output;
    };
    auto shared = std::make_shared<TShared>();
    std::thread worker([=] {
        TPluginOutput out;
        try {
            const TZyrResult result = ZyrCheck(target, plus, int(devices), int32_t(probeTimeOut));
            out = FormatPluginResult(result, verbosity);
            if (verbosity >= 2)
                out.Text += "probe: " + target.toStdString()
                    + (plus ? ", extended system" : ", ordinary system") + ", probe timeout "
                    + std::to_string(probeTimeOut) + " ms, expected devices " + std::to_string(devices)
                    + "\n";
        } catch (const std::exception &e) {
            out = PluginUnknown(std::string("internal error: ") + e.what());
        } catch (...) {
            out = PluginUnknown("internal error");
        }
        std::lock_guard lock(shared->Mutex);
        shared->Output = std::move(out);
        shared->Finished = true;
        shared->Done.notify_all();
    });
    std::unique_lock lock(shared->Mutex);
    if (!shared->Done.wait_for(lock, std::chrono::seconds(limit), [&] { return shared->Finished; })) {
        Print(PluginUnknown("check timed out after " + std::to_string(limit) + " s"));
        std::_Exit(StatusUnknown); // the probe may still wait in a connect; nothing is left to tidy up
    }
    const TPluginOutput out = shared->Output;
    lock.unlock();
    worker.join();
    Print(out);
    return out.Status;
}
