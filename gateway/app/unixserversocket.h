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

    // Listens at `path` (cut as UnixSocket::addressPath()) with room for
    // `backlog` connections not yet accepted. An old socket file at the path
    // is removed first; a file that is no socket, or a socket at which some
    // process still accepts connections, is left alone and listening fails.
    // False on failure; the reason is then in errorText().
    bool listenAt(const QString &path, int backlog = 5);

    // The path listened at; empty when not listening.
    QString socketPath() const { return m_path; }

    // Stops listening and removes the socket file. Accepted connections
    // stay open.
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

    QString m_path;
    QString m_errorText;
    QQueue<UnixSocket *> m_pending;
};

#endif // UNIXSERVERSOCKET_H
