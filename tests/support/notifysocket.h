#ifndef NOTIFYSOCKET_H
#define NOTIFYSOCKET_H

#include <QByteArrayList>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

// A notification socket as systemd offers one to a unit of Type=notify: a
// Unix datagram socket bound in a temporary directory. Hand path() over as
// NOTIFY_SOCKET.
class NotifySocket
{
public:
    NotifySocket()
        : m_fd(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0))
        , m_path(m_dir.filePath(QStringLiteral("notify")))
    {
        sockaddr_un address = {};
        address.sun_family = AF_UNIX;
        qstrncpy(address.sun_path, QFile::encodeName(m_path).constData(), sizeof(address.sun_path));
        m_bound = m_fd >= 0 && ::bind(m_fd, reinterpret_cast<sockaddr *>(&address), sizeof(address)) == 0;
    }
    ~NotifySocket() { ::close(m_fd); }
    NotifySocket(const NotifySocket &) = delete;
    NotifySocket &operator=(const NotifySocket &) = delete;

    bool isValid() const { return m_bound; }
    QString path() const { return m_path; }
    // The datagrams that arrived, waiting at most `msecs` for the first.
    QByteArrayList received(int msecs = 1000) const
    {
        QByteArrayList all;
        pollfd fd = {m_fd, POLLIN, 0};
        for (int wait = msecs; ::poll(&fd, 1, wait) > 0; wait = 0) {
            char buffer[4096];
            const ssize_t n = ::recv(m_fd, buffer, sizeof(buffer), 0);
            if (n <= 0)
                break;
            all << QByteArray(buffer, int(n));
        }
        return all;
    }
    // Removes the socket's file: senders find nobody.
    void unbind() { QFile::remove(m_path); }

private:
    QTemporaryDir m_dir;
    int m_fd;
    QString m_path;
    bool m_bound = false;
};

#endif // NOTIFYSOCKET_H
