#pragma once
#include <QByteArray>
#include <QString>
#include <sqlite3.h>
#include <stdexcept>

// A failed database call, with SQLite's primary result code: the writer tells the kinds of failure apart.
class EHistoryError : public std::runtime_error
{
public:
    EHistoryError(int code, const QString &message)
        : std::runtime_error(message.toStdString())
        , Code(code)
    {
    }
    int Code;
};

class TStatement;

// One connection; closed with the object.
class TDatabase
{
public:
    TDatabase() = default;
    ~TDatabase() { Close(); }
    TDatabase(const TDatabase &) = delete;
    TDatabase &operator=(const TDatabase &) = delete;

    // Throws EHistoryError. A read-only connection never creates the file.
    // busyMs: how long a call waits for another connection's lock before it fails.
    void Open(const QString &path, bool readOnly, int busyMs = 5000);
    void Close();
    bool IsOpen() const { return db != nullptr; }
    void Exec(const char *sql);
    sqlite3 *Handle() const { return db; }
    [[noreturn]] void Fail(int code) const;

private:
    sqlite3 *db = nullptr;
};

// A prepared statement, reset before each use.
class TStatement
{
public:
    TStatement(TDatabase &db, const char *sql);
    ~TStatement() { sqlite3_finalize(stmt); }
    TStatement(const TStatement &) = delete;
    TStatement &operator=(const TStatement &) = delete;

    TStatement &Bind(int index, qint64 value);
    TStatement &Bind(int index, const QString &value);
    // True while there is a row; throws on failure.
    bool Step();
    void Run()
    {
        while (Step()) { }
    }
    void Reset();
    qint64 Int(int column) const { return sqlite3_column_int64(stmt, column); }
    QString Text(int column) const;
    bool IsNull(int column) const { return sqlite3_column_type(stmt, column) == SQLITE_NULL; }

private:
    TDatabase &owner;
    sqlite3_stmt *stmt = nullptr;
    bool stepped = false;
};

// The schema, made when missing: every state's results and seconds per system and period (an hour, or a
// day once it is older than the hours kept), the state changes, and per system its last result, whose
// state still holds.
void CreateSchema(TDatabase &db);
