#ifndef QDESOCKET_H
#define QDESOCKET_H

#include "core/repeatedmessage.h"

#include <QByteArray>
#include <QString>
#include <QTcpSocket>

class QTimer;
struct TieCounters;

// One TCP connection that carries DE frames. A client socket (made with a
// host and a port) connects at once and connects again whenever it finds
// itself unconnected; a socket on an accepted connection never does. Every
// socket watches its peer: a connection on which nothing arrives for the
// timeout is closed, and one on which nothing was written for the keepalive
// period gets a keepalive frame. All sockets of the process share one
// 1000 ms timer for this.
//
// Incoming bytes are reassembled into frames; a frame whose checksums hold
// is handed on whole (packetReceived). A checksum failure or a body longer
// than the limit is a protocol error: the buffer is dropped and the
// connection aborted. Activity and write times follow the gateway clock's
// monotonic reading, so a step of the wall clock changes nothing.
class QDESocket : public QTcpSocket
{
    Q_OBJECT
public:
    static constexpr int DefaultTimeout = 3000;
    static constexpr int DefaultKeepAlivePeriod = 1500;
    // Period of the shared timer.
    static constexpr int TickPeriod = 1000;
    // Most bytes that may wait to be written to one peer; a peer that takes
    // less than is sent to it is cut off past this (one send longer than
    // the bound is written when nothing of an earlier send waits).
    static constexpr qint64 DefaultMaxPendingWriteBytes = 64 * 1024 * 1024;
    // Bound of the framework's own read buffer.
    static constexpr qint64 ReadBufferBytes = 1024 * 1024;

    // A client socket for `host`:`port`; starts connecting when the host is
    // not empty and the port not 0.
    QDESocket(const QString &host, quint16 port, QObject *parent = nullptr);
    // A socket on the accepted connection `descriptor` (server side).
    explicit QDESocket(qintptr descriptor, QObject *parent = nullptr);
    ~QDESocket() override;

    // Reassembles frames from `bytes` that arrived (what slotReadyRead()
    // does with what it reads): every whole frame is handed on, the rest kept.
    void receiveBytes(const QByteArray &bytes);
    // Writes one frame; the bytes written, or -1 when the socket is not
    // connected or the frame would pass the pending-write bound while
    // bytes of an earlier send still wait (the connection is then aborted,
    // and what waited and the frame are counted in the counters'
    // bytesUnsent).
    qint64 sendFrame(const QByteArray &frame);
    // Starts a send: the frames written from now on have had no chance to
    // leave yet, so they are never weighed against each other, only against
    // what earlier sends left waiting. A new connection starts one itself;
    // what that first send (the snapshot) wrote is allowed beyond the bound
    // until what waits has once fallen below the bound.
    // The connection is closed for good (a stop, or its tie replaced) while
    // bytes still wait to be written: they are counted in bytesUnsent and
    // said once, as they go with the connection.
    void countWaitingAsUnsent();
    void beginSend()
    {
        m_writtenThisSend = 0;
        m_firstSend = false;
    }

    // True from a cut for what waited to be written until the peer takes
    // what is sent again.
    bool writeFailing() const { return m_writeFault.active(); }

    QString host() const { return m_host; }
    quint16 port() const { return m_port; }
    // "host:port" of the peer, for messages.
    QString endpoint() const;
    bool isConnectSocket() const { return m_connect; }
    bool isAccepted() const { return m_accepted; }
    int timeout() const { return m_timeout; }
    void setTimeout(int msecs) { m_timeout = msecs; }
    int keepAlivePeriod() const { return m_keepAlive; }
    void setKeepAlivePeriod(int msecs) { m_keepAlive = msecs; }
    qint64 maxPendingWriteBytes() const { return m_maxPendingWrite; }
    void setMaxPendingWriteBytes(qint64 bytes) { m_maxPendingWrite = bytes; }
    // Counters of the owning tie (not owned; may be null).
    void setCounters(TieCounters *counters) { m_counters = counters; }
    // Bytes received but not yet part of a whole frame.
    const QByteArray &receiveBuffer() const { return m_buffer; }
    // Monotonic milliseconds of the last activity and of the last write (-1: none yet).
    qint64 lastActivityMsecs() const { return m_lastActivity; }
    qint64 lastWriteMsecs() const { return m_lastWrite; }

    // The timer shared by every socket of the process; null while no socket exists.
    static QTimer *tickTimer();

signals:
    void signalMsgForProtocol(const QString &msg, const QString &key = QString());
    void packetReceived(const QByteArray &pack);
    void disconnected(QDESocket *socket);
    // The socket found itself connected (a new connection is up).
    void connectionMade(QDESocket *socket);
    // The connection has delivered a frame after being up for the timeout:
    // it is steady, not one that a peer takes and drops at once. Once per
    // connection.
    void connectionSteady(QDESocket *socket);

public slots:
    void slotReadyRead();
    void slotTick();

private slots:
    void slotDisconnected();
    void slotConnected();
    void slotStateChanged(QAbstractSocket::SocketState state);
    void slotError(QAbstractSocket::SocketError error);

private:
    void setUp();
    void startConnecting();
    void noteConnected();
    // The peer's name (or address) as the operator messages show it.
    QString peerLabel() const;
    // Reports a failed connection attempt, `why` it failed; every attempt
    // until the next steady connection counts in one streak.
    void reportConnectFault(const QString &why);
    // Drops what was received (a new connection starts clean).
    void dropBuffer();
    // Ends the connection after a protocol error: `debug` for the debug
    // output, `operatorText` for the log; the buffer is dropped.
    void protocolError(const QByteArray &debug, const QString &operatorText);

    QByteArray m_buffer;
    // Changes whenever the buffer is dropped, so a read loop notices that a
    // slot it signalled reset the connection.
    quint64 m_bufferEpoch = 0;
    QString m_host;
    quint16 m_port = 0;
    QString m_peer;
    bool m_connect = false;
    bool m_accepted = false;
    bool m_everConnected = false;
    bool m_steady = false;
    qint64 m_lastActivity;
    qint64 m_connectedAt;
    qint64 m_lastWrite = -1;
    // Bytes written since beginSend().
    qint64 m_writtenThisSend = 0;
    // The connection's first send is under way; the bytes it wrote, allowed
    // beyond the bound until what waits falls below it.
    bool m_firstSend = false;
    qint64 m_firstSendAllowance = 0;
    int m_lastSeenState = UnconnectedState;
    int m_timeout = DefaultTimeout;
    int m_keepAlive = DefaultKeepAlivePeriod;
    qint64 m_maxPendingWrite = DefaultMaxPendingWriteBytes;
    TieCounters *m_counters = nullptr;
    QTimer *m_timer = nullptr;
    RepeatedMessage m_connectFault;
    RepeatedMessage m_protocolFault;
    // Cuts at the pending-write bound; ends when a connection keeps up.
    RepeatedMessage m_writeFault;
};

#endif // QDESOCKET_H
