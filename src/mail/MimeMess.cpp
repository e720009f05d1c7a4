#include "mail/MimeMess.h"
#include <cstdlib>
#include <QDate>
#include <QTime>

namespace {

const char kHex[] = "0123456789ABCDEF";

void AppendEscape(QString &out, unsigned char b)
{
    out += QLatin1Char('=');
    out += QLatin1Char(kHex[b >> 4]);
    out += QLatin1Char(kHex[b & 15]);
}

bool IsHeaderSpecial(char32_t c)
{
    switch (c) {
    case '(':
    case ')':
    case ',':
    case '/':
    case ':':
    case ';':
    case '<':
    case '=':
    case '>':
    case '?':
    case '@':
    case '[':
    case '\\':
    case ']':
    case '"':
        return true;
    default:
        return false;
    }
}

bool NeedsEncoding(const QString &text)
{
    for (const QChar ch : text) {
        const char16_t c = ch.unicode();
        if (c < 0x20 || c >= 0x7F || IsHeaderSpecial(c))
            return true;
    }
    return false;
}

// Splits at CR LF, lone CR and lone LF; a break at the very end adds no empty line.
QList<QByteArray> SplitBodyLines(const QByteArray &text)
{
    QList<QByteArray> lines;
    qsizetype start = 0;
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const char c = text[i];
        if (c != '\r' && c != '\n')
            continue;
        lines.append(text.mid(start, i - start));
        if (c == '\r' && i + 1 < n && text[i + 1] == '\n')
            ++i;
        start = i + 1;
    }
    if (start < n)
        lines.append(text.mid(start));
    return lines;
}

} // namespace

QString QpEncode(const QByteArray &bytes)
{
    QString out;
    out.reserve(bytes.size());
    for (const char ch : bytes) {
        const auto b = static_cast<unsigned char>(ch);
        if (b == '=' || b < 0x20 || b >= 0x7F)
            AppendEscape(out, b);
        else
            out += QLatin1Char(ch);
    }
    return out;
}

QString QpEncodeSafe(const QByteArray &bytes)
{
    QString out;
    out.reserve(bytes.size());
    for (const char ch : bytes) {
        const auto b = static_cast<unsigned char>(ch);
        if (b < 0x20 || b >= 0x7F || b == '_' || IsHeaderSpecial(b))
            AppendEscape(out, b);
        else
            out += QLatin1Char(ch);
    }
    return out;
}

QStringList SplitQpLine(const QString &escaped, int maxLength)
{
    QStringList out;
    if (escaped.isEmpty()) {
        out.append(QString());
        return out;
    }
    QString rest = escaped;
    while (rest.size() >= maxLength) {
        const QString window = rest.left(maxLength);
        const qsizetype n = window.lastIndexOf(QLatin1Char('=')) + 1;
        const qsizetype m = window.lastIndexOf(QLatin1Char(' ')) + 1;
        qsizetype x;
        if (n == 0 && m == 0)
            x = maxLength;
        else if (m < n)
            x = n - 1; // never cut inside an escape
        else
            x = m - 1; // the space starts the next line
        if (x == 0)
            x = maxLength;
        QString piece = rest.left(x);
        rest = rest.mid(x);
        if (!rest.isEmpty())
            piece += QLatin1Char('=');
        out.append(piece);
    }
    if (!rest.isEmpty())
        out.append(rest);
    return out;
}

QStringList FoldHeaderLine(const QString &line, int maxLength)
{
    QStringList out;
    QString rest = line;
    while (!rest.isEmpty()) {
        if (rest.size() < maxLength) {
            out.append(rest);
            break;
        }
        const qsizetype b = rest.lastIndexOf(QStringLiteral("; "), maxLength - 2) + 1;
        const qsizetype d = rest.lastIndexOf(QStringLiteral(", "), maxLength - 2) + 1;
        const qsizetype c = rest.lastIndexOf(QLatin1Char(' '), maxLength - 1) + 1;
        qsizetype cut;
        if (b <= 1 && c <= 1 && d <= 1) {
            cut = rest.indexOf(QLatin1Char(' '), 1);
            if (cut < 0)
                cut = rest.size(); // nowhere to fold: the line stays long
        } else if (b > 0) {
            cut = b;
        } else if (d > 0) {
            cut = d;
        } else {
            cut = c - 1;
        }
        out.append(rest.left(cut));
        rest = rest.mid(cut);
    }
    return out;
}

