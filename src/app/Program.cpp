#include "app/Program.h"
#include "app/ReportCommand.h"
#include "console/About.h"
#include "console/Application.h"
#include "console/Help.h"
#include "console/HistoryWindow.h"
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
#include <QDir>
#include <QSystemTrayIcon>

namespace {
const QString kName = QStringLiteral("ZYRdenetleyici");

// The folders of the files one copy at a time may own: the list's (the current folder, unless installed)
// and the settings'.
QStringList FileFolders(const TFileLocations &files)
{
    return {files.DataFolder.isEmpty() ? QDir::currentPath() : files.DataFolder, files.SettingsFolder};
}

int RunWindows(TApplication &app, TRaiseChannel &raise)
{
    const TFileLocations &files = FileLocations();
    TConsoleSession session(files.SettingsFolder, files.DataFile(QStringLiteral("ZYRdenetleyici.dat")),
        files.DataFile(QStringLiteral("ZYRdenetleyici.log")));
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
    TFormHistory history(session);
    history.CentreOn(&form);
    form.JoinDialogs({editor, details, help, about, settingsDialog, &history});
    form.ShowAtStart();
    // A signal handled inside a start-up message box ended only that box's loop: a new loop would never end.
    if (terminated)
        return 0;
    return app.exec();
}
} // namespace

int RunProgram(int argc, char **argv)
{
    // The report needs no display, no lock and no log: it runs before any of them is made.
    if (IsReportCommand(argc, argv))
        return RunReportCommand(argc, argv);
    TApplication app(argc, argv);
    const TFileLocations &files = FileLocations();
    // The installed program's folders; a log that cannot be opened leaves the logger silent.
    MakeFileFolders(files);
    auto log = std::make_unique<TLogger>(files.DataFile(QStringLiteral("ZYRdenetleyici.log")));
    int result = 0;
    {
        // A second copy on the same files, started in whatever environment, ends here: no window, no tray
        // icon, no log line; it only asks the running copy to show its window, at the address that copy
        // left in its lock.
        TSingleInstance instance(kName, FileFolders(files));
        if (instance.Acquired()) {
            TRaiseChannel raise(
                instance.Key().isEmpty() ? QString() : UserRuntimeFolder(kName), instance.Key());
            instance.Publish(raise.Path());
            Logger = log.get();
            result = RunWindows(app, raise);
        } else {
            RequestRaise(instance.RunningCopyAddress());
        }
    }
    Logger = nullptr;
    log.reset(); // the log is closed last
    return result;
}
