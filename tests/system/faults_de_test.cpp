// DE link faults through the running program: peers of the test's own that
// drop the connection in the middle of a frame, trickle a long stream a
// byte at a time, hold a frame half sent, connect and close thousands of
// times, and stop reading while the program sends to them.

#include "faultsupport.h"

#include "detestsupport.h"

#include <dpdatatype.h>

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPointer>
#include <QTimer>

#include <gtest/gtest.h>

#include <sys/socket.h>

#include <functional>
#include <memory>

namespace {

// A DE peer the test drives: listens on a free port of 127.0.0.1 and hands
// every connection, numbered from 0, to `onConnection`. Every connection
// that is still open gets a keepalive frame every 500 ms while
// `keepAlives` is set; closed connections are deleted.
class Peer : public QObject
{
public:
    std::function<void(QTcpSocket *, int)> onConnection;
    bool keepAlives = false;

    Peer()
    {
        m_server.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = m_server.nextPendingConnection()) {
                m_open.append(socket);
                QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
                const int number = m_connections++;
                if (onConnection)
                    onConnection(socket, number);
            }
        });
        m_keepAlive.setInterval(500);
        QObject::connect(&m_keepAlive, &QTimer::timeout, this, [this] {
            if (!keepAlives)
                return;
            for (QTcpSocket *socket : open())
                socket->write(deKeepAliveFrame());
        });
        m_keepAlive.start();
    }

    quint16 port() const { return m_server.serverPort(); }
    int connections() const { return m_connections; }
    // The connections not closed yet.
    QList<QTcpSocket *> open()
    {
        QList<QTcpSocket *> sockets;
        for (const QPointer<QTcpSocket> &socket : qAsConst(m_open))
            if (socket && socket->state() == QAbstractSocket::ConnectedState)
                sockets.append(socket);
        return sockets;
    }
    // A small receive window for the connections accepted from now on, so
    // a peer that stops reading stalls its sender soon.
    void shrinkReceiveWindow()
    {
        const int bytes = 4096;
        ::setsockopt(static_cast<int>(m_server.socketDescriptor()), SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
    }

private:
    QTcpServer m_server;
    QList<QPointer<QTcpSocket>> m_open;
    int m_connections = 0;
    QTimer m_keepAlive;
};

// Sends `bytes` and closes once they are on their way.
void sendAndClose(QTcpSocket *socket, const QByteArray &bytes)
{
    socket->write(bytes);
    socket->flush();
    socket->disconnectFromHost();
}

// A parameter pack of FLOATVALID values for parameters `first`.. in order.
QByteArray floatPack(quint32 first, const QVector<float> &values)
{
    RawPack pack;
    pack.type = dpdtFloatValid;
    for (int i = 0; i < values.size(); ++i)
        pack.param(first + static_cast<quint32>(i), RawPack::floatBytes(values.at(i)) + RawPack::word(1));
    return pack.frame();
}

// "P<n>" for parameters 1..`count` of type FLOATVALID.
QByteArray floatList(int count)
{
    QByteArray list = "kks,index,type\n";
    for (int i = 1; i <= count; ++i)
        list += "P" + QByteArray::number(i) + "," + QByteArray::number(i) + ",FLOATVALID\n";
    return list;
}

struct Layout {
    // One connection element per port.
    QVector<quint16> ports;
    // Parameters taken from the peers and written into the table.
    int inParams = 0;
    // Clock values sent to the peers every second.
    int outParams = 0;
    QByteArray attributes;
};

// A `deprotocolclient` tie "plant" as `layout` says, the table of what it
// received, and status metrics every second.
QByteArray configFor(const InstallationTree &tree, const Layout &layout)
{
    QByteArray text = "<config><misc><locale lang='en'/><times/><metrics file='../log/ferrox.prom' interval='1'/>"
                      "</misc><service/><deprotocolclient id='plant' "
        + layout.attributes + ">";
    if (layout.inParams > 0) {
        tree.writeConfig("in.csv", floatList(layout.inParams));
        text += "<csvlist file='in.csv' kks='0' index='1' type='2' direction='in'/>";
    }
    if (layout.outParams > 0) {
        QByteArray list = "kks,index,type\n";
        for (int i = 1; i <= layout.outParams; ++i)
            list += "@CURRENT_DATETIME_UTC," + QByteArray::number(i) + ",SDWORD\n";
        tree.writeConfig("out.csv", list);
        text += "<csvlist file='out.csv' kks='0' index='1' type='2' direction='out'/>";
    }
    for (quint16 port : layout.ports)
        text += "<connection host='127.0.0.1' port='" + QByteArray::number(port) + "'/>";
    text += "</deprotocolclient>";
    if (layout.inParams > 0)
        text += "<textfileout id='table' outfields='kks,value,validity'>"
                "<csvlist file='in.csv' kks='0' index='1' type='2' direction='out'/><outfile filename='"
            + QDir(tree.root()).filePath("table_%1.txt").toUtf8() + "'/></textfileout>";
    return text + "</config>";
}

