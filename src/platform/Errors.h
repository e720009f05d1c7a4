#pragma once
#include <QString>
#include <stdexcept>

// The program's errors are exceptions carrying a message text; callers log or show Message().
class EZyrError : public std::runtime_error
{
public:
    explicit EZyrError(const QString &message)
        : std::runtime_error(message.toStdString())
    {
    }
    QString Message() const { return QString::fromUtf8(what()); }
};
