#include "app/unixserversocket.h"

#include "app/unixsocket.h"

#include <QFile>

#include <cerrno>
#include <cstring>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

// How long the check for a live socket at the listening path may wait.
constexpr int ProbeTimeoutMs = 1000;

QString systemError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
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
        if (!S_ISSOCK(st.st_mode))
            return fail(QStringLiteral("%1 exists and is not a socket").arg(address));
        // Removing the file of a live socket would cut its owner off from
        // every control client, so only a dead one is replaced.
        UnixSocket probe;
        if (probe.connectToPath(address, ProbeTimeoutMs)) {
            probe.abort();
            return fail(QStringLiteral("another process listens at %1").arg(address));
        }
        if (::unlink(encoded.constData()) != 0 && errno != ENOENT)
            return fail(QStringLiteral("cannot remove %1: %2").arg(address, systemError()));
    }

    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return fail(QStringLiteral("cannot create a socket: %1").arg(systemError()));

    sockaddr_un addr;
    std::memset(&addr, 0, sizeof(addr));
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, encoded.constData(), size_t(encoded.size()));
    if (::bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof(addr)) != 0) {
        const QString reason = systemError();
        ::close(fd);
        return fail(QStringLiteral("cannot bind to %1: %2").arg(address, reason));
    }
    if (::listen(fd, backlog) != 0) {
        const QString reason = systemError();
        ::close(fd);
        ::unlink(encoded.constData());
        return fail(QStringLiteral("cannot listen at %1: %2").arg(address, reason));
    }
    if (::lstat(encoded.constData(), &st) != 0) {
        const QString reason = systemError();
        ::close(fd);
        return fail(QStringLiteral("cannot find the socket bound at %1: %2").arg(address, reason));
    }
    if (!QLocalServer::listen(qintptr(fd))) {
        const QString reason = errorString();
        ::close(fd);
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
