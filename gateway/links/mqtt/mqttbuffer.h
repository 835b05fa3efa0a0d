#ifndef MQTTBUFFER_H
#define MQTTBUFFER_H

#include <QByteArray>
#include <QtGlobal>

#include <deque>

// The messages a tie has made for its broker and not yet seen acknowledged,
// in the order they were made: first those waiting to be handed to the
// connection, then (separately) those handed over and waiting for their
// acknowledgement (quality of service 1). The buffer is bounded by a number
// of messages and a number of bytes (topic and payload) over both parts;
// past a bound the oldest waiting messages are dropped. Messages in flight
// are not dropped: the broker may already have them.
class MqttBuffer
{
public:
    struct Message {
        QByteArray topic;
        QByteArray payload;
        int mid = 0; // the connection's message id once in flight
    };

    MqttBuffer(quint64 maxMessages, quint64 maxBytes);

    // Appends `message` to the waiting ones; while a bound is passed drops
    // the oldest waiting message. Returns how many were dropped (the new
    // one included when it alone passes a bound).
    quint64 push(Message message);
    // The oldest waiting message; only while waiting() > 0.
    const Message &nextWaiting() const { return m_waiting.front(); }
    // The oldest waiting message was handed over as `mid`: it is in flight
    // until acknowledge(mid).
    void markInFlight(int mid);
    // The oldest waiting message was handed over for good (no
    // acknowledgement comes) or refused for good: it leaves the buffer.
    void removeNextWaiting();
    // The broker acknowledged `mid`: the message leaves the buffer. False
    // when no message in flight carries it.
    bool acknowledge(int mid);
    // The connection is gone: every message in flight waits again, ahead
    // of the others and in its order, to be sent on the next connection.
    void requeueInFlight();

    quint64 count() const { return m_waiting.size() + m_inFlight.size(); }
    quint64 bytes() const { return m_bytes; }
    quint64 waiting() const { return m_waiting.size(); }
    quint64 inFlight() const { return m_inFlight.size(); }
    quint64 maxMessages() const { return m_maxMessages; }
    quint64 maxBytes() const { return m_maxBytes; }

private:
    static quint64 sizeOf(const Message &m) { return quint64(m.topic.size()) + quint64(m.payload.size()); }
    void dropNextWaiting();

    std::deque<Message> m_waiting;
    std::deque<Message> m_inFlight;
    quint64 m_maxMessages;
    quint64 m_maxBytes;
    quint64 m_bytes;
};

#endif // MQTTBUFFER_H
