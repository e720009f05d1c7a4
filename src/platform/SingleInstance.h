#pragma once
#include <QString>

// The user's own folder for the program's run-time files (the single-instance lock): $XDG_RUNTIME_DIR
// when it is sound, else "<Name>-<uid>" in the temporary folder, created for the purpose. Sound means
// a folder, not a symbolic link, owned by the user, with no access for anyone else (mode 0700). Empty
// when neither is sound, for instance when another user made the temporary one first.
QString UserRuntimeFolder(const QString &Name);

// Lets one copy of the program run at a time: an flock on "<Name>.lock" in the user's run-time folder,
// which the kernel drops when the process ends, so a crashed copy never blocks the next start. A lock
// file that belongs to someone else is never taken for a running copy. When the run-time folder gives
// no safe lock, the lock is taken beside the settings file (in FallbackFolder) instead, and when even
// that cannot be had the program runs without one rather than not at all.
class TSingleInstance
{
public:
    TSingleInstance(const QString &Name, const QString &FallbackFolder);
    ~TSingleInstance();
    TSingleInstance(const TSingleInstance &) = delete;
    TSingleInstance &operator=(const TSingleInstance &) = delete;

    // False only when another copy of this user's holds the lock.
    bool Acquired() const { return !runningElsewhere; }
    // The lock file this process holds; empty when it runs without one.
    const QString &LockPath() const { return lockPath; }

private:
    enum class TTry
    {
        Locked,
        Busy,
        Unsafe
    };
    TTry TryLock(const QString &Folder, const QString &FileName);

    int fd = -1;
    bool runningElsewhere = false;
    QString lockPath;
};
