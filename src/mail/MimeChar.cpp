#include "mail/MimeChar.h"
#include <bit>
#include <cerrno>
#include <iconv.h>
#include <QList>

namespace {

const char *IconvName(TMimeChar charset)
{
    switch (charset) {
    case TMimeChar::ISO_8859_1:
        return "ISO-8859-1";
    case TMimeChar::ISO_8859_2:
        return "ISO-8859-2";
    case TMimeChar::ISO_8859_3:
        return "ISO-8859-3";
    case TMimeChar::ISO_8859_4:
        return "ISO-8859-4";
    case TMimeChar::ISO_8859_5:
        return "ISO-8859-5";
    case TMimeChar::ISO_8859_6:
        return "ISO-8859-6";
    case TMimeChar::ISO_8859_7:
        return "ISO-8859-7";
    case TMimeChar::ISO_8859_8:
        return "ISO-8859-8";
    case TMimeChar::ISO_8859_9:
        return "ISO-8859-9";
    case TMimeChar::ISO_8859_10:
        return "ISO-8859-10";
    case TMimeChar::KOI8_R:
        return "KOI8-R";
    case TMimeChar::KOI8_U:
        return "KOI8-U";
    case TMimeChar::ISO_2022_JP:
        return "ISO-2022-JP";
    case TMimeChar::GB2312:
        return "GB2312";
    case TMimeChar::EUC_TW:
        return "EUC-TW";
    case TMimeChar::EUC_KR:
        return "EUC-KR";
    case TMimeChar::UTF_8:
        return "UTF-8";
    case TMimeChar::CP1254:
        return "CP1254";
    }
    return "UTF-8";
}

class TIconv
{
public:
    TIconv(const char *to, const char *from)
        : cd(iconv_open(to, from))
    {
    }
    ~TIconv()
    {
        if (Ok())
            iconv_close(cd);
    }
    TIconv(const TIconv &) = delete;
    TIconv &operator=(const TIconv &) = delete;
    bool Ok() const { return cd != reinterpret_cast<iconv_t>(-1); }

    // Converts the whole input; on a character the target lacks (EILSEQ) or an undecodable input
    // sequence, skips `skip` input bytes and converts `replacement` (source encoding, may be empty).
    QByteArray Run(const QByteArray &in, size_t skip, const QByteArray &replacement)
    {
        QByteArray out;
        if (!Ok())
            return out;
        char buffer[4096];
        char *src = const_cast<char *>(in.constData());
        size_t srcLeft = size_t(in.size());
        while (true) {
            char *dst = buffer;
            size_t dstLeft = sizeof buffer;
            const size_t r = srcLeft ? iconv(cd, &src, &srcLeft, &dst, &dstLeft)
                                     : iconv(cd, nullptr, nullptr, &dst, &dstLeft);
            const int err = errno;
            out.append(buffer, dst - buffer);
            if (r != size_t(-1)) {
                if (srcLeft == 0 && src != nullptr) {
                    src = nullptr; // flush the shift state next round
                    continue;
                }
                break;
            }
            if (err == E2BIG)
                continue;
            if (err == EILSEQ && srcLeft >= skip) {
                src += skip;
                srcLeft -= skip;
                if (!replacement.isEmpty())
                    Emit(replacement, out);
                continue;
            }
            // an incomplete sequence at the end, or anything unexpected: drop the rest
            srcLeft = 0;
            src = nullptr;
        }
        return out;
    }

private:
    // The replacement goes through the same converter so a stateful target stays consistent.
    void Emit(const QByteArray &replacement, QByteArray &out)
    {
        char *src = const_cast<char *>(replacement.constData());
        size_t srcLeft = size_t(replacement.size());
        char buffer[64];
        char *dst = buffer;
        size_t dstLeft = sizeof buffer;
        if (iconv(cd, &src, &srcLeft, &dst, &dstLeft) != size_t(-1))
            out.append(buffer, dst - buffer);
    }

    iconv_t cd;
};

} // namespace

QString MimeCharName(TMimeChar charset)
{
    if (charset == TMimeChar::GB2312)
        return QStringLiteral("CN-GB");
    if (charset == TMimeChar::CP1254)
        return QStringLiteral("windows-1254");
    return QString::fromLatin1(IconvName(charset));
}

const std::vector<TMimeChar> &HeaderCharsets()
{
    static const std::vector<TMimeChar> list = {
        TMimeChar::ISO_8859_1,
        TMimeChar::ISO_8859_2,
        TMimeChar::ISO_8859_3,
        TMimeChar::ISO_8859_4,
        TMimeChar::ISO_8859_5,
        TMimeChar::ISO_8859_6,
        TMimeChar::ISO_8859_7,
        TMimeChar::ISO_8859_8,
        TMimeChar::ISO_8859_9,
        TMimeChar::ISO_8859_10,
        TMimeChar::KOI8_R,
        TMimeChar::KOI8_U,
        TMimeChar::ISO_2022_JP,
        TMimeChar::GB2312,
        TMimeChar::EUC_TW,
        TMimeChar::EUC_KR,
    };
    return list;
}

QByteArray ConvertToCharset(const QString &text, TMimeChar target, TConvertMode mode)
{
    if (target == TMimeChar::UTF_8)
        return text.toUtf8();
    // UTF-32 input lets a missing character be skipped as exactly four bytes.
    const QList<uint> ucs = text.toUcs4();
    QByteArray in(reinterpret_cast<const char *>(ucs.constData()), ucs.size() * qsizetype(sizeof(uint)));
    TIconv cv(IconvName(target), std::endian::native == std::endian::little ? "UTF-32LE" : "UTF-32BE");
    const char32_t underscore = U'_';
    const QByteArray replacement(reinterpret_cast<const char *>(&underscore), sizeof underscore);
    return cv.Run(in, 4, mode == TConvertMode::Substitute ? replacement : QByteArray());
}

QString ConvertFromCharset(const QByteArray &bytes, TMimeChar source)
{
    if (source == TMimeChar::UTF_8)
        return QString::fromUtf8(bytes);
    TIconv cv("UTF-8", IconvName(source));
    return QString::fromUtf8(cv.Run(bytes, 1, QByteArray()));
}
