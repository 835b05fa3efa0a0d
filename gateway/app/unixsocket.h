#ifndef UNIXSOCKET_H
#define UNIXSOCKET_H

#include <QByteArray>
#include <QLocalSocket>
#include <QString>

// A stream socket over a Unix-domain address given as a full file path.
// Used as the control client of a service and, on the service side, for
// every accepted control connection. It works without an event loop through
// the blocking wait operations of QLocalSocket.
class UnixSocket : public QLocalSocket
{
    Q_OBJECT
public:
    explicit UnixSocket(QObject *parent = nullptr);
    ~UnixSocket() override;

    // The longest path a Unix-domain address holds: the address field is
    // 108 bytes, and the path needs its terminating null byte in it.
    static constexpr int MaxPathBytes = 107;

    // `path` cut to the address field (in the file-name encoding, never in
    // the middle of a character). Both ends of a connection use this name.
    static QString addressPath(const QString &path);

    // Connects to the socket file at `path` (cut as addressPath()) and waits
    // at most `msecs` milliseconds. False when no connection was made; the
    // reason is then in errorString().
    bool connectToPath(const QString &path, int msecs);
};

#endif // UNIXSOCKET_H