QByteArray tableText(const InstallationTree &tree)
{
    QByteArray text;
    for (const QFileInfo &info : QDir(tree.root()).entryInfoList({"table_*.txt"}, QDir::Files, QDir::Name))
        text += readFile(info.filePath());
    return text;
}

// The last value the table holds for parameter `kks` ("value;validity"),
// empty when none.
QByteArray lastValue(const QByteArray &table, const QByteArray &kks)
{
    const QByteArray key = "\n" + kks + ";";
    const int at = table.lastIndexOf(key);
    if (at < 0)
        return QByteArray();
    const int start = at + key.size();
    return table.mid(start, table.indexOf('\n', start) - start);
}

// Parameters 1..`count` whose last value in the table is not `expected(i)`.
QStringList wrongValues(const QByteArray &table, int count, const std::function<float(int)> &expected)
{
    QStringList wrong;
    for (int i = 1; i <= count; ++i) {
        const QByteArray want = QByteArray::number(expected(i)) + ";+";
        const QByteArray got = lastValue(table, "P" + QByteArray::number(i));
        if (got != want)
            wrong << QStringLiteral("P%1=%2 (want %3)").arg(i).arg(QString::fromLatin1(got), QString::fromLatin1(want));
    }
    return wrong;
}

// The table tells its records apart by their second: a value updated in
// the second of a record already written reaches the file only with the
// next update. A marker parameter (`index`) sent over `socket` more than a
// second after the values makes them all reach the table; true once it is
// there.
bool flushTable(const InstallationTree &tree, QTcpSocket *socket, int index)
{
    QThread::msleep(1100);
    if (!socket)
        return false;
    socket->write(floatPack(static_cast<quint32>(index), {-7.5f}));
    socket->flush();
    return waitFor([&] { return lastValue(tableText(tree), "P" + QByteArray::number(index)) == "-7.5;+"; }, 10000);
}

qint64 residentBytes(qint64 pid)
{
    const QByteArray status = readFile(QStringLiteral("/proc/%1/status").arg(pid));
    const int at = status.indexOf("VmRSS:");
    if (at < 0)
        return -1;
    return status.mid(at + 6, status.indexOf('\n', at) - at - 6).replace("kB", "").trimmed().toLongLong() * 1024;
}

int descriptorCount(qint64 pid)
{
    return QDir(QStringLiteral("/proc/%1/fd").arg(pid))
        .entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)
        .size();
}

// The program as a service on its own tree, stopped at the end.
class DeFaults : public ::testing::Test
{
protected:
    InstallationTree tree;
    qint64 pid = 0;

    void TearDown() override { tree.run({"-t"}); }

    void start(const Layout &layout)
    {
        ASSERT_TRUE(tree.isValid());
        ASSERT_TRUE(tree.writeConfig("ferrox.cfg", configFor(tree, layout)));
        const InstallationTree::Run started = tree.run({});
        ASSERT_EQ(started.exitCode, 0) << started.err.constData();
        pid = tree.servicePid();
        ASSERT_NE(pid, 0);
    }
    QJsonObject status() const { return QJsonDocument::fromJson(tree.run({"-s"}).out).object(); }
    // The DE tie in the status.
    QJsonObject plant() const
    {
        for (const QJsonValue tie : status().value("ties").toArray())
            if (tie.toObject().value("id").toString() == QLatin1String("plant"))
                return tie.toObject();
        return QJsonObject();
    }
    QJsonObject counters() const { return plant().value("counters").toObject(); }
    double counter(const char *name) const { return counters().value(QLatin1String(name)).toDouble(); }
    QByteArray log() const { return tree.readLog(); }
};

} // namespace

