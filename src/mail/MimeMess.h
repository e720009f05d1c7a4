#pragma once
#include "mail/MimeChar.h"
#include <QDateTime>
#include <QString>
#include <QStringList>

enum class TMimeEncoding
{
    ME_7BIT,
    ME_8BIT,
    ME_QUOTED_PRINTABLE,
    ME_BASE64,
    ME_UU,
    ME_XX
};

// Header fields of a notification mail. Texts are Unicode; CharsetCode is the set they are declared in.
class TMessHeader
{
public:
    QString From;
    QStringList ToList;
    QString Subject;
    QDateTime Date; // invalid: the current time at composition
    QString XMailer;
    TMimeChar CharsetCode = kSystemCharset;

    QStringList WriteHeaders() const;
};

// The message's single body part.
class TMimePart
{
public:
    QString Primary;
    QString Secondary;
    QString Description;
    QString Disposition;
    TMimeChar CharsetCode = TMimeChar::UTF_8;
    TMimeChar TargetCharset = kSystemCharset;
    TMimeEncoding EncodingCode = TMimeEncoding::ME_7BIT;
    bool ConvertCharset = true;
    int MaxLineLength = 78;
    QString DecodedLines;
    QStringList PartBody;
    QStringList Headers;
    QStringList Lines;

    void Clear();
    void EncodeBody();
    void EncodeBodyHeaders();
    void AssembleLines();
};

class TMimeMess
{
public:
    TMessHeader Header;
    TMimePart MessagePart;
    QStringList Lines;

    void SetHtmlBody(const QStringList &body);
    void ComposeMessage();
};

QString EncodeHeaderText(const QString &text, TMimeChar heldIn);
QString EncodeAddress(const QString &address, TMimeChar heldIn);
TMimeChar ChooseHeaderCharset(const QString &text, TMimeChar heldIn);
QString QpEncode(const QByteArray &bytes);
QString QpEncodeSafe(const QByteArray &bytes);
// Splits one escaped body line into lines of at most maxLength with "=" soft breaks.
QStringList SplitQpLine(const QString &escaped, int maxLength = 78);
// Folds one header line into continuation lines.
QStringList FoldHeaderLine(const QString &line, int maxLength = 78);
QString MailDate(const QDateTime &when);
QString TimeZoneText();
QString TimeZoneText(int offsetSeconds);
QString AddressPart(const QString &address);
QString DisplayNamePart(const QString &address);
