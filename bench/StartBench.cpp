// Start-up and shutdown of the real program with list files of several sizes:
//   exec -> main window painted, the save of a close from the tray menu, a header-click sort.
//
//   zyr_bench_start [--records 0,10000,100000] [--runs 5]
//
// Each run executes this binary again with --child, which runs the program's own start-up (RunProgram)
// and watches it from an application event filter. Beside each save, a small script writes the bytes
// the program saved to a new file in the same folder, syncs it and renames it over the old one: the
// least any safe save of that list costs on this disk.
#include "ProcStats.h"

#include "app/Program.h"
#include "console/Main.h"
#include "console/ServiceList.h"
#include "records/SystemList.h"
#include "records/SystemListFile.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QHeaderView>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>

#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;
using namespace bench;

namespace {

bool childMode = false;

// The program's main window, once it is made.
TMainForm *MainWindow()
{
    for (QWidget *window : QApplication::topLevelWidgets())
        if (window->objectName() == QLatin1String("MainForm"))
            return qobject_cast<TMainForm *>(window);
    return nullptr;
}

class TShownWatcher : public QObject
{
public:
    using QObject::QObject;
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (!done && event->type() == QEvent::Paint && watched->isWidgetType()
            && static_cast<QWidget *>(watched)->window() == MainWindow() && MainWindow()) {
            done = true;
            // After the whole window has been painted in this pass.
            QTimer::singleShot(0, qApp, [] { Measure(); });
        }
        return QObject::eventFilter(watched, event);
    }

    static void Measure()
    {
        printf("shown_ns %lld\n", (long long)NowNs());
        TMainForm *form = MainWindow();
        auto *list = form->findChild<TServiceListView *>(QStringLiteral("ServiceList"));
        int64_t t = NowNs();
        emit list->header()->sectionClicked(TSystemRecord::IP);
        list->viewport()->repaint();
        printf("sort_ms %.3f\n", (NowNs() - t) / 1e6);
        t = NowNs();
        printf("close_ns %lld\n", (long long)t);
        const int64_t cpu = ThreadCpuNs();
        form->ExitClick(); // the tray menu's "Çıkış": no question, the list is saved as the window closes
        printf("save_ms %.3f\n", (NowNs() - t) / 1e6);
        printf("save_cpu_ms %.3f\n", (ThreadCpuNs() - cpu) / 1e6);
        fflush(stdout);
    }

    bool done = false;
};

void InstallWatcher()
{
    if (childMode)
        qApp->installEventFilter(new TShownWatcher(qApp));
}

void WriteList(const QString &file, int count)
{
    std::mt19937 random(7);
    TSystemList list;
    std::vector<TSystemRecord> rows;
    rows.reserve(size_t(count));
    const QString details = QStringLiteral("2.9.4\x04"
                                           "35.2 GB\x04"
                                           "0\x04"
                                           "120.0 GB\x04"
                                           "0\x04"
                                           "1\x05"
                                           "S100001\x06"
                                           "0\x06"
                                           "8\x06"
                                           "0,0,0,0,0,0,0,0");
    for (int i = 0; i < count; ++i) {
        const uint32_t a = random();
        TSystemRecord r;
        r.Cells = {QStringLiteral("0"), QStringLiteral("Kayıt %1").arg(random() % 1000000),
            QStringLiteral("127.%1.%2.%3:17000").arg((a >> 16) & 255).arg((a >> 8) & 255).arg(a & 255),
            QStringLiteral("operator%1@example.com.tr,merkez@example.com.tr").arg(i % 50),
            QString::number(1 + i % 4), QStringLiteral("0"), details, QString(),
            i % 20 == 0 ? QStringLiteral("-1") : QStringLiteral("0")};
        rows.push_back(std::move(r));
    }
    list.ReplaceAll(std::move(rows));
    SaveSystemList(list, file);
}

// The script's own time for writing, syncing and renaming, in milliseconds; -1 on failure.
double ScriptSaveMs(const QString &file)
{
    static const char *script = "import os, sys, time\n"
                                "path = sys.argv[1]\n"
                                "data = open(path, 'rb').read()\n"
                                "start = time.perf_counter()\n"
                                "with open(path + '.new', 'wb') as f:\n"
                                "    f.write(data)\n"
                                "    f.flush()\n"
                                "    os.fsync(f.fileno())\n"
                                "os.rename(path + '.new', path)\n"
                                "print((time.perf_counter() - start) * 1000)\n";
    const QByteArray command = "python3 -c \"" + QByteArray(script) + "\" '" + file.toLocal8Bit() + "'";
    FILE *out = popen(command.constData(), "r");
    if (!out)
        return -1;
    double ms = -1;
    if (fscanf(out, "%lf", &ms) != 1)
        ms = -1;
    return pclose(out) == 0 ? ms : -1;
}

struct TRun
{
    double StartMs = -1, SaveMs = -1, SaveCpuMs = -1, SortMs = -1, ExitMs = -1, ShutdownMs = -1;
};

