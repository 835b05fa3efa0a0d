#include "links/de/qdepackprocessor.h"
#include "links/de/qdeprotocol.h"
#include "links/de/qdesocket.h"

#include "core/tiecounters.h"
#include "gateway/links/de/detestsupport.h"
#include "support/fixedclock.h"
#include "support/fullacceptqueue.h"
#include "support/logcapture.h"
#include "support/messagecapture.h"

#include <QTimer>

#include <gtest/gtest.h>

#include <memory>

namespace {

// Takes every frame the protocol hands on.
class FrameRecorder : public QDEPackProcessorBase
{
public:
    QVector<QByteArray> frames;
    quint32 module() const override { return 0xFFFFFFFFu; }
    void slotPacketReceived(const QByteArray &pack) override { frames.append(pack); }
};

// A protocol connecting to a test peer on a fixed clock. The shared timer
// is stopped: the tests tick the sockets themselves.
struct DESocket_ : ::testing::Test {
    MessageCapture messages;
    LogCapture log;
    FixedClock clock{utc(2024, 5, 1, 12)};
    TestPeer peer;
    TieCounters counters;
    FrameRecorder recorder;
    QDEProtocol protocol;
    QStringList operatorMessages;
    int lost = 0;

    DESocket_()
    {
        protocol.setCounters(&counters);
        protocol.setDefaultProcessor(&recorder);
        QObject::connect(&protocol, &QDEProtocol::signalMsgForProtocol,
                         [this](const QString &msg) { operatorMessages.append(msg); });
        QObject::connect(&protocol, &QDEProtocol::signalLostAllConnections, [this] { ++lost; });
    }

    QString endpoint() const { return QStringLiteral("127.0.0.1:%1").arg(peer.port()); }
    // A new connection of the protocol, up on both ends.
    QDESocket *connectSocket()
    {
        const int index = protocol.addConnection(QStringLiteral("127.0.0.1"), peer.port());
        QDESocket *socket = protocol.sockets().at(index);
        QDESocket::tickTimer()->stop();
        const bool up = waitUntil([&] {
            return socket->state() == QAbstractSocket::ConnectedState && peer.connections() > index;
        });
        EXPECT_TRUE(up);
        return socket;
    }
    bool waitUnconnected(QDESocket *socket)
    {
        return waitUntil([&] { return socket->state() == QAbstractSocket::UnconnectedState; });
    }
    int keepalivesAtPeer(int i = 0) const { return peer.frames(i, DEFrame::ModuleKeepAlive).size(); }
};

} // namespace

TEST_F(DESocket_, KeepalivesFollowTheMonotonicClockNotTheWallClock)
{
    QDESocket *socket = connectSocket();
    EXPECT_TRUE(operatorMessages.contains("Connected to " + endpoint()));
    socket->slotTick(); // nothing written yet: a keepalive at once
    socket->slotTick();
    clock.advance(1500);
    socket->slotTick();
    ASSERT_TRUE(waitUntil([&] { return keepalivesAtPeer() == 1; }));
    clock.advance(1);
    socket->slotTick();
    ASSERT_TRUE(waitUntil([&] { return keepalivesAtPeer() == 2; }));
    EXPECT_EQ(peer.frames(0).first(), deKeepAliveFrame());

    // An hour's step back of the wall clock stops neither the keepalives
    // nor the watch for a silent peer.
    peer.send(deKeepAliveFrame());
    ASSERT_TRUE(waitUntil([&] { return recorder.frames.size() == 1; }));
    clock.set(clock.now().addSecs(-3600));
    clock.advance(1501);
    socket->slotTick();
    EXPECT_TRUE(waitUntil([&] { return keepalivesAtPeer() == 3; }));
    clock.advance(1500);
    socket->slotTick();
    EXPECT_TRUE(waitUnconnected(socket));
}

