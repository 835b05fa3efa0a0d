#include "links/de/qdesocket.h"

#include "core/clock.h"
#include "core/diag.h"
#include "core/tiecounters.h"
#include "links/de/deframe.h"

#include <QHostAddress>
#include <QTimer>

namespace {

// The timer every socket ticks on, counted by its sockets: the first
// creates it, the last deletes it, so no socket is ever left on a freed one.
QTimer *g_tickTimer = nullptr;
int g_tickUsers = 0;

QTimer *acquireTickTimer()
{
    if (!g_tickTimer) {
        g_tickTimer = new QTimer;
        g_tickTimer->setInterval(QDESocket::TickPeriod);
        g_tickTimer->start();
    }
    ++g_tickUsers;
    return g_tickTimer;
}

void releaseTickTimer()
{
    if (--g_tickUsers == 0) {
        delete g_tickTimer;
        g_tickTimer = nullptr;
    }
}

} // namespace

QDESocket::QDESocket(const QString &host, quint16 port, QObject *parent)
    : QTcpSocket(parent)
    , m_host(host)
    , m_port(port)
    , m_lastActivity(Clock::monotonicMsecs())
    , m_connectedAt(m_lastActivity)
{
    setUp();
    if (!m_host.isEmpty() && m_port != 0) {
        m_connect = true;
        startConnecting();
    }
}

QDESocket::QDESocket(qintptr descriptor, QObject *parent)
    : QTcpSocket(parent)
    , m_accepted(true)
    , m_lastActivity(Clock::monotonicMsecs())
    , m_connectedAt(m_lastActivity)
{
    if (setSocketDescriptor(descriptor))
        m_peer = QStringLiteral("%1:%2").arg(peerAddress().toString(), QString::number(peerPort()));
    setUp();
}

QDESocket::~QDESocket()
{
    // Nobody hears of the close of a socket that is going away.
    QObject::disconnect(this, nullptr, nullptr, nullptr);
    QObject::disconnect(m_timer, nullptr, this, nullptr);
    abort();
    releaseTickTimer();
}

QTimer *QDESocket::tickTimer()
{
    return g_tickTimer;
}

void QDESocket::setUp()
{
    setReadBufferSize(ReadBufferBytes);
    connect(this, &QIODevice::readyRead, this, &QDESocket::slotReadyRead);
    connect(this, &QAbstractSocket::connected, this, &QDESocket::slotConnected);
    connect(this, &QAbstractSocket::disconnected, this, &QDESocket::slotDisconnected);
    connect(this, &QAbstractSocket::stateChanged, this, &QDESocket::slotStateChanged);
    connect(this, &QAbstractSocket::errorOccurred, this, &QDESocket::slotError);
    m_timer = acquireTickTimer();
    connect(m_timer, &QTimer::timeout, this, &QDESocket::slotTick);
}

QString QDESocket::endpoint() const
{
    if (m_connect)
        return QStringLiteral("%1:%2").arg(m_host, QString::number(m_port));
    return m_peer.isEmpty() ? QStringLiteral("%1:%2").arg(peerName(), QString::number(peerPort())) : m_peer;
}

void QDESocket::startConnecting()
{
    m_lastActivity = Clock::monotonicMsecs();
    connectToHost(m_host, m_port, ReadWrite, AnyIPProtocol);
}

void QDESocket::dropBuffer()
{
    m_buffer.clear();
    ++m_bufferEpoch;
}

void QDESocket::slotStateChanged(QAbstractSocket::SocketState state)
{
    // A new connection (or none) starts clean: bytes of a broken connection
    // never precede the next one's.
    if (state == UnconnectedState || state == HostLookupState || state == ConnectingState)
        dropBuffer();
    if (state != ConnectedState) {
        m_lastSeenState = state;
        m_lastActivity = Clock::monotonicMsecs();
    }
}

void QDESocket::slotConnected()
{
    noteConnected();
}

void QDESocket::noteConnected()
{
    m_lastSeenState = ConnectedState;
    m_lastActivity = Clock::monotonicMsecs();
    m_connectedAt = m_lastActivity;
    m_lastWrite = -1;
    m_writtenThisSend = 0;
    m_firstSend = true;
    m_firstSendAllowance = 0;
    m_steady = false;
    if (m_everConnected && m_counters)
        ++m_counters->reconnects;
    m_everConnected = true;
    emit signalMsgForProtocol(tr("Connected to %1:%2").arg(peerLabel(), QString::number(peerPort())));
    GATE_DEBUG(1, "QDESocket: Connected to %s:%u", qUtf8Printable(peerLabel()), peerPort());
    emit connectionMade(this);
}

QString QDESocket::peerLabel() const
{
    const QString name = peerName();
    return name.isEmpty() ? peerAddress().toString() : name;
}

void QDESocket::slotDisconnected()
{
    emit disconnected(this);
}

