#pragma once
#include <functional>
#include <QString>

// What a received report says for the verdict: an alarm anywhere in it, and the devices it lists.
struct TReportVerdict
{
    bool HasAlarm = false;
    int DeviceCount = 0;
};

// Reads a report text the way a check result is judged: the status report of an ordinary system, or the
// device list of an extended one.
TReportVerdict ReadReportVerdict(const QString &Report, bool IsPlus);

// A system's state after a check: the probe state (1 not working, 2 working, 3 working with a report);
// with a report, 6 when it holds an alarm, then 4 or 5 when its device count is below or above Expected.
// A count mismatch overrides the alarm; Expected 0 or less is not compared.
int VerdictState(int ProbeState, const TReportVerdict &Report, double Expected);

// A check result's state, written through WriteState in the order the console and zyrcheck both keep:
// the probe state; with a report, 6 when ReadReport finds an alarm; then VerdictState against
// ReadExpected(). Either reader may raise (a header announcing more devices than the report lists, an
// expected count that is no number): the exception leaves the call and the state written last stands.
// Returns what the report said; nothing read without a report.
TReportVerdict WriteResultState(int ProbeState, const std::function<TReportVerdict()> &ReadReport,
    const std::function<double()> &ReadExpected, const std::function<void(int State)> &WriteState);
