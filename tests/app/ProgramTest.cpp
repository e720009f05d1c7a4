// The real program, started the way a user starts it: its own folder with a settings file, a list file in
// the current directory, the offscreen platform.
#include "Loopback.h"
#include "records/SystemListFile.h"
#include "XdgSandbox.h"
#include <csignal>
#include <gtest/gtest.h>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

namespace {

class ProgramTest : public ::testing::Test
{
protected:
    QTemporaryDir dir;
    TXdgSandbox sandbox;
    QString program;

    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        program = dir.filePath(QStringLiteral("ZYRdenetleyici"));
        ASSERT_TRUE(QFile::copy(QStringLiteral(ZYR_PROGRAM), program));
        QFile::setPermissions(program, QFile::ExeOwner | QFile::ReadOwner | QFile::WriteOwner);
        ASSERT_TRUE(sandbox.Valid());
    }

    void WriteSettings(const QString &general)
    {
        QFile ini(dir.filePath(QStringLiteral("ZYRdenetleyici.ini")));
        ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
        ini.write(QStringLiteral("[General]\r\nRunAtStartup=0\r\nPeriod=0\r\n").toUtf8() + general.toUtf8()
            + QByteArrayLiteral("\r\n[Smtp]\r\nHost=\r\n"));
    }

    void WriteList(const QStringList &ips)
    {
        TSystemList list;
        for (const QString &ip : ips) {
            TSystemRecord r;
            r.Cells
                = {QStringLiteral("1"), QStringLiteral("sistem ") + ip, ip, QString(), QStringLiteral("0"),
                    QStringLiteral("3"), QStringLiteral("eski rapor"), QString(), QStringLiteral("0")};
            list.Add(r);
        }
        SaveSystemList(list, dir.filePath(QStringLiteral("ZYRdenetleyici.dat")));
    }

    void Start(QProcess &p)
    {
        QProcessEnvironment env = sandbox.Environment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        p.setProcessEnvironment(env);
        p.setWorkingDirectory(dir.path());
        p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        p.start(program, {});
        ASSERT_TRUE(p.waitForStarted(10000));
    }

    QString Log() const
    {
        QFile f(dir.filePath(QStringLiteral("ZYRdenetleyici.log")));
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    }

    bool WaitForLog(const QString &text, int ms = 20000)
    {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < ms) {
            if (Log().contains(text))
                return true;
            QThread::msleep(50);
        }
        return false;
    }

    void LoadSaved(TSystemList &list)
    {
        LoadSystemList(list, dir.filePath(QStringLiteral("ZYRdenetleyici.dat")));
    }
};

TEST_F(ProgramTest, StartsInOrderRefusesASecondCopyAndSavesOnSigterm)
{
    WriteSettings(QStringLiteral("CheckOnStart=0\r\nShowMainOnStart=1"));
    WriteList({QStringLiteral("127.0.0.1:1")});
    QProcess first;
    Start(first);
    ASSERT_TRUE(WaitForLog(QStringLiteral("Veriler yüklendi")));
    const QString log = Log();
    EXPECT_LT(log.indexOf(QStringLiteral("Program açıldı")), log.indexOf(QStringLiteral("Veriler yüklendi")));

    // The second copy ends at once, silently, and leaves the log alone.
    QProcess second;
    Start(second);
    ASSERT_TRUE(second.waitForFinished(15000));
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_EQ(Log(), log);
    EXPECT_EQ(first.state(), QProcess::Running);

    ::kill(pid_t(first.processId()), SIGTERM);
    ASSERT_TRUE(first.waitForFinished(15000));
    EXPECT_EQ(first.exitCode(), 0);
    EXPECT_TRUE(Log().trimmed().endsWith(QStringLiteral("Program kapandı")));
    TSystemList saved;
    LoadSaved(saved);
    ASSERT_EQ(saved.Count(), 1);
    EXPECT_EQ(saved.Cell(0, TSystemRecord::State), QStringLiteral("0"));
    EXPECT_EQ(saved.Cell(0, TSystemRecord::Details), QStringLiteral("eski rapor"));

    QFile ini(dir.filePath(QStringLiteral("ZYRdenetleyici.ini")));
    ASSERT_TRUE(ini.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(ini.readAll());
    EXPECT_TRUE(text.contains(QStringLiteral("[\\ServiceList\\Columns\\State]")));
    EXPECT_TRUE(text.contains(QStringLiteral("[General]")));
}

TEST_F(ProgramTest, SignalDuringAStartUpCheckSavesAtOnceWithoutWaitingForTheCheck)
{
    // A system that accepts and never answers keeps the start-up check running for the whole time-out.
    const TLoopbackListener silent;
    ASSERT_TRUE(silent.Listening());
    const QString ip = QString::fromStdString(silent.Target());
    WriteSettings(QStringLiteral("CheckOnStart=1\r\nShowMainOnStart=1\r\nTimeOut=60000"));
    WriteList({ip});
    QProcess p;
    Start(p);
    ASSERT_TRUE(WaitForLog(QStringLiteral("Denetleme başladı. IP: ") + ip));
    QElapsedTimer t;
    t.start();
    ::kill(pid_t(p.processId()), SIGTERM);
    ASSERT_TRUE(p.waitForFinished(20000));
    EXPECT_LT(t.elapsed(), 20000);
    EXPECT_FALSE(Log().contains(QStringLiteral("Denetleme bitti")));
    TSystemList saved;
    LoadSaved(saved);
    ASSERT_EQ(saved.Count(), 1);
    EXPECT_EQ(saved.Cell(0, TSystemRecord::State), QStringLiteral("0"));
}

} // namespace
