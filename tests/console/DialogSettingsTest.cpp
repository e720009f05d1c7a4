// The settings dialog on a session's live settings: what it shows, what it refuses, what a cancel leaves in
// force, saving and applying, and the test mail against a real SMTP server on loopback.
#include "console/CheckListBox.h"
#include "console/DigitsOnly.h"
#include "console/UnitSettings.h"
#include "dialogs/DialogTestUtil.h"
#include "records/SystemListFile.h"
#include "session/ConsoleSession.h"
#include <atomic>
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
    std::unique_ptr<TConsoleSession> session;
    std::unique_ptr<TFormSettings> dialog;

    void SetUp() override
    {
        TDigitsOnly::Beep = [this] { ++beeps; };
    }
    void TearDown() override
    {
        dialog.reset();
        session.reset();
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
    // A session with the settings of the file, as the program starts, and the dialog on it.
    TFormSettings &Open()
    {
        dialog.reset();
        session.reset();
        session = std::make_unique<TConsoleSession>(
            sandbox.Path(QString()), QStringLiteral("ZYRdenetleyici.dat"));
        session->LoadSettings();
        dialog = std::make_unique<TFormSettings>(*session);
        return *dialog;
    }
    template <class T> T *C(const char *Name) const { return Child<T>(dialog.get(), Name); }
    const TLiveSettings &Live() const { return session->Settings(); }
    // Changes the live settings as another part of the program would.
    void Edit(const std::function<void(TLiveSettings &)> &Change)
    {
        TLiveSettings s = session->Settings();
        Change(s);
        session->SetSettings(s);
    }
    // The periodic timer armed for five minutes: settings applied since, whose period is another, show on it.
    void ArmTimer()
    {
        Edit([](TLiveSettings &s) { s.Period = 5; });
        session->ApplySettings();
        ASSERT_TRUE(session->Engine().PeriodTimer->isActive());
    }
    bool Applied() const
    {
        const QTimer *timer = session->Engine().PeriodTimer;
        return !timer->isActive() || timer->interval() != 5 * 60000;
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
    ASSERT_EQ(C<QTabWidget>("dxPageControl1")->count(), 3);
    EXPECT_EQ(C<QTabWidget>("dxPageControl1")->tabText(0), QStringLiteral("Genel"));
    EXPECT_EQ(C<QTabWidget>("dxPageControl1")->tabText(1), QStringLiteral("E-Posta"));
    EXPECT_EQ(C<QTabWidget>("dxPageControl1")->tabText(2), QStringLiteral("Bildirim Adresleri"));
    EXPECT_FALSE(C<QCheckBox>("cbPerCtrl")->isChecked());
    EXPECT_FALSE(C<QSpinBox>("edtPeriod")->isVisibleTo(&d));
    EXPECT_FALSE(C<QLabel>("lblDk")->isVisibleTo(&d));
    EXPECT_TRUE(C<QCheckBox>("cbRunAtStartup")->isChecked());
    EXPECT_TRUE(C<QCheckBox>("cbShowOnStartup")->isChecked());
    EXPECT_TRUE(C<QCheckBox>("cbCheckOnStartup")->isChecked());
    EXPECT_EQ(C<QComboBox>("cbAfterCtrl")->currentText(), QStringLiteral("Alarm varsa yolla"));
    EXPECT_TRUE(C<QCheckBox>("cbBeep")->isChecked());
    EXPECT_EQ(C<QLabel>("lblHistoryDays")->text(), QStringLiteral("Geçmişi sakla"));
    EXPECT_EQ(C<QLabel>("lblGun")->text(), QStringLiteral("gün"));
    EXPECT_EQ(C<QSpinBox>("edtHistoryDays")->value(), 400);
    EXPECT_EQ(C<QSpinBox>("edtHistoryDays")->minimum(), 30);
    EXPECT_EQ(C<QSpinBox>("edtHistoryDays")->maximum(), 3650);
    EXPECT_EQ(C<QLineEdit>("edtPort")->text(), QStringLiteral("25"));
    EXPECT_TRUE(C<QCheckBox>("cbAuth")->isChecked());
    EXPECT_FALSE(C<QCheckBox>("cbSSL")->isChecked());
    EXPECT_EQ(C<TCheckListBox>("clbEmails")->count(), 0);
    EXPECT_FALSE(C<QPushButton>("btnAddMail")->isEnabled());
    EXPECT_EQ(C<QLineEdit>("edtPassword")->echoMode(), QLineEdit::Password);
    for (QPushButton *button : d.findChildren<QPushButton *>())
        EXPECT_FALSE(button->autoDefault() || button->isDefault()) << button->text().toStdString();

    C<QCheckBox>("cbPerCtrl")->click();
    EXPECT_TRUE(C<QSpinBox>("edtPeriod")->isVisibleTo(&d));
    EXPECT_TRUE(C<QLabel>("lblDk")->isVisibleTo(&d));
    EXPECT_EQ(Live().Period, 1);
}

TEST_F(SettingsDialog, NumberFieldsTakeDigitsOnlyAndAnEmptyPortBecomes25)
{
    TFormSettings &d = Open();
    d.show();
    C<QCheckBox>("cbPerCtrl")->setChecked(true);
    QLineEdit *period = C<QSpinBox>("edtPeriod")->findChild<QLineEdit *>();
    period->selectAll();
    for (QChar c : QStringLiteral("1x5"))
        TypeChar(C<QSpinBox>("edtPeriod"), c);
    EXPECT_EQ(period->text(), QStringLiteral("15"));
    EXPECT_EQ(Live().Period, 15);
    EXPECT_EQ(beeps, 1);

    C<QLineEdit>("edtPort")->clear();
    for (QChar c : QStringLiteral("5a8-7"))
        TypeChar(C<QLineEdit>("edtPort"), c);
    EXPECT_EQ(C<QLineEdit>("edtPort")->text(), QStringLiteral("587"));
    EXPECT_EQ(Live().Port, 587);
    EXPECT_EQ(beeps, 3);
    C<QLineEdit>("edtPort")->clear();
    EXPECT_EQ(Live().Port, 25) << "an emptied port is port 25 at once, also for a save";
    QFocusEvent out(QEvent::FocusOut);
    QApplication::sendEvent(C<QLineEdit>("edtPort"), &out);
    EXPECT_EQ(C<QLineEdit>("edtPort")->text(), QStringLiteral("25"));
    d.hide();
}

// Unticked or unreadable, the period is off; the field keeps its number for the next tick, also through a
// reload of a file whose period is off.
TEST_F(SettingsDialog, PeriodOffKeepsTheFieldAndABlankPeriodIsOff)
{
    WriteIni("[General]\r\nPeriod=30\r\n");
    TFormSettings &d = Open();
    QLineEdit *period = C<QSpinBox>("edtPeriod")->findChild<QLineEdit *>();
    EXPECT_TRUE(C<QCheckBox>("cbPerCtrl")->isChecked());
    EXPECT_EQ(period->text(), QStringLiteral("30"));
    EXPECT_EQ(Live().Period, 30);
    C<QCheckBox>("cbPerCtrl")->setChecked(false);
    EXPECT_EQ(Live().Period, 0);

    WriteIni("[General]\r\nPeriod=-5\r\n");
    Execute([&] {
        EXPECT_FALSE(C<QCheckBox>("cbPerCtrl")->isChecked());
        EXPECT_FALSE(C<QSpinBox>("edtPeriod")->isVisible());
        EXPECT_EQ(period->text(), QStringLiteral("30"));
        EXPECT_EQ(Live().Period, 0);
        C<QCheckBox>("cbPerCtrl")->setChecked(true);
        EXPECT_EQ(Live().Period, 30);
        period->clear();
        EXPECT_EQ(Live().Period, 0) << "a blank period is off, never garbage";
        C<QLineEdit>("edtPort")->clear();
        d.reject();
    });

    // The next showing shows the file's values, also where the cancelled edits left the same values behind
    // fields that showed them otherwise: a ticked box over a blank period, a blank port.
    Execute([&] {
        EXPECT_FALSE(C<QCheckBox>("cbPerCtrl")->isChecked());
        EXPECT_FALSE(C<QSpinBox>("edtPeriod")->isVisible());
        EXPECT_EQ(C<QLineEdit>("edtPort")->text(), QStringLiteral("25"));
        d.reject();
    });
}

TEST_F(SettingsDialog, AddRefusesBadAndKnownAddresses)
{
    TFormSettings &d = Open();
    d.show();
    Edit([](TLiveSettings &s) { s.Emails.Add(QStringLiteral("b@x.com")); });
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
        C<QLineEdit>("edtEmail")->setText(QString::fromUtf8(c.Typed));
        C<QPushButton>("btnAddMail")->click();
        EXPECT_EQ(Texts(), QStringList{QStringLiteral("HATA: ") + QString::fromUtf8(c.Error)}) << c.Typed;
        EXPECT_EQ(C<QLineEdit>("edtEmail")->text(), QString::fromUtf8(c.Typed)); // the field keeps its text
    }
    EXPECT_EQ(Live().Emails.Items(), QStringList{QStringLiteral("b@x.com")});

    // Ctrl+Enter adds like the button, at the sorted place, unticked; in a blank field it does nothing.
    TMessageBoxHook::Clear();
    C<QLineEdit>("edtEmail")->setText(QStringLiteral("   "));
    EXPECT_FALSE(C<QPushButton>("btnAddMail")->isEnabled());
    C<QLineEdit>("edtEmail")->setFocus();
    KeyClick(C<QLineEdit>("edtEmail"), Qt::Key_Return, Qt::ControlModifier);
    EXPECT_TRUE(TMessageBoxHook::Shown.isEmpty());
    EXPECT_EQ(C<TCheckListBox>("clbEmails")->count(), 1);
    C<QLineEdit>("edtEmail")->setText(QStringLiteral(" a@x.com "));
    EXPECT_TRUE(C<QPushButton>("btnAddMail")->isEnabled());
    KeyClick(C<QLineEdit>("edtEmail"), Qt::Key_Return, Qt::ControlModifier);
    EXPECT_TRUE(TMessageBoxHook::Shown.isEmpty());
    EXPECT_EQ(Live().Emails.Items(), (QStringList{QStringLiteral("a@x.com"), QStringLiteral("b@x.com")}));
    EXPECT_EQ(C<TCheckListBox>("clbEmails")->item(0)->checkState(), Qt::Unchecked);
    EXPECT_EQ(C<QLineEdit>("edtEmail")->text(), QString());
    EXPECT_TRUE(d.isVisible()); // Enter is no confirm here
    d.hide();
}

