#include "platform/SaveFile.h"
#include <cerrno>
#include <climits>
#include <cstdio>
#include <fcntl.h>
#include <QFile>
#include <QRandomGenerator>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace {

int ErrorOf(int result)
{
    return result < 0 ? errno : 0;
}

// The path a save must write: symbolic links followed to the file they name (which may not exist yet).
int FollowLinks(QByteArray &path)
{
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st;
        if (::lstat(path.constData(), &st) != 0)
            return errno == ENOENT ? 0 : errno;
        if (!S_ISLNK(st.st_mode))
            return 0;
        char target[PATH_MAX];
        const ssize_t n = ::readlink(path.constData(), target, sizeof target);
        if (n < 0)
            return errno;
        if (size_t(n) >= sizeof target)
            return ENAMETOOLONG;
        QByteArray next(target, n);
        if (!next.startsWith('/')) {
            const qsizetype slash = path.lastIndexOf('/');
            next.prepend(slash < 0 ? QByteArray() : path.left(slash + 1));
        }
        path = next;
    }
    return ELOOP;
}

int WriteAll(int fd, const QByteArray &bytes, bool positioned)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = positioned
            ? ::pwrite(fd, bytes.constData() + done, size_t(bytes.size() - done), done)
            : ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return errno;
        if (n == 0)
            return EIO;
        done += n;
    }
    return 0;
}

// Closing is a step of its own: some file systems report a failed write only here.
int CloseChecked(int fd)
{
    return ::close(fd) != 0 && errno != EINTR ? errno : 0;
}

void SyncFolder(const QByteArray &path)
{
    const qsizetype slash = path.lastIndexOf('/');
    const QByteArray folder = slash < 0 ? QByteArray(".") : slash == 0 ? QByteArray("/") : path.left(slash);
    const int fd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        // The rename is done and the new file whole; a folder that cannot be synced changes nothing of that.
        (void)::fsync(fd);
        ::close(fd);
    }
}

// In place, for a folder that takes no new file: the new length is reserved first, so a full disk fails
// here with the old bytes untouched; only a failure after that (an I/O error) can leave the file damaged.
int SaveInPlace(const QByteArray &path, const QByteArray &bytes)
{
    const int fd = ::open(path.constData(), O_WRONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return errno;
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return EINVAL;
    }
    if (!bytes.isEmpty()) {
        if (const int reserved = ::posix_fallocate(fd, 0, off_t(bytes.size())); reserved != 0) {
            // A reservation that failed half-way may have grown the file; the old length is its content.
            struct stat now;
            // Nothing more can be done when even that fails: the caller reports the failed reservation.
            if (::fstat(fd, &now) == 0 && now.st_size != st.st_size && ::ftruncate(fd, st.st_size) != 0) { }
            ::close(fd);
            return reserved;
        }
    }
    int error = WriteAll(fd, bytes, true);
    if (!error && ::ftruncate(fd, off_t(bytes.size())) != 0)
        error = errno;
    if (!error && ::fsync(fd) != 0)
        error = errno;
    const int closed = CloseChecked(fd);
    return error ? error : closed;
}

constexpr char kAccessAcl[] = "system.posix_acl_access";

// The file's access control list as the kernel stores it; empty when it has none, or its file system
// knows none. False when it cannot be read.
bool ReadAccessAcl(const QByteArray &path, QByteArray &acl)
{
    for (int attempt = 0; attempt < 4; ++attempt) {
        acl.clear();
        ssize_t n = ::getxattr(path.constData(), kAccessAcl, nullptr, 0);
        if (n > 0) {
            acl.resize(n);
            n = ::getxattr(path.constData(), kAccessAcl, acl.data(), size_t(acl.size()));
        }
        if (n >= 0) {
            acl.resize(n);
            return true;
        }
        if (errno == ENODATA || errno == EOPNOTSUPP) {
            acl.clear();
            return true;
        }
        if (errno != ERANGE) // ERANGE: the list grew between the two calls
            return false;
    }
    return false;
}

// The new file gets the old one's list, or none: a list inherited from the folder's default one may
// grant what the old file did not.
bool GiveAccessAcl(int fd, const QByteArray &acl)
{
    if (!acl.isEmpty())
        return ::fsetxattr(fd, kAccessAcl, acl.constData(), size_t(acl.size()), 0) == 0;
    return ::fremovexattr(fd, kAccessAcl) == 0 || errno == ENODATA || errno == EOPNOTSUPP;
}

