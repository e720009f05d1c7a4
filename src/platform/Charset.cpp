#include "Charset.h"

namespace {

// 0x80..0x9F of Windows-1254; 0xFFFD marks the undefined bytes.
constexpr char16_t kHigh1254[32] = {
    0x20AC,
    0xFFFD,
    0x201A,
    0x0192,
    0x201E,
    0x2026,
    0x2020,
    0x2021,
    0x02C6,
    0x2030,
    0x0160,
    0x2039,
    0x0152,
    0xFFFD,
    0xFFFD,
    0xFFFD,
    0xFFFD,
    0x2018,
    0x2019,
    0x201C,
    0x201D,
    0x2022,
    0x2013,
    0x2014,
    0x02DC,
    0x2122,
    0x0161,
    0x203A,
    0x0153,
    0xFFFD,
    0xFFFD,
    0x0178,
};

char16_t Map1254(unsigned char b)
{
    if (b < 0x80)
        return b;
    if (b < 0xA0)
        return kHigh1254[b - 0x80];
    switch (b) { // where Windows-1254 differs from Latin-1
    case 0xD0:
        return 0x011E; // Ğ
    case 0xDD:
        return 0x0130; // İ
    case 0xDE:
        return 0x015E; // Ş
    case 0xF0:
        return 0x011F; // ğ
    case 0xFD:
        return 0x0131; // ı
    case 0xFE:
        return 0x015F; // ş
    default:
        return b;
    }
}

} // namespace

bool IsValidUtf8(const char *data, qsizetype size)
{
    const auto *p = reinterpret_cast<const unsigned char *>(data);
    qsizetype i = 0;
    while (i < size) {
        const unsigned char c = p[i];
        if (c < 0x80) {
            ++i;
            continue;
        }
        int len;
        char32_t cp, min;
        if ((c & 0xE0) == 0xC0) {
            len = 2;
            cp = c & 0x1F;
            min = 0x80;
        } else if ((c & 0xF0) == 0xE0) {
            len = 3;
            cp = c & 0x0F;
            min = 0x800;
        } else if ((c & 0xF8) == 0xF0) {
            len = 4;
            cp = c & 0x07;
            min = 0x10000;
        } else {
            return false;
        }
        if (size - i < len)
            return false;
        for (int k = 1; k < len; ++k) {
            if ((p[i + k] & 0xC0) != 0x80)
                return false;
            cp = (cp << 6) | (p[i + k] & 0x3F);
        }
        if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        i += len;
    }
    return true;
}

QString DecodeWindows1254(const char *data, qsizetype size)
{
    QString out(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        out[i] = QChar(Map1254(static_cast<unsigned char>(data[i])));
    return out;
}

QString DecodeExternalText(const char *data, qsizetype size)
{
    if (IsValidUtf8(data, size))
        return QString::fromUtf8(data, size);
    return DecodeWindows1254(data, size);
}
