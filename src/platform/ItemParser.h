#pragma once
#include "platform/Integers.h"
#include <QString>

// Splits a text into items at a one-character separator, never inside a quoted stretch (' or ") or a
// bracketed group ('[' ']', '{' '}', and the characters 5 and 6), which may nest. Reading never fails.
class TItemParser
{
public:
    // Groups open at once within one item beyond this many are ignored for nesting.
    static constexpr int MaxDepth = 22;

    TItemParser(const QString &Text, QChar Separator);

    bool HasMore() const { return position < length; }
    QString NextItem();
    // The next item without its first and last character (items shorter than 2 are returned as is).
    QString NextGroup();
    int32_t NextInt(int32_t Default);

private:
    QString text;
    qsizetype length;
    qsizetype position = 0; // 0-based start of the next item
    QChar separator;
    QChar closers[MaxDepth];
    int depth = 0;
};
