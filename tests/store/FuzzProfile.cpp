// The INI reader and writer over arbitrary file contents: parsing keeps every byte, reads never fail,
// and a written key reads back.
#include "platform/Errors.h"
#include "store/Profile.h"
#include <QDir>
#include <QFile>
#include <cstdint>
#include <cstdlib>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    QByteArray joined;
    for (const TIniLine &line : ParseIniLines(bytes))
        joined += line.Raw + line.End;
    if (joined != bytes)
        abort();

    // Every write is synced to disk; memory-backed files keep the run fast.
    static const QString folder = QDir(QStringLiteral("/dev/shm")).exists() ? QStringLiteral("/dev/shm") : QDir::tempPath();
    static const QString path = folder + QStringLiteral("/fuzz_profile_%1.ini").arg(getpid());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        abort();
    file.close();

    TProfile ini(path);
    for (const QString &section : {QStringLiteral("General"), QStringLiteral("Emails"), QStringLiteral("S")}) {
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
    QFile::remove(path);
    return 0;
}
