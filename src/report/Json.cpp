#include "report/Json.h"
#include "platform/Format.h"
#include "platform/ItemParser.h"
#include <cmath>
#include <QLocale>

namespace {

struct TSpan
{
    qsizetype b, e; // trimmed item, e exclusive; b == e for an empty item
    bool Empty() const { return b >= e; }
};

bool IsBlank(QChar c)
{
    return c.unicode() <= 32;
}
bool IsDigit(QChar c)
{
    return c.unicode() >= u'0' && c.unicode() <= u'9';
}

// Splits s[b, e) at top-level occurrences of sep: not inside a string, a comment, braces or brackets.
// Each item is trimmed of blanks and comments at both ends. One pass, no recursion.
QList<TSpan> Split(const QString &text, qsizetype b, qsizetype e, QChar sep)
{
    const char16_t *s = reinterpret_cast<const char16_t *>(text.constData());
    const char16_t separator = sep.unicode();
    QList<TSpan> spans;
    qsizetype first = -1, last = -1;
    int depth = 0;
    bool inString = false;
    auto close = [&] {
        spans.append(first < 0 ? TSpan{0, 0} : TSpan{first, last + 1});
        first = last = -1;
    };
    qsizetype i = b;
    while (i < e) {
        const char16_t c = s[i];
        if (inString) {
            last = i;
            if (c == u'\\' && i + 1 < e) {
                last = ++i;
            } else if (c == u'"') {
                inString = false;
            }
            ++i;
            continue;
        }
        if (c == u'/' && i + 1 < e && s[i + 1] == u'/') {
            while (i < e && s[i] != u'\n')
                ++i;
            continue;
        }
        if (c == u'/' && i + 1 < e && s[i + 1] == u'*') {
            i += 2;
            while (i < e && !(s[i] == u'*' && i + 1 < e && s[i + 1] == u'/'))
                ++i;
            i = i < e ? i + 2 : e;
            continue;
        }
        if (c <= 32) {
            ++i;
            continue;
        }
        if (depth == 0 && c == separator) {
            close();
            ++i;
            continue;
        }
        if (first < 0)
            first = i;
        last = i;
        if (c == u'"')
            inString = true;
        else if (c == u'{' || c == u'[')
            ++depth;
        else if ((c == u'}' || c == u']') && depth > 0)
            --depth;
        ++i;
    }
    close();
    return spans;
}

[[noreturn]] void ParseError(const QString &Prefix, const QString &What)
{
    throw EJsonException(Prefix + Format("parse error: %s", What));
}

QString Unescape(const QString &s, qsizetype b, qsizetype e)
{
    QString out;
    out.reserve(e - b);
    auto readHex = [&](qsizetype at, bool raise, char16_t &unit) {
        if (e - at < 4) {
            if (raise)
                ParseError(QString(), u"Json is not correct!"_qs);
            return false;
        }
        unit = 0;
        for (qsizetype k = at; k < at + 4; ++k) {
            const int d = HexDigit(s[k]);
            if (d < 0) {
                if (raise)
                    throw EJsonException(u"Illegal four-hex-digits \""_qs + s.mid(at, 4) + u"\""_qs);
                return false;
            }
            unit = char16_t((unit << 4) | d);
        }
        return true;
    };
    for (qsizetype i = b; i < e; ++i) {
        const QChar c = s[i];
        if (c != u'\\' || i + 1 >= e) {
            out += c;
            continue;
        }
        const QChar n = s[++i];
        switch (n.unicode()) {
        case u'b':
            out += QChar(8);
            break;
        case u'f':
            out += QChar(12);
            break;
        case u'n':
            out += QChar(10);
            break;
        case u'r':
            out += QChar(13);
            break;
        case u't':
            out += QChar(9);
            break;
        case u'u': {
            char16_t unit = 0;
            readHex(i + 1, true, unit);
            i += 4;
            if (QChar::isHighSurrogate(unit)) {
                char16_t low = 0;
                if (i + 2 < e && s[i + 1] == u'\\' && s[i + 2] == u'u' && readHex(i + 3, false, low)
                    && QChar::isLowSurrogate(low)) {
                    out += QChar(unit);
                    out += QChar(low);
                    i += 6;
                } else {
                    out += QChar(QChar::ReplacementCharacter);
                }
            } else if (QChar::isLowSurrogate(unit)) {
                out += QChar(QChar::ReplacementCharacter);
            } else {
                out += QChar(unit);
            }
            break;
        }
        default:
            out += n;
            break;
        }
    }
    return out;
}

// Optional sign and decimal digits within the signed 64-bit range.
bool ReadDecimal64(QStringView t, int64_t &value)
{
    qsizetype i = 0;
    bool negative = false;
    if (i < t.size() && (t[i] == u'+' || t[i] == u'-'))
        negative = t[i++] == u'-';
    if (i >= t.size())
        return false;
    const uint64_t limit = negative ? uint64_t(INT64_MAX) + 1 : uint64_t(INT64_MAX);
    uint64_t v = 0;
    for (; i < t.size(); ++i) {
        if (!IsDigit(t[i]))
            return false;
        const uint64_t d = t[i].unicode() - u'0';
        if (v > (limit - d) / 10)
            return false;
        v = v * 10 + d;
    }
    value = negative ? int64_t(0 - v) : int64_t(v);
    return true;
}

// "0x" and 1 to 16 hexadecimal digits, taken as a 64-bit pattern.
bool ReadHex64(QStringView t, int64_t &value)
{
    if (t.size() < 3 || t.size() > 18 || t[0] != u'0' || (t[1] != u'x' && t[1] != u'X'))
        return false;
    uint64_t v = 0;
    for (qsizetype i = 2; i < t.size(); ++i) {
        const int d = HexDigit(t[i]);
        if (d < 0)
            return false;
        v = (v << 4) | uint64_t(d);
    }
    value = int64_t(v);
    return true;
}

// A decimal number with '.' as its separator and an optional exponent; never the locale's comma.
bool ReadFloat(QStringView t, double &value)
{
    qsizetype i = 0;
    if (i < t.size() && (t[i] == u'+' || t[i] == u'-'))
        ++i;
    qsizetype digits = 0;
    while (i < t.size() && IsDigit(t[i]))
        ++i, ++digits;
    if (i < t.size() && t[i] == u'.') {
        ++i;
        while (i < t.size() && IsDigit(t[i]))
            ++i, ++digits;
    }
    if (digits == 0)
        return false;
    if (i < t.size() && (t[i] == u'e' || t[i] == u'E')) {
        ++i;
        if (i < t.size() && (t[i] == u'+' || t[i] == u'-'))
            ++i;
        qsizetype exp = 0;
        while (i < t.size() && IsDigit(t[i]))
            ++i, ++exp;
        if (exp == 0)
            return false;
    }
    if (i != t.size())
        return false;
    // QString reads with the C locale; overflow gives infinity and underflow zero, the nearest values.
    value = t.toString().toDouble();
    return true;
}

QString Quote(const QString &text)
{
    QString out = u"\""_qs;
    for (QChar c : text) {
        switch (c.unicode()) {
        case u'"':
            out += u"\\\""_qs;
            break;
        case u'\\':
            out += u"\\\\"_qs;
            break;
        case 8:
            out += u"\\b"_qs;
            break;
        case 12:
            out += u"\\f"_qs;
            break;
        case 10:
            out += u"\\n"_qs;
            break;
        case 13:
            out += u"\\r"_qs;
            break;
        case 9:
            out += u"\\t"_qs;
            break;
        default:
            if (c.unicode() < 32)
                out += u"\\u"_qs + QString::number(c.unicode(), 16).rightJustified(4, u'0');
            else
                out += c;
        }
    }
    return out + u"\""_qs;
}

const QString kValuePrefix = u"<TJsonValue>"_qs;
const QString kObjectPrefix = u"<TJsonObject>"_qs;
const QString kArrayPrefix = u"<TJsonArray>"_qs;

} // namespace

