#include "links/de/deprotocolclienttie.h"
#include "links/de/qdeprotocol.h"
#include "links/de/qdesocket.h"

#include "core/basetieparam.h"
#include "core/basetieunit.h"
#include "gateway/links/de/detestsupport.h"
#include "gateway/links/tiefixture.h"

#include <dpdatatype.h>

#include <QTimer>

#include <gtest/gtest.h>

#include <cstring>
#include <ostream>

namespace {

// One parameter as a peer received it.
struct Received {
    quint32 index;
    QByteArray value;
    QDateTime time;
};

// The parameters of a pack, or nothing when it is not one.
QVector<Received> readPack(const QByteArray &frame, quint32 *type = nullptr, QDateTime *common = nullptr)
{
    QVector<Received> out;
    DEParamPackReader reader;
    if (reader.readHeader(frame.constData(), static_cast<size_t>(frame.size())) != DEParamPackReader::Ok)
        return out;
    const auto at = [](quint32 s, quint32 ms) { return QDateTime::fromMSecsSinceEpoch(qint64(s) * 1000 + ms, Qt::UTC); };
    if (type)
        *type = reader.dataType();
    if (common)
        *common = at(reader.header().commonSeconds, reader.header().commonMsecs);
    const size_t bytes = static_cast<size_t>(DPDataTypeElementSize(int(reader.dataType())));
    reader.begin(bytes);
    DEPackParam p;
    while (reader.next(p) == DEParamPackReader::Param)
        out.append({p.index, QByteArray(reinterpret_cast<const char *>(p.value), int(bytes)), at(p.seconds, p.msecs)});
    return out;
}

QByteArray signedValue(float value, quint32 sign)
{
    return RawPack::floatBytes(value) + RawPack::word(sign);
}

// Two DE ties loaded through the program's loader: "plant" takes values
// from the plant peer, "control" sends what is converted from them to the
// control peer. The clock is fixed and the sockets' timer stopped; the
// tests tick.
struct DETie_ : TieFixture {
    TestPeer plant;
    TestPeer control;

    DETie_()
    {
        write("plant.csv", "index,type,kks\n1,FLOATVALID,TEMP\n2,SDWORDSTATE,PUMP\n3,FLOAT,LEVEL\n");
        write("plant2.csv", "index,type,kks\n1,FLOATVALID,TEMP_COPY\n");
        write("control.csv", "index,type,kks\n10,FLOATVALID,TEMP\n11,SDWORDSTATE,PUMP\n12,FLOATVALID,TEMP_COPY\n"
                             "13,FLOAT,LEVEL\n");
        write("both.csv", "index,type,kks\n20,FLOAT,ECHO\n");
    }

    QByteArray connection(const TestPeer &peer) const
    {
        return "<connection host='127.0.0.1' port='" + QByteArray::number(peer.port()) + "'/>";
    }
    bool load(const QByteArray &body)
    {
        const bool ok = TieFixture::load(body);
        if (QDESocket::tickTimer())
            QDESocket::tickTimer()->stop();
        return ok;
    }
    // Both ties loaded and connected; the control peer's snapshot taken.
    void loadBoth()
    {
        ASSERT_TRUE(load("<deprotocolclient id='plant'>"
                         "<csvlist file='plant.csv' index='0' type='1' kks='2' direction='in'/>"
                         "<csvlist file='plant2.csv' index='0' type='1' kks='2' direction='in'/>"
                         + connection(plant)
                         + "</deprotocolclient><deprotocolclient id='control'>"
                           "<csvlist file='control.csv' index='0' type='1' kks='2' direction='out'/>"
                           "<csvlist file='both.csv' index='0' type='1' kks='2' direction='both'/>"
                         + connection(control) + "</deprotocolclient>"));
        ASSERT_TRUE(waitUntil([&] {
            return tie(0)->connectedCount() == 1 && tie(1)->connectedCount() == 1 && plant.connections() == 1
                && control.connections() == 1;
        }));
        ASSERT_TRUE(waitUntil([&] { return control.frames(0, DEFrame::ModuleParamPack).size() == 3; }));
        control.clearReceived();
        // The control peer speaks too: its tie is up.
        control.send(deKeepAliveFrame());
        ASSERT_TRUE(waitUntil([&] { return tie(1)->state() == 0; }));
    }
    DEProtocolClientTie *tie(int i) const { return qobject_cast<DEProtocolClientTie *>(config.ties().value(i)); }
    QDESocket *socket(int i) const { return tie(i)->protocol()->sockets().first(); }
    // The plant peer sends TEMP (FLOATVALID 1) and waits until the tie took it.
    void sendTemp(float value, quint32 seconds = 1714564801, quint32 msecs = 500)
    {
        RawPack pack;
        pack.type = dpdtFloatValid;
        pack.param(1, signedValue(value, 1), seconds, msecs);
        const quint64 before = tie(0)->counters().valuesReceived;
        plant.send(pack.frame());
        ASSERT_TRUE(waitUntil([&] { return tie(0)->counters().valuesReceived > before; }));
    }
    // The consumer of TEMP in the control tie.
    BaseTieParam *consumer(int i) const { return tie(1)->units().first()->params().value(i); }
    static float floatOf(const BaseTieParam *p)
    {
        float f = 0;
        std::memcpy(&f, p->values(), 4);
        return f;
    }
};

} // namespace