TEST_F(SettingsDialog, DeletingAnAddressInUseAsksTwice)
{
    TFormSettings &d = Open();
    TSystemList &records = session->ListForView();
    TSystemRecord record;
    record.Cells = {QStringLiteral("1"), QStringLiteral("Merkez"), QStringLiteral("h"),
        QStringLiteral("a@x.com,b@x.com")};
    records.Add(record);
    Edit([](TLiveSettings &s) {
        s.Emails.Add(QStringLiteral("a@x.com"));
        s.Emails.Add(QStringLiteral("b@x.com"));
    });
    d.show();

    C<QPushButton>("btnDelMail")->click(); // nothing selected
    EXPECT_TRUE(TMessageBoxHook::Shown.isEmpty());

    C<TCheckListBox>("clbEmails")->setCurrentRow(0);
    for (int firstAnswer : {IDCANCEL, IDOK}) {
        TMessageBoxHook::Clear();
        TMessageBoxHook::SetNextAnswer(firstAnswer);
        TMessageBoxHook::SetNextAnswer(IDCANCEL);
        C<QPushButton>("btnDelMail")->click();
        EXPECT_EQ(Live().Emails.Count(), 2);
        EXPECT_EQ(records.Cell(0, TSystemRecord::Email), QStringLiteral("a@x.com,b@x.com"));
    }
    EXPECT_EQ(Texts(),
        (QStringList{QStringLiteral("ONAY: Seçili kayıt silinsin mi?"),
            QStringLiteral("ONAY: Seçilen mail adresi kullanılıyor. Yine de silinsin mi?")}));
    EXPECT_FALSE(QFile::exists(sandbox.Path(QStringLiteral("ZYRdenetleyici.dat"))));

    // Ctrl+Delete in the list, answered OK twice.
    TMessageBoxHook::Clear();
    TMessageBoxHook::SetNextAnswer(IDOK);
    TMessageBoxHook::SetNextAnswer(IDOK);
    C<TCheckListBox>("clbEmails")->setFocus();
    C<TCheckListBox>("clbEmails")->setCurrentRow(0);
    KeyClick(C<TCheckListBox>("clbEmails"), Qt::Key_Delete, Qt::ControlModifier);
    EXPECT_EQ(Live().Emails.Items(), QStringList{QStringLiteral("b@x.com")});
    EXPECT_EQ(records.Cell(0, TSystemRecord::Email), QStringLiteral("b@x.com"));
    TSystemList saved; // the list, changed, is saved at once
    LoadSystemList(saved, sandbox.Path(QStringLiteral("ZYRdenetleyici.dat")));
    EXPECT_EQ(saved.Cell(0, TSystemRecord::Email), QStringLiteral("b@x.com"));
    EXPECT_FALSE(QFile::exists(IniPath())); // the file changes only on Save
    d.hide();
}

