#include "app/Program.h"
#include "console/About.h"
#include "console/Application.h"
#include "console/Help.h"
#include "console/Main.h"
#include "console/UnitDetails.h"
#include "console/UnitNewRecord.h"
#include "console/UnitSettings.h"
#include "platform/FileLocations.h"
#include "platform/Logger.h"
#include "platform/RaiseChannel.h"
#include "platform/SingleInstance.h"
#include "platform/Version.h"
#include "session/ConsoleSession.h"
#include <csignal>
#include <memory>
#include <QSystemTrayIcon>

namespace {
const QString kName = QStringLiteral("ZYRdenetleyici");

int RunWindows(TApplication &app)
{
    const TFileLocations &files = FileLocations();
    TConsoleSession session(files.SettingsFolder, files.DataFile(QStringLiteral("ZYRdenetleyici.dat")));
    // Termination by the desktop or a terminal saves the list the way a confirmed close does and quits
    // without waiting for checks or a mail. Installed first: a signal that comes during the start-up is
    // handled as soon as the event loop runs.
    bool terminated = false;
    TSignalWatcher watcher({SIGTERM, SIGINT, SIGHUP});
    QObject::connect(&watcher, &TSignalWatcher::Signalled, &app, [&] {
        if (terminated)
            return;
        terminated = true;
        session.EndForSignal();
        QCoreApplication::exit(0); // no close requests: the window would ask before closing
    });
    QObject::connect(
        &app, &QGuiApplication::commitDataRequest, &session, &TConsoleSession::SaveForSessionEnd);
    // The main window decides when the program ends: hidden in the tray, it outlives its dialogs.
    app.setQuitOnLastWindowClosed(false);

    TMainForm form(session);
    // A second start asks for the window instead of opening one of its own.
    TRaiseChannel raise(UserRuntimeFolder(kName), kName);
    raise.OnRaise = [&form] { form.ShowMainWindow(); };
    TFormNewRecord editor;
    editor.CentreOn(&form);
    session.LoadSettings();
    TFormSettings settingsDialog(session);
    settingsDialog.CentreOn(&form);
    session.Start(QSystemTrayIcon::isSystemTrayAvailable());
    TFormAbout about;
    about.CentreOn(&form);
    TFormHelp help;
    TFormDetails details;
    form.JoinDialogs({editor, details, help, about, settingsDialog});
    form.ShowAtStart();
    // A signal handled inside a start-up message box ended only that box's loop: a new loop would never end.
    if (terminated)
        return 0;
    return app.exec();
}
} // namespace

int RunProgram(int argc, char **argv)
{
    TApplication app(argc, argv);
    const TFileLocations &files = FileLocations();
    // The installed program's folders; a log that cannot be opened leaves the logger silent.
    MakeFileFolders(files);
    auto log = std::make_unique<TLogger>(files.DataFile(QStringLiteral("ZYRdenetleyici.log")));
    int result = 0;
    {
        // A second copy ends here: no window, no tray icon, no log line; it only asks the running copy to
        // show its window. Without a safe per-user folder the lock goes beside the settings file, never
        // stopping the start.
        TSingleInstance instance(kName, files.SettingsFolder);
        if (instance.Acquired()) {
            Logger = log.get();
            result = RunWindows(app);
        } else {
            RequestRaise(UserRuntimeFolder(kName), kName);
        }
    }
    Logger = nullptr;
    log.reset(); // the log is closed last
    return result;
}
