#pragma once
#include "platform/IniLines.h"
#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

// INI files read and written one key at a time: sections and keys found ignoring letter case, values
// trimmed and read up to 2047 characters, every write goes to the file at once and keeps all other
// lines as they were. Values that are not UTF-8 are taken as Windows-1254; what is written is UTF-8.
// Lines without "=" are no keys; ";" has no special meaning. The first of two equal sections or keys
// is the one read and written. A new file is made readable by its owner alone: it holds the mail
// password.
class TProfile
{
public:
    static constexpr int MaxValueLength = 2047;
    static constexpr int KeyNamesBufferSize = 16384;

    explicit TProfile(const QString &FileName)
        : fileName(FileName)
    {
    }
    const QString &FileName() const { return fileName; }

    QString ReadString(const QString &Section, const QString &Key, const QString &Default = QString()) const;
    // The shared integer rule (sign and decimal digits, "$", "0x" hexadecimal); Default otherwise.
    int ReadInteger(const QString &Section, const QString &Key, int Default) const;
    // Any non-zero integer is true.
    bool ReadBool(const QString &Section, const QString &Key, bool Default) const;
    // Key names of the section in file order, as many as fit the 16384-byte list the platform gives.
    QStringList ReadKeys(const QString &Section) const;
    bool SectionExists(const QString &Section) const;

    // Creates file, section and key as needed; the file is replaced whole or not at all. Raises EZyrError
    // "Unable to write to %s" when the file cannot be read whole or written, or when a name or value
    // would break the line layout (line breaks, "=" in a key, "]" in a section name).
    void WriteString(const QString &Section, const QString &Key, const QString &Value);
    void WriteInteger(const QString &Section, const QString &Key, int Value);
    // Removes every section of that name with all its lines; a missing section or file is no error.
    void EraseSection(const QString &Section);
    // EraseSection, then the section anew at the end of the file with these keys, in one write; an
    // empty list only erases.
    void ReplaceSection(const QString &Section, const QList<QPair<QString, QString>> &Keys);

private:
    QList<TIniLine> Lines() const;
    QList<TIniLine> LinesToChange() const;
    void Store(const QList<TIniLine> &Lines);
    [[noreturn]] void Refuse() const;

    QString fileName;
};
