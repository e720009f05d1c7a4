#pragma once
#include "store/CheckList.h"
#include <QDialog>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class TCheckListBox;

// The look shared by the record editor and the settings dialog: light window, framed fields on the tooltip
// colour, labels on their own band, bold buttons. A label marked with the property "field" gets the band.
QString DialogStyleSheet();

// The dialog in which the operator enters a new monitored system or changes one. It owns no record: the
// list commands prepare it, show it and copy the fields into the record when it was confirmed.
class TFormNewRecord : public QDialog
{
public:
    explicit TFormNewRecord(QWidget *Parent = nullptr);

    // Resets the fields for one use. Leaves cbZYRplus as the last use left it.
    void SetMode(bool Edit);
    // Offers the texts of the settings' address list, all unticked.
    void SetAddresses(const TCheckList &Settings);

    // Confirm: trims the fields, refuses an empty address, turns an empty device count into "0", closes.
    void Confirm();

    QLineEdit *edtName;
    QLineEdit *edtIP;
    QLineEdit *edtDeviceCnt;
    TCheckListBox *edtEmails;
    QCheckBox *cbZYRplus;
    QPushButton *btnAdd;
    QPushButton *btnCancel;

    // The addresses shown in edtEmails, with the ticks the operator set.
    TCheckList Emails;

protected:
    void showEvent(QShowEvent *Event) override;
};