TMimeChar ChooseHeaderCharset(const QString &text, TMimeChar heldIn)
{
    Q_UNUSED(heldIn); // text is Unicode; the round trips run on its characters
    const QString sample = text.left(1024);
    TMimeChar best = TMimeChar::ISO_8859_1;
    qsizetype bestLength = 0;
    for (const TMimeChar candidate : HeaderCharsets()) {
        const QString back
            = ConvertFromCharset(ConvertToCharset(sample, candidate, TConvertMode::Drop), candidate);
        if (back == sample)
            return candidate;
        if (back.size() > bestLength) {
            bestLength = back.size();
            best = candidate;
        }
    }
    return best;
}

QString EncodeHeaderText(const QString &text, TMimeChar heldIn)
{
    if (!NeedsEncoding(text))
        return text;
    const TMimeChar chosen = ChooseHeaderCharset(text, heldIn);
    const QString escaped = QpEncodeSafe(ConvertToCharset(text, chosen, TConvertMode::Substitute));
    const QString prefix = QStringLiteral("=?") + MimeCharName(chosen) + QStringLiteral("?Q?");
    QString out;
    QString chunk;
    auto close = [&] {
        if (!out.isEmpty())
            out += QLatin1Char(' ');
        out += prefix + chunk + QStringLiteral("?=");
        chunk.clear();
    };
    for (const QChar ch : escaped) {
        if (ch == QLatin1Char(' ')) {
            chunk += QLatin1Char('_');
            if (chunk.size() > 32)
                close();
        } else {
            chunk += ch;
        }
    }
    if (!chunk.isEmpty())
        close();
    return out;
}

QString AddressPart(const QString &address)
{
    QString s = address;
    const qsizetype open = s.indexOf(QLatin1Char('<'));
    if (open >= 0)
        s = s.mid(open + 1);
    const qsizetype close = s.indexOf(QLatin1Char('>'));
    if (close >= 0)
        s = s.left(close);
    return s.trimmed();
}

QString DisplayNamePart(const QString &address)
{
    const QString s = address.trimmed();
    QString name;
    qsizetype i;
    if ((i = s.indexOf(QLatin1Char('"'))) >= 0) {
        const qsizetype j = s.indexOf(QLatin1Char('"'), i + 1);
        name = j >= 0 ? s.mid(i + 1, j - i - 1) : s.mid(i + 1);
    } else if ((i = s.indexOf(QLatin1Char('<'))) >= 0) {
        name = s.left(i);
    } else if ((i = s.indexOf(QLatin1Char('('))) >= 0) {
        const qsizetype j = s.indexOf(QLatin1Char(')'), i + 1);
        name = j >= 0 ? s.mid(i + 1, j - i - 1) : s.mid(i + 1);
    }
    return name.trimmed();
}

QString EncodeAddress(const QString &address, TMimeChar heldIn)
{
    const QString addr = AddressPart(address);
    const QString name = DisplayNamePart(address);
    if (name.isEmpty())
        return addr;
    return QLatin1Char('"') + EncodeHeaderText(name, heldIn) + QStringLiteral("\" <") + addr
        + QLatin1Char('>');
}

QString TimeZoneText(int offsetSeconds)
{
    const int minutes = offsetSeconds / 60;
    const int a = std::abs(minutes);
    return QStringLiteral("%1%2%3")
        .arg(minutes >= 0 ? QLatin1Char('+') : QLatin1Char('-'))
        .arg(a / 60, 2, 10, QLatin1Char('0'))
        .arg(a % 60, 2, 10, QLatin1Char('0'));
}

QString TimeZoneText()
{
    return TimeZoneText(QDateTime::currentDateTime().offsetFromUtc());
}

QString MailDate(const QDateTime &when)
{
    // English names whatever the locale says.
    static const char *const days[] = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};
    static const char *const months[]
        = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const QDate d = when.date();
    const QTime t = when.time();
    return QStringLiteral("%1, %2 %3 %4 %5:%6:%7 %8")
        .arg(QLatin1String(days[d.dayOfWeek() - 1]))
        .arg(d.day())
        .arg(QLatin1String(months[d.month() - 1]))
        .arg(d.year(), 4, 10, QLatin1Char('0'))
        .arg(t.hour(), 2, 10, QLatin1Char('0'))
        .arg(t.minute(), 2, 10, QLatin1Char('0'))
        .arg(t.second(), 2, 10, QLatin1Char('0'))
        .arg(TimeZoneText());
}

