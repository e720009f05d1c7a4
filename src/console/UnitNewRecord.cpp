#include "console/UnitNewRecord.h"
#include "console/CheckListBox.h"
#include "console/DigitsOnly.h"
#include "console/Icons.h"
#include "console/KeyPreview.h"
#include "console/MessageBoxes.h"
#include "store/AppUtils.h"
#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QToolTip>
#include <QVBoxLayout>

QLabel *FieldLabel(const QString &Text, QWidget *Parent)
{
    auto *label = new QLabel(Text, Parent);
    label->setProperty("field", true);
    label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    label->setMinimumHeight(22);
    return label;
}

QString DialogStyleSheet()
{
    // Style sheets know no tooltip role, so the fields take the desktop's tooltip colours by value; the
    // tooltip's text colour comes along, since a dark tooltip under dark text could not be read.
    const QPalette tip = QToolTip::palette();
    return QStringLiteral(
        "QDialog { background-color: rgb(246, 247, 252); }"
        "QLabel[field=\"true\"] { background-color: rgb(237, 244, 252); color: rgb(22, 84, 114); "
        "padding: 0px 4px; }"
        "QLineEdit, QListWidget, QSpinBox { background-color: %1; color: %2; "
        "border: 1px solid rgb(153, 180, 209); }"
        "QPushButton { font-weight: bold; }")
        .arg(tip.color(QPalette::ToolTipBase).name(), tip.color(QPalette::ToolTipText).name());
}

TFormNewRecord::TFormNewRecord(QWidget *Parent)
    : QDialog(Parent, Qt::Tool | Qt::MSWindowsFixedSizeDialogHint)
{
    setObjectName(QStringLiteral("FormNewRecord"));
    setModal(true);
    setStyleSheet(DialogStyleSheet());

    edtName = new QLineEdit(this);
    edtName->setObjectName(QStringLiteral("edtName"));
    edtIP = new QLineEdit(this);
    edtIP->setObjectName(QStringLiteral("edtIP"));
    edtDeviceCnt = new QLineEdit(this);
    edtDeviceCnt->setObjectName(QStringLiteral("edtDeviceCnt"));
    edtDeviceCnt->setMaxLength(2);
    edtDeviceCnt->setFixedWidth(40);
    // Pasted text is held to digits as well; typed keys are filtered with a beep.
    edtDeviceCnt->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{0,2}")), edtDeviceCnt));
    new TDigitsOnly(edtDeviceCnt);
    edtEmails = new TCheckListBox(this);
    edtEmails->setObjectName(QStringLiteral("edtEmails"));
    edtEmails->setSortingEnabled(false); // the list keeps its own order
    edtEmails->setFixedHeight(110);
    edtEmails->SetList(&Emails);
    cbZYRplus = new QCheckBox(this);
    cbZYRplus->setObjectName(QStringLiteral("cbZYRplus"));

    btnAdd = new QPushButton(this);
    btnAdd->setObjectName(QStringLiteral("btnAdd"));
    btnCancel = new QPushButton(QStringLiteral("İptal"), this);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    // Enter belongs to the dialog as a whole (see the key preview below), never to a focused button.
    btnAdd->setAutoDefault(false);
    btnCancel->setAutoDefault(false);
    connect(btnAdd, &QPushButton::clicked, this, &TFormNewRecord::Confirm);
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);

    auto *grid = new QGridLayout;
    grid->setHorizontalSpacing(6);
    grid->setVerticalSpacing(6);
    grid->addWidget(FieldLabel(QStringLiteral("İsim"), this), 0, 0);
    grid->addWidget(edtName, 0, 1);
    grid->addWidget(FieldLabel(QStringLiteral("IP Adresi"), this), 1, 0);
    grid->addWidget(edtIP, 1, 1);
    grid->addWidget(FieldLabel(QStringLiteral("Aygıt Sayısı"), this), 2, 0);
    grid->addWidget(edtDeviceCnt, 2, 1, Qt::AlignLeft);
    grid->addWidget(FieldLabel(QStringLiteral("Bildirim\nAdresleri"), this), 3, 0);
    grid->addWidget(edtEmails, 3, 1);
    grid->addWidget(FieldLabel(QStringLiteral("ZYR+"), this), 4, 0);
    grid->addWidget(cbZYRplus, 4, 1);
    grid->setColumnMinimumWidth(0, 90);
    grid->setColumnMinimumWidth(1, 230);

    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(btnAdd);
    buttons->addWidget(btnCancel);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(10, 10, 10, 10);
    layout->setSpacing(10);
    layout->addLayout(grid);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    setTabOrder(edtName, edtIP);
    setTabOrder(edtIP, edtDeviceCnt);
    setTabOrder(edtDeviceCnt, edtEmails);
    setTabOrder(edtEmails, cbZYRplus);
    setTabOrder(cbZYRplus, btnAdd);
    setTabOrder(btnAdd, btnCancel);

    new TKeyPreview(this, [this](QWidget *, QKeyEvent *key) {
        const bool enter = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
        if (!enter && key->key() != Qt::Key_Escape)
            return false;
        if (key->type() == QEvent::KeyRelease) {
            if (enter)
                Confirm();
            else
                reject();
        }
        return true;
    });

    SetMode(false);
}

