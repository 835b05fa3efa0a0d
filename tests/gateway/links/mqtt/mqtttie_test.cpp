#include "mqttfixture.h"

#include "app/configreload.h"
#include "conversion/singleproviderconverter.h"

#include <QProcess>
#include <QStandardPaths>

#include <cstring>

namespace {

const char kOutList[] = "<csvlist file='out.csv' index='0' type='1' kks='2' direction='out'/>";
const char kTimeText[] = "2026-12-08T04:13:25.123Z";

struct MqttTieTest : MqttFixture {
    // Values of the input file go to the MQTT tie's list of the same
    // identifiers.
    bool loadPublisher(const QByteArray &list, const QByteArray &attributes = QByteArray())
    {
        write("out.csv", list);
        return load(inputSection(list) + mqttSection(attributes, kOutList));
    }
    void setValues(const QByteArray &lines) { write("values.txt", lines); }
    QByteArray value(const QByteArray &value, const char *extra = "") const
    {
        return "{\"value\":" + value + extra + ",\"time\":\"" + kTimeText + "\"}";
    }
    const TieCounters &counters() const { return mqtt()->counters(); }

    // A broker that admits the user "gate" with the password "right" only.
    bool startLoginBroker()
    {
        broker.reset(new MqttBroker(QString(), "allow_anonymous false\npassword_file " + dir.filePath("passwd") + "\n"));
        write("passwd", "");
        return QProcess::execute(QStandardPaths::findExecutable("mosquitto_passwd"),
                                 {"-b", dir.filePath("passwd"), "gate", "right"}) == 0
            && broker->start();
    }

    // The broker is away while `values` new values of T1 are produced
    // (one per tick, 1..values), then back.
    void outage(int values)
    {
        broker->stop();
        ASSERT_TRUE(waitUntil([this] { return mqtt()->state() != 0; }));
        for (int i = 1; i <= values; ++i) {
            setValues("T1;" + QByteArray::number(i) + "\n");
            tick();
        }
        EXPECT_NE(mqtt()->state(), 0);
        ASSERT_TRUE(broker->start());
        ASSERT_TRUE(subscriber.waitSubscribed());
        clock.advance(QMqttConnection::MaxRetryDelayMs);
        tick();
        ASSERT_TRUE(waitConnected());
    }
    // The values that arrived for T1, in order.
    QList<int> arrivedT1() const
    {
        QList<int> values;
        for (const QByteArray &payload : subscriber.payloads("plant/gw1/T1")) {
            const int start = payload.indexOf(':') + 1;
            values << payload.mid(start, payload.indexOf(',') - start).toInt();
        }
        return values;
    }
};

} // namespace

TEST_F(MqttTieTest, ValuesReachTheSubscriberWithValidityAndTimeAndOnlyChangesFollow)
{
    ASSERT_TRUE(startBroker());
    setValues("T1;12.5\nT2;-7\nT3;n/a\n");
    ASSERT_TRUE(loadPublisher("index,type,kks\n1,FLOATVALID,T1\n2,SDWORDSTATE,T2\n3,FLOATSTATE,T3\n"));
    EXPECT_EQ(mqtt()->state(), 2); // until the broker accepted
    ASSERT_TRUE(waitConnected());
    tick();
    ASSERT_TRUE(waitPayloads("plant/gw1/T3", 1));
    EXPECT_EQ(subscriber.payloads("plant/gw1/T1"), QList<QByteArray>{value("12.5,\"valid\":true")});
    EXPECT_EQ(subscriber.payloads("plant/gw1/T2"), QList<QByteArray>{value("-7,\"valid\":true,\"state\":0")});
    EXPECT_EQ(subscriber.payloads("plant/gw1/T3"), QList<QByteArray>{value("0,\"valid\":false,\"state\":7")});
    EXPECT_EQ(subscriber.payloads("plant/gw1/status"), QList<QByteArray>{"online"});
    ASSERT_TRUE(waitUntil([this] { return counters().delivered == 3; }));
    EXPECT_EQ(counters().published, 3u);
    EXPECT_EQ(counters().buffered, 0u);

    // The same values again: nothing to publish; one changed: only it.
    tick();
    setValues("T1;12.5\nT2;-7\nT3;4.25\n");
    tick();
    ASSERT_TRUE(waitPayloads("plant/gw1/T3", 2));
    EXPECT_EQ(subscriber.payloads("plant/gw1/T3").last(), value("4.25,\"valid\":true,\"state\":0"));
    EXPECT_EQ(subscriber.count(), 5);

    // The status is retained: a later subscriber gets it at once.
    MqttSubscriber late;
    ASSERT_TRUE(late.connect(broker->plainPort(), "plant/gw1/status"));
    ASSERT_TRUE(waitUntil([&] { return late.count() == 1; }));
    EXPECT_TRUE(late.messages().first().retain);

    // A gateway that goes says so.
    config.clear();
    ASSERT_TRUE(waitPayloads("plant/gw1/status", 2));
    EXPECT_EQ(subscriber.payloads("plant/gw1/status").last(), "offline");
}