QByteArray TemporaryName(const QByteArray &path)
{
    const qsizetype slash = path.lastIndexOf('/');
    const QByteArray folder = path.left(slash + 1);
    const QByteArray name = path.mid(slash + 1);
    return folder + '.' + name + '.' + QByteArray::number(QRandomGenerator::global()->generate64(), 36)
        + ".tmp";
}

} // namespace

int SaveFile(const QString &FileName, const QByteArray &Bytes, const TSaveFileOptions &Options)
{
    QByteArray path = QFile::encodeName(FileName);
    if (path.isEmpty())
        return ENOENT;
    if (const int error = FollowLinks(path))
        return error;

    struct stat old;
    bool exists = ::stat(path.constData(), &old) == 0;
    if (!exists && errno != ENOENT)
        return errno;
    if (exists && Options.CreateOnly)
        return EEXIST;
    if (exists && !S_ISREG(old.st_mode))
        return S_ISDIR(old.st_mode) ? EISDIR : EINVAL;

    // A file whose access control list cannot be read cannot be replaced by one as narrow.
    QByteArray acl;
    if (exists && !ReadAccessAcl(path, acl))
        return SaveInPlace(path, Bytes);

    // Created private: an existing file's mode is given only once the bytes are complete.
    QByteArray temp;
    int fd = -1;
    for (int attempt = 0; attempt < 10 && fd < 0; ++attempt) {
        temp = TemporaryName(path);
        fd = ::open(temp.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW,
            exists ? mode_t(0600) : Options.NewFileMode);
        if (fd < 0 && errno != EEXIST)
            break;
    }
    if (fd < 0) {
        const int error = errno;
        if ((error == EACCES || error == EPERM) && exists)
            return SaveInPlace(path, Bytes);
        return error;
    }

    auto discard = [&](int error) {
        if (fd >= 0)
            ::close(fd);
        ::unlink(temp.constData());
        return error;
    };
    if (exists) {
        struct stat made;
        if (::fstat(fd, &made) != 0)
            return discard(errno);
        if ((made.st_uid != old.st_uid || made.st_gid != old.st_gid)
            && ::fchown(fd, old.st_uid, old.st_gid) != 0) {
            // Replacing the file would hand it to another owner.
            discard(0);
            return SaveInPlace(path, Bytes);
        }
        if (::fchmod(fd, old.st_mode & 07777) != 0)
            return discard(errno);
        if (!GiveAccessAcl(fd, acl)) {
            // Replacing the file would change who may read it.
            discard(0);
            return SaveInPlace(path, Bytes);
        }
    }
    if (const int error = WriteAll(fd, Bytes, false))
        return discard(error);
    if (::fsync(fd) != 0)
        return discard(errno);
    const int closed = CloseChecked(fd);
    fd = -1;
    if (closed)
        return discard(closed);

    int renamed = 0;
    if (!Options.CreateOnly) {
        renamed = ErrorOf(::rename(temp.constData(), path.constData()));
    } else {
        renamed
            = ErrorOf(::renameat2(AT_FDCWD, temp.constData(), AT_FDCWD, path.constData(), RENAME_NOREPLACE));
        // File systems without the flag still refuse to link over an existing name.
        if (renamed == EINVAL || renamed == ENOSYS) {
            renamed = ErrorOf(::link(temp.constData(), path.constData()));
            if (!renamed)
                ::unlink(temp.constData());
        }
    }
    if (renamed)
        return discard(renamed);
    SyncFolder(path);
    return 0;
}

TReadResult ReadWholeFile(const QString &FileName, QByteArray &Bytes)
{
    Bytes.clear();
    const QByteArray path = QFile::encodeName(FileName);
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        return errno == ENOENT ? TReadResult::Missing : TReadResult::Failed;
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return TReadResult::Failed;
    }
    QByteArray bytes;
    bytes.reserve(qsizetype(st.st_size));
    char chunk[65536];
    while (true) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            ::close(fd);
            return TReadResult::Failed;
        }
        if (n == 0)
            break;
        bytes.append(chunk, n);
    }
    ::close(fd);
    Bytes = std::move(bytes);
    return TReadResult::Read;
}
