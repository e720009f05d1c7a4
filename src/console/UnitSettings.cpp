#include "console/UnitSettings.h"
#include "console/CheckListBox.h"
#include "console/DigitsOnly.h"
#include "console/KeyPreview.h"
#include "console/MessageBoxes.h"
#include "console/UnitNewRecord.h"
#include "platform/IniLines.h"
#include "platform/Integers.h"
#include "platform/SettingRules.h"
#include "records/SystemList.h"
#include "session/ConsoleSession.h"
#include "store/AppUtils.h"
#include <algorithm>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QTabWidget>
#include <QVBoxLayout>

namespace {

QCheckBox *Tick(const char *Name, const QString &Text, QWidget *Parent)
{
    auto *box = new QCheckBox(Text, Parent);
    box->setObjectName(QLatin1String(Name));
    return box;
}

QLineEdit *Field(const char *Name, QWidget *Parent)
{
    auto *field = new QLineEdit(Parent);
    field->setObjectName(QLatin1String(Name));
    return field;
}

QValidator *DigitsValidator(QObject *Parent)
{
    return new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), Parent);
}

} // namespace

TPeriodEdit::TPeriodEdit(QWidget *Parent)
    : QSpinBox(Parent)
{
    // The arrows keep to 1..1440; what is typed is checked by Save, so the box itself takes any number.
    setRange(0, 999999);
    setValue(kPeriodMin);
    setCorrectionMode(QAbstractSpinBox::CorrectToPreviousValue);
}

void TPeriodEdit::stepBy(int Steps)
{
    setValue(std::clamp(value() + Steps, kPeriodMin, kPeriodMax));
}

QAbstractSpinBox::StepEnabled TPeriodEdit::stepEnabled() const
{
    StepEnabled enabled = StepNone;
    if (value() < kPeriodMax)
        enabled |= StepUpEnabled;
    if (value() > kPeriodMin)
        enabled |= StepDownEnabled;
    return enabled;
}

QValidator::State TPeriodEdit::validate(QString &Input, int &) const
{
    for (QChar c : Input)
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return QValidator::Invalid;
    return Input.size() <= 6 ? QValidator::Acceptable : QValidator::Invalid;
}

int TPeriodEdit::valueFromText(const QString &Text) const
{
    return Text.toInt(); // empty gives 0, which Save refuses
}

