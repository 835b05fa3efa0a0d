#include "links/de/deprotocolpackets.h"

#include "core/clock.h"
#include "core/diag.h"

#include <cstring>

namespace {

// Bytes one parameter adds to a pack besides its value: index, seconds, msecs.
constexpr size_t kParamOverhead = 12;

} // namespace

void DEProtocolGrowPacket::splitTime(const QDateTime &time, quint32 &seconds, quint32 &msecs)
{
    const qint64 ms = (time.isValid() ? time : Clock::nowUtc()).toMSecsSinceEpoch();
    qint64 s = ms / 1000;
    qint64 rest = ms % 1000;
    if (rest < 0) {
        rest += 1000;
        --s;
    }
    seconds = static_cast<quint32>(s);
    msecs = static_cast<quint32>(rest);
}

void DEProtocolGrowPacket::open(quint32 type, const QDateTime &time)
{
    char head[DEPack::OpenPackBytes] = {};
    dePutWord(head + DEFrame::OffsetModule, DEFrame::ModuleParamPack);
    dePutWord(head + DEPack::OffsetHeaderSize, DEPack::SentHeaderSize);
    dePutWord(head + DEPack::OffsetVersion, DEPack::SentVersion);
    dePutWord(head + DEPack::OffsetPacking, DEPack::PackingIndexed);
    dePutWord(head + DEPack::OffsetDataType, type);
    dePutWord(head + DEPack::OffsetCommonTimeType, DEPack::TimeUnixMsecs);
    dePutWord(head + DEPack::OffsetParamTimeType, DEPack::TimeUnixMsecs);
    quint32 seconds = 0;
    quint32 msecs = 0;
    splitTime(time, seconds, msecs);
    dePutWord(head + DEPack::OffsetCommonSeconds, seconds);
    dePutWord(head + DEPack::OffsetCommonMsecs, msecs);
    m_data.clear();
    m_data.reserve(qMax(m_sizeHint, static_cast<int>(DEPack::OpenPackBytes)));
    m_data.append(head, static_cast<int>(DEPack::OpenPackBytes));
    m_type = type;
    m_count = 0;
    m_open = true;
}

bool DEProtocolGrowPacket::append(quint32 index, const uchar *value, size_t length, const QDateTime &time)
{
    if (!m_open || static_cast<size_t>(m_data.size()) < DEPack::OpenPackBytes)
        return false;
    quint32 seconds = 0;
    quint32 msecs = 0;
    splitTime(time, seconds, msecs);
    const int old = m_data.size();
    m_data.resize(old + static_cast<int>(kParamOverhead + length));
    char *p = m_data.data() + old;
    dePutWord(p, index);
    dePutWord(p + 4, seconds);
    dePutWord(p + 8, msecs);
    if (length)
        std::memcpy(p + kParamOverhead, value, length);
    ++m_count;
    return true;
}

bool DEProtocolGrowPacket::finilizePacket()
{
    GATE_DEBUG(6, "DEProtocolGrowPacket::finilizePacket() was called");
    if (!m_open) {
        GATE_DEBUG(2, "DEProtocolGrowPacket::finilizePacket(): is not open");
        return false;
    }
    if (static_cast<size_t>(m_data.size()) < DEPack::OpenPackBytes) {
        GATE_DEBUG(2, "DEProtocolGrowPacket::finilizePacket(): packet too small (%i) < (%lu)",
                   static_cast<int>(m_data.size()), static_cast<unsigned long>(DEPack::OpenPackBytes));
        return false;
    }
    char count[4];
    dePutWord(count, m_count);
    m_data.replace(static_cast<int>(DEPack::OffsetParamCount), 4, count, 4);
    sealDEFrame(m_data);
    m_open = false;
    return true;
}

QByteArray DEProtocolGrowPacket::take()
{
    QByteArray frame;
    frame.swap(m_data);
    m_sizeHint = frame.size();
    m_open = false;
    m_count = 0;
    return frame;
}

DEProtocolPackets::DEProtocolPackets()
    : m_maxBody(DEFrame::MaxBodyBytes)
{
}

bool DEProtocolPackets::add(quint32 type, quint32 index, const uchar *value, size_t length, const QDateTime &time)
{
    if (length == 0 || !value)
        return false;
    if (type >= DEPack::DataTypeLimit) {
        GATE_DEBUG(2, "DEProtocolPackets::add(): data type %u cannot travel in a pack", type);
        return false;
    }
    const size_t entry = kParamOverhead + length;
    const size_t emptyBody = DEPack::OpenPackBytes - DEFrame::HeaderBytes;
    if (entry > m_maxBody - emptyBody) {
        GATE_DEBUG(1, "DEProtocolPackets::add(): parameter %u of type %u with %zu bytes exceeds the pack limit", index,
                   type, length);
        return false;
    }
    DEProtocolGrowPacket &packet = m_packets[type];
    if (packet.isOpen() && packet.bodyBytes() + entry > m_maxBody) {
        packet.finilizePacket();
        m_ready.append(packet.take());
        packet.open(type, time);
    } else if (!packet.isOpen()) {
        packet.open(type, time);
        m_order.append(type);
    }
    return packet.append(index, value, length, time);
}

QVector<QByteArray> DEProtocolPackets::takeFrames()
{
    QVector<QByteArray> frames;
    frames.swap(m_ready);
    for (quint32 type : qAsConst(m_order)) {
        DEProtocolGrowPacket &packet = m_packets[type];
        if (packet.finilizePacket())
            frames.append(packet.take());
    }
    m_order.clear();
    return frames;
}

void DEProtocolPackets::clear()
{
    for (quint32 type : qAsConst(m_order))
        m_packets[type].take();
    m_order.clear();
    m_ready.clear();
}
