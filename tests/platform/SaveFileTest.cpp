// Every save replaces the file whole or leaves it byte-identical: on a real full (tmpfs) file system, a
// read-only one, a file a mount sits on, and with the sync and close steps failing.
#include "platform/SaveFile.h"
#include "../support/FileBytes.h"
#include "../support/PrivateMount.h"
#include <cstring>
#include <grp.h>
#include <gtest/gtest.h>
#include <initializer_list>
#include <ostream>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

// Byte strings in failures: the size and how they begin.
inline void PrintTo(const QByteArray &bytes, std::ostream *os)
{
    *os << bytes.size() << " bytes \"" << bytes.left(48).toPercentEncoding(" []=").toStdString() << '"';
}

// The sync and close steps never fail on tmpfs, nor does giving a file an access control list; the test
// binary is linked with --wrap for these three.
namespace {
int failFsync = 0;
int failClose = 0;
int failFsetxattr = 0;
} // namespace
extern "C" int __real_fsync(int fd);
extern "C" int __real_close(int fd);
extern "C" int __real_fsetxattr(int fd, const char *name, const void *value, size_t size, int flags);
extern "C" int __wrap_fsetxattr(int fd, const char *name, const void *value, size_t size, int flags)
{
    if (failFsetxattr) {
        errno = failFsetxattr;
        return -1;
    }
    return __real_fsetxattr(fd, name, value, size, flags);
}
extern "C" int __wrap_fsync(int fd)
{
    if (failFsync) {
        errno = failFsync;
        return -1;
    }
    return __real_fsync(fd);
}
extern "C" int __wrap_close(int fd)
{
    if (failClose) {
        __real_close(fd);
        errno = failClose;
        return -1;
    }
    return __real_close(fd);
}

