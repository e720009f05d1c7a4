#pragma once
#include "history/History.h"
#include <vector>

struct TLogImport
{
    std::vector<THistoryResult> Results; // in the order of their times
    int Read = 0;
    int Skipped = 0; // non-empty lines that are no check result
};

// The check results of an event log: its "Denetleme bitti" lines, their time read with the user's
// formats the logger writes them with. Results get the given Period and the origin Log.
TLogImport ReadLogResults(const QString &logPath, int period);