TEST_F(DETie_, ValuesOfOnePeerReachAnotherTieAndGoOutOnePackPerType)
{
    loadBoth();
    RawPack pump;
    pump.type = dpdtSDWordState;
    pump.param(2, RawPack::word(5) + RawPack::word(0), 1714564802, 0);
    plant.send(pump.frame());
    sendTemp(21.5f);
    tick();
    EXPECT_FLOAT_EQ(floatOf(consumer(0)), 21.5f);
    EXPECT_TRUE(consumer(0)->isValid(0));
    // The second list holding the same type and index got the value too.
    EXPECT_FLOAT_EQ(floatOf(consumer(2)), 21.5f);

    ASSERT_TRUE(waitUntil([&] { return control.frames(0, DEFrame::ModuleParamPack).size() == 3; }));
    const QVector<QByteArray> frames = control.frames(0, DEFrame::ModuleParamPack);
    quint32 type = 0;
    QDateTime common;
    const QVector<Received> temps = readPack(frames[0], &type, &common);
    EXPECT_EQ(type, quint32(dpdtFloatValid));
    EXPECT_EQ(common, utc(2024, 5, 1, 12, 0, 1, 500));
    ASSERT_EQ(temps.size(), 2);
    EXPECT_EQ(temps[0].index, 10u);
    EXPECT_EQ(temps[1].index, 12u);
    EXPECT_EQ(temps[0].value, signedValue(21.5f, 1));
    EXPECT_EQ(temps[0].time, utc(2024, 5, 1, 12, 0, 1, 500));
    const QVector<Received> pumps = readPack(frames[1], &type);
    EXPECT_EQ(type, quint32(dpdtSDWordState));
    ASSERT_EQ(pumps.size(), 1);
    EXPECT_EQ(pumps[0].value, RawPack::word(5) + RawPack::word(0));
    // LEVEL was never received: its invalid value goes out stamped now.
    const QVector<Received> levels = readPack(frames[2], &type);
    ASSERT_EQ(levels.size(), 1);
    EXPECT_EQ(levels[0].time, clock.now());
    EXPECT_EQ(tie(1)->counters().valuesSent, 4u + 4u); // the snapshot and the tick
    EXPECT_EQ(tie(0)->counters().valuesReceived, 2u);

    // Nothing converted, nothing sent.
    control.clearReceived();
    tick();
    QCoreApplication::processEvents();
    EXPECT_TRUE(control.frames(0, DEFrame::ModuleParamPack).isEmpty());
}

