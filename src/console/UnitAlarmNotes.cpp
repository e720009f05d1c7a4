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
} // namespace

TMarkDialog::TMarkDialog(QWidget *Parent, const char *Name, const QString &Title)
    : QDialog(Parent, Qt::Tool | Qt::MSWindowsFixedSizeDialogHint)
{
    setObjectName(QLatin1String(Name));
    setWindowTitle(Title);
    setModal(true);
    setStyleSheet(DialogStyleSheet());
    edtNote = new QLineEdit(this);
    edtNote->setObjectName(QStringLiteral("edtNote"));
    edtNote->setMaxLength(kNoteLength);
    edtNote->setMinimumWidth(320);
}

// Made after the dialog's own fields, so that Tab reaches them in the order they are shown. The buttons
// are bold and neither takes Enter by itself.
void TMarkDialog::Finish(QVBoxLayout *Layout, const QString &AllText)
{
    cbAll = new QCheckBox(AllText, this);
    cbAll->setObjectName(QStringLiteral("cbAll"));
    Layout->addWidget(cbAll);
    btnOk = new QPushButton(QStringLiteral("Tamam"), this);
    btnOk->setObjectName(QStringLiteral("btnOk"));
    btnCancel = new QPushButton(QStringLiteral("İptal"), this);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    btnOk->setAutoDefault(false);
    btnCancel->setAutoDefault(false);
    connect(btnOk, &QPushButton::clicked, this, &QDialog::accept);
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
    auto *row = new QHBoxLayout;
    row->addStretch();
    row->addWidget(btnOk);
    row->addWidget(btnCancel);
    Layout->addLayout(row);
}

void TMarkDialog::Reset()
{
    edtNote->clear();
    cbAll->setChecked(false);
}

QLabel *TMarkDialog::NamedLabel(const QString &Text, const char *Name, QWidget *Buddy)
{
    QLabel *label = FieldLabel(Text, this);
    label->setObjectName(QLatin1String(Name));
    label->setBuddy(Buddy);
    return label;
}

QString TMarkDialog::Note() const
{
    return TrimBlanks(edtNote->text());
}

bool TMarkDialog::All() const
{
    return cbAll->isChecked();
}

void TMarkDialog::showEvent(QShowEvent *Event)
{
    if (QWidget *centre = parentWidget())
        move(centre->window()->frameGeometry().center() - QPoint(width() / 2, height() / 2));
    QDialog::showEvent(Event);
    edtNote->setFocus();
}

TFormAcknowledge::TFormAcknowledge(QWidget *Parent)
    : TMarkDialog(Parent, "FormAcknowledge", QStringLiteral("Alarmı onayla"))
{
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(NamedLabel(QStringLiteral("Not:"), "lblNote", edtNote));
    layout->addWidget(edtNote);
    Finish(layout, QStringLiteral("Tüm işaretli alarmlara uygula"));
    // The note is required: a blank one cannot be confirmed.
    connect(edtNote, &QLineEdit::textChanged, this,
        [this](const QString &Text) { btnOk->setEnabled(!TrimBlanks(Text).isEmpty()); });
    Reset();
}

void TFormAcknowledge::Reset()
{
    TMarkDialog::Reset();
    btnOk->setEnabled(false);
}

TFormMaintenance::TFormMaintenance(QWidget *Parent)
    : TMarkDialog(Parent, "FormMaintenance", QStringLiteral("Bakım"))
{
    cbLength = new QComboBox(this);
    cbLength->setObjectName(QStringLiteral("cbLength"));
    cbLength->addItems({QStringLiteral("1 saat"), QStringLiteral("4 saat"), QStringLiteral("8 saat"),
        QStringLiteral("24 saat")});
    edtEnd = new QDateTimeEdit(this);
    edtEnd->setObjectName(QStringLiteral("edtEnd"));
    edtEnd->setCalendarPopup(true);
    edtEnd->setDisplayFormat(QStringLiteral("dd.MM.yyyy HH:mm"));
    auto *grid = new QGridLayout;
    grid->addWidget(NamedLabel(QStringLiteral("Not:"), "lblNote", edtNote), 0, 0);
    grid->addWidget(edtNote, 0, 1, 1, 2);
    grid->addWidget(NamedLabel(QStringLiteral("Bitiş:"), "lblEnd", edtEnd), 1, 0);
    grid->addWidget(cbLength, 1, 1);
    grid->addWidget(edtEnd, 1, 2);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    Finish(layout, QStringLiteral("Tüm işaretli sistemlere uygula"));
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
    TMarkDialog::Reset();
    cbLength->setCurrentIndex(0);
    edtEnd->setMinimumDateTime(QDateTime::currentDateTime());
    TakeLength(0);
}

QDateTime TFormMaintenance::End() const
{
    return edtEnd->dateTime();
}
