#include "records/SystemListFile.h"

#include "platform/Charset.h"
#include "platform/Errors.h"
#include "platform/Format.h"
#include "platform/IniLines.h"
#include "platform/SaveFile.h"
#include <algorithm>
#include <QFile>
#include <QFileInfo>
#include <QStringEncoder>
#include <QtEndian>

namespace {

constexpr qint32 kHeaderSize = 24;

class EStreamRead
{
};

// Every read is checked against the bytes that are left, so a hostile length never allocates more than
// the file holds and a count far beyond the file ends at its end.
class TReader
{
public:
    explicit TReader(const QByteArray &Bytes)
        : data(Bytes.constData())
        , size(Bytes.size())
    {
    }

    qint32 Int32()
    {
        Need(4);
        const qint32 v = qFromLittleEndian<qint32>(data + pos);
        pos += 4;
        return v;
    }
    quint8 Byte()
    {
        Need(1);
        return quint8(data[pos++]);
    }
    const char *Take(qint64 n)
    {
        Need(n);
        const char *p = data + pos;
        pos += n;
        return p;
    }

private:
    void Need(qint64 n)
    {
        if (n < 0 || n > size - pos)
            throw EStreamRead();
    }

    const char *data;
    qint64 size;
    qint64 pos = 0;
};

struct TBlockHeader
{
    qint32 ImageIndex, SelectedIndex, StateIndex, NodeData, ChildCount, CellCount;
};

TBlockHeader ReadBlockHeader(TReader &in)
{
    const qint32 h = in.Int32();
    // A shorter header leaves fields without data: the file is damaged.
    if (h < kHeaderSize)
        throw EStreamRead();
    TBlockHeader b;
    b.ImageIndex = in.Int32();
    b.SelectedIndex = in.Int32();
    b.StateIndex = in.Int32();
    b.NodeData = in.Int32();
    b.ChildCount = in.Int32();
    b.CellCount = in.Int32();
    in.Take(qint64(h) - kHeaderSize);
    return b;
}

// The cell's bytes inside the file's bytes, decoded from there without a copy of their own.
QByteArrayView ReadCell(TReader &in, bool longLengths)
{
    const qint64 length = longLengths ? qint64(in.Int32()) : qint64(in.Byte());
    const char *p = in.Take(length);
    return QByteArrayView(p, length);
}

// Child blocks are consumed without recursion, so deep nesting in a hostile file cannot exhaust the stack.
void SkipChildren(TReader &in, bool longLengths, qint64 pending)
{
    while (pending > 0) {
        const TBlockHeader b = ReadBlockHeader(in);
        for (qint32 i = 0; i < b.CellCount; ++i)
            (void)in.Take(longLengths ? qint64(in.Int32()) : qint64(in.Byte()));
        pending += qint64(qMax(b.ChildCount, 0)) - 1;
    }
}

void AppendInt32(QByteArray &out, qint32 v)
{
    char b[4];
    qToLittleEndian<qint32>(v, b);
    out.append(b, 4);
}

void WriteInt32At(QByteArray &out, qsizetype at, qint32 v)
{
    qToLittleEndian<qint32>(v, out.data() + at);
}

void WriteWhole(const QString &FileName, const QByteArray &Bytes, const TSaveFileOptions &Options = {})
{
    if (SaveFile(FileName, Bytes, Options) != 0)
        throw EZyrError(Format("Cannot create file %s", FileName));
}

} // namespace

void LoadSystemListFromBytes(TSystemList &List, const QByteArray &Bytes)
{
    std::vector<TSystemRecord> records;
    try {
        TReader in(Bytes);
        qint32 count = in.Int32();
        const bool longLengths = count < 0;
        if (longLengths)
            count = in.Int32();
        for (qint32 n = 0; n < count; ++n) {
            const TBlockHeader b = ReadBlockHeader(in);
            TSystemRecord r;
            r.Cells.reserve(qBound(0, b.CellCount, int(TSystemRecord::ColumnCount)));
            r.ImageIndex = b.ImageIndex;
            r.SelectedIndex = b.SelectedIndex;
            r.StateIndex = b.StateIndex;
            r.NodeData = b.NodeData;
            for (qint32 i = 0; i < b.CellCount; ++i) {
                const QByteArrayView cell = ReadCell(in, longLengths);
                // Cells beyond the nine columns are read past; nothing shows or uses them.
                if (i < TSystemRecord::ColumnCount)
                    r.Cells.append(DecodeExternalText(cell.data(), cell.size()));
            }
            SkipChildren(in, longLengths, qMax(b.ChildCount, 0));
            records.push_back(std::move(r));
        }
    } catch (const EStreamRead &) {
        List.ReplaceAll(std::move(records));
        throw EZyrError(QStringLiteral("Stream read error"));
    }
    List.ReplaceAll(std::move(records));
}

