#pragma once
#include "XdgSandbox.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <utility>
#include <vector>

// HOME and the XDG folders in a temporary tree for the life of the object, so that nothing a test does
// reaches the real desktop (as root, /etc/xdg/autostart).
class TSandbox : public TXdgSandbox
{
public:
    TSandbox() { Apply(); }
    QString Path(const char *relative) const { return TXdgSandbox::Path(QString::fromUtf8(relative)); }
    QString CommonAutostart() const { return Path("xdg") + QStringLiteral("/autostart/"); }
    QString OwnAutostart() const { return Path("config") + QStringLiteral("/autostart/"); }
};

inline QByteArray ReadBytes(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray();
    return f.readAll();
}

inline void WriteBytes(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size())
        qFatal("cannot write fixture");
}
