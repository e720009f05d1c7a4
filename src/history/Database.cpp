#include "Database.h"
#include "AlarmNotes.h"
#include <mutex>
#include <QFile>

void TDatabase::Open(const QString &path, bool readOnly, int busyMs)
{
    // SQLite's memory statistics take a process-wide lock on every allocation; nothing reads them.
    static std::once_flag configured;
    std::call_once(configured, [] { sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0); });
    Close();
    const int flags = (readOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE) | SQLITE_OPEN_NOMUTEX;
    const int rc = sqlite3_open_v2(QFile::encodeName(path).constData(), &db, flags, nullptr);
    if (rc != SQLITE_OK) {
        const QString message = QString::fromUtf8(db ? sqlite3_errmsg(db) : sqlite3_errstr(rc));
        Close();
        throw EHistoryError(rc & 0xff, message);
    }
    sqlite3_extended_result_codes(db, 0);
    sqlite3_busy_timeout(db, busyMs);
}

void TDatabase::Close()
{
    if (db)
        sqlite3_close_v2(db);
    db = nullptr;
}

void TDatabase::Fail(int code) const
{
    throw EHistoryError(code & 0xff, QString::fromUtf8(db ? sqlite3_errmsg(db) : sqlite3_errstr(code)));
}

void TDatabase::Exec(const char *sql)
{
    const int rc = sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK)
        Fail(rc);
}

TStatement::TStatement(TDatabase &db, const char *sql)
    : owner(db)
{
    const int rc = sqlite3_prepare_v3(db.Handle(), sql, -1, SQLITE_PREPARE_PERSISTENT, &stmt, nullptr);
    if (rc != SQLITE_OK)
        db.Fail(rc);
}

TStatement &TStatement::Bind(int index, qint64 value)
{
    if (stepped)
        Reset();
    sqlite3_bind_int64(stmt, index, value);
    return *this;
}

TStatement &TStatement::Bind(int index, const QString &value)
{
    if (stepped)
        Reset();
    const QByteArray utf8 = value.toUtf8();
    sqlite3_bind_text(stmt, index, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
    return *this;
}

bool TStatement::Step()
{
    stepped = true;
    const int rc = sqlite3_step(stmt);
    if (rc == SQLITE_ROW)
        return true;
    if (rc == SQLITE_DONE)
        return false;
    sqlite3_reset(stmt);
    stepped = false;
    owner.Fail(rc);
}

void TStatement::Reset()
{
    sqlite3_reset(stmt);
    stepped = false;
}

QString TStatement::Text(int column) const
{
    const auto *text = reinterpret_cast<const char *>(sqlite3_column_text(stmt, column));
    return text ? QString::fromUtf8(text, sqlite3_column_bytes(stmt, column)) : QString();
}

// Results (n) and seconds (s) of each state, 0..7, in a row of periods or of recent.
#define ZYR_STATE_COLUMNS                                                                                    \
    " n0 INTEGER NOT NULL DEFAULT 0, n1 INTEGER NOT NULL DEFAULT 0, n2 INTEGER NOT NULL DEFAULT 0,"          \
    " n3 INTEGER NOT NULL DEFAULT 0, n4 INTEGER NOT NULL DEFAULT 0, n5 INTEGER NOT NULL DEFAULT 0,"          \
    " n6 INTEGER NOT NULL DEFAULT 0, n7 INTEGER NOT NULL DEFAULT 0,"                                         \
    " s0 INTEGER NOT NULL DEFAULT 0, s1 INTEGER NOT NULL DEFAULT 0, s2 INTEGER NOT NULL DEFAULT 0,"          \
    " s3 INTEGER NOT NULL DEFAULT 0, s4 INTEGER NOT NULL DEFAULT 0, s5 INTEGER NOT NULL DEFAULT 0,"          \
    " s6 INTEGER NOT NULL DEFAULT 0, s7 INTEGER NOT NULL DEFAULT 0,"

void CreateSchema(TDatabase &db)
{
    // Rows that are mostly zero cost a byte per zero column, so one row carries all eight states.
    db.Exec(
        "CREATE TABLE IF NOT EXISTS systems ("
        " id INTEGER PRIMARY KEY, address TEXT NOT NULL UNIQUE, name TEXT NOT NULL,"
        " last_time INTEGER NOT NULL, last_state INTEGER NOT NULL, last_hold INTEGER NOT NULL);"
        "CREATE TABLE IF NOT EXISTS periods ("
        " system INTEGER NOT NULL, start INTEGER NOT NULL, length INTEGER NOT NULL," ZYR_STATE_COLUMNS
        " PRIMARY KEY (system, start, length)) WITHOUT ROWID;"
        // The hours of today and yesterday, kept in time order: a cycle then writes a few neighbouring
        // pages, not one page per system. They move into periods once a day, in system order.
        "CREATE TABLE IF NOT EXISTS recent ("
        " start INTEGER NOT NULL, system INTEGER NOT NULL," ZYR_STATE_COLUMNS
        " PRIMARY KEY (start, system)) WITHOUT ROWID;"
        "CREATE TABLE IF NOT EXISTS meta (key TEXT PRIMARY KEY, value INTEGER NOT NULL);"
        "CREATE TABLE IF NOT EXISTS changes ("
        " system INTEGER NOT NULL, time INTEGER NOT NULL, before INTEGER NOT NULL, after INTEGER NOT NULL,"
        " origin INTEGER NOT NULL);"
        "CREATE INDEX IF NOT EXISTS changes_by_system ON changes (system, time);");
    CreateMarkSchema(db);
}
