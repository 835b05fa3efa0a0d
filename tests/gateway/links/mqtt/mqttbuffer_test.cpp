#include "links/mqtt/mqttbuffer.h"

#include <QList>

#include <gtest/gtest.h>

namespace {

MqttBuffer::Message msg(const QByteArray &payload)
{
    return {"t", payload, 0};
}

// The payloads of the waiting messages, oldest first (the buffer is emptied).
QList<QByteArray> drainWaiting(MqttBuffer &b)
{
    QList<QByteArray> out;
    while (b.waiting() > 0) {
        out << b.nextWaiting().payload;
        b.removeNextWaiting();
    }
    return out;
}

} // namespace

TEST(MqttBuffer, PastTheCountTheOldestWaitingMessagesAreDropped)
{
    MqttBuffer b(3, 1 << 20);
    EXPECT_EQ(b.push(msg("a")) + b.push(msg("b")) + b.push(msg("c")), 0u);
    EXPECT_EQ(b.push(msg("d")), 1u);
    EXPECT_EQ(b.count(), 3u);
    EXPECT_EQ(b.bytes(), 6u); // topic and payload of each
    EXPECT_EQ(drainWaiting(b), (QList<QByteArray>{"b", "c", "d"}));
    EXPECT_EQ(b.bytes(), 0u);
}

TEST(MqttBuffer, PastTheBytesTheOldestGoAndAMessageTooLargeAloneGoesItself)
{
    MqttBuffer b(100, 10);
    b.push(msg("1234"));
    b.push(msg("5678"));
    EXPECT_EQ(b.push(msg("abcd")), 1u);
    EXPECT_EQ(b.bytes(), 10u);
    EXPECT_EQ(b.push(msg("0123456789")), 3u);
    EXPECT_EQ(b.count(), 0u);
    EXPECT_EQ(b.bytes(), 0u);
}

TEST(MqttBuffer, MessagesInFlightAreKeptAndWaitAgainFirstAndInOrderWhenTheConnectionGoes)
{
    MqttBuffer b(3, 1 << 20);
    b.push(msg("a"));
    b.push(msg("b"));
    b.markInFlight(11);
    b.markInFlight(12);
    b.push(msg("c"));
    EXPECT_EQ(b.push(msg("d")), 1u); // c goes, not a or b
    EXPECT_EQ(b.inFlight(), 2u);
    b.requeueInFlight();
    EXPECT_EQ(b.inFlight(), 0u);
    EXPECT_EQ(drainWaiting(b), (QList<QByteArray>{"a", "b", "d"}));
}

TEST(MqttBuffer, AcknowledgementsInAnyOrderFreeTheirMessagesOnly)
{
    MqttBuffer b(10, 1 << 20);
    for (const char *p : {"a", "b", "c"})
        b.push(msg(p));
    b.markInFlight(1);
    b.markInFlight(2);
    b.markInFlight(3);
    EXPECT_TRUE(b.acknowledge(2));
    EXPECT_FALSE(b.acknowledge(2));
    EXPECT_FALSE(b.acknowledge(7));
    EXPECT_EQ(b.count(), 2u);
    EXPECT_EQ(b.bytes(), 4u);
    b.requeueInFlight();
    EXPECT_EQ(drainWaiting(b), (QList<QByteArray>{"a", "c"}));
}