TEST_F(DESocket_, ASilentPeerIsDroppedAfterTheTimeoutAndTheClientConnectsAgain)
{
    QDESocket *socket = connectSocket();
    clock.advance(2000);
    peer.send(deKeepAliveFrame());
    ASSERT_TRUE(waitUntil([&] { return recorder.frames.size() == 1; }));
    clock.advance(3000);
    socket->slotTick(); // 3000 ms since the last arrival: not yet
    EXPECT_EQ(socket->state(), QAbstractSocket::ConnectedState);
    clock.advance(1);
    socket->slotTick();
    EXPECT_EQ(socket->state(), QAbstractSocket::UnconnectedState);
    EXPECT_TRUE(operatorMessages.contains("Connection to " + endpoint() + " closed due timeout. Trying reconnect"));
    EXPECT_EQ(lost, 1);

    socket->slotTick();
    EXPECT_TRUE(waitUntil([&] { return peer.connections() == 2 && socket->state() == QAbstractSocket::ConnectedState; }));
    EXPECT_EQ(counters.reconnects, 1u);
}

TEST_F(DESocket_, APeerThatClosesLeavesNothingBehindForTheNextConnection)
{
    QDESocket *socket = connectSocket();
    peer.send(deKeepAliveFrame().left(20));
    ASSERT_TRUE(waitUntil([&] { return socket->receiveBuffer().size() == 20; }));
    peer.close(0);
    ASSERT_TRUE(waitUnconnected(socket));
    EXPECT_TRUE(socket->receiveBuffer().isEmpty());
    EXPECT_EQ(lost, 1);
    EXPECT_TRUE(operatorMessages.contains("Connection to " + endpoint() + " closed"));

    socket->slotTick();
    ASSERT_TRUE(waitUntil([&] { return peer.connections() == 2 && socket->state() == QAbstractSocket::ConnectedState; }));
    peer.send(deKeepAliveFrame(), 1);
    EXPECT_TRUE(waitUntil([&] { return recorder.frames.size() == 1; }));
}

TEST_F(DESocket_, FramesAreHandedOnWholeHoweverTheyArrive)
{
    QDESocket *socket = connectSocket();
    const QByteArray pack = RawPack().param(1, RawPack::floatBytes(2.0f)).frame();
    peer.send(pack + deKeepAliveFrame());
    ASSERT_TRUE(waitUntil([&] { return recorder.frames.size() == 2; }));
    EXPECT_EQ(recorder.frames[0], pack);
    EXPECT_EQ(recorder.frames[1], deKeepAliveFrame());

    for (int i = 0; i < pack.size(); ++i) {
        peer.send(pack.mid(i, 1));
        ASSERT_TRUE(waitUntil([&] { return socket->receiveBuffer().size() == i + 1 || recorder.frames.size() == 3; }));
    }
    ASSERT_EQ(recorder.frames.size(), 3);
    EXPECT_EQ(recorder.frames[2], pack);

    // Thirty thousand keepalives in one write.
    QByteArray many;
    for (int i = 0; i < 30000; ++i)
        many += deKeepAliveFrame();
    peer.send(many);
    EXPECT_TRUE(waitUntil([&] { return recorder.frames.size() == 30003; }, 20000));
    EXPECT_TRUE(socket->receiveBuffer().isEmpty());
    EXPECT_EQ(counters.framesIn, 30003u);
}

TEST_F(DESocket_, ProtocolErrorsCloseTheConnectionAndNothingAfterThemIsHandedOn)
{
    const QByteArray good = deKeepAliveFrame();
    QByteArray badHeader = buildDEFrame(7, "body");
    badHeader[2] = '\x55';
    QByteArray badBody = buildDEFrame(7, "body");
    badBody[33] = '\x55';
    QByteArray tooLong = QByteArray(24, '\0') + RawPack::word(0xFFFFFFFFu);
    tooLong += RawPack::word(qChecksum(tooLong.constData(), 28));
    struct Row {
        QByteArray bad;
        const char *logLine;
    };
    const Row rows[] = {
        {badHeader, "a frame header failed its checksum"},
        {badBody, "a frame failed its checksum"},
        {tooLong, "a frame announced a body longer than 16777216 bytes"},
    };
    int index = 0;
    for (const Row &row : rows) {
        SCOPED_TRACE(row.logLine);
        QDESocket *socket = connectSocket();
        recorder.frames.clear();
        peer.send(good + row.bad + good, index++);
        ASSERT_TRUE(waitUnconnected(socket));
        EXPECT_EQ(recorder.frames.size(), 1);
        EXPECT_TRUE(socket->receiveBuffer().isEmpty());
        EXPECT_TRUE(log.contains("Connection to " + endpoint() + " closed: " + row.logLine))
            << qPrintable(log.lines().join('\n'));
    }
    EXPECT_EQ(counters.checksumFailures, 2u);
    EXPECT_EQ(counters.framesDropped, 1u);
}

