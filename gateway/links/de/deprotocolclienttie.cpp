#include "links/de/deprotocolclienttie.h"

#include "core/diag.h"
#include "links/de/qdepackprocessor.h"
#include "links/de/qdeprotocol.h"
#include "links/de/qdesocket.h"

#include <algorithm>

DEProtocolClientTie::DEProtocolClientTie(QObject *parent)
    : BaseDEProtocolTie(parent)
    , m_protocol(new QDEProtocol(this))
{
    m_protocol->setCounters(&counters());
    m_protocol->setTimeout(protocolTimeout());
    m_protocol->setKeepAlivePeriod(keepAlivePeriod());
    connect(m_protocol, &QDEProtocol::signalMsgForProtocol, this, &BaseDEProtocolTie::signalMsgForProtocol);
    connect(m_protocol, &QDEProtocol::signalLostAllConnections, this, &BaseDEProtocolTie::slotLostAllConnections);
    connect(m_protocol, &QDEProtocol::signalSomethingReceived, this, &BaseDEProtocolTie::slotSomethingReceived);
    connect(m_protocol, &QDEProtocol::signalConnectionMade, this, &DEProtocolClientTie::slotConnectionMade);
    connect(m_protocol, &QDEProtocol::signalConnectionSteady, this, &BaseDEProtocolTie::slotConnectionSteady);
}

DEProtocolClientTie::~DEProtocolClientTie()
{
    // The connections go before the units and processors they reach.
    delete m_protocol;
    m_protocol = nullptr;
}

void DEProtocolClientTie::setProtocolTimeout(int msecs)
{
    BaseDEProtocolTie::setProtocolTimeout(msecs);
    m_protocol->setTimeout(msecs);
}

void DEProtocolClientTie::setKeepAlivePeriod(int msecs)
{
    BaseDEProtocolTie::setKeepAlivePeriod(msecs);
    m_protocol->setKeepAlivePeriod(msecs);
}

void DEProtocolClientTie::setMaxPendingWriteBytes(qint64 bytes)
{
    m_protocol->setMaxPendingWriteBytes(bytes);
}

int DEProtocolClientTie::sendFrame(const QByteArray &frame)
{
    return m_protocol->sendPacket(frame);
}

void DEProtocolClientTie::beginSend()
{
    m_protocol->beginSend();
}

int DEProtocolClientTie::addConnection(const QString &host, quint16 port)
{
    return m_protocol->addConnection(host, port);
}

void DEProtocolClientTie::drain()
{
    m_protocol->drain(DrainMsecs);
}

int DEProtocolClientTie::connectionState(int index) const
{
    return m_protocol->connectionState(index);
}

int DEProtocolClientTie::connectedCount() const
{
    return m_protocol->connectedCount();
}

bool DEProtocolClientTie::deliveryFailing() const
{
    const QList<QDESocket *> &sockets = m_protocol->sockets();
    return std::any_of(sockets.begin(), sockets.end(), [](const QDESocket *s) { return s->writeFailing(); });
}

void DEProtocolClientTie::registerProcessor(QDEPackProcessorBase *processor)
{
    if (!processor)
        return;
    registerProcessor(processor, processor->module());
}

void DEProtocolClientTie::registerProcessor(QDEPackProcessorBase *processor, quint32 module)
{
    if (!processor)
        return;
    processor->setCounters(&counters());
    m_protocol->registerProcessor(processor, module);
}

void DEProtocolClientTie::slotConnectionMade(QDESocket *socket)
{
    DEProtocolPackets snapshot;
    collectSnapshot(snapshot);
    const QVector<QByteArray> frames = snapshot.takeFrames();
    quint64 values = 0;
    for (const QByteArray &frame : frames) {
        if (m_protocol->sendPacketTo(socket, frame))
            values += packParamCount(frame);
    }
    counters().valuesSent += values;
    GATE_DEBUG(2, "DEProtocolClientTie::slotConnectionMade(): snapshot of %llu values in %i packs sent to %s",
               static_cast<unsigned long long>(values), static_cast<int>(frames.size()),
               socket ? qUtf8Printable(socket->endpoint()) : "(NULL)");
}
