#pragma once
#include "store/CheckList.h"
#include <QChar>
#include <QString>

// Small helpers shared by the dialogs and the settings store.

void UncheckAll(TCheckList &List);
// The ticked texts joined by "," in list order; empty when none is ticked.
QString GetCheckedList(const TCheckList &List);
// Clears every tick, then ticks each listed address the list holds (whole text, letter case ignored).
void SetCheckedList(TCheckList &List, const QString &Addresses);

inline bool IntToBool(int Value)
{
    return Value == 1;
}
inline int BoolToInt(bool Value)
{
    return Value ? 1 : 0;
}
inline QChar BoolToChar(bool Value)
{
    return Value ? QLatin1Char('1') : QLatin1Char('0');
}

// True when a typed (trimmed, non-blank) notification address is refused.
bool IsInvalidEmail(const QString &Address);

// Makes the program start with the desktop session (entry named Name); failures are logged with 10006.
void CreateStartupShortcut(const QString &Name);
// Declared with the autostart entry; removes it from both folders.
void RemoveStartupShortcut(const QString &Name);
