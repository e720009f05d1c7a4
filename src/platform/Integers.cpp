#include "platform/Integers.h"

int HexDigit(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9')
        return u - u'0';
    if (u >= u'a' && u <= u'f')
        return u - u'a' + 10;
    if (u >= u'A' && u <= u'F')
        return u - u'A' + 10;
    return -1;
}

namespace {

bool IsDecimal(QChar c)
{
    return c.unicode() >= u'0' && c.unicode() <= u'9';
}

} // namespace

bool ReadInteger(const QString &Text, int32_t &Value)
{
    qsizetype end = Text.indexOf(QChar(0));
    if (end < 0)
        end = Text.size();
    qsizetype i = 0;
    while (i < end && Text[i] == u' ')
        ++i;
    if (i >= end)
        return false;

    qsizetype hexStart = -1;
    if (Text[i] == u'$' || Text[i] == u'x' || Text[i] == u'X')
        hexStart = i + 1;
    else if (Text[i] == u'0' && i + 1 < end && (Text[i + 1] == u'x' || Text[i + 1] == u'X'))
        hexStart = i + 2;

    if (hexStart >= 0) {
        const qsizetype digits = end - hexStart;
        if (digits < 1 || digits > 8)
            return false;
        uint32_t v = 0;
        for (qsizetype k = hexStart; k < end; ++k) {
            const int d = HexDigit(Text[k]);
            if (d < 0)
                return false;
            v = (v << 4) | uint32_t(d);
        }
        Value = int32_t(v);
        return true;
    }

    bool negative = false;
    if (Text[i] == u'+' || Text[i] == u'-') {
        negative = Text[i] == u'-';
        ++i;
    }
    if (i >= end)
        return false;
    // Magnitude limit: 2^31 for a negative number, 2^31 - 1 otherwise.
    const int64_t limit = negative ? 2147483648LL : 2147483647LL;
    int64_t v = 0;
    for (; i < end; ++i) {
        if (!IsDecimal(Text[i]))
            return false;
        v = v * 10 + (Text[i].unicode() - u'0');
        if (v > limit)
            return false;
    }
    Value = int32_t(negative ? -v : v);
    return true;
}

int32_t ReadIntegerDef(const QString &Text, int32_t Default)
{
    int32_t v = Default;
    return ReadInteger(Text, v) ? v : Default;
}
