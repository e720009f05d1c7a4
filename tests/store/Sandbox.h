#pragma once
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <utility>
#include <vector>

// Points HOME and the XDG folders at a temporary tree for the life of the object, so that nothing a
// test does reaches the real desktop (as root, /etc/xdg/autostart).
class TSandbox
{
public:
    TSandbox()
    {
        for (const char *name : {"HOME", "XDG_CONFIG_HOME", "XDG_CONFIG_DIRS"})
            saved.emplace_back(name, qgetenv(name));
        Set("HOME", Path("home"));
        Set("XDG_CONFIG_HOME", Path("config"));
        Set("XDG_CONFIG_DIRS", Path("xdg"));
    }
    ~TSandbox()
    {
        for (const auto &[name, value] : saved)
            qputenv(name, value);
    }
    QString Path(const char *relative) const { return dir.filePath(QString::fromUtf8(relative)); }
    QString CommonAutostart() const { return Path("xdg") + QStringLiteral("/autostart/"); }
    QString OwnAutostart() const { return Path("config") + QStringLiteral("/autostart/"); }
    static void Set(const char *name, const QString &folder)
    {
        QDir().mkpath(folder);
        qputenv(name, QFile::encodeName(folder));
    }

private:
    QTemporaryDir dir;
    std::vector<std::pair<const char *, QByteArray>> saved;
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
