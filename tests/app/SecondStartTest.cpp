// A second start of the program file on the files of a running copy, in another environment (no run-time
// folder, another temporary folder, as cron or sudo -u start it) or from another folder: it ends at once,
// silently, leaves the running copy's files alone and brings its window up; a start on other files runs
// beside it. The running copy is the program's own start-up (RunProgram) in a child copy of this test,
// which hides its window and says on its output each time the window is shown again.
#include "app/Program.h"
#include "records/SystemListFile.h"
#include "XdgSandbox.h"
#include <csignal>
#include <cstdio>
#include <cstring>
#include <gtest/gtest.h>
#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QWidget>
#include <sys/stat.h>
#include <vector>

namespace {

bool childMode = false;

// In the child: each time the main window is up, it is hidden again, and each showing after the first is
// reported: only a raise request shows a hidden window.
void WatchTheWindow()
{
    if (!childMode)
        return;
    auto *timer = new QTimer(qApp);
    QObject::connect(timer, &QTimer::timeout, [] {
        static int shown = 0;
        QWidget *window = nullptr;
        for (QWidget *top : QApplication::topLevelWidgets())
            if (top->objectName() == QLatin1String("MainForm"))
                window = top;
        if (!window || !window->isVisible())
            return;
        if (shown++ > 0)
            std::puts("shown");
        window->hide();
        std::puts("hidden");
        std::fflush(stdout);
    });
    timer->start(20);
}

// The next line the process writes, without its end; empty when none comes within Ms.
QByteArray NextLine(QProcess &p, int Ms)
{
    QElapsedTimer clock;
    clock.start();
    while (!p.canReadLine() && clock.elapsed() < Ms)
        p.waitForReadyRead(int(std::max<qint64>(1, Ms - clock.elapsed())));
    return p.canReadLine() ? p.readLine().trimmed() : QByteArray();
}

struct TFileState
{
    QByteArray bytes;
    ino_t inode = 0;
    qint64 modified = 0;
    bool operator==(const TFileState &) const = default;
};

TFileState StateOf(const QString &path)
{
    TFileState state;
    QFile f(path);
    if (f.open(QIODevice::ReadOnly))
        state.bytes = f.readAll();
    struct stat st
    {
    };
    if (::stat(QFile::encodeName(path).constData(), &st) == 0) {
        state.inode = st.st_ino;
        state.modified = qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    }
    return state;
}

class SecondStartTest : public ::testing::Test
{
protected:
    QTemporaryDir dir;
    TXdgSandbox sandbox;
    // The running copy's folder: the program file, its settings, and (started there) its list and log.
    QString prog = dir.filePath(QStringLiteral("prog"));
    // Another program folder (settings of its own) and another current folder (a list of its own).
    QString prog2 = dir.filePath(QStringLiteral("prog2"));
    QString other = dir.filePath(QStringLiteral("other"));
    QString bareTemp = dir.filePath(QStringLiteral("t"));

    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        ASSERT_TRUE(sandbox.Valid());
        for (const QString &folder : {prog, prog2, other, bareTemp})
            ASSERT_TRUE(QDir().mkpath(folder));
        ::chmod(QFile::encodeName(bareTemp).constData(), 01777);
        for (const QString &folder : {prog, prog2}) {
            const QString program = folder + QStringLiteral("/ZYRdenetleyici");
            ASSERT_TRUE(QFile::copy(QStringLiteral(ZYR_PROGRAM), program));
            QFile::setPermissions(program, QFile::ExeOwner | QFile::ReadOwner | QFile::WriteOwner);
            QFile ini(folder + QStringLiteral("/ZYRdenetleyici.ini"));
            ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
            ini.write("[General]\r\nRunAtStartup=0\r\nPeriod=0\r\nCheckOnStart=0\r\nShowMainOnStart=1\r\n"
                      "[Smtp]\r\nHost=\r\n");
        }
        const QString child = prog + QStringLiteral("/copy-under-test");
        ASSERT_TRUE(QFile::copy(QCoreApplication::applicationFilePath(), child));
        QFile::setPermissions(child, QFile::ExeOwner | QFile::ReadOwner | QFile::WriteOwner);
        WriteList(prog, QStringLiteral("liste"));
        WriteList(other, QStringLiteral("baska liste"));
    }

    static void WriteList(const QString &folder, const QString &name)
    {
        TSystemList list;
        TSystemRecord r;
        r.Cells = {QStringLiteral("1"), name, QStringLiteral("127.0.0.1:1"), QString(), QStringLiteral("0"),
            QStringLiteral("0"), QStringLiteral("eski rapor"), QString(), QStringLiteral("0")};
        list.Add(r);
        SaveSystemList(list, folder + QStringLiteral("/ZYRdenetleyici.dat"));
    }

    // The desktop session's environment, or one without a run-time folder and with a temporary folder
    // of its own.
    QProcessEnvironment Environment(bool desktop) const
    {
        QProcessEnvironment env = sandbox.Environment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        if (!desktop) {
            env.remove(QStringLiteral("XDG_RUNTIME_DIR"));
            env.insert(QStringLiteral("TMPDIR"), bareTemp);
        }
        return env;
    }