// Every connection starts with a whole frame and then breaks off a second
// one at the next byte offset; over the connections every offset of the
// frame is cut, 0 (nothing sent) and the last checksum byte included. Each
// connection's whole frame must be read as it was sent: a rest of the
// broken one glued in front would fail a checksum or carry wrong values.
TEST_F(DeFaults, APeerThatDisconnectsAtEveryOffsetOfAFrameLosesNothingSentWhole)
{
    const int peers = 24;
    const QByteArray broken = floatPack(1, {-1.0f});
    const int offsets = broken.size();
    ASSERT_EQ(offsets, 96);
    const int rounds = (offsets + peers - 1) / peers;
    std::vector<std::unique_ptr<Peer>> servers;
    Layout layout;
    layout.inParams = peers + 1; // and the marker
    for (int k = 0; k < peers; ++k) {
        servers.emplace_back(new Peer);
        Peer *peer = servers.back().get();
        // Connection n of peer k: a whole frame for P<k+1> with value
        // 10 * n + k, then the broken frame cut at offset n * peers + k.
        // After the last offset a whole frame and the connection is kept.
        peer->onConnection = [=](QTcpSocket *socket, int n) {
            const QByteArray whole = floatPack(static_cast<quint32>(k + 1), {float(10 * n + k)});
            const int offset = n * peers + k;
            if (n < rounds && offset < offsets)
                sendAndClose(socket, whole + broken.left(offset));
            else if (n <= rounds)
                socket->write(whole);
        };
        peer->keepAlives = true;
        layout.ports.append(peer->port());
    }
    ASSERT_NO_FATAL_FAILURE(start(layout));
    // Each peer has one whole frame per connection.
    const auto done = [&] {
        for (const auto &peer : servers)
            if (peer->connections() <= rounds)
                return false;
        return true;
    };
    ASSERT_TRUE(waitFor(done, 30000)) << log().constData();
    const double frames = peers * (rounds + 1);
    ASSERT_TRUE(waitFor([&] { return counter("values_received") >= frames; }, 10000)) << log().constData();
    const QJsonObject c = counters();
    EXPECT_EQ(c.value("values_received").toDouble(), frames);
    ASSERT_FALSE(servers.front()->open().isEmpty());
    EXPECT_TRUE(flushTable(tree, servers.front()->open().first(), peers + 1)) << tableText(tree).right(2000).constData();
    EXPECT_EQ(c.value("checksum_failures").toDouble(), 0);
    EXPECT_EQ(c.value("frames_dropped").toDouble(), 0);
    // The table ends with the last whole frame of every peer.
    const auto last = [&](int i) { return float(10 * rounds + i - 1); };
    EXPECT_TRUE(waitFor([&] { return wrongValues(tableText(tree), peers, last).isEmpty(); }, 10000))
        << qPrintable(wrongValues(tableText(tree), peers, last).join(' '));
    EXPECT_FALSE(log().contains("checksum"));
}

