#include "app/servicelistener.h"

#include "app/unixsocket.h"
#include "core/clock.h"
#include "core/diag.h"

#include <QPointer>
#include <QScopeGuard>

ServiceListener::ServiceListener(ServiceBase::ServiceFlags flags, QObject *parent)
    : UnixServerSocket(parent)
    , m_flags(flags)
{
    connect(this, &QLocalServer::newConnection, this, &ServiceListener::slotNewConnection);
    connect(&m_housekeeping, &QTimer::timeout, this, &ServiceListener::slotHousekeeping);
}

ServiceListener::~ServiceListener() = default;

bool ServiceListener::serveAt(const QString &path)
{
    if (!listenAt(path))
        return false;
    m_servePath = path;
    setIdleTimeout(m_idleTimeoutMs);
    m_housekeeping.start();
    return true;
}

void ServiceListener::stopServing()
{
    m_servePath.clear();
    m_housekeeping.stop();
    closeSocket();
}

void ServiceListener::setIdleTimeout(int msecs)
{
    m_idleTimeoutMs = qMax(1, msecs);
    // Often enough that a connection is never kept much past its timeout.
    m_housekeeping.setInterval(qMin(ListenCheckIntervalMs, qMax(1, m_idleTimeoutMs / 4)));
}

void ServiceListener::slotNewConnection()
{
    while (UnixSocket *socket = nextPendingConnection()) {
        if (m_clients.size() >= MaxClients) {
            m_refusedClients.report(tr("Control connection refused: %1 clients are connected already").arg(MaxClients));
            socket->abort();
            socket->deleteLater();
            continue;
        }
        m_refusedClients.clear();
        m_clients.insert(socket, Client{QByteArray(), Clock::monotonicMsecs()});
        connect(socket, &QLocalSocket::readyRead, this, &ServiceListener::slotReadyRead);
        connect(socket, &QLocalSocket::disconnected, this, &ServiceListener::slotDisconnected);
        GATE_DEBUG(5, "ServiceListener::slotNewConnection(): connection %p", static_cast<void *>(socket));
    }
}

void ServiceListener::slotReadyRead()
{
    serve(qobject_cast<UnixSocket *>(sender()));
}

void ServiceListener::drop(UnixSocket *socket)
{
    m_clients.remove(socket);
    socket->abort();
    socket->deleteLater();
}

void ServiceListener::serve(UnixSocket *connection)
{
    QPointer<UnixSocket> socket = connection;
    if (!socket || !m_clients.contains(socket))
        return;
    {
        // Served again after a reload, a connection may have sent nothing:
        // only what it sends keeps it from being idle.
        Client &client = m_clients[socket];
        const QByteArray received = socket->readAll();
        if (!received.isEmpty()) {
            client.buffer += received;
            client.lastReceivedMs = Clock::monotonicMsecs();
        }
    }

    // Commands run the service's own code, which may serve events; the
    // connection and its buffer are looked up again after each one. What was
    // served is cut off the buffer once, when serving ends: cutting after
    // each command would move the rest of a large read once per command.
    const auto cutServed = qScopeGuard([this, &socket] {
        const auto it = m_clients.find(socket);
        if (it != m_clients.end()) {
            it->buffer.remove(0, it->served);
            it->served = 0;
        }
    });
    for (;;) {
        auto it = m_clients.find(socket);
        if (it == m_clients.end())
            return;
        const QByteArray &buffer = it->buffer;
        const int end = it->awaitingVerdict ? -1 : buffer.indexOf("\r\n", it->served);
        if (end < 0) {
            dropIfPastText(socket, buffer.size() - it->served, "without a command end");
            return;
        }
        const QByteArray command = buffer.mid(it->served, end - it->served);
        it->served = end + 2;
        if (command == "reload" && !m_terminating) {
            // The rest is served once the verdict is out; what waits behind
            // it is bounded as text without a command end is.
            if (!dropIfPastText(socket, buffer.size() - it->served, "of commands wait behind a reload"))
                startReload(socket);
            return;
        }
        const QByteArray reply =
            command == "status" ? statusReply() : QByteArray(executeCommand(command) ? "true" : "false");
        if (!socket)
            return;
        if (socket->state() != QLocalSocket::ConnectedState)
            continue;
        if (!writeReply(socket, reply))
            return;
    }
}

bool ServiceListener::dropIfPastText(UnixSocket *socket, int pendingBytes, const char *what)
{
    if (pendingBytes <= MaxPendingText)
        return false;
    m_droppedClients.report(QStringLiteral("ServiceListener::slotReadyRead(): more than %1 characters %2, connection "
                                           "closed")
                                .arg(QString::number(MaxPendingText), QLatin1String(what)));
    drop(socket);
    return true;
}

bool ServiceListener::writeReply(UnixSocket *socket, const QByteArray &reply)
{
    socket->write(reply);
    socket->flush();
    // A client that sends and never reads would make the replies grow
    // without limit; the reply just written may be read whole.
    if (socket->bytesToWrite() <= MaxUnsentReplyBytes + reply.size())
        return true;
    m_droppedClients.report(tr("Control connection closed: more than %1 bytes of replies left unread")
                                .arg(MaxUnsentReplyBytes));
    drop(socket);
    return false;
}

