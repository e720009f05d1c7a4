#include "platform/RaiseChannel.h"
#include <cerrno>
#include <cstring>
#include <QFile>
#include <QSocketNotifier>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

bool Address(const QByteArray &Path, sockaddr_un &Addr)
{
    std::memset(&Addr, 0, sizeof Addr);
    Addr.sun_family = AF_UNIX;
    if (Path.isEmpty() || size_t(Path.size()) >= sizeof Addr.sun_path)
        return false;
    std::memcpy(Addr.sun_path, Path.constData(), size_t(Path.size()));
    return true;
}

} // namespace

TRaiseChannel::TRaiseChannel(const QString &Folder, const QString &Name, QObject *Parent)
    : QObject(Parent)
{
    if (Folder.isEmpty() || Name.isEmpty())
        return;
    const QByteArray name = QFile::encodeName(Folder + QLatin1Char('/') + Name + QStringLiteral(".raise"));
    sockaddr_un addr;
    if (!Address(name, addr))
        return;
    // Whatever else stands at the name (a file, a folder) is not ours to remove: then there is no channel.
    struct stat st;
    if (::lstat(name.constData(), &st) == 0) {
        if (!S_ISSOCK(st.st_mode) || ::unlink(name.constData()) != 0)
            return;
    }
    const int sock = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (sock < 0)
        return;
    if (::bind(sock, reinterpret_cast<const sockaddr *>(&addr), sizeof addr) != 0
        || ::chmod(name.constData(), 0600) != 0 || ::listen(sock, 16) != 0
        || ::lstat(name.constData(), &st) != 0) {
        ::close(sock);
        return;
    }
    fd = sock;
    path = QFile::decodeName(name);
    inode = st.st_ino;
    notifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, [this] { Accept(); });
}

TRaiseChannel::~TRaiseChannel()
{
    if (fd < 0)
        return;
    delete notifier;
    ::close(fd);
    // Only the socket this copy made: a later copy may already have put its own there.
    const QByteArray name = QFile::encodeName(path);
    struct stat st;
    if (::lstat(name.constData(), &st) == 0 && S_ISSOCK(st.st_mode) && st.st_ino == inode)
        ::unlink(name.constData());
}

void TRaiseChannel::Accept()
{
    bool asked = false;
    for (;;) {
        const int peer = ::accept4(fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (peer < 0) {
            if (errno == EINTR || errno == ECONNABORTED)
                continue;
            break;
        }
        ucred cred{};
        socklen_t size = sizeof cred;
        if (::getsockopt(peer, SOL_SOCKET, SO_PEERCRED, &cred, &size) == 0 && cred.uid == ::geteuid())
            asked = true;
        ::close(peer);
    }
    if (asked && OnRaise)
        OnRaise();
}

bool RequestRaise(const QString &Path)
{
    sockaddr_un addr;
    if (!Address(QFile::encodeName(Path), addr))
        return false;
    const int sock = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (sock < 0)
        return false;
    int result;
    do
        result = ::connect(sock, reinterpret_cast<const sockaddr *>(&addr), sizeof addr);
    while (result != 0 && errno == EINTR);
    ::close(sock);
    return result == 0;
}