// A long stream of many packs arrives one byte per write: every value is
// taken, once, and none from a pack read in pieces is wrong.
TEST_F(DeFaults, ALongStreamSentOneBytePerWriteArrivesWhole)
{
    const int params = 2000;
    const int perPack = 20;
    const auto valueOf = [](int i) { return float(i) * 0.5f + 1000.0f; };
    QByteArray stream;
    for (int first = 1; first <= params; first += perPack) {
        QVector<float> values;
        for (int i = first; i < first + perPack; ++i)
            values.append(valueOf(i));
        stream += floatPack(static_cast<quint32>(first), values);
    }
    Peer peer;
    QPointer<QTcpSocket> connection;
    peer.onConnection = [&](QTcpSocket *socket, int n) {
        if (n == 0) {
            socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
            connection = socket;
        }
    };
    Layout layout;
    layout.ports = {peer.port()};
    layout.inParams = params + 1; // and the marker
    // The peer goes quiet after the stream: no timeout meanwhile.
    layout.attributes = "protocol_timeout='60000'";
    ASSERT_NO_FATAL_FAILURE(start(layout));
    ASSERT_TRUE(waitFor([&] { return !connection.isNull(); }, 15000)) << log().constData();
    // A byte per write, flushed at once, with a pause after each so that
    // the gateway mostly reads them one by one.
    QDeadlineTimer deadline(60000);
    for (int i = 0; i < stream.size() && connection && !deadline.hasExpired(); ++i) {
        connection->write(stream.constData() + i, 1);
        connection->flush();
        QThread::usleep(20);
        if (i % 64 == 0)
            QCoreApplication::processEvents();
    }
    ASSERT_TRUE(connection) << "the gateway closed the connection\n" << log().constData();
    ASSERT_TRUE(waitFor([&] { return counter("values_received") >= params; }, 15000)) << log().constData();
    const QJsonObject c = counters();
    EXPECT_EQ(c.value("values_received").toDouble(), params);
    EXPECT_EQ(c.value("frames_in").toDouble(), params / perPack);
    EXPECT_EQ(c.value("bytes_in").toDouble(), stream.size());
    EXPECT_EQ(c.value("reconnects").toDouble(), 0);
    EXPECT_TRUE(flushTable(tree, connection, params + 1));
    EXPECT_TRUE(waitFor([&] { return wrongValues(tableText(tree), params, valueOf).isEmpty(); }, 10000))
        << qPrintable(wrongValues(tableText(tree), params, valueOf).mid(0, 20).join(' '));
}

// A peer that sends part of a frame header and then nothing, for ever:
// the timeout closes the connection and says that a frame was left
// unfinished, the cycle keeps its pace meanwhile, and the next connection
// delivers.
TEST_F(DeFaults, APeerHoldingAPartialHeaderIsTimedOutAndTheNextConnectionWorks)
{
    Peer peer;
    peer.onConnection = [&](QTcpSocket *socket, int n) {
        const QByteArray frame = floatPack(1, {float(n) + 0.25f});
        socket->write(n == 0 ? frame.left(13) : frame);
    };
    Layout layout;
    layout.ports = {peer.port()};
    layout.inParams = 1;
    ASSERT_NO_FATAL_FAILURE(start(layout));
    ASSERT_TRUE(waitFor([&] { return peer.connections() >= 2; }, 15000)) << log().constData();
    EXPECT_TRUE(waitFor([&] { return lastValue(tableText(tree), "P1") == "1.25;+"; }, 10000)) << tableText(tree).constData();
    const QByteArray endpoint = "127.0.0.1:" + QByteArray::number(peer.port());
    EXPECT_TRUE(log().contains("Connection to " + endpoint + " closed due timeout with an unfinished frame (13 bytes "
                               "of it received). Trying reconnect"))
        << log().constData();
    const QJsonObject cycle = status().value("cycle").toObject();
    EXPECT_GE(cycle.value("ticks").toDouble(), 8);
    EXPECT_EQ(cycle.value("overruns").toDouble(), 0);
    EXPECT_EQ(counter("checksum_failures"), 0);
}

// Thousands of connections that the peer takes and closes at once leave
// neither descriptors nor memory behind: the counts with every connection
// up are the same before and after.
TEST_F(DeFaults, TwoThousandConnectCloseCyclesLeaveDescriptorsAndMemoryAsTheyWere)
{
    const int connections = 100;
    const int cycles = 2000;
    Peer peer;
    bool holding = true;
    int closed = 0;
    peer.keepAlives = true;
    peer.onConnection = [&](QTcpSocket *socket, int) {
        if (!holding) {
            ++closed;
            socket->abort();
            socket->deleteLater();
        }
    };
    Layout layout;
    layout.ports = QVector<quint16>(connections, peer.port());
    layout.inParams = 1;
    layout.attributes = "protocol_timeout='60000'";
    ASSERT_NO_FATAL_FAILURE(start(layout));
    const auto allUp = [&] { return peer.open().size() == connections; };
    ASSERT_TRUE(waitFor(allUp, 15000)) << log().constData();
    // A first round of cycles settles what the program allocates once.
    const auto cycleUntil = [&](int count) {
        holding = false;
        for (QTcpSocket *socket : peer.open()) {
            ++closed;
            socket->abort();
            socket->deleteLater();
        }
        const bool ok = waitFor([&] { return closed >= count; }, 60000);
        holding = true;
        return ok && waitFor(allUp, 15000);
    };
    ASSERT_TRUE(cycleUntil(200));
    const int descriptors = descriptorCount(pid);
    [[maybe_unused]] const qint64 resident = residentBytes(pid);
    ASSERT_TRUE(cycleUntil(200 + cycles)) << closed << " cycles\n" << log().constData();
    EXPECT_TRUE(waitFor([&] { return descriptorCount(pid) == descriptors; }, 5000))
        << descriptorCount(pid) << " descriptors, " << descriptors << " before";
#ifndef __SANITIZE_ADDRESS__
    EXPECT_LT(residentBytes(pid) - resident, 2 * 1024 * 1024) << resident << " bytes resident before";
#endif
    EXPECT_GE(counter("reconnects"), cycles);
    EXPECT_EQ(status().value("cycle").toObject().value("overruns").toDouble(), 0);
}

