#pragma once
#include <functional>
#include <QObject>

class QWidget;

// Makes a text field (or a spin box) take only the digits 0 to 9 and Backspace from the keyboard: any other
// typed character is dropped and the system beep sounds. Keys that type nothing (arrows, Tab, Delete,
// shortcuts) pass. Pasted text is held to digits by the field's validator, which the caller sets.
class TDigitsOnly : public QObject
{
public:
    explicit TDigitsOnly(QWidget *Field);

    // The beep of a refused key; tests replace it to count beeps.
    static std::function<void()> Beep;

protected:
    bool eventFilter(QObject *Watched, QEvent *Event) override;
};
