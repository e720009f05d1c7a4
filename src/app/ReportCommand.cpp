#include "app/ReportCommand.h"
#include "console/MonthReport.h"
#include "platform/Errors.h"
#include "platform/FileLocations.h"
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <QDateTime>
#include <QFile>
#include <QRegularExpression>
#include <unistd.h>

namespace {
const char *const kUsage = "Kullanım: ZYRdenetleyici --report YYYY-AA [--format csv|html] [--output DOSYA]\n";

struct TReportRequest
{
    QDate Month;
    TReportFormat Format = TReportFormat::Csv;
    QString Output; // empty: standard output
};

void Complain(const QString &Text, bool Usage)
{
    std::fputs((Text + QLatin1Char('\n')).toUtf8().constData(), stderr);
    if (Usage)
        std::fputs(kUsage, stderr);
}

// A month as YYYY-MM and nothing else; an invalid one gives a null date.
QDate ParseMonth(const QString &Text)
{
    static const QRegularExpression pattern(QStringLiteral("^([0-9]{4})-([0-9]{2})$"));
    const QRegularExpressionMatch match = pattern.match(Text);
    if (!match.hasMatch())
        return {};
    return QDate(match.captured(1).toInt(), match.captured(2).toInt(), 1);
}

// The options as "--name value" or "--name=value". Returns false after a message.
bool ParseArguments(int argc, char **argv, TReportRequest &Request)
{
    bool haveMonth = false;
    for (int i = 1; i < argc; ++i) {
        QString name = QFile::decodeName(argv[i]), value;
        bool hasValue = false;
        if (const qsizetype equals = name.indexOf(QLatin1Char('='));
            name.startsWith(QLatin1String("--")) && equals > 0) {
            value = name.mid(equals + 1);
            name.truncate(equals);
            hasValue = true;
        }
        if (name != QLatin1String("--report") && name != QLatin1String("--format")
            && name != QLatin1String("--output")) {
            Complain(QStringLiteral("Bilinmeyen seçenek: ") + name, true);
            return false;
        }
        if (!hasValue) {
            if (i + 1 >= argc) {
                Complain(name + QStringLiteral(" seçeneğinin değeri eksik"), true);
                return false;
            }
            value = QFile::decodeName(argv[++i]);
        }
        if (name == QLatin1String("--report")) {
            Request.Month = ParseMonth(value);
            if (!Request.Month.isValid()) {
                Complain(QStringLiteral("Geçersiz ay: \"%1\" (YYYY-AA bekleniyor)").arg(value), true);
                return false;
            }
            haveMonth = true;
        } else if (name == QLatin1String("--format")) {
            if (value == QLatin1String("csv"))
                Request.Format = TReportFormat::Csv;
            else if (value == QLatin1String("html"))
                Request.Format = TReportFormat::Html;
            else {
                Complain(QStringLiteral("Geçersiz biçim: \"%1\" (csv ya da html)").arg(value), true);
                return false;
            }
        } else {
            if (value.isEmpty()) {
                Complain(name + QStringLiteral(" seçeneğinin değeri eksik"), true);
                return false;
            }
            Request.Output = value;
        }
    }
    if (!haveMonth) {
        Complain(QStringLiteral("--report seçeneğinin değeri eksik"), true);
        return false;
    }
    return true;
}

bool WriteAll(int Fd, const QByteArray &Bytes)
{
    const char *at = Bytes.constData();
    qsizetype left = Bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(Fd, at, size_t(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        at += n;
        left -= n;
    }
    return true;
}
} // namespace

bool IsReportCommand(int argc, char **argv)
{
    // Any other argument is the toolkit's (-platform and the like), as before the report existed.
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--report") == 0 || std::strncmp(argv[i], "--report=", 9) == 0)
            return true;
    return false;
}

int RunReportCommand(int argc, char **argv)
{
    TReportRequest request;
    if (!ParseArguments(argc, argv, request))
        return 2;
    // Where the console keeps them; nothing is made where they are missing.
    const TFileLocations &files = FileLocations();
    QByteArray bytes;
    try {
        // A month that has not begun has no results: the header alone, or an empty table.
        bytes = MonthReport(files.DataFile(QStringLiteral("ZYRdenetleyici.db")), request.Month,
            request.Format, ReportOrderOfFile(files.DataFile(QStringLiteral("ZYRdenetleyici.dat"))),
            QDateTime::currentSecsSinceEpoch());
        if (!request.Output.isEmpty())
            SaveReport(request.Output, bytes);
    } catch (const EZyrError &e) {
        Complain(e.Message(), false);
        return 2;
    }
    if (request.Output.isEmpty() && !WriteAll(STDOUT_FILENO, bytes)) {
        Complain(QStringLiteral("Rapor yazılamadı: ") + QString::fromLocal8Bit(std::strerror(errno)), false);
        return 2;
    }
    return 0;
}
