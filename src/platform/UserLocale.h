#pragma once
#include <QLocale>

// The user's regional formats for dates and times. A session without regional settings (the C/POSIX
// locale) gets the Turkish ones, the program's own language, instead of C's "10 Dec 2026".
const QLocale &UserLocale();

// The separators of the user's short date and long time formats ("/" and ":" where a format has none).
QChar UserDateSeparator();
QChar UserTimeSeparator();
