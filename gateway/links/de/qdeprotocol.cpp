#include "links/de/qdeprotocol.h"

#include "core/diag.h"
#include "core/tiecounters.h"
#include "links/de/deframe.h"
#include "links/de/qdepackprocessor.h"
#include "links/de/qdesocket.h"

#include <utilfunctions.h>

#include <QElapsedTimer>

QDEProtocol::QDEProtocol(QObject *parent)
    : QObject(parent)
    , m_timeout(QDESocket::DefaultTimeout)
    , m_keepAlive(QDESocket::DefaultKeepAlivePeriod)
    , m_maxPendingWrite(QDESocket::DefaultMaxPendingWriteBytes)
    , m_counters(nullptr)
{
}

QDEProtocol::~QDEProtocol()
{
    // The sockets go silently: no lost-connection signal from a protocol
    // that is being destroyed.
    for (QDESocket *socket : qAsConst(m_sockets))
        delete socket;
    m_sockets.clear();
}

int QDEProtocol::addConnection(const QString &host, quint16 port)
{
    // The attempt the socket starts runs on the event loop, after its
    // settings are made here.
    return addSocket(new QDESocket(host, port, this));
}

int QDEProtocol::addSocket(QDESocket *socket)
{
    socket->setParent(this);
    socket->setTimeout(m_timeout);
    socket->setKeepAlivePeriod(m_keepAlive);
    socket->setMaxPendingWriteBytes(m_maxPendingWrite);
    wire(socket);
    m_sockets.append(socket);
    return m_sockets.size() - 1;
}

void QDEProtocol::wire(QDESocket *socket)
{
    socket->setCounters(m_counters);
    connect(socket, qOverload<QDESocket *>(&QDESocket::disconnected), this, &QDEProtocol::slotConnectionClosed);
    connect(socket, &QDESocket::packetReceived, this, &QDEProtocol::slotPacketReceived);
    connect(socket, &QDESocket::signalMsgForProtocol, this, &QDEProtocol::signalMsgForProtocol);
    connect(socket, &QDESocket::connectionMade, this, &QDEProtocol::signalConnectionMade);
    connect(socket, &QDESocket::connectionSteady, this, &QDEProtocol::signalConnectionSteady);
}

void QDEProtocol::setCounters(TieCounters *counters)
{
    m_counters = counters;
    for (QDESocket *socket : qAsConst(m_sockets))
        socket->setCounters(counters);
}

void QDEProtocol::registerProcessor(QDEPackProcessorBase *processor)
{
    if (processor)
        registerProcessor(processor, processor->module());
}

void QDEProtocol::registerProcessor(QDEPackProcessorBase *processor, quint32 module)
{
    m_processors.insert(module, processor);
}

void QDEProtocol::setDefaultProcessor(QDEPackProcessorBase *processor)
{
    m_defaultProcessor = processor;
}

int QDEProtocol::connectionState(int index) const
{
    if (index < 0 || index >= m_sockets.size() || !m_sockets.at(index))
        return 0;
    return static_cast<int>(m_sockets.at(index)->state());
}

int QDEProtocol::connectedCount() const
{
    int n = 0;
    for (const QDESocket *socket : m_sockets) {
        if (socket && socket->state() == QAbstractSocket::ConnectedState)
            ++n;
    }
    return n;
}

int QDEProtocol::sendPacket(const QByteArray &frame)
{
    int written = 0;
    // A socket that the bound cuts off leaves the list unchanged.
    for (QDESocket *socket : qAsConst(m_sockets)) {
        if (sendPacketTo(socket, frame))
            ++written;
    }
    return written;
}

void QDEProtocol::beginSend()
{
    for (QDESocket *socket : qAsConst(m_sockets))
        if (socket)
            socket->beginSend();
}

bool QDEProtocol::sendPacketTo(QDESocket *socket, const QByteArray &frame)
{
    return socket && socket->state() == QAbstractSocket::ConnectedState && socket->sendFrame(frame) == frame.size();
}

void QDEProtocol::drain(int msecs)
{
    QElapsedTimer timer;
    timer.start();
    for (QDESocket *socket : qAsConst(m_sockets)) {
        if (!socket || socket->state() != QAbstractSocket::ConnectedState)
            continue;
        socket->flush();
        while (socket->bytesToWrite() > 0) {
            const qint64 left = msecs - timer.elapsed();
            if (left <= 0 || !socket->waitForBytesWritten(int(left)))
                break;
        }
    }
    for (QDESocket *socket : qAsConst(m_sockets)) {
        if (socket) {
            socket->countWaitingAsUnsent();
            socket->disconnectFromHost();
        }
    }
}

void QDEProtocol::slotConnectionClosed(QDESocket *socket)
{
    if (connectedCount() == 0)
        emit signalLostAllConnections();
    if (socket)
        emit signalMsgForProtocol(tr("Connection to %1 closed").arg(socket->endpoint()));
}

void QDEProtocol::slotPacketReceived(const QByteArray &pack)
{
    if (static_cast<size_t>(pack.size()) < DEFrame::HeaderBytes) {
        GATE_DEBUG(2, "QDEProtocol::slotPacketReceived(): packet too short (%i < %zu)", static_cast<int>(pack.size()),
                   DEFrame::HeaderBytes);
        return;
    }
    const quint32 module = deWord(pack.constData() + DEFrame::OffsetModule);
    QDEPackProcessorBase *processor = m_processors.value(module);
    if (!processor)
        processor = m_defaultProcessor;
    if (processor) {
        processor->slotPacketReceived(pack);
    } else {
        if (m_counters)
            ++m_counters->framesDropped;
        if (debugEnabled(3)) {
            qDebug("QDEProtocol::slotPacketReceived(): unsupported packet received (with module = 0x%X/%u)", module,
                   module);
            qDebugDumpByteArray(pack.left(256));
        }
    }
    emit signalSomethingReceived();
}
