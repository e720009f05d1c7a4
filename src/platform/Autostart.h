#pragma once
#include <QString>

// Starting the program with the desktop session through an XDG autostart entry "<Name>.desktop".

// The all-users autostart folder (first folder of $XDG_CONFIG_DIRS, else /etc/xdg, plus "autostart/").
QString GetStartupFolder();
// The user's own autostart folder ($XDG_CONFIG_HOME, else ~/.config, plus "autostart/").
QString GetUserStartupFolder();

// Creates the entry in the all-users folder when that can be written, else in the user's own.
// An existing entry of that name in either folder is left as it is. Failures are logged (10006), never raised.
void CreateStartupShortcut(const QString &Name);
// Deletes the entry from both folders; a failed delete is not reported.
void RemoveStartupShortcut(const QString &Name);

// The Exec= value that runs Program with no arguments, quoted and escaped for a desktop entry.
QString DesktopExecValue(const QString &Program);