TEST_F(MqttTieTest, TheBrokerSaysOfflineWhenTheConnectionBreaks)
{
    ASSERT_TRUE(startBroker());
    setValues("T1;1\n");
    ASSERT_TRUE(loadPublisher("index,type,kks\n1,FLOATVALID,T1\n", "clientid='gw1-client'"));
    ASSERT_TRUE(waitConnected());
    ASSERT_TRUE(waitPayloads("plant/gw1/status", 1));
    // Another client with the same identifier takes the session over: the
    // broker ends the tie's connection without a goodbye and sends its will.
    {
        MqttSubscriber intruder("gw1-client");
        ASSERT_TRUE(intruder.connect(broker->plainPort(), "nothing"));
        ASSERT_TRUE(waitPayloads("plant/gw1/status", 2));
        EXPECT_EQ(subscriber.payloads("plant/gw1/status").last(), "offline");
        EXPECT_TRUE(waitUntil([this] { return mqtt()->state() == 2; }));
    }
    // Sessions taken back and lost again before they stood are one streak:
    // one line for the loss, none for every flap, one when it stands.
    for (int flap = 0; flap < 2; ++flap) {
        clock.advance(QMqttConnection::MaxRetryDelayMs);
        tick();
        ASSERT_TRUE(waitConnected());
        MqttSubscriber intruder("gw1-client");
        ASSERT_TRUE(intruder.connect(broker->plainPort(), "nothing"));
        ASSERT_TRUE(waitUntil([this] { return mqtt()->state() == 2; }));
    }
    clock.advance(QMqttConnection::MaxRetryDelayMs);
    tick();
    ASSERT_TRUE(waitConnected());
    const QStringList lost = messages.warnings().filter(" lost: ");
    EXPECT_EQ(lost.size() - lost.filter("(repeated").size(), 1) << qPrintable(lost.join('\n'));
    EXPECT_EQ(log.lines().filter("connected to broker").size(), 1);
    clock.advance(QMqttConnection::StableConnectionMs);
    tick();
    EXPECT_EQ(log.lines().filter("connected to broker").size(), 2);
}

TEST_F(MqttTieTest, AtQualityZeroValuesGoOutWithoutAcknowledgement)
{
    ASSERT_TRUE(startBroker());
    setValues("T1;1\nT2;2\n");
    ASSERT_TRUE(loadPublisher("index,type,kks\n1,FLOATVALID,T1\n2,FLOATVALID,T2\n", "qos='0' retain='true'"));
    ASSERT_TRUE(waitConnected());
    tick();
    ASSERT_TRUE(waitPayloads("plant/gw1/T2", 1));
    EXPECT_EQ(counters().published, 2u);
    EXPECT_EQ(counters().delivered, 0u);
    EXPECT_EQ(counters().buffered, 0u);
    MqttSubscriber late;
    ASSERT_TRUE(late.connect(broker->plainPort(), "plant/gw1/T1"));
    ASSERT_TRUE(waitUntil([&] { return late.count() == 1; }));
    EXPECT_TRUE(late.messages().first().retain);
}

