#pragma once
#include <QString>

inline constexpr const char *kApplicationTitle = "ZYRdenetleyici";

// Major and minor version of the program joined by "." ("2.1"); empty when no version is known.
QString GetVersionString();
// The main window's caption: the title, a blank and the version string.
QString GetCaption();

// Absolute path of the running program file, and its folder with a trailing '/'.
QString ProgramFilePath();
QString ProgramFolder();
