#include "platform/SingleInstance.h"
#include <cerrno>
#include <fcntl.h>
#include <QDir>
#include <QFile>
#include <sys/file.h>
#include <sys/stat.h>
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
    const int file
        = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
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
        const bool busy = errno == EWOULDBLOCK;
        ::close(file);
        return busy ? TTry::Busy : TTry::Unsafe;
    }
    fd = file;
    lockPath = path;
    return TTry::Locked;
}

TSingleInstance::TSingleInstance(const QString &Name, const QString &FallbackFolder)
{
    const QString fileName = Name + QStringLiteral(".lock");
    for (const QString &folder : {UserRuntimeFolder(Name), FallbackFolder}) {
        if (folder.isEmpty())
            continue;
        switch (TryLock(folder, fileName)) {
        case TTry::Locked:
            return;
        case TTry::Busy:
            runningElsewhere = true;
            return;
        case TTry::Unsafe:
            break;
        }
    }
}

TSingleInstance::~TSingleInstance()
{
    if (fd >= 0)
        ::close(fd);
}