void TFormNewRecord::SetMode(bool Edit)
{
    edtName->clear();
    edtIP->clear();
    edtDeviceCnt->clear();
    UncheckAll(Emails);
    edtEmails->Refresh();
    btnAdd->setIcon(Glyph(Edit ? 10 : 6));
    setWindowTitle(Edit ? QStringLiteral("Kayıt Düzenle") : QStringLiteral("Yeni Kayıt"));
    btnAdd->setText(Edit ? QStringLiteral("Değiştir") : QStringLiteral("Kaydet"));
    if (!Edit)
        edtDeviceCnt->setText(QStringLiteral("0"));
}

void TFormNewRecord::SetAddresses(const TCheckList &Settings)
{
    Emails.Clear();
    for (int i = 0; i < Settings.Count(); ++i)
        Emails.Add(Settings.Text(i));
    edtEmails->Refresh();
}

void TFormNewRecord::SetFields(const TRecordFields &Fields)
{
    edtName->setText(Fields.Name);
    edtIP->setText(Fields.IP);
    edtDeviceCnt->setText(Fields.DeviceCnt);
    cbZYRplus->setChecked(Fields.ZYRplus);
    SetCheckedList(Emails, Fields.Email);
    edtEmails->Refresh();
}

TRecordFields TFormNewRecord::Fields() const
{
    return {
        edtName->text(), edtIP->text(), edtDeviceCnt->text(), GetCheckedList(Emails), cbZYRplus->isChecked()};
}

void TFormNewRecord::Confirm()
{
    edtName->setText(edtName->text().trimmed());
    edtIP->setText(edtIP->text().trimmed());
    edtDeviceCnt->setText(edtDeviceCnt->text().trimmed());
    if (edtIP->text().isEmpty()) {
        // The one message box of the program that belongs to its dialog.
        const TMessageBoxHook::TShown shown{
            QStringLiteral("HATA"), QStringLiteral("IP Adresi boş bırakılamaz"), QMessageBox::Critical};
        if (TMessageBoxHook::Take(shown, IDOK) < 0)
            QMessageBox(shown.Icon, shown.Title, shown.Text, QMessageBox::Ok, this).exec();
        return;
    }
    if (edtDeviceCnt->text().isEmpty())
        edtDeviceCnt->setText(QStringLiteral("0"));
    accept();
}

void TFormNewRecord::showEvent(QShowEvent *Event)
{
    if (QWidget *centre = parentWidget() ? parentWidget() : owner.data())
        move(centre->window()->frameGeometry().center() - QPoint(width() / 2, height() / 2));
    QDialog::showEvent(Event);
    edtName->setFocus();
}
