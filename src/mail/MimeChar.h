#pragma once
#include <QByteArray>
#include <QString>
#include <vector>

// Character sets of the mail texts.
enum class TMimeChar
{
    ISO_8859_1,
    ISO_8859_2,
    ISO_8859_3,
    ISO_8859_4,
    ISO_8859_5,
    ISO_8859_6,
    ISO_8859_7,
    ISO_8859_8,
    ISO_8859_9,
    ISO_8859_10,
    KOI8_R,
    KOI8_U,
    ISO_2022_JP,
    GB2312,
    EUC_TW,
    EUC_KR,
    UTF_8,
    CP1254,
};

// The name written into mail headers.
QString MimeCharName(TMimeChar charset);

// Candidates for encoded header words, in the order of trial.
const std::vector<TMimeChar> &HeaderCharsets();

// Program text is Unicode; this is the set its single-byte form would have on the Turkish systems.
inline constexpr TMimeChar kSystemCharset = TMimeChar::CP1254;

enum class TConvertMode
{
    Substitute,
    Drop
};

// Through glibc iconv. Substitute writes "_" for a character the target lacks; Drop leaves it out.
// Undecodable input bytes are always dropped.
QByteArray ConvertToCharset(const QString &text, TMimeChar target, TConvertMode mode);
QString ConvertFromCharset(const QByteArray &bytes, TMimeChar source);