// A peer that stops reading while the program sends it thousands of values
// a second: what waits for it stays within the bound, what is dropped is
// counted and said once in the log however often the connection is cut,
// and once the peer reads again the values flow again.
TEST_F(DeFaults, APeerThatStopsReadingBoundsWhatWaitsAndCountsWhatIsDropped)
{
    const qint64 limit = 1024 * 1024;
    Peer peer;
    peer.shrinkReceiveWindow();
    peer.keepAlives = true;
    bool reading = true;
    QByteArray received;
    int readingConnections = 0;
    peer.onConnection = [&](QTcpSocket *socket, int) {
        if (!reading) {
            socket->setReadBufferSize(1);
            return;
        }
        ++readingConnections;
        // Once stalled, this connection takes nothing either.
        QObject::connect(socket, &QTcpSocket::readyRead, socket, [&, socket] {
            if (reading)
                received += socket->readAll();
        });
    };
    Layout layout;
    layout.ports = {peer.port()};
    layout.outParams = 50000;
    layout.attributes = "pending_write_limit='" + QByteArray::number(limit) + "'";
    ASSERT_NO_FATAL_FAILURE(start(layout));
    const auto packs = [&] {
        int n = 0;
        size_t offset = 0;
        for (;;) {
            const DEFrameScan scan = scanDEFrame(received.constData() + offset, received.size() - offset);
            if (scan.result != DEFrameScan::Complete)
                return n;
            if (deWord(received.constData() + offset) == DEFrame::ModuleParamPack)
                ++n;
            offset += scan.frameBytes;
        }
    };
    ASSERT_TRUE(waitFor([&] { return packs() >= 3; }, 20000)) << log().constData();
    [[maybe_unused]] const qint64 baseline = residentBytes(pid);

    // Stalled: this connection and every later one take nothing.
    reading = false;
    for (QTcpSocket *socket : peer.open())
        socket->setReadBufferSize(1);
    const int before = peer.connections();
    qint64 peak = 0;
    ASSERT_TRUE(waitFor(
        [&] {
            peak = qMax(peak, residentBytes(pid));
            return peer.connections() >= before + 3;
        },
        40000))
        << log().constData();
    const double unsent = counter("bytes_unsent");
    EXPECT_GE(unsent, 3 * limit);
    // Lines of their own: a summary of repeats may follow.
    const QByteArray stallText = "closed: the peer does not take what is sent (more than " + QByteArray::number(limit)
        + " bytes wait to be written)\n";
    EXPECT_EQ(log().count(stallText), 1) << log().constData();
    EXPECT_TRUE(plant().value("delivery_failing").toBool());
#ifndef __SANITIZE_ADDRESS__
    EXPECT_LT(peak - baseline, limit + 4 * 1024 * 1024) << baseline << " bytes resident before";
#endif

    // Reading again: the next connection gets the values, and the stall ends.
    received.clear();
    reading = true;
    for (QTcpSocket *socket : peer.open())
        socket->abort();
    EXPECT_TRUE(waitFor([&] { return packs() >= 3; }, 20000)) << log().constData();
    EXPECT_TRUE(waitFor([&] { return log().contains("the peer takes what is sent again"); }, 15000))
        << log().constData();
    EXPECT_EQ(log().count(stallText), 1);
    EXPECT_FALSE(plant().value("delivery_failing").toBool());
    EXPECT_EQ(counter("bytes_unsent"), unsent);
    EXPECT_EQ(status().value("cycle").toObject().value("overruns").toDouble(), 0);
}
