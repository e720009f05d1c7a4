#pragma once
// Tests may spin the event loop while they wait; the program never does.
#include <functional>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

// Lets the event loop run until Done holds; false when it does not within Ms.
inline bool WaitUntil(const std::function<bool()> &Done, int Ms = 30000)
{
    QElapsedTimer clock;
    clock.start();
    while (!Done()) {
        if (clock.elapsed() > Ms)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(2);
    }
    return true;
}
