#pragma once
#include <QDateTime>
#include <QDialog>

class QCheckBox;
class QComboBox;
class QDateTimeEdit;
class QLineEdit;
class QPushButton;

class QLabel;
class QVBoxLayout;

// What both dialogs share: the frame, the note (at most 200 characters), the box that applies it to every
// marked row, the buttons, and the place over the window that opens them.
class TMarkDialog : public QDialog
{
public:
    QString Note() const;
    bool All() const;

protected:
    TMarkDialog(QWidget *Parent, const char *Name, const QString &Title);
    // After the dialog's own fields in Layout: the box, then the buttons.
    void Finish(QVBoxLayout *Layout, const QString &AllText);
    // No note, the box unticked.
    void Reset();
    QLabel *NamedLabel(const QString &Text, const char *Name, QWidget *Buddy);
    void showEvent(QShowEvent *Event) override;

    QLineEdit *edtNote;
    QCheckBox *cbAll = nullptr;
    QPushButton *btnOk = nullptr;
    QPushButton *btnCancel = nullptr;
};

// "Alarmı onayla": the operator's note on an alarm (required) and whether it goes to every marked alarm.
// The list command prepares it, shows it and takes its fields when confirmed.
class TFormAcknowledge : public TMarkDialog
{
public:
    explicit TFormAcknowledge(QWidget *Parent = nullptr);
    // Fresh for one use: no note, the box unticked.
    void Reset();
};

// "Bakım": a note and the end of a maintenance, one of the usual lengths from now or a chosen date and
// time, and whether it goes to every marked system.
class TFormMaintenance : public TMarkDialog
{
public:
    explicit TFormMaintenance(QWidget *Parent = nullptr);
    // Fresh for one use: no note, one hour from now, the box unticked.
    void Reset();
    QDateTime End() const;

private:
    void TakeLength(int Index);

    QComboBox *cbLength;
    QDateTimeEdit *edtEnd;
};
