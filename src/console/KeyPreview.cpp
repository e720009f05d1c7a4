#include "console/KeyPreview.h"
#include <QApplication>
#include <QKeyEvent>

TKeyPreview::TKeyPreview(QWidget *Window, THandler Handler)
    : QObject(Window)
    , window(Window)
    , handler(std::move(Handler))
{
    // Key events go to the focused control first, so only an application filter sees them before it.
    qApp->installEventFilter(this);
}

TKeyPreview::~TKeyPreview()
{
    if (qApp)
        qApp->removeEventFilter(this);
}

bool TKeyPreview::eventFilter(QObject *Watched, QEvent *Event)
{
    if (Event->type() != QEvent::KeyPress && Event->type() != QEvent::KeyRelease)
        return false;
    if (!window || !Watched->isWidgetType())
        return false;
    auto *target = static_cast<QWidget *>(Watched);
    if (target->window() != window)
        return false;
    auto *key = static_cast<QKeyEvent *>(Event);
    if (Event->type() == QEvent::KeyPress) {
        if (!key->isAutoRepeat())
            pressed.insert(key->key());
        return handler(target, key);
    }
    if (key->isAutoRepeat())
        return false;
    if (pressed.erase(key->key()) == 0)
        return false;
    return handler(target, key);
}

void CloseOnEscape(QWidget *Window, std::function<void()> Close)
{
    new TKeyPreview(Window, [Close = std::move(Close)](QWidget *, QKeyEvent *key) {
        if (key->key() != Qt::Key_Escape)
            return false;
        if (key->type() == QEvent::KeyRelease)
            Close();
        return true;
    });
}
