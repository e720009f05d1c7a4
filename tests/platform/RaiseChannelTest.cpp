// A second start asks the running copy to show its window through a socket in the user's private
// run-time folder, at the path the running copy published: heard at once, never waited for, made
// private, and left tidy.
#include "platform/RaiseChannel.h"
#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

const QString kName = QStringLiteral("ZYRdenetleyici");

void NeedApplication()
{
    static int argc = 1;
    static char name[] = "platform_tests";
    static char *argv[] = {name, nullptr};
    if (!QCoreApplication::instance())
        new QCoreApplication(argc, argv); // lives to the end of the tests
}

bool Pump(const std::function<bool()> &Done, int Ms = 5000)
{
    QElapsedTimer clock;
    clock.start();
    while (!Done() && clock.elapsed() < Ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return Done();
}

mode_t ModeOf(const QString &Path)
{
    struct stat st
    {
    };
    return ::lstat(QFile::encodeName(Path).constData(), &st) == 0 ? st.st_mode : 0;
}

TEST(RaiseChannel, SecondStartIsHeardOnceItsChannelIsPrivateAndRemovedAtTheEnd)
{
    NeedApplication();
    QTemporaryDir dir;
    const QString socket = dir.filePath(kName + QStringLiteral(".raise"));
    EXPECT_FALSE(RequestRaise(socket)) << "nobody listens yet";

    // A socket left by a copy that was killed is taken over.
    {
        const int stale = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::strcpy(addr.sun_path, QFile::encodeName(socket).constData());
        ASSERT_EQ(::bind(stale, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0);
        ::close(stale);
        EXPECT_FALSE(RequestRaise(socket)) << "a dead copy's socket answers nothing";
    }
    int raised = 0;
    {
        TRaiseChannel channel(dir.path(), kName);
        channel.OnRaise = [&] { ++raised; };
        ASSERT_TRUE(channel.Listening());
        EXPECT_EQ(channel.Path(), socket);
        EXPECT_TRUE(S_ISSOCK(ModeOf(socket)));
        EXPECT_EQ(ModeOf(socket) & 0777, 0600u);

        // Asking returns at once, before the running copy has looked.
        QElapsedTimer clock;
        clock.start();
        EXPECT_TRUE(RequestRaise(socket));
        EXPECT_LT(clock.elapsed(), 1000);
        EXPECT_EQ(raised, 0);
        EXPECT_TRUE(Pump([&] { return raised == 1; }));
        EXPECT_TRUE(RequestRaise(socket));
        EXPECT_TRUE(Pump([&] { return raised == 2; }));
    }
    EXPECT_FALSE(QFileInfo::exists(socket)) << "removed when the copy ends";
    EXPECT_FALSE(RequestRaise(socket));
}

TEST(RaiseChannel, NoChannelWhereNoneCanBeMadeSafely)
{
    NeedApplication();
    QTemporaryDir dir;
    // Something else at the name is not removed.
    const QString path = dir.filePath(kName + QStringLiteral(".raise"));
    QFile other(path);
    ASSERT_TRUE(other.open(QIODevice::WriteOnly));
    other.write("data");
    other.close();
    {
        TRaiseChannel channel(dir.path(), kName);
        EXPECT_FALSE(channel.Listening());
    }
    EXPECT_TRUE(QFileInfo(path).isFile());
    EXPECT_EQ(QFileInfo(path).size(), 4);

    // No run-time folder or no lock key, or a folder too deep for a socket's name: neither listening nor
    // asking fails loudly.
    TRaiseChannel none(QString(), kName);
    EXPECT_FALSE(none.Listening());
    TRaiseChannel noKey(dir.path(), QString());
    EXPECT_FALSE(noKey.Listening());
    EXPECT_FALSE(QFileInfo::exists(dir.filePath(QStringLiteral(".raise"))));
    EXPECT_FALSE(RequestRaise(QString()));
    const QString deep = dir.filePath(QString(120, QLatin1Char('d')));
    ASSERT_TRUE(QDir().mkpath(deep));
    TRaiseChannel tooLong(deep, kName);
    EXPECT_FALSE(tooLong.Listening());
    EXPECT_FALSE(RequestRaise(deep + QStringLiteral("/ZYRdenetleyici.raise")));
}

} // namespace
