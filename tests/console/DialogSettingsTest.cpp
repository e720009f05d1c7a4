// The settings dialog on the live settings: what it shows, what it refuses, what a cancel leaves in force,
// saving, and the test mail against a real SMTP server on loopback.
#include "console/CheckListBox.h"
#include "console/DigitsOnly.h"
#include "console/UnitSettings.h"
#include "dialogs/DialogTestUtil.h"
#include "engine/CheckEngine.h"
#include "records/SystemList.h"
#include <QCheckBox>
#include <QComboBox>
#include <QDirIterator>
#include <QFocusEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTabWidget>
#include <QThread>

namespace {

class SettingsDialog : public ::testing::Test
{
protected:
    TSandbox sandbox;
    int beeps = 0;
    std::unique_ptr<TLiveSettings> live;
    std::unique_ptr<TFormSettings> dialog;

    void SetUp() override
    {
        TDigitsOnly::Beep = [this] { ++beeps; };
    }
    void TearDown() override
    {
        dialog.reset();
        TDigitsOnly::Beep = nullptr;
    }

    QString IniPath() const { return sandbox.Path(QStringLiteral("ZYRdenetleyici.ini")); }
    void WriteIni(const QByteArray &Text)
    {
        QFile file(IniPath());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(Text);
    }
    QString ReadIni() const
    {
        QFile file(IniPath());
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }
    TFormSettings &Open()
    {
        dialog.reset();
        live = std::make_unique<TLiveSettings>(sandbox.Path(QString()));
        live->LoadSettings();
        dialog = std::make_unique<TFormSettings>(*live);
        return *dialog;
    }
    // The settings command with Step run while the dialog is up.
    int Execute(const std::function<void()> &Step)
    {
        return WhileModal([&] { return dialog->Execute(); }, Step);
    }
    QStringList Texts() const
    {
        QStringList texts;
        for (const auto &box : TMessageBoxHook::Shown)
            texts << box.Title + QStringLiteral(": ") + box.Text;
        return texts;
    }
};

TEST_F(SettingsDialog, WithoutAFileShowsTheDefaults)
{
    TFormSettings &d = Open();
    EXPECT_EQ(d.windowTitle(), QStringLiteral("Ayarlar"));
    ASSERT_EQ(d.pageControl->count(), 3);
    EXPECT_EQ(d.pageControl->tabText(0), QStringLiteral("Genel"));
    EXPECT_EQ(d.pageControl->tabText(1), QStringLiteral("E-Posta"));
    EXPECT_EQ(d.pageControl->tabText(2), QStringLiteral("Bildirim Adresleri"));
    EXPECT_FALSE(d.cbPerCtrl->isChecked());
    EXPECT_FALSE(d.edtPeriod->isVisibleTo(&d));
    EXPECT_FALSE(d.lblDk->isVisibleTo(&d));
    EXPECT_TRUE(d.cbRunAtStartup->isChecked());
    EXPECT_TRUE(d.cbShowOnStartup->isChecked());
    EXPECT_TRUE(d.cbCheckOnStartup->isChecked());
    EXPECT_EQ(d.cbAfterCtrl->currentText(), QStringLiteral("Alarm varsa yolla"));
    EXPECT_TRUE(d.cbBeep->isChecked());
    EXPECT_EQ(d.edtPort->text(), QStringLiteral("25"));
    EXPECT_TRUE(d.cbAuth->isChecked());
    EXPECT_FALSE(d.cbSSL->isChecked());
    EXPECT_EQ(d.clbEmails->count(), 0);
    EXPECT_FALSE(d.btnAddMail->isEnabled());
    EXPECT_EQ(d.edtPassword->echoMode(), QLineEdit::Password);
    for (QPushButton *button : d.findChildren<QPushButton *>())
        EXPECT_FALSE(button->autoDefault() || button->isDefault()) << button->text().toStdString();

    d.cbPerCtrl->click();
    EXPECT_TRUE(d.edtPeriod->isVisibleTo(&d));
    EXPECT_TRUE(d.lblDk->isVisibleTo(&d));
    EXPECT_EQ(d.Settings.Period, 1);
}

TEST_F(SettingsDialog, NumberFieldsTakeDigitsOnlyAndAnEmptyPortBecomes25)
{
    TFormSettings &d = Open();
    d.show();
    d.cbPerCtrl->setChecked(true);
    QLineEdit *period = d.edtPeriod->findChild<QLineEdit *>();
    period->selectAll();
    for (QChar c : QStringLiteral("1x5"))
        TypeChar(d.edtPeriod, c);
    EXPECT_EQ(period->text(), QStringLiteral("15"));
    EXPECT_EQ(d.Settings.Period, 15);
    EXPECT_EQ(beeps, 1);

    d.edtPort->clear();
    for (QChar c : QStringLiteral("5a8-7"))
        TypeChar(d.edtPort, c);
    EXPECT_EQ(d.edtPort->text(), QStringLiteral("587"));
    EXPECT_EQ(d.Settings.Port, 587);
    EXPECT_EQ(beeps, 3);
    d.edtPort->clear();
    EXPECT_EQ(d.Settings.Port, 25) << "an emptied port is port 25 at once, also for a save";
    QFocusEvent out(QEvent::FocusOut);
    QApplication::sendEvent(d.edtPort, &out);
    EXPECT_EQ(d.edtPort->text(), QStringLiteral("25"));
    d.hide();
}

// Unticked or unreadable, the period is off; the field keeps its number for the next tick, also through a
// reload of a file whose period is off.
TEST_F(SettingsDialog, PeriodOffKeepsTheFieldAndABlankPeriodIsOff)
{
    WriteIni("[General]\r\nPeriod=30\r\n");
    TFormSettings &d = Open();
    QLineEdit *period = d.edtPeriod->findChild<QLineEdit *>();
    EXPECT_TRUE(d.cbPerCtrl->isChecked());
    EXPECT_EQ(period->text(), QStringLiteral("30"));
    EXPECT_EQ(d.Settings.Period, 30);
    d.cbPerCtrl->setChecked(false);
    EXPECT_EQ(d.Settings.Period, 0);

    WriteIni("[General]\r\nPeriod=-5\r\n");
    Execute([&] {
        EXPECT_FALSE(d.cbPerCtrl->isChecked());
        EXPECT_FALSE(d.edtPeriod->isVisible());
        EXPECT_EQ(period->text(), QStringLiteral("30"));
        EXPECT_EQ(d.Settings.Period, 0);
        d.cbPerCtrl->setChecked(true);
        EXPECT_EQ(d.Settings.Period, 30);
        period->clear();
        EXPECT_EQ(d.Settings.Period, 0) << "a blank period is off, never garbage";
        d.reject();
    });
}

TEST_F(SettingsDialog, AddRefusesBadAndKnownAddresses)
{
    TFormSettings &d = Open();
    d.show();
    d.Settings.Emails.Add(QStringLiteral("b@x.com"));
    struct TCase
    {
        const char *Typed, *Error;
    } cases[] = {
        {"yanlış adres", "Geçersiz e-posta adresi."},
        {"@x.com", "Geçersiz e-posta adresi."},
        {"B@X.COM", "Girilen e-posta adresi zaten kayıtlı."},
    };
    for (const TCase &c : cases) {
        TMessageBoxHook::Clear();
        d.edtEmail->setText(QString::fromUtf8(c.Typed));
        d.btnAddMail->click();
        EXPECT_EQ(Texts(), QStringList{QStringLiteral("HATA: ") + QString::fromUtf8(c.Error)}) << c.Typed;
        EXPECT_EQ(d.edtEmail->text(), QString::fromUtf8(c.Typed)); // the field keeps its text
    }
    EXPECT_EQ(d.Settings.Emails.Items(), QStringList{QStringLiteral("b@x.com")});

    // Ctrl+Enter adds like the button, at the sorted place, unticked; in a blank field it does nothing.
    TMessageBoxHook::Clear();
    d.edtEmail->setText(QStringLiteral("   "));
    EXPECT_FALSE(d.btnAddMail->isEnabled());
    d.edtEmail->setFocus();
    KeyClick(d.edtEmail, Qt::Key_Return, Qt::ControlModifier);
    EXPECT_TRUE(TMessageBoxHook::Shown.isEmpty());
    EXPECT_EQ(d.clbEmails->count(), 1);
    d.edtEmail->setText(QStringLiteral(" a@x.com "));
    EXPECT_TRUE(d.btnAddMail->isEnabled());
    KeyClick(d.edtEmail, Qt::Key_Return, Qt::ControlModifier);
    EXPECT_TRUE(TMessageBoxHook::Shown.isEmpty());
    EXPECT_EQ(d.Settings.Emails.Items(), (QStringList{QStringLiteral("a@x.com"), QStringLiteral("b@x.com")}));
    EXPECT_EQ(d.clbEmails->item(0)->checkState(), Qt::Unchecked);
    EXPECT_EQ(d.edtEmail->text(), QString());
    EXPECT_TRUE(d.isVisible()); // Enter is no confirm here
    d.hide();
}

TEST_F(SettingsDialog, DeletingAnAddressInUseAsksTwice)
{
    TSystemList records;
    TSystemRecord record;
    record.Cells = {QStringLiteral("1"), QStringLiteral("Merkez"), QStringLiteral("h"),
        QStringLiteral("a@x.com,b@x.com")};
    records.Add(record);
    TFormSettings &d = Open();
    int changed = 0;
    d.Records = &records;
    d.RecordsChanged = [&] { ++changed; };
    d.Settings.Emails.Add(QStringLiteral("a@x.com"));
    d.Settings.Emails.Add(QStringLiteral("b@x.com"));
    d.show();

    d.btnDelMail->click(); // nothing selected
    EXPECT_TRUE(TMessageBoxHook::Shown.isEmpty());

    d.clbEmails->setCurrentRow(0);
    for (int firstAnswer : {IDCANCEL, IDOK}) {
        TMessageBoxHook::Clear();
        TMessageBoxHook::SetNextAnswer(firstAnswer);
        TMessageBoxHook::SetNextAnswer(IDCANCEL);
        d.btnDelMail->click();
        EXPECT_EQ(d.Settings.Emails.Count(), 2);
        EXPECT_EQ(records.Cell(0, TSystemRecord::Email), QStringLiteral("a@x.com,b@x.com"));
    }
    EXPECT_EQ(Texts(),
        (QStringList{QStringLiteral("ONAY: Seçili kayıt silinsin mi?"),
            QStringLiteral("ONAY: Seçilen mail adresi kullanılıyor. Yine de silinsin mi?")}));
    EXPECT_EQ(changed, 0);

    // Ctrl+Delete in the list, answered OK twice.
    TMessageBoxHook::Clear();
    TMessageBoxHook::SetNextAnswer(IDOK);
    TMessageBoxHook::SetNextAnswer(IDOK);
    d.clbEmails->setFocus();
    d.clbEmails->setCurrentRow(0);
    KeyClick(d.clbEmails, Qt::Key_Delete, Qt::ControlModifier);
    EXPECT_EQ(d.Settings.Emails.Items(), QStringList{QStringLiteral("b@x.com")});
    EXPECT_EQ(records.Cell(0, TSystemRecord::Email), QStringLiteral("b@x.com"));
    EXPECT_EQ(changed, 1);
    EXPECT_FALSE(QFile::exists(IniPath())); // the file changes only on Save
    d.hide();
}

TEST_F(SettingsDialog, CancelLeavesEditsLiveUntilTheNextShowing)
{
    WriteIni("[Smtp]\r\nTo=a@x.com,b@x.com\r\n[General]\r\nMailAfterCtrl=0\r\n[Emails]\r\na@x.com=\r\nb@x."
             "com=\r\n");
    TFormSettings &d = Open();
    ASSERT_EQ(d.Settings.To(), QStringLiteral("a@x.com,b@x.com"));
    int applied = 0;
    d.Applied = [&] { ++applied; };
    const int first = Execute([&] {
        d.clbEmails->item(0)->setCheckState(Qt::Unchecked);
        d.cbAfterCtrl->setCurrentIndex(2);
        KeyClick(d.clbEmails, Qt::Key_Escape);
    });
    EXPECT_EQ(first, QDialog::Rejected);
    EXPECT_EQ(d.Settings.To(), QStringLiteral("b@x.com"));
    EXPECT_EQ(d.Settings.MailAfterCtrl, 2);
    EXPECT_EQ(applied, 0);

    QString toOnShow;
    int afterOnShow = -1;
    Execute([&] {
        toOnShow = d.Settings.To();
        afterOnShow = d.cbAfterCtrl->currentIndex();
        d.btnCancel->click();
    });
    EXPECT_EQ(toOnShow, QStringLiteral("a@x.com,b@x.com"));
    EXPECT_EQ(afterOnShow, 0);
}

TEST_F(SettingsDialog, BadPeriodIsRefusedWithTheFocusInThePeriodField)
{
    TFormSettings &d = Open();
    d.Applied = [] { ADD_FAILURE() << "applied after a refused save"; };
    for (const char *text : {"", "0", "1441"}) {
        TMessageBoxHook::Clear();
        bool open = false;
        bool focused = false;
        const int result = Execute([&] {
            d.cbPerCtrl->setChecked(true);
            d.edtPeriod->findChild<QLineEdit *>()->setText(QLatin1String(text));
            d.btnSave->click();
            open = d.isVisible();
            focused = d.focusWidget() == d.edtPeriod || d.edtPeriod->isAncestorOf(d.focusWidget());
            d.reject();
        });
        EXPECT_EQ(result, QDialog::Rejected);
        EXPECT_TRUE(open) << text;
        EXPECT_TRUE(focused) << text;
        EXPECT_EQ(Texts(), QStringList{QStringLiteral("HATA: \"Period\" değerini kontrol ediniz")}) << text;
        EXPECT_FALSE(QFile::exists(IniPath()));
    }
}

TEST_F(SettingsDialog, SaveWritesTheFileAndApplies)
{
    TFormSettings &d = Open();
    int applied = 0;
    d.Applied = [&] { ++applied; };
    const int result = Execute([&] {
        EXPECT_EQ(d.pageControl->currentIndex(), 0);
        d.cbRunAtStartup->setChecked(false);
        d.cbPerCtrl->setChecked(true);
        d.edtPeriod->findChild<QLineEdit *>()->setText(QStringLiteral("1440"));
        d.edtHost->setText(QStringLiteral(" smtp.example.com "));
        d.btnSave->click();
    });
    EXPECT_EQ(result, QDialog::Accepted);
    EXPECT_EQ(applied, 1);
    const QString ini = ReadIni();
    EXPECT_TRUE(ini.contains(QStringLiteral("Period=1440"))) << ini.toStdString();
    EXPECT_TRUE(ini.contains(QStringLiteral("Host=smtp.example.com"))) << ini.toStdString();
    EXPECT_TRUE(ini.contains(QStringLiteral("RunAtStartup=0"))) << ini.toStdString();
    EXPECT_EQ(d.Settings.Host, QStringLiteral("smtp.example.com")) << "the live text has no blanks around it";
}

TEST_F(SettingsDialog, AFailedWriteReachesTheGeneralErrorDisplayAndKeepsTheDialogOpen)
{
    TFormSettings &d = Open();
    ASSERT_TRUE(QDir().mkpath(IniPath())); // a folder where the file should be: no write succeeds
    d.Applied = [] { ADD_FAILURE() << "applied after a failed save"; };
    bool open = false;
    Execute([&] {
        d.cbRunAtStartup->setChecked(false);
        d.btnSave->click();
        open = d.isVisible();
        d.reject();
    });
    EXPECT_TRUE(open);
    ASSERT_EQ(TMessageBoxHook::Shown.size(), 1);
    EXPECT_EQ(TMessageBoxHook::Shown[0].Title, QStringLiteral("ZYRdenetleyici"));
    EXPECT_EQ(
        TMessageBoxHook::Shown[0].Text, QStringLiteral("Unable to write to ") + IniPath() + QLatin1Char('.'));
}

TEST_F(SettingsDialog, TestMailNeedsATickAndReportsItsOutcome)
{
    TFormSettings &d = Open();
    TSystemList records;
    TCheckEngine engine(records, d.Settings);
    d.SetEngine(&engine);
    d.Settings.Emails.Add(QStringLiteral("b@x.com"));
    d.Settings.Emails.Add(QStringLiteral("a@x.com"));
    d.show();
    d.btnTest->click();
    EXPECT_EQ(Texts(), QStringList{QStringLiteral("HATA: En az bir \"Bildirim Adresi\" seçilmesi gerekir")});
    EXPECT_TRUE(d.lblStatus->isHidden());

    TSmtpSink sink(sandbox.Path(QStringLiteral("mails")));
    ASSERT_GT(sink.Port(), 0) << "the SMTP server did not start";
    d.Settings.Emails.SetChecked(0, true);
    d.Settings.Emails.SetChecked(1, true);
    d.edtHost->setText(QStringLiteral("127.0.0.1"));
    d.edtPort->setText(QString::number(sink.Port()));
    d.edtFrom->setText(QStringLiteral("denetleyici@example.com"));
    d.btnTest->click();
    // Sent on the engine's mail thread: Test is disabled and the hourglass shown until it is out.
    EXPECT_FALSE(d.btnTest->isEnabled());
    EXPECT_NE(QApplication::overrideCursor(), nullptr);
    ASSERT_TRUE(WaitUntil([&] { return !d.lblStatus->text().isEmpty(); }));
    EXPECT_EQ(d.lblStatus->text(), QStringLiteral("Başarılı"));
    EXPECT_FALSE(d.lblStatus->isHidden());
    EXPECT_TRUE(d.btnTest->isEnabled());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    // One mail, to the first ticked address in list order.
    EXPECT_EQ(sink.Recipients(), QStringList{QStringLiteral("a@x.com")});

    sink.Stop();
    d.btnTest->click();
    ASSERT_TRUE(WaitUntil([&] { return !d.lblStatus->text().isEmpty(); }));
    EXPECT_TRUE(d.lblStatus->text().startsWith(QStringLiteral("Başarısız...")));
    EXPECT_GT(d.lblStatus->text().size(), QStringLiteral("Başarısız...").size())
        << "the failure's message follows";
    EXPECT_TRUE(d.btnTest->isEnabled());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_TRUE(sandbox.LogText().contains(QStringLiteral("E-posta gönderiminde hata: ")))
        << sandbox.LogText().toStdString();
    d.hide();

    // The next showing starts with the result hidden.
    bool statusShown = true;
    Execute([&] {
        statusShown = !d.lblStatus->isHidden();
        d.reject();
    });
    EXPECT_FALSE(statusShown);
}

TEST_F(SettingsDialog, AStatusMailInProgressDisablesTest)
{
    TFormSettings &d = Open();
    d.SetMailBusy(true);
    EXPECT_FALSE(d.btnTest->isEnabled());
    EXPECT_NE(QApplication::overrideCursor(), nullptr);
    d.SetMailBusy(false);
    EXPECT_TRUE(d.btnTest->isEnabled());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

} // namespace
