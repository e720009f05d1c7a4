#pragma once
#include <QDateTime>
#include <QDialog>
#include <QPointer>

class QCheckBox;
class QComboBox;
class QDateTimeEdit;
class QLineEdit;
class QPushButton;

// "Alarmı onayla": the operator's note on an alarm (required, at most 200 characters) and whether it goes
// to every marked alarm. The list command prepares it, shows it and takes its fields when confirmed.
class TFormAcknowledge : public QDialog
{
public:
    explicit TFormAcknowledge(QWidget *Parent = nullptr);
    void CentreOn(QWidget *Window) { owner = Window; }
    // Fresh for one use: no note, the box unticked.
    void Reset();
    QString Note() const;
    bool All() const;

protected:
    void showEvent(QShowEvent *Event) override;

private:
    QLineEdit *edtNote;
    QCheckBox *cbAll;
    QPushButton *btnOk;
    QPushButton *btnCancel;
    QPointer<QWidget> owner;
};

// "Bakım": a note and the end of a maintenance, one of the usual lengths from now or a chosen date and
// time, and whether it goes to every marked system.
class TFormMaintenance : public QDialog
{
public:
    explicit TFormMaintenance(QWidget *Parent = nullptr);
    void CentreOn(QWidget *Window) { owner = Window; }
    // Fresh for one use: no note, one hour from now, the box unticked.
    void Reset();
    QString Note() const;
    QDateTime End() const;
    bool All() const;

protected:
    void showEvent(QShowEvent *Event) override;

private:
    void TakeLength(int Index);

    QLineEdit *edtNote;
    QComboBox *cbLength;
    QDateTimeEdit *edtEnd;
    QCheckBox *cbAll;
    QPushButton *btnOk;
    QPushButton *btnCancel;
    QPointer<QWidget> owner;
};
