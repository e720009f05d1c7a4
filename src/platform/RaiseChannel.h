#pragma once
#include <functional>
#include <QObject>

class QSocketNotifier;

// How a second start finds the running copy again: a local socket "<Name>.raise" in the user's run-time
// folder (UserRuntimeFolder: the user's own, mode 0700; the socket itself 0600), whose path the running
// copy writes into its lock files, so a start in another environment finds it too. A connection is the
// whole request; one from another user is dropped unheard.
class TRaiseChannel : public QObject
{
public:
    // Listens in Folder (nothing when it or Name is empty, or the path is too long for a socket). A socket
    // left by a copy that ended without removing it is replaced: Name is the key of the single-instance
    // lock, which no other running copy holds.
    TRaiseChannel(const QString &Folder, const QString &Name, QObject *Parent = nullptr);
    // Removes its socket file.
    ~TRaiseChannel() override;
    TRaiseChannel(const TRaiseChannel &) = delete;
    TRaiseChannel &operator=(const TRaiseChannel &) = delete;

    bool Listening() const { return fd >= 0; }
    const QString &Path() const { return path; }

    // Called on the event loop's thread for each request of a copy started by the same user.
    std::function<void()> OnRaise;

private:
    void Accept();

    int fd = -1;
    QString path;
    unsigned long long inode = 0;
    QSocketNotifier *notifier = nullptr;
};

// Asks the copy that listens at the socket Path to show its window. Never waits: false when none listens
// (or its queue is full).
bool RequestRaise(const QString &Path);
