#include "HistoryStore.h"
#include "Database.h"
#include "LogImport.h"
#include "platform/Format.h"
#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <memory>
#include <optional>
#include <pthread.h>
#include <QDateTime>
#include <QFile>
#include <set>
#include <string>
#include <unistd.h>
#include <unordered_map>

// The upserts' conflict clause: a row that is there gets the new results and seconds added.
#define ZYR_ADD_STATE_COLUMNS                                                                                \
    " n0=n0+excluded.n0, n1=n1+excluded.n1, n2=n2+excluded.n2, n3=n3+excluded.n3,"                           \
    " n4=n4+excluded.n4, n5=n5+excluded.n5, n6=n6+excluded.n6, n7=n7+excluded.n7,"                           \
    " s0=s0+excluded.s0, s1=s1+excluded.s1, s2=s2+excluded.s2, s3=s3+excluded.s3,"                           \
    " s4=s4+excluded.s4, s5=s5+excluded.s5, s6=s6+excluded.s6, s7=s7+excluded.s7"

namespace {
struct TSystem
{
    qint64 id = 0;
    QString name;
    qint64 lastTime = 0, lastHold = 0;
    int lastState = 0;
    // The newest hour this writer knows a row of (a guess after a restart): a later hour's row is new, and
    // is inserted without looking for it first.
    qint64 newestHour = -1;
    // Within one cycle: when it was last seen, and whether its row needs writing.
    quint64 seenIn = 0;
    bool rowStale = false, nameStale = false;
};

// Counts (n0..n7) then seconds (s0..s7) of one period row.
using TCounts = std::array<qint64, 2 * kHistoryStates>;
using TPeriodKey = std::tuple<qint64, qint64, qint64>; // system, start, length

QString Reason(int code)
{
    switch (code) {
    case SQLITE_FULL:
        return QStringLiteral("disk dolu");
    case SQLITE_READONLY:
        return QStringLiteral("salt okunur");
    case SQLITE_CANTOPEN:
        return QStringLiteral("dosya açılamıyor");
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return QStringLiteral("veritabanı kilitli");
    case SQLITE_PERM:
    case SQLITE_AUTH:
        return QStringLiteral("erişim izni yok");
    case SQLITE_IOERR:
        return QStringLiteral("okuma/yazma hatası");
    default:
        return QString::fromUtf8(sqlite3_errstr(code));
    }
}

qint64 LocalDayStart(qint64 time)
{
    return QDateTime::fromSecsSinceEpoch(time).date().startOfDay().toSecsSinceEpoch();
}
} // namespace

// Lives on the writer thread only.
class THistoryWriter
{
public:
    THistoryWriter(const QString &path, THistoryStore::TReport report, const QString &seedLog, int seedPeriod)
        : path(path)
        , report(std::move(report))
        , seedLog(seedLog)
        , seedPeriod(seedPeriod)
    {
    }

    // Runs one job in a transaction: on a damaged database once more on a new one. True once committed.
    bool Run(const std::function<void()> &job)
    {
        for (int attempt = 0; attempt < 2; ++attempt) {
            try {
                Open();
                Transaction(job);
                if (failing) {
                    failing = false;
                    reported.clear();
                    report(QString::fromUtf8(kHistoryRecovered));
                }
                return true;
            } catch (const EHistoryError &e) {
                Drop();
                if ((e.Code == SQLITE_CORRUPT || e.Code == SQLITE_NOTADB) && attempt == 0 && MoveAside())
                    continue;
                failing = true;
                if (reported.insert(e.Code).second)
                    report(Format(kHistoryWriteFailed, Reason(e.Code)));
                return false;
            }
        }
        return false;
    }

