#ifndef QDEPROTOCOL_H
#define QDEPROTOCOL_H

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>

class QDEPackProcessorBase;
class QDESocket;
struct TieCounters;

// The DE connections of one tie: it owns the sockets, writes every outgoing
// frame on each connected one, and hands every incoming frame to the
// processor registered for its module number. Processors are not owned.
class QDEProtocol : public QObject
{
    Q_OBJECT
public:
    explicit QDEProtocol(QObject *parent = nullptr);
    ~QDEProtocol() override;

    // Makes a client socket for `host`:`port` with the protocol's timeout,
    // keepalive period and pending-write bound; it starts connecting at
    // once. Returns its position in sockets().
    int addConnection(const QString &host, quint16 port);
    // Takes `socket` (an accepted one; ownership passes to the protocol)
    // and wires it as addConnection() does. Returns its position.
    int addSocket(QDESocket *socket);
    // Enters `processor` under its own module number (replacing an earlier one).
    void registerProcessor(QDEPackProcessorBase *processor);
    // Enters `processor` under `module`.
    void registerProcessor(QDEPackProcessorBase *processor, quint32 module);
    // The processor for modules without one of their own (none when built).
    void setDefaultProcessor(QDEPackProcessorBase *processor);

    // Apply to sockets made afterwards.
    int timeout() const { return m_timeout; }
    void setTimeout(int msecs) { m_timeout = msecs; }
    int keepAlivePeriod() const { return m_keepAlive; }
    void setKeepAlivePeriod(int msecs) { m_keepAlive = msecs; }
    qint64 maxPendingWriteBytes() const { return m_maxPendingWrite; }
    void setMaxPendingWriteBytes(qint64 bytes) { m_maxPendingWrite = bytes; }
    // Counters of the owning tie (not owned; may be null), handed to every socket.
    void setCounters(TieCounters *counters);

    const QList<QDESocket *> &sockets() const { return m_sockets; }
    // The state of socket `index`; 0 for an index out of range or an empty slot.
    int connectionState(int index) const;
    // Number of sockets in the connected state.
    int connectedCount() const;
    // Writes `frame` on `socket` only; false when it was not written.
    bool sendPacketTo(QDESocket *socket, const QByteArray &frame);
    // Waits, at most `msecs` in all, until every connected socket has handed
    // what was written on it to the system, then closes each connection
    // gracefully (what was handed on still reaches the peer; what still waits
    // is counted as unsent). Used before the protocol goes while the gateway
    // runs on.
    void drain(int msecs);

signals:
    void signalMsgForProtocol(const QString &msg, const QString &key = QString());
    // The last connected socket has closed.
    void signalLostAllConnections();
    // A frame of any module arrived.
    void signalSomethingReceived();
    // `socket` is newly connected.
    void signalConnectionMade(QDESocket *socket);
    // A connection has delivered for a timeout since it was made.
    void signalConnectionSteady();

public slots:
    // Writes `frame` on every connected socket, in list order; returns the
    // number of sockets it was written on.
    int sendPacket(const QByteArray &frame);
    // Starts a send on every socket (QDESocket::beginSend()).
    void beginSend();
    void slotConnectionClosed(QDESocket *socket);
    void slotPacketReceived(const QByteArray &pack);

private:
    void wire(QDESocket *socket);

    QList<QDESocket *> m_sockets;
    int m_timeout;
    int m_keepAlive;
    qint64 m_maxPendingWrite;
    TieCounters *m_counters;
    QPointer<QDEPackProcessorBase> m_defaultProcessor;
    QHash<quint32, QPointer<QDEPackProcessorBase>> m_processors;
};

#endif // QDEPROTOCOL_H