void QDESocket::slotError(QAbstractSocket::SocketError)
{
    if (!m_connect || m_lastSeenState == ConnectedState)
        return;
    GATE_DEBUG(1, "QDESocket (%s:%u): %s", qUtf8Printable(m_host), m_port, qUtf8Printable(errorString()));
    reportConnectFault(errorString());
}

void QDESocket::reportConnectFault(const QString &why)
{
    // One streak whatever the reason: a peer switched off answers with an
    // error or not at all, whichever comes first, attempt by attempt.
    const QString text = tr("Cannot connect to %1:%2: %3").arg(m_host, QString::number(m_port), why);
    m_connectFault.report(text, text, QStringLiteral("connect"));
}

void QDESocket::protocolError(const QByteArray &debug, const QString &operatorText)
{
    GATE_DEBUG(1, "%s", debug.constData());
    m_protocolFault.report(operatorText);
    dropBuffer();
    abort();
}

void QDESocket::slotReadyRead()
{
    m_lastActivity = Clock::monotonicMsecs();
    receiveBytes(readAll());
}

void QDESocket::receiveBytes(const QByteArray &bytes)
{
    if (m_counters)
        m_counters->bytesIn += static_cast<quint64>(bytes.size());
    if (m_buffer.isEmpty())
        m_buffer = bytes;
    else
        m_buffer.append(bytes);

    // Walk the frames with an offset and drop what they used once, so one
    // read of many small frames costs what it holds, not its square.
    const quint64 epoch = m_bufferEpoch;
    size_t offset = 0;
    for (;;) {
        const size_t available = static_cast<size_t>(m_buffer.size()) - offset;
        const char *data = m_buffer.constData() + offset;
        const DEFrameScan scan = scanDEFrame(data, available);
        switch (scan.result) {
        case DEFrameScan::NeedMore:
            break;
        case DEFrameScan::HeaderChecksumFail:
            if (m_counters)
                ++m_counters->checksumFailures;
            protocolError(QByteArray("QDESocket::slotReadyRead: Header checksum fail: ")
                              + QByteArray::number(scan.received) + " != " + QByteArray::number(scan.computed),
                          tr("Connection to %1 closed: a frame header failed its checksum").arg(endpoint()));
            return;
        case DEFrameScan::BodyTooLong:
            if (m_counters)
                ++m_counters->framesDropped;
            protocolError(QStringLiteral("QDESocket (%1): Frame body of %2 bytes exceeds the limit of %3 bytes. "
                                         "Close connection.")
                              .arg(endpoint(), QString::number(scan.bodyLength),
                                   QString::number(DEFrame::MaxBodyBytes))
                              .toUtf8(),
                          tr("Connection to %1 closed: a frame announced a body longer than %2 bytes")
                              .arg(endpoint(), QString::number(DEFrame::MaxBodyBytes)));
            return;
        case DEFrameScan::BodyChecksumFail:
            if (m_counters)
                ++m_counters->checksumFailures;
            protocolError(QByteArray("QDESocket::slotReadyRead: body_checksum fail: ")
                              + QByteArray::number(scan.received) + " != " + QByteArray::number(scan.computed),
                          tr("Connection to %1 closed: a frame failed its checksum").arg(endpoint()));
            return;
        case DEFrameScan::Complete: {
            const bool whole = offset == 0 && scan.frameBytes == static_cast<size_t>(m_buffer.size());
            const QByteArray frame =
                whole ? m_buffer : m_buffer.mid(static_cast<int>(offset), static_cast<int>(scan.frameBytes));
            offset += scan.frameBytes;
            if (m_counters)
                ++m_counters->framesIn;
            // A streak of protocol errors or failed connection attempts
            // ends with a connection that delivers for a while, not with
            // one that fails right after it was made or after a first good
            // frame (a peer restarting over and over).
            if (!m_steady && Clock::monotonicMsecs() - m_connectedAt >= m_timeout) {
                m_steady = true;
                m_connectFault.clear();
                m_protocolFault.clear();
                emit connectionSteady(this);
            }
            emit packetReceived(frame);
            // A slot may have closed or reset the connection meanwhile.
            if (epoch != m_bufferEpoch)
                return;
            continue;
        }
        }
        break;
    }
    if (offset == static_cast<size_t>(m_buffer.size()))
        m_buffer.clear();
    else if (offset > 0)
        m_buffer.remove(0, static_cast<int>(offset));
}