namespace {

QStringList Names(std::initializer_list<const char *> names)
{
    QStringList out;
    for (const char *n : names)
        out.append(QString::fromUtf8(n));
    return out;
}

QStringList Entries(const QString &dir)
{
    return QDir(dir).entryList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

QByteArray Pattern(qsizetype size, char seed)
{
    QByteArray b(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        b[i] = char(seed + i % 61);
    return b;
}

struct stat StatOf(const QString &path)
{
    struct stat st
    {
    };
    ::lstat(QFile::encodeName(path).constData(), &st);
    return st;
}

// Runs the save as an ordinary user (nobody), for whom folder permissions count.
int SaveAsNobody(const QString &path, const QByteArray &bytes)
{
    const pid_t child = ::fork();
    if (child == 0) {
        if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)
            ::_exit(254);
        ::_exit(SaveFile(path, bytes));
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 255;
}

// The tools an administrator uses, so the list is read back independently of the saver.
bool SetFacl(const QStringList &args)
{
    QProcess p;
    p.start(QStringLiteral("setfacl"), args);
    return p.waitForFinished(10000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

std::string GetFacl(const QString &path)
{
    QProcess p;
    p.start(QStringLiteral("getfacl"), {QStringLiteral("-cp"), path});
    p.waitForFinished(10000);
    return p.readAllStandardOutput().toStdString();
}

} // namespace

TEST(SaveFile, FullFileSystemLeavesTheOldFileByteIdentical)
{
    struct TCase
    {
        const char *name;
        qsizetype oldSize, newSize;
        qint64 leaveFree; // free bytes when the save starts
    } cases[] = {
        // The close's small layout write that failed only at its flush and was renamed over the file.
        {"small file, disk full", 300, 3000, 0},
        {"small file replacing a larger one, disk full", 40000, 200, 0},
        {"large file, running out half-way", 200000, 3000000, 256 * 1024},
    };
    for (const TCase &c : cases) {
        SCOPED_TRACE(c.name);
        TPrivateTmpfs fs("size=1m,mode=0755");
        SKIP_WITHOUT_PRIVATE_TMPFS(fs);
        const QString path = fs.FilePath("ZYRdenetleyici.ini");
        const QByteArray old = Pattern(c.oldSize, 'a');
        WriteBytes(path, old);
        fs.FillLeaving(c.leaveFree);
        EXPECT_EQ(SaveFile(path, Pattern(c.newSize, 'A')), ENOSPC);
        EXPECT_EQ(ReadBytes(path), old);
        EXPECT_EQ(Entries(fs.Path()), Names({"ZYRdenetleyici.ini", "fill"}));
    }
}

TEST(SaveFile, EveryFailingStepLeavesTheOldFile)
{
    const QByteArray old = "[General]\r\nPeriod=5\r\n";
    const QByteArray fresh = "[General]\r\nPeriod=10\r\n";
    struct TCase
    {
        const char *name;
        const char *options;
        int expected;
    } cases[] = {
        {"no inode left for the temporary file (open)", "size=1m,nr_inodes=2,mode=0755", ENOSPC},
        {"read-only file system", "size=1m,mode=0755", EROFS},
        {"sync fails", "size=1m,mode=0755", EIO},
        {"close reports a lost write", "size=1m,mode=0755", EDQUOT},
        {"a mount sits on the file (rename)", "size=1m,mode=0755", EBUSY},
    };
    for (const TCase &c : cases) {
        SCOPED_TRACE(c.name);
        TPrivateTmpfs fs(c.options);
        SKIP_WITHOUT_PRIVATE_TMPFS(fs);
        const QString path = fs.FilePath("ZYRdenetleyici.dat");
        WriteBytes(path, old);
        QString target = path;
        if (c.expected == EROFS) {
            ASSERT_TRUE(fs.MakeReadOnly());
        }
        if (c.expected == EBUSY) {
            // The file seen under the name is the one mounted there; it must not change either.
            QTemporaryDir other;
            target = other.filePath(QStringLiteral("mounted"));
            WriteBytes(target, old);
            ASSERT_EQ(::mount(QFile::encodeName(target).constData(), QFile::encodeName(path).constData(),
                          nullptr, MS_BIND, nullptr),
                0);
            EXPECT_EQ(SaveFile(path, fresh), EBUSY);
            EXPECT_EQ(ReadBytes(path), old);
            ::umount2(QFile::encodeName(path).constData(), MNT_DETACH);
            EXPECT_EQ(Entries(fs.Path()), Names({"ZYRdenetleyici.dat"}));
            continue;
        }
        failFsync = c.expected == EIO ? EIO : 0;
        failClose = c.expected == EDQUOT ? EDQUOT : 0;
        const int result = SaveFile(path, fresh);
        failFsync = failClose = 0;
        EXPECT_EQ(result, c.expected);
        EXPECT_EQ(ReadBytes(path), old);
        EXPECT_EQ(Entries(fs.Path()), Names({"ZYRdenetleyici.dat"}));
    }
}

TEST(SaveFile, ReplacesWholeKeepingModeOwnerAndSymbolicLinks)
{
    QTemporaryDir dir;
    const mode_t mask = ::umask(022);
    const QString real = dir.filePath(QStringLiteral("real.ini"));
    WriteBytes(real, Pattern(5000, 'q'));
    ASSERT_EQ(::chmod(QFile::encodeName(real).constData(), 0640), 0);
    if (::geteuid() == 0) {
        ASSERT_EQ(::chown(QFile::encodeName(real).constData(), 1234, 4321), 0);
    }
    // A chain of links, the first relative.
    QDir(dir.path()).mkdir(QStringLiteral("sub"));
    const QString outer = dir.filePath(QStringLiteral("ZYRdenetleyici.ini"));
    const QString inner = dir.filePath(QStringLiteral("sub/link.ini"));
    ASSERT_TRUE(QFile::link(real, inner));
    ASSERT_EQ(::symlink("sub/link.ini", QFile::encodeName(outer).constData()), 0);

    EXPECT_EQ(SaveFile(outer, "yeni"), 0);
    EXPECT_EQ(ReadBytes(real), QByteArray("yeni"));
    EXPECT_TRUE(S_ISLNK(StatOf(outer).st_mode));
    EXPECT_EQ(QFile::symLinkTarget(outer), inner);
    EXPECT_TRUE(S_ISLNK(StatOf(inner).st_mode));
    const struct stat st = StatOf(real);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    if (::geteuid() == 0) {
        EXPECT_EQ(st.st_uid, 1234u);
        EXPECT_EQ(st.st_gid, 4321u);
    }

    // New files: the mode asked for, less the umask; a dangling link gets its target made.
    const QString secret = dir.filePath(QStringLiteral("new.ini"));
    EXPECT_EQ(SaveFile(secret, "p", {0600, false}), 0);
    EXPECT_EQ(StatOf(secret).st_mode & 07777, 0600u);
    const QString plain = dir.filePath(QStringLiteral("new.dat"));
    EXPECT_EQ(SaveFile(plain, "d"), 0);
    EXPECT_EQ(StatOf(plain).st_mode & 07777, 0644u);
    const QString dangling = dir.filePath(QStringLiteral("dangling.ini"));
    ASSERT_TRUE(QFile::link(dir.filePath(QStringLiteral("made.ini")), dangling));
    EXPECT_EQ(SaveFile(dangling, "m", {0600, false}), 0);
    EXPECT_EQ(ReadBytes(dir.filePath(QStringLiteral("made.ini"))), QByteArray("m"));
    EXPECT_TRUE(S_ISLNK(StatOf(dangling).st_mode));
    ::umask(mask);

    // A new file only: what is there stays.
    EXPECT_EQ(SaveFile(plain, "other", {0644, true}), EEXIST);
    EXPECT_EQ(ReadBytes(plain), QByteArray("d"));
    EXPECT_EQ(SaveFile(dir.filePath(QStringLiteral("entry.desktop")), "e", {0644, true}), 0);

    // No file where a folder is, or in a folder that is missing.
    QDir(dir.path()).mkdir(QStringLiteral("folder"));
    EXPECT_EQ(SaveFile(dir.filePath(QStringLiteral("folder")), "x"), EISDIR);
    EXPECT_EQ(SaveFile(dir.filePath(QStringLiteral("none/x.dat")), "x"), ENOENT);
    EXPECT_EQ(Entries(dir.path()),
        Names({"ZYRdenetleyici.ini", "dangling.ini", "entry.desktop", "folder", "made.ini", "new.dat",
            "new.ini", "real.ini", "sub"}));
}

// Where the folder takes no new file, a writable file is rewritten in place, but only once its new length
// is reserved: a full disk still leaves it untouched.
TEST(SaveFile, FolderRefusingNewFilesWritesInPlaceAfterReserving)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "SKIPPED: needs root to act as another user";
    struct TCase
    {
        const char *name;
        mode_t fileMode;
        qint64 leaveFree;
        int expected;
    } cases[] = {
        {"room enough", 0644, 512 * 1024, 0},
        {"disk full", 0644, 0, ENOSPC},
        {"file not writable either", 0444, 512 * 1024, EACCES},
    };
    for (const TCase &c : cases) {
        SCOPED_TRACE(c.name);
        TPrivateTmpfs fs("size=1m,mode=0755");
        SKIP_WITHOUT_PRIVATE_TMPFS(fs);
        const QByteArray folder = QFile::encodeName(fs.FilePath("ro"));
        ASSERT_EQ(::mkdir(folder.constData(), 0755), 0);
        const QString path = fs.FilePath("ro/ZYRdenetleyici.dat");
        const QByteArray old = Pattern(3000, 'o');
        WriteBytes(path, old);
        ASSERT_EQ(::chown(QFile::encodeName(path).constData(), 65534, 65534), 0);
        ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), c.fileMode), 0);
        ASSERT_EQ(::chown(folder.constData(), 65534, 65534), 0);
        ASSERT_EQ(::chmod(folder.constData(), 0555), 0);
        fs.FillLeaving(c.leaveFree);
        const ino_t inode = StatOf(path).st_ino;

        const QByteArray fresh = Pattern(20000, 'N');
        EXPECT_EQ(SaveAsNobody(path, fresh), c.expected);
        EXPECT_EQ(ReadBytes(path), c.expected == 0 ? fresh : old);
        EXPECT_EQ(StatOf(path).st_ino, inode);
        EXPECT_EQ(Entries(QFile::decodeName(folder)), Names({"ZYRdenetleyici.dat"}));
        // A shorter content leaves no tail of the old one.
        if (c.expected == 0) {
            EXPECT_EQ(SaveAsNobody(path, "kisa"), 0);
            EXPECT_EQ(ReadBytes(path), QByteArray("kisa"));
        }
    }
}

