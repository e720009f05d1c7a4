// The INI layer and the settings store over arbitrary file contents: parsing keeps every byte, reads never
// fail, a written key reads back, and loading then saving the settings never costs a byte of any section
// the settings do not own.
#include "platform/Charset.h"
#include "platform/Errors.h"
#include "store/Profile.h"
#include "store/Settings.h"
#include <cstdint>
#include <cstdlib>
#include <QDir>
#include <QFile>
#include <unistd.h>

namespace {

// Every write is synced; memory-backed files keep the run fast.
QString Folder()
{
    static const QString folder = [] {
        const QString base
            = QDir(QStringLiteral("/dev/shm")).exists() ? QStringLiteral("/dev/shm") : QDir::tempPath();
        const QString f = base + QStringLiteral("/fuzz_profile_%1").arg(getpid());
        QDir().mkpath(f);
        return f;
    }();
    return folder;
}

void Write(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        abort();
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

// Whether the file starts with a byte-order mark, then the sections the settings store does not own, each
// as its bytes, found without the INI layer: a line (up to "\n") whose first character above the blank
// is "[" starts a section, named up to "]". The lines before the first section count as someone else's.
QList<QByteArray> ForeignSections(const QByteArray &bytes)
{
    const bool mark = bytes.startsWith("\xEF\xBB\xBF");
    QList<QByteArray> sections = {mark ? "mark" : "no mark"};
    QByteArray current;
    bool foreign = true;
    auto close = [&] {
        if (foreign)
            sections.append(current);
        current.clear();
    };
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
            close();
            const qsizetype end = text.indexOf(QLatin1Char(']'));
            const QString name = Trimmed(text.mid(1, end < 0 ? -1 : end - 1));
            foreign = true;
            for (const char *own : {"General", "Smtp", "Emails"})
                foreign = foreign && name.compare(QLatin1String(own), Qt::CaseInsensitive) != 0;
        }
        current += line;
    }
    close();
    return sections;
}

// Equal, but for the file's last line, which gains a line end when a line is appended after it.
bool SameSections(const QList<QByteArray> &before, const QList<QByteArray> &after)
{
    if (before.size() != after.size())
        return false;
    for (qsizetype i = 0; i < before.size(); ++i) {
        const bool open = !before[i].isEmpty() && !before[i].endsWith('\n');
        if (after[i] != before[i]
            && !(open && (after[i] == before[i] + "\n" || after[i] == before[i] + "\r\n")))
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    QByteArray joined;
    for (const TIniLine &line : ParseIniLines(bytes))
        joined += line.Raw + line.End;
    if (joined != bytes)
        abort();

    const QString path = Folder() + QStringLiteral("/ZYRdenetleyici.ini");
    Write(path, bytes);
    TProfile ini(path);
    for (const QString &section :
        {QStringLiteral("General"), QStringLiteral("Emails"), QStringLiteral("S")}) {
        for (const QString &key : ini.ReadKeys(section))
            if (ini.ReadString(section, key).size() > TProfile::MaxValueLength)
                abort();
        ini.ReadInteger(section, QStringLiteral("Period"), 0);
    }
    const QString value = QStringLiteral("Çağrı %1").arg(size);
    ini.WriteString(QStringLiteral("S"), QStringLiteral("K"), value);
    if (ini.ReadString(QStringLiteral("s"), QStringLiteral("k")) != value)
        abort();
    ini.EraseSection(QStringLiteral("General"));
    if (ini.SectionExists(QStringLiteral("General")) || !ini.SectionExists(QStringLiteral("S")))
        abort();

    // The settings store: whatever it loads it saves without touching what is not its own. A value that
    // cannot be written back (a lone carriage return, a zero byte) stops the save with its error.
    Write(path, bytes);
    TLiveSettings settings(Folder());
    settings.LoadSettings();
    settings.RunAtStartup = false; // no autostart entry for every input
    try {
        settings.SaveSettings();
    } catch (const EZyrError &) {
    }
    if (!SameSections(ForeignSections(bytes), ForeignSections(Read(path))))
        abort();
    QFile::remove(path);
    return 0;
}
