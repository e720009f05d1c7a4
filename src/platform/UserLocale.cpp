#include "UserLocale.h"

const QLocale &UserLocale()
{
    static const QLocale locale = [] {
        const QLocale system = QLocale::system();
        if (system.language() == QLocale::C)
            return QLocale(QLocale::Turkish, QLocale::Turkey);
        return system;
    }();
    return locale;
}

namespace {
// The first character of a format that is no letter, digit, blank or quote.
QChar SeparatorOf(const QString &format, QChar fallback)
{
    for (QChar c : format)
        if (!c.isLetterOrNumber() && !c.isSpace() && c != QLatin1Char('\''))
            return c;
    return fallback;
}
} // namespace

QChar UserDateSeparator()
{
    static const QChar separator
        = SeparatorOf(UserLocale().dateFormat(QLocale::ShortFormat), QLatin1Char('/'));
    return separator;
}

QChar UserTimeSeparator()
{
    static const QChar separator
        = SeparatorOf(UserLocale().timeFormat(QLocale::LongFormat), QLatin1Char(':'));
    return separator;
}
