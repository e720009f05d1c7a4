#pragma once
#include <cstdint>
#include <QString>

// The integer-reading rule every number read from text follows (report fields, port texts, settings):
//   optional leading blanks (the space character only), then either
//   - an optional single '+' or '-' and one or more decimal digits whose value fits a signed 32-bit
//     integer, or
//   - without a sign, '$', 'x', 'X', "0x" or "0X" and 1 to 8 hexadecimal digits (either case), taken as
//     a 32-bit pattern ("$FFFFFFFF" is -1);
//   nothing may follow. A zero character ends the text for this purpose.
// Returns false, leaving Value untouched, when the text is not an integer.
bool ReadInteger(const QString &Text, int32_t &Value);
// The same rule, with Default for a text that is not an integer.
int32_t ReadIntegerDef(const QString &Text, int32_t Default);

// The value of a hexadecimal digit, or -1 for any other character.
int HexDigit(QChar c);
