#include "engine/Verdict.h"
#include "probe/CheckThread.h"
#include "records/SystemList.h"
#include "report/PlusDetails.h"
#include "report/UtilsCheckZYR.h"

TReportVerdict ReadReportVerdict(const QString &Report, bool IsPlus)
{
    if (IsPlus) {
        const TGetPlusDetails details(Report);
        return {details.HasAlarm, details.DeviceCount()};
    }
    const TGetDetails details(Report);
    return {details.HasAlarm(), details.DeviceCount};
}

int VerdictState(int ProbeState, const TReportVerdict &Report, double Expected)
{
    if (ProbeState != psReport)
        return ProbeState;
    int state = Report.HasAlarm ? csAlarm : csWorkingReport;
    if (Expected > 0) {
        if (Report.DeviceCount < Expected)
            state = csDevicesMissing;
        else if (Report.DeviceCount > Expected)
            state = csDevicesExcess;
    }
    return state;
}

TReportVerdict WriteResultState(int ProbeState, const std::function<TReportVerdict()> &ReadReport,
    const std::function<double()> &ReadExpected, const std::function<void(int State)> &WriteState)
{
    WriteState(ProbeState);
    if (ProbeState != psReport)
        return {};
    const TReportVerdict report = ReadReport();
    // Not dead, though the next write usually replaces it: an expected count that is no number raises
    // before that write, and the alarm stands.
    if (report.HasAlarm)
        WriteState(csAlarm);
    WriteState(VerdictState(psReport, report, ReadExpected()));
    return report;
}
