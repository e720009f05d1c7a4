#pragma once
#include "store/Settings.h"
#include <functional>
#include <QDialog>
#include <QSpinBox>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTabWidget;
class TCheckEngine;
class TCheckListBox;
class TSystemList;

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

// The settings dialog. Its controls are bound to the live settings: every edit reaches the settings at
// once, so a cancelled dialog leaves its edits in force until the next showing reloads the file.
class TFormSettings : public QDialog
{
public:
    // Shows the settings as they are and edits them in place; they outlive the dialog.
    explicit TFormSettings(TLiveSettings &Settings, QWidget *Parent = nullptr);
    ~TFormSettings() override;

    TLiveSettings &Settings;

    // The main list, asked whether a deleted address is in use and cleared of it; RecordsChanged runs after
    // the records were changed that way (the list is then saved at once).
    TSystemList *Records = nullptr;
    std::function<void()> RecordsChanged;
    // Runs after a confirmed Save (the main window applies the settings again).
    std::function<void()> Applied;

    // The settings command: reloads the file, shows the dialog modally, and applies the settings when
    // it was saved. Returns the dialog's result.
    int Execute();

    // The engine that sends the test mail on its mail thread and tells when any mail is out.
    void SetEngine(TCheckEngine *Engine);

    // While a mail is being composed and sent: Test disabled, hourglass cursor; false restores both.
    void SetMailBusy(bool Busy);

    void AddMail();
    void DeleteMail();
    void TestMail();
    void Save();

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

protected:
    void showEvent(QShowEvent *Event) override;
    bool eventFilter(QObject *Watched, QEvent *Event) override;

private:
    void BuildGeneralPage(QWidget *Page);
    void BuildMailPage(QWidget *Page);
    void BuildAddressPage(QWidget *Page);
    void Bind();
    void ReadFields();
    void TakePeriod();
    void PrepareShow();

    bool reading = false;
    bool mailBusy = false;
    TCheckEngine *engine = nullptr;
};
