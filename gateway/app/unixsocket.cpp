#include "app/unixsocket.h"

#include <QFile>

#include <sys/socket.h>
#include <sys/un.h>

static_assert(sizeof(sockaddr_un::sun_path) == UnixSocket::MaxPathBytes + 1,
              "the Unix-domain address field has an unexpected size");

UnixSocket::UnixSocket(QObject *parent)
    : QLocalSocket(parent)
{
}

UnixSocket::~UnixSocket() = default;

QString UnixSocket::addressPath(const QString &path)
{
    QByteArray encoded = QFile::encodeName(path);
    if (encoded.size() <= MaxPathBytes)
        return path;
    encoded.truncate(MaxPathBytes);
    // Drop the bytes of a character that the cut split.
    while (!encoded.isEmpty() && QFile::encodeName(QFile::decodeName(encoded)) != encoded)
        encoded.chop(1);
    return QFile::decodeName(encoded);
}

bool UnixSocket::connectToPath(const QString &path, int msecs)
{
    const QString address = addressPath(path);
    connectToServer(address);
    if (state() == QLocalSocket::ConnectingState && !waitForConnected(msecs)
        && state() == QLocalSocket::ConnectingState) {
        abort();
        setErrorString(QStringLiteral("no connection to %1 within %2 ms").arg(address, QString::number(msecs)));
        return false;
    }
    if (state() == QLocalSocket::ConnectedState)
        return true;
    // Say what went wrong in the words of the system rather than the
    // socket class's.
    switch (error()) {
    case QLocalSocket::ServerNotFoundError:
        setErrorString(QStringLiteral("%1: No such socket").arg(address));
        break;
    case QLocalSocket::ConnectionRefusedError:
        setErrorString(QStringLiteral("%1: Connection refused").arg(address));
        break;
    case QLocalSocket::SocketAccessError:
        setErrorString(QStringLiteral("%1: Permission denied").arg(address));
        break;
    default:
        break;
    }
    return false;
}
