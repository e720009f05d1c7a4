#include "platform/Autostart.h"
#include "platform/Errors.h"
#include "platform/FileLocations.h"
#include "platform/Format.h"
#include "platform/SaveFile.h"
#include "platform/Version.h"
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

QString WithSlash(QString path)
{
    if (!path.endsWith(QLatin1Char('/')))
        path += QLatin1Char('/');
    return path;
}

// Relative entries are invalid in the XDG variables and are skipped.
QString FirstAbsolute(const QByteArray &value)
{
    for (const QString &dir : QFile::decodeName(value).split(QLatin1Char(':'), Qt::SkipEmptyParts))
        if (dir.startsWith(QLatin1Char('/')))
            return dir;
    return QString();
}

QString EntryText(const QString &Name)
{
    // The installed program starts in its data folder; a copy elsewhere in its own folder, where its
    // files are.
    const TFileLocations &files = FileLocations();
    const QString program = files.Installed ? InstalledProgramPath() : ProgramFilePath();
    QString folder
        = files.Installed ? files.DataFolder : program.left(program.lastIndexOf(QLatin1Char('/')) + 1);
    if (folder.size() > 1 && folder.endsWith(QLatin1Char('/')))
        folder.chop(1);
    if (folder.isEmpty())
        folder = QStringLiteral("/");
    QString text = QStringLiteral("[Desktop Entry]\nType=Application\n");
    text += QStringLiteral("Name=") + DesktopStringValue(Name) + QLatin1Char('\n');
    text += QStringLiteral("Exec=") + DesktopExecValue(program) + QLatin1Char('\n');
    text += QStringLiteral("Path=") + DesktopStringValue(folder) + QLatin1Char('\n');
    text += QStringLiteral("Terminal=false\n");
    return text;
}

// Whole or not at all, and an entry that appears meanwhile is not replaced.
bool WriteNew(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    return SaveFile(path, bytes, {0644, true}) == 0;
}

} // namespace

QString GetStartupFolder()
{
    QString base = FirstAbsolute(qgetenv("XDG_CONFIG_DIRS"));
    if (base.isEmpty())
        base = QStringLiteral("/etc/xdg");
    return WithSlash(base) + QStringLiteral("autostart/");
}

QString GetUserStartupFolder()
{
    QString base = FirstAbsolute(qgetenv("XDG_CONFIG_HOME"));
    if (base.isEmpty())
        base = WithSlash(QDir::homePath()) + QStringLiteral(".config");
    return WithSlash(base) + QStringLiteral("autostart/");
}

void CreateStartupEntry(const QString &Name)
{
    const QString fileName = Name + QStringLiteral(".desktop");
    const QString common = GetStartupFolder() + fileName;
    const QString own = GetUserStartupFolder() + fileName;
    if (QFileInfo::exists(common) || QFileInfo::exists(own))
        return;
    const QByteArray bytes = EntryText(Name).toUtf8();
    // An ordinary user cannot write the all-users folder; the own folder keeps the setting working.
    if (WriteNew(common, bytes) || WriteNew(own, bytes))
        return;
    throw EZyrError(Format("Cannot create file %s", own));
}

void RemoveStartupShortcut(const QString &Name)
{
    const QString fileName = Name + QStringLiteral(".desktop");
    QFile::remove(GetStartupFolder() + fileName);
    QFile::remove(GetUserStartupFolder() + fileName);
}

QString DesktopStringValue(const QString &Text)
{
    QString out;
    out.reserve(Text.size() + 8);
    for (qsizetype i = 0; i < Text.size(); ++i) {
        const QChar c = Text.at(i);
        if (c == QLatin1Char('\\'))
            out += QStringLiteral("\\\\");
        else if (c == QLatin1Char('\n'))
            out += QStringLiteral("\\n");
        else if (c == QLatin1Char('\t'))
            out += QStringLiteral("\\t");
        else if (c == QLatin1Char('\r'))
            out += QStringLiteral("\\r");
        else if (c == QLatin1Char(' ') && i == 0)
            out += QStringLiteral("\\s");
        else
            out += c;
    }
    return out;
}

QString DesktopExecValue(const QString &Program)
{
    // Inside a quoted argument ", `, $ and \ take a backslash; the value then gets the string escapes,
    // and % is doubled so that it is no field code.
    QString quoted = QStringLiteral("\"");
    for (const QChar c : Program) {
        if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') || c == QLatin1Char('\\'))
            quoted += QLatin1Char('\\');
        quoted += c;
    }
    quoted += QLatin1Char('"');
    return DesktopStringValue(quoted).replace(QLatin1Char('%'), QStringLiteral("%%"));
}
