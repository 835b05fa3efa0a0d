#ifndef UNIXSERVERSOCKET_H
#define UNIXSERVERSOCKET_H

#include "app/unixsocket.h"

#include <QLocalServer>
#include <QQueue>
#include <QString>

// The listening side of a Unix-domain stream socket at a full file path.
// Accepted connections are UnixSocket objects owned by this server (their
// parent); newConnection() announces each one.
class UnixServerSocket : public QLocalServer
{
    Q_OBJECT
public:
    explicit UnixServerSocket(QObject *parent = nullptr);
    // Closes the socket and removes its file.
    ~UnixServerSocket() override;

    // Room for connections not yet accepted, unless listenAt() is told
    // otherwise (the system may allow fewer).
    static constexpr int DefaultBacklog = 1024;

    // Listens at `path` (cut as UnixSocket::addressPath()) with room for
    // `backlog` connections not yet accepted. An old socket file at the path
    // is removed first; a file that is no socket, or a socket at which some
    // process still accepts connections, is left alone and listening fails.
    // False on failure; the reason is then in errorText(). The socket is
    // bound under a temporary name in the same directory and then linked to
    // the path, so that nothing but closeSocket() removes the file at the
    // path (only a directory too long for that name binds the path itself).
    bool listenAt(const QString &path, int backlog = DefaultBacklog);

    // The path listened at; empty when not listening.
    QString socketPath() const { return m_path; }

    // True while the server listens and the file at socketPath() is the
    // socket it bound. False once the server has closed itself (as it does
    // when accepting fails) or the file was removed or replaced.
    bool isIntact() const;
    // The first half of isIntact(): the server still listens.
    bool listensStill() const;

    // Stops listening and removes the socket file, unless the file at the
    // path is no longer the one bound. Accepted connections stay open.
    void closeSocket();

    // Why the last listenAt() failed.
    QString errorText() const { return m_errorText; }

    bool hasPendingConnections() const override;
    // The next accepted connection, or null; the server stays its parent.
    UnixSocket *nextPendingConnection() override;

protected:
    void incomingConnection(quintptr socketDescriptor) override;

private:
    bool fail(const QString &text);

    // True when the file at m_path is the socket bound.
    bool ownsFile() const;

    QString m_path;
    QString m_errorText;
    // Identity of the socket file bound.
    quint64 m_device = 0;
    quint64 m_inode = 0;
    // The listening descriptor handed to the server, and its identity.
    int m_listenFd = -1;
    quint64 m_listenInode = 0;
    QQueue<UnixSocket *> m_pending;
};

#endif // UNIXSERVERSOCKET_H