TFormSettings::TFormSettings(TConsoleSession &Session, QWidget *Parent)
    : QDialog(Parent, Qt::Tool | Qt::MSWindowsFixedSizeDialogHint)
    , session(Session)
    , values(Session.Settings())
{
    setObjectName(QStringLiteral("FormSettings"));
    setWindowTitle(QStringLiteral("Ayarlar"));
    setModal(true);
    setStyleSheet(DialogStyleSheet());

    pageControl = new QTabWidget(this);
    pageControl->setObjectName(QStringLiteral("dxPageControl1"));
    auto *general = new QWidget;
    auto *mail = new QWidget;
    auto *addresses = new QWidget;
    BuildGeneralPage(general);
    BuildMailPage(mail);
    BuildAddressPage(addresses);
    pageControl->addTab(general, QStringLiteral("Genel"));
    pageControl->addTab(mail, QStringLiteral("E-Posta"));
    pageControl->addTab(addresses, QStringLiteral("Bildirim Adresleri"));

    btnSave = new QPushButton(QStringLiteral("Kaydet"), this);
    btnSave->setObjectName(QStringLiteral("btnSave"));
    btnCancel = new QPushButton(QStringLiteral("İptal"), this);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    connect(btnSave, &QPushButton::clicked, this, &TFormSettings::Save);
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);

    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(btnSave);
    buttons->addWidget(btnCancel);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 8, 8, 8);
    layout->addWidget(pageControl);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    // No button is a default button: Enter means nothing at the dialog level.
    for (QPushButton *button : findChildren<QPushButton *>()) {
        button->setAutoDefault(false);
        button->setDefault(false);
    }

    new TKeyPreview(this, [this](QWidget *target, QKeyEvent *key) {
        if (key->key() == Qt::Key_Escape) {
            if (key->type() == QEvent::KeyRelease)
                reject();
            return true;
        }
        const bool ctrl = key->modifiers() & Qt::ControlModifier;
        const bool enter = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
        if (ctrl && enter && target == edtEmail) {
            if (key->type() == QEvent::KeyRelease)
                AddMail();
            return true;
        }
        if (ctrl && key->key() == Qt::Key_Delete
            && (target == clbEmails || clbEmails->isAncestorOf(target))) {
            if (key->type() == QEvent::KeyRelease)
                DeleteMail();
            return true;
        }
        return false;
    });

    Bind();
    btnAddMail->setEnabled(false);
    ReadFields();
    // Settings changed elsewhere (loaded from the file) show at once.
    connect(&session, &TConsoleSession::SettingsChanged, this, [this] {
        if (!publishing)
            ReadFields();
    });
    // A status mail sent at the end of a cycle or by "Gönder" also keeps Test disabled and shows the
    // hourglass.
    connect(&session, &TConsoleSession::MailBusyChanged, this, &TFormSettings::SetMailBusy);
    connect(&session, &TConsoleSession::TestMailFinished, this, [this](bool Sent, const QString &Failure) {
        lblStatus->setText(Sent ? QStringLiteral("Başarılı") : QStringLiteral("Başarısız...") + Failure);
    });
    SetMailBusy(session.MailBusy());
}

TFormSettings::~TFormSettings()
{
    SetMailBusy(false);
}

void TFormSettings::Publish()
{
    publishing = true;
    session.SetSettings(values);
    publishing = false;
}

