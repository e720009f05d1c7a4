#include "store/Profile.h"
#include "platform/Charset.h"
#include "platform/Errors.h"
#include "platform/Format.h"
#include "report/ItemParser.h"
#include <QFile>
#include <QSaveFile>

QString TrimBlanks(const QString &Text)
{
    qsizetype first = 0, last = Text.size();
    while (first < last && Text.at(first).unicode() <= 0x20)
        ++first;
    while (last > first && Text.at(last - 1).unicode() <= 0x20)
        --last;
    return Text.mid(first, last - first);
}

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

// The line end new lines get: that of the file's first line, else "\n".
QByteArray LineEndOf(const QList<TProfile::TLine> &lines)
{
    for (const TProfile::TLine &line : lines)
        if (!line.End.isEmpty())
            return line.End;
    return QByteArrayLiteral("\n");
}

QByteArray Join(const QList<TProfile::TLine> &lines)
{
    QByteArray out;
    for (const TProfile::TLine &line : lines)
        out += line.Raw + line.End;
    return out;
}

TProfile::TLine MakeLine(const QString &text, const QByteArray &end)
{
    TProfile::TLine line;
    line.Raw = text.toUtf8();
    line.End = end;
    return line;
}

// A last line without a line end gets one before anything is appended after it.
void CloseLastLine(QList<TProfile::TLine> &lines, const QByteArray &end)
{
    if (!lines.isEmpty() && lines.last().End.isEmpty())
        lines.last().End = end;
}