TEST_F(DESocket_, APeerThatStopsReadingIsCutOffAtTheWriteBound)
{
    protocol.setMaxPendingWriteBytes(1024 * 1024);
    QDESocket *socket = connectSocket();
    QDESocket *other = connectSocket();
    peer.stopReading();
    const QByteArray frame = buildDEFrame(7, QByteArray(64 * 1024, 'x'));
    for (int i = 0; i < 4000 && socket->state() == QAbstractSocket::ConnectedState; ++i) {
        socket->beginSend();
        socket->sendFrame(frame);
        QCoreApplication::processEvents();
    }
    EXPECT_EQ(socket->state(), QAbstractSocket::UnconnectedState);
    EXPECT_TRUE(log.contains("Connection to " + endpoint()
                             + " closed: the peer does not take what is sent (more than 1048576 bytes wait to be "
                               "written)"));
    EXPECT_EQ(other->state(), QAbstractSocket::ConnectedState);
    // What waited and the refused frame are counted as unsent.
    EXPECT_GT(counters.bytesUnsent, quint64(1024 * 1024));
    EXPECT_LE(counters.bytesUnsent, quint64(1024 * 1024 + frame.size()));
}

// The frames of one send cannot have left yet when the next is written:
// a send longer than the bound goes whole to a peer that reads.
TEST_F(DESocket_, ASendLongerThanTheWriteBoundGoesWhenNothingEarlierWaits)
{
    protocol.setMaxPendingWriteBytes(64 * 1024);
    QDESocket *socket = connectSocket();
    const QByteArray frame = buildDEFrame(7, QByteArray(256 * 1024, 'y'));
    socket->beginSend();
    EXPECT_EQ(socket->sendFrame(frame), frame.size());
    EXPECT_EQ(socket->sendFrame(frame), frame.size());
    ASSERT_TRUE(waitUntil([&] { return peer.frames(0, 7).size() == 2; }));
    EXPECT_EQ(peer.frames(0, 7).first(), frame);
    EXPECT_EQ(socket->state(), QAbstractSocket::ConnectedState);
    EXPECT_EQ(counters.bytesUnsent, 0u);

    // A new connection's first send (its snapshot) still waiting is no
    // stall at the next send (that cut it and sent it again on every
    // reconnect); past it, the bound holds.
    QDESocket *fresh = connectSocket();
    peer.stopReading();
    const QByteArray snapshot = buildDEFrame(7, QByteArray(8 << 20, 's'));
    EXPECT_EQ(fresh->sendFrame(snapshot), snapshot.size());
    QCoreApplication::processEvents();
    fresh->beginSend();
    EXPECT_EQ(fresh->sendFrame(frame), frame.size());
    for (int i = 0; i < 100 && fresh->state() == QAbstractSocket::ConnectedState; ++i) {
        fresh->beginSend();
        fresh->sendFrame(frame);
    }
    EXPECT_NE(fresh->state(), QAbstractSocket::ConnectedState);
}

