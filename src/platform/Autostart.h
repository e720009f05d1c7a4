#pragma once
#include <QString>

// Starting the program with the desktop session through an XDG autostart entry "<Name>.desktop".
// CreateStartupShortcut, which logs failures, is declared in store/AppUtils.h.

// The all-users autostart folder (first folder of $XDG_CONFIG_DIRS, else /etc/xdg, plus "autostart/").
QString GetStartupFolder();
// The user's own autostart folder ($XDG_CONFIG_HOME, else ~/.config, plus "autostart/").
QString GetUserStartupFolder();

// Writes the entry for the running program into the all-users folder when that can be written, else
// into the user's own. An existing entry of that name in either folder is left as it is. Raises
// EZyrError when neither folder takes the file.
void CreateStartupEntry(const QString &Name);
// Deletes the entry from both folders; a failed delete is not reported.
void RemoveStartupShortcut(const QString &Name);

// The Exec= value that runs Program with no arguments, quoted and escaped for a desktop entry.
QString DesktopExecValue(const QString &Program);
// A desktop entry string value with its escapes (\\, \n, \t, \r, a leading \s).
QString DesktopStringValue(const QString &Text);
