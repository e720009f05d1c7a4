#include "mail/MimeMess.h"
#include "QtPrint.h"
#include <gtest/gtest.h>
#include <QLocale>
#include <QTimeZone>

namespace {

QString S(const char *utf8)
{
    return QString::fromUtf8(utf8);
}

struct THeaderCase
{
    const char *text;
    const char *encoded;
};

TEST(MimeHeader, EncodeHeaderTextWritesTheWireForm)
{
    const THeaderCase cases[] = {
        {"Durum 12 ok", "Durum 12 ok"}, // nothing to encode
        {"a_b", "a_b"}, // the underscore alone does not trigger encoding
        {"Durum sonuçları", "=?ISO-8859-3?Q?Durum_sonu=E7lar=B9?="},
        {"a_b=c d", "=?ISO-8859-1?Q?a=5Fb=3Dc_d?="},
        {"Güncel çözüm", "=?ISO-8859-1?Q?G=FCncel_=E7=F6z=FCm?="},
        {"Aşçı", "=?ISO-8859-3?Q?A=BA=E7=B9?="},
        {"işçi", "=?ISO-8859-2?Q?i=BA=E7i?="},
        {"Şeker çö", "=?ISO-8859-2?Q?=AAeker_=E7=F6?="},
        {"Привет", "=?ISO-8859-5?Q?=BF=E0=D8=D2=D5=E2?="},
        {"tab\there", "=?ISO-8859-1?Q?tab=09here?="},
        {"x (y)", "=?ISO-8859-1?Q?x_=28y=29?="},
    };
    for (const auto &c : cases)
        EXPECT_EQ(EncodeHeaderText(S(c.text), TMimeChar::ISO_8859_9), S(c.encoded)) << c.text;
}

TEST(MimeHeader, LongTextIsCutIntoWordsAfterTheSpaceThatPassesThirtyTwo)
{
    const QString subject = S("ZYRdenetleyici 2.1 sonuçları için uzun bir konu satırı burada biter");
    const QString encoded = EncodeHeaderText(subject, TMimeChar::ISO_8859_9);
    const QStringList words = encoded.split(QLatin1Char(' '));
    ASSERT_GE(words.size(), 2);
    QString rebuilt;
    for (qsizetype i = 0; i < words.size(); ++i) {
        const QString &w = words[i];
        ASSERT_TRUE(w.startsWith(QStringLiteral("=?ISO-8859-3?Q?")) && w.endsWith(QStringLiteral("?=")))
            << w.toStdString();
        const QString chunk = w.mid(15, w.size() - 17);
        if (i + 1 < words.size()) {
            // closed right after the space that made it longer than 32 characters
            EXPECT_TRUE(chunk.endsWith(QLatin1Char('_')));
            EXPECT_GT(chunk.size(), 32);
            EXPECT_LE(chunk.left(chunk.size() - 1).lastIndexOf(QLatin1Char('_')) + 1, 32);
        }
        rebuilt += chunk;
    }
    EXPECT_EQ(rebuilt, S("ZYRdenetleyici_2.1_sonu=E7lar=B9_i=E7in_uzun_bir_konu_sat=B9r=B9_burada_biter"));
}

TEST(MimeHeader, ChooseHeaderCharsetTriesTheCandidatesInOrder)
{
    const std::pair<const char *, TMimeChar> cases[] = {
        {"ÇÖÜ çöü", TMimeChar::ISO_8859_1},
        {"ş ç", TMimeChar::ISO_8859_2},
        {"İstanbul", TMimeChar::ISO_8859_3},
        {"dağ", TMimeChar::ISO_8859_3},
        {"Ğ", TMimeChar::ISO_8859_3},
        {"日本語", TMimeChar::ISO_2022_JP},
        {"한국어", TMimeChar::EUC_KR},
        {"", TMimeChar::ISO_8859_1},
    };
    for (const auto &[text, expected] : cases)
        EXPECT_EQ(ChooseHeaderCharset(S(text), TMimeChar::ISO_8859_9), expected) << text;

    // No candidate holds Thai: the longest round trip wins, the earlier one on a tie; all empty gives
    // ISO-8859-1.
    EXPECT_EQ(ChooseHeaderCharset(S("şşก"), TMimeChar::ISO_8859_9), TMimeChar::ISO_8859_2);
    EXPECT_EQ(ChooseHeaderCharset(S("ก"), TMimeChar::ISO_8859_9), TMimeChar::ISO_8859_1);
}

TEST(MimeHeader, OnlyTheFirst1024CharactersChooseAndTheRestIsSubstituted)
{
    const QString text = QString(1024, QLatin1Char('a')) + S("ı");
    EXPECT_EQ(ChooseHeaderCharset(text, TMimeChar::ISO_8859_9), TMimeChar::ISO_8859_1);
    const QString encoded = EncodeHeaderText(text, TMimeChar::ISO_8859_9);
    EXPECT_EQ(encoded,
        QStringLiteral("=?ISO-8859-1?Q?") + QString(1024, QLatin1Char('a')) + QStringLiteral("=5F?="));
}

TEST(MimeHeader, AddressForms)
{
    const std::pair<const char *, const char *> cases[] = {
        {"ops@example.com", "ops@example.com"},
        {"  <ops@example.com>  ", "ops@example.com"},
        {"Nöbetçi <nobet@example.com>", "\"=?ISO-8859-1?Q?N=F6bet=E7i?=\" <nobet@example.com>"},
        {"\"Ops Team\" <ops@example.com>", "\"Ops Team\" <ops@example.com>"},
        // no angle brackets: the whole text is the address part
        {"ops@example.com (Ops)", "\"Ops\" <ops@example.com (Ops)>"},
    };
    for (const auto &[address, encoded] : cases)
        EXPECT_EQ(EncodeAddress(S(address), TMimeChar::ISO_8859_9), S(encoded)) << address;
}

TEST(MimeBody, QuotedPrintableSplitsAt78NeverInsideAnEscape)
{
    const QString a77(77, QLatin1Char('a'));
    const QString a78(78, QLatin1Char('a'));
    EXPECT_EQ(SplitQpLine(a77), QStringList{a77});
    EXPECT_EQ(SplitQpLine(a78), QStringList{a78}); // nothing remains, so no soft break
    EXPECT_EQ(SplitQpLine(QString(100, QLatin1Char('a'))),
        (QStringList{QString(78, QLatin1Char('a')) + QLatin1Char('='), QString(22, QLatin1Char('a'))}));
    EXPECT_EQ(SplitQpLine(QString()), QStringList{QString()});

    // An escape at 77..79 goes whole to the next line.
    const QString escaped = QpEncode(QByteArray(76, 'b') + "=" + QByteArray(10, 'c'));
    EXPECT_EQ(SplitQpLine(escaped),
        (QStringList{QString(76, QLatin1Char('b')) + QLatin1Char('='),
            QStringLiteral("=3D") + QString(10, QLatin1Char('c'))}));

    // The last space starts the next piece.
    const QString words = QString(60, QLatin1Char('x')) + QStringLiteral(" ") + QString(30, QLatin1Char('y'));
    EXPECT_EQ(SplitQpLine(words),
        (QStringList{QString(60, QLatin1Char('x')) + QLatin1Char('='),
            QStringLiteral(" ") + QString(30, QLatin1Char('y'))}));

    for (int len = 70; len < 400; len += 7) {
        QByteArray raw;
        for (int i = 0; i < len; ++i)
            raw += (i % 5 == 0) ? "\xC3\xA7" : (i % 11 == 0 ? " " : "z");
        const QStringList out = SplitQpLine(QpEncode(raw));
        QString joined;
        for (qsizetype i = 0; i < out.size(); ++i) {
            QString piece = out[i];
            if (i + 1 < out.size()) {
                ASSERT_TRUE(piece.endsWith(QLatin1Char('=')));
                ASSERT_LE(piece.size(), 79);
                piece.chop(1);
            }
            // a piece never ends within an escape
            const qsizetype eq = piece.lastIndexOf(QLatin1Char('='));
            ASSERT_TRUE(eq < 0 || eq + 3 <= piece.size()) << piece.toStdString();
            joined += piece;
        }
        EXPECT_EQ(joined, QpEncode(raw));
    }
}

TEST(MimeBody, EscapesOnlyEqualsControlsAndHighBytes)
{
    EXPECT_EQ(QpEncode("a=b\tc \x7F\xC3\xA7 "), QStringLiteral("a=3Db=09c =7F=C3=A7 "));
    EXPECT_EQ(QpEncodeSafe("a_b c?=\"\xFE"), QStringLiteral("a=5Fb c=3F=3D=22=FE"));
}

TEST(MimeHeader, FoldingPrefersSemicolonThenCommaThenSpace)
{
    const QString semi = QStringLiteral("Content-type: text/html; charset=") + QString(70, QLatin1Char('x'));
    EXPECT_EQ(FoldHeaderLine(semi),
        (QStringList{QStringLiteral("Content-type: text/html;"),
            QStringLiteral(" charset=") + QString(70, QLatin1Char('x'))}));
    const QString comma = QStringLiteral("To: ") + QString(40, QLatin1Char('a')) + QStringLiteral("@x.com, ")
        + QString(40, QLatin1Char('b')) + QStringLiteral("@x.com");
    EXPECT_EQ(FoldHeaderLine(comma).first(),
        QStringLiteral("To: ") + QString(40, QLatin1Char('a')) + QStringLiteral("@x.com,"));
    const QString unbreakable = QStringLiteral("X: ") + QString(100, QLatin1Char('q'));
    EXPECT_EQ(FoldHeaderLine(unbreakable),
        (QStringList{QStringLiteral("X:"), QStringLiteral(" ") + QString(100, QLatin1Char('q'))}));
    const QString noSpace = QString(100, QLatin1Char('q'));
    EXPECT_EQ(FoldHeaderLine(noSpace), QStringList{noSpace});
    const QString words
        = QStringLiteral("Subject: ") + QStringList(20, QStringLiteral("word")).join(QLatin1Char(' '));
    const QStringList folded = FoldHeaderLine(words);
    ASSERT_EQ(folded.size(), 2);
    EXPECT_LE(folded[0].size(), 77);
    EXPECT_TRUE(folded[1].startsWith(QLatin1Char(' ')));
    EXPECT_EQ(folded.join(QString()), words);
}

TEST(MimeDate, EnglishNamesAndTheOffsetOfTheMomentWhateverTheLocale)
{
    QLocale::setDefault(QLocale(QLocale::Turkish, QLocale::Turkey));
    const QDateTime when(QDate(2026, 12, 8), QTime(14, 5, 9));
    EXPECT_EQ(MailDate(when), QStringLiteral("Tue, 8 Dec 2026 14:05:09 ") + TimeZoneText());
    EXPECT_EQ(MailDate(QDateTime(QDate(2027, 1, 31), QTime(0, 0, 0))).left(26),
        QStringLiteral("Sun, 31 Jan 2027 00:00:00 "));
    QLocale::setDefault(QLocale::c());

    EXPECT_EQ(TimeZoneText(3 * 3600), QStringLiteral("+0300"));
    EXPECT_EQ(TimeZoneText(-(4 * 3600 + 30 * 60)), QStringLiteral("-0430"));
    EXPECT_EQ(TimeZoneText(0), QStringLiteral("+0000"));
    EXPECT_EQ(TimeZoneText(5 * 3600 + 45 * 60), QStringLiteral("+0545"));
    EXPECT_EQ(TimeZoneText(), TimeZoneText(QDateTime::currentDateTime().offsetFromUtc()));
}

QStringList Compose(TMimeMess &mess, const QStringList &body)
{
    mess.Header.From = QStringLiteral("zyr@example.com");
    mess.Header.ToList = {QStringLiteral("ops@example.com")};
    mess.Header.Date = QDateTime(QDate(2026, 12, 8), QTime(14, 5, 9));
    mess.Header.XMailer = QStringLiteral("Dorvanek");
    mess.Header.CharsetCode = TMimeChar::ISO_8859_9;
    mess.SetHtmlBody(body);
    mess.ComposeMessage();
    return mess.Lines;
}

TEST(MimeMessage, ComposedLinesInOrder)
{
    TMimeMess mess;
    mess.Header.Subject = S("Durum sonuçları");
    const QStringList lines = Compose(mess, {S("<b>a=b</b>"), S("ok "), QString()});
    const QStringList expected = {
        QStringLiteral("From: zyr@example.com"),
        QStringLiteral("To: ops@example.com"),
        QStringLiteral("Subject: =?ISO-8859-3?Q?Durum_sonu=E7lar=B9?="),
        QStringLiteral("Date: Tue, 8 Dec 2026 14:05:09 ") + TimeZoneText(),
        QStringLiteral("MIME-Version: 1.0 (produced by Dorvanek)"),
        QStringLiteral("X-mailer: Dorvanek"),
        QStringLiteral("Content-type: text/html; charset=UTF-8"),
        QStringLiteral("Content-Description: HTML text"),
        QStringLiteral("Content-Disposition: inline"),
        QStringLiteral("Content-Transfer-Encoding: Quoted-printable"),
        QString(),
        QStringLiteral("=EF=BB=BF<b>a=3Db</b>"),
        QStringLiteral("ok "), // the trailing space stays unescaped
        QString(),
    };
    EXPECT_EQ(lines, expected);
}

TEST(MimeMessage, ReuseSharesOnlyTheHeaderValues)
{
    TMimeMess mess;
    mess.Header.Subject = QStringLiteral("first");
    Compose(mess, {S("ilk gövde çok uzun")});
    mess.Header.Subject.clear();
    const QStringList second = Compose(mess, {QStringLiteral("second")});
    EXPECT_FALSE(
        second.join(QLatin1Char('\n')).contains(QStringLiteral("Subject:"))); // empty subject: no line
    EXPECT_EQ(second.mid(second.indexOf(QString()) + 1), QStringList{QStringLiteral("=EF=BB=BFsecond")});
    EXPECT_EQ(second.count(QStringLiteral("Content-type: text/html; charset=UTF-8")), 1);
}

TEST(MimeMessage, DisplayNameSenderAndLineBreaksOfTheBody)
{
    TMimeMess mess;
    mess.Header.From = S("Nöbetçi <nobet@example.com>");
    mess.SetHtmlBody({QStringLiteral("a\rb\nc")});
    mess.ComposeMessage();
    EXPECT_EQ(
        mess.Lines.first(), QStringLiteral("From: \"=?ISO-8859-1?Q?N=F6bet=E7i?=\" <nobet@example.com>"));
    EXPECT_EQ(mess.MessagePart.PartBody,
        (QStringList{QStringLiteral("=EF=BB=BFa"), QStringLiteral("b"), QStringLiteral("c")}));
}

} // namespace
