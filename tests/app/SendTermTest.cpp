// The program's own start-up (RunProgram) in a child process of this test, from a folder of its own,
// sending its status mails to a server that accepts and never answers when SIGTERM arrives.
#include "app/Program.h"
#include "console/MessageBoxes.h"
#include "Loopback.h"
#include "records/SystemListFile.h"
#include "XdgSandbox.h"
#include <csignal>
#include <cstring>
#include <gtest/gtest.h>
#include <QAction>
#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

namespace {

bool childMode = false;

// In the child: once the window is up, "Gönder" confirmed.
void SendOnceRunning()
{
    if (childMode)
        QTimer::singleShot(300, qApp, [] {
            for (QWidget *window : QApplication::topLevelWidgets())
                if (window->objectName() == QLatin1String("MainForm"))
                    if (auto *send = window->findChild<QAction *>(QStringLiteral("Gonder"))) {
                        TMessageBoxHook::Enable(true);
                        TMessageBoxHook::SetNextAnswer(IDOK);
                        send->trigger();
                    }
        });
}

TEST(SendTermTest, SigtermDuringAMailRoundSavesAndEndsAtOnce)
{
    const TLoopbackListener silent;
    ASSERT_TRUE(silent.Listening());

    QTemporaryDir dir;
    const QString program = dir.filePath(QStringLiteral("ZYRdenetleyici"));
    ASSERT_TRUE(QFile::copy(QCoreApplication::applicationFilePath(), program));
    QFile::setPermissions(program, QFile::ExeOwner | QFile::ReadOwner | QFile::WriteOwner);
    const TXdgSandbox sandbox;
    ASSERT_TRUE(sandbox.Valid());
    {
        QFile ini(dir.filePath(QStringLiteral("ZYRdenetleyici.ini")));
        ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
        ini.write(QStringLiteral(
            "[General]\r\nRunAtStartup=0\r\nPeriod=0\r\nCheckOnStart=0\r\nShowMainOnStart=1\r\nMailAfterCtrl="
            "0\r\n"
            "TimeOut=60000\r\n[Smtp]\r\nHost=%1\r\nPort=%2\r\nFrom=denetleyici@example.com\r\n"
            "To=a@example.com,b@example.com\r\n[Emails]\r\na@example.com=\r\nb@example.com=\r\n")
                      .arg(QString::fromStdString(silent.Host()))
                      .arg(silent.Port())
                      .toUtf8());
    }
    TSystemList list;
    TSystemRecord r;
    r.Cells = {QStringLiteral("1"), QStringLiteral("sistem"), QStringLiteral("127.0.0.1:1"), QString(),
        QStringLiteral("0"), QStringLiteral("3"), QStringLiteral("eski rapor"), QString(),
        QStringLiteral("0")};
    list.Add(r);
    SaveSystemList(list, dir.filePath(QStringLiteral("ZYRdenetleyici.dat")));

    QProcess p;
    QProcessEnvironment env = sandbox.Environment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    p.setProcessEnvironment(env);
    p.setWorkingDirectory(dir.path());
    p.setProcessChannelMode(QProcess::ForwardedChannels);
    p.start(program, {QStringLiteral("--child")});
    ASSERT_TRUE(p.waitForStarted(10000));
    auto log = [&] {
        QFile f(dir.filePath(QStringLiteral("ZYRdenetleyici.log")));
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    };
    QElapsedTimer wait;
    wait.start();
    while (!log().contains(QStringLiteral("E-posta şu adres(ler)e gönderilecek: a@example.com"))
        && wait.elapsed() < 20000)
        QThread::msleep(20);
    ASSERT_TRUE(log().contains(QStringLiteral("gönderilecek"))) << log().toStdString();
    QThread::msleep(300); // into the wait for the server's greeting

    QElapsedTimer end;
    end.start();
    ::kill(pid_t(p.processId()), SIGTERM);
    ASSERT_TRUE(p.waitForFinished(20000));
    EXPECT_LT(end.elapsed(), 2000);
    EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(p.exitCode(), 0);
    const QString text = log();
    EXPECT_TRUE(text.trimmed().endsWith(QStringLiteral("Program kapandı"))) << text.toStdString();
    EXPECT_EQ(text.count(QStringLiteral("gönderilecek")), 1); // the second address was not tried
    TSystemList saved;
    LoadSystemList(saved, dir.filePath(QStringLiteral("ZYRdenetleyici.dat")));
    ASSERT_EQ(saved.Count(), 1);
    EXPECT_EQ(saved.Cell(0, TSystemRecord::State), QStringLiteral("0"));
    EXPECT_EQ(saved.Cell(0, TSystemRecord::Details), QStringLiteral("eski rapor"));
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(SendOnceRunning)

int main(int argc, char **argv)
{
    if (argc == 2 && strcmp(argv[1], "--child") == 0) {
        childMode = true;
        return RunProgram(argc - 1, argv);
    }
    ::testing::InitGoogleTest(&argc, argv);
    QCoreApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
