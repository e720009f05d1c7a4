#pragma once
#include "zyrcheck/ZyrCheck.h"

#include <string>

// Monitoring-plugin exit codes.
enum TPluginStatus : int
{
    StatusOk = 0,
    StatusWarning = 1,
    StatusCritical = 2,
    StatusUnknown = 3,
};

struct TPluginOutput
{
    int Status = StatusUnknown;
    std::string Text; // UTF-8, every line ended by '\n'
};

// The plugin's answer for a judged check: one status line with performance data, and with Verbosity 1 or
// more the report's rows below it.
TPluginOutput FormatPluginResult(const TZyrResult &Result, int Verbosity);
// "ZYR UNKNOWN - <why>" and the exit code 3.
TPluginOutput PluginUnknown(const std::string &Why, bool WithUsage = false);

// The plugin as a program: arguments, the check under the whole-run limit -t, output on stdout. Returns
// the exit code; an exceeded -t ends the process at once with 3.
int RunPlugin(int argc, char **argv);

std::string VersionText();
