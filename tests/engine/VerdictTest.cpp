#include "engine/Verdict.h"
#include "EngineTestSupport.h"
#include "platform/Errors.h"
#include <gtest/gtest.h>
#include <optional>
#include <vector>

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
// Three devices announced, two listed: the alarm search stops at the missing one unless it found one before.
const char *kThreeAnnouncedTwoListed = "<3|v|1 GB|0|2 GB|0>|<<S1|0|2|0,0>|<S2|0|2|0,0>>";
const char *kThreeAnnouncedAlarmFirst = "<3|v|1 GB|0|2 GB|0>|<<S1|0|2|0,1>|<S2|0|2|0,0>>";

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

// Every state write of a result in order, for the console and zyrcheck alike. A read that raises leaves
// the state written last: the probe state, or the alarm's 6 when the expected count is no number.
TEST(Verdict, ResultStatesAreWrittenInOrderAndTheLastStandsWhenAReadRaises)
{
    struct Case
    {
        int probe;
        const char *report;
        bool plus;
        std::optional<double> expected; // none: the count is no number and its read raises
        std::vector<int> writes;
        bool raises;
    };
    const Case cases[] = {
        {1, kTwoChannelAlarm, false, std::nullopt, {1}, false}, // no report: nothing is read
        {2, kTwoChannelAlarm, false, std::nullopt, {2}, false},
        {3, kTwoHealthy, false, 2, {3, 3}, false},
        {3, kTwoHealthy, false, 3, {3, 4}, false},
        {3, kTwoChannelAlarm, false, 2, {3, 6, 6}, false},
        {3, kTwoChannelAlarm, false, 1, {3, 6, 5}, false},
        {3, kTwoChannelAlarm, false, 0, {3, 6, 6}, false},
        {3, kTwoChannelAlarm, false, std::nullopt, {3, 6}, true},
        {3, kTwoHealthy, false, std::nullopt, {3}, true},
        {3, kThreeAnnouncedTwoListed, false, 2, {3}, true},
        {3, kThreeAnnouncedAlarmFirst, false, 2, {3, 6, 5}, false},
        {3, kPlusAlarm, true, 1, {3, 6, 6}, false},
        {3, kPlusHealthy, true, std::nullopt, {3}, true},
    };
    for (const Case &c : cases) {
        const QString text = c.plus ? QString::fromUtf8(c.report) : Report(c.report);
        std::vector<int> writes;
        bool raised = false;
        try {
            WriteResultState(
                c.probe, [&] { return ReadReportVerdict(text, c.plus); },
                [&] {
                    if (!c.expected)
                        throw EZyrError(QStringLiteral("'iki' is not a valid floating point value"));
                    return *c.expected;
                },
                [&](int State) { writes.push_back(State); });
        } catch (const EZyrError &) {
            raised = true;
        }
        EXPECT_EQ(writes, c.writes) << c.probe << " " << c.report << " expected " << c.expected.value_or(-1);
        EXPECT_EQ(raised, c.raises) << c.probe << " " << c.report;
    }
}

// The engine's records: a device count that is no number keeps the 6 (or the 3) and logs error 10002 in
// place of the result line, as does a report announcing more devices than it lists.
TEST_F(EngineTest, ACountThatIsNoNumberOrAShortDeviceListKeepsTheStateWrittenLast)
{
    TSimSystem alarm = Healthy();
    alarm.Devices[0].Channels = "0,1,0,0";
    TSimSystem shortList = Healthy();
    shortList.Count = 2;
    StartFleet({alarm, Healthy(), shortList, Healthy()});
    const TRecordId alarmed = Add(QStringLiteral("a"), Target(0));
    const TRecordId healthy = Add(QStringLiteral("b"), Target(1));
    const TRecordId shortened = Add(QStringLiteral("c"), Target(2));
    const TRecordId counted = Add(QStringLiteral("d"), Target(3));
    for (const TRecordId record : {alarmed, healthy})
        list.SetCell(list.PositionOf(record), TSystemRecord::DeviceCnt, QStringLiteral("iki"));

    ASSERT_TRUE(engine->CheckCycle(TCheckOrigin::Menu));
    WaitIdle();
    EXPECT_EQ(Cell(alarmed, TSystemRecord::State), QStringLiteral("6"));
    EXPECT_EQ(Cell(healthy, TSystemRecord::State), QStringLiteral("3"));
    EXPECT_EQ(Cell(shortened, TSystemRecord::State), QStringLiteral("3"));
    EXPECT_EQ(Cell(counted, TSystemRecord::State), QStringLiteral("3"));
    for (const TRecordId record : {alarmed, healthy, shortened, counted}) {
        EXPECT_FALSE(Cell(record, TSystemRecord::ColDateTime).isEmpty());
        EXPECT_FALSE(Cell(record, TSystemRecord::Details).isEmpty());
    }
    EXPECT_EQ(LogCount(QStringLiteral(
                  "Bir hata oluştu. Hata kodu: 10002. 'iki' is not a valid floating point value")),
        2);
    EXPECT_EQ(LogCount(QStringLiteral("Bir hata oluştu. Hata kodu: 10002. List index out of bounds (1)")), 1);
    EXPECT_EQ(LogCount(QStringLiteral("Denetleme bitti.")), 1);
    EXPECT_EQ(
        LogCount(QStringLiteral("Denetleme bitti. IP: ") + Target(3) + QStringLiteral(" Sonuç: Çalışıyor")),
        1);
}