TEST_F(SettingsDialog, CancelLeavesEditsLiveUntilTheNextShowing)
{
    WriteIni("[Smtp]\r\nTo=a@x.com,b@x.com\r\n[General]\r\nMailAfterCtrl=0\r\nHistoryDays=45\r\n[Emails]"
             "\r\na@x.com=\r\nb@x."
             "com=\r\n");
    Open();
    ASSERT_EQ(Live().To(), QStringLiteral("a@x.com,b@x.com"));
    ArmTimer();
    const int first = Execute([&] {
        C<TCheckListBox>("clbEmails")->item(0)->setCheckState(Qt::Unchecked);
        C<QComboBox>("cbAfterCtrl")->setCurrentIndex(2);
        EXPECT_EQ(C<QSpinBox>("edtHistoryDays")->value(), 45);
        C<QSpinBox>("edtHistoryDays")->setValue(60);
        KeyClick(C<TCheckListBox>("clbEmails"), Qt::Key_Escape);
    });
    EXPECT_EQ(first, QDialog::Rejected);
    EXPECT_EQ(Live().To(), QStringLiteral("b@x.com"));
    EXPECT_EQ(Live().MailAfterCtrl, 2);
    EXPECT_EQ(Live().HistoryDays, 60);
    EXPECT_FALSE(Applied());

    QString toOnShow;
    int afterOnShow = -1, daysOnShow = -1;
    Execute([&] {
        toOnShow = Live().To();
        afterOnShow = C<QComboBox>("cbAfterCtrl")->currentIndex();
        daysOnShow = C<QSpinBox>("edtHistoryDays")->value();
        C<QPushButton>("btnCancel")->click();
    });
    EXPECT_EQ(toOnShow, QStringLiteral("a@x.com,b@x.com"));
    EXPECT_EQ(afterOnShow, 0);
    EXPECT_EQ(daysOnShow, 45);
}

