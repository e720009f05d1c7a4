#pragma once
#include <QString>
#include <QtGlobal>
#include <vector>

class TDatabase;

// Acknowledgements and maintenance as the history keeps them: one row per event, by system address. The
// latest acknowledgement event and the latest maintenance event of a system tell what stands.
struct THistoryMark
{
    enum TKind
    {
        Acknowledged = 1,
        AckRemoved = 2, // by hand
        AckFell = 3, // the system recovered
        MaintenanceStarted = 4,
        MaintenanceEnded = 5,
    };
    QString Address;
    int Kind = Acknowledged;
    QString Note;
    qint64 Time = 0; // seconds since the epoch
    qint64 End = 0; // a maintenance begun: its end
};

void CreateMarkSchema(TDatabase &db);
void WriteMark(TDatabase &db, const THistoryMark &mark);
// The acknowledgements and maintenance that stand (the latest event of each kind is a beginning), in the
// database at path; none when it cannot be read (a missing file, or one older than these events).
std::vector<THistoryMark> ReadStandingMarks(const QString &path);
// Every event of a system from time on, oldest first.
std::vector<THistoryMark> ReadMarks(TDatabase &db, const QString &address, qint64 from);
