#include "console/MonthReport.h"
#include "history/HistoryQuery.h"
#include "platform/Errors.h"
#include "platform/SaveFile.h"
#include "records/SystemListFile.h"
#include <cstring>
#include <QFileInfo>

QStringList ReportOrder(const TSystemList &List)
{
    QStringList order;
    order.reserve(List.Count());
    for (int i = 0; i < List.Count(); ++i)
        order << List.Cell(i, TSystemRecord::IP);
    return order;
}

QStringList ReportOrderOfFile(const QString &ListFile)
{
    TSystemList list;
    try {
        LoadSystemList(list, ListFile);
    } catch (const EZyrError &) {
        // The rows read before the fault still give their order.
    }
    return ReportOrder(list);
}

QByteArray MonthReport(
    const QString &DbPath, QDate Month, TReportFormat Format, const QStringList &Order, qint64 Now)
{
    // A read-only connection would not create it either, but its error text would not say "missing".
    if (!QFileInfo(DbPath).isFile())
        throw EZyrError(QStringLiteral("Geçmiş veritabanı bulunamadı: ") + DbPath);
    try {
        THistoryReader reader(DbPath);
        const std::vector<TMonthRow> rows = reader.Month(Month, Order, Now);
        return Format == TReportFormat::Html ? MonthHtml(rows, Month) : MonthCsv(rows);
    } catch (const EHistoryError &e) {
        throw EZyrError(
            QStringLiteral("Geçmiş veritabanı okunamadı: %1: %2").arg(DbPath, QString::fromUtf8(e.what())));
    }
}

void SaveReport(const QString &FileName, const QByteArray &Bytes)
{
    if (const int error = SaveFile(FileName, Bytes); error != 0)
        throw EZyrError(QStringLiteral("Rapor kaydedilemedi: %1: %2")
                            .arg(FileName, QString::fromLocal8Bit(std::strerror(error))));
}