// A unit's own stamp is no conversion's target: it went out only in the
// snapshot of a new connection, never with the values it stamps.
TEST_F(DETie_, TheUnitsStampGoesWithItsValues)
{
    write("stamped.csv", "index,type,kks\n10,FLOATVALID,TEMP\n30,DWORD,STAMP\n");
    ASSERT_TRUE(load("<deprotocolclient id='plant'><csvlist file='plant.csv' index='0' type='1' kks='2' "
                     "direction='in'/>" + connection(plant) + "</deprotocolclient><deprotocolclient id='control'>"
                     "<csvlist file='stamped.csv' index='0' type='1' kks='2' direction='out' timepoint='STAMP' "
                     "timepointtype='unixtime' timepointupdate='send'/>" + connection(control) + "</deprotocolclient>"));
    ASSERT_TRUE(waitUntil([&] { return tie(0)->connectedCount() == 1 && tie(1)->connectedCount() == 1; }));
    ASSERT_TRUE(waitUntil([&] { return control.frames(0, DEFrame::ModuleParamPack).size() == 2; }));
    control.clearReceived();
    clock.advance(5000);
    sendTemp(21.5f);
    tick();
    ASSERT_TRUE(waitUntil([&] { return control.frames(0, DEFrame::ModuleParamPack).size() == 2; }));
    const QVector<Received> stamps = readPack(control.frames(0, DEFrame::ModuleParamPack)[1]);
    ASSERT_EQ(stamps.size(), 1);
    EXPECT_EQ(stamps[0].index, 30u);
    EXPECT_EQ(stamps[0].value, RawPack::word(static_cast<quint32>(clock.now().toSecsSinceEpoch())));
}

TEST_F(DETie_, ANewConnectionGetsTheCurrentValuesAtOnce)
{
    loadBoth();
    sendTemp(30.0f);
    tick();
    control.close(0);
    ASSERT_TRUE(waitUntil([&] { return tie(1)->connectedCount() == 0; }));
    EXPECT_TRUE(log.contains(QStringLiteral("Connection to 127.0.0.1:%1 closed").arg(control.port())));
    // Converted while nobody listens: sent to nobody, not kept.
    sendTemp(31.0f);
    tick();
    socket(1)->slotTick();
    ASSERT_TRUE(waitUntil([&] { return control.connections() == 2 && tie(1)->connectedCount() == 1; }));
    ASSERT_TRUE(waitUntil([&] { return control.frames(1, DEFrame::ModuleParamPack).size() == 3; }));
    const QVector<Received> temps = readPack(control.frames(1, DEFrame::ModuleParamPack).first());
    ASSERT_EQ(temps.size(), 2);
    EXPECT_EQ(temps[0].value, signedValue(31.0f, 1));
    // A list of both directions is never sent, so neither at a connection.
    for (const QByteArray &frame : control.frames(1, DEFrame::ModuleParamPack))
        for (const Received &r : readPack(frame))
            EXPECT_NE(r.index, 20u);
    EXPECT_EQ(tie(1)->counters().reconnects, 1u);
}

