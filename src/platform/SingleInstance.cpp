#include "platform/SingleInstance.h"
#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <sys/file.h>
#include <sys/stat.h>
#include <tuple>
#include <unistd.h>

namespace {

bool OwnPrivateFolder(const struct stat &st)
{
    return S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() && (st.st_mode & 077) == 0
        && (st.st_mode & 0700) == 0700;
}

} // namespace

QString UserRuntimeFolder(const QString &Name)
{
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    struct stat st;
    if (runtime.startsWith('/') && ::lstat(runtime.constData(), &st) == 0 && OwnPrivateFolder(st))
        return QFile::decodeName(runtime);

    // The temporary folder is shared: the name is predictable, so what is found there is checked
    // through a descriptor that cannot follow a link, and taken only when it is this user's own.
    const QByteArray own = QFile::encodeName(
        QDir::tempPath() + QLatin1Char('/') + Name + QLatin1Char('-') + QString::number(::geteuid()));
    if (::mkdir(own.constData(), 0700) != 0 && errno != EEXIST)
        return QString();
    const int fd = ::open(own.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return QString();
    bool sound = ::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid();
    // A folder of this user's that lost its private mode (a restrictive or odd umask) is mended.
    if (sound && !OwnPrivateFolder(st))
        sound = ::fchmod(fd, 0700) == 0;
    ::close(fd);
    return sound ? QFile::decodeName(own) : QString();
}

TSingleInstance::TTry TSingleInstance::TryLock(const QString &Folder, const QString &FileName)
{
    const QString path = QDir(Folder).filePath(FileName);
    // Whatever stands at the name, opening it must not wait (a pipe) or take a terminal.
    const int file = ::open(QFile::encodeName(path).constData(),
        O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY, 0600);
    if (file < 0)
        return TTry::Unsafe;
    // Someone else's file, or one that others can open, could be held to keep this program from starting.
    struct stat st;
    if (::fstat(file, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid()
        || (st.st_mode & 077) != 0) {
        ::close(file);
        return TTry::Unsafe;
    }
    if (::flock(file, LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK) {
            ::close(file);
            return TTry::Unsafe;
        }
        busy = file;
        return TTry::Busy;
    }
    // What a copy that crashed published is no address of this one.
    if (::ftruncate(file, 0) != 0) {
        ::close(file);
        return TTry::Unsafe;
    }
    held.push_back({file, path});
    return TTry::Locked;
}

TSingleInstance::TSingleInstance(const QString &Name, const QStringList &Folders)
{
    struct TFolder
    {
        dev_t device;
        ino_t inode;
        QString path;
    };
    std::vector<TFolder> folders;
    for (const QString &folder : Folders) {
        struct stat st;
        if (!folder.isEmpty() && ::stat(QFile::encodeName(folder).constData(), &st) == 0
            && S_ISDIR(st.st_mode))
            folders.push_back({st.st_dev, st.st_ino, folder});
    }
    // One order for every copy, whatever paths it was given: two copies starting together can never each
    // hold a lock the other needs, so they cannot both end.
    std::sort(folders.begin(), folders.end(), [](const TFolder &a, const TFolder &b) {
        return std::tie(a.device, a.inode) < std::tie(b.device, b.inode);
    });
    folders.erase(
        std::unique(folders.begin(), folders.end(),
            [](const TFolder &a, const TFolder &b) { return a.device == b.device && a.inode == b.inode; }),
        folders.end());

    const QString lockName = Name + QStringLiteral(".lock");
    QString runtime;
    bool runtimeAsked = false;
    for (const TFolder &folder : folders) {
        const QString identity = Name + QLatin1Char('-') + QString::number(quint64(folder.device), 16)
            + QLatin1Char('-') + QString::number(quint64(folder.inode));
        TTry result = TryLock(folder.path, lockName);
        if (result == TTry::Unsafe) {
            if (!runtimeAsked) {
                runtime = UserRuntimeFolder(Name);
                runtimeAsked = true;
            }
            if (!runtime.isEmpty())
                result = TryLock(runtime, identity + QStringLiteral(".lock"));
        }
        if (result == TTry::Busy) {
            runningElsewhere = true;
            // Free at once: this copy ends, and must not keep another start from running meanwhile.
            for (const THeld &lock : held)
                ::close(lock.fd);
            held.clear();
            key.clear();
            return;
        }
        if (result == TTry::Locked && key.isEmpty())
            key = identity;
    }
}

TSingleInstance::~TSingleInstance()
{
    for (const THeld &lock : held)
        ::close(lock.fd);
    if (busy >= 0)
        ::close(busy);
}

QStringList TSingleInstance::LockPaths() const
{
    QStringList paths;
    for (const THeld &lock : held)
        paths.append(lock.path);
    return paths;
}

void TSingleInstance::Publish(const QString &Address)
{
    // One line; its end tells a reader the address is whole.
    const QByteArray line = QFile::encodeName(Address) + '\n';
    for (const THeld &lock : held) {
        if (::ftruncate(lock.fd, 0) == 0)
            (void)!::pwrite(lock.fd, line.constData(), size_t(line.size()), 0);
    }
}

QString TSingleInstance::RunningCopyAddress(int WaitMs) const
{
    if (busy < 0)
        return QString();
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        char buffer[4096];
        const ssize_t n = ::pread(busy, buffer, sizeof buffer, 0);
        const QByteArray text = n > 0 ? QByteArray(buffer, n) : QByteArray();
        const qsizetype end = text.indexOf('\n');
        if (end >= 0) {
            const QByteArray address = text.left(end);
            return address.startsWith('/') ? QFile::decodeName(address) : QString();
        }
        if (clock.elapsed() >= WaitMs)
            return QString();
        ::usleep(20000);
    }
}
