#include "zyrcheck/Exposition.h"

#include <charconv>
#include <cstdio>
#include <fstream>
#include <QDir>
#include <sstream>
#include <sys/resource.h>
#include <unistd.h>

void Family(std::string &Out, const char *Name, const char *Type, const char *Help)
{
    // Several samples may share one family; its later ones pass no help.
    if (!*Help)
        return;
    for (const char *part : {"# HELP ", Name, " ", Help, "\n# TYPE ", Name, " ", Type, "\n"})
        Out += part;
}

void Sample(std::string &Out, const char *Name, const std::string &Labels, double Value)
{
    Out += Name;
    if (!Labels.empty()) {
        Out += '{';
        Out += Labels;
        Out += '}';
    }
    Out += ' ';
    Out += SampleValue(Value);
    Out += '\n';
}

namespace {

std::string DeviceLabels(int Position, const TZyrDevice &Device)
{
    return "device=\"" + std::to_string(Position) + "\",serial=\"" + LabelValue(Device.Serial) + "\"";
}

} // namespace

std::string SampleValue(double Value)
{
    // The shortest text that reads back as the same double.
    char text[64];
    const auto end = std::to_chars(text, text + sizeof text, Value).ptr;
    return std::string(text, end);
}

std::string LabelValue(const QString &Text)
{
    const QByteArray utf8 = Text.left(256).toUtf8(); // valid UTF-8 whatever the text holds
    std::string out;
    out.reserve(size_t(utf8.size()) + 8);
    for (const char c : utf8) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '"')
            out += "\\\"";
        else if (c == '\n')
            out += "\\n";
        else if ((unsigned char)c < 0x20 || c == 0x7F)
            out += "\xEF\xBF\xBD";
        else
            out += c;
    }
    return out;
}

std::string ProbeMetrics(const TZyrResult &Result)
{
    std::string out;
    out.reserve(2048 + size_t(Result.Devices.size()) * 1024);
    Family(out, "zyr_up", "gauge", "1 when the system accepted the connection (states 2 to 6), 0 when not.");
    Sample(out, "zyr_up", "", Result.State == 1 ? 0 : 1);
    Family(out, "zyr_state", "gauge",
        "The console's check state: 1 not working, 2 working without a report, 3 working, 4 devices "
        "missing, 5 devices in excess, 6 alarm.");
    Sample(out, "zyr_state", "", Result.State);
    Family(out, "zyr_probe_duration_seconds", "gauge", "How long the check took.");
    Sample(out, "zyr_probe_duration_seconds", "", Result.Seconds);
    Family(out, "zyr_expected_devices", "gauge", "Devices the system must report; 0 is not compared.");
    Sample(out, "zyr_expected_devices", "", Result.Expected);
    Family(out, "zyr_report_received", "gauge", "1 when the system sent a report.");
    Sample(out, "zyr_report_received", "", Result.HasReport() ? 1 : 0);
    if (!Result.HasReport())
        return out;

    Family(out, "zyr_devices", "gauge", "Devices the report announces (the figure the verdict compares).");
    Sample(out, "zyr_devices", "", Result.DeviceCount);
    Family(out, "zyr_alarm", "gauge", "1 when the report shows an alarm.");
    Sample(out, "zyr_alarm", "", Result.HasAlarm ? 1 : 0);
    if (Result.Plus) {
        Family(out, "zyr_report_info", "gauge",
            "The extended system's name and address as its list gives them.");
        Sample(out, "zyr_report_info",
            "server_name=\"" + LabelValue(Result.ServerName) + "\",server_ip=\"" + LabelValue(Result.ServerIp)
                + "\"",
            1);
    } else {
        Family(out, "zyr_report_info", "gauge", "The recording software's version.");
        Sample(out, "zyr_report_info", "version=\"" + LabelValue(Result.ServerVersion) + "\"", 1);
        Family(out, "zyr_disk_alarm", "gauge", "The report's alarm flag of the disk (1: alarm).");
        Sample(out, "zyr_disk_alarm", "disk=\"main\"", Result.DiskAlarm);
        Sample(out, "zyr_disk_alarm", "disk=\"backup\"", Result.BackupDiskAlarm);
        if (Result.FreeDiskBytes || Result.FreeBackupDiskBytes) {
            Family(out, "zyr_disk_free_bytes", "gauge",
                "Free disk space the report gives, where it reads as a number with a unit.");
            if (Result.FreeDiskBytes)
                Sample(out, "zyr_disk_free_bytes", "disk=\"main\"", *Result.FreeDiskBytes);
            if (Result.FreeBackupDiskBytes)
                Sample(out, "zyr_disk_free_bytes", "disk=\"backup\"", *Result.FreeBackupDiskBytes);
        }
    }
    if (!Result.Devices.isEmpty()) {
        Family(out, "zyr_device_alarm", "gauge",
            "1 when the device is in alarm, as the details window marks it.");
        for (int i = 0; i < Result.Devices.size(); ++i)
            Sample(out, "zyr_device_alarm", DeviceLabels(i + 1, Result.Devices[i]),
                Result.Devices[i].Alarm ? 1 : 0);
        Family(out, "zyr_channel_alarm", "gauge", "1 when the channel is in alarm.");
        for (int i = 0; i < Result.Devices.size(); ++i) {
            const TZyrDevice &device = Result.Devices[i];
            for (int c = 0; c < device.ChannelAlarms.size(); ++c)
                Sample(out, "zyr_channel_alarm",
                    DeviceLabels(i + 1, device) + ",channel=\"" + std::to_string(c + 1) + "\"",
                    device.ChannelAlarms[c] ? 1 : 0);
        }
    }
    return out;
}