void TFormSettings::BuildGeneralPage(QWidget *Page)
{
    cbPerCtrl = Tick("cbPerCtrl", QStringLiteral("Periyodik olarak denetle"), Page);
    edtPeriod = new TPeriodEdit(Page);
    edtPeriod->setObjectName(QStringLiteral("edtPeriod"));
    edtPeriod->setFixedWidth(70);
    new TDigitsOnly(edtPeriod);
    lblDk = new QLabel(QStringLiteral("dk"), Page);
    lblDk->setObjectName(QStringLiteral("lblDk"));
    cbRunAtStartup
        = Tick("cbRunAtStartup", QStringLiteral("Bilgisayar açılışında otomatik olarak başlat"), Page);
    cbShowOnStartup = Tick("cbShowOnStartup", QStringLiteral("Açılışta ana pencereyi göster"), Page);
    cbCheckOnStartup = Tick("cbCheckOnStartup", QStringLiteral("Açılışta denetle"), Page);

    auto *group = new QGroupBox(QStringLiteral("Periyodik Denetlemeden Sonra"), Page);
    cbAfterCtrl = new QComboBox(group);
    cbAfterCtrl->setObjectName(QStringLiteral("cbAfterCtrl"));
    cbAfterCtrl->addItems({QStringLiteral("Her denetlemeden sonra yolla"),
        QStringLiteral("Alarm varsa yolla"), QStringLiteral("Yollama")});
    cbBeep = Tick("cbBeep", QStringLiteral("Alarm varsa sesli uyarı ver"), group);
    cbDesktopNotify = Tick("cbDesktopNotify", QStringLiteral("Masaüstü bildirimi"), group);
    auto *groupLayout = new QGridLayout(group);
    groupLayout->addWidget(FieldLabel(QStringLiteral("E-Posta"), group), 0, 0);
    groupLayout->addWidget(cbAfterCtrl, 0, 1);
    groupLayout->addWidget(cbBeep, 1, 0, 1, 2);
    groupLayout->addWidget(cbDesktopNotify, 2, 0, 1, 2);
    groupLayout->setColumnStretch(1, 1);

    auto *period = new QHBoxLayout;
    period->addWidget(cbPerCtrl);
    period->addWidget(edtPeriod);
    period->addWidget(lblDk);
    period->addStretch();

    edtHistoryDays = new QSpinBox(Page);
    edtHistoryDays->setObjectName(QStringLiteral("edtHistoryDays"));
    edtHistoryDays->setRange(kHistoryDaysMin, kHistoryDaysMax);
    edtHistoryDays->setFixedWidth(70);
    auto *history = new QHBoxLayout;
    auto *keep = FieldLabel(QStringLiteral("Geçmişi sakla"), Page);
    keep->setObjectName(QStringLiteral("lblHistoryDays"));
    keep->setBuddy(edtHistoryDays);
    auto *days = new QLabel(QStringLiteral("gün"), Page);
    days->setObjectName(QStringLiteral("lblGun"));
    history->addWidget(keep);
    history->addWidget(edtHistoryDays);
    history->addWidget(days);
    history->addStretch();

    edtAlarmAfter = new QSpinBox(Page);
    edtAlarmAfter->setObjectName(QStringLiteral("edtAlarmAfter"));
    edtAlarmAfter->setRange(kAlarmAfterMin, kAlarmAfterMax);
    edtAlarmAfter->setFixedWidth(70);
    auto *alarmAfter = new QHBoxLayout;
    auto *after = FieldLabel(QStringLiteral("Alarm için art arda hatalı denetim sayısı"), Page);
    after->setObjectName(QStringLiteral("lblAlarmAfter"));
    // Two lines: the page keeps its width.
    after->setWordWrap(true);
    after->setBuddy(edtAlarmAfter);
    alarmAfter->addWidget(after);
    alarmAfter->addWidget(edtAlarmAfter);
    alarmAfter->addStretch();

    edtRetryInterval = new QSpinBox(Page);
    edtRetryInterval->setObjectName(QStringLiteral("edtRetryInterval"));
    edtRetryInterval->setRange(kRetryIntervalMin, kRetryIntervalMax);
    edtRetryInterval->setFixedWidth(70);
    auto *retry = new QHBoxLayout;
    auto *again = FieldLabel(QStringLiteral("Yeniden denetleme aralığı"), Page);
    again->setObjectName(QStringLiteral("lblRetryInterval"));
    again->setBuddy(edtRetryInterval);
    auto *seconds = new QLabel(QStringLiteral("sn"), Page);
    seconds->setObjectName(QStringLiteral("lblSn"));
    retry->addWidget(again);
    retry->addWidget(edtRetryInterval);
    retry->addWidget(seconds);
    retry->addStretch();

    auto *layout = new QVBoxLayout(Page);
    layout->addLayout(period);
    layout->addWidget(cbRunAtStartup);
    layout->addWidget(cbShowOnStartup);
    layout->addWidget(cbCheckOnStartup);
    layout->addWidget(group);
    layout->addLayout(history);
    layout->addLayout(alarmAfter);
    layout->addLayout(retry);
    layout->addStretch();
}

