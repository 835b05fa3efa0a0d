#ifndef SERVICELISTENER_H
#define SERVICELISTENER_H

#include "app/servicebase.h"
#include "app/unixserversocket.h"

#include <QHash>
#include <QString>

class UnixSocket;

// The control socket inside the running service. Every connection has its
// own buffer of received text; each "\r\n"-terminated command in it is
// carried out on the current service ("terminate", "pause", "resume",
// "alive", "num:<code>") and answered "true" or "false" without terminator.
class ServiceListener : public UnixServerSocket
{
    Q_OBJECT
public:
    explicit ServiceListener(ServiceBase::ServiceFlags flags, QObject *parent = nullptr);
    ~ServiceListener() override;

    // Text a connection may send without completing a command; a connection
    // that sends more is closed.
    static constexpr int MaxPendingText = 1024;

    ServiceBase::ServiceFlags serviceFlags() const { return m_flags; }

    // Carries out one command and returns the reply's truth.
    bool executeCommand(const QString &command);

private slots:
    void slotNewConnection();
    void slotReadyRead();
    void slotDisconnected();

private:
    // Appends what `socket` received to its buffer and serves every whole
    // command in it, in order.
    void serve(UnixSocket *socket);

    ServiceBase::ServiceFlags m_flags;
    QHash<UnixSocket *, QString> m_buffers;
};

#endif // SERVICELISTENER_H
