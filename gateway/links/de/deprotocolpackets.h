#ifndef DEPROTOCOLPACKETS_H
#define DEPROTOCOLPACKETS_H

#include "links/de/deframe.h"
#include "links/de/deparampack.h"

#include <QByteArray>
#include <QDateTime>
#include <QVector>

#include <cstddef>

// One parameter pack being filled: a frame with the pack header as this
// gateway writes it (header size 40, packing 1, both time types 6), then the
// parameters appended one by one, each with its index, time and value.
class DEProtocolGrowPacket
{
public:
    // Starts a pack of `type` whose common time is `time` (an invalid time
    // stands for now), with room for as much as the last pack taken; drops
    // what the packet held.
    void open(quint32 type, const QDateTime &time);
    // Appends a parameter to an open pack; false (nothing appended) when the
    // pack is not open.
    bool append(quint32 index, const uchar *value, size_t length, const QDateTime &time);
    // Writes the param count, the body length and both checksums and closes
    // the pack; false (with its debug message) when it was not open.
    bool finilizePacket();

    bool isOpen() const { return m_open; }
    quint32 type() const { return m_type; }
    quint32 count() const { return m_count; }
    // The frame so far (complete after finilizePacket()).
    const QByteArray &data() const { return m_data; }
    // Hands the frame over and leaves the packet empty and closed.
    QByteArray take();
    // Body bytes so far (the frame without its 32 header bytes).
    size_t bodyBytes() const { return static_cast<size_t>(m_data.size()) - DEFrame::HeaderBytes; }

    // `time` as seconds since 1970 (UTC) and the millisecond of the second,
    // computed in 64 bits; an invalid time gives the current time.
    static void splitTime(const QDateTime &time, quint32 &seconds, quint32 &msecs);

private:
    QByteArray m_data;
    // Size of the last frame taken: a pack of the next tick is opened with
    // room for as much, so it grows without reallocations.
    int m_sizeHint = 0;
    quint32 m_type = 0;
    quint32 m_count = 0;
    bool m_open = false;
};

// The packs of one send: one open pack per data type, filled as parameters
// are added. A pack that would grow past the body limit is finished and a
// new one of its type opened, so a peer never gets a pack it must refuse.
class DEProtocolPackets
{
public:
    DEProtocolPackets();

    // Adds a parameter of `type`: the first of its type opens the type's
    // pack with `time` as the common time. Nothing for length 0, for a type
    // of 44 or above, or for a value that alone exceeds the body limit
    // (false).
    bool add(quint32 type, quint32 index, const uchar *value, size_t length, const QDateTime &time);
    // Finishes every pack and hands the frames over, in the order their
    // types were first added (a type that passed the limit gives several);
    // the packets are empty afterwards.
    QVector<QByteArray> takeFrames();
    // Drops every pack.
    void clear();
    bool isEmpty() const { return m_order.isEmpty() && m_ready.isEmpty(); }

    // Largest body of one pack (the frame's limit unless a test sets less).
    quint32 maxBodyBytes() const { return m_maxBody; }
    void setMaxBodyBytes(quint32 bytes) { m_maxBody = bytes; }

private:
    DEProtocolGrowPacket m_packets[DEPack::DataTypeLimit];
    QVector<quint32> m_order;
    QVector<QByteArray> m_ready;
    quint32 m_maxBody;
};

#endif // DEPROTOCOLPACKETS_H