TEST_F(SettingsDialog, BadPeriodIsRefusedWithTheFocusInThePeriodField)
{
    TFormSettings &d = Open();
    ArmTimer();
    for (const char *text : {"", "0", "1441"}) {
        TMessageBoxHook::Clear();
        bool open = false;
        bool focused = false;
        const int result = Execute([&] {
            C<QCheckBox>("cbPerCtrl")->setChecked(true);
            C<QSpinBox>("edtPeriod")->findChild<QLineEdit *>()->setText(QLatin1String(text));
            C<QPushButton>("btnSave")->click();
            open = d.isVisible();
            focused = d.focusWidget() == C<QSpinBox>("edtPeriod")
                || C<QSpinBox>("edtPeriod")->isAncestorOf(d.focusWidget());
            d.reject();
        });
        EXPECT_EQ(result, QDialog::Rejected);
        EXPECT_TRUE(open) << text;
        EXPECT_TRUE(focused) << text;
        EXPECT_EQ(Texts(), QStringList{QStringLiteral("HATA: \"Period\" değerini kontrol ediniz")}) << text;
        EXPECT_FALSE(QFile::exists(IniPath()));
        EXPECT_FALSE(Applied()) << "applied after a refused save: " << text;
    }
}

TEST_F(SettingsDialog, SaveWritesTheFileAndApplies)
{
    Open();
    EXPECT_FALSE(session->Engine().PeriodTimer->isActive());
    const int result = Execute([&] {
        EXPECT_EQ(C<QTabWidget>("dxPageControl1")->currentIndex(), 0);
        C<QCheckBox>("cbRunAtStartup")->setChecked(false);
        C<QCheckBox>("cbPerCtrl")->setChecked(true);
        C<QSpinBox>("edtPeriod")->findChild<QLineEdit *>()->setText(QStringLiteral("1440"));
        C<QLineEdit>("edtHost")->setText(QStringLiteral(" smtp.example.com "));
        C<QSpinBox>("edtHistoryDays")->setValue(29); // below the range: the least
        EXPECT_EQ(Live().HistoryDays, 30);
        C<QSpinBox>("edtHistoryDays")->stepUp();
        C<QPushButton>("btnSave")->click();
    });
    EXPECT_EQ(result, QDialog::Accepted);
    // Applied: the periodic timer follows the saved period.
    EXPECT_TRUE(session->Engine().PeriodTimer->isActive());
    EXPECT_EQ(session->Engine().PeriodTimer->interval(), 1440 * 60000);
    const QString ini = ReadIni();
    EXPECT_TRUE(ini.contains(QStringLiteral("Period=1440"))) << ini.toStdString();
    EXPECT_TRUE(ini.contains(QStringLiteral("Host=smtp.example.com"))) << ini.toStdString();
    EXPECT_TRUE(ini.contains(QStringLiteral("RunAtStartup=0"))) << ini.toStdString();
    EXPECT_TRUE(ini.contains(QStringLiteral("DesktopNotify=1\nHistoryDays=31\n"))) << ini.toStdString();
    EXPECT_EQ(Live().Host, QStringLiteral("smtp.example.com")) << "the live text has no blanks around it";
}

