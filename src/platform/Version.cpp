#include "platform/Version.h"
#include <QFile>
#include <unistd.h>

QString GetVersionString()
{
#if defined(ZYR_VERSION_MAJOR) && defined(ZYR_VERSION_MINOR)
    return QString::number(ZYR_VERSION_MAJOR) + QLatin1Char('.') + QString::number(ZYR_VERSION_MINOR);
#else
    return QString();
#endif
}

QString GetCaption()
{
    return QString::fromUtf8(kApplicationTitle) + QLatin1Char(' ') + GetVersionString();
}

QString ProgramFilePath()
{
    char buffer[4096];
    const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer);
    if (n <= 0 || size_t(n) >= sizeof buffer)
        return QString();
    return QFile::decodeName(QByteArray(buffer, n));
}

QString ProgramFolder()
{
    const QString path = ProgramFilePath();
    return path.left(path.lastIndexOf(QLatin1Char('/')) + 1);
}
