#include "platform/FileLocations.h"
#include "platform/Version.h"
#include <cerrno>
#include <QDir>
#include <QFile>
#include <sys/stat.h>

#ifndef ZYR_INSTALLED_PROGRAM
#define ZYR_INSTALLED_PROGRAM "/usr/bin/ZYRdenetleyici"
#endif

namespace {

// An XDG base folder: the variable when it holds an absolute path (relative ones are invalid), else the
// default under the home folder.
QString BaseFolder(const char *Variable, const QString &Default)
{
    const QString value = QFile::decodeName(qgetenv(Variable));
    QString folder
        = value.startsWith(QLatin1Char('/')) ? value : QDir::homePath() + QLatin1Char('/') + Default;
    if (!folder.endsWith(QLatin1Char('/')))
        folder += QLatin1Char('/');
    return folder;
}

// Every missing component made with mode 0700, as the XDG rules ask of folders an application creates.
bool MakePrivatePath(const QString &Folder)
{
    QString path;
    for (const QString &part : Folder.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        path += QLatin1Char('/') + part;
        const QByteArray name = QFile::encodeName(path);
        if (::mkdir(name.constData(), 0700) == 0) {
            ::chmod(name.constData(), 0700); // whatever the umask took away
            continue;
        }
        struct stat st;
        if (errno != EEXIST || ::stat(name.constData(), &st) != 0 || !S_ISDIR(st.st_mode))
            return false;
    }
    return true;
}

} // namespace

QString InstalledProgramPath()
{
    return QStringLiteral(ZYR_INSTALLED_PROGRAM);
}

TFileLocations FileLocationsFor(const QString &Program, const QString &InstalledProgram)
{
    TFileLocations where;
    // A program file replaced while it runs (a package upgrade) reads back with this mark.
    QString program = Program;
    if (program.endsWith(QLatin1String(" (deleted)")))
        program.chop(10);
    where.Installed = !program.isEmpty() && program == InstalledProgram;
    const QString title = QString::fromUtf8(kApplicationTitle);
    if (where.Installed) {
        where.SettingsFolder
            = BaseFolder("XDG_CONFIG_HOME", QStringLiteral(".config")) + title + QLatin1Char('/');
        where.DataFolder
            = BaseFolder("XDG_DATA_HOME", QStringLiteral(".local/share")) + title + QLatin1Char('/');
    } else {
        where.SettingsFolder = program.left(program.lastIndexOf(QLatin1Char('/')) + 1);
    }
    return where;
}

const TFileLocations &FileLocations()
{
    static const TFileLocations where = FileLocationsFor(ProgramFilePath(), InstalledProgramPath());
    return where;
}

bool MakeFileFolders(const TFileLocations &Locations)
{
    if (!Locations.Installed)
        return true;
    const bool settings = MakePrivatePath(Locations.SettingsFolder);
    return MakePrivatePath(Locations.DataFolder) && settings;
}
