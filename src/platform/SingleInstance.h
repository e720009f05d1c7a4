#pragma once
#include <QString>

// Lets one copy of the program run at a time. The lock is an flock on a file in $XDG_RUNTIME_DIR (else
// the temporary folder); the kernel drops it when the process ends, so a crashed copy never blocks.
class TSingleInstance
{
public:
    explicit TSingleInstance(const QString &Name);
    ~TSingleInstance();
    TSingleInstance(const TSingleInstance &) = delete;
    TSingleInstance &operator=(const TSingleInstance &) = delete;

    // True when this process holds the lock; false when another copy holds it or no lock could be made.
    bool Acquired() const { return fd >= 0; }
    static QString LockPath(const QString &Name);

private:
    int fd = -1;
};
