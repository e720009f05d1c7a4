#pragma once
#include <QList>
#include <QMessageBox>
#include <QString>

// Button results of ConfirmBox, as the callers compare them.
inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;

// A question with OK and Cancel, titled "ONAY"; returns IDOK or IDCANCEL.
int ConfirmBox(const QString &Text);
// An input error, titled "HATA", with an OK button.
void ErrorBox(const QString &Text);
// The general error display for errors that no operation caught.
void ShowGeneralError(const QString &Message);
// The message as the general error display shows it: a final "." when the last character sorts after ".".
QString GeneralErrorText(const QString &Message);

// Makes the boxes answerable in tests: while enabled no box is shown, each box is recorded and takes the
// next queued answer (or its safe default: Cancel for questions, OK otherwise).
class TMessageBoxHook
{
public:
    struct TShown
    {
        QString Title;
        QString Text;
        QMessageBox::Icon Icon;
    };
    static void Enable(bool on);
    static bool Enabled();
    static void SetNextAnswer(int answer);
    static QList<TShown> Shown;
    static void Clear();

    // Used by the boxes of this program; returns the answer or -1 when the box is to be shown for real.
    static int Take(const TShown &box, int defaultAnswer);
};
