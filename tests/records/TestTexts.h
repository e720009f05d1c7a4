#pragma once
#include <initializer_list>
#include <ostream>
#include <QString>
#include <QStringList>

// Readable failure output for Qt texts.
inline void PrintTo(const QString &s, std::ostream *os)
{
    *os << '"' << s.toStdString() << '"';
}

inline QStringList Texts(std::initializer_list<const char *> texts)
{
    QStringList out;
    for (const char *t : texts)
        out.append(QString::fromUtf8(t));
    return out;
}