    bool Record(const std::vector<THistoryResult> &results, int retentionDays)
    {
        if (results.empty())
            return Run([] {});
        const bool written = Run([&] { Apply(results); });
        // Once a day of result time, after the cycle is safe: folding and dropping read the whole table.
        qint64 newest = 0;
        for (const auto &r : results)
            newest = std::max(newest, r.Time);
        const qint64 day = LocalDayStart(newest);
        if (retentionDays != lastRetention || day > lastMaintained) {
            Run([&] { Maintain(newest, retentionDays); });
            lastRetention = retentionDays;
            lastMaintained = day;
        }
        return written;
    }

    bool Rename(const QString &from, const QString &to)
    {
        return Run([&] { RenameIn(from, to); });
    }

    bool Mark(const THistoryMark &mark)
    {
        return Run([&] { WriteMark(db, mark); });
    }

private:
    void Open()
    {
        if (db.IsOpen())
            return;
        const QByteArray file = QFile::encodeName(path);
        // Created here, not by SQLite, to be private from its first byte; its journal files take its mode.
        const int fd = ::open(file.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        const bool created = fd >= 0;
        if (fd >= 0)
            ::close(fd);
        else if (errno != EEXIST)
            throw EHistoryError(errno == ENOSPC ? SQLITE_FULL
                    : errno == EROFS            ? SQLITE_READONLY
                    : errno == EACCES           ? SQLITE_PERM
                                                : SQLITE_CANTOPEN,
                QString::fromUtf8(std::strerror(errno)));
        db.Open(path, false);
        // A cycle at the largest fleet touches a few megabytes of rows and tree pages: kept in memory
        // between cycles rather than read again from the file.
        db.Exec("PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL; PRAGMA cache_size=-32768;");
        CreateSchema(db);
        upsert.emplace(db,
            "INSERT INTO periods VALUES (?1,?2,?3,?4,?5,?6,?7,?8,?9,?10,?11,?12,?13,?14,?15,?16,?17,?18,?19)"
            " ON CONFLICT (system, start, length) DO UPDATE SET" ZYR_ADD_STATE_COLUMNS);
        upsertRecent.emplace(db,
            "INSERT INTO recent VALUES (?2,?1,?4,?5,?6,?7,?8,?9,?10,?11,?12,?13,?14,?15,?16,?17,?18,?19)"
            " ON CONFLICT (start, system) DO UPDATE SET" ZYR_ADD_STATE_COLUMNS);
        updateSystem.emplace(
            db, "UPDATE systems SET name=?2, last_time=?3, last_state=?4, last_hold=?5 WHERE id=?1");
        updateLast.emplace(db, "UPDATE systems SET last_time=?3, last_state=?4, last_hold=?5 WHERE id=?1");
        insertSystem.emplace(db,
            "INSERT INTO systems (address, name, last_time, last_state, last_hold) VALUES (?1,?2,?3,?4,?5)");
        insertChange.emplace(db, "INSERT INTO changes VALUES (?1,?2,?3,?4,?5)");
        TStatement moved(db, "SELECT value FROM meta WHERE key='moved_before'");
        movedBefore = moved.Step() ? moved.Int(0) : 0;
        TStatement all(db, "SELECT id, address, name, last_time, last_state, last_hold FROM systems");
        while (all.Step())
            systems[all.Text(1)] = {all.Int(0), all.Text(2), all.Int(3), all.Int(5), int(all.Int(4)),
                all.Int(3) - all.Int(3) % kHourSeconds};
        if (created && !seedLog.isEmpty())
            Seed();
    }

    void Seed()
    {
        const TLogImport taken = ReadLogResults(seedLog, seedPeriod);
        Transaction([&] { Apply(taken.Results); });
        if (taken.Read > 0) // a log without results says nothing worth a line
            report(Format(kHistoryImported, taken.Read, taken.Skipped));
    }

    void Transaction(const std::function<void()> &job)
    {
        db.Exec("BEGIN IMMEDIATE");
        try {
            job();
            db.Exec("COMMIT");
        } catch (...) {
            sqlite3_exec(db.Handle(), "ROLLBACK", nullptr, nullptr, nullptr);
            throw;
        }
    }

    // After a failure: the next job opens afresh and reads the systems as the database holds them.
    void Drop()
    {
        upsert.reset();
        upsertRecent.reset();
        updateSystem.reset();
        updateLast.reset();
        insertSystem.reset();
        insertChange.reset();
        adders.clear();
        db.Close();
        systems.clear();
    }

    bool MoveAside()
    {
        const QString aside = path + QStringLiteral(".bozuk-")
            + QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
        if (!QFile::rename(path, aside))
            return false;
        QFile::rename(path + QStringLiteral("-wal"), aside + QStringLiteral("-wal"));
        QFile::remove(path + QStringLiteral("-shm"));
        report(Format(kHistoryMovedAside, aside));
        return true;
    }

    // The state held over [from, to), split at the hours.
    static void Credit(std::map<TPeriodKey, TCounts> &rows, qint64 system, int state, qint64 from, qint64 to)
    {
        while (from < to) {
            const qint64 hour = from - from % kHourSeconds;
            const qint64 end = std::min(to, hour + kHourSeconds);
            rows[{system, hour, kHourSeconds}][kHistoryStates + state] += end - from;
            from = end;
        }
    }

    void Apply(const std::vector<THistoryResult> &results)
    {
        std::map<TPeriodKey, TCounts> rows;
        std::vector<TSystem *> changed;
        std::unordered_map<qint64, qint64> newestBefore;
        ++cycle;
        for (const THistoryResult &r : results) {
            const int state = std::clamp(r.State, 0, kHistoryStates - 1);
            const qint64 hold = HoldSeconds(r.Period);
            auto it = systems.find(r.Address);
            int before = 0;
            const bool first = it == systems.end();
            if (first) {
                insertSystem->Bind(1, r.Address).Bind(2, r.Name).Bind(3, r.Time).Bind(4, state).Bind(5, hold);
                insertSystem->Run();
                it = systems.emplace(r.Address, TSystem{sqlite3_last_insert_rowid(db.Handle()), r.Name})
                         .first;
            } else {
                TSystem &s = it->second;
                before = s.lastState;
                Credit(rows, s.id, s.lastState, s.lastTime, std::min(r.Time, s.lastTime + s.lastHold));
            }
            TSystem &s = it->second;
            if (s.seenIn != cycle) {
                s.seenIn = cycle;
                s.rowStale = s.nameStale = false;
                changed.push_back(&s);
            }
            newestBefore.try_emplace(s.id, s.newestHour);
            s.newestHour = std::max(s.newestHour, r.Time - r.Time % kHourSeconds);
            if (first || state != before) {
                insertChange->Bind(1, s.id).Bind(2, r.Time).Bind(3, before).Bind(4, state);
                insertChange->Bind(5, qint64(r.Origin)).Run();
            }
            // A system inserted just now has its row as it should be, unless it has a second result.
            s.rowStale = !first;
            if (s.name != r.Name) {
                s.name = r.Name;
                s.nameStale = !first;
            }
            s.lastTime = r.Time;
            s.lastState = state;
            s.lastHold = hold;
            rows[{s.id, r.Time - r.Time % kHourSeconds, kHourSeconds}][state] += 1;
        }
        for (const auto &[key, counts] : rows)
            Upsert(key, counts, std::get<1>(key) > newestBefore[std::get<0>(key)]);
        for (const TSystem *s : changed) {
            if (s->nameStale) {
                updateSystem->Bind(1, s->id).Bind(2, s->name).Bind(3, s->lastTime);
                updateSystem->Bind(4, s->lastState).Bind(5, s->lastHold).Run();
            } else if (s->rowStale) {
                updateLast->Bind(1, s->id).Bind(3, s->lastTime).Bind(4, s->lastState).Bind(5, s->lastHold);
                updateLast->Run();
            }
        }
    }

    void Upsert(const TPeriodKey &key, const TCounts &counts, bool fresh = false)
    {
        const bool recent = std::get<2>(key) == kHourSeconds && std::get<1>(key) >= movedBefore;
        // A cycle mostly adds one result and one state's seconds to a row that is there: an update of
        // only those columns costs about half of the whole row's upsert.
        uint32_t columns = 0;
        for (int i = 0; i < 2 * kHistoryStates; ++i)
            if (counts[i] != 0)
                columns |= 1u << i;
        if (columns != 0 && !fresh) {
            TStatement &add = Adder(recent, columns);
            add.Bind(1, std::get<0>(key)).Bind(2, std::get<1>(key)).Bind(3, std::get<2>(key));
            for (int i = 0; i < 2 * kHistoryStates; ++i)
                if (columns & (1u << i))
                    add.Bind(4 + i, counts[i]);
            add.Run();
            if (sqlite3_changes(db.Handle()) > 0)
                return;
        }
        TStatement &upsert = recent ? *upsertRecent : *this->upsert;
        upsert.Bind(1, std::get<0>(key)).Bind(2, std::get<1>(key)).Bind(3, std::get<2>(key));
        for (int i = 0; i < 2 * kHistoryStates; ++i)
            upsert.Bind(4 + i, counts[i]);
        upsert.Run();
    }

    // "UPDATE ... SET n3=n3+?7, s2=s2+?14 WHERE <the row's key>", made once per set of columns.
    TStatement &Adder(bool recent, uint32_t columns)
    {
        std::unique_ptr<TStatement> &add = adders[columns | (recent ? 1u << 31 : 0)];
        if (!add) {
            std::string sql = recent ? "UPDATE recent SET " : "UPDATE periods SET ";
            for (int i = 0; i < 2 * kHistoryStates; ++i) {
                if (!(columns & (1u << i)))
                    continue;
                const std::string column
                    = (i < kHistoryStates ? "n" : "s") + std::to_string(i % kHistoryStates);
                sql += column + '=' + column + "+?" + std::to_string(4 + i) + ',';
            }
            sql.back() = ' ';
            sql += recent ? "WHERE start=?2 AND system=?1 AND ?3=3600"
                          : "WHERE system=?1 AND start=?2 AND length=?3";
            add = std::make_unique<TStatement>(db, sql.c_str());
        }
        return *add;
    }

    // Folds whole days of hours older than the hours kept, and drops what is older than the retention.
    void Maintain(qint64 now, int retentionDays)
    {
        // Once a day the hours before yesterday leave recent, in system order.
        const qint64 moveBefore = LocalDayStart(LocalDayStart(now) - 1);
        if (moveBefore > movedBefore) {
            TStatement move(db,
                "INSERT INTO periods SELECT system, start, 3600, n0, n1, n2, n3, n4, n5, n6, n7,"
                " s0, s1, s2, s3, s4, s5, s6, s7 FROM recent WHERE start<?1 ORDER BY system, start"
                " ON CONFLICT (system, start, length) DO UPDATE SET" ZYR_ADD_STATE_COLUMNS);
            move.Bind(1, moveBefore).Run();
            TStatement drop(db, "DELETE FROM recent WHERE start<?1");
            drop.Bind(1, moveBefore).Run();
            TStatement note(db, "INSERT OR REPLACE INTO meta VALUES ('moved_before', ?1)");
            note.Bind(1, moveBefore).Run();
            movedBefore = moveBefore;
        }
        const qint64 foldBefore = LocalDayStart(now - kHourlyDays * kDaySeconds);
        std::map<TPeriodKey, TCounts> days;
        std::map<qint64, std::pair<qint64, qint64>> dayOf; // hour -> day start, length
        TStatement old(db, "SELECT * FROM periods WHERE length=?1 AND start<?2");
        old.Bind(1, kHourSeconds).Bind(2, foldBefore);
        while (old.Step()) {
            auto found = dayOf.find(old.Int(1));
            if (found == dayOf.end()) {
                const QDate day = QDateTime::fromSecsSinceEpoch(old.Int(1)).date();
                const qint64 start = day.startOfDay().toSecsSinceEpoch();
                found = dayOf
                            .emplace(old.Int(1),
                                std::pair{start, day.addDays(1).startOfDay().toSecsSinceEpoch() - start})
                            .first;
            }
            TCounts &sum = days[{old.Int(0), found->second.first, found->second.second}];
            for (int i = 0; i < 2 * kHistoryStates; ++i)
                sum[i] += old.Int(3 + i);
        }
        if (!days.empty()) {
            TStatement drop(db, "DELETE FROM periods WHERE length=?1 AND start<?2");
            drop.Bind(1, kHourSeconds).Bind(2, foldBefore).Run();
            for (const auto &[key, counts] : days)
                Upsert(key, counts);
        }
        const qint64 keepFrom = now - qint64(retentionDays) * kDaySeconds;
        TStatement dropPeriods(db, "DELETE FROM periods WHERE start+length<=?1");
        dropPeriods.Bind(1, keepFrom).Run();
        TStatement dropRecent(db, "DELETE FROM recent WHERE start+3600<=?1");
        dropRecent.Bind(1, keepFrom).Run();
        TStatement dropChanges(db, "DELETE FROM changes WHERE time<?1");
        dropChanges.Bind(1, keepFrom).Run();
        TStatement gone(db,
            "DELETE FROM systems WHERE last_time+last_hold<=?1 AND id NOT IN (SELECT system FROM periods)"
            " AND id NOT IN (SELECT system FROM recent) AND id NOT IN (SELECT system FROM changes)"
            " RETURNING address");
        gone.Bind(1, keepFrom);
        while (gone.Step())
            systems.erase(gone.Text(0));
    }

    void RenameIn(const QString &from, const QString &to)
    {
        if (from == to)
            return;
        // Acknowledgements and maintenance go too, also those of a system never checked. Written again
        // after any the new address has (a system deleted earlier), in their order: the latest event tells
        // what stands at a restart, and that is the edited system's own when it has one.
        TStatement copyMarks(db,
            "INSERT INTO marks SELECT ?2, time, kind, note, end_time FROM marks WHERE address=?1 ORDER BY "
            "rowid");
        copyMarks.Bind(1, from).Bind(2, to).Run();
        TStatement dropMarks(db, "DELETE FROM marks WHERE address=?1");
        dropMarks.Bind(1, from).Run();
        const auto old = systems.find(from);
        if (old == systems.end())
            return;
        const auto target = systems.find(to);
        if (target == systems.end()) {
            TStatement move(db, "UPDATE systems SET address=?2 WHERE id=?1");
            move.Bind(1, old->second.id).Bind(2, to).Run();
            systems.emplace(to, old->second);
            systems.erase(old);
            return;
        }
        // Both have a history: the old one joins the new one's.
        const qint64 a = old->second.id, b = target->second.id;
        TStatement periods(db,
            "SELECT start, length, n0, n1, n2, n3, n4, n5, n6, n7, s0, s1, s2, s3, s4, s5, s6, s7 FROM "
            "periods"
            " WHERE system=?1 UNION ALL SELECT start, 3600, n0, n1, n2, n3, n4, n5, n6, n7,"
            " s0, s1, s2, s3, s4, s5, s6, s7 FROM recent WHERE system=?1");
        periods.Bind(1, a);
        std::vector<std::pair<TPeriodKey, TCounts>> moved;
        while (periods.Step()) {
            TCounts counts;
            for (int i = 0; i < 2 * kHistoryStates; ++i)
                counts[i] = periods.Int(2 + i);
            moved.push_back({{b, periods.Int(0), periods.Int(1)}, counts});
        }
        for (const auto &[key, counts] : moved)
            Upsert(key, counts);
        TStatement changes(db, "UPDATE changes SET system=?2 WHERE system=?1");
        changes.Bind(1, a).Bind(2, b).Run();
        TStatement drop(db, "DELETE FROM periods WHERE system=?1");
        drop.Bind(1, a).Run();
        TStatement dropRecent(db, "DELETE FROM recent WHERE system=?1");
        dropRecent.Bind(1, a).Run();
        TStatement dropSystem(db, "DELETE FROM systems WHERE id=?1");
        dropSystem.Bind(1, a).Run();
        const qint64 newest = std::max(old->second.newestHour, target->second.newestHour);
        if (old->second.lastTime > target->second.lastTime) {
            TSystem merged = old->second;
            merged.id = b;
            target->second = merged;
            updateSystem->Bind(1, b).Bind(2, merged.name).Bind(3, merged.lastTime);
            updateSystem->Bind(4, merged.lastState).Bind(5, merged.lastHold).Run();
        }
        target->second.newestHour = newest;
        systems.erase(old);
    }

    const QString path;
    const THistoryStore::TReport report;
    const QString seedLog;
    const int seedPeriod;
    TDatabase db;
    qint64 movedBefore = 0; // hours before this are in periods, the later ones in recent
    std::optional<TStatement> upsert, upsertRecent, updateSystem, updateLast, insertSystem, insertChange;
    std::unordered_map<uint32_t, std::unique_ptr<TStatement>> adders;
    quint64 cycle = 0;
    std::unordered_map<QString, TSystem> systems;
    bool failing = false;
    std::set<int> reported;
    int lastRetention = 0;
    qint64 lastMaintained = 0; // the local day
};

THistoryStore::THistoryStore(
    const QString &dbPath, TReport report, const QString &seedLog, int seedPeriod, TWritten written)
    : written(std::move(written))
    , writer(std::make_unique<THistoryWriter>(dbPath, std::move(report), seedLog, seedPeriod))
{
    queue.push_back({}); // opens (and seeds) the database before the first cycle
    thread = std::thread([this] { Run(); });
}

THistoryStore::~THistoryStore()
{
    {
        std::lock_guard guard(lock);
        ending = true;
    }
    wake.notify_one();
    thread.join();
}

void THistoryStore::Record(std::vector<THistoryResult> results)
{
    {
        std::lock_guard guard(lock);
        queue.push_back({std::move(results), {}, {}, {}});
    }
    wake.notify_one();
}

void THistoryStore::RenameAddress(const QString &oldAddress, const QString &newAddress)
{
    {
        std::lock_guard guard(lock);
        queue.push_back({{}, oldAddress, newAddress, {}});
    }
    wake.notify_one();
}

void THistoryStore::RecordMark(THistoryMark mark)
{
    {
        std::lock_guard guard(lock);
        queue.push_back({{}, {}, {}, std::move(mark)});
    }
    wake.notify_one();
}

void THistoryStore::SetRetentionDays(int days)
{
    std::lock_guard guard(lock);
    retentionDays = std::clamp(days, kRetentionMin, kRetentionMax);
}

void THistoryStore::Flush()
{
    std::unique_lock guard(lock);
    done.wait(guard, [this] { return queue.empty() && !busy; });
}

void THistoryStore::Run()
{
    pthread_setname_np(pthread_self(), "zyr-history");
    std::unique_lock guard(lock);
    for (;;) {
        wake.wait(guard, [this] { return ending || !queue.empty(); });
        if (queue.empty())
            break;
        TJob job = std::move(queue.front());
        queue.pop_front();
        busy = true;
        const int days = retentionDays;
        guard.unlock();
        const bool committed = job.mark ? writer->Mark(*job.mark)
            : !job.oldAddress.isEmpty() ? writer->Rename(job.oldAddress, job.newAddress)
                                        : writer->Record(job.results, days);
        // Before Flush returns: whoever waits for the writer may expect the news to be on its way.
        if (committed && written)
            written();
        guard.lock();
        busy = false;
        done.notify_all();
    }
}
