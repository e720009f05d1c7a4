#include "console/ReportDialog.h"
#include "console/KeyPreview.h"
#include "console/MessageBoxes.h"
#include "console/MonthReport.h"
#include "platform/Errors.h"
#include <QApplication>
#include <QComboBox>
#include <QDateEdit>
#include <QDateTime>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

TFormReport::TChooseFile TFormReport::ChooseFile;

TFormReport::TFormReport(QWidget *Parent)
    : QDialog(Parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint)
{
    setObjectName(QStringLiteral("FormReport"));
    setWindowTitle(QStringLiteral("Rapor"));
    setModal(true);

    edtMonth = new QDateEdit(this);
    edtMonth->setObjectName(QStringLiteral("edtMonth"));
    edtMonth->setDisplayFormat(QStringLiteral("MM.yyyy"));
    edtMonth->setMinimumDate(QDate(2000, 1, 1));
    cbFormat = new QComboBox(this);
    cbFormat->setObjectName(QStringLiteral("cbFormat"));
    cbFormat->addItems({QStringLiteral("CSV"), QStringLiteral("HTML")});
    btnSave = new QPushButton(QStringLiteral("Kaydet"), this);
    btnSave->setObjectName(QStringLiteral("btnSave"));
    btnSave->setDefault(true);
    btnClose = new QPushButton(QStringLiteral("Kapat"), this);
    btnClose->setObjectName(QStringLiteral("btnClose"));
    btnClose->setAutoDefault(false);
    connect(btnSave, &QPushButton::clicked, this, &TFormReport::KaydetClick);
    connect(btnClose, &QPushButton::clicked, this, &QDialog::reject);

    auto *fields = new QFormLayout;
    fields->addRow(QStringLiteral("Ay:"), edtMonth);
    fields->addRow(QStringLiteral("Biçim:"), cbFormat);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(btnSave);
    buttons->addWidget(btnClose);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(fields);
    layout->addLayout(buttons);
    setFixedSize(sizeHint().expandedTo(QSize(260, 0)));

    CloseOnEscape(this, [this] { reject(); });
}

int TFormReport::ShowReport(const QString &DbPath, const QStringList &Order)
{
    dbPath = DbPath;
    order = Order;
    const QDate today = QDate::currentDate();
    const QDate thisMonth(today.year(), today.month(), 1);
    edtMonth->setMaximumDate(thisMonth);
    edtMonth->setDate(thisMonth.addMonths(-1));
    edtMonth->setFocus();
    return exec();
}

void TFormReport::KaydetClick()
{
    const QDate month = edtMonth->date();
    const bool html = cbFormat->currentIndex() == 1;
    const QString suggested = QStringLiteral("ZYRdenetleyici-rapor-%1.%2")
                                  .arg(month.toString(QStringLiteral("yyyy-MM")),
                                      html ? QStringLiteral("html") : QStringLiteral("csv"));
    const QString filter
        = html ? QStringLiteral("HTML dosyası (*.html)") : QStringLiteral("CSV dosyası (*.csv)");
    const QString file = ChooseFile
        ? ChooseFile(this, suggested, filter)
        : QFileDialog::getSaveFileName(this, QStringLiteral("Raporu kaydet"), suggested, filter);
    if (file.isEmpty())
        return;
    try {
        // Read on the window thread: a month of 10,000 systems takes about two seconds (zyr_bench_report).
        QApplication::setOverrideCursor(Qt::WaitCursor);
        const QByteArray bytes = MonthReport(dbPath, month, html ? TReportFormat::Html : TReportFormat::Csv,
            order, QDateTime::currentSecsSinceEpoch());
        SaveReport(file, bytes);
        QApplication::restoreOverrideCursor();
    } catch (const EZyrError &e) {
        QApplication::restoreOverrideCursor();
        ErrorBox(e.Message());
        return;
    }
    accept();
}
