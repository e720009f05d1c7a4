#include "AlarmNotes.h"
#include "Database.h"

void CreateMarkSchema(TDatabase &db)
{
    db.Exec("CREATE TABLE IF NOT EXISTS marks ("
            " address TEXT NOT NULL, time INTEGER NOT NULL, kind INTEGER NOT NULL, note TEXT NOT NULL,"
            " end_time INTEGER NOT NULL);"
            "CREATE INDEX IF NOT EXISTS marks_by_address ON marks (address, time);");
}

void WriteMark(TDatabase &db, const THistoryMark &mark)
{
    TStatement insert(db, "INSERT INTO marks VALUES (?1,?2,?3,?4,?5)");
    insert.Bind(1, mark.Address).Bind(2, mark.Time).Bind(3, qint64(mark.Kind)).Bind(4, mark.Note);
    insert.Bind(5, mark.End).Run();
}

std::vector<THistoryMark> ReadStandingMarks(const QString &path)
{
    std::vector<THistoryMark> standing;
    try {
        TDatabase db;
        db.Open(path, true);
        // The latest row of each system and group (acknowledgement 1-3, maintenance 4-5); rowid keeps the
        // order of events written in one second.
        TStatement latest(db,
            "SELECT address, kind, note, time, end_time FROM marks WHERE rowid IN"
            " (SELECT max(rowid) FROM marks GROUP BY address, kind >= 4)"
            " AND kind IN (1, 4) ORDER BY rowid");
        while (latest.Step())
            standing.push_back(
                {latest.Text(0), int(latest.Int(1)), latest.Text(2), latest.Int(3), latest.Int(4)});
    } catch (const EHistoryError &) {
        return {};
    }
    return standing;
}

std::vector<THistoryMark> ReadMarks(TDatabase &db, const QString &address, qint64 from)
{
    std::vector<THistoryMark> marks;
    TStatement rows(db,
        "SELECT kind, note, time, end_time FROM marks WHERE address=?1 AND time>=?2 ORDER BY time, rowid");
    rows.Bind(1, address).Bind(2, from);
    while (rows.Step())
        marks.push_back({address, int(rows.Int(0)), rows.Text(1), rows.Int(2), rows.Int(3)});
    return marks;
}
