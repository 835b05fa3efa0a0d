#include "app/unixserversocket.h"

#include "app/controltrust.h"

#include "app/unixsocket.h"

#include <QFile>
#include <QRandomGenerator>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

// How long the check for a live socket at the listening path may wait.
constexpr int ProbeTimeoutMs = 1000;

// Names tried for the temporary binding before giving up.
constexpr int BindAttempts = 8;

QString systemError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

// A short name not in use yet in the directory of `path`, which must fit a
// Unix-domain address; `path` itself when none fits.
QByteArray temporaryName(const QByteArray &path)
{
    const int slash = path.lastIndexOf('/');
    QByteArray name = path.left(slash + 1) + ".fx"
                      + QByteArray::number(QRandomGenerator::global()->generate64() % 2176782336u, 36);
    return name.size() <= UnixSocket::MaxPathBytes ? name : path;
}

// True when the file at `path` is the one `st` describes.
bool sameFile(const QByteArray &path, const struct stat &st)
{
    struct stat now;
    return ::lstat(path.constData(), &now) == 0 && now.st_dev == st.st_dev && now.st_ino == st.st_ino;
}

} // namespace

UnixServerSocket::UnixServerSocket(QObject *parent)
    : QLocalServer(parent)
{
}

UnixServerSocket::~UnixServerSocket()
{
    closeSocket();
}

bool UnixServerSocket::fail(const QString &text)
{
    m_errorText = text;
    return false;
}

bool UnixServerSocket::listenAt(const QString &path, int backlog)
{
    closeSocket();
    m_errorText.clear();

    const QString address = UnixSocket::addressPath(path);
    const QByteArray encoded = QFile::encodeName(address);
    if (encoded.isEmpty())
        return fail(QStringLiteral("empty socket path"));

    struct stat st;
    if (::lstat(encoded.constData(), &st) == 0) {
        // Removing the file of a live socket would cut its owner off from
        // every control client, so only a dead one is replaced; a file of a
        // user the control files may not belong to is never the service's,
        // socket or not, and is replaced whether it answers or not.
        const bool trusted = isTrustedControlUser(st.st_uid);
        if (trusted && !S_ISSOCK(st.st_mode))
            return fail(QStringLiteral("%1 exists and is not a socket").arg(address));
        UnixSocket probe;
        if (trusted && probe.connectToPath(address, ProbeTimeoutMs)) {
            probe.abort();
            return fail(QStringLiteral("another process listens at %1").arg(address));
        }
        const bool cleared = trusted ? ::remove(encoded.constData()) == 0 || errno == ENOENT
                                     : clearForeignControlFile(encoded);
        if (!cleared)
            return fail(trusted ? QStringLiteral("cannot remove %1: %2").arg(address, systemError())
                                : QStringLiteral("cannot remove %1, which belongs to %2: %3")
                                      .arg(address, controlUserText(st.st_uid), systemError()));
    }

    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return fail(QStringLiteral("cannot create a socket: %1").arg(systemError()));

    // The socket is bound under a temporary name beside the path and then
    // linked to the path. The server takes the bound name from the socket and
    // removes the file of that name when it closes; so it only ever removes
    // the temporary name, and the file at the path is removed by
    // closeSocket() alone, while it is ours. Linking fails when a file has
    // come to the path meanwhile.
    QByteArray bound;
    for (int attempt = 0; attempt < BindAttempts && bound.isEmpty(); ++attempt) {
        const QByteArray name = temporaryName(encoded);
        sockaddr_un addr;
        std::memset(&addr, 0, sizeof(addr));
        addr.sun_family = AF_UNIX;
        std::memcpy(addr.sun_path, name.constData(), size_t(name.size()));
        if (::bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof(addr)) == 0)
            bound = name;
        else if (errno != EADDRINUSE || name == encoded)
            break;
    }
    if (bound.isEmpty()) {
        const QString reason = systemError();
        ::close(fd);
        return fail(QStringLiteral("cannot bind to %1: %2").arg(address, reason));
    }
    if (::listen(fd, backlog) != 0) {
        const QString reason = systemError();
        ::close(fd);
        ::unlink(bound.constData());
        return fail(QStringLiteral("cannot listen at %1: %2").arg(address, reason));
    }
    if (bound != encoded) {
        const bool linked = ::link(bound.constData(), encoded.constData()) == 0;
        const QString reason = systemError();
        ::unlink(bound.constData());
        if (!linked) {
            ::close(fd);
            return fail(QStringLiteral("cannot bind to %1: %2").arg(address, reason));
        }
    }
    if (::lstat(encoded.constData(), &st) != 0) {
        const QString reason = systemError();
        ::close(fd);
        return fail(QStringLiteral("cannot find the socket bound at %1: %2").arg(address, reason));
    }
    if (!QLocalServer::listen(qintptr(fd))) {
        const QString reason = errorString();
        ::close(fd);
        if (sameFile(encoded, st))
            ::unlink(encoded.constData());
        return fail(QStringLiteral("cannot listen at %1: %2").arg(address, reason));
    }
    m_path = address;
    m_device = quint64(st.st_dev);
    m_inode = quint64(st.st_ino);
    m_listenFd = fd;
    m_listenInode = ::fstat(fd, &st) == 0 ? quint64(st.st_ino) : 0;
    return true;
}

bool UnixServerSocket::ownsFile() const
{
    struct stat st;
    return !m_path.isEmpty() && ::lstat(QFile::encodeName(m_path).constData(), &st) == 0 && S_ISSOCK(st.st_mode)
           && quint64(st.st_dev) == m_device && quint64(st.st_ino) == m_inode;
}

bool UnixServerSocket::listensStill() const
{
    // A server that closed itself (accepting failed) still says it listens,
    // and asking it for its descriptor then crashes: the descriptor handed
    // to it is looked at instead (its number may have been given to
    // another file since).
    struct stat st;
    return isListening() && m_listenFd >= 0 && ::fstat(m_listenFd, &st) == 0 && S_ISSOCK(st.st_mode)
           && quint64(st.st_ino) == m_listenInode;
}

bool UnixServerSocket::isIntact() const
{
    return listensStill() && ownsFile();
}

void UnixServerSocket::closeSocket()
{
    if (m_path.isEmpty())
        return;
    const bool owned = ownsFile();
    close();
    if (owned)
        ::unlink(QFile::encodeName(m_path).constData());
    m_path.clear();
    m_listenFd = -1;
}

bool UnixServerSocket::hasPendingConnections() const
{
    return !m_pending.isEmpty();
}

UnixSocket *UnixServerSocket::nextPendingConnection()
{
    return m_pending.isEmpty() ? nullptr : m_pending.dequeue();
}

void UnixServerSocket::incomingConnection(quintptr socketDescriptor)
{
    auto *socket = new UnixSocket(this);
    if (!socket->setSocketDescriptor(qintptr(socketDescriptor))) {
        delete socket;
        ::close(int(socketDescriptor));
        return;
    }
    m_pending.enqueue(socket);
    emit newConnection();
}