void TFormSettings::BuildMailPage(QWidget *Page)
{
    edtHost = Field("edtHost", Page);
    edtUsername = Field("edtUsername", Page);
    edtPassword = Field("edtPassword", Page);
    edtPassword->setEchoMode(QLineEdit::Password);
    edtPort = Field("edtPort", Page);
    edtPort->setValidator(DigitsValidator(edtPort));
    edtPort->setFixedWidth(70);
    new TDigitsOnly(edtPort);
    edtPort->installEventFilter(this);
    cbAuth = Tick("cbAuth", QStringLiteral("Kimlik Doğrulaması"), Page);
    cbSSL = Tick("cbSSL", QStringLiteral("Bağlantı Güvenliği (SSL/TLS)"), Page);
    edtFrom = Field("edtFrom", Page);
    btnTest = new QPushButton(QStringLiteral("Test"), Page);
    btnTest->setObjectName(QStringLiteral("btnTest"));
    connect(btnTest, &QPushButton::clicked, this, &TFormSettings::TestMail);
    lblStatus = new QLabel(Page);
    lblStatus->setObjectName(QStringLiteral("lblStatus"));
    lblStatus->setWordWrap(true);
    lblStatus->setMinimumHeight(34);
    lblStatus->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    lblStatus->hide();

    auto *grid = new QGridLayout;
    int row = 0;
    grid->addWidget(FieldLabel(QStringLiteral("Sunucu Adı"), Page), row, 0);
    grid->addWidget(edtHost, row++, 1);
    grid->addWidget(FieldLabel(QStringLiteral("Kullanıcı Adı"), Page), row, 0);
    grid->addWidget(edtUsername, row++, 1);
    grid->addWidget(FieldLabel(QStringLiteral("Şifre"), Page), row, 0);
    grid->addWidget(edtPassword, row++, 1);
    grid->addWidget(FieldLabel(QStringLiteral("Port"), Page), row, 0);
    grid->addWidget(edtPort, row++, 1, Qt::AlignLeft);
    grid->addWidget(cbAuth, row++, 1);
    grid->addWidget(cbSSL, row++, 1);
    grid->addWidget(FieldLabel(QStringLiteral("Kimden"), Page), row, 0);
    grid->addWidget(edtFrom, row++, 1);
    grid->setColumnMinimumWidth(0, 100);
    grid->setColumnStretch(1, 1);

    auto *test = new QHBoxLayout;
    test->addWidget(btnTest, 0, Qt::AlignLeft | Qt::AlignTop);
    test->addWidget(lblStatus, 1);

    auto *layout = new QVBoxLayout(Page);
    layout->addLayout(grid);
    layout->addLayout(test);
    layout->addStretch();
}

void TFormSettings::BuildAddressPage(QWidget *Page)
{
    edtEmail = Field("edtEmail", Page);
    btnAddMail = new QPushButton(QStringLiteral("Ekle"), Page);
    btnAddMail->setObjectName(QStringLiteral("btnAddMail"));
    btnDelMail = new QPushButton(QStringLiteral("Sil"), Page);
    btnDelMail->setObjectName(QStringLiteral("btnDelMail"));
    clbEmails = new TCheckListBox(Page);
    clbEmails->setObjectName(QStringLiteral("clbEmails"));
    connect(btnAddMail, &QPushButton::clicked, this, &TFormSettings::AddMail);
    connect(btnDelMail, &QPushButton::clicked, this, &TFormSettings::DeleteMail);

    auto *top = new QHBoxLayout;
    top->addWidget(edtEmail, 1);
    top->addWidget(btnAddMail);
    top->addWidget(btnDelMail);
    auto *layout = new QVBoxLayout(Page);
    layout->addLayout(top);
    layout->addWidget(clbEmails, 1);
}

