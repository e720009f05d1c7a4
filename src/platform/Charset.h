#pragma once
#include <QByteArray>
#include <QString>

// The one place where bytes from outside (a recording system's report, list and settings files,
// possibly written by the Windows program) become text: valid UTF-8 is taken as it is, anything else
// is read as Windows-1254. Zero bytes are kept.
QString DecodeExternalText(const char *data, qsizetype size);
inline QString DecodeExternalText(const QByteArray &bytes)
{
    return DecodeExternalText(bytes.constData(), bytes.size());
}

bool IsValidUtf8(const char *data, qsizetype size);

// Windows-1254 alone; the seven bytes it leaves undefined become U+FFFD.
QString DecodeWindows1254(const char *data, qsizetype size);
