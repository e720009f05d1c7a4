#pragma once
#include <functional>
#include <QDialog>
#include <QStringList>

class QComboBox;
class QDateEdit;
class QPushButton;

// "Rapor": the monthly availability report of a month, saved as CSV or HTML; the same bytes as the command
// line's --report.
class TFormReport : public QDialog
{
public:
    explicit TFormReport(QWidget *Parent = nullptr);

    // Asks where to save: the suggested name and the file filter in, the chosen path out (empty: cancelled).
    // A file dialog unless replaced, as tests do.
    using TChooseFile
        = std::function<QString(QWidget *Parent, const QString &Suggested, const QString &Filter)>;
    static TChooseFile ChooseFile;

    // Opens modally over the database DbPath, with the rows in Order's order; the month is the last one.
    int ShowReport(const QString &DbPath, const QStringList &Order);

private:
    void KaydetClick();

    QString dbPath;
    QStringList order;
    QDateEdit *edtMonth;
    QComboBox *cbFormat;
    QPushButton *btnSave;
    QPushButton *btnClose;
};
