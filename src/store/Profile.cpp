#include "store/Profile.h"
#include "platform/Charset.h"
#include "platform/Errors.h"
#include "platform/Format.h"
#include "platform/Integers.h"
#include "platform/SaveFile.h"

namespace {

bool SameName(const QString &a, const QString &b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

QString Truncated(const QString &value)
{
    if (value.size() <= TProfile::MaxValueLength)
        return value;
    qsizetype n = TProfile::MaxValueLength;
    if (value.at(n - 1).isHighSurrogate())
        --n;
    return value.left(n);
}

TIniLine MakeLine(const QString &text, const QByteArray &end)
{
    TIniLine line;
    line.Raw = text.toUtf8();
    line.End = end;
    return line;
}

// Index of the first header of the section, or -1; End receives the index after its last line.
qsizetype FindSection(const QList<TIniLine> &lines, const QString &section, qsizetype *end = nullptr)
{
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (lines[i].Kind != TIniLine::Header || !SameName(lines[i].Name, section))
            continue;
        if (end) {
            qsizetype j = i + 1;
            while (j < lines.size() && lines[j].Kind != TIniLine::Header)
                ++j;
            *end = j;
        }
        return i;
    }
    return -1;
}

bool BreaksLayout(const QString &text)
{
    return text.contains(QLatin1Char('\n')) || text.contains(QLatin1Char('\r')) || text.contains(QChar(0));
}

} // namespace

QList<TIniLine> TProfile::Lines() const
{
    // An unreadable file reads as a missing one: every key gives its default.
    QByteArray bytes;
    ReadWholeFile(fileName, bytes);
    return ParseIniLines(bytes);
}

QList<TIniLine> TProfile::LinesToChange() const
{
    // A file that is there but could not be read whole would lose its other lines.
    QByteArray bytes;
    if (ReadWholeFile(fileName, bytes) == TReadResult::Failed)
        Refuse();
    return ParseIniLines(bytes);
}

void TProfile::Refuse() const
{
    throw EZyrError(Format("Unable to write to %s", fileName));
}

void TProfile::Store(const QList<TIniLine> &Lines)
{
    if (SaveFile(fileName, JoinIniLines(Lines), {0600, false}) != 0)
        Refuse();
}

QString TProfile::ReadString(const QString &Section, const QString &Key, const QString &Default) const
{
    const QList<TIniLine> lines = Lines();
    qsizetype end = 0;
    const qsizetype start = FindSection(lines, Section, &end);
    if (start >= 0)
        for (qsizetype i = start + 1; i < end; ++i)
            if (lines[i].Kind == TIniLine::Key && SameName(lines[i].Name, Key))
                return Truncated(lines[i].Value);
    return Truncated(TrimBlanks(Default));
}

int TProfile::ReadInteger(const QString &Section, const QString &Key, int Default) const
{
    return ReadIntegerDef(ReadString(Section, Key), Default);
}

bool TProfile::ReadBool(const QString &Section, const QString &Key, bool Default) const
{
    return ReadInteger(Section, Key, Default ? 1 : 0) != 0;
}

QStringList TProfile::ReadKeys(const QString &Section) const
{
    const QList<TIniLine> lines = Lines();
    qsizetype end = 0;
    const qsizetype start = FindSection(lines, Section, &end);
    QStringList keys;
    if (start < 0)
        return keys;
    // Each name takes its bytes and a terminating zero, and the list one more zero.
    qsizetype used = 1;
    for (qsizetype i = start + 1; i < end; ++i) {
        if (lines[i].Kind != TIniLine::Key)
            continue;
        used += lines[i].Name.toUtf8().size() + 1;
        if (used > KeyNamesBufferSize)
            break;
        keys.append(lines[i].Name);
    }
    return keys;
}

bool TProfile::SectionExists(const QString &Section) const
{
    return FindSection(Lines(), Section) >= 0;
}

void TProfile::WriteString(const QString &Section, const QString &Key, const QString &Value)
{
    if (BreaksLayout(Section) || BreaksLayout(Key) || BreaksLayout(Value)
        || Section.contains(QLatin1Char(']')) || Key.contains(QLatin1Char('=')) || TrimBlanks(Key).isEmpty()
        || TrimBlanks(Key).startsWith(QLatin1Char('[')))
        Refuse();
    QList<TIniLine> lines = LinesToChange();
    const QByteArray eol = IniLineEnd(lines);
    const QString keyLine = TrimBlanks(Key) + QLatin1Char('=') + Value;
    qsizetype end = 0;
    const qsizetype start = FindSection(lines, Section, &end);
    if (start < 0) {
        CloseLastIniLine(lines, eol);
        lines.append(MakeLine(QLatin1Char('[') + Section + QLatin1Char(']'), eol));
        lines.append(MakeLine(keyLine, eol));
        Store(lines);
        return;
    }
    qsizetype insertAt = start + 1;
    for (qsizetype i = start + 1; i < end; ++i) {
        if (lines[i].Kind == TIniLine::Key && SameName(lines[i].Name, TrimBlanks(Key))) {
            lines[i].Raw = keyLine.toUtf8();
            if (lines[i].End.isEmpty() && i + 1 < lines.size())
                lines[i].End = eol;
            Store(lines);
            return;
        }
        if (!TrimBlanks(DecodeExternalText(lines[i].Raw)).isEmpty())
            insertAt = i + 1;
    }
    // After the section's last non-blank line, so blank lines before the next section stay there.
    if (insertAt == lines.size())
        CloseLastIniLine(lines, eol);
    lines.insert(insertAt, MakeLine(keyLine, eol));
    Store(lines);
}

void TProfile::WriteInteger(const QString &Section, const QString &Key, int Value)
{
    WriteString(Section, Key, QString::number(Value));
}

void TProfile::EraseSection(const QString &Section)
{
    ReplaceSection(Section, {});
}

void TProfile::ReplaceSection(const QString &Section, const QList<QPair<QString, QString>> &Keys)
{
    for (const auto &[key, value] : Keys)
        if (BreaksLayout(key) || BreaksLayout(value) || key.contains(QLatin1Char('='))
            || TrimBlanks(key).isEmpty() || TrimBlanks(key).startsWith(QLatin1Char('[')))
            Refuse();
    if (BreaksLayout(Section) || Section.contains(QLatin1Char(']')))
        Refuse();
    QList<TIniLine> lines = LinesToChange();
    const QByteArray eol = IniLineEnd(lines);
    bool removed = false;
    qsizetype end = 0;
    for (qsizetype start; (start = FindSection(lines, Section, &end)) >= 0;) {
        RemoveIniLines(lines, start, end - start);
        removed = true;
    }
    if (!removed && Keys.isEmpty())
        return;
    if (!Keys.isEmpty()) {
        CloseLastIniLine(lines, eol);
        lines.append(MakeLine(QLatin1Char('[') + Section + QLatin1Char(']'), eol));
        for (const auto &[key, value] : Keys)
            lines.append(MakeLine(TrimBlanks(key) + QLatin1Char('=') + value, eol));
    }
    Store(lines);
}