TEST_F(SettingsDialog, AFailedWriteReachesTheGeneralErrorDisplayAndKeepsTheDialogOpen)
{
    TFormSettings &d = Open();
    ASSERT_TRUE(QDir().mkpath(IniPath())); // a folder where the file should be: no write succeeds
    ArmTimer();
    bool open = false;
    Execute([&] {
        C<QCheckBox>("cbRunAtStartup")->setChecked(false);
        C<QPushButton>("btnSave")->click();
        open = d.isVisible();
        d.reject();
    });
    EXPECT_TRUE(open);
    EXPECT_FALSE(Applied()) << "applied after a failed save";
    ASSERT_EQ(TMessageBoxHook::Shown.size(), 1);
    EXPECT_EQ(TMessageBoxHook::Shown[0].Title, QStringLiteral("ZYRdenetleyici"));
    EXPECT_EQ(
        TMessageBoxHook::Shown[0].Text, QStringLiteral("Unable to write to ") + IniPath() + QLatin1Char('.'));
}

TEST_F(SettingsDialog, TestMailNeedsATickAndReportsItsOutcome)
{
    TFormSettings &d = Open();
    Edit([](TLiveSettings &s) {
        s.Emails.Add(QStringLiteral("b@x.com"));
        s.Emails.Add(QStringLiteral("a@x.com"));
    });
    d.show();
    C<QPushButton>("btnTest")->click();
    EXPECT_EQ(Texts(), QStringList{QStringLiteral("HATA: En az bir \"Bildirim Adresi\" seçilmesi gerekir")});
    EXPECT_TRUE(C<QLabel>("lblStatus")->isHidden());

    TSmtpSink sink(sandbox.Path(QStringLiteral("mails")));
    ASSERT_GT(sink.Port(), 0) << "the SMTP server did not start";
    C<TCheckListBox>("clbEmails")->item(0)->setCheckState(Qt::Checked);
    C<TCheckListBox>("clbEmails")->item(1)->setCheckState(Qt::Checked);
    ASSERT_EQ(Live().To(), QStringLiteral("a@x.com,b@x.com"));
    C<QLineEdit>("edtHost")->setText(QStringLiteral("127.0.0.1"));
    C<QLineEdit>("edtPort")->setText(QString::number(sink.Port()));
    C<QLineEdit>("edtFrom")->setText(QStringLiteral("denetleyici@example.com"));
    C<QPushButton>("btnTest")->click();
    // Sent on the engine's mail thread: Test is disabled and the hourglass shown until it is out.
    EXPECT_FALSE(C<QPushButton>("btnTest")->isEnabled());
    EXPECT_NE(QApplication::overrideCursor(), nullptr);
    ASSERT_TRUE(WaitUntil([&] { return !C<QLabel>("lblStatus")->text().isEmpty(); }));
    EXPECT_EQ(C<QLabel>("lblStatus")->text(), QStringLiteral("Başarılı"));
    EXPECT_FALSE(C<QLabel>("lblStatus")->isHidden());
    EXPECT_TRUE(C<QPushButton>("btnTest")->isEnabled());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    // One mail, to the first ticked address in list order.
    EXPECT_EQ(sink.Recipients(), QStringList{QStringLiteral("a@x.com")});

    sink.Stop();
    C<QPushButton>("btnTest")->click();
    ASSERT_TRUE(WaitUntil([&] { return !C<QLabel>("lblStatus")->text().isEmpty(); }));
    EXPECT_TRUE(C<QLabel>("lblStatus")->text().startsWith(QStringLiteral("Başarısız...")));
    EXPECT_GT(C<QLabel>("lblStatus")->text().size(), QStringLiteral("Başarısız...").size())
        << "the failure's message follows";
    EXPECT_TRUE(C<QPushButton>("btnTest")->isEnabled());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_TRUE(sandbox.LogText().contains(QStringLiteral("E-posta gönderiminde hata: ")))
        << sandbox.LogText().toStdString();
    d.hide();

    // The next showing starts with the result hidden.
    bool statusShown = true;
    Execute([&] {
        statusShown = !C<QLabel>("lblStatus")->isHidden();
        d.reject();
    });
    EXPECT_FALSE(statusShown);
}

