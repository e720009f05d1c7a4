#include "report/Json.h"
#include <functional>
#include <gtest/gtest.h>
#include <QLocale>

namespace {

template <typename F> QString ErrorOf(F f)
{
    try {
        f();
    } catch (const EZyrError &e) {
        return e.Message();
    }
    return u"(no error)"_qs;
}

// A Turkish locale uses the comma as its decimal separator; JSON numbers must not follow it.
class TurkishLocale : public ::testing::Test
{
protected:
    void SetUp() override { QLocale::setDefault(QLocale(QLocale::Turkish, QLocale::Turkey)); }
    void TearDown() override { QLocale::setDefault(QLocale::c()); }
};

} // namespace

TEST(Json, TextsThatGiveAnEmptyObject)
{
    for (const QString &text :
        {u""_qs, u"  \t\r\n "_qs, u"abc"_qs, u"5"_qs, u" null "_qs, u"{}"_qs, u"{ /* c */ }"_qs}) {
        const IJsonObject o = ParseObject(text);
        EXPECT_EQ(o->Count(), 0) << text.toStdString();
        EXPECT_EQ(o->MemberText(u"a"_qs), QString());
        EXPECT_EQ(o->MemberInteger(u"a"_qs), 0);
        EXPECT_FALSE(o->MemberBoolean(u"a"_qs));
        EXPECT_TRUE(o->MemberArray(u"a"_qs)->IsEmpty());
    }
}

TEST(Json, TextsThatAreNoObjectRaiseTypeErrors)
{
    struct Case
    {
        QString text, message;
    } cases[] = {
        {u"[1,2]"_qs, u"<TJsonValue>value type error: jvArray to jvObject"_qs},
        {u"\"ab\""_qs, u"<TJsonValue>value type error: jvString to jvObject"_qs},
        {u"12"_qs, u"<TJsonValue>value type error: jvInteger to jvObject"_qs},
        {u"2.5"_qs, u"<TJsonValue>value type error: jvFloat to jvObject"_qs},
        {u"true"_qs, u"<TJsonValue>value type error: jvBoolean to jvObject"_qs},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(ErrorOf([&] { ParseObject(c.text); }), c.message) << c.text.toStdString();
        EXPECT_THROW(ParseObject(c.text), EJsonException);
    }
}

TEST_F(TurkishLocale, MemberConversions)
{
    const IJsonObject o = ParseObject(uR"({
        "s12": "12", "s12x": "12x", "sFrac": " -2.9 ", "t": true, "f": false, "fl": 2.9, "neg": -2.9,
        "exp": 1.5e3, "hex": 0x1F, "big": 9223372036854775807, "huge": 1e999, "over": 9223372036854775808,
        "n": null, "TRUE": "TRUE", "yes": "yes", "one": 1, "zero": 0, "fz": 0.0, "o": {"x": 1}, "a": [1],
        "A": 7, "dup": 1, "dup": 2
    })"_qs);
    struct IntCase
    {
        const char16_t *name;
        int64_t value;
    } ints[] = {{u"s12", 12}, {u"sFrac", -2}, {u"t", 1}, {u"f", 0}, {u"fl", 2}, {u"neg", -2}, {u"exp", 1500},
        {u"hex", 31}, {u"big", INT64_MAX}, {u"n", 0}, {u"one", 1}, {u"missing", 0}, {u"a_", 0}, {u"dup", 2}};
    for (const auto &c : ints)
        EXPECT_EQ(o->MemberInteger(QString::fromUtf16(c.name)), c.value)
            << QString::fromUtf16(c.name).toStdString();

    for (const char16_t *name : {u"s12x", u"huge", u"over"})
        EXPECT_THROW(o->MemberInteger(QString::fromUtf16(name)), EConvertError)
            << QString::fromUtf16(name).toStdString();
    EXPECT_EQ(ErrorOf([&] { o->MemberInteger(u"o"_qs); }),
        u"<TJsonValue>value type error: jvObject to jvInteger"_qs);
    EXPECT_EQ(ErrorOf([&] { o->MemberInteger(u"a"_qs); }),
        u"<TJsonValue>value type error: jvArray to jvInteger"_qs);

    struct BoolCase
    {
        const char16_t *name;
        bool value;
    } bools[] = {{u"TRUE", true}, {u"yes", false}, {u"one", true}, {u"zero", false}, {u"fz", false},
        {u"fl", true}, {u"n", false}, {u"o", true}, {u"a", true}, {u"t", true}, {u"missing", false}};
    for (const auto &c : bools)
        EXPECT_EQ(o->MemberBoolean(QString::fromUtf16(c.name)), c.value)
            << QString::fromUtf16(c.name).toStdString();

    struct TextCase
    {
        const char16_t *name, *text;
    } texts[] = {{u"s12", u"12"}, {u"fl", u"2.9"}, {u"neg", u"-2.9"}, {u"exp", u"1500"}, {u"t", u"true"},
        {u"f", u"false"}, {u"n", u""}, {u"big", u"9223372036854775807"}};
    for (const auto &c : texts)
        EXPECT_EQ(o->MemberText(QString::fromUtf16(c.name)), QString::fromUtf16(c.text));
}

