// What the tray shows of the list and which systems a periodic cycle tells the desktop about, on plain
// lists (no engine, no window).
#include "engine/TrayState.h"
#include <gtest/gtest.h>

namespace {

TRecordId Add(TSystemList &List, const QString &Name, const QString &Select, const QString &State)
{
    TSystemRecord r;
    r.Cells = {Select, Name, QStringLiteral("127.0.0.1"), QString(), QStringLiteral("0"), State, QString(),
        QString(), QStringLiteral("0")};
    return List.IdAt(List.Add(r));
}

void SetState(TSystemList &List, TRecordId Record, const char *State)
{
    List.SetCell(List.PositionOf(Record), TSystemRecord::State, QString::fromLatin1(State));
}

TEST(TrayState, ColourAndCountsFollowTheMarkedSystemsOnly)
{
    struct TCase
    {
        const char *Name;
        std::vector<std::pair<const char *, const char *>> Rows; // Select, State
        TTrayColour Colour;
        int Alarms, Marked;
    };
    const TCase cases[] = {
        {"empty list", {}, TTrayColour::Grey, 0, 0},
        {"marked, not checked", {{"1", "0"}, {"1", "7"}}, TTrayColour::Grey, 0, 2},
        {"answers without a report", {{"1", "2"}, {"1", "0"}}, TTrayColour::Green, 0, 2},
        {"report without alarm", {{"1", "3"}}, TTrayColour::Green, 0, 1},
        {"every alarm state", {{"1", "1"}, {"1", "4"}, {"1", "5"}, {"1", "6"}, {"1", "3"}}, TTrayColour::Red,
            4, 5},
        {"an unmarked alarm counts for nothing", {{"0", "1"}, {"0", "6"}, {"1", "3"}}, TTrayColour::Green, 0,
            1},
        {"unmarked only", {{"0", "3"}, {"0", "1"}}, TTrayColour::Grey, 0, 0},
        {"cells that are no numbers", {{"x", "1"}, {"1", ""}, {"1", "kapalı"}, {"1", "4.5"}},
            TTrayColour::Grey, 0, 3},
        {"a number written otherwise", {{" 1 ", "01"}}, TTrayColour::Red, 1, 1},
    };
    for (const TCase &c : cases) {
        TSystemList list;
        int n = 0;
        for (const auto &[select, state] : c.Rows)
            Add(list, QStringLiteral("s%1").arg(n++), QString::fromLatin1(select),
                QString::fromLatin1(state));
        const TTrayState state = ReadTrayState(list);
        EXPECT_EQ(state.Colour, c.Colour) << c.Name;
        EXPECT_EQ(state.Alarms, c.Alarms) << c.Name;
        EXPECT_EQ(state.Marked, c.Marked) << c.Name;
    }
}

TEST(TrayState, HintGainsTheCountsOnceACycleHasRun)
{
    const TTrayState state{TTrayColour::Red, 2, 5};
    EXPECT_EQ(TrayHint(state, false).toUtf8(), QByteArray("ZYRdenetleyici"));
    EXPECT_EQ(TrayHint(state, true).toUtf8(), QByteArray("ZYRdenetleyici \xE2\x80\x93 2 alarm / 5"));
    EXPECT_EQ(TrayHint({}, true).toUtf8(), QByteArray("ZYRdenetleyici \xE2\x80\x93 0 alarm / 0"));
}

TEST(AlarmEntries, OnlySystemsThatEnteredAnAlarmStateSinceThePreviousPeriodicCycle)
{
    TSystemList list;
    const TRecordId a = Add(list, QStringLiteral("Ankara"), QStringLiteral("1"), QStringLiteral("1"));
    const TRecordId b = Add(list, QStringLiteral("Bursa"), QStringLiteral("1"), QStringLiteral("6"));
    const TRecordId c = Add(list, QStringLiteral("Çorum"), QStringLiteral("1"), QStringLiteral("3"));
    const TRecordId d = Add(list, QStringLiteral("Düzce"), QStringLiteral("0"), QStringLiteral("1"));
    TAlarmEntries entries;

    EXPECT_EQ(entries.Update(list),
        QStringList({QStringLiteral("Ankara: Çalışmıyor"), QStringLiteral("Bursa: Alarm tespit edildi")}));
    EXPECT_EQ(entries.Update(list), QStringList()) << "still in alarm: nothing new";

    SetState(list, a, "4"); // another alarm state is no new alarm
    SetState(list, b, "3"); // recovered
    SetState(list, c, "5");
    EXPECT_EQ(entries.Update(list), QStringList({QStringLiteral("Çorum: Aygıt fazla tespit edildi")}));

    SetState(list, b, "6"); // back in alarm after a cycle without one
    list.SetCell(list.PositionOf(d), TSystemRecord::Select, QStringLiteral("1")); // marked now, already down
    EXPECT_EQ(entries.Update(list),
        QStringList({QStringLiteral("Bursa: Alarm tespit edildi"), QStringLiteral("Düzce: Çalışmıyor")}));

    // Sorting and renaming move no record's memory onto another; a new record of an old name is new.
    list.SortBy(TSystemRecord::Name, true);
    list.SetCell(list.PositionOf(a), TSystemRecord::Name, QStringLiteral("Ankara-2"));
    const QString cName = list.Cell(list.PositionOf(c), TSystemRecord::Name);
    list.Delete(list.PositionOf(c));
    Add(list, cName, QStringLiteral("1"), QStringLiteral("5"));
    EXPECT_EQ(entries.Update(list), QStringList({QStringLiteral("Çorum: Aygıt fazla tespit edildi")}));

    // A system unmarked while in alarm is forgotten; marked again it is told of once more.
    list.SetCell(list.PositionOf(a), TSystemRecord::Select, QStringLiteral("0"));
    EXPECT_EQ(entries.Update(list), QStringList());
    list.SetCell(list.PositionOf(a), TSystemRecord::Select, QStringLiteral("1"));
    EXPECT_EQ(entries.Update(list), QStringList({QStringLiteral("Ankara-2: Aygıt eksik tespit edildi")}));
}

} // namespace