// A status mail sent at the end of a cycle or by "Gönder" keeps Test disabled and shows the hourglass.
TEST_F(SettingsDialog, AStatusMailInProgressDisablesTest)
{
    Open();
    std::atomic<bool> release{false};
    session->Engine().SendStatusMailsJob = [&](const TLiveSettings &, const TSystemList &, TMailObjects &) {
        while (!release)
            QThread::msleep(5);
    };
    session->SendStatusMails();
    EXPECT_FALSE(C<QPushButton>("btnTest")->isEnabled());
    EXPECT_NE(QApplication::overrideCursor(), nullptr);
    release = true;
    ASSERT_TRUE(WaitUntil([&] { return !session->MailBusy(); }));
    EXPECT_TRUE(C<QPushButton>("btnTest")->isEnabled());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

} // namespace

TEST_F(SettingsDialog, AlarmConfirmationSpinBoxesShowTheirRangesAndAreSaved)
{
    TFormSettings &d = Open();
    EXPECT_EQ(
        C<QLabel>("lblAlarmAfter")->text(), QStringLiteral("Alarm için art arda hatalı denetim sayısı"));
    EXPECT_EQ(C<QLabel>("lblRetryInterval")->text(), QStringLiteral("Yeniden denetleme aralığı"));
    EXPECT_EQ(C<QLabel>("lblSn")->text(), QStringLiteral("sn"));
    EXPECT_TRUE(C<QSpinBox>("edtAlarmAfter")->isVisibleTo(&d));
    EXPECT_EQ(C<QSpinBox>("edtAlarmAfter")->value(), 1);
    EXPECT_EQ(C<QSpinBox>("edtAlarmAfter")->minimum(), 1);
    EXPECT_EQ(C<QSpinBox>("edtAlarmAfter")->maximum(), 10);
    EXPECT_EQ(C<QSpinBox>("edtRetryInterval")->value(), 60);
    EXPECT_EQ(C<QSpinBox>("edtRetryInterval")->minimum(), 10);
    EXPECT_EQ(C<QSpinBox>("edtRetryInterval")->maximum(), 600);
    const int result = Execute([&] {
        C<QSpinBox>("edtAlarmAfter")->setValue(11); // beyond the range: the most
        C<QSpinBox>("edtRetryInterval")->setValue(45);
        EXPECT_EQ(Live().AlarmAfter, 10);
        EXPECT_EQ(Live().RetryInterval, 45);
        C<QPushButton>("btnSave")->click();
    });
    EXPECT_EQ(result, QDialog::Accepted);
    const QString ini = ReadIni();
    EXPECT_TRUE(ini.contains(QStringLiteral("HistoryDays=400\nAlarmAfter=10\nRetryInterval=45\n")))
        << ini.toStdString();
}
