// The single-instance lock lives in a folder of the user's own, and nothing another local user leaves
// in the shared temporary folder can keep the program from starting.
#include "platform/SingleInstance.h"
#include <grp.h>
#include <gtest/gtest.h>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

const QString kName = QStringLiteral("ZYRdenetleyici");

class SingleInstance : public ::testing::Test
{
protected:
    QTemporaryDir dir;
    QString tmp = dir.filePath(QStringLiteral("tmp"));
    QString runtime = dir.filePath(QStringLiteral("run"));
    QString beside = dir.filePath(QStringLiteral("prog"));
    QString ownTemp = tmp + QStringLiteral("/ZYRdenetleyici-") + QString::number(::geteuid());
    std::vector<std::pair<const char *, QByteArray>> saved;

    void SetUp() override
    {
        ::chmod(QFile::encodeName(dir.path()).constData(), 0755); // other users reach the shared folders
        for (const char *var : {"XDG_RUNTIME_DIR", "TMPDIR"})
            saved.emplace_back(var, qgetenv(var));
        MakeFolder(tmp, 01777);
        MakeFolder(runtime, 0700);
        MakeFolder(beside, 0755);
        qputenv("TMPDIR", QFile::encodeName(tmp));
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime));
    }
    void TearDown() override
    {
        for (const auto &[var, value] : saved)
            value.isNull() ? qunsetenv(var) : qputenv(var, value);
    }
    static void MakeFolder(const QString &path, mode_t mode, uid_t owner = ::geteuid())
    {
        const QByteArray p = QFile::encodeName(path);
        ASSERT_EQ(::mkdir(p.constData(), 0700), 0) << path.toStdString();
        ASSERT_EQ(::chmod(p.constData(), mode), 0);
        ASSERT_EQ(::chown(p.constData(), owner, owner), 0);
    }
    static mode_t ModeOf(const QString &path)
    {
        struct stat st
        {
        };
        ::lstat(QFile::encodeName(path).constData(), &st);
        return st.st_mode;
    }
};

// Another user holding an flock on Path (opened as that user) until the returned pipe is closed.
std::pair<pid_t, int> HoldAsNobody(const QString &path)
{
    int ready[2], release[2];
    if (::pipe(ready) != 0 || ::pipe(release) != 0)
        return {-1, -1};
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(ready[0]);
        ::close(release[1]);
        char c = 'n';
        if (::setgroups(0, nullptr) == 0 && ::setgid(65534) == 0 && ::setuid(65534) == 0) {
            const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT, 0644);
            c = fd >= 0 && ::flock(fd, LOCK_EX) == 0 ? 'y' : 'n';
        }
        (void)!::write(ready[1], &c, 1);
        if (c == 'y')
            (void)!::read(release[0], &c, 1);
        ::_exit(0);
    }
    char c = 0;
    (void)!::read(ready[0], &c, 1);
    ::close(ready[0]);
    ::close(ready[1]);
    ::close(release[0]);
    return {c == 'y' ? child : -1, release[1]};
}

void Release(std::pair<pid_t, int> holder)
{
    ::close(holder.second);
    if (holder.first > 0)
        ::waitpid(holder.first, nullptr, 0);
}

} // namespace

TEST_F(SingleInstance, OneCopyAtATimeInASoundRuntimeFolder)
{
    EXPECT_EQ(UserRuntimeFolder(kName), runtime);
    {
        TSingleInstance first(kName, beside);
        EXPECT_TRUE(first.Acquired());
        EXPECT_EQ(first.LockPath(), runtime + QStringLiteral("/ZYRdenetleyici.lock"));
        TSingleInstance second(kName, beside);
        EXPECT_FALSE(second.Acquired());
    }
    TSingleInstance again(kName, beside);
    EXPECT_TRUE(again.Acquired());
    EXPECT_FALSE(QFile::exists(beside + QStringLiteral("/ZYRdenetleyici.lock")));
}

