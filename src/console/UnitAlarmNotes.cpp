#include "console/UnitAlarmNotes.h"
#include "console/UnitNewRecord.h"
#include "platform/IniLines.h"
#include <QCheckBox>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

constexpr int kNoteLength = 200;

QLabel *NoteLabel(const QString &Text, QWidget *Parent)
{
    auto *label = new QLabel(Text, Parent);
    label->setProperty("field", true);
    label->setMinimumHeight(22);
    return label;
}

// What both dialogs start with: the frame, and the note field (at most 200 characters).
QLineEdit *NoteDialog(QDialog *Dialog, const char *Name, const QString &Title)
{
    Dialog->setObjectName(QLatin1String(Name));
    Dialog->setWindowTitle(Title);
    Dialog->setModal(true);
    Dialog->setStyleSheet(DialogStyleSheet());
    auto *note = new QLineEdit(Dialog);
    note->setObjectName(QStringLiteral("edtNote"));
    note->setMaxLength(kNoteLength);
    note->setMinimumWidth(320);
    return note;
}

// The buttons of both dialogs, bold, none taking Enter by itself.
QHBoxLayout *Buttons(QDialog *Dialog, QPushButton *&Ok, QPushButton *&Cancel)
{
    Ok = new QPushButton(QStringLiteral("Tamam"), Dialog);
    Ok->setObjectName(QStringLiteral("btnOk"));
    Cancel = new QPushButton(QStringLiteral("İptal"), Dialog);
    Cancel->setObjectName(QStringLiteral("btnCancel"));
    Ok->setAutoDefault(false);
    Cancel->setAutoDefault(false);
    QObject::connect(Ok, &QPushButton::clicked, Dialog, &QDialog::accept);
    QObject::connect(Cancel, &QPushButton::clicked, Dialog, &QDialog::reject);
    auto *row = new QHBoxLayout;
    row->addStretch();
    row->addWidget(Ok);
    row->addWidget(Cancel);
    return row;
}

void Centre(QDialog *Dialog, QWidget *Owner)
{
    if (QWidget *centre = Dialog->parentWidget() ? Dialog->parentWidget() : Owner)
        Dialog->move(
            centre->window()->frameGeometry().center() - QPoint(Dialog->width() / 2, Dialog->height() / 2));
}

} // namespace

TFormAcknowledge::TFormAcknowledge(QWidget *Parent)
    : QDialog(Parent, Qt::Tool | Qt::MSWindowsFixedSizeDialogHint)
{
    edtNote = NoteDialog(this, "FormAcknowledge", QStringLiteral("Alarmı onayla"));
    cbAll = new QCheckBox(QStringLiteral("Tüm işaretli alarmlara uygula"), this);
    cbAll->setObjectName(QStringLiteral("cbAll"));
    auto *note = NoteLabel(QStringLiteral("Not:"), this);
    note->setObjectName(QStringLiteral("lblNote"));
    note->setBuddy(edtNote);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(note);
    layout->addWidget(edtNote);
    layout->addWidget(cbAll);
    layout->addLayout(Buttons(this, btnOk, btnCancel));
    // The note is required: a blank one cannot be confirmed.
    connect(edtNote, &QLineEdit::textChanged, this,
        [this](const QString &Text) { btnOk->setEnabled(!TrimBlanks(Text).isEmpty()); });
    Reset();
}

void TFormAcknowledge::Reset()
{
    edtNote->clear();
    btnOk->setEnabled(false);
    cbAll->setChecked(false);
}

QString TFormAcknowledge::Note() const
{
    return TrimBlanks(edtNote->text());
}

bool TFormAcknowledge::All() const
{
    return cbAll->isChecked();
}

void TFormAcknowledge::showEvent(QShowEvent *Event)
{
    Centre(this, owner);
    QDialog::showEvent(Event);
    edtNote->setFocus();
}

TFormMaintenance::TFormMaintenance(QWidget *Parent)
    : QDialog(Parent, Qt::Tool | Qt::MSWindowsFixedSizeDialogHint)
{
    edtNote = NoteDialog(this, "FormMaintenance", QStringLiteral("Bakım"));
    cbLength = new QComboBox(this);
    cbLength->setObjectName(QStringLiteral("cbLength"));
    cbLength->addItems({QStringLiteral("1 saat"), QStringLiteral("4 saat"), QStringLiteral("8 saat"),
        QStringLiteral("24 saat")});
    edtEnd = new QDateTimeEdit(this);
    edtEnd->setObjectName(QStringLiteral("edtEnd"));
    edtEnd->setCalendarPopup(true);
    edtEnd->setDisplayFormat(QStringLiteral("dd.MM.yyyy HH:mm"));
    cbAll = new QCheckBox(QStringLiteral("Tüm işaretli sistemlere uygula"), this);
    cbAll->setObjectName(QStringLiteral("cbAll"));
    auto *note = NoteLabel(QStringLiteral("Not:"), this);
    note->setObjectName(QStringLiteral("lblNote"));
    note->setBuddy(edtNote);
    auto *end = NoteLabel(QStringLiteral("Bitiş:"), this);
    end->setObjectName(QStringLiteral("lblEnd"));
    end->setBuddy(edtEnd);
    auto *grid = new QGridLayout;
    grid->addWidget(note, 0, 0);
    grid->addWidget(edtNote, 0, 1, 1, 2);
    grid->addWidget(end, 1, 0);
    grid->addWidget(cbLength, 1, 1);
    grid->addWidget(edtEnd, 1, 2);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addWidget(cbAll);
    layout->addLayout(Buttons(this, btnOk, btnCancel));
    // A length sets the end from now; the date and time field may then be set to any later moment.
    connect(cbLength, &QComboBox::activated, this, &TFormMaintenance::TakeLength);
    connect(edtEnd, &QDateTimeEdit::dateTimeChanged, this,
        [this](const QDateTime &When) { btnOk->setEnabled(When > QDateTime::currentDateTime()); });
    Reset();
}

void TFormMaintenance::TakeLength(int Index)
{
    static const int hours[] = {1, 4, 8, 24};
    if (Index >= 0 && Index < int(std::size(hours)))
        edtEnd->setDateTime(QDateTime::currentDateTime().addSecs(hours[Index] * 3600LL));
}

void TFormMaintenance::Reset()
{
    edtNote->clear();
    cbAll->setChecked(false);
    cbLength->setCurrentIndex(0);
    edtEnd->setMinimumDateTime(QDateTime::currentDateTime());
    TakeLength(0);
}

QString TFormMaintenance::Note() const
{
    return TrimBlanks(edtNote->text());
}

QDateTime TFormMaintenance::End() const
{
    return edtEnd->dateTime();
}

bool TFormMaintenance::All() const
{
    return cbAll->isChecked();
}

void TFormMaintenance::showEvent(QShowEvent *Event)
{
    Centre(this, owner);
    QDialog::showEvent(Event);
    edtNote->setFocus();
}
