#pragma once
// A small tmpfs of the test's own in a private mount namespace, so that a test can fill a real file
// system, make it read-only or mount over a file without touching the machine's. Needs root (CI is);
// without the rights the test is skipped with a message saying so.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <sched.h>
#include <string>
#include <sys/mount.h>
#include <unistd.h>

class TPrivateTmpfs
{
public:
    // Options as for "mount -t tmpfs -o": size=64k,nr_inodes=16,mode=0755 ...
    explicit TPrivateTmpfs(const char *options)
    {
        static int unshared = -1;
        if (unshared < 0) {
            unshared = ::unshare(CLONE_NEWNS) == 0
                    && ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0
                ? 0
                : errno;
        }
        if (unshared != 0) {
            error = std::string("no private mount namespace: ") + std::strerror(unshared);
            return;
        }
        path = QFile::encodeName(dir.path());
        if (::mount("zyrtest", path.constData(), "tmpfs", MS_NOSUID | MS_NODEV, options) != 0) {
            error = std::string("tmpfs not mounted: ") + std::strerror(errno);
            return;
        }
        mounted = true;
    }
    ~TPrivateTmpfs()
    {
        if (mounted)
            ::umount2(path.constData(), MNT_DETACH);
    }
    TPrivateTmpfs(const TPrivateTmpfs &) = delete;
    TPrivateTmpfs &operator=(const TPrivateTmpfs &) = delete;

    bool Mounted() const { return mounted; }
    const std::string &Error() const { return error; }
    QString Path() const { return dir.path(); }
    QString FilePath(const char *name) const { return dir.filePath(QString::fromUtf8(name)); }

    // Writes into "fill" until not one more byte fits.
    void Fill() const
    {
        const int fd
            = ::open(QFile::encodeName(FilePath("fill")).constData(), O_WRONLY | O_CREAT | O_APPEND, 0600);
        static const char zeros[4096] = {};
        for (size_t chunk = sizeof zeros; fd >= 0 && chunk > 0;)
            if (::write(fd, zeros, chunk) < 0)
                chunk /= 2;
        if (fd >= 0)
            ::close(fd);
    }
    // Leaves about Bytes free (to the page).
    void FillLeaving(qint64 Bytes) const
    {
        Fill();
        ASSERT_EQ(::truncate(QFile::encodeName(FilePath("fill")).constData(), FileSize("fill") - Bytes), 0);
    }
    qint64 FileSize(const char *name) const { return QFileInfo(FilePath(name)).size(); }

    bool MakeReadOnly() const
    {
        return ::mount(
                   nullptr, path.constData(), nullptr, MS_REMOUNT | MS_RDONLY | MS_NOSUID | MS_NODEV, nullptr)
            == 0;
    }

private:
    QTemporaryDir dir;
    QByteArray path;
    bool mounted = false;
    std::string error;
};

#define SKIP_WITHOUT_PRIVATE_TMPFS(fs)                                                                       \
    do {                                                                                                     \
        if (!(fs).Mounted()) {                                                                               \
            std::fprintf(stderr,                                                                             \
                "\n*** SKIPPED: this test needs a real full file system: %s (run as root) ***\n",            \
                (fs).Error().c_str());                                                                       \
            GTEST_SKIP() << "SKIPPED: needs a private tmpfs (root): " << (fs).Error();                       \
        }                                                                                                    \
    } while (false)
