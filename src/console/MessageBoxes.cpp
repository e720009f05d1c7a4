#include "console/MessageBoxes.h"
#include <QApplication>

namespace {
bool hookEnabled = false;
QList<int> nextAnswers;

int Run(QMessageBox::Icon icon, const QString &title, const QString &text,
    QMessageBox::StandardButtons buttons, int defaultAnswer)
{
    const int hooked = TMessageBoxHook::Take({title, text, icon}, defaultAnswer);
    if (hooked >= 0)
        return hooked;
    QMessageBox box(icon, title, text, buttons);
    if (buttons & QMessageBox::Cancel)
        box.setEscapeButton(QMessageBox::Cancel);
    return box.exec() == QMessageBox::Ok ? IDOK : IDCANCEL;
}
} // namespace

QList<TMessageBoxHook::TShown> TMessageBoxHook::Shown;

void TMessageBoxHook::Enable(bool on)
{
    hookEnabled = on;
}
bool TMessageBoxHook::Enabled()
{
    return hookEnabled;
}
void TMessageBoxHook::SetNextAnswer(int answer)
{
    nextAnswers.append(answer);
}
void TMessageBoxHook::Clear()
{
    Shown.clear();
    nextAnswers.clear();
}
int TMessageBoxHook::Take(const TShown &box, int defaultAnswer)
{
    if (!hookEnabled)
        return -1;
    Shown.append(box);
    return nextAnswers.isEmpty() ? defaultAnswer : nextAnswers.takeFirst();
}

int ConfirmBox(const QString &Text)
{
    return Run(
        QMessageBox::Question, QStringLiteral("ONAY"), Text, QMessageBox::Ok | QMessageBox::Cancel, IDCANCEL);
}

void ErrorBox(const QString &Text)
{
    Run(QMessageBox::Critical, QStringLiteral("HATA"), Text, QMessageBox::Ok, IDOK);
}

QString GeneralErrorText(const QString &Message)
{
    if (!Message.isEmpty() && Message.back() > QLatin1Char('.'))
        return Message + QLatin1Char('.');
    return Message;
}

void ShowGeneralError(const QString &Message)
{
    Run(QMessageBox::Critical, QStringLiteral("ZYRdenetleyici"), GeneralErrorText(Message), QMessageBox::Ok,
        IDOK);
}
