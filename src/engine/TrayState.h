#pragma once
#include "records/SystemList.h"
#include <functional>
#include <QStringList>
#include <unordered_set>

// What the tray shows of the list: red when a marked system is in an alarm state (1, 4, 5, 6), otherwise
// green when a marked system works (2, 3), otherwise grey; and the counts behind the colour.
enum class TTrayColour
{
    Grey,
    Green,
    Red
};

struct TTrayState
{
    TTrayColour Colour = TTrayColour::Grey;
    int Alarms = 0; // marked systems in an alarm state
    int Marked = 0;
};

// Tells whether the alarm of the row at a position counts (confirmed, not acknowledged, not in maintenance);
// none: every alarm counts.
using TAlarmCounts = std::function<bool(int Position)>;

// The state code of a row, or -1 for a cell that is no whole number of 0..7.
int RowStateCode(const TSystemList &List, int Position);

// A cell that is no number counts as unmarked or as no state: the tray never raises an error. An alarm
// that does not count neither turns the tray red nor counts in its hint.
TTrayState ReadTrayState(const TSystemList &List, const TAlarmCounts &Counts = {});
// "ZYRdenetleyici", followed by " – %d alarm / %d" (alarms, marked systems) once a check cycle has run.
QString TrayHint(const TTrayState &State, bool CycleHasRun);

// The marked systems that entered an alarm state in a periodic cycle: in one now and not after the
// previous periodic cycle. Systems are remembered by record identity, so re-sorting, renaming or deleting
// others never makes one new again.
class TAlarmEntries
{
public:
    // At the end of a periodic cycle: the lines "%s: %s" (name, state text) of the systems that entered an
    // alarm state, in row order; then the systems in one now are remembered for the next cycle.
    QStringList Update(const TSystemList &List, const TAlarmCounts &Counts = {});

private:
    std::unordered_set<TRecordId> inAlarm;
};
