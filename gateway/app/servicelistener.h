#ifndef SERVICELISTENER_H
#define SERVICELISTENER_H

#include "app/servicebase.h"
#include "app/unixserversocket.h"
#include "core/repeatedmessage.h"

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QTimer>

class UnixSocket;

// The control socket inside the running service. Every connection has its
// own buffer of received bytes; each "\r\n"-terminated command in it is
// carried out on the current service ("terminate", "pause", "resume",
// "alive", "num:<code>") and answered "true" or "false" without terminator.
// "status" is answered with the service's status document followed by a
// zero byte, or "false" when the service gives none. "reload" is answered
// once the service has given its verdict (which may come after later
// events): "true" or "false", a zero byte, the verdict's lines separated by
// "\n", and another zero byte; the commands the connection sends meanwhile
// wait for it. Any other byte sequence, a zero byte included, is a command
// answered "false". "terminate" is answered before the service stops (at
// the next turn of the event loop); from then on only "alive" and "status"
// are served, every other command is answered "false".
//
// The listener guards itself against clients that hold on to it: at most
// MaxClients connections are served at once (a further one is closed at
// once), a connection that sends nothing for the idle timeout is closed, and
// so is one whose unread replies pass MaxUnsentReplyBytes (beyond the reply
// just written, which may be a long status) or whose text
// passes MaxPendingText without a command end. While serving, it checks
// every ListenCheckIntervalMs that it still listens at its path and that the
// socket file there is its own; when not (the server closed itself when it
// ran out of descriptors, or the file was removed), it listens again and
// says so in a warning and in the log.
class ServiceListener : public UnixServerSocket
{
    Q_OBJECT
public:
    explicit ServiceListener(ServiceBase::ServiceFlags flags, QObject *parent = nullptr);
    ~ServiceListener() override;

    // Text a connection may send without completing a command; a connection
    // that sends more is closed.
    static constexpr int MaxPendingText = 1024;
    // Connections served at once.
    static constexpr int MaxClients = 16;
    // Bytes of replies a connection may leave unread; past it, it is closed.
    static constexpr int MaxUnsentReplyBytes = 4096;
    // A connection that sends nothing for this long is closed.
    static constexpr int DefaultIdleTimeoutMs = 3000;
    // How often the listening is checked.
    static constexpr int ListenCheckIntervalMs = 1000;

    ServiceBase::ServiceFlags serviceFlags() const { return m_flags; }

    // Listens at `path` (as listenAt()) and keeps listening there until
    // stopServing(). False, with the reason in errorText(), when listening
    // fails at first.
    bool serveAt(const QString &path);
    // Stops listening and removes the socket file; open connections stay.
    void stopServing();

    int idleTimeout() const { return m_idleTimeoutMs; }
    // Changes the idle timeout (milliseconds, at least 1).
    void setIdleTimeout(int msecs);
    // Connections being served.
    int clientCount() const { return m_clients.size(); }

    // Carries out one command and returns the reply's truth.
    bool executeCommand(const QByteArray &command);
    // The reply to "status": the current service's status document and a
    // zero byte, or "false".
    QByteArray statusReply() const;

private slots:
    void slotNewConnection();
    void slotReadyRead();
    void slotDisconnected();
    void slotHousekeeping();

private:
    struct Client {
        QByteArray buffer;
        qint64 lastReceivedMs = 0;
        bool awaitingVerdict = false; // a "reload" is being carried out
        int served = 0;               // bytes at the start of buffer already served
    };

    // Appends what `socket` received to its buffer and serves every whole
    // command in it, in order.
    void serve(UnixSocket *socket);
    // Closes and forgets a connection.
    void drop(UnixSocket *socket);
    // Drops `socket` when its `pendingBytes` of text not yet served pass
    // MaxPendingText, saying `what` that text is; true when it was dropped.
    bool dropIfPastText(UnixSocket *socket, int pendingBytes, const char *what);
    // Writes `reply`; false when the connection was dropped because what it
    // left unread passed MaxUnsentReplyBytes beyond it.
    bool writeReply(UnixSocket *socket, const QByteArray &reply);
    // Asks the service to reload; its verdict goes to `socket`.
    void startReload(UnixSocket *socket);
    void finishReload(UnixSocket *socket, bool ok, const QStringList &lines);
    void closeIdleClients();
    void checkListening();

    ServiceBase::ServiceFlags m_flags;
    // "terminate" was taken: the service stops at the next turn of the
    // event loop, and no other command is carried out.
    bool m_terminating = false;
    QHash<UnixSocket *, Client> m_clients;
    QString m_servePath;
    int m_idleTimeoutMs = DefaultIdleTimeoutMs;
    QTimer m_housekeeping;
    RepeatedMessage m_refusedClients;
    RepeatedMessage m_droppedClients;
    RepeatedMessage m_listenFault;
};

#endif // SERVICELISTENER_H