TEST(Json, MemberNamesAreCaseSensitive)
{
    const IJsonObject o = ParseObject(u"{\"A\": 1}"_qs);
    EXPECT_EQ(o->MemberInteger(u"a"_qs), 0);
    EXPECT_EQ(o->MemberInteger(u"A"_qs), 1);
}

TEST(Json, MemberArray)
{
    const IJsonObject o = ParseObject(u"{\"five\": 5, \"n\": null, \"a\": [{\"x\": 1}, null, 3]}"_qs);
    EXPECT_EQ(ErrorOf([&] { o->MemberArray(u"five"_qs); }),
        u"<TJsonValue>value type error: jvInteger to jvArray"_qs);
    EXPECT_TRUE(o->MemberArray(u"n"_qs)->IsEmpty());

    const IJsonArray a = o->MemberArray(u"a"_qs);
    ASSERT_EQ(a->Count(), 3);
    EXPECT_EQ(a->ItemObject(0)->MemberInteger(u"x"_qs), 1);
    EXPECT_EQ(a->ItemObject(1)->Count(), 0); // null becomes an empty object
    EXPECT_EQ(ErrorOf([&] { a->ItemObject(2); }), u"<TJsonValue>value type error: jvInteger to jvObject"_qs);
    EXPECT_THROW(a->ItemObject(3), EJsonException);
    EXPECT_THROW(a->ItemObject(-1), EJsonException);

    // A missing array is added to the object, and stays the same array on the next lookup.
    const int before = o->Count();
    const IJsonArray added = o->MemberArray(u"new"_qs);
    EXPECT_TRUE(added->IsEmpty());
    EXPECT_EQ(o->Count(), before + 1);
    EXPECT_EQ(o->MemberArray(u"new"_qs), added);
}

TEST(Json, LenientSyntax)
{
    const IJsonObject o = ParseObject(uR"({
        /* a block comment, with "quotes" and a comma */ a: 1,
        // a line comment, with a comma: and a colon
        "b" : "x,y:z" /* trailing */ ,
        , "c": [1, , "two"],
        "d": {"e": [ {"f": "}"} ]}
    })"_qs);
    EXPECT_EQ(o->MemberInteger(u"a"_qs), 1);
    EXPECT_EQ(o->MemberText(u"b"_qs), u"x,y:z"_qs);
    const IJsonArray c = o->MemberArray(u"c"_qs);
    ASSERT_EQ(c->Count(), 3);
    EXPECT_EQ(c->Item(1)->Kind(), jvNull);
    EXPECT_EQ(c->Item(2)->ToText(), u"two"_qs);
    EXPECT_EQ(
        o->Find(u"d"_qs)->ToObject()->MemberArray(u"e"_qs)->ItemObject(0)->MemberText(u"f"_qs), u"}"_qs);
    EXPECT_EQ(ParseObject(u"{\"a\": []}"_qs)->MemberArray(u"a"_qs)->Count(), 0);
    EXPECT_EQ(ParseObject(u"{\"a\": [ /* none */ ]}"_qs)->MemberArray(u"a"_qs)->Count(), 0);
    // A bare word reads as null, not as an error.
    EXPECT_EQ(ParseObject(u"{\"a\": nope}"_qs)->Find(u"a"_qs)->Kind(), jvNull);
}

TEST(Json, ParseErrors)
{
    struct Case
    {
        QString text, message;
    } cases[] = {
        {u"{\"a\" 1}"_qs, u"<TJsonObject>parse error: \"a\" 1"_qs},
        {u"{\"a\": 1: 2}"_qs, u"<TJsonObject>parse error: \"a\": 1: 2"_qs},
        {u"{: 1}"_qs, u"<TJsonObject>parse error: : 1"_qs},
        {u"{\"\": 1}"_qs, u"<TJsonObject>parse error: \"\": 1"_qs},
        {u"{\"a\": \"\\u12\"}"_qs, u"parse error: Json is not correct!"_qs},
        {u"{\"a\": \"\\u12zz\"}"_qs, u"Illegal four-hex-digits \"12zz\""_qs},
        {u"{\"\\u00\": 1}"_qs, u"parse error: Json is not correct!"_qs},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(ErrorOf([&] { ParseObject(c.text); }), c.message) << c.text.toStdString();
        EXPECT_THROW(ParseObject(c.text), EJsonException);
    }
    // An error inside a nested object surfaces when that object is first used.
    const IJsonObject o = ParseObject(u"{\"a\": {\"x\"}, \"b\": 2}"_qs);
    EXPECT_EQ(o->MemberInteger(u"b"_qs), 2);
    EXPECT_EQ(ErrorOf([&] { o->Find(u"a"_qs)->ToObject()->Count(); }), u"<TJsonObject>parse error: \"x\""_qs);
}

