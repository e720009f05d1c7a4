#pragma once
// Helpers of the dialog tests: real windows on the offscreen platform, driven with real key and mouse
// events that pass through the application as a user's would.
#include "console/MessageBoxes.h"
#include "platform/Logger.h"
#include "SmtpSink.h"
#include "WaitUntil.h"
#include "XdgSandbox.h"
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QWidget>
#include <stdexcept>

// A window's control by its object name. A missing one ends the test with an error, never a null pointer.
template <class T> T *Child(const QObject *Parent, const char *Name)
{
    T *child = Parent->findChild<T *>(QLatin1String(Name));
    if (!child)
        throw std::runtime_error(std::string("no control named ") + Name);
    return child;
}

inline void KeyPress(QWidget *Target, int Key, Qt::KeyboardModifiers Modifiers = Qt::NoModifier,
    const QString &Text = QString())
{
    QKeyEvent press(QEvent::KeyPress, Key, Modifiers, Text);
    QApplication::sendEvent(Target, &press);
}

inline void KeyClick(QWidget *Target, int Key, Qt::KeyboardModifiers Modifiers = Qt::NoModifier,
    const QString &Text = QString())
{
    KeyPress(Target, Key, Modifiers, Text);
    QKeyEvent release(QEvent::KeyRelease, Key, Modifiers, Text);
    QApplication::sendEvent(Target, &release);
}

// Types one character as the keyboard would (key code and text).
inline void TypeChar(QWidget *Target, QChar C)
{
    const int key = C.isLetter() ? int(Qt::Key_A) + (C.toUpper().unicode() - 'A') : int(C.unicode());
    KeyClick(Target, key, Qt::NoModifier, QString(C));
}

inline void MouseClick(QWidget *Target, QPoint At, Qt::MouseButton Button = Qt::LeftButton)
{
    const QPointF local(At);
    const QPointF global(Target->mapToGlobal(At));
    QMouseEvent press(QEvent::MouseButtonPress, local, global, Button, Button, Qt::NoModifier);
    QApplication::sendEvent(Target, &press);
    QMouseEvent release(QEvent::MouseButtonRelease, local, global, Button, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(Target, &release);
}

// Runs Exec (which opens a modal window) and, once the window is up, Step inside its event loop. A
// window still open several seconds later is closed so that a failing test ends instead of hanging.
inline int WhileModal(const std::function<int()> &Exec, const std::function<void()> &Step)
{
    QTimer::singleShot(0, Step);
    auto guard = std::make_unique<QTimer>();
    guard->setSingleShot(true);
    QObject::connect(guard.get(), &QTimer::timeout, [] {
        if (QWidget *modal = QApplication::activeModalWidget()) {
            ADD_FAILURE() << "a modal window stayed open: " << modal->objectName().toStdString();
            if (auto *dialog = qobject_cast<QDialog *>(modal))
                dialog->done(QDialog::Rejected);
        }
    });
    guard->start(10000);
    return Exec();
}

// A current directory and desktop folders of the test's own, and an event log in it.
class TSandbox
{
public:
    TSandbox()
    {
        previous = QDir::currentPath();
        QDir::setCurrent(dir.path());
        desktop.Apply();
        log = std::make_unique<TLogger>(dir.filePath(QStringLiteral("ZYRdenetleyici.log")));
        Logger = log.get();
        TMessageBoxHook::Clear();
    }
    ~TSandbox()
    {
        Logger = nullptr;
        log.reset();
        QDir::setCurrent(previous);
        TMessageBoxHook::Clear();
    }
    QString Path(const QString &Name) const { return dir.filePath(Name); }
    QString LogText() const
    {
        QFile file(Path(QStringLiteral("ZYRdenetleyici.log")));
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }

private:
    QTemporaryDir dir;
    TXdgSandbox desktop;
    QString previous;
    std::unique_ptr<TLogger> log;
};