void LoadSystemList(TSystemList &List, const QString &FileName)
{
    QFile file(FileName);
    // A pipe or a device would block or never end; only a regular file is a list.
    if (!QFileInfo(FileName).isFile() || !file.open(QIODevice::ReadOnly))
        throw EZyrError(Format("Cannot open file %s", FileName));
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        List.Clear();
        throw EZyrError(QStringLiteral("Stream read error"));
    }
    LoadSystemListFromBytes(List, bytes);
}

QByteArray SystemListBytes(const TSystemList &List, bool ResetStates)
{
    QByteArray out;
    AppendInt32(out, -1);
    AppendInt32(out, List.Count());
    const QString zero = QStringLiteral("0");
    const QString none;
    QStringEncoder utf8(QStringEncoder::Utf8, QStringConverter::Flag::Stateless);
    for (int i = 0; i < List.Count(); ++i) {
        const TSystemRecord &r = List.Record(i);
        // Resetting the state writes that cell also into a short row, extended with empty cells.
        const qsizetype cells
            = ResetStates ? qMax(r.Cells.size(), qsizetype(TSystemRecord::State + 1)) : r.Cells.size();
        AppendInt32(out, kHeaderSize);
        AppendInt32(out, r.ImageIndex);
        AppendInt32(out, r.SelectedIndex);
        AppendInt32(out, r.StateIndex);
        AppendInt32(out, r.NodeData);
        AppendInt32(out, 0);
        AppendInt32(out, qint32(cells));
        for (qsizetype c = 0; c < cells; ++c) {
            const QString &cell = ResetStates && c == TSystemRecord::State ? zero
                : c < r.Cells.size()                                       ? r.Cells.at(c)
                                                                           : none;
            const qsizetype at = out.size();
            // A lone surrogate is written as toUtf8 writes it, as it always was.
            if (std::any_of(cell.cbegin(), cell.cend(), [](QChar ch) { return ch.isSurrogate(); })) {
                const QByteArray bytes = cell.toUtf8();
                AppendInt32(out, qint32(bytes.size()));
                out.append(bytes);
                continue;
            }
            // Encoded straight into the output: a buffer per cell cost more than the rest of the save.
            out.resize(at + 4 + utf8.requiredSpace(cell.size()));
            char *end = utf8.appendToBuffer(out.data() + at + 4, cell);
            const qint32 length = qint32(end - (out.data() + at + 4));
            out.resize(at + 4 + length);
            WriteInt32At(out, at, length);
        }
    }
    return out;
}

void SaveSystemList(const TSystemList &List, const QString &FileName)
{
    WriteWhole(FileName, SystemListBytes(List));
}

void SaveSystemListOnClose(const TSystemList &List, const QString &FileName)
{
    WriteWhole(FileName, SystemListBytes(List, true));
}

int SortedLayoutValue(const TSystemList &List, int Column)
{
    if (Column != List.SortColumn())
        return 0;
    return List.SortAscending() ? 2 : 1;
}

