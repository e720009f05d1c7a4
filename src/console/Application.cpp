#include "console/Application.h"
#include "console/MessageBoxes.h"
#include "platform/Errors.h"
#include "platform/FileLimit.h"
#include <csignal>
#include <fcntl.h>
#include <QSocketNotifier>
#include <unistd.h>

namespace {
int signalPipe[2] = {-1, -1};

void OnSignal(int sig)
{
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(sig);
    [[maybe_unused]] const ssize_t n = ::write(signalPipe[1], &byte, 1);
    errno = saved;
}
} // namespace

TApplication::TApplication(int &argc, char **argv)
    : QApplication(argc, argv)
{
    // Every check of a cycle holds a socket at the same time.
    RaiseOpenFileLimit();
    // Names the menu entry to the desktop (its icon, and the sender of notifications).
    setDesktopFileName(QStringLiteral("com.example.dorvanek.zyrdenetleyici"));
}

bool TApplication::notify(QObject *receiver, QEvent *event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (const EZyrError &e) {
        ShowGeneralError(e.Message());
    } catch (const std::exception &e) {
        ShowGeneralError(QString::fromUtf8(e.what()));
    } catch (...) {
        ShowGeneralError(QStringLiteral("Beklenmeyen hata"));
    }
    return false;
}

TSignalWatcher::TSignalWatcher(std::initializer_list<int> Signals, QObject *parent)
    : QObject(parent)
{
    if (signalPipe[0] < 0 && ::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, &TSignalWatcher::ReadPipe);
    struct sigaction action = {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int sig : Signals)
        if (::sigaction(sig, &action, nullptr) == 0)
            handled.append(sig);
}

TSignalWatcher::~TSignalWatcher()
{
    for (int sig : handled)
        ::signal(sig, SIG_DFL);
}

void TSignalWatcher::ReadPipe()
{
    unsigned char bytes[16];
    ssize_t n;
    while ((n = ::read(signalPipe[0], bytes, sizeof bytes)) > 0)
        for (ssize_t i = 0; i < n; ++i)
            emit Signalled(bytes[i]);
}