TEST_F(MqttTieTest, ASetMessageReachesAConsumerOfAnotherTieAndABadOneChangesNothing)
{
    ASSERT_TRUE(startBroker());
    write("sp.csv", "index,type,kks\n1,FLOATVALID,SP1\n2,SDWORDVALID,SP2\n");
    write("table.csv", "index,type,kks\n1,FLOATVALID,SP1\n2,SDWORDSTATE,SP2\n");
    ASSERT_TRUE(load(mqttSection("", "<csvlist file='sp.csv' index='0' type='1' kks='2' direction='in'/>")
                     + "<textfileout id='table'><csvlist file='table.csv' index='0' type='1' kks='2' direction='out'/>"
                       "<outfile filename='" + dir.filePath("table.txt").toUtf8() + "'/></textfileout>"));
    ASSERT_TRUE(waitUntil([this] { return connection()->subscribed(); }));
    BaseTieParam *sp1 = config.ties().at(1)->units().at(0)->params().at(0);
    BaseTieParam *sp2 = config.ties().at(1)->units().at(0)->params().at(1);
    auto word = [](const BaseTieParam *p, int i) {
        qint32 v = 0;
        std::memcpy(&v, p->values() + 4 * i, 4);
        return v;
    };
    auto floatValue = [](const BaseTieParam *p) {
        float v = 0;
        std::memcpy(&v, p->values(), 4);
        return v;
    };

    ASSERT_TRUE(subscriber.publish("plant/gw1/SP1/set", "{\"value\": 85.5, \"valid\": true}"));
    ASSERT_TRUE(subscriber.publish("plant/gw1/SP2/set", "7"));
    ASSERT_TRUE(waitUntil([this] { return counters().valuesReceived == 2; }));
    tick();
    EXPECT_FLOAT_EQ(floatValue(sp1), 85.5f);
    EXPECT_EQ(word(sp1, 1), 1);
    EXPECT_EQ(word(sp2, 0), 7);
    EXPECT_EQ(word(sp2, 1), 0); // state 0: valid

    const QString warning = "MQTT tie \"gw1\": payload on topic plant/gw1/SP1/set ignored: "
                            "not a number, true, false, a text or a JSON object";
    ASSERT_TRUE(subscriber.publish("plant/gw1/SP1/set", "eighty"));
    ASSERT_TRUE(subscriber.publish("plant/gw1/SP1/set", "eighty"));
    ASSERT_TRUE(waitUntil([this] { return counters().messagesDropped == 2; }));
    EXPECT_EQ(messages.count(warning), 1) << qPrintable(messages.warnings().join('\n'));
    EXPECT_TRUE(log.contains(warning));
    // A sender that alternates good and bad payloads is one streak; the
    // topic takes values again once it refused none for a while.
    for (const char *payload : {"85.5", "eighty", "85.5", "eighty", "85.5"})
        ASSERT_TRUE(subscriber.publish("plant/gw1/SP1/set", payload));
    ASSERT_TRUE(waitUntil([this] { return counters().messagesDropped == 4 && counters().valuesReceived == 5; }));
    EXPECT_EQ(messages.count(warning), 1) << qPrintable(messages.warnings().join('\n'));
    tick();
    EXPECT_EQ(log.lines().filter("takes values again").size(), 0);
    clock.advance(MqttTie::PayloadRecoveredAfterMs);
    tick();
    EXPECT_EQ(log.lines().filter("takes values again").size(), 1);
    EXPECT_FLOAT_EQ(floatValue(sp1), 85.5f);

    // While the broker is away the commands are not valid; back, they are again.
    broker->stop();
    ASSERT_TRUE(waitUntil([this] { return mqtt()->state() != 0; }));
    tick();
    EXPECT_EQ(word(sp1, 1), 0);
    ASSERT_TRUE(broker->start());
    clock.advance(QMqttConnection::MaxRetryDelayMs);
    tick();
    ASSERT_TRUE(waitConnected());
    tick();
    EXPECT_FLOAT_EQ(floatValue(sp1), 85.5f);
    EXPECT_EQ(word(sp1, 1), 1);
}

