#pragma once
#include <QString>
#include <QStringList>
#include <vector>

// The user's own folder for the program's run-time files (the raise socket): $XDG_RUNTIME_DIR when it is
// sound, else "<Name>-<uid>" in the temporary folder, created for the purpose. Sound means a folder, not a
// symbolic link, owned by the user, with no access for anyone else (mode 0700). Empty when neither is
// sound, for instance when another user made the temporary one first.
QString UserRuntimeFolder(const QString &Name);

// Lets one copy of the program run per set of files, whatever environment each copy was started in: an
// flock on "<Name>.lock" in each of Folders (the list file's and the settings file's; a folder named twice
// or by another path is locked once). The kernel drops it when the process ends, so a crashed copy never
// blocks the next start. The locks are taken in one order for every copy, by the folders' identities, and
// never waited for: of copies starting together on shared folders, one runs.
//
// A lock file that is not the user's own (someone else's, or one that others may open) is never taken for
// a running copy, and a folder where the user can make no lock file (one the user cannot write) has none:
// for such a folder the lock is taken in the user's run-time folder instead, named after the folder's
// identity, which keeps out a second copy started in the same environment only. Without even that the
// program runs without a lock for the folder rather than not at all.
//
// The lock files also tell a second start where the running copy listens (Publish).
class TSingleInstance
{
public:
    TSingleInstance(const QString &Name, const QStringList &Folders);
    ~TSingleInstance();
    TSingleInstance(const TSingleInstance &) = delete;
    TSingleInstance &operator=(const TSingleInstance &) = delete;

    // False only when another copy of this user's holds a lock of the same files.
    bool Acquired() const { return !runningElsewhere; }
    // The lock files this process holds; none when it runs without one.
    QStringList LockPaths() const;
    // A name for this copy's run-time files that no other running copy of the user's has in the same
    // run-time folder: "<Name>-<device>-<inode>" of the first folder locked. Empty without a lock.
    const QString &Key() const { return key; }
    // Writes Address (the running copy's raise socket; empty when it has none) into every lock it holds.
    void Publish(const QString &Address);
    // In a second start: the address the running copy published, read from the lock it holds, waiting up to
    // WaitMs for a copy that is still starting. Empty when it published none or is gone.
    QString RunningCopyAddress(int WaitMs = 1000) const;

private:
    enum class TTry
    {
        Locked,
        Busy,
        Unsafe
    };
    TTry TryLock(const QString &Folder, const QString &FileName);

    struct THeld
    {
        int fd;
        QString path;
    };
    std::vector<THeld> held;
    int busy = -1; // the lock found held by the running copy, open for reading
    bool runningElsewhere = false;
    QString key;
};
