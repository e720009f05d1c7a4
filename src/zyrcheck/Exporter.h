#pragma once
#include "platform/SettingRules.h"
#include <cstdint>
#include <string>

struct TExporterOptions
{
    std::string ListenHost = "127.0.0.1";
    int ListenPort = 9717; // 0: any free port, printed at start
    std::string TargetsFile;
    bool AllowAnyTarget = false;
    int MaxProbes = 32; // probes under way at once
    int32_t ProbeTimeOut = kDefaultTimeOut; // the console's TimeOut, for every probe
    int MaxConnections = 4096; // open HTTP connections; the oldest idle one gives way to a new one
    int IdleSeconds = 10; // a connection must have sent its whole request head within this time
};

// Parses the exporter's arguments (the ones after the program name, --listen among them). False with the
// message when they are wrong; Help set when --help was asked.
bool ParseExporterOptions(int argc, char **argv, TExporterOptions &Options, std::string &Error, bool &Help);
std::string ExporterHelp();

// Serves /probe and /metrics until SIGTERM or SIGINT; SIGHUP reloads the targets file. Returns the exit
// code: 0 after a signal to stop, 1 when the listener or the targets file cannot be had at start.
int RunExporter(const TExporterOptions &Options);