int64_t JsonTextToInteger(const QString &Text)
{
    const QString t = Text.trimmed();
    int64_t v = 0;
    if (ReadDecimal64(t, v))
        return v;
    double d = 0;
    // Doubles in [-2^63, 2^63) truncate to a 64-bit integer; anything beyond has no integer value.
    if (ReadFloat(t, d) && d >= -9223372036854775808.0 && d < 9223372036854775808.0)
        return int64_t(d);
    throw EConvertError(Format("'%s' is not a valid number", Text));
}

IJsonValue TJsonValue::Make(const QString &Text)
{
    auto v = std::make_shared<TJsonValue>();
    v->kind = jvString;
    v->text = Text;
    return v;
}

IJsonValue TJsonValue::Classify(const QString &Source, qsizetype Begin, qsizetype End, int Depth)
{
    auto v = std::make_shared<TJsonValue>();
    const qsizetype len = End - Begin;
    if (len < 2) {
        if (len == 1 && IsDigit(Source[Begin])) {
            v->kind = jvInteger;
            v->integer = Source[Begin].unicode() - u'0';
        }
        return v;
    }
    const QChar first = Source[Begin], last = Source[End - 1];
    if (first == u'{' && last == u'}') {
        v->kind = jvObject;
        v->object = std::make_shared<TJsonObject>(Source, Begin + 1, End - 1, Depth + 1);
    } else if (first == u'[' && last == u']') {
        v->kind = jvArray;
        v->array = std::make_shared<TJsonArray>(Source, Begin + 1, End - 1, Depth + 1);
    } else if (first == u'"' && last == u'"') {
        v->kind = jvString;
        v->text = Unescape(Source, Begin + 1, End - 1);
    } else {
        const QStringView raw = QStringView(Source).mid(Begin, len);
        const QString lower = raw.toString().toLower();
        if (lower == u"null")
            v->kind = jvNull;
        else if (lower == u"true" || lower == u"false") {
            v->kind = jvBoolean;
            v->boolean = lower == u"true";
        } else if (ReadDecimal64(raw, v->integer) || ReadHex64(raw, v->integer))
            v->kind = jvInteger;
        else if (ReadFloat(raw, v->number))
            v->kind = jvFloat;
    }
    return v;
}

