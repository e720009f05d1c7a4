// A real Nagios 4 runs the plugin as a service check against every system of the fleet.
#include "Fleet.h"
#include "Processes.h"

#include "platform/FileLimit.h"

#include <grp.h>
#include <gtest/gtest.h>
#include <map>
#include <pwd.h>
#include <QTemporaryDir>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

std::string MainConfig(const std::string &Folder, const std::string &User, const std::string &Group)
{
    std::string cfg;
    for (const std::string &line : {
             "log_file=" + Folder + "/nagios.log",
             "cfg_file=" + Folder + "/objects.cfg",
             "object_cache_file=" + Folder + "/objects.cache",
             "precached_object_file=" + Folder + "/objects.precache",
             "status_file=" + Folder + "/status.dat",
             "state_retention_file=" + Folder + "/retention.dat",
             "lock_file=" + Folder + "/nagios.lock",
             "temp_file=" + Folder + "/nagios.tmp",
             "temp_path=" + Folder,
             "check_result_path=" + Folder + "/checkresults",
             "command_file=" + Folder + "/nagios.cmd",
             "nagios_user=" + User,
             "nagios_group=" + Group,
             std::string("check_external_commands=0"),
             std::string("retain_state_information=0"),
             std::string("use_syslog=0"),
             std::string("enable_notifications=0"),
             std::string("execute_host_checks=0"),
             std::string("enable_flap_detection=0"),
             std::string("process_performance_data=0"),
             std::string("status_update_interval=1"),
             // Intervals in seconds, every check due at once.
             std::string("interval_length=1"),
             std::string("service_inter_check_delay_method=n"),
             std::string("max_service_check_spread=1"),
             std::string("check_result_reaper_frequency=1"),
             std::string("service_check_timeout=30"),
         })
        cfg += line + "\n";
    return cfg;
}

std::string Objects(const TRunningFleet &Fleet)
{
    std::string cfg = "define timeperiod {\n  timeperiod_name always\n  alias always\n";
    for (const char *day : {"sunday", "monday", "tuesday", "wednesday", "thursday", "friday", "saturday"})
        cfg += std::string("  ") + day + " 00:00-24:00\n";
    cfg += "}\n"
           "define command {\n  command_name noop\n  command_line /bin/true\n}\n"
           "define command {\n  command_name zyrcheck\n  command_line " ZYRCHECK_PROGRAM
           " -H $ARG1$ --probe-timeout "
        + std::to_string(FleetProbeTimeOut)
        + " $ARG2$\n}\n"
          "define contact {\n  contact_name nobody\n  host_notifications_enabled 0\n  "
          "service_notifications_enabled 0\n"
          "  host_notification_period always\n  service_notification_period always\n"
          "  host_notification_options n\n  service_notification_options n\n"
          "  host_notification_commands noop\n  service_notification_commands noop\n}\n"
          "define host {\n  host_name fleet\n  address 127.0.0.1\n  check_command noop\n  max_check_attempts "
          "1\n"
          "  check_period always\n  notification_period always\n  contacts nobody\n}\n";
    for (size_t i = 0; i < Fleet.Size(); ++i) {
        std::string args = Fleet.Plus(i) ? "--plus" : "";
        if (Fleet.Devices(i) > 0)
            args += " --devices " + std::to_string(Fleet.Devices(i));
        cfg += "define service {\n  host_name fleet\n  service_description " + Fleet.Name(i)
            + "\n  check_command zyrcheck!" + Fleet.Target(i) + "!" + args
            + "\n  max_check_attempts 1\n  check_interval 300\n  retry_interval 300\n  check_period always\n"
              "  notification_period always\n  contacts nobody\n}\n";
    }
    return cfg;
}

// service description -> its fields, from status.dat.
std::map<std::string, std::map<std::string, std::string>> ServiceStatus(const std::string &Text)
{
    std::map<std::string, std::map<std::string, std::string>> services;
    std::istringstream in(Text);
    std::map<std::string, std::string> block;
    bool inService = false;
    for (std::string line; std::getline(in, line);) {
        if (line == "servicestatus {") {
            inService = true;
            block.clear();
        } else if (inService && line.find('}') != std::string::npos && line.find('=') == std::string::npos) {
            services[block["service_description"]] = block;
            inService = false;
        } else if (inService) {
            const size_t start = line.find_first_not_of('\t');
            const size_t equals = line.find('=');
            if (start != std::string::npos && equals != std::string::npos)
                block[line.substr(start, equals - start)] = line.substr(equals + 1);
        }
    }
    return services;
}

} // namespace

TEST(Nagios, RunsThePluginForEverySystemAndRecordsItsState)
{
    RaiseOpenFileLimit();
    TRunningFleet fleet;
    std::string error;
    ASSERT_TRUE(fleet.Start(error)) << error;
    QTemporaryDir dir;
    const std::string folder = dir.path().toStdString();
    ASSERT_EQ(mkdir((folder + "/checkresults").c_str(), 0775), 0);

    // Nagios runs as whoever starts it, so the plugin under the build folder is always reachable.
    const std::string user = getpwuid(geteuid())->pw_name;
    const std::string group = getgrgid(getegid())->gr_name;
    ASSERT_TRUE(WriteFile(folder + "/nagios.cfg", MainConfig(folder, user, group)));
    ASSERT_TRUE(WriteFile(folder + "/objects.cfg", Objects(fleet)));

    TChild verify;
    ASSERT_TRUE(verify.Start({NAGIOS_PROGRAM, "-v", folder + "/nagios.cfg"}, folder + "/verify.out"));
    int status = -1;
    waitpid(verify.Pid(), &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << ReadFile(folder + "/verify.out");

    TChild nagios;
    ASSERT_TRUE(nagios.Start(
        {NAGIOS_PROGRAM, folder + "/nagios.cfg"}, folder + "/nagios.out", folder + "/nagios.err"));
    std::map<std::string, std::map<std::string, std::string>> services;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(90);
    size_t checked = 0;
    while (std::chrono::steady_clock::now() < deadline) {
        ASSERT_TRUE(nagios.Running()) << ReadFile(folder + "/nagios.log") << ReadFile(folder + "/nagios.err");
        services = ServiceStatus(ReadFile(folder + "/status.dat"));
        checked = 0;
        for (const auto &[name, fields] : services)
            checked += fields.count("has_been_checked") && fields.at("has_been_checked") == "1" ? 1 : 0;
        if (checked == fleet.Size())
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
    }
    ASSERT_EQ(checked, fleet.Size()) << ReadFile(folder + "/nagios.log");
    const char *const texts[] = {"", "Çalışmıyor", "Çalışıyor", "Çalışıyor", "Aygıt eksik tespit edildi",
        "Aygıt fazla tespit edildi", "Alarm tespit edildi"};
    for (size_t i = 0; i < fleet.Size(); ++i) {
        SCOPED_TRACE(fleet.Name(i));
        const int want = fleet.Cases[i].State;
        std::map<std::string, std::string> &s = services[fleet.Name(i)];
        EXPECT_EQ(s["current_state"], want == 2 || want == 3 ? "0" : "2") << s["plugin_output"];
        EXPECT_EQ(
            s["plugin_output"].rfind(
                std::string(want == 2 || want == 3 ? "ZYR OK - " : "ZYR CRITICAL - ") + texts[want] + ":", 0),
            0u)
            << s["plugin_output"];
        EXPECT_NE(s["performance_data"].find("'time'="), std::string::npos) << s["performance_data"];
    }
    nagios.Stop(std::chrono::seconds(10));
}
