// Feeds arbitrary bytes to the packet stream form. The first byte picks the
// mode: 0, the rest is read as streamed packets, one after another; 1, the
// rest is a template, whose packet (buffer filled from the template's
// text) is written in the stream form and read back. Besides crashes and
// sanitizer reports it checks that a packet the stream refused is left as
// it was, and that what was read writes out and reads back the same.
#include "fuzzsupport.h"

#include <qdatapacket.h>

#include <QDataStream>

#include <cstdio>
#include <cstdlib>

namespace {

QByteArray layoutOf(const QDataPacket &packet)
{
    return packet.getPacketStructToFile().toByteArray(-1);
}

// Writes `packet` in the stream form and reads it back into a new packet.
void roundTrip(const QDataPacket &packet)
{
    QByteArray bytes;
    {
        QDataStream out(&bytes, QIODevice::WriteOnly);
        out << packet;
        check(out.status() == QDataStream::Ok);
    }
    QDataStream in(bytes);
    QDataPacket back;
    in >> back;
    check(in.status() == QDataStream::Ok);
    check(back.buffer() == packet.buffer());
    check(layoutOf(back) == layoutOf(packet));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzInput input(data, size);
    const uint8_t mode = input.byte();
    const QByteArray rest = input.rest();
    if (mode % 2 == 1) {
        QDataPacket packet;
        if (!packet.parseXML(rest))
            return 0;
        packet.write(rest);
        roundTrip(packet);
        return 0;
    }
    QDataStream in(rest);
    for (int i = 0; i < 4 && !in.atEnd(); ++i) {
        QDataPacket packet;
        in >> packet;
        if (in.status() != QDataStream::Ok) {
            check(packet.isNull() || packet.buffer().size() == 0);
            break;
        }
        roundTrip(packet);
    }
    return 0;
}
