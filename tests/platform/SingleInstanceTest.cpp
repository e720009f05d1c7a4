// One copy per set of files: the lock lives in the folders of the files, so a copy started in another
// environment (no XDG_RUNTIME_DIR, another temporary folder) still finds the running one, and the run-time
// folder is used only as a stand-in that nothing another local user leaves there can block.
#include "platform/SingleInstance.h"
#include "../support/PrivateMount.h"
#include <algorithm>
#include <csignal>
#include <grp.h>
#include <gtest/gtest.h>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
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
    QString data = dir.filePath(QStringLiteral("data")); // the list file's folder
    QString conf = dir.filePath(QStringLiteral("conf")); // the settings file's folder
    QString ownTemp = tmp + QStringLiteral("/ZYRdenetleyici-") + QString::number(::geteuid());
    std::vector<std::pair<const char *, QByteArray>> saved;

    void SetUp() override
    {
        ::chmod(QFile::encodeName(dir.path()).constData(), 0755); // other users reach the shared folders
        for (const char *var : {"XDG_RUNTIME_DIR", "TMPDIR"})
            saved.emplace_back(var, qgetenv(var));
        MakeFolder(tmp, 01777);
        MakeFolder(runtime, 0700);
        MakeFolder(data, 0755);
        MakeFolder(conf, 0755);
        Desktop();
    }
    void TearDown() override
    {
        for (const auto &[var, value] : saved)
            value.isNull() ? qunsetenv(var) : qputenv(var, value);
    }
    // The environment of a desktop session, and one without a run-time folder (cron, sudo -u, env -u)
    // with a temporary folder of its own.
    void Desktop()
    {
        qputenv("TMPDIR", QFile::encodeName(tmp));
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime));
    }
    void Bare(const QString &Temp)
    {
        qunsetenv("XDG_RUNTIME_DIR");
        qputenv("TMPDIR", QFile::encodeName(Temp));
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
    static QByteArray Content(const QString &path)
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
    }
    static QStringList Sorted(QStringList list)
    {
        list.sort();
        return list;
    }
    // The stand-in lock of a folder in a run-time folder: named after the folder's device and inode.
    static QString StandIn(const QString &runtimeFolder, const QString &folder)
    {
        struct stat st
        {
        };
        ::stat(QFile::encodeName(folder).constData(), &st);
        return runtimeFolder
            + QStringLiteral("/ZYRdenetleyici-%1-%2.lock")
                  .arg(quint64(st.st_dev), 0, 16)
                  .arg(quint64(st.st_ino));
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

TEST_F(SingleInstance, OneCopyPerSetOfFilesWhateverTheEnvironment)
{
    const QString address = runtime + QStringLiteral("/ZYRdenetleyici-1-2.raise");
    const QString elsewhere = dir.filePath(QStringLiteral("elsewhere"));
    const QString other = dir.filePath(QStringLiteral("other"));
    const QString link = dir.filePath(QStringLiteral("conf-link"));
    MakeFolder(elsewhere, 0755);
    MakeFolder(other, 0755);
    ASSERT_TRUE(QFile::link(conf, link));
    const QString bareTemp = dir.filePath(QStringLiteral("cron-tmp"));
    MakeFolder(bareTemp, 01777);
    {
        TSingleInstance first(kName, {data, conf});
        ASSERT_TRUE(first.Acquired());
        EXPECT_EQ(Sorted(first.LockPaths()),
            QStringList({conf + QStringLiteral("/ZYRdenetleyici.lock"),
                data + QStringLiteral("/ZYRdenetleyici.lock")}));
        for (const QString &lock : first.LockPaths())
            EXPECT_EQ(ModeOf(lock) & 07777, 0600u) << lock.toStdString();
        EXPECT_TRUE(first.Key().startsWith(QStringLiteral("ZYRdenetleyici-")));
        first.Publish(address);
        EXPECT_EQ(Content(data + QStringLiteral("/ZYRdenetleyici.lock")), QFile::encodeName(address) + '\n');

        // Started without a run-time folder, as cron or sudo -u start it.
        Bare(bareTemp);
        struct TCase
        {
            const char *name;
            QStringList folders;
        } cases[] = {
            {"the same files", {data, conf}},
            {"the same files, the settings' folder by another path", {link, data}},
            {"another settings file beside the same list", {data, elsewhere}},
            {"another list with the same settings", {elsewhere, conf}},
            {"the list and the settings in one folder", {conf, conf}},
        };
        for (const TCase &c : cases) {
            SCOPED_TRACE(c.name);
            TSingleInstance second(kName, c.folders);
            EXPECT_FALSE(second.Acquired());
            EXPECT_TRUE(second.LockPaths().isEmpty());
            EXPECT_EQ(second.RunningCopyAddress(0), address);
        }
        // Other files: a copy of their own.
        TSingleInstance third(kName, {elsewhere, other});
        EXPECT_TRUE(third.Acquired());
        EXPECT_EQ(third.LockPaths().size(), 2);
        EXPECT_NE(third.Key(), first.Key());
        EXPECT_EQ(Content(data + QStringLiteral("/ZYRdenetleyici.lock")), QFile::encodeName(address) + '\n');
    }
    // Once the first has ended the files are free, and what it published is gone with it.
    TSingleInstance again(kName, {link, data});
    EXPECT_TRUE(again.Acquired());
    EXPECT_EQ(again.LockPaths().size(), 2);
    EXPECT_EQ(Content(data + QStringLiteral("/ZYRdenetleyici.lock")), QByteArray());
    EXPECT_TRUE(QDir(runtime).isEmpty()) << "nothing in the run-time folder";
}

// The kernel drops the lock of a copy that was killed; its address is not handed to the next start. A
// second start that finds a copy still starting waits a little for its address, never long.
TEST_F(SingleInstance, KilledCopyNeverBlocksAndAStartingOneIsWaitedForBriefly)
{
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        TSingleInstance crashed(kName, {data, conf});
        crashed.Publish(QStringLiteral("/gone/ZYRdenetleyici-1-2.raise"));
        const char c = crashed.Acquired() ? 'y' : 'n';
        (void)!::write(ready[1], &c, 1);
        ::pause();
        ::_exit(0);
    }
    char c = 0;
    ASSERT_EQ(::read(ready[0], &c, 1), 1);
    ::close(ready[0]);
    ::close(ready[1]);
    ASSERT_EQ(c, 'y');
    EXPECT_FALSE(TSingleInstance(kName, {data, conf}).Acquired());
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);

    TSingleInstance next(kName, {data, conf});
    ASSERT_TRUE(next.Acquired());
    {
        QElapsedTimer clock;
        clock.start();
        EXPECT_EQ(TSingleInstance(kName, {data}).RunningCopyAddress(300), QString());
        EXPECT_GE(clock.elapsed(), 300);
        EXPECT_LT(clock.elapsed(), 1500);
    }
    const QString address = runtime + QStringLiteral("/ZYRdenetleyici-3-4.raise");
    std::thread publisher([&] {
        ::usleep(300000);
        next.Publish(address);
    });
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(TSingleInstance(kName, {conf}).RunningCopyAddress(5000), address);
    EXPECT_GE(clock.elapsed(), 250);
    EXPECT_LT(clock.elapsed(), 2000);
    publisher.join();
    // A running copy without a raise socket publishes that: the second start does not wait.
    next.Publish(QString());
    clock.restart();
    EXPECT_EQ(TSingleInstance(kName, {conf}).RunningCopyAddress(5000), QString());
    EXPECT_LT(clock.elapsed(), 1000);
}