TEST_F(DETie_, APeerThatDropsEveryConnectionIsLoggedOncePerStreak)
{
    loadBoth();
    const QString connected = QStringLiteral("Connected to 127.0.0.1:%1").arg(control.port());
    const QString closed = QStringLiteral("Connection to 127.0.0.1:%1 closed").arg(control.port());
    int peers = 1;
    const auto dropAndReconnect = [&] {
        control.close(peers - 1);
        ASSERT_TRUE(waitUntil([&] { return tie(1)->connectedCount() == 0; }));
        socket(1)->slotTick();
        ++peers;
        ASSERT_TRUE(waitUntil([&] { return control.connections() == peers && tie(1)->connectedCount() == 1; }));
    };
    for (int i = 0; i < 3; ++i)
        dropAndReconnect();
    EXPECT_EQ(log.lines().count(connected), 1);
    EXPECT_EQ(log.lines().count(closed), 1);
    // A minute without them ends the streaks with their counts.
    clock.advance(BaseDEProtocolTie::FaultQuietMsecs);
    tick();
    EXPECT_TRUE(log.contains(connected + " (repeated 3 times)")) << qPrintable(log.lines().join('\n'));
    EXPECT_TRUE(log.contains(closed + " (repeated 2 times)"));

    // A connection that delivers for a protocol timeout ends a streak too:
    // the next loss is news again.
    dropAndReconnect();
    EXPECT_EQ(log.lines().count(closed), 2);
    clock.advance(3000);
    control.send(deKeepAliveFrame(), peers - 1);
    ASSERT_TRUE(waitUntil([&] { return tie(1)->counters().framesIn >= 2; }));
    control.close(peers - 1);
    ASSERT_TRUE(waitUntil([&] { return tie(1)->connectedCount() == 0; }));
    EXPECT_EQ(log.lines().count(closed), 3);

    // A peer that stalls mid-frame at a different byte each time is one
    // streak too, logged with the first count.
    socket(1)->slotTick();
    for (int bytes = 10; bytes < 13; ++bytes) {
        ++peers;
        ASSERT_TRUE(waitUntil([&] { return control.connections() == peers && tie(1)->connectedCount() == 1; }));
        const quint64 before = tie(1)->counters().bytesIn;
        control.send(deKeepAliveFrame().left(bytes), peers - 1);
        ASSERT_TRUE(waitUntil([&] { return tie(1)->counters().bytesIn == before + quint64(bytes); }));
        clock.advance(socket(1)->timeout() + 1);
        socket(1)->slotTick();
        ASSERT_TRUE(waitUntil([&] { return tie(1)->connectedCount() == 0; }));
        socket(1)->slotTick();
    }
    EXPECT_EQ(log.lines().filter(QStringLiteral("unfinished frame")).size(), 1) << qPrintable(log.lines().join('\n'));
}

TEST_F(DETie_, TheStateFollowsTheTraffic)
{
    loadBoth();
    BaseTieUnit *unit = tie(0)->units().first();
    EXPECT_EQ(tie(0)->state(), 2);
    EXPECT_EQ(unit->state(), 2);
    plant.send(deKeepAliveFrame());
    ASSERT_TRUE(waitUntil([&] { return tie(0)->state() == 0; }));
    sendTemp(5.0f);
    tick();
    EXPECT_TRUE(consumer(0)->isValid(0));
    clock.advance(3001);
    EXPECT_EQ(tie(0)->state(), 4);
    tick();
    // The stale provider was converted once more: its consumer holds the invalid value.
    EXPECT_EQ(QByteArray(reinterpret_cast<const char *>(consumer(0)->values()), 8),
              QByteArray(4, '\xFF') + RawPack::word(0));
    plant.close(0);
    ASSERT_TRUE(waitUntil([&] { return tie(0)->connectedCount() == 0; }));
    EXPECT_EQ(tie(0)->state(), 2);
    EXPECT_FALSE(tie(0)->lastReceived().isValid());
}

TEST_F(DETie_, AStepBackOfTheWallClockFreezesNoValue)
{
    loadBoth();
    sendTemp(1.0f);
    tick();
    EXPECT_FLOAT_EQ(floatOf(consumer(0)), 1.0f);
    clock.set(clock.now().addSecs(-3600));
    sendTemp(2.0f, 1714561201);
    tick();
    EXPECT_FLOAT_EQ(floatOf(consumer(0)), 2.0f);
    EXPECT_EQ(tie(0)->state(), 0);
}

TEST_F(DETie_, UnexpectedValuesAndDroppedPacksAreSummarisedOncePerStreak)
{
    loadBoth();
    const QString unexpected = "DE tie \"plant\": received values for parameters it does not have were ignored";
    const QString dropped = "DE tie \"plant\": malformed packs or packs of an unknown module were dropped";
    // A successor (a reload) starts from its predecessor's totals and
    // reports only the drops of its own.
    tie(0)->counters().framesDropped = 3;
    tie(0)->init();
    tick();
    EXPECT_EQ(log.lines().count(dropped), 0);
    RawPack unknown;
    unknown.type = dpdtFloatValid;
    unknown.param(99, signedValue(1, 1));
    for (int i = 0; i < 5; ++i) {
        plant.send(unknown.frame() + buildDEFrame(0x0BAD, "x"));
        sendTemp(float(i));
        tick();
        clock.advance(500);
    }
    EXPECT_EQ(log.lines().count(unexpected), 1);
    EXPECT_EQ(log.lines().count(dropped), 1);
    clock.advance(BaseDEProtocolTie::FaultQuietMsecs);
    tick();
    EXPECT_TRUE(log.contains(unexpected + " (repeated 4 times)")) << qPrintable(log.lines().join('\n'));
    EXPECT_TRUE(log.contains(dropped + " (repeated 4 times)"));
    EXPECT_EQ(tie(0)->counters().framesDropped, 8u);
}

