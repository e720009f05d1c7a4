#include "platform/SingleInstance.h"
#include <QDir>
#include <QFile>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

QString TSingleInstance::LockPath(const QString &Name)
{
    QString dir = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (dir.isEmpty() || !QDir(dir).exists()) // the shared temporary folder: one lock per user
        return QDir(QDir::tempPath()).filePath(Name + QStringLiteral("-%1.lock").arg(::getuid()));
    return QDir(dir).filePath(Name + QStringLiteral(".lock"));
}

TSingleInstance::TSingleInstance(const QString &Name)
{
    const QByteArray path = QFile::encodeName(LockPath(Name));
    fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        fd = -1;
    }
}

TSingleInstance::~TSingleInstance()
{
    if (fd >= 0)
        ::close(fd);
}