void TFormSettings::Bind()
{
    // Each edit goes straight into the live settings; ReadFields sets the controls without echoing back.
    auto tick = [this](QCheckBox *box, bool TLiveSettings::*field) {
        connect(box, &QCheckBox::toggled, this, [this, field](bool on) {
            if (reading)
                return;
            values.*field = on;
            Publish();
        });
    };
    auto text = [this](QLineEdit *edit, QString TLiveSettings::*field) {
        connect(edit, &QLineEdit::textChanged, this, [this, field](const QString &value) {
            if (reading)
                return;
            values.*field = TrimBlanks(value);
            Publish();
        });
    };
    tick(cbRunAtStartup, &TLiveSettings::RunAtStartup);
    tick(cbShowOnStartup, &TLiveSettings::ShowMainOnStart);
    tick(cbCheckOnStartup, &TLiveSettings::CheckOnStart);
    tick(cbBeep, &TLiveSettings::BeepAlarm);
    tick(cbDesktopNotify, &TLiveSettings::DesktopNotify);
    tick(cbAuth, &TLiveSettings::AuthType);
    tick(cbSSL, &TLiveSettings::SSL);
    text(edtHost, &TLiveSettings::Host);
    text(edtUsername, &TLiveSettings::Username);
    text(edtPassword, &TLiveSettings::Password);
    text(edtFrom, &TLiveSettings::From);
    // An empty or unreadable port is port 25.
    connect(edtPort, &QLineEdit::textChanged, this, [this](const QString &value) {
        if (reading)
            return;
        values.Port = ReadIntegerDef(TrimBlanks(value), 25);
        Publish();
    });
    connect(edtPeriod->findChild<QLineEdit *>(), &QLineEdit::textChanged, this, [this] { TakePeriod(); });
    connect(cbPerCtrl, &QCheckBox::toggled, this, [this](bool on) {
        edtPeriod->setVisible(on);
        lblDk->setVisible(on);
        TakePeriod();
    });
    connect(edtHistoryDays, &QSpinBox::valueChanged, this, [this](int days) {
        if (reading)
            return;
        values.HistoryDays = days;
        Publish();
    });
    connect(edtAlarmAfter, &QSpinBox::valueChanged, this, [this](int count) {
        if (reading)
            return;
        values.AlarmAfter = count;
        Publish();
    });
    connect(edtRetryInterval, &QSpinBox::valueChanged, this, [this](int seconds) {
        if (reading)
            return;
        values.RetryInterval = seconds;
        Publish();
    });
    connect(cbAfterCtrl, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (reading || index < 0)
            return;
        values.MailAfterCtrl = index;
        Publish();
    });
    connect(edtEmail, &QLineEdit::textChanged, this,
        [this](const QString &value) { btnAddMail->setEnabled(!value.trimmed().isEmpty()); });
    clbEmails->SetList(&values.Emails);
    connect(clbEmails, &TCheckListBox::Ticked, this, &TFormSettings::Publish);
}

void TFormSettings::TakePeriod()
{
    // Unticked, or a period field that is blank or no number: periodic checking is off.
    if (reading)
        return;
    values.Period = cbPerCtrl->isChecked()
        ? ReadIntegerDef(TrimBlanks(edtPeriod->findChild<QLineEdit *>()->text()), 0)
        : 0;
    Publish();
}

void TFormSettings::ReadFields()
{
    reading = true;
    values = session.Settings();
    // A period that is off leaves the field as it was (1 at first), for when the box is ticked again.
    const bool periodic = values.Period > 0;
    cbPerCtrl->setChecked(periodic);
    if (periodic)
        edtPeriod->findChild<QLineEdit *>()->setText(QString::number(values.Period));
    edtPeriod->setVisible(periodic);
    lblDk->setVisible(periodic);
    cbRunAtStartup->setChecked(values.RunAtStartup);
    cbShowOnStartup->setChecked(values.ShowMainOnStart);
    cbCheckOnStartup->setChecked(values.CheckOnStart);
    // A choice outside the three items shows none of them and stays as it was.
    const int afterCtrl = values.MailAfterCtrl;
    cbAfterCtrl->setCurrentIndex(afterCtrl >= 0 && afterCtrl < cbAfterCtrl->count() ? afterCtrl : -1);
    cbBeep->setChecked(values.BeepAlarm);
    cbDesktopNotify->setChecked(values.DesktopNotify);
    edtHistoryDays->setValue(values.HistoryDays);
    edtAlarmAfter->setValue(values.AlarmAfter);
    edtRetryInterval->setValue(values.RetryInterval);
    edtHost->setText(values.Host);
    edtUsername->setText(values.Username);
    edtPassword->setText(values.Password);
    edtPort->setText(QString::number(values.Port));
    cbAuth->setChecked(values.AuthType);
    cbSSL->setChecked(values.SSL);
    edtFrom->setText(values.From);
    clbEmails->Refresh();
    reading = false;
}