TEST_F(DETie_, SectionAttributesReachTheConnections)
{
    ASSERT_TRUE(load("<deprotocolclient timeout='5000' protocol_timeout='2000' protocol_keepalive_timeout='700' "
                     "pending_write_limit='0x20000'>"
                     "<csvlist file='plant.csv' index='0' type='1' kks='2' direction='in'/>"
                     + connection(plant) + connection(control) + "</deprotocolclient>"
                     + "<deprotocolclient><csvlist file='control.csv' index='0' type='1' kks='2' direction='out'/>"
                     + connection(control) + "</deprotocolclient>"));
    EXPECT_EQ(tie(0)->timeout(), 5000u);
    EXPECT_EQ(tie(0)->protocolTimeout(), 2000);
    ASSERT_EQ(tie(0)->protocol()->sockets().size(), 2);
    for (QDESocket *s : tie(0)->protocol()->sockets()) {
        EXPECT_EQ(s->timeout(), 2000);
        EXPECT_EQ(s->keepAlivePeriod(), 700);
        EXPECT_EQ(s->maxPendingWriteBytes(), 0x20000);
    }
    EXPECT_EQ(tie(1)->timeout(), 3000u);
    EXPECT_EQ(socket(1)->timeout(), 3000);
    EXPECT_EQ(socket(1)->keepAlivePeriod(), 1500);
    EXPECT_EQ(socket(1)->maxPendingWriteBytes(), QDESocket::DefaultMaxPendingWriteBytes);
    // The in list's parameters are providers, the out list's are not.
    EXPECT_NE(config.paramsHash().find("TEMP"), nullptr);
    EXPECT_EQ(tie(0)->incomingIndex().size(), 3);
    EXPECT_EQ(tie(1)->outgoingIndex().size(), 4);
}

namespace {

struct SectionError {
    const char *name;
    const char *body; // "IN" stands for a valid list, "CONN" for a valid connection
    const char *warning;
    const char *logLine; // null: the same as the warning
};

const char kListsFirst[] =
    "Error loading config: one or more \"csvlist\" tag should be at start of section \"deprotocolclient\"";
const char kPort[] = "Error loading config: \"port\" too big for \"connection\" tag in section \"deprotocolclient\"";
const char kHost[] = "Error loading config: \"host\" was not set for \"connection\" tag in section \"deprotocolclient\"";

const SectionError kErrors[] = {
    {"Empty", "<deprotocolclient/>", kListsFirst, nullptr},
    {"ListAfterConnection", "<deprotocolclient>IN CONN IN</deprotocolclient>", kListsFirst, nullptr},
    {"ConnectionFirst", "<deprotocolclient>CONN IN</deprotocolclient>",
     "Error loading config: one or more \"connection\" tags should be just after \"csvlist\" in section "
     "\"deprotocolclient\"",
     nullptr},
    {"NoConnection", "<deprotocolclient>IN</deprotocolclient>",
     "Error loading config: a \"connection\" tag should be just after \"csvlist\" in section \"deprotocolclient\"",
     nullptr},
    {"NoHost", "<deprotocolclient>IN<connection port='1'/></deprotocolclient>", kHost, nullptr},
    {"BlankHost", "<deprotocolclient>IN<connection host=' ' port='1'/></deprotocolclient>", kHost, nullptr},
    {"NoPort", "<deprotocolclient>IN<connection host='h'/></deprotocolclient>", kPort, nullptr},
    {"PortZero", "<deprotocolclient>IN<connection host='h' port='0'/></deprotocolclient>", kPort, nullptr},
    {"PortPast65535", "<deprotocolclient>IN<connection host='h' port='65536'/></deprotocolclient>", kPort, nullptr},
    {"BadList", "<deprotocolclient><csvlist file='absent.csv' index='0' kks='1' typevalue='A'/>CONN</deprotocolclient>",
     "Error loading config: Error loading csvlist for section \"deprotocolclient\"",
     "Error loading config: Error parsing csvlist for section \"deprotocolclient\""},
    {"PendingLimitBelow64KiB", "<deprotocolclient pending_write_limit='65535'>IN CONN</deprotocolclient>",
     "Error loading config: attribute \"pending_write_limit\" of \"deprotocolclient\" is \"65535\", not a whole "
     "number from 65536 to 1073741824",
     nullptr},
    {"PendingLimitPast1GiB", "<deprotocolclient pending_write_limit='1073741825'>IN CONN</deprotocolclient>",
     "Error loading config: attribute \"pending_write_limit\" of \"deprotocolclient\" is \"1073741825\", not a "
     "whole number from 65536 to 1073741824",
     nullptr},
};

void PrintTo(const SectionError &row, std::ostream *os)
{
    *os << row.name;
}

struct DESectionErrors : DETie_, ::testing::WithParamInterface<SectionError> {
};

} // namespace

