#include "app/servicelistener.h"

#include "app/unixsocket.h"
#include "core/diag.h"

#include <QCoreApplication>
#include <QPointer>

ServiceListener::ServiceListener(ServiceBase::ServiceFlags flags, QObject *parent)
    : UnixServerSocket(parent)
    , m_flags(flags)
{
    connect(this, &QLocalServer::newConnection, this, &ServiceListener::slotNewConnection);
}

ServiceListener::~ServiceListener() = default;

void ServiceListener::slotNewConnection()
{
    while (UnixSocket *socket = nextPendingConnection()) {
        m_buffers.insert(socket, QString());
        connect(socket, &QLocalSocket::readyRead, this, &ServiceListener::slotReadyRead);
        connect(socket, &QLocalSocket::disconnected, this, &ServiceListener::slotDisconnected);
        GATE_DEBUG(5, "ServiceListener::slotNewConnection(): connection %p", static_cast<void *>(socket));
    }
}

void ServiceListener::slotReadyRead()
{
    serve(qobject_cast<UnixSocket *>(sender()));
}

void ServiceListener::serve(UnixSocket *connection)
{
    QPointer<UnixSocket> socket = connection;
    if (!socket || !m_buffers.contains(socket))
        return;
    m_buffers[socket] += QString::fromLatin1(socket->readAll());

    // Commands run the service's own code, which may serve events; the
    // connection and its buffer are looked up again after each one.
    for (;;) {
        auto it = m_buffers.find(socket);
        if (it == m_buffers.end())
            return;
        const int end = it->indexOf(QLatin1String("\r\n"));
        if (end < 0) {
            if (it->size() > MaxPendingText) {
                GATE_WARN("ServiceListener::slotReadyRead(): more than %d characters without a "
                          "command end, connection closed",
                          MaxPendingText);
                m_buffers.erase(it);
                socket->abort();
                socket->deleteLater();
            }
            return;
        }
        const QString command = it->left(end);
        it->remove(0, end + 2);
        const bool ok = executeCommand(command);
        if (!socket)
            return;
        if (socket->state() == QLocalSocket::ConnectedState) {
            socket->write(ok ? "true" : "false");
            socket->flush();
        }
    }
}

void ServiceListener::slotDisconnected()
{
    auto *socket = qobject_cast<UnixSocket *>(sender());
    if (!socket || !m_buffers.contains(socket))
        return;
    // What arrived just before the peer closed is still served.
    if (socket->bytesAvailable() > 0)
        serve(socket);
    m_buffers.remove(socket);
    GATE_DEBUG(5, "ServiceListener::slotDisconnected(): connection %p released", static_cast<void *>(socket));
    socket->deleteLater();
}

bool ServiceListener::executeCommand(const QString &command)
{
    ServiceBase *service = ServiceBase::instance();
    GATE_DEBUG(3, "ServiceListener::executeCommand(): \"%s\"", qUtf8Printable(command));
    if (command == QLatin1String("terminate")) {
        if (m_flags.testFlag(ServiceBase::CannotBeStopped))
            return false;
        if (service)
            service->stop();
        QCoreApplication::quit();
        return true;
    }
    if (command == QLatin1String("pause") || command == QLatin1String("resume")) {
        if (!m_flags.testFlag(ServiceBase::CanBeSuspended))
            return false;
        if (service) {
            if (command == QLatin1String("pause"))
                service->pause();
            else
                service->resume();
        }
        return true;
    }
    if (command == QLatin1String("alive"))
        return true;
    if (command.size() > 4 && command.startsWith(QLatin1String("num:"))) {
        if (service)
            service->processCommand(command.mid(4).toInt());
        return true;
    }
    return false;
}