void SaveListLayout(const TListLayout &Layout, const QString &FileName)
{
    static const QString prefix = QStringLiteral("\\ServiceList");
    QByteArray bytes;
    // Never replace a file whose other sections could not be read.
    if (ReadWholeFile(FileName, bytes) == TReadResult::Failed)
        throw EZyrError(Format("Cannot open file %s", FileName));
    QList<TIniLine> lines = ParseIniLines(bytes);
    const QByteArray eol = IniLineEnd(lines);

    // Out go the old layout sections, each from its header to the next; every other byte stays, and the
    // new sections take the place of the first old one.
    qsizetype insertAt = -1;
    for (qsizetype i = 0; i < lines.size();) {
        if (lines[i].Kind != TIniLine::Header || !lines[i].Name.startsWith(prefix)) {
            ++i;
            continue;
        }
        qsizetype end = i + 1;
        while (end < lines.size() && lines[end].Kind != TIniLine::Header)
            ++end;
        RemoveIniLines(lines, i, end - i);
        if (insertAt < 0)
            insertAt = i;
    }
    if (insertAt < 0) {
        CloseLastIniLine(lines, eol);
        insertAt = lines.size();
    }

    QList<TIniLine> layout;
    auto add = [&](const QString &name, const QList<std::pair<const char *, int>> &keys) {
        layout.append({'[' + name.toUtf8() + ']', eol});
        for (const auto &[key, value] : keys)
            layout.append({QByteArray(key) + '=' + QByteArray::number(value), eol});
        layout.append({QByteArray(), eol});
    };
    add(prefix,
        {{"ShowGrid", Layout.ShowGrid ? 1 : 0}, {"ShowPreviewGrid", Layout.ShowPreviewGrid ? 1 : 0},
            {"BandRowCount", Layout.BandRowCount}, {"DefaultRowHeight", Layout.DefaultRowHeight},
            {"HeaderPanelRowCount", Layout.HeaderPanelRowCount}});
    for (size_t i = 0; i < Layout.Bands.size(); ++i) {
        const TListBandLayout &b = Layout.Bands[i];
        add(prefix + QStringLiteral("\\Band\\Band") + QString::number(i),
            {{"ID", b.ID}, {"Visible", b.Visible ? 1 : 0}, {"Index", b.Index}, {"Width", b.Width}});
    }
    for (size_t i = 0; i < Layout.Columns.size() && i < size_t(TSystemRecord::ColumnCount); ++i) {
        const TListColumnLayout &c = Layout.Columns[i];
        add(prefix + QStringLiteral("\\Columns\\") + ColumnName(int(i)),
            {{"BandIndex", c.BandIndex}, {"RowIndex", c.RowIndex}, {"ColIndex", c.ColIndex},
                {"Visible", c.Visible ? 1 : 0}, {"Index", c.Index}, {"Width", c.Width}, {"Sorted", c.Sorted},
                {"SortedOrder", c.SortedOrder}, {"StoredRowIndex", c.StoredRowIndex}});
    }
    InsertIniLines(lines, insertAt, std::move(layout));
    // It may be the settings file, which holds the mail password.
    WriteWhole(FileName, JoinIniLines(lines), {0600, false});
}

TSavedListLayout ReadListLayoutBytes(const QByteArray &Bytes)
{
    static const QString prefix = QStringLiteral("\\ServiceList\\Columns\\");
    TSavedListLayout saved;
    std::array<bool, TSystemRecord::ColumnCount> seen{}, width{}, sorted{};
    std::array<int, TSystemRecord::ColumnCount> order{};
    int column = -1; // the section being read, when it is the first of its column
    for (const TIniLine &line : ParseIniLines(Bytes)) {
        if (line.Kind == TIniLine::Header) {
            column = -1;
            if (!line.Name.startsWith(prefix))
                continue;
            const QString name = line.Name.mid(prefix.size());
            for (int c = 0; c < TSystemRecord::ColumnCount; ++c)
                if (!seen[size_t(c)] && name == ColumnName(c)) {
                    seen[size_t(c)] = true;
                    column = c;
                }
            continue;
        }
        if (line.Kind != TIniLine::Key || column < 0)
            continue;
        const size_t c = size_t(column);
        bool ok = false;
        const int value = line.Value.toInt(&ok, 10);
        if (line.Name.compare(QLatin1String("Width"), Qt::CaseInsensitive) == 0 && !width[c]) {
            width[c] = true;
            if (ok && value >= 1 && value <= 10000)
                saved.Widths[c] = value;
        } else if (line.Name.compare(QLatin1String("Sorted"), Qt::CaseInsensitive) == 0 && !sorted[c]) {
            sorted[c] = true;
            order[c] = ok ? value : 0;
        }
    }
    for (int c = TSystemRecord::Name; c <= TSystemRecord::State; ++c)
        if (order[size_t(c)] == 1 || order[size_t(c)] == 2) {
            saved.SortColumn = c;
            saved.SortAscending = order[size_t(c)] == 2;
            break;
        }
    return saved;
}

TSavedListLayout ReadListLayout(const QString &FileName)
{
    QByteArray bytes;
    if (ReadWholeFile(FileName, bytes) != TReadResult::Read)
        return {};
    return ReadListLayoutBytes(bytes);
}