// Two parameters on one topic whose types take a payload differently: one
// verdict per message, so a payload one of them refuses is reported once,
// not once and recovered by the other on every message; and once too when
// every message is refused for a reason of its own.
TEST_F(MqttTieTest, APayloadRefusedByOneOfTwoParametersOnATopicIsReportedOnce)
{
    ASSERT_TRUE(startBroker());
    write("a.csv", "index,type,kks\n1,SWORD,SP3\n");
    write("b.csv", "index,type,kks\n1,WORD,SP3\n");
    ASSERT_TRUE(load(mqttSection("", "<csvlist file='a.csv' index='0' type='1' kks='2' direction='in'/>"
                                     "<csvlist file='b.csv' index='0' type='1' kks='2' direction='in'/>")));
    ASSERT_TRUE(waitUntil([this] { return connection()->subscribed(); }));
    for (int i = 1; i <= 3; ++i)
        ASSERT_TRUE(subscriber.publish("plant/gw1/SP3/set", QByteArray::number(-i)));
    ASSERT_TRUE(waitUntil([this] { return counters().messagesDropped == 3; }));
    EXPECT_EQ(counters().valuesReceived, 3u);
    EXPECT_EQ(messages.warnings().filter("ignored").size(), 1) << qPrintable(messages.warnings().join('\n'));
    EXPECT_EQ(messages.count("MQTT tie \"gw1\": payload on topic plant/gw1/SP3/set ignored: -1 does not fit WORD"), 1);
    EXPECT_FALSE(log.contains("takes values again"));
}

TEST_F(MqttTieTest, ABrokerOutageWithinTheBoundLosesNothingAndKeepsTheOrder)
{
    ASSERT_TRUE(startBroker());
    setValues("T1;0\n");
    ASSERT_TRUE(loadPublisher("index,type,kks\n1,FLOATVALID,T1\n", "buffermessages='30'"));
    ASSERT_TRUE(waitConnected());
    tick();
    ASSERT_TRUE(waitPayloads("plant/gw1/T1", 1));
    ASSERT_TRUE(waitUntil([this] { return counters().delivered == 1; }));

    outage(20);
    EXPECT_EQ(counters().dropped, 0u);
    ASSERT_TRUE(waitPayloads("plant/gw1/T1", 21));
    QList<int> expected;
    for (int i = 0; i <= 20; ++i)
        expected << i;
    EXPECT_EQ(arrivedT1(), expected);
    ASSERT_TRUE(waitUntil([this] { return counters().delivered == 21; }));
    EXPECT_EQ(counters().published, 21u);
    EXPECT_EQ(counters().reconnects, 1u);
    tick();
    EXPECT_EQ(counters().buffered, 0u);
}

// More than the library takes at once waits at a stop: it is handed on and
// acknowledged before the tie closes, without the event loop.
TEST_F(MqttTieTest, AStopHandsOnWhatWaits)
{
    ASSERT_TRUE(startBroker());
    setValues("T1;0\n");
    ASSERT_TRUE(loadPublisher("index,type,kks\n1,FLOATVALID,T1\n"));
    ASSERT_TRUE(waitConnected());
    tick();
    ASSERT_TRUE(waitUntil([this] { return counters().delivered == 1; }));
    outage(3 * QMqttConnection::InFlightWindow);
    mqtt()->drain();
    EXPECT_EQ(mqtt()->buffer().count(), 0u);
    EXPECT_EQ(counters().delivered, 1u + 3 * QMqttConnection::InFlightWindow);
    EXPECT_EQ(counters().dropped, 0u);
}

TEST_F(MqttTieTest, PastTheBoundTheOldestAreDroppedCountedAndReportedOnce)
{
    ASSERT_TRUE(startBroker());
    setValues("T1;0\n");
    ASSERT_TRUE(loadPublisher("index,type,kks\n1,FLOATVALID,T1\n", "buffermessages='5'"));
    ASSERT_TRUE(waitConnected());
    tick();
    ASSERT_TRUE(waitUntil([this] { return counters().delivered == 1; }));

    outage(20);
    EXPECT_EQ(counters().dropped, 15u);
    ASSERT_TRUE(waitPayloads("plant/gw1/T1", 6));
    EXPECT_EQ(arrivedT1(), (QList<int>{0, 16, 17, 18, 19, 20}));
    const QString full = "MQTT tie \"gw1\": buffer full (5 messages or 67108864 bytes), the oldest messages are dropped";
    EXPECT_EQ(messages.count(full), 1);
    tick();
    EXPECT_TRUE(messages.contains("MQTT tie \"gw1\": buffer has room again, 15 messages were dropped"));
}