void ServiceListener::startReload(UnixSocket *socket)
{
    m_clients[socket].awaitingVerdict = true;
    const QPointer<ServiceListener> self = this;
    const QPointer<UnixSocket> target = socket;
    const ServiceBase::ReloadDone done = [self, target](bool ok, const QStringList &lines) {
        if (self && target)
            self->finishReload(target, ok, lines);
    };
    if (ServiceBase *service = ServiceBase::instance())
        service->reload(done);
    else
        done(false, {QStringLiteral("no service runs in this process")});
}

void ServiceListener::finishReload(UnixSocket *socket, bool ok, const QStringList &lines)
{
    const auto it = m_clients.find(socket);
    if (it == m_clients.end())
        return;
    it->awaitingVerdict = false;
    it->lastReceivedMs = Clock::monotonicMsecs();
    if (socket->state() == QLocalSocket::ConnectedState) {
        // Within what a client may leave unread; the log has every line.
        QByteArray text = lines.join(QLatin1Char('\n')).toUtf8();
        text.replace('\0', ' ');
        if (text.size() > MaxUnsentReplyBytes - 16)
            text = text.left(MaxUnsentReplyBytes - 20) + "...";
        if (!writeReply(socket, (ok ? QByteArray("true") : QByteArray("false")) + '\0' + text + '\0'))
            return;
    }
    // What the connection sent meanwhile, from the event loop.
    const QPointer<UnixSocket> target = socket;
    QTimer::singleShot(0, this, [this, target] {
        if (target)
            serve(target);
    });
}

void ServiceListener::slotDisconnected()
{
    auto *socket = qobject_cast<UnixSocket *>(sender());
    if (!socket || !m_clients.contains(socket))
        return;
    // What arrived just before the peer closed is still served, as are
    // commands read before it but not yet served: a reply written to a peer
    // gone closes the connection inside serve() itself.
    serve(socket);
    m_clients.remove(socket);
    GATE_DEBUG(5, "ServiceListener::slotDisconnected(): connection %p released", static_cast<void *>(socket));
    socket->deleteLater();
}

void ServiceListener::slotHousekeeping()
{
    closeIdleClients();
    checkListening();
}

void ServiceListener::closeIdleClients()
{
    const qint64 now = Clock::monotonicMsecs();
    QList<UnixSocket *> idle;
    for (auto it = m_clients.cbegin(); it != m_clients.cend(); ++it)
        if (!it->awaitingVerdict && now - it->lastReceivedMs >= m_idleTimeoutMs)
            idle << it.key();
    for (UnixSocket *socket : qAsConst(idle)) {
        GATE_DEBUG(5, "ServiceListener::closeIdleClients(): connection %p idle, closed", static_cast<void *>(socket));
        drop(socket);
    }
}

void ServiceListener::checkListening()
{
    if (m_servePath.isEmpty() || isIntact())
        return;
    const QString lost = listensStill() ? tr("its file was removed or replaced") : tr("the server stopped listening");
    const QString path = m_servePath;
    if (listenAt(path)) {
        const QString text = tr("Control socket %1 was lost (%2); listening again").arg(path, lost);
        // After a streak of failed attempts the line ends it; a loss mended
        // at the first attempt is one line.
        if (m_listenFault.active()) {
            m_listenFault.clear(text);
        } else {
            m_listenFault.report(text);
            m_listenFault.clear();
        }
        return;
    }
    m_listenFault.report(tr("Control socket %1 was lost and cannot listen again yet: %2; trying again")
                             .arg(path, errorText()));
}

QByteArray ServiceListener::statusReply() const
{
    ServiceBase *service = ServiceBase::instance();
    const QByteArray document = service ? service->statusReport() : QByteArray();
    return document.isEmpty() ? QByteArray("false") : document + '\0';
}

bool ServiceListener::executeCommand(const QByteArray &command)
{
    ServiceBase *service = ServiceBase::instance();
    GATE_DEBUG(3, "ServiceListener::executeCommand(): \"%s\"", QString::fromLatin1(command).toUtf8().constData());
    if (command == "terminate") {
        if (m_flags.testFlag(ServiceBase::CannotBeStopped))
            return false;
        // Answered before the service stops: its last send pass may take
        // longer than a client waits for the reply.
        if (!m_terminating) {
            m_terminating = true;
            QTimer::singleShot(0, &ServiceBase::stopAndQuit);
        }
        return true;
    }
    // Nothing else is carried out once the service stops.
    if (m_terminating)
        return command == "alive";
    if (command == "pause" || command == "resume") {
        if (!m_flags.testFlag(ServiceBase::CanBeSuspended))
            return false;
        if (service) {
            if (command == "pause")
                service->pause();
            else
                service->resume();
        }
        return true;
    }
    if (command == "alive")
        return true;
    if (command.size() > 4 && command.startsWith("num:")) {
        if (service)
            service->processCommand(command.mid(4).toInt());
        return true;
    }
    return false;
}