// Each copy takes the locks in the same order whatever order its folders come in: two copies starting at
// the same moment, one naming the list's folder first and the other the settings', never both end.
TEST_F(SingleInstance, TwoCopiesStartingTogetherNeverBothEnd)
{
    int bothEnded = 0, bothRan = 0;
    for (int round = 0; round < 100; ++round) {
        int go[2], results[2], release[2];
        ASSERT_EQ(::pipe(go), 0);
        ASSERT_EQ(::pipe(results), 0);
        ASSERT_EQ(::pipe(release), 0);
        pid_t children[2];
        for (int i = 0; i < 2; ++i) {
            children[i] = ::fork();
            if (children[i] == 0) {
                ::close(go[1]);
                ::close(release[1]);
                char c;
                (void)!::read(go[0], &c, 1);
                TSingleInstance copy(kName, i == 0 ? QStringList{data, conf} : QStringList{conf, data});
                c = copy.Acquired() ? 'y' : 'n';
                (void)!::write(results[1], &c, 1);
                (void)!::read(release[0], &c, 1); // holds its locks until both have tried
                ::_exit(0);
            }
        }
        ::close(go[0]);
        ::close(go[1]); // both start
        int ran = 0;
        for (int i = 0; i < 2; ++i) {
            char c = 0;
            ASSERT_EQ(::read(results[0], &c, 1), 1);
            ran += c == 'y';
        }
        ::close(release[0]);
        ::close(release[1]);
        ::close(results[0]);
        ::close(results[1]);
        for (pid_t child : children)
            ::waitpid(child, nullptr, 0);
        bothEnded += ran == 0;
        bothRan += ran == 2;
    }
    EXPECT_EQ(bothEnded, 0);
    EXPECT_EQ(bothRan, 0);
}