TEST(Json, StringEscapes)
{
    struct Case
    {
        QString json, text;
    } cases[] = {
        {u"a\\u0041b"_qs, u"aAb"_qs},
        {u"\\b\\f\\n\\r\\t"_qs, u"\b\f\n\r\t"_qs},
        {u"\\\"\\\\\\/\\q"_qs, u"\"\\/q"_qs},
        {u"\\u00e7\\u011F"_qs, u"çğ"_qs},
        {u"\\ud83d\\ude00"_qs, QString::fromUtf8("\xF0\x9F\x98\x80")}, // one character from a surrogate pair
        {u"\\ud83dx"_qs, u"\uFFFDx"_qs},
        {u"\\ude00\\ud83d"_qs, u"\uFFFD\uFFFD"_qs},
        {u"\\ud83d\\u0041"_qs, u"\uFFFDA"_qs},
        {u"\\ud83d\\ud83d\\ude00"_qs, QString::fromUtf8("\xEF\xBF\xBD\xF0\x9F\x98\x80")},
        {u"Türkçe"_qs, u"Türkçe"_qs},
    };
    for (const auto &c : cases) {
        const QString text = ParseObject(u"{\"k\": \""_qs + c.json + u"\"}"_qs)->MemberText(u"k"_qs);
        EXPECT_EQ(text, c.text) << c.json.toStdString();
        EXPECT_EQ(text.toUtf8(), c.text.toUtf8()); // no lone surrogate survives into UTF-8
    }
    // Names are unescaped the same way.
    EXPECT_EQ(ParseObject(u"{\"\\u0041\": 3}"_qs)->MemberInteger(u"A"_qs), 3);
}

TEST(Json, DeepNestingNeverExhaustsTheStack)
{
    const int n = 100000;
    EXPECT_THROW(ParseObject(QString(n, u'[') + QString(n, u']')), EJsonException);
    // Without their closers these are bare words, which read as null.
    EXPECT_EQ(ParseObject(QString(n, u'['))->Count(), 0);
    EXPECT_EQ(ParseObject(QString(n, u'{'))->Count(), 0);
    const IJsonObject wide = ParseObject(u"{\"a\":"_qs + QString(n, u'[') + QString(n, u']') + u"}"_qs);
    EXPECT_THROW(wide->MemberArray(u"a"_qs)->ItemObject(0), EJsonException);

    // Walking down a deep document stops with an error at the depth limit.
    QString deep;
    for (int i = 0; i < 4 * kJsonMaxDepth; ++i)
        deep += u"{\"a\":"_qs;
    deep += u"1"_qs + QString(4 * kJsonMaxDepth, u'}');
    IJsonObject o = ParseObject(deep);
    int level = 0;
    const QString error = ErrorOf([&] {
        for (;;) {
            o = o->Find(u"a"_qs)->ToObject();
            ++level;
        }
    });
    EXPECT_EQ(error, u"<TJsonObject>parse error: Json is nested too deeply"_qs);
    EXPECT_EQ(level, kJsonMaxDepth);
    EXPECT_THROW(ParseObject(deep)->ToText(), EJsonException);
}

TEST(Json, ValuesOutliveTheirDocument)
{
    IJsonValue kept;
    IJsonArray items;
    {
        const IJsonObject o = ParseObject(u"{\"k\": {\"v\": \"kalıcı\"}, \"l\": [1, 2]}"_qs);
        kept = o->Find(u"k"_qs);
        items = o->MemberArray(u"l"_qs);
    }
    EXPECT_EQ(kept->ToObject()->MemberText(u"v"_qs), u"kalıcı"_qs);
    EXPECT_EQ(items->Item(1)->ToInteger(), 2);
}

TEST(Json, ToTextRendersJson)
{
    const IJsonObject o = ParseObject(u"{\"a\": [1, 2.5, \"x\\\"y\", null, true], \"b\": {}}"_qs);
    o->MemberArray(u"a"_qs)->Count();
    const IJsonObject again = ParseObject(o->ToText());
    const IJsonArray a = again->MemberArray(u"a"_qs);
    ASSERT_EQ(a->Count(), 5);
    EXPECT_EQ(a->Item(1)->ToText(), u"2.5"_qs);
    EXPECT_EQ(a->Item(2)->ToText(), u"x\"y"_qs);
    EXPECT_EQ(a->Item(3)->Kind(), jvNull);
    EXPECT_TRUE(a->Item(4)->ToBoolean());
    EXPECT_EQ(again->Find(u"b"_qs)->Kind(), jvObject);
}
