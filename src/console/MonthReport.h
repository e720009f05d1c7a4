#pragma once
#include <QByteArray>
#include <QDate>
#include <QStringList>

class TSystemList;

// The monthly availability report as the "Rapor" dialog and the command line save it: the same bytes from
// both.

enum class TReportFormat
{
    Csv,
    Html
};

// The addresses of the list's rows in their order, which the report's rows follow.
QStringList ReportOrder(const TSystemList &List);
// The same of a list file, read only; a missing or damaged file gives the rows that could be read (the
// report then only loses their order).
QStringList ReportOrderOfFile(const QString &ListFile);

// The report of Month, made at Now, from the history database DbPath. Raises EZyrError with the text to
// show when the database is missing or cannot be read; a missing one is never created.
QByteArray MonthReport(
    const QString &DbPath, QDate Month, TReportFormat Format, const QStringList &Order, qint64 Now);
// Saves whole or not at all (SaveFile); raises EZyrError with the text to show.
void SaveReport(const QString &FileName, const QByteArray &Bytes);