qint64 QDESocket::sendFrame(const QByteArray &frame)
{
    if (state() != ConnectedState)
        return -1;
    // Only bytes an earlier send left waiting tell a peer that does not
    // read: those of this send (written first in line after them) cannot
    // have left yet. So a send longer than the bound still goes to a peer
    // that keeps up, and a bound below the largest pack cuts no connection.
    // A snapshot larger than the bound would otherwise be cut at every
    // next send and sent again on the reconnect, for ever.
    const qint64 pending = bytesToWrite();
    if (!m_firstSend && m_firstSendAllowance > 0 && pending < m_maxPendingWrite)
        m_firstSendAllowance = 0;
    const qint64 earlier = pending - m_writtenThisSend;
    if (earlier > 0 && pending + frame.size() > m_maxPendingWrite + m_firstSendAllowance) {
        // What waits and the frame go unsent and are counted. The message
        // is one streak for as long as the peer stalls, across the cuts
        // and reconnects, so a peer that never reads writes no line per cut.
        GATE_DEBUG(1, "QDESocket (%s): %lld bytes wait to be written, more than %lld. Close connection.",
                   qUtf8Printable(endpoint()), static_cast<long long>(pending + frame.size()),
                   static_cast<long long>(m_maxPendingWrite));
        if (m_counters)
            m_counters->bytesUnsent += static_cast<quint64>(pending + frame.size());
        m_writeFault.report(tr("Connection to %1 closed: the peer does not take what is sent (more than %2 bytes "
                               "wait to be written)")
                                .arg(endpoint(), QString::number(m_maxPendingWrite)));
        dropBuffer();
        abort();
        return -1;
    }
    m_lastWrite = Clock::monotonicMsecs();
    const qint64 written = write(frame);
    if (written > 0) {
        m_writtenThisSend += written;
        if (m_firstSend)
            m_firstSendAllowance += written;
    }
    if (written > 0 && m_counters) {
        ++m_counters->framesOut;
        m_counters->bytesOut += static_cast<quint64>(written);
    }
    return written;
}

void QDESocket::countWaitingAsUnsent()
{
    const qint64 left = bytesToWrite();
    if (left <= 0 || state() != ConnectedState)
        return;
    if (m_counters)
        m_counters->bytesUnsent += static_cast<quint64>(left);
    emit signalMsgForProtocol(
        tr("Connection to %1 closed with %2 bytes the peer did not take").arg(endpoint(), QString::number(left)));
}

void QDESocket::slotTick()
{
    const qint64 now = Clock::monotonicMsecs();
    const SocketState current = state();
    switch (current) {
    case UnconnectedState:
        if (m_accepted || !m_connect || m_host.isEmpty() || m_port == 0)
            return;
        startConnecting();
        return;
    case HostLookupState:
    case ConnectingState:
        if (m_lastSeenState != current) {
            m_lastSeenState = current;
            m_lastActivity = now;
        } else if (m_lastActivity + m_timeout < now) {
            const bool lookup = current == HostLookupState;
            GATE_DEBUG(1, lookup ? "QDESocket (%s:%u): Timeout while host lookup"
                                 : "QDESocket (%s:%u): Timeout while connecting to host",
                       qUtf8Printable(m_host), m_port);
            reportConnectFault(lookup ? tr("no answer to the host lookup") : tr("no answer from the host"));
            abort();
        }
        return;
    case ConnectedState:
        if (m_lastSeenState != current) {
            noteConnected();
            return;
        }
        if (m_lastActivity + m_timeout < now) {
            // A peer that stopped in the middle of a frame is told apart
            // from one that went silent between frames. The count of bytes
            // is left out of the key, so that a peer stalling at different
            // points still makes one streak.
            const QString text = m_buffer.isEmpty()
                ? tr("Connection to %1:%2 closed due timeout")
                : tr("Connection to %1:%2 closed due timeout with an unfinished frame (%3 bytes of it received)");
            const QString port = QString::number(peerPort());
            const QString closed = text.arg(peerLabel(), port, QString::number(m_buffer.size()));
            const QString closedKey = text.arg(peerLabel(), port, QString());
            const QString end = m_connect && !m_accepted ? tr(". Trying reconnect") : QStringLiteral(".");
            emit signalMsgForProtocol(closed + end, closedKey + end);
            GATE_DEBUG(1, "QDESocket (%s): Timeout during operation. Close connection.", qUtf8Printable(endpoint()));
            abort();
            return;
        }
        // A stall ends with a connection that has been up for the timeout
        // and has nothing left waiting for its peer.
        if (m_writeFault.active() && now - m_connectedAt >= m_timeout && bytesToWrite() == 0)
            m_writeFault.clear(tr("Connection to %1: the peer takes what is sent again").arg(endpoint()));
        if (m_lastWrite < 0 || m_lastWrite + m_keepAlive < now) {
            const qint64 result = sendFrame(deKeepAliveFrame());
            GATE_DEBUG(5, "  Send keepalive with result %lli", static_cast<long long>(result));
        }
        return;
    case ClosingState:
        // The close waits for pending output to drain, which a peer that
        // reads nothing never lets happen.
        if (m_lastSeenState != current) {
            m_lastSeenState = current;
            m_lastActivity = now;
        } else if (m_lastActivity + m_timeout < now) {
            GATE_DEBUG(1, "QDESocket (%s): Timeout while closing. Abort connection.", qUtf8Printable(endpoint()));
            abort();
        }
        return;
    default:
        GATE_DEBUG(1, "QDESocket (%s): Internal error: Unexpected state(%u)", qUtf8Printable(endpoint()),
                   static_cast<unsigned>(current));
        abort();
        return;
    }
}
