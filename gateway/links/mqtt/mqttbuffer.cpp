#include "links/mqtt/mqttbuffer.h"

#include <utility>

MqttBuffer::MqttBuffer(quint64 maxMessages, quint64 maxBytes)
    : m_maxMessages(maxMessages)
    , m_maxBytes(maxBytes)
    , m_bytes(0)
{
}

quint64 MqttBuffer::push(Message message)
{
    m_bytes += sizeOf(message);
    m_waiting.push_back(std::move(message));
    quint64 dropped = 0;
    while (!m_waiting.empty() && (count() > m_maxMessages || m_bytes > m_maxBytes)) {
        dropNextWaiting();
        ++dropped;
    }
    return dropped;
}

void MqttBuffer::markInFlight(int mid)
{
    m_inFlight.push_back(std::move(m_waiting.front()));
    m_waiting.pop_front();
    m_inFlight.back().mid = mid;
}

void MqttBuffer::removeNextWaiting()
{
    dropNextWaiting();
}

bool MqttBuffer::acknowledge(int mid)
{
    // Acknowledgements come in order as a rule: the oldest is found first.
    for (auto it = m_inFlight.begin(); it != m_inFlight.end(); ++it) {
        if (it->mid != mid)
            continue;
        m_bytes -= sizeOf(*it);
        m_inFlight.erase(it);
        return true;
    }
    return false;
}

void MqttBuffer::requeueInFlight()
{
    while (!m_inFlight.empty()) {
        m_waiting.push_front(std::move(m_inFlight.back()));
        m_inFlight.pop_back();
        m_waiting.front().mid = 0;
    }
}

void MqttBuffer::dropNextWaiting()
{
    m_bytes -= sizeOf(m_waiting.front());
    m_waiting.pop_front();
}