TEST_F(MqttTieTest, AWrongPasswordIsReportedOnceAndTriedAgainWithDoublingDelays)
{
    ASSERT_TRUE(startLoginBroker());
    write("wrong.pw", "wrong\n");
    ASSERT_TRUE(loadPublisher("index,type,kks\n1,FLOATVALID,T1\n", "username='gate' passwordfile='wrong.pw'"));
    const QMqttConnection *connection = this->connection();
    auto failedAttempts = [connection](quint64 n) {
        return waitUntil([=] { return connection->attempts() == n && connection->phase() == QMqttConnection::phWaiting; });
    };
    ASSERT_TRUE(failedAttempts(1));
    const QString refused = "MQTT tie \"gw1\": broker 127.0.0.1:" + QString::number(broker->port())
        + " refused the connection: Connection Refused: not authorised.";
    EXPECT_TRUE(messages.contains(refused)) << qPrintable(messages.warnings().join('\n'));
    EXPECT_TRUE(log.contains(refused));

    for (quint64 attempt = 1, delay = 1000; attempt <= 4; ++attempt, delay *= 2) {
        clock.advance(qint64(delay) - 1);
        tick();
        EXPECT_EQ(connection->attempts(), attempt) << "too early after a delay of " << delay;
        clock.advance(1);
        tick();
        ASSERT_TRUE(failedAttempts(attempt + 1));
    }
    EXPECT_EQ(messages.count(refused), 1);
    EXPECT_EQ(mqtt()->state(), 2);
}

TEST_F(MqttTieTest, TheRightPasswordIsAccepted)
{
    ASSERT_TRUE(startLoginBroker());
    write("right.pw", "right\n");
    ASSERT_TRUE(loadPublisher("index,type,kks\n1,FLOATVALID,T1\n", "username='gate' passwordfile='right.pw'"));
    EXPECT_TRUE(waitConnected()) << qPrintable(messages.warnings().join('\n'));
}

// Across reloads: an unchanged section keeps its tie with its session; a
// changed one hands the messages it still holds to the tie that replaces
// it (within the new bound), which delivers them in their order before its
// own.
TEST_F(MqttTieTest, AReloadKeepsAnUnchangedSessionAndAChangedTieHandsOnWhatItHolds)
{
    ASSERT_TRUE(startBroker());
    setValues("T1;0\n");
    const QByteArray list = "index,type,kks\n1,FLOATVALID,T1\n";
    ConfigReload reload(config, dir.filePath("ferrox.cfg"), &makeConverter);
    loader.setRecords(&reload.records());
    ASSERT_TRUE(loadPublisher(list, "buffermessages='30'"));
    ASSERT_TRUE(waitConnected());
    tick();
    ASSERT_TRUE(waitPayloads("plant/gw1/T1", 1));
    MqttTie *first = mqtt();
    const QMqttConnection *session = first->connection();
    const auto reloadWith = [&](const QByteArray &attributes) {
        write("ferrox.cfg", "<config><misc><locale lang='en'/><times/></misc>" + inputSection(list)
                                + mqttSection(attributes, kOutList) + "</config>");
        bool applied = false;
        reload.request([&](bool ok, const QStringList &) { applied = ok; });
        return applied;
    };

    ASSERT_TRUE(reloadWith("buffermessages='30'"));
    EXPECT_EQ(mqtt(), first);
    EXPECT_EQ(mqtt()->connection(), session);
    EXPECT_EQ(mqtt()->state(), 0);

    broker->stop();
    ASSERT_TRUE(waitUntil([this] { return mqtt()->state() != 0; }));
    for (int i = 1; i <= 3; ++i) {
        setValues("T1;" + QByteArray::number(i) + "\n");
        tick();
    }
    ASSERT_EQ(counters().buffered, 3u);
    // A smaller bound drops the oldest, counted and reported as any overflow.
    ASSERT_TRUE(reloadWith("buffermessages='2'"));
    ASSERT_NE(mqtt(), first);
    EXPECT_EQ(mqtt()->buffer().count(), 2u);
    EXPECT_EQ(counters().dropped, 1u);
    ASSERT_TRUE(broker->start());
    ASSERT_TRUE(subscriber.waitSubscribed());
    ASSERT_TRUE(waitConnected());
    tick();
    EXPECT_EQ(messages.count("MQTT tie \"gw1\": buffer full (2 messages or 67108864 bytes), the oldest messages are "
                             "dropped"),
              1);
    ASSERT_TRUE(waitPayloads("plant/gw1/T1", 3));
    EXPECT_EQ(arrivedT1().mid(0, 3), QList<int>({0, 2, 3}));
}
