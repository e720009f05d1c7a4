#include "platform/ItemParser.h"
#include <gtest/gtest.h>
#include <QStringList>

namespace {

QStringList Items(const QString &text, QChar sep = u',')
{
    TItemParser p(text, sep);
    QStringList out;
    while (p.HasMore())
        out << p.NextItem();
    return out;
}

const QChar C4(4), C5(5), C6(6);

} // namespace

TEST(ItemParser, SplitsOutsideQuotesAndGroups)
{
    struct Case
    {
        QString text;
        QStringList items;
    } cases[] = {
        {u""_qs, {}},
        {u"a,,b"_qs, {u"a"_qs, u""_qs, u"b"_qs}},
        {u"a,b,"_qs, {u"a"_qs, u"b"_qs}},
        {u","_qs, {u""_qs}},
        {u"[1,2],3"_qs, {u"[1,2]"_qs, u"3"_qs}},
        {u"{a,[b,c]},d"_qs, {u"{a,[b,c]}"_qs, u"d"_qs}},
        {u"'x,y',z"_qs, {u"'x,y'"_qs, u"z"_qs}},
        {u"\"x,y\",z"_qs, {u"\"x,y\""_qs, u"z"_qs}},
        {u"[a,b"_qs, {u"[a,b"_qs}},
        {u"it's,fine"_qs, {u"it's,fine"_qs}},
        {u"a]b,c"_qs, {u"a]b"_qs, u"c"_qs}},
        {u"[a},b],c"_qs, {u"[a},b]"_qs, u"c"_qs}},
        // brackets inside a quote take no part in nesting, nor does the state carry to the next item
        {u"'[',b"_qs, {u"'['"_qs, u"b"_qs}},
        {u"[x]],y"_qs, {u"[x]]"_qs, u"y"_qs}},
    };
    for (const auto &c : cases)
        EXPECT_EQ(Items(c.text), c.items) << c.text.toStdString();
}

TEST(ItemParser, ReportGroupsKeepInnerSeparators)
{
    const QString text = u"A"_qs + C4 + C5 + u"x"_qs + C4 + u"y"_qs + C6 + C4 + u"B"_qs;
    EXPECT_EQ(Items(text, C4), (QStringList{u"A"_qs, C5 + u"x"_qs + C4 + u"y"_qs + C6, u"B"_qs}));
}

TEST(ItemParser, DeepGroupsNeverOverrunTheCloserStack)
{
    // 40 open groups: the ones past 22 are ignored, and the closers pop only what was pushed.
    const QString deep = QString(40, u'[') + u"a,b"_qs + QString(40, u']');
    const QStringList items = Items(deep + u",tail"_qs);
    ASSERT_EQ(items.size(), 2);
    EXPECT_EQ(items[0], deep);
    EXPECT_EQ(items[1], u"tail"_qs);

    // Exactly 22 nested groups still nest fully.
    const QString full = QString(22, u'{') + u","_qs + QString(22, u'}');
    EXPECT_EQ(Items(full + u",z"_qs), (QStringList{full, u"z"_qs}));
}

TEST(ItemParser, NextGroupAndEndOfText)
{
    TItemParser p(u"[1,2],x,ab"_qs, u',');
    EXPECT_EQ(p.NextGroup(), u"1,2"_qs);
    EXPECT_EQ(p.NextGroup(), u"x"_qs);
    EXPECT_EQ(p.NextGroup(), u""_qs);
    EXPECT_FALSE(p.HasMore());
    EXPECT_EQ(p.NextItem(), u""_qs);
    EXPECT_EQ(p.NextInt(7), 7);
    EXPECT_FALSE(p.HasMore());
}

TEST(ItemParser, NextIntConsumesTheItemEitherWay)
{
    TItemParser p(u"12,zz,-3"_qs, u',');
    EXPECT_EQ(p.NextInt(0), 12);
    EXPECT_EQ(p.NextInt(99), 99);
    EXPECT_EQ(p.NextInt(0), -3);
}

TEST(ReadInteger, Rule)
{
    struct Case
    {
        QString text;
        bool ok;
        int32_t value;
    } cases[] = {
        {u" 12"_qs, true, 12},
        {u"12 "_qs, false, 0},
        {u"$1F"_qs, true, 31},
        {u"x1F"_qs, true, 31},
        {u"X1f"_qs, true, 31},
        {u"0x1F"_qs, true, 31},
        {u"0X1f"_qs, true, 31},
        {u"$FFFFFFFF"_qs, true, -1},
        {u"$80000000"_qs, true, INT32_MIN},
        {u"$100000000"_qs, false, 0},
        {u"$000000001"_qs, false, 0},
        {u"$"_qs, false, 0},
        {u"0x"_qs, false, 0},
        {u"$1G"_qs, false, 0},
        {u"2147483647"_qs, true, INT32_MAX},
        {u"2147483648"_qs, false, 0},
        {u"-2147483648"_qs, true, INT32_MIN},
        {u"-2147483649"_qs, false, 0},
        {u"99999999999999999999999"_qs, false, 0},
        {u"+7"_qs, true, 7},
        {u"007"_qs, true, 7},
        {u"0"_qs, true, 0},
        {u""_qs, false, 0},
        {u"   "_qs, false, 0},
        {u"-$1F"_qs, false, 0},
        {u"-"_qs, false, 0},
        {u"+"_qs, false, 0},
        {u"+-1"_qs, false, 0},
        {u"\t1"_qs, false, 0},
        {u"1.0"_qs, false, 0},
        {QString::fromUtf16(u"\uff11"), false, 0}, // a full-width digit is not a decimal digit here
        {u"12"_qs + QChar(0) + u"abc"_qs, true, 12},
        {QChar(0) + u"12"_qs, false, 0},
    };
    for (const auto &c : cases) {
        int32_t v = 4242;
        EXPECT_EQ(ReadInteger(c.text, v), c.ok) << c.text.toStdString();
        EXPECT_EQ(v, c.ok ? c.value : 4242) << c.text.toStdString();
        EXPECT_EQ(ReadIntegerDef(c.text, -5), c.ok ? c.value : -5) << c.text.toStdString();
    }
}
