#include "platform/Charset.h"
#include <gtest/gtest.h>

namespace {
QByteArray Bytes(std::initializer_list<int> list)
{
    QByteArray b;
    for (int c : list)
        b.append(char(c));
    return b;
}
} // namespace

TEST(Charset, Utf8TurkishKept)
{
    const QString turkish = QStringLiteral("ÇĞİÖŞÜçğıöşü Merkez");
    EXPECT_EQ(DecodeExternalText(turkish.toUtf8()), turkish);
}

TEST(Charset, Windows1254TurkishDecoded)
{
    // Ç Ğ İ Ö Ş Ü ç ğ ı ö ş ü in Windows-1254
    const QByteArray cp = Bytes({0xC7, 0xD0, 0xDD, 0xD6, 0xDE, 0xDC, 0xE7, 0xF0, 0xFD, 0xF6, 0xFE, 0xFC});
    EXPECT_EQ(DecodeExternalText(cp), QStringLiteral("ÇĞİÖŞÜçğıöşü"));
    EXPECT_EQ(DecodeExternalText(Bytes({0x80, 0x99, 0x9F})), QStringLiteral("€™Ÿ"));
}

TEST(Charset, UndefinedBytesBecomeReplacement)
{
    for (int b : {0x81, 0x8D, 0x8E, 0x8F, 0x90, 0x9D, 0x9E}) {
        const QString s = DecodeExternalText(Bytes({'a', b, 'z'}));
        ASSERT_EQ(s.size(), 3) << b;
        EXPECT_EQ(s[1], QChar(0xFFFD)) << b;
        EXPECT_EQ(s[0], QLatin1Char('a'));
        EXPECT_EQ(s[2], QLatin1Char('z'));
    }
}

TEST(Charset, ZeroBytesAndControlCharactersKept)
{
    const QByteArray utf = Bytes({'a', 0, 4, 5, 6, 'b'});
    const QString s = DecodeExternalText(utf);
    ASSERT_EQ(s.size(), 6);
    EXPECT_EQ(s[1].unicode(), 0);
    EXPECT_EQ(s[2].unicode(), 4);
    EXPECT_EQ(s[3].unicode(), 5);
    EXPECT_EQ(s[4].unicode(), 6);
    // Same in a text that is read as Windows-1254.
    const QString c = DecodeExternalText(Bytes({0xDE, 0, 4, 5, 6}));
    ASSERT_EQ(c.size(), 5);
    EXPECT_EQ(c, QString(QChar(0x015E)) + QChar(0) + QChar(4) + QChar(5) + QChar(6));
}

TEST(Charset, InvalidUtf8FallsBackWhole)
{
    struct Case
    {
        QByteArray bytes;
        bool valid;
    };
    const Case cases[] = {
        {Bytes({0xC3, 0xA7}), true}, // ç
        {Bytes({0xF0, 0x9F, 0x98, 0x80}), true}, // 4-byte sequence
        {Bytes({0xC0, 0xAF}), false}, // overlong
        {Bytes({0xED, 0xA0, 0x80}), false}, // surrogate
        {Bytes({0xF4, 0x90, 0x80, 0x80}), false}, // beyond U+10FFFF
        {Bytes({0xC3}), false}, // truncated
        {Bytes({0xC3, 0xA7, 0xFD}), false}, // valid start, then a Windows-1254 ı
    };
    for (const auto &c : cases)
        EXPECT_EQ(IsValidUtf8(c.bytes.constData(), c.bytes.size()), c.valid) << c.bytes.toHex().constData();
    // A mixed text is read as Windows-1254 in full, not partly as UTF-8.
    EXPECT_EQ(DecodeExternalText(Bytes({0xC3, 0xA7, 0xFD})), QStringLiteral("Ã§ı"));
}