TEST_F(SingleInstance, UnsoundRuntimeFolderGivesWayToAPrivateOneInTheTemporaryFolder)
{
    const QString open = dir.filePath(QStringLiteral("open"));
    MakeFolder(open, 0755);
    const QString link = dir.filePath(QStringLiteral("link"));
    ASSERT_TRUE(QFile::link(runtime, link));
    QStringList values = {QString(), QStringLiteral("run"), open, link};
    if (::geteuid() == 0) {
        values.append(dir.filePath(QStringLiteral("foreign")));
        MakeFolder(values.last(), 0700, 65534);
    }
    for (const QString &value : values) {
        SCOPED_TRACE(value.toStdString());
        if (value.isNull())
            qunsetenv("XDG_RUNTIME_DIR");
        else
            qputenv("XDG_RUNTIME_DIR", QFile::encodeName(value));
        EXPECT_EQ(UserRuntimeFolder(kName), ownTemp);
        EXPECT_EQ(ModeOf(ownTemp) & 07777, 0700u);
    }
    // One of the user's own that lost its mode is mended; the lock goes there.
    ::chmod(QFile::encodeName(ownTemp).constData(), 0755);
    TSingleInstance instance(kName, beside);
    EXPECT_TRUE(instance.Acquired());
    EXPECT_EQ(instance.LockPath(), ownTemp + QStringLiteral("/ZYRdenetleyici.lock"));
    EXPECT_EQ(ModeOf(ownTemp) & 07777, 0700u);
}

// Another local user made the predictable folder first, or put a link there: neither is used, and the
// program takes its lock beside the settings file instead of ending.
TEST_F(SingleInstance, TemporaryFolderTakenByAnotherUserFallsBackBesideTheSettings)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "SKIPPED: needs root to act as another user";
    qunsetenv("XDG_RUNTIME_DIR");
    MakeFolder(ownTemp, 0777, 65534);
    auto holder = HoldAsNobody(ownTemp + QStringLiteral("/ZYRdenetleyici.lock"));
    ASSERT_GT(holder.first, 0);
    EXPECT_EQ(UserRuntimeFolder(kName), QString());
    {
        TSingleInstance instance(kName, beside);
        EXPECT_TRUE(instance.Acquired());
        EXPECT_EQ(instance.LockPath(), beside + QStringLiteral("/ZYRdenetleyici.lock"));
        EXPECT_EQ(ModeOf(instance.LockPath()) & 07777, 0600u);
        // The fallback still keeps a second copy out.
        EXPECT_FALSE(TSingleInstance(kName, beside).Acquired());
    }
    Release(holder);

    ASSERT_TRUE(QDir(ownTemp).removeRecursively());
    const QString elsewhere = dir.filePath(QStringLiteral("elsewhere"));
    MakeFolder(elsewhere, 0700);
    ASSERT_TRUE(QFile::link(elsewhere, ownTemp));
    EXPECT_EQ(UserRuntimeFolder(kName), QString());
    EXPECT_TRUE(TSingleInstance(kName, beside).Acquired());
    EXPECT_TRUE(QDir(elsewhere).isEmpty());
}

// A lock file that belongs to someone else, even one they hold, is no running copy.
TEST_F(SingleInstance, LockFileOfAnotherUserIsNoRunningCopy)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "SKIPPED: needs root to act as another user";
    qunsetenv("XDG_RUNTIME_DIR");
    MakeFolder(ownTemp, 0777, 65534);
    ::chmod(QFile::encodeName(beside).constData(), 0777);
    auto inTemp = HoldAsNobody(ownTemp + QStringLiteral("/ZYRdenetleyici.lock"));
    auto besideSettings = HoldAsNobody(beside + QStringLiteral("/ZYRdenetleyici.lock"));
    ASSERT_GT(inTemp.first, 0);
    ASSERT_GT(besideSettings.first, 0);
    TSingleInstance instance(kName, beside);
    EXPECT_TRUE(instance.Acquired());
    EXPECT_EQ(instance.LockPath(), QString()); // runs without a lock rather than not at all
    Release(besideSettings); // the later holder keeps a copy of the earlier one's pipe
    Release(inTemp);
}
