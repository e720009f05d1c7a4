#pragma once
#include <QDialog>
#include <QPointer>

class QLabel;
class QPushButton;

// The maker's texts of the about box.
inline constexpr const char *kCompanyName = "Dorvanek";
inline constexpr const char *kCompanyWeb = "www.dorvanek.example.com";
inline constexpr const char *kCompanyMail = "destek@dorvanek.example.com";

// The about box: program name and version, and the maker's name, web and mail addresses; the two addresses
// open the browser and a new mail.
class TFormAbout : public QDialog
{
public:
    explicit TFormAbout(QWidget *Parent = nullptr);

    // The window the box opens centred on, when it has no parent.
    void CentreOn(QWidget *Window) { owner = Window; }
    // Sets the texts and shows the box modally, centred on the main window.
    int ShowAbout();

protected:
    void showEvent(QShowEvent *Event) override;
    bool eventFilter(QObject *Watched, QEvent *Event) override;

private:
    void SetTexts();

    QPointer<QWidget> owner;
    QLabel *lblHeader;
    QLabel *lblCompany;
    QLabel *lblWeb;
    QLabel *lblMail;
    QPushButton *btnExit;
};