void TFormSettings::PrepareShow()
{
    lblStatus->hide();
    pageControl->setCurrentIndex(0);
    edtEmail->clear();
    session.LoadSettings();
    // Also when the file holds what is in force already: a cancelled showing may have left a field that
    // shows it otherwise (a blank period or port).
    ReadFields();
}

int TFormSettings::Execute()
{
    PrepareShow();
    const int result = exec();
    if (result == QDialog::Accepted)
        session.ApplySettings();
    return result;
}

void TFormSettings::showEvent(QShowEvent *Event)
{
    if (QWidget *centre = parentWidget() ? parentWidget() : owner.data())
        move(centre->window()->frameGeometry().center() - QPoint(width() / 2, height() / 2));
    QDialog::showEvent(Event);
}

bool TFormSettings::eventFilter(QObject *Watched, QEvent *Event)
{
    // Leaving the port field shows the port that will be used: 25 for an empty or unreadable text.
    if (Watched == edtPort && Event->type() == QEvent::FocusOut)
        edtPort->setText(QString::number(values.Port));
    return QDialog::eventFilter(Watched, Event);
}

void TFormSettings::AddMail()
{
    const QString address = edtEmail->text().trimmed();
    if (address.isEmpty())
        return;
    if (IsInvalidEmail(address)) {
        ErrorBox(QStringLiteral("Geçersiz e-posta adresi."));
        return;
    }
    if (values.Emails.IndexOf(address) >= 0) {
        ErrorBox(QStringLiteral("Girilen e-posta adresi zaten kayıtlı."));
        return;
    }
    const int index = values.Emails.Add(address);
    Publish();
    clbEmails->Refresh();
    clbEmails->setCurrentRow(index);
    edtEmail->clear();
}

void TFormSettings::DeleteMail()
{
    const int index = clbEmails->currentRow();
    if (index < 0 || index >= values.Emails.Count() || !clbEmails->item(index)->isSelected())
        return;
    if (ConfirmBox(QStringLiteral("Seçili kayıt silinsin mi?")) != IDOK)
        return;
    const QString address = values.Emails.Text(index);
    if (session.AddressInUse(address)) {
        if (ConfirmBox(QStringLiteral("Seçilen mail adresi kullanılıyor. Yine de silinsin mi?")) != IDOK)
            return;
        session.RemoveAddress(address);
    }
    values.Emails.Delete(index);
    Publish();
    clbEmails->Refresh();
}

void TFormSettings::SetMailBusy(bool Busy)
{
    btnTest->setEnabled(!Busy);
    if (Busy == mailBusy)
        return;
    mailBusy = Busy;
    if (Busy)
        QApplication::setOverrideCursor(Qt::WaitCursor);
    else
        QApplication::restoreOverrideCursor();
}

void TFormSettings::TestMail()
{
    if (values.To().isEmpty()) {
        ErrorBox(QStringLiteral("En az bir \"Bildirim Adresi\" seçilmesi gerekir"));
        return;
    }
    lblStatus->clear();
    lblStatus->show();
    // Sent on the mail thread; the outcome comes back through TestMailFinished.
    session.SendTestMail(values);
}

void TFormSettings::Save()
{
    // Ticked, the period is the field's number: blank or unreadable it is 0, and refused.
    if (cbPerCtrl->isChecked()) {
        if (!PeriodAccepted(values.Period)) {
            ErrorBox(QStringLiteral("\"Period\" değerini kontrol ediniz"));
            edtPeriod->setFocus();
            return;
        }
    }
    try {
        session.SaveSettings();
    } catch (const std::exception &error) {
        // The dialog stays open; keys written before the failure stay written.
        ShowGeneralError(QString::fromUtf8(error.what()));
        return;
    }
    accept();
}