TEST_P(DESectionErrors, FailTheLoadWithTheirText)
{
    const SectionError &row = GetParam();
    QByteArray body(row.body);
    body.replace("IN", "<csvlist file='plant.csv' index='0' type='1' kks='2' direction='in'/>");
    body.replace("CONN", connection(plant));
    EXPECT_FALSE(load(body));
    EXPECT_TRUE(messages.warnings().contains(row.warning)) << qPrintable(messages.texts().join('\n'));
    EXPECT_TRUE(log.contains(row.logLine ? row.logLine : row.warning)) << qPrintable(log.lines().join('\n'));
    EXPECT_TRUE(config.ties().isEmpty());
    // A failed section connects nowhere.
    EXPECT_FALSE(waitUntil([&] { return plant.connections() > 0; }, 50));
}

INSTANTIATE_TEST_SUITE_P(Rows, DESectionErrors, ::testing::ValuesIn(kErrors),
                         [](const ::testing::TestParamInfo<SectionError> &info) { return info.param.name; });

TEST_F(DETie_, ValuesRefusedByAStalledPeerAreNotCountedAsSent)
{
    loadBoth();
    control.stopReading();
    // Fill what may wait for the control peer, past what the system takes.
    socket(1)->setMaxPendingWriteBytes(64 * 1024);
    const QByteArray filler = buildDEFrame(7, QByteArray(32 * 1024 * 1024, 'z'));
    socket(1)->beginSend(); // an earlier tick's send, not the connection's snapshot
    ASSERT_EQ(socket(1)->sendFrame(filler), filler.size());
    QCoreApplication::processEvents();
    ASSERT_GT(socket(1)->bytesToWrite(), 0);
    const quint64 sent = tie(1)->counters().valuesSent;
    const quint64 unitsSent = tie(1)->counters().unitsSent;
    sendTemp(22.5f);
    tick();
    EXPECT_EQ(tie(1)->counters().valuesSent, sent);
    EXPECT_EQ(tie(1)->counters().unitsSent, unitsSent);
    EXPECT_GT(tie(1)->counters().bytesUnsent, 0u);
    EXPECT_EQ(socket(1)->state(), QAbstractSocket::UnconnectedState);

    // What still waits when a tie goes (a stop, a reload) is counted too.
    plant.stopReading();
    socket(0)->beginSend();
    ASSERT_EQ(socket(0)->sendFrame(filler), filler.size());
    tie(0)->drain();
    EXPECT_GT(tie(0)->counters().bytesUnsent, 0u);
}
