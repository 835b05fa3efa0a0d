#ifndef DETESTSUPPORT_H
#define DETESTSUPPORT_H

#include "links/de/deframe.h"
#include "links/de/deparampack.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QHostAddress>
#include <QList>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QVector>

#include <cstring>

// Serves events until `condition` holds; false when `msecs` passed first.
template<typename Condition>
bool waitUntil(Condition condition, int msecs = 5000)
{
    QDeadlineTimer deadline(msecs);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(1);
    }
    return true;
}

// The far end of DE connections: listens on a free port of 127.0.0.1,
// takes every connection and splits what each one sends into frames.
class TestPeer : public QObject
{
public:
    TestPeer()
    {
        m_server.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = m_server.nextPendingConnection()) {
                m_peers.append(socket);
                m_received.append(QByteArray());
                const int i = m_peers.size() - 1;
                QObject::connect(socket, &QTcpSocket::readyRead, this, [this, i] {
                    if (!m_paused)
                        m_received[i] += m_peers[i]->readAll();
                });
            }
        });
    }
    ~TestPeer() override { qDeleteAll(m_peers); }

    quint16 port() const { return m_server.serverPort(); }
    bool waitForConnections(int count) { return waitUntil([&] { return m_peers.size() >= count; }); }
    QTcpSocket *peer(int i = 0) const { return m_peers.value(i); }
    int connections() const { return m_peers.size(); }
    void send(const QByteArray &bytes, int i = 0)
    {
        m_peers[i]->write(bytes);
        m_peers[i]->flush();
    }
    void close(int i = 0) { m_peers[i]->close(); }
    // Stops taking data from the connections: what arrives stays in the
    // system's buffers until they are full.
    void stopReading()
    {
        m_paused = true;
        for (QTcpSocket *socket : qAsConst(m_peers))
            socket->setReadBufferSize(1);
    }

    // The complete frames connection `i` has sent so far (modules all, or
    // only `module`).
    QVector<QByteArray> frames(int i = 0) const
    {
        QVector<QByteArray> out;
        const QByteArray &bytes = m_received.at(i);
        size_t offset = 0;
        for (;;) {
            const DEFrameScan scan = scanDEFrame(bytes.constData() + offset, bytes.size() - offset);
            if (scan.result != DEFrameScan::Complete)
                break;
            out.append(bytes.mid(static_cast<int>(offset), static_cast<int>(scan.frameBytes)));
            offset += scan.frameBytes;
        }
        return out;
    }
    QVector<QByteArray> frames(int i, quint32 module) const
    {
        QVector<QByteArray> out;
        for (const QByteArray &frame : frames(i)) {
            if (deWord(frame.constData()) == module)
                out.append(frame);
        }
        return out;
    }
    void clearReceived(int i = 0) { m_received[i].clear(); }

private:
    QTcpServer m_server;
    QList<QTcpSocket *> m_peers;
    QList<QByteArray> m_received;
    bool m_paused = false;
};

// A parameter pack with every header field chosen by the test; parameters
// are appended as the packing and time types say.
struct RawPack {
    quint32 headerSize = DEPack::SentHeaderSize;
    quint32 version = DEPack::SentVersion;
    quint32 packing = DEPack::PackingIndexed;
    quint32 type = 9; // FLOAT
    quint32 commonTime = DEPack::TimeUnixMsecs;
    quint32 paramTime = DEPack::TimeUnixMsecs;
    quint32 start = 0;
    quint32 count = 0;
    quint32 commonSeconds = 1714564800; // 2024-05-01 12:00:00 UTC
    quint32 commonMsecs = 250;
    QByteArray params;

    static QByteArray word(quint32 v)
    {
        QByteArray b(4, '\0');
        dePutWord(b.data(), v);
        return b;
    }
    static QByteArray floatBytes(float f)
    {
        QByteArray b(4, '\0');
        std::memcpy(b.data(), &f, 4);
        return b;
    }
    RawPack &param(quint32 index, const QByteArray &value, quint32 seconds = 1714564801, quint32 msecs = 500)
    {
        if (packing == DEPack::PackingIndexed)
            params += word(index);
        if (paramTime == DEPack::TimeUnixMsecs)
            params += word(seconds) + word(msecs);
        params += value;
        ++count;
        return *this;
    }
    // `frame` with the word at `offset` replaced, sealed again.
    static QByteArray patched(const QByteArray &frame, size_t offset, quint32 value)
    {
        QByteArray open = frame.left(frame.size() - static_cast<int>(DEFrame::ChecksumBytes));
        open.replace(static_cast<int>(offset), 4, word(value));
        sealDEFrame(open);
        return open;
    }
    // The sealed frame; the pack header is cut or padded to `headerSize`.
    QByteArray frame() const
    {
        QByteArray body = word(headerSize) + word(version) + word(packing) + word(type) + word(commonTime)
            + word(paramTime) + word(start) + word(count) + word(commonSeconds) + word(commonMsecs);
        body.resize(static_cast<int>(headerSize));
        return buildDEFrame(DEFrame::ModuleParamPack, body + params);
    }
};

#endif // DETESTSUPPORT_H
