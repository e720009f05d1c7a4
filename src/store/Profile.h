#pragma once
#include <QString>
#include <QStringList>

// INI files read and written one key at a time: sections and keys found ignoring letter case, values
// trimmed and read up to 2047 characters, every write goes to the file at once and keeps all other
// lines as they were. Values that are not UTF-8 are taken as Windows-1254.
class TProfile
{
public:
    static constexpr int MaxValueLength = 2047;
    static constexpr int KeyNamesBufferSize = 16384;

    explicit TProfile(const QString &FileName) : fileName(FileName) {}
    const QString &FileName() const { return fileName; }

    QString ReadString(const QString &Section, const QString &Key, const QString &Default = QString()) const;
    // The integer rule of ReadInteger (decimal with sign, "$", "0x" hexadecimal); Default otherwise.
    int ReadInteger(const QString &Section, const QString &Key, int Default) const;
    bool ReadBool(const QString &Section, const QString &Key, bool Default) const;
    // Key names of the section in file order (as many as fit the platform's 16384-byte buffer).
    QStringList ReadKeys(const QString &Section) const;
    bool SectionExists(const QString &Section) const;

    // Creates file, section and key as needed. Raises EZyrError "Unable to write to %s" when refused.
    void WriteString(const QString &Section, const QString &Key, const QString &Value);
    void WriteInteger(const QString &Section, const QString &Key, int Value);
    // Removes every line of the section, its header included; a missing section or file is no error.
    void EraseSection(const QString &Section);

private:
    QString fileName;
};
