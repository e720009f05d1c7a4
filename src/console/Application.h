#pragma once
#include <initializer_list>
#include <QApplication>
#include <QObject>

// The application object: no exception may cross Qt's event loop, so whatever an event handler lets
// escape ends up in the general error display.
class TApplication : public QApplication
{
    Q_OBJECT
public:
    TApplication(int &argc, char **argv);
    bool notify(QObject *receiver, QEvent *event) override;
};

// Turns the given signals into a Qt signal on the main thread (a self-pipe read by a socket notifier), so
// that they are handled between events instead of inside an arbitrary instruction.
class TSignalWatcher : public QObject
{
    Q_OBJECT
public:
    TSignalWatcher(std::initializer_list<int> Signals, QObject *parent = nullptr);
    ~TSignalWatcher() override;

signals:
    void Signalled(int Signal);

private:
    void ReadPipe();
    class QSocketNotifier *notifier = nullptr;
    QList<int> handled;
};
