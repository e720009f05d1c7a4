#include "console/DigitsOnly.h"
#include <QApplication>
#include <QKeyEvent>
#include <QWidget>

std::function<void()> TDigitsOnly::Beep = [] { QApplication::beep(); };

TDigitsOnly::TDigitsOnly(QWidget *Field)
    : QObject(Field)
{
    Field->installEventFilter(this);
    // A spin box types into its inner line edit, which gets the key first.
    for (QWidget *child : Field->findChildren<QWidget *>())
        child->installEventFilter(this);
}

bool TDigitsOnly::eventFilter(QObject *, QEvent *Event)
{
    if (Event->type() != QEvent::KeyPress)
        return false;
    auto *key = static_cast<QKeyEvent *>(Event);
    if (key->key() == Qt::Key_Backspace)
        return false;
    const QString text = key->text();
    // Ctrl and Alt combinations are shortcuts, not typed characters.
    if (text.isEmpty() || (key->modifiers() & (Qt::ControlModifier | Qt::AltModifier)))
        return false;
    bool digits = true;
    for (QChar c : text)
        digits = digits && c >= QLatin1Char('0') && c <= QLatin1Char('9');
    if (digits)
        return false;
    // Tab and Enter reach the dialog as they would without the filter.
    if (text.size() == 1
        && (text[0] == QLatin1Char('\t') || text[0] == QLatin1Char('\r') || text[0] == QChar(27)))
        return false;
    if (Beep)
        Beep();
    return true;
}
