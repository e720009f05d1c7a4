#include "engine/TrayState.h"
#include "platform/Format.h"
#include "platform/Version.h"

namespace {

bool Marked(const TSystemList &List, int Position)
{
    try {
        return List.CellAsNumber(Position, TSystemRecord::Select) == 1;
    } catch (const std::exception &) {
        return false;
    }
}

} // namespace

int RowStateCode(const TSystemList &List, int Position)
{
    try {
        const double value = List.CellAsNumber(Position, TSystemRecord::State);
        return value >= 0 && value <= 7 && value == int(value) ? int(value) : -1;
    } catch (const std::exception &) {
        return -1;
    }
}

TTrayState ReadTrayState(const TSystemList &List, const TAlarmCounts &Counts)
{
    TTrayState state;
    bool working = false;
    for (int i = 0; i < List.Count(); ++i) {
        if (!Marked(List, i))
            continue;
        ++state.Marked;
        const int code = RowStateCode(List, i);
        if (IsAlarmState(code)) {
            if (!Counts || Counts(i))
                ++state.Alarms;
        } else if (code == csWorking || code == csWorkingReport)
            working = true;
    }
    state.Colour = state.Alarms > 0 ? TTrayColour::Red : working ? TTrayColour::Green : TTrayColour::Grey;
    return state;
}

QString TrayHint(const TTrayState &State, bool CycleHasRun)
{
    const QString title = QString::fromUtf8(kApplicationTitle);
    if (!CycleHasRun)
        return title;
    return title + Format(" – %d alarm / %d", State.Alarms, State.Marked);
}

QStringList TAlarmEntries::Update(const TSystemList &List, const TAlarmCounts &Counts)
{
    QStringList lines;
    std::unordered_set<TRecordId> now;
    for (int i = 0; i < List.Count(); ++i) {
        const int code = RowStateCode(List, i);
        if (!Marked(List, i) || !IsAlarmState(code) || (Counts && !Counts(i)))
            continue;
        const TRecordId id = List.IdAt(i);
        now.insert(id);
        if (!inAlarm.count(id))
            lines << Format("%s: %s", List.Cell(i, TSystemRecord::Name), StateDescription(code));
    }
    inAlarm = std::move(now);
    return lines;
}