// Where the folder gives no lock file of the user's own, the lock is the folder's stand-in in the run-time
// folder: a second start in the same environment still ends; one in another environment runs (nothing is
// shared between the two but the folder, which takes no lock).
TEST_F(SingleInstance, FolderWithoutALockOfItsOwnIsLockedInTheRunTimeFolder)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "SKIPPED: needs root for a read-only file system and to act as another user";
    struct TCase
    {
        const char *name;
        bool readOnly;
        bool foreignHolder;
        mode_t ownMode; // the user's own lock file left with this mode; 0: none
    } cases[] = {
        {"a folder the user cannot write", true, false, 0},
        {"another user's lock file, held by that user", false, true, 0},
        {"the user's own lock file, open to others", false, false, 0644},
    };
    for (const TCase &c : cases) {
        SCOPED_TRACE(c.name);
        TPrivateTmpfs fs("size=64k,mode=0777");
        SKIP_WITHOUT_PRIVATE_TMPFS(fs);
        const QString folder = fs.Path();
        const QString lock = folder + QStringLiteral("/ZYRdenetleyici.lock");
        std::pair<pid_t, int> holder{-1, -1};
        if (c.foreignHolder) {
            holder = HoldAsNobody(lock);
            ASSERT_GT(holder.first, 0);
        }
        if (c.ownMode) {
            QFile own(lock);
            ASSERT_TRUE(own.open(QIODevice::WriteOnly));
            ASSERT_EQ(::chmod(QFile::encodeName(lock).constData(), c.ownMode), 0);
        }
        if (c.readOnly) {
            ASSERT_TRUE(fs.MakeReadOnly());
        }
        {
            TSingleInstance first(kName, {folder});
            ASSERT_TRUE(first.Acquired());
            EXPECT_EQ(first.LockPaths(), QStringList{StandIn(runtime, folder)});
            EXPECT_EQ(ModeOf(StandIn(runtime, folder)) & 07777, 0600u);
            first.Publish(QStringLiteral("/run/ZYRdenetleyici-5-6.raise"));
            TSingleInstance second(kName, {folder, folder});
            EXPECT_FALSE(second.Acquired());
            EXPECT_EQ(second.RunningCopyAddress(0), QStringLiteral("/run/ZYRdenetleyici-5-6.raise"));
            Bare(tmp);
            EXPECT_TRUE(TSingleInstance(kName, {folder}).Acquired());
            Desktop();
        }
        EXPECT_EQ(Content(lock), c.readOnly ? QByteArray("<unreadable>") : QByteArray()) << "left unwritten";
        if (c.ownMode) {
            EXPECT_EQ(ModeOf(lock) & 07777, c.ownMode);
        }
        if (holder.first > 0)
            Release(holder);
        QFile::remove(StandIn(runtime, folder));
    }
}

// With no run-time folder of the user's own either (the predictable one in the temporary folder taken by
// another user, or a link), a folder without a lock of its own gives none: the program runs.
TEST_F(SingleInstance, NoLockAnywhereStillRuns)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "SKIPPED: needs root to act as another user";
    Bare(tmp);
    MakeFolder(ownTemp, 0777, 65534);
    ::chmod(QFile::encodeName(data).constData(), 0777);
    auto holder = HoldAsNobody(data + QStringLiteral("/ZYRdenetleyici.lock"));
    ASSERT_GT(holder.first, 0);
    EXPECT_EQ(UserRuntimeFolder(kName), QString());
    {
        TSingleInstance instance(kName, {data});
        EXPECT_TRUE(instance.Acquired());
        EXPECT_EQ(instance.LockPaths(), QStringList());
        EXPECT_EQ(instance.Key(), QString());
        // The settings' folder still gives its own lock, and keeps a second copy out.
        TSingleInstance both(kName, {data, conf});
        EXPECT_TRUE(both.Acquired());
        EXPECT_EQ(both.LockPaths(), QStringList{conf + QStringLiteral("/ZYRdenetleyici.lock")});
        EXPECT_FALSE(TSingleInstance(kName, {conf, data}).Acquired());
    }
    Release(holder);
    EXPECT_TRUE(QDir(ownTemp).isEmpty());
}

TEST_F(SingleInstance, UnsoundRuntimeFolderGivesWayToAPrivateOneInTheTemporaryFolder)
{
    EXPECT_EQ(UserRuntimeFolder(kName), runtime);
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
    // One of the user's own that lost its mode is mended.
    ::chmod(QFile::encodeName(ownTemp).constData(), 0755);
    EXPECT_EQ(UserRuntimeFolder(kName), ownTemp);
    EXPECT_EQ(ModeOf(ownTemp) & 07777, 0700u);
}

// Another local user made the predictable folder first, or put a link there: neither is used.
TEST_F(SingleInstance, TemporaryFolderTakenByAnotherUserIsNotUsed)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "SKIPPED: needs root to act as another user";
    qunsetenv("XDG_RUNTIME_DIR");
    MakeFolder(ownTemp, 0777, 65534);
    EXPECT_EQ(UserRuntimeFolder(kName), QString());
    ASSERT_TRUE(QDir(ownTemp).removeRecursively());
    const QString elsewhere = dir.filePath(QStringLiteral("elsewhere"));
    MakeFolder(elsewhere, 0700);
    ASSERT_TRUE(QFile::link(elsewhere, ownTemp));
    EXPECT_EQ(UserRuntimeFolder(kName), QString());
    EXPECT_TRUE(QDir(elsewhere).isEmpty());
}