TRun RunChild(const char *self, const QString &folder)
{
    TRun run;
    int out[2];
    if (pipe(out) != 0)
        return run;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    char *argv[] = {const_cast<char *>(self), const_cast<char *>("--child"), nullptr};
    const QString old = QDir::currentPath();
    QDir::setCurrent(folder);
    pid_t pid = 0;
    const int64_t t0 = NowNs();
    const int rc = posix_spawn(&pid, self, &actions, nullptr, argv, environ);
    QDir::setCurrent(old);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    if (rc != 0) {
        close(out[0]);
        return run;
    }
    std::string text;
    char buffer[4096];
    ssize_t n;
    while ((n = read(out[0], buffer, sizeof buffer)) > 0)
        text.append(buffer, size_t(n));
    close(out[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    const int64_t gone = NowNs();
    run.ExitMs = (gone - t0) / 1e6;
    long long shown = 0, closing = 0;
    for (const char *p = text.c_str(); *p;) {
        if (sscanf(p, "shown_ns %lld", &shown) == 1)
            run.StartMs = (shown - t0) / 1e6;
        if (sscanf(p, "close_ns %lld", &closing) == 1)
            run.ShutdownMs = (gone - closing) / 1e6;
        sscanf(p, "sort_ms %lf", &run.SortMs);
        sscanf(p, "save_ms %lf", &run.SaveMs);
        sscanf(p, "save_cpu_ms %lf", &run.SaveCpuMs);
        const char *nl = strchr(p, '\n');
        if (!nl)
            break;
        p = nl + 1;
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        run.StartMs = -1;
    return run;
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(InstallWatcher)

int main(int argc, char **argv)
{
    if (argc == 2 && strcmp(argv[1], "--child") == 0) {
        childMode = true;
        return RunProgram(argc - 1, argv);
    }
    QString sizes = QStringLiteral("0,10000,100000");
    int runs = 5;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (strcmp(argv[i], "--records") == 0)
            sizes = QString::fromLatin1(argv[i + 1]);
        else if (strcmp(argv[i], "--runs") == 0)
            runs = atoi(argv[i + 1]);
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // The program's start-up may write an autostart entry and a lock file: keep them out of the desktop.
    QTemporaryDir sandbox;
    for (const char *name : {"HOME", "XDG_CONFIG_HOME", "XDG_CONFIG_DIRS", "XDG_RUNTIME_DIR",
             "XDG_CACHE_HOME", "XDG_DATA_HOME"}) {
        const QString path = sandbox.filePath(QString::fromLatin1(name));
        QDir().mkpath(path);
        QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        qputenv(name, path.toLocal8Bit());
    }
    char self[4096];
    const ssize_t len = readlink("/proc/self/exe", self, sizeof self - 1);
    if (len <= 0)
        return 1;
    self[len] = 0;

    std::map<int, TRun> medians;
    std::map<int, double> scriptMedians;
    int failures = 0;
    for (const QString &size : sizes.split(QLatin1Char(','))) {
        const int count = size.toInt();
        QTemporaryDir folder;
        WriteList(folder.filePath(QStringLiteral("ZYRdenetleyici.dat")), count);
        const qint64 bytes = QFileInfo(folder.filePath(QStringLiteral("ZYRdenetleyici.dat"))).size();
        RunChild(self, folder.path()); // warm-up: libraries and the list file in the page cache
        std::vector<double> start, save, saveCpu, sort, exit, shutdown, script;
        for (int r = 0; r < runs; ++r) {
            const TRun run = RunChild(self, folder.path());
            if (run.StartMs < 0 || run.SaveMs < 0) {
                ++failures;
                continue;
            }
            const double reference = ScriptSaveMs(folder.filePath(QStringLiteral("ZYRdenetleyici.dat")));
            if (reference >= 0)
                script.push_back(reference);
            start.push_back(run.StartMs);
            save.push_back(run.SaveMs);
            saveCpu.push_back(run.SaveCpuMs);
            sort.push_back(run.SortMs);
            exit.push_back(run.ExitMs);
            shutdown.push_back(run.ShutdownMs);
        }
        TRun m{Median(start), Median(save), Median(saveCpu), Median(sort), Median(exit), Median(shutdown)};
        medians[count] = m;
        scriptMedians[count] = Median(script);
        printf("records %d file_bytes %lld start_ms %.1f save_ms %.1f save_cpu_ms %.1f shutdown_ms %.1f "
               "sort_ms %.1f"
               " exit_ms %.1f\n",
            count, (long long)bytes, m.StartMs, m.SaveMs, m.SaveCpuMs, m.ShutdownMs, m.SortMs, m.ExitMs);
        fflush(stdout);
    }
    const TRun empty = medians.count(0) ? medians[0] : TRun{};
    printf("start_ms_0 %.3f\nsave_ms_0 %.3f\nshutdown_ms_0 %.3f\n", empty.StartMs, empty.SaveMs,
        empty.ShutdownMs);
    for (const auto &[count, m] : medians) {
        if (count == 0 || empty.StartMs <= 0)
            continue;
        printf("start_ratio_%d %.3f\n", count, m.StartMs / empty.StartMs);
        printf("save_cpu_ratio_%d %.3f\n", count, m.SaveCpuMs / std::max(empty.SaveCpuMs, 0.001));
        printf("shutdown_ratio_%d %.3f\n", count, m.ShutdownMs / std::max(empty.ShutdownMs, 0.001));
        printf("start_ms_%d %.3f\nsave_ms_%d %.3f\nshutdown_ms_%d %.3f\n", count, m.StartMs, count, m.SaveMs,
            count, m.ShutdownMs);
        printf("sort_ms_%d %.3f\n", count, m.SortMs);
        const double script = scriptMedians[count];
        printf("save_script_ms_%d %.3f\n", count, script);
        if (script > 0)
            printf("save_script_ratio_%d %.3f\n", count, m.SaveMs / script);
    }
    printf("start_failures %d\n", failures);
    return failures == 0 ? 0 : 3;
}
