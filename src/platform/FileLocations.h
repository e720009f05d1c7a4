#pragma once
#include <QString>

// Where the program keeps its files. A build or an unpacked copy keeps them where the program always did:
// the settings beside the program file; the list, its layout, the log and "Alarm.wav" in the current
// folder, under their bare names. The packaged program (the program file at the path the package installs
// it to) keeps them in the user's XDG folders: the settings in $XDG_CONFIG_HOME/ZYRdenetleyici/, the
// rest in $XDG_DATA_HOME/ZYRdenetleyici/.
struct TFileLocations
{
    bool Installed = false;
    QString SettingsFolder; // ends in '/'
    QString DataFolder; // ends in '/'; empty for the current folder
    // A data file's name as the program opens it: in the data folder, or bare.
    QString DataFile(const QString &Name) const { return DataFolder + Name; }
};

// Where the package installs the program file (compiled in).
QString InstalledProgramPath();
// The locations of the program file Program, with the environment as it is now.
TFileLocations FileLocationsFor(const QString &Program, const QString &InstalledProgram);
// This process's locations, decided at the first call.
const TFileLocations &FileLocations();
// Makes the installed program's folders where they are missing, each new folder private to the user
// (0700); folders that exist are left as they are. False when one cannot be made.
bool MakeFileFolders(const TFileLocations &Locations);
