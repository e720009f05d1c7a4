#pragma once
#include "engine/CheckEngine.h"
#include "store/CheckList.h"
#include <QDialog>
#include <QPointer>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class TCheckListBox;

// The look shared by the record editor and the settings dialog: light window, framed fields on the tooltip
// colour, labels on their own band, bold buttons. A label marked with the property "field" gets the band.
QString DialogStyleSheet();
// A field's label on that band.
QLabel *FieldLabel(const QString &Text, QWidget *Parent);

// The dialog in which the operator enters a new monitored system or changes one. It owns no record: the
// list commands prepare it, show it and take its fields when it was confirmed.
class TFormNewRecord : public QDialog
{
public:
    explicit TFormNewRecord(QWidget *Parent = nullptr);

    // The window the dialog opens centred on, when it has no parent.
    void CentreOn(QWidget *Window) { owner = Window; }

    // Resets the fields for one use. Leaves cbZYRplus as the last use left it.
    void SetMode(bool Edit);
    // Offers the texts of the settings' address list, all unticked.
    void SetAddresses(const TCheckList &Settings);
    // The fields of a record to change; its addresses ticked among the offered ones.
    void SetFields(const TRecordFields &Fields);
    // What the operator entered: the ticked addresses joined by ",".
    TRecordFields Fields() const;

    // Confirm: trims the fields, refuses an empty address, turns an empty device count into "0", closes.
    void Confirm();

protected:
    void showEvent(QShowEvent *Event) override;

private:
    QLineEdit *edtName;
    QLineEdit *edtIP;
    QLineEdit *edtDeviceCnt;
    TCheckListBox *edtEmails;
    QCheckBox *cbZYRplus;
    QPushButton *btnAdd;
    QPushButton *btnCancel;

    // The addresses shown in edtEmails, with the ticks the operator set.
    TCheckList Emails;
    QPointer<QWidget> owner;
};
