#pragma once
#include "zyrcheck/ZyrCheck.h"

#include <string>

// The Prometheus text exposition format, version 0.0.4.
inline constexpr const char *ExpositionContentType = "text/plain; version=0.0.4; charset=utf-8";

// "# HELP" and "# TYPE" lines of a metric family, and one sample line.
void Family(std::string &Out, const char *Name, const char *Type, const char *Help);
void Sample(std::string &Out, const char *Name, const std::string &Labels, double Value);

// A sample's value, the shortest text that reads back as the same number.
std::string SampleValue(double Value);

// A label value with backslash, double quote and line feed escaped; other control characters become
// U+FFFD, and a value is cut to 256 characters, since they come from the recording system.
std::string LabelValue(const QString &Text);

// The metrics of one probe: zyr_up, zyr_state, zyr_probe_duration_seconds, zyr_expected_devices, and with a
// report the device count, alarm flags, free disk bytes where parsable, per-device and per-channel alarms.
std::string ProbeMetrics(const TZyrResult &Result);

// The process's own figures (process_*), read from /proc/self.
std::string ProcessMetrics();
