#pragma once
// A read-only JSON document model, lenient the way the device-list library's texts need: comments and
// unquoted member names are accepted, and a text that is no value reads as null. Nested objects and
// arrays are parsed when first used, so an error inside them surfaces at that use.
#include "platform/Errors.h"
#include <cstdint>
#include <memory>
#include <QHash>
#include <QList>
#include <QString>

class EJsonException : public EZyrError
{
public:
    using EZyrError::EZyrError;
};

// A text that is not a number where one is expected.
class EConvertError : public EZyrError
{
public:
    using EZyrError::EZyrError;
};

enum TJsonValueType
{
    jvNull,
    jvString,
    jvInteger,
    jvFloat,
    jvBoolean,
    jvObject,
    jvArray
};

class TJsonValue;
class TJsonObject;
class TJsonArray;
using IJsonValue = std::shared_ptr<TJsonValue>;
using IJsonObject = std::shared_ptr<TJsonObject>;
using IJsonArray = std::shared_ptr<TJsonArray>;

class TJsonValue
{
public:
    TJsonValue() = default;
    static IJsonValue Make(const QString &Text); // a text already classified as a JSON string's content
    // Classifies Text[Begin, End), already stripped of blanks and comments. Depth counts enclosing
    // containers.
    static IJsonValue Classify(const QString &Source, qsizetype Begin, qsizetype End, int Depth);

    TJsonValueType Kind() const { return kind; }
    static QString KindName(TJsonValueType Kind);

    QString ToText() const;
    int64_t ToInteger() const;
    bool ToBoolean() const;
    IJsonObject ToObject(); // null turns into an empty object
    IJsonArray ToArray(); // null turns into an empty array

private:
    [[noreturn]] void TypeError(TJsonValueType Requested) const;

    TJsonValueType kind = jvNull;
    QString text;
    int64_t integer = 0;
    double number = 0;
    bool boolean = false;
    IJsonObject object;
    IJsonArray array;
};

struct TJsonPair
{
    QString Name;
    IJsonValue Value;
};

// Deeper containers than this raise EJsonException when used, so no use of a document can exhaust
// the stack (rendering and releasing walk containers recursively).
inline constexpr int kJsonMaxDepth = 512;

class TJsonObject
{
public:
    TJsonObject() = default; // empty
    TJsonObject(const QString &Source, qsizetype Begin, qsizetype End, int Depth);

    int Count();
    const TJsonPair &Pair(int Index);
    IJsonValue Find(const QString &Name); // null when missing; the last member of that name

    QString MemberText(const QString &Name);
    int64_t MemberInteger(const QString &Name);
    bool MemberBoolean(const QString &Name);
    IJsonArray MemberArray(const QString &Name); // adds an empty array member when missing

    QString ToText();
    int Depth() const { return depth; }

private:
    void Materialize();
    void Add(const QString &Name, const IJsonValue &Value);

    QString source;
    qsizetype begin = 0, end = 0;
    int depth = 0;
    bool parsed = true;
    QList<TJsonPair> members;
    QHash<QString, int> index;
};

class TJsonArray
{
public:
    TJsonArray() = default;
    TJsonArray(const QString &Source, qsizetype Begin, qsizetype End, int Depth);

    int Count();
    bool IsEmpty() { return Count() < 1; }
    IJsonValue Item(int Index); // EJsonException outside 0 .. Count - 1
    IJsonObject ItemObject(int Index) { return Item(Index)->ToObject(); }

    QString ToText();

private:
    void Materialize();

    QString source;
    qsizetype begin = 0, end = 0;
    int depth = 0;
    bool parsed = true;
    QList<IJsonValue> items;
};

// Parses a JSON text that should hold an object. Blank or one-character texts and texts that read as
// null give an empty object; any other kind of value raises EJsonException.
IJsonObject ParseObject(const QString &Text);

// Reads a text as a number with '.' as the decimal separator, whatever the locale, truncated toward
// zero; EConvertError when it is none or lies outside the 64-bit range.
int64_t JsonTextToInteger(const QString &Text);