QString TJsonValue::KindName(TJsonValueType Kind)
{
    static const char16_t *const names[]
        = {u"jvNull", u"jvString", u"jvInteger", u"jvFloat", u"jvBoolean", u"jvObject", u"jvArray"};
    return QString::fromUtf16(names[Kind]);
}

void TJsonValue::TypeError(TJsonValueType Requested) const
{
    throw EJsonException(
        kValuePrefix + Format("value type error: %s to %s", KindName(kind), KindName(Requested)));
}

QString TJsonValue::ToText() const
{
    switch (kind) {
    case jvNull:
        return QString();
    case jvString:
        return text;
    case jvInteger:
        return QString::number(integer);
    case jvFloat:
        return QString::number(number, 'g', QLocale::FloatingPointShortest);
    case jvBoolean:
        return boolean ? u"true"_qs : u"false"_qs;
    case jvObject:
        return object->ToText();
    case jvArray:
        return array->ToText();
    }
    return QString();
}

int64_t TJsonValue::ToInteger() const
{
    switch (kind) {
    case jvNull:
        return 0;
    case jvString:
        return JsonTextToInteger(text);
    case jvInteger:
        return integer;
    case jvFloat:
        if (number >= -9223372036854775808.0 && number < 9223372036854775808.0)
            return int64_t(number);
        throw EConvertError(Format("'%s' is not a valid number", ToText()));
    case jvBoolean:
        return boolean ? 1 : 0;
    default:
        TypeError(jvInteger);
    }
}

bool TJsonValue::ToBoolean() const
{
    switch (kind) {
    case jvNull:
        return false;
    case jvString:
        return text.compare(u"true", Qt::CaseInsensitive) == 0;
    case jvInteger:
        return integer != 0;
    case jvFloat:
        return number != 0;
    case jvBoolean:
        return boolean;
    default:
        return true;
    }
}

IJsonObject TJsonValue::ToObject()
{
    if (kind == jvNull) {
        kind = jvObject;
        object = std::make_shared<TJsonObject>();
    }
    if (kind != jvObject)
        TypeError(jvObject);
    return object;
}

IJsonArray TJsonValue::ToArray()
{
    if (kind == jvNull) {
        kind = jvArray;
        array = std::make_shared<TJsonArray>();
    }
    if (kind != jvArray)
        TypeError(jvArray);
    return array;
}

namespace {

QString JsonOf(const IJsonValue &v)
{
    switch (v->Kind()) {
    case jvNull:
        return u"null"_qs;
    case jvString:
        return Quote(v->ToText());
    case jvFloat: {
        const QString t = v->ToText();
        return t.contains(u"inf") || t.contains(u"nan") ? u"null"_qs : t;
    }
    default:
        return v->ToText();
    }
}

} // namespace

TJsonObject::TJsonObject(const QString &Source, qsizetype Begin, qsizetype End, int Depth)
    : source(Source)
    , begin(Begin)
    , end(End)
    , depth(Depth)
    , parsed(false)
{
}

