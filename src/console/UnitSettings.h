#pragma once
#include "store/Settings.h"
#include <QDialog>
#include <QPointer>
#include <QSpinBox>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTabWidget;
class TCheckListBox;
class TConsoleSession;

// The period field: arrows step within 1 to 1440, but typed values are not range-checked here (Save
// refuses a bad period with its own message), and a cleared field stays cleared until it loses the focus.
class TPeriodEdit : public QSpinBox
{
public:
    explicit TPeriodEdit(QWidget *Parent = nullptr);
    void stepBy(int Steps) override;

protected:
    QValidator::State validate(QString &Input, int &Pos) const override;
    int valueFromText(const QString &Text) const override;
    StepEnabled stepEnabled() const override;
};

// The settings dialog. Its controls edit the session's live settings: every edit reaches them at once, so
// a cancelled dialog leaves its edits in force until the next showing reloads the file.
class TFormSettings : public QDialog
{
public:
    explicit TFormSettings(TConsoleSession &Session, QWidget *Parent = nullptr);
    ~TFormSettings() override;

    // The window the dialog opens centred on, when it has no parent.
    void CentreOn(QWidget *Window) { owner = Window; }

    // The settings command: reloads the file, shows the dialog modally, and applies the settings when
    // it was saved. Returns the dialog's result.
    int Execute();

protected:
    void showEvent(QShowEvent *Event) override;
    bool eventFilter(QObject *Watched, QEvent *Event) override;

private:
    void BuildGeneralPage(QWidget *Page);
    void BuildMailPage(QWidget *Page);
    void BuildAddressPage(QWidget *Page);
    void Bind();
    // The controls from the session's settings, without echoing back.
    void ReadFields();
    // The dialog's values to the session.
    void Publish();
    void TakePeriod();
    void PrepareShow();
    // While a mail is being composed and sent: Test disabled, hourglass cursor; false restores both.
    void SetMailBusy(bool Busy);
    void AddMail();
    void DeleteMail();
    void TestMail();
    void Save();

    TConsoleSession &session;
    // The settings as the controls show them; every edit is published to the session.
    TLiveSettings values;
    QPointer<QWidget> owner;
    bool reading = false;
    bool publishing = false;
    bool mailBusy = false;

    QTabWidget *pageControl;
    QCheckBox *cbPerCtrl;
    TPeriodEdit *edtPeriod;
    QLabel *lblDk;
    QCheckBox *cbRunAtStartup;
    QCheckBox *cbShowOnStartup;
    QCheckBox *cbCheckOnStartup;
    QComboBox *cbAfterCtrl;
    QCheckBox *cbBeep;
    QCheckBox *cbDesktopNotify;
    QSpinBox *edtHistoryDays;
    QSpinBox *edtAlarmAfter;
    QSpinBox *edtRetryInterval;
    QLineEdit *edtHost;
    QLineEdit *edtUsername;
    QLineEdit *edtPassword;
    QLineEdit *edtPort;
    QCheckBox *cbAuth;
    QCheckBox *cbSSL;
    QLineEdit *edtFrom;
    QPushButton *btnTest;
    QLabel *lblStatus;
    QLineEdit *edtEmail;
    QPushButton *btnAddMail;
    QPushButton *btnDelMail;
    TCheckListBox *clbEmails;
    QPushButton *btnSave;
    QPushButton *btnCancel;
};
