#pragma once
#include <QByteArray>
#include <QList>
#include <QString>

// The lines of an INI file exactly as they stand, for every reader and writer of one: joined again they
// give back every byte (a UTF-8 byte-order mark, CR LF or LF line ends, a last line without an end), so a
// writer changes only the lines it means to. A byte-order mark is no part of the first line's text.
struct TIniLine
{
    QByteArray Raw; // without the line end; the first line keeps a byte-order mark here
    QByteArray End; // "\n", "\r\n" or empty for a last line without one
    enum
    {
        Other,
        Header,
        Key
    } Kind
        = Other;
    QString Name; // section or key name, trimmed
    QString Value; // of a key line, trimmed
};

QList<TIniLine> ParseIniLines(const QByteArray &Bytes);
QByteArray JoinIniLines(const QList<TIniLine> &Lines);
// The line end new lines get: that of the file's first line that has one, else "\n" ("\r\n" after a
// single line that ends in a CR).
QByteArray IniLineEnd(const QList<TIniLine> &Lines);
// Gives a last line without a line end one, before anything is appended after it (a file holding only
// a byte-order mark needs none).
void CloseLastIniLine(QList<TIniLine> &Lines, const QByteArray &End);
// Remove and insert lines; a byte-order mark stays in front of whatever line is first.
void RemoveIniLines(QList<TIniLine> &Lines, qsizetype From, qsizetype Count);
void InsertIniLines(QList<TIniLine> &Lines, qsizetype At, QList<TIniLine> New);

// Leading and trailing characters up to the blank (controls included) removed.
QString TrimBlanks(const QString &Text);