    void Start(QProcess &p, const QString &program, const QString &folder, bool desktop)
    {
        p.setProcessEnvironment(Environment(desktop));
        p.setWorkingDirectory(folder);
        p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        p.start(program,
            program.endsWith(QStringLiteral("copy-under-test")) ? QStringList{QStringLiteral("--child")}
                                                                : QStringList{});
        ASSERT_TRUE(p.waitForStarted(10000));
    }

    // The running copy, up with its window hidden.
    void StartRunningCopy(QProcess &p, bool desktop)
    {
        Start(p, prog + QStringLiteral("/copy-under-test"), prog, desktop);
        ASSERT_EQ(NextLine(p, 20000), QByteArray("hidden"));
    }

    static void Terminate(QProcess &p)
    {
        ::kill(pid_t(p.processId()), SIGTERM);
        ASSERT_TRUE(p.waitForFinished(20000));
        EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(p.exitCode(), 0);
    }
};

TEST_F(SecondStartTest, SecondStartOnTheSameFilesInAnyEnvironmentEndsAndRaisesTheRunningCopy)
{
    struct TCase
    {
        const char *name;
        bool firstOnDesktop, secondOnDesktop;
        const char *programFolder, *currentFolder;
    } cases[] = {
        {"second without a run-time folder", true, false, "prog", "prog"},
        {"first without a run-time folder, second from the desktop", false, true, "prog", "prog"},
        {"second from another folder: another list, the same settings", true, false, "prog", "other"},
        {"another program folder: other settings, the same list", true, false, "prog2", "prog"},
    };
    for (const TCase &c : cases) {
        SCOPED_TRACE(c.name);
        QProcess first;
        StartRunningCopy(first, c.firstOnDesktop);
        if (HasFatalFailure())
            return;
        const QString list = prog + QStringLiteral("/ZYRdenetleyici.dat");
        const QString otherList = other + QStringLiteral("/ZYRdenetleyici.dat");
        // What the second copy must leave alone, whichever files it was started on.
        const QStringList watched = {list, prog + QStringLiteral("/ZYRdenetleyici.log"),
            prog + QStringLiteral("/ZYRdenetleyici.ini"), otherList,
            prog2 + QStringLiteral("/ZYRdenetleyici.ini")};
        std::vector<TFileState> before;
        for (const QString &path : watched)
            before.push_back(StateOf(path));

        QProcess second;
        QElapsedTimer clock;
        clock.start();
        Start(second, dir.filePath(QString::fromUtf8(c.programFolder)) + QStringLiteral("/ZYRdenetleyici"),
            dir.filePath(QString::fromUtf8(c.currentFolder)), c.secondOnDesktop);
        const bool ended = second.waitForFinished(10000);
        EXPECT_TRUE(ended) << "the second copy runs";
        if (!ended) {
            Terminate(second);
        } else {
            EXPECT_LT(clock.elapsed(), 5000);
            EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
            EXPECT_EQ(second.exitCode(), 0);
        }
        EXPECT_EQ(NextLine(first, 10000), QByteArray("shown")) << "the running copy's window was not raised";
        EXPECT_EQ(first.state(), QProcess::Running);
        for (qsizetype i = 0; i < watched.size(); ++i)
            EXPECT_TRUE(StateOf(watched[i]) == before[size_t(i)]) << watched[i].toStdString() << " changed";
        const QByteArray otherLog = StateOf(other + QStringLiteral("/ZYRdenetleyici.log")).bytes;
        EXPECT_TRUE(otherLog.isEmpty()) << otherLog.toStdString();

        Terminate(first);
        TSystemList saved;
        LoadSystemList(saved, list);
        ASSERT_EQ(saved.Count(), 1);
        EXPECT_EQ(saved.Cell(0, TSystemRecord::Name), QStringLiteral("liste"));
    }
}

// One copy per set of files, not per user: a start with its own settings and its own list runs.
TEST_F(SecondStartTest, StartOnOtherFilesRunsBesideTheRunningCopy)
{
    QProcess first;
    StartRunningCopy(first, true);
    if (HasFatalFailure())
        return;
    QProcess second;
    Start(second, prog2 + QStringLiteral("/ZYRdenetleyici"), other, false);
    QElapsedTimer clock;
    clock.start();
    while (!StateOf(other + QStringLiteral("/ZYRdenetleyici.log")).bytes.contains("Veriler yüklendi")
        && second.state() == QProcess::Running && clock.elapsed() < 20000)
        QThread::msleep(50);
    EXPECT_TRUE(StateOf(other + QStringLiteral("/ZYRdenetleyici.log")).bytes.contains("Veriler yüklendi"));
    EXPECT_EQ(second.state(), QProcess::Running);
    Terminate(second);
    Terminate(first);
    EXPECT_EQ(first.readAllStandardOutput(), QByteArray()) << "the running copy was raised";
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(WatchTheWindow)

int main(int argc, char **argv)
{
    if (argc == 2 && std::strcmp(argv[1], "--child") == 0) {
        childMode = true;
        return RunProgram(argc - 1, argv);
    }
    ::testing::InitGoogleTest(&argc, argv);
    QCoreApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
