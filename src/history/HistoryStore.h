#pragma once
#include "history/AlarmNotes.h"
#include "history/History.h"
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

class THistoryWriter;

// The history database's writer: a thread of its own with its own connection. The calls below only queue
// work, so the caller (the window thread) never waits for the disk; a fault is reported through the
// log-line callback, once per kind until the database is writable again, and costs nothing else.
class THistoryStore
{
public:
    using TReport = std::function<void(const QString &line)>; // called on the writer thread
    // Called on the writer thread after each job it committed, so readers may look again.
    using TWritten = std::function<void()>;

    // A database that does not exist yet is created (0600) and seeded from seedLog, when given, with the
    // seedPeriod as the Period in force.
    THistoryStore(const QString &dbPath, TReport report, const QString &seedLog = {}, int seedPeriod = 0,
        TWritten written = {});
    // Writes what is queued, then ends the thread.
    ~THistoryStore();
    THistoryStore(const THistoryStore &) = delete;
    THistoryStore &operator=(const THistoryStore &) = delete;

    // One cycle's results, written in one transaction.
    void Record(std::vector<THistoryResult> results);
    // An edited address keeps its history.
    void RenameAddress(const QString &oldAddress, const QString &newAddress);
    // An acknowledgement or maintenance event, in a transaction of its own.
    void RecordMark(THistoryMark mark);
    // Clamped to 30..3650; applied at the next cycle.
    void SetRetentionDays(int days);
    // Waits until everything queued so far is written or has failed: for tests and the program's end.
    void Flush();

private:
    struct TJob
    {
        std::vector<THistoryResult> results;
        QString oldAddress, newAddress; // a rename when oldAddress is set
        std::optional<THistoryMark> mark;
    };
    void Run();

    std::mutex lock;
    std::condition_variable wake, done;
    std::deque<TJob> queue;
    bool busy = false, ending = false;
    int retentionDays = kRetentionDefault;
    const TWritten written;
    std::unique_ptr<THistoryWriter> writer;
    std::thread thread;
};