std::string ProcessMetrics()
{
    std::string out;
    const double ticks = double(sysconf(_SC_CLK_TCK));
    const double page = double(sysconf(_SC_PAGESIZE));
    std::ifstream statFile("/proc/self/stat");
    std::string stat((std::istreambuf_iterator<char>(statFile)), std::istreambuf_iterator<char>());
    // Fields after the command name, which may itself hold blanks and parentheses.
    const size_t close = stat.rfind(')');
    if (close != std::string::npos) {
        std::istringstream fields(stat.substr(close + 2));
        std::vector<std::string> f;
        for (std::string v; fields >> v;)
            f.push_back(v);
        // f[0] is field 3 (state): utime 14, stime 15, num_threads 20, starttime 22, vsize 23, rss 24.
        if (f.size() > 21) {
            Family(out, "process_cpu_seconds_total", "counter",
                "Total user and system CPU time spent in seconds.");
            Sample(out, "process_cpu_seconds_total", "", (std::stod(f[11]) + std::stod(f[12])) / ticks);
            Family(out, "process_virtual_memory_bytes", "gauge", "Virtual memory size in bytes.");
            Sample(out, "process_virtual_memory_bytes", "", std::stod(f[20]));
            Family(out, "process_resident_memory_bytes", "gauge", "Resident memory size in bytes.");
            Sample(out, "process_resident_memory_bytes", "", std::stod(f[21]) * page);
            std::ifstream uptimeFile("/proc/uptime");
            double uptime = 0;
            uptimeFile >> uptime;
            Family(out, "process_start_time_seconds", "gauge",
                "Start time of the process since unix epoch in seconds.");
            Sample(out, "process_start_time_seconds", "",
                double(time(nullptr)) - uptime + std::stod(f[19]) / ticks);
            Family(out, "process_threads", "gauge", "Number of OS threads in the process.");
            Sample(out, "process_threads", "", std::stod(f[17]));
        }
    }
    Family(out, "process_open_fds", "gauge", "Number of open file descriptors.");
    Sample(out, "process_open_fds", "",
        double(QDir(QStringLiteral("/proc/self/fd"))
                   .entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System)
                   .size()));
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0) {
        Family(out, "process_max_fds", "gauge", "Maximum number of open file descriptors.");
        Sample(out, "process_max_fds", "", double(limit.rlim_cur));
    }
    return out;
}