// Replacing a file that someone else owns would hand it to the saver; it is written in place instead.
TEST(SaveFile, FileOfAnotherOwnerKeepsItsOwner)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "SKIPPED: needs root to act as another user";
    QTemporaryDir dir;
    ASSERT_EQ(::chmod(QFile::encodeName(dir.path()).constData(), 0777), 0);
    const QString path = dir.filePath(QStringLiteral("shared.ini"));
    WriteBytes(path, "eski");
    ASSERT_EQ(::chown(QFile::encodeName(path).constData(), 0, 65534), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), 0664), 0);
    EXPECT_EQ(SaveAsNobody(path, "yeni"), 0);
    EXPECT_EQ(ReadBytes(path), QByteArray("yeni"));
    EXPECT_EQ(StatOf(path).st_uid, 0u);
    EXPECT_EQ(StatOf(path).st_mode & 07777, 0664u);
    EXPECT_EQ(Entries(dir.path()), Names({"shared.ini"}));
}

// The replacement grants no one more than the old file did: it gets the old file's access control list,
// and none inherited from the folder that the old file did not have; where that cannot be done the file is
// written in place, where it keeps its own.
TEST(SaveFile, ReplacementGetsTheAccessControlListOfTheOldFile)
{
    const std::string restricted = "user::rw-\nuser:nobody:r--\ngroup::---\nmask::r--\nother::---\n\n";
    const std::string plain = "user::rw-\ngroup::r--\nother::---\n\n";
    struct TCase
    {
        const char *name;
        const char *fileSystem;
        const char *folderDefault; // setfacl -d -m, before the save
        const char *fileAcl; // setfacl -m, on the old file (mode 0640)
        int failSet; // giving the new file its list fails with this
        bool inPlace;
        const std::string &expected;
    } cases[] = {
        {"the settings file's own list (the owning group shut out)", "tmpfs", nullptr, "g::-,u:nobody:r", 0,
            false, restricted},
        {"no list of its own, the folder's default one would let nobody in", "tmpfs", "u:nobody:rw", nullptr,
            0, false, plain},
        {"a list that cannot be given to the new file", "tmpfs", nullptr, "g::-,u:nobody:r", EPERM, true,
            restricted},
        {"no room for the list on the new file", "tmpfs", nullptr, "g::-,u:nobody:r", ENOSPC, true,
            restricted},
        {"a file system without lists", "ramfs", nullptr, nullptr, 0, false, plain},
    };
    for (const TCase &c : cases) {
        SCOPED_TRACE(c.name);
        TPrivateTmpfs fs("size=1m,mode=0755");
        SKIP_WITHOUT_PRIVATE_TMPFS(fs);
        const QString folder = fs.FilePath("conf");
        ASSERT_TRUE(QDir().mkdir(folder));
        if (std::strcmp(c.fileSystem, "tmpfs") != 0) {
            ASSERT_EQ(::mount("zyrtest", QFile::encodeName(folder).constData(), c.fileSystem, 0, nullptr), 0);
        }
        const QString path = folder + QStringLiteral("/ZYRdenetleyici.ini");
        WriteBytes(path, "[Smtp]\r\nPassword=gizli\r\n");
        ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), 0640), 0);
        if (c.fileAcl) {
            ASSERT_TRUE(SetFacl({QStringLiteral("-m"), QString::fromUtf8(c.fileAcl), path}));
        }
        if (c.folderDefault) {
            ASSERT_TRUE(SetFacl(
                {QStringLiteral("-d"), QStringLiteral("-m"), QString::fromUtf8(c.folderDefault), folder}));
        }
        ASSERT_EQ(GetFacl(path), c.expected) << "the old file's list as set up";
        const ino_t inode = StatOf(path).st_ino;

        failFsetxattr = c.failSet;
        const int result = SaveFile(path, "[Smtp]\r\nPassword=yeni\r\n");
        failFsetxattr = 0;
        EXPECT_EQ(result, 0);
        EXPECT_EQ(ReadBytes(path), QByteArray("[Smtp]\r\nPassword=yeni\r\n"));
        EXPECT_EQ(GetFacl(path), c.expected);
        EXPECT_EQ(StatOf(path).st_mode & 07777, 0640u);
        EXPECT_EQ(StatOf(path).st_ino == inode, c.inPlace);
        EXPECT_EQ(Entries(folder), Names({"ZYRdenetleyici.ini"}));
        if (std::strcmp(c.fileSystem, "tmpfs") != 0)
            ::umount2(QFile::encodeName(folder).constData(), MNT_DETACH);
    }
}

TEST(ReadWholeFile, ReadsOnlyRegularFilesAndNeverBlocks)
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("a.ini"));
    WriteBytes(file, Pattern(200000, 'r'));
    QByteArray bytes;
    EXPECT_EQ(ReadWholeFile(file, bytes), TReadResult::Read);
    EXPECT_EQ(bytes, Pattern(200000, 'r'));
    EXPECT_EQ(ReadWholeFile(dir.filePath(QStringLiteral("none.ini")), bytes), TReadResult::Missing);
    EXPECT_TRUE(bytes.isEmpty());
    const QString fifo = dir.filePath(QStringLiteral("pipe.ini"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    for (const QString &path : {fifo, dir.path(), QStringLiteral("/dev/zero")})
        EXPECT_EQ(ReadWholeFile(path, bytes), TReadResult::Failed) << path.toStdString();
}
