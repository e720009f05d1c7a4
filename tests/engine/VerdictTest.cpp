#include "engine/Verdict.h"
#include <gtest/gtest.h>

namespace {

// '<' and '>' open and close a group, '|' separates.
QString Report(const char *readable)
{
    QString s = QString::fromUtf8(readable);
    s.replace(u'<', QChar(5)).replace(u'>', QChar(6)).replace(u'|', QChar(4));
    return s;
}

const char *kTwoHealthy = "<2|v|1 GB|0|2 GB|0>|<<S1|0|2|0,0>|<S2|0|2|0,0>>";
const char *kTwoDiskAlarm = "<2|v|1 GB|1|2 GB|0>|<<S1|0|2|0,0>|<S2|0|2|0,0>>";
const char *kTwoChannelAlarm = "<2|v|1 GB|0|2 GB|0>|<<S1|0|2|0,1>|<S2|0|2|0,0>>";

const char *kPlusHealthy = R"({"Devices": [{"Serial": "P1", "ChannelCount": 1, "Channels": [
    {"ChannelStatus": true, "LineStatus": true, "RecordMethod": 1}]}]})";
const char *kPlusAlarm = R"({"Devices": [{"Serial": "P1", "ChannelCount": 1, "Channels": [
    {"ChannelStatus": true, "LineStatus": false, "RecordMethod": 1}]}]})";

} // namespace

TEST(Verdict, ProbeStatesWithoutReportPassThrough)
{
    const TReportVerdict alarm{true, 5};
    EXPECT_EQ(VerdictState(1, alarm, 2), 1);
    EXPECT_EQ(VerdictState(2, alarm, 2), 2);
}

TEST(Verdict, ReportsAndDeviceCounts)
{
    struct Case
    {
        const char *report;
        bool plus;
        double expected;
        int state;
    } cases[] = {
        {kTwoHealthy, false, 0, 3},
        {kTwoHealthy, false, 2, 3},
        {kTwoHealthy, false, 3, 4},
        {kTwoHealthy, false, 1, 5},
        {kTwoDiskAlarm, false, 0, 6},
        {kTwoDiskAlarm, false, 2, 6},
        {kTwoChannelAlarm, false, 2, 6},
        // a count mismatch overrides the alarm
        {kTwoChannelAlarm, false, 3, 4},
        {kTwoDiskAlarm, false, 1, 5},
        {"", false, 0, 3},
        {"", false, 1, 4},
        {kPlusHealthy, true, 1, 3},
        {kPlusHealthy, true, 2, 4},
        {kPlusAlarm, true, 0, 6},
        {kPlusAlarm, true, 1, 6},
        {kPlusAlarm, true, -1, 6},
        {"not json", true, 1, 4},
    };
    for (const Case &c : cases) {
        const QString text = c.plus ? QString::fromUtf8(c.report) : Report(c.report);
        EXPECT_EQ(VerdictState(3, ReadReportVerdict(text, c.plus), c.expected), c.state)
            << c.report << " expected " << c.expected;
    }
}