TEST_F(DESocket_, ASocketStuckClosingIsAbortedAfterTheTimeout)
{
    QDESocket *socket = connectSocket();
    peer.stopReading();
    socket->sendFrame(QByteArray(48 * 1024 * 1024, 'x'));
    for (int i = 0; i < 20; ++i)
        QCoreApplication::processEvents();
    socket->disconnectFromHost();
    ASSERT_EQ(socket->state(), QAbstractSocket::ClosingState);
    clock.advance(3000);
    socket->slotTick();
    EXPECT_EQ(socket->state(), QAbstractSocket::ClosingState);
    clock.advance(1);
    socket->slotTick();
    EXPECT_EQ(socket->state(), QAbstractSocket::UnconnectedState);
    EXPECT_EQ(lost, 1);
}

TEST_F(DESocket_, AllConnectionsAreLostOnlyWhenTheLastConnectedOneCloses)
{
    QDESocket *first = connectSocket();
    QDESocket *second = connectSocket();
    EXPECT_EQ(protocol.connectedCount(), 2);
    peer.close(0);
    ASSERT_TRUE(waitUnconnected(first));
    EXPECT_EQ(lost, 0);
    EXPECT_EQ(protocol.connectionState(0), int(QAbstractSocket::UnconnectedState));
    peer.close(1);
    ASSERT_TRUE(waitUnconnected(second));
    EXPECT_EQ(lost, 1);
    EXPECT_EQ(protocol.connectionState(5), 0);
}

TEST_F(DESocket_, TheSharedTimerLivesAsLongAsAnySocket)
{
    auto first = std::make_unique<QDESocket>(QStringLiteral("127.0.0.1"), peer.port());
    QTimer *timer = QDESocket::tickTimer();
    ASSERT_NE(timer, nullptr);
    auto second = std::make_unique<QDESocket>(QStringLiteral("127.0.0.1"), peer.port());
    ASSERT_TRUE(waitUntil([&] { return second->state() == QAbstractSocket::ConnectedState && peer.connections() == 2; }));
    first.reset();
    EXPECT_EQ(QDESocket::tickTimer(), timer);
    EXPECT_TRUE(timer->isActive());
    // The timer still drives the second socket: its first tick sends a keepalive.
    EXPECT_TRUE(waitUntil([&] { return keepalivesAtPeer(1) == 1; }, 3000));
    second.reset();
    EXPECT_EQ(QDESocket::tickTimer(), nullptr);
}

// A peer switched off refuses some attempts and leaves others unanswered:
// one streak, not a line each time the reason changes.
TEST_F(DESocket_, FailedAttemptsAreOneStreakWhateverTheReason)
{
    QTcpServer closed;
    ASSERT_TRUE(closed.listen(QHostAddress::LocalHost));
    const quint16 port = closed.serverPort();
    closed.close();
    QDESocket *socket = protocol.sockets().at(protocol.addConnection(QStringLiteral("127.0.0.1"), port));
    QDESocket::tickTimer()->stop();
    ASSERT_TRUE(waitUntil([&] { return messages.warnings().size() == 1; }));

    // An attempt to a listener whose accept queue is full is never answered.
    FullAcceptQueue full(port);
    ASSERT_TRUE(full.isValid());
    socket->slotTick();
    ASSERT_TRUE(waitUntil([&] { return socket->state() == QAbstractSocket::ConnectingState; }));
    socket->slotTick();
    clock.advance(3001);
    socket->slotTick();
    EXPECT_EQ(socket->state(), QAbstractSocket::UnconnectedState);
    full.close();

    socket->slotTick(); // refused again
    ASSERT_TRUE(waitUnconnected(socket));

    // A peer that accepts and drops at once (restarting over and over)
    // does not end the streak either.
    QTcpServer flapping;
    ASSERT_TRUE(flapping.listen(QHostAddress::LocalHost, port));
    socket->slotTick();
    ASSERT_TRUE(waitUntil([&] { return flapping.hasPendingConnections(); }));
    flapping.nextPendingConnection()->abort();
    ASSERT_TRUE(waitUnconnected(socket));
    flapping.close();
    socket->slotTick();
    ASSERT_TRUE(waitUnconnected(socket));
    EXPECT_EQ(messages.warnings().filter("Cannot connect to 127.0.0.1:" + QString::number(port)).size(), 1)
        << qPrintable(messages.warnings().join('\n'));
}
