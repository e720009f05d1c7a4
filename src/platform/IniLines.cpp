#include "platform/IniLines.h"
#include "platform/Charset.h"

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
const QByteArray kByteOrderMark = QByteArrayLiteral("\xEF\xBB\xBF");
}

QList<TIniLine> ParseIniLines(const QByteArray &Bytes)
{
    QList<TIniLine> lines;
    qsizetype pos = 0;
    while (pos < Bytes.size()) {
        TIniLine line;
        const qsizetype nl = Bytes.indexOf('\n', pos);
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
        QByteArrayView raw = line.Raw;
        if (lines.isEmpty() && raw.startsWith(kByteOrderMark))
            raw = raw.sliced(3);
        const QString text = TrimBlanks(DecodeExternalText(raw.data(), raw.size()));
        if (text.startsWith(QLatin1Char('['))) {
            line.Kind = TIniLine::Header;
            const qsizetype close = text.indexOf(QLatin1Char(']'));
            line.Name = TrimBlanks(text.mid(1, close < 0 ? -1 : close - 1));
        } else if (const qsizetype eq = text.indexOf(QLatin1Char('=')); eq >= 0) {
            line.Name = TrimBlanks(text.left(eq));
            line.Value = TrimBlanks(text.mid(eq + 1));
            if (!line.Name.isEmpty())
                line.Kind = TIniLine::Key;
        }
        lines.append(std::move(line));
    }
    return lines;
}

QByteArray JoinIniLines(const QList<TIniLine> &Lines)
{
    QByteArray out;
    for (const TIniLine &line : Lines)
        out += line.Raw + line.End;
    return out;
}

QByteArray IniLineEnd(const QList<TIniLine> &Lines)
{
    for (const TIniLine &line : Lines)
        if (!line.End.isEmpty())
            return line.End;
    // A one-line file cut after its CR: the end it gets makes a CR LF, and so does every line after it.
    if (!Lines.isEmpty() && Lines.last().Raw.endsWith('\r'))
        return QByteArrayLiteral("\r\n");
    return QByteArrayLiteral("\n");
}

void CloseLastIniLine(QList<TIniLine> &Lines, const QByteArray &End)
{
    if (Lines.isEmpty() || !Lines.last().End.isEmpty())
        return;
    if (Lines.size() == 1 && Lines.last().Raw == kByteOrderMark)
        return;
    Lines.last().End = End;
}

void RemoveIniLines(QList<TIniLine> &Lines, qsizetype From, qsizetype Count)
{
    const bool mark = From == 0 && Count > 0 && Lines.first().Raw.startsWith(kByteOrderMark);
    Lines.remove(From, Count);
    if (!mark)
        return;
    if (Lines.isEmpty()) {
        Lines.append(TIniLine{kByteOrderMark, {}});
        return;
    }
    // The line that is now first was parsed as a later one; its kind and name stay the same with a mark.
    Lines.first().Raw.prepend(kByteOrderMark);
}

void InsertIniLines(QList<TIniLine> &Lines, qsizetype At, QList<TIniLine> New)
{
    if (New.isEmpty())
        return;
    if (At == 0 && !Lines.isEmpty() && Lines.first().Raw.startsWith(kByteOrderMark)) {
        Lines.first().Raw.remove(0, kByteOrderMark.size());
        New.first().Raw.prepend(kByteOrderMark);
        if (Lines.first().Raw.isEmpty() && Lines.first().End.isEmpty())
            Lines.removeFirst();
    }
    for (qsizetype i = 0; i < New.size(); ++i)
        Lines.insert(At + i, std::move(New[i]));
}
