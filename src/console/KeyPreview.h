#pragma once
#include <functional>
#include <QObject>
#include <QPointer>
#include <QWidget>
#include <set>

class QKeyEvent;

// Lets a window see the key events of all its controls before they do. The handler gets every key press
// and release addressed to the window or one of its controls, with the control it is addressed to, (not those
// of another window it opens, such as a message box) and returns true to take the event away from the
// control. A release is handed over only when the window also saw its press: the release of the Enter that
// closed a message box must not act again in the window below it.
class TKeyPreview : public QObject
{
public:
    using THandler = std::function<bool(QWidget *Target, QKeyEvent *Key)>;
    TKeyPreview(QWidget *Window, THandler Handler);
    ~TKeyPreview() override;

protected:
    bool eventFilter(QObject *Watched, QEvent *Event) override;

private:
    QPointer<QWidget> window;
    THandler handler;
    std::set<int> pressed;
};

// Esc anywhere in the window runs Close (on the key's release, so the key never reaches another window).
void CloseOnEscape(QWidget *Window, std::function<void()> Close);