void TJsonObject::Materialize()
{
    if (parsed)
        return;
    if (depth > kJsonMaxDepth)
        ParseError(kObjectPrefix, u"Json is nested too deeply"_qs);
    QList<TJsonPair> found;
    QHash<QString, int> names;
    for (const TSpan &item : Split(source, begin, end, u',')) {
        if (item.Empty())
            continue;
        const QList<TSpan> parts = Split(source, item.b, item.e, u':');
        const TSpan name = parts.value(0);
        if (parts.size() != 2 || name.Empty())
            ParseError(kObjectPrefix, source.mid(item.b, item.e - item.b));
        QString key;
        if (name.e - name.b >= 2 && source[name.b] == u'"' && source[name.e - 1] == u'"')
            key = Unescape(source, name.b + 1, name.e - 1);
        else
            key = source.mid(name.b, name.e - name.b);
        if (key.isEmpty())
            ParseError(kObjectPrefix, source.mid(item.b, item.e - item.b));
        names.insert(key, int(found.size()));
        found.append({key, TJsonValue::Classify(source, parts[1].b, parts[1].e, depth)});
    }
    members.swap(found);
    index.swap(names);
    parsed = true;
    source = QString(); // the members hold what they need
}

void TJsonObject::Add(const QString &Name, const IJsonValue &Value)
{
    index.insert(Name, int(members.size()));
    members.append({Name, Value});
}

int TJsonObject::Count()
{
    Materialize();
    return int(members.size());
}

const TJsonPair &TJsonObject::Pair(int Index)
{
    Materialize();
    if (Index < 0 || Index >= members.size())
        throw EJsonException(Format("List index out of bounds (%d)", Index));
    return members[Index];
}

IJsonValue TJsonObject::Find(const QString &Name)
{
    Materialize();
    const auto it = index.constFind(Name);
    return it == index.cend() ? IJsonValue() : members[*it].Value;
}

QString TJsonObject::MemberText(const QString &Name)
{
    const IJsonValue v = Find(Name);
    return v ? v->ToText() : QString();
}

int64_t TJsonObject::MemberInteger(const QString &Name)
{
    const IJsonValue v = Find(Name);
    return v ? v->ToInteger() : 0;
}

bool TJsonObject::MemberBoolean(const QString &Name)
{
    const IJsonValue v = Find(Name);
    return v ? v->ToBoolean() : false;
}

IJsonArray TJsonObject::MemberArray(const QString &Name)
{
    IJsonValue v = Find(Name);
    if (!v) {
        v = std::make_shared<TJsonValue>();
        Add(Name, v);
    }
    return v->ToArray();
}

QString TJsonObject::ToText()
{
    Materialize(); // so that an error inside surfaces here, as at any other use
    QString out = u"{"_qs;
    for (qsizetype i = 0; i < members.size(); ++i) {
        if (i > 0)
            out += u',';
        out += Quote(members[i].Name) + u":"_qs + JsonOf(members[i].Value);
    }
    return out + u"}"_qs;
}

TJsonArray::TJsonArray(const QString &Source, qsizetype Begin, qsizetype End, int Depth)
    : source(Source)
    , begin(Begin)
    , end(End)
    , depth(Depth)
    , parsed(false)
{
}

void TJsonArray::Materialize()
{
    if (parsed)
        return;
    if (depth > kJsonMaxDepth)
        ParseError(kArrayPrefix, u"Json is nested too deeply"_qs);
    const QList<TSpan> spans = Split(source, begin, end, u',');
    QList<IJsonValue> found;
    if (!(spans.size() == 1 && spans[0].Empty())) {
        found.reserve(spans.size());
        for (const TSpan &item : spans)
            found.append(TJsonValue::Classify(source, item.b, item.e, depth));
    }
    items.swap(found);
    parsed = true;
    source = QString();
}

int TJsonArray::Count()
{
    Materialize();
    return int(items.size());
}

IJsonValue TJsonArray::Item(int Index)
{
    Materialize();
    if (Index < 0 || Index >= items.size())
        throw EJsonException(Format("List index out of bounds (%d)", Index));
    return items[Index];
}

QString TJsonArray::ToText()
{
    Materialize();
    QString out = u"["_qs;
    for (qsizetype i = 0; i < items.size(); ++i) {
        if (i > 0)
            out += u',';
        out += JsonOf(items[i]);
    }
    return out + u"]"_qs;
}

IJsonObject ParseObject(const QString &Text)
{
    qsizetype b = 0, e = Text.size();
    while (b < e && IsBlank(Text[b]))
        ++b;
    while (e > b && IsBlank(Text[e - 1]))
        --e;
    if (e - b < 2)
        return std::make_shared<TJsonObject>();
    IJsonObject object = TJsonValue::Classify(Text, b, e, 0)->ToObject();
    object->Count(); // the top level is read at once, so its errors surface here
    return object;
}