// Index of the first header of the section, or -1; End receives the index after its last line.
qsizetype FindSection(const QList<TProfile::TLine> &lines, const QString &section, qsizetype *end = nullptr)
{
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (lines[i].Kind != TProfile::TLine::Header || !SameName(lines[i].Name, section))
            continue;
        if (end) {
            qsizetype j = i + 1;
            while (j < lines.size() && lines[j].Kind != TProfile::TLine::Header)
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

QList<TProfile::TLine> TProfile::Parse(const QByteArray &Bytes)
{
    QList<TLine> lines;
    qsizetype pos = 0;
    while (pos < Bytes.size()) {
        TLine line;
        qsizetype nl = Bytes.indexOf('\n', pos);
        if (nl < 0) {
            line.Raw = Bytes.mid(pos);
            pos = Bytes.size();
        } else {
            line.Raw = Bytes.mid(pos, nl - pos);
            line.End = QByteArrayLiteral("\n");
            pos = nl + 1;
            if (line.Raw.endsWith('\r')) {
                line.Raw.chop(1);
                line.End = QByteArrayLiteral("\r\n");
            }
        }
        QByteArray raw = line.Raw;
        if (lines.isEmpty() && raw.startsWith("\xEF\xBB\xBF"))
            raw.remove(0, 3);
        const QString text = TrimBlanks(DecodeExternalText(raw));
        if (text.startsWith(QLatin1Char('['))) {
            line.Kind = TLine::Header;
            qsizetype close = text.indexOf(QLatin1Char(']'));
            line.Name = TrimBlanks(text.mid(1, close < 0 ? -1 : close - 1));
        } else if (qsizetype eq = text.indexOf(QLatin1Char('=')); eq >= 0) {
            line.Name = TrimBlanks(text.left(eq));
            line.Value = TrimBlanks(text.mid(eq + 1));
            if (!line.Name.isEmpty())
                line.Kind = TLine::Key;
        }
        lines.append(std::move(line));
    }
    return lines;
}

QByteArray TProfile::Load() const
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll();
}

void TProfile::Refuse() const
{
    throw EZyrError(Format("Unable to write to %s", fileName));
}

void TProfile::Store(const QByteArray &Bytes)
{
    // Temporary file and rename, so a crash never leaves half a file; a folder that takes no new file
    // but holds a writable settings file is written in place, as the Windows program could.
    QSaveFile file(fileName);
    file.setDirectWriteFallback(true);
    if (!file.open(QIODevice::WriteOnly) || file.write(Bytes) != Bytes.size() || !file.commit())
        Refuse();
}

QString TProfile::ReadString(const QString &Section, const QString &Key, const QString &Default) const
{
    const QList<TLine> lines = Parse(Load());
    qsizetype end = 0;
    const qsizetype start = FindSection(lines, Section, &end);
    if (start >= 0)
        for (qsizetype i = start + 1; i < end; ++i)
            if (lines[i].Kind == TLine::Key && SameName(lines[i].Name, Key))
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
    const QList<TLine> lines = Parse(Load());
    qsizetype end = 0;
    const qsizetype start = FindSection(lines, Section, &end);
    QStringList keys;
    if (start < 0)
        return keys;
    // Each name takes its bytes and a terminating zero, and the list one more zero.
    qsizetype used = 1;
    for (qsizetype i = start + 1; i < end; ++i) {
        if (lines[i].Kind != TLine::Key)
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
    return FindSection(Parse(Load()), Section) >= 0;
}

void TProfile::WriteString(const QString &Section, const QString &Key, const QString &Value)
{
    if (BreaksLayout(Section) || BreaksLayout(Key) || BreaksLayout(Value) || Section.contains(QLatin1Char(']'))
        || Key.contains(QLatin1Char('=')) || TrimBlanks(Key).isEmpty() || TrimBlanks(Key).startsWith(QLatin1Char('[')))
        Refuse();
    QList<TLine> lines = Parse(Load());
    const QByteArray eol = LineEndOf(lines);
    const QString keyLine = TrimBlanks(Key) + QLatin1Char('=') + Value;
    qsizetype end = 0;
    const qsizetype start = FindSection(lines, Section, &end);
    if (start < 0) {
        CloseLastLine(lines, eol);
        lines.append(MakeLine(QLatin1Char('[') + Section + QLatin1Char(']'), eol));
        lines.append(MakeLine(keyLine, eol));
        Store(Join(lines));
        return;
    }
    qsizetype insertAt = start + 1;
    for (qsizetype i = start + 1; i < end; ++i) {
        if (lines[i].Kind == TLine::Key && SameName(lines[i].Name, TrimBlanks(Key))) {
            lines[i].Raw = keyLine.toUtf8();
            if (lines[i].End.isEmpty() && i + 1 < lines.size())
                lines[i].End = eol;
            Store(Join(lines));
            return;
        }
        if (!TrimBlanks(DecodeExternalText(lines[i].Raw)).isEmpty())
            insertAt = i + 1;
    }
    // After the section's last non-blank line, so blank lines before the next section stay there.
    if (insertAt == lines.size())
        CloseLastLine(lines, eol);
    lines.insert(insertAt, MakeLine(keyLine, eol));
    Store(Join(lines));
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
        if (BreaksLayout(key) || BreaksLayout(value) || key.contains(QLatin1Char('=')) || TrimBlanks(key).isEmpty()
            || TrimBlanks(key).startsWith(QLatin1Char('[')))
            Refuse();
    if (BreaksLayout(Section) || Section.contains(QLatin1Char(']')))
        Refuse();
    QList<TLine> lines = Parse(Load());
    bool removed = false;
    qsizetype end = 0;
    for (qsizetype start; (start = FindSection(lines, Section, &end)) >= 0;) {
        lines.remove(start, end - start);
        removed = true;
    }
    if (!removed && Keys.isEmpty())
        return;
    const QByteArray eol = LineEndOf(lines);
    if (!Keys.isEmpty()) {
        CloseLastLine(lines, eol);
        lines.append(MakeLine(QLatin1Char('[') + Section + QLatin1Char(']'), eol));
        for (const auto &[key, value] : Keys)
            lines.append(MakeLine(TrimBlanks(key) + QLatin1Char('=') + value, eol));
    }
    Store(Join(lines));
}
