// The layout reader and writer over an arbitrary settings file: neither crashes or hangs, the reader gives
// only values it can stand for, every byte outside the "\ServiceList" sections stays, the writer's own
// sections are there whole and read back as written, and a second save changes nothing.
#include "platform/Charset.h"
#include "platform/Errors.h"
#include "records/SystemListFile.h"
#include <cstdint>
#include <cstdlib>
#include <QDir>
#include <QFile>
#include <unistd.h>

namespace {

QString Path()
{
    static const QString path = [] {
        const QString base
            = QDir(QStringLiteral("/dev/shm")).exists() ? QStringLiteral("/dev/shm") : QDir::tempPath();
        return base + QStringLiteral("/fuzz_list_layout_%1.ini").arg(getpid());
    }();
    return path;
}

QByteArray Read(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        abort();
    return file.readAll();
}

QString Trimmed(const QString &text)
{
    qsizetype first = 0, last = text.size();
    while (first < last && text[first].unicode() <= 0x20)
        ++first;
    while (last > first && text[last - 1].unicode() <= 0x20)
        --last;
    return text.mid(first, last - first);
}

// The bytes with the layout sections cut out, found without the INI layer: a line (up to "\n") whose first
// character above the blank is "[" starts a section, named up to "]"; a byte-order mark before the first
// line stays in front. Layout sections are those whose name starts with "\ServiceList" exactly.
QByteArray WithoutLayout(const QByteArray &bytes)
{
    const bool mark = bytes.startsWith("\xEF\xBB\xBF");
    QByteArray out = mark ? QByteArray("\xEF\xBB\xBF") : QByteArray();
    bool layout = false;
    for (qsizetype pos = mark ? 3 : 0; pos < bytes.size();) {
        qsizetype next = bytes.indexOf('\n', pos);
        next = next < 0 ? bytes.size() : next + 1;
        const QByteArray line = bytes.mid(pos, next - pos);
        pos = next;
        QByteArray raw = line;
        if (raw.endsWith('\n')) {
            raw.chop(1);
            if (raw.endsWith('\r'))
                raw.chop(1);
        }
        const QString text = Trimmed(DecodeExternalText(raw));
        if (text.startsWith(QLatin1Char('['))) {
            const qsizetype end = text.indexOf(QLatin1Char(']'));
            layout = Trimmed(text.mid(1, end < 0 ? -1 : end - 1)).startsWith(QStringLiteral("\\ServiceList"));
        }
        if (!layout)
            out += line;
    }
    return out;
}

TListLayout Layout()
{
    TListLayout l;
    l.Bands.push_back({0, true, 0, 333});
    for (int c = 0; c < TSystemRecord::ColumnCount; ++c)
        l.Columns.push_back({0, 0, c, c != 0, c, 10 + c, c == 1 ? 1 : 0, 0, 0});
    return l;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const TSavedListLayout found = ReadListLayoutBytes(bytes);
    for (int width : found.Widths)
        if (width < 0 || width > 10000)
            abort();
    if (found.SortColumn != -1
        && (found.SortColumn < TSystemRecord::Name || found.SortColumn > TSystemRecord::State))
        abort();
    {
        QFile file(Path());
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
            abort();
    }
    try {
        SaveListLayout(Layout(), Path());
    } catch (const EZyrError &) {
        abort(); // a regular file that could be read must be written
    }
    const QByteArray once = Read(Path());

    // Outside the layout nothing changes; a last line without an end may gain one when the layout follows it.
    const QByteArray before = WithoutLayout(bytes), after = WithoutLayout(once);
    // The file's line end: its first; with none, a last CR makes the end it gets a CR LF.
    const qsizetype firstEnd = bytes.indexOf('\n');
    const bool crlf = firstEnd >= 0 ? firstEnd > 0 && bytes[firstEnd - 1] == '\r' : bytes.endsWith('\r');
    const QByteArray eol = crlf ? "\r\n" : "\n";
    if (after != before && after != before + eol)
        abort();
    // The layout is written whole, with the file's line end.
    QByteArray expected = "[\\ServiceList]" + eol + "ShowGrid=0" + eol + "ShowPreviewGrid=0" + eol
        + "BandRowCount=1" + eol + "DefaultRowHeight=20" + eol + "HeaderPanelRowCount=1" + eol + eol
        + "[\\ServiceList\\Band\\Band0]" + eol + "ID=0" + eol + "Visible=1" + eol + "Index=0" + eol
        + "Width=333" + eol + eol;
    if (!once.contains(expected))
        abort();

    // What was written is what a later start reads.
    const TSavedListLayout back = ReadListLayout(Path());
    for (int c = 0; c < TSystemRecord::ColumnCount; ++c)
        if (back.Widths[size_t(c)] != 10 + c)
            abort();
    if (back.SortColumn != TSystemRecord::Name || back.SortAscending)
        abort();

    SaveListLayout(Layout(), Path());
    if (Read(Path()) != once)
        abort();
    QFile::remove(Path());
    return 0;
}