QStringList TMessHeader::WriteHeaders() const
{
    QStringList out;
    out.append(QStringLiteral("From: ") + EncodeAddress(From, CharsetCode));
    if (!ToList.isEmpty()) {
        QStringList to;
        for (const QString &t : ToList)
            to.append(EncodeAddress(t, CharsetCode));
        out.append(QStringLiteral("To: ") + to.join(QStringLiteral(", ")));
    }
    if (!Subject.isEmpty())
        out.append(QStringLiteral("Subject: ") + EncodeHeaderText(Subject, CharsetCode));
    out.append(QStringLiteral("Date: ") + MailDate(Date.isValid() ? Date : QDateTime::currentDateTime()));
    out.append(QStringLiteral("MIME-Version: 1.0 (produced by Dorvanek)"));
    out.append(QStringLiteral("X-mailer: ") + XMailer);
    return out;
}

void TMimePart::Clear()
{
    *this = TMimePart();
}

void TMimePart::EncodeBody()
{
    PartBody.clear();
    QByteArray bytes;
    if (ConvertCharset && Primary.compare(QStringLiteral("text"), Qt::CaseInsensitive) == 0
        && EncodingCode != TMimeEncoding::ME_7BIT) {
        bytes = ConvertToCharset(DecodedLines, CharsetCode, TConvertMode::Drop);
        if (CharsetCode == TMimeChar::UTF_8)
            bytes.prepend("\xEF\xBB\xBF");
    } else {
        bytes = ConvertToCharset(DecodedLines, TargetCharset, TConvertMode::Substitute);
    }
    for (const QByteArray &line : SplitBodyLines(bytes)) {
        if (EncodingCode == TMimeEncoding::ME_QUOTED_PRINTABLE)
            PartBody.append(SplitQpLine(QpEncode(line), MaxLineLength));
        else
            PartBody.append(QString::fromLatin1(line)); // only quoted-printable is ever sent
    }
}

void TMimePart::EncodeBodyHeaders()
{
    Headers.clear();
    Headers.append(QStringLiteral("Content-type: ") + Primary + QLatin1Char('/') + Secondary
        + QStringLiteral("; charset=") + MimeCharName(CharsetCode));
    if (EncodingCode == TMimeEncoding::ME_QUOTED_PRINTABLE)
        Headers.append(QStringLiteral("Content-Transfer-Encoding: Quoted-printable"));
    if (!Disposition.isEmpty())
        Headers.append(QStringLiteral("Content-Disposition: ") + Disposition.toLower());
    if (!Description.isEmpty())
        Headers.append(QStringLiteral("Content-Description: ") + Description);
}

void TMimePart::AssembleLines()
{
    Lines.clear();
    for (const QString &h : Headers)
        Lines.append(FoldHeaderLine(h, MaxLineLength));
    Lines.append(QString());
    Lines.append(PartBody);
}

void TMimeMess::SetHtmlBody(const QStringList &body)
{
    MessagePart.Clear();
    for (const QString &line : body)
        MessagePart.DecodedLines += line + QStringLiteral("\r\n");
    MessagePart.Primary = QStringLiteral("text");
    MessagePart.Secondary = QStringLiteral("html");
    MessagePart.Description = QStringLiteral("HTML text");
    MessagePart.Disposition = QStringLiteral("inline");
    MessagePart.CharsetCode = TMimeChar::UTF_8;
    MessagePart.EncodingCode = TMimeEncoding::ME_QUOTED_PRINTABLE;
    MessagePart.EncodeBody();
    MessagePart.EncodeBodyHeaders();
}

void TMimeMess::ComposeMessage()
{
    QStringList all = Header.WriteHeaders();
    static const char *const order[] = {"CONTENT-TYPE", "CONTENT-DESCRIPTION", "CONTENT-DISPOSITION",
        "CONTENT-ID", "CONTENT-TRANSFER-ENCODING"};
    for (const char *name : order) {
        for (const QString &h : MessagePart.Headers) {
            if (h.startsWith(QLatin1String(name), Qt::CaseInsensitive)) {
                all.append(h);
                break;
            }
        }
    }
    MessagePart.Headers = all;
    MessagePart.AssembleLines();
    Lines = MessagePart.Lines;
}
