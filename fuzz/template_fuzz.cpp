// Feeds arbitrary bytes to the packet template parser. Up to the first NUL
// byte the input is the template; what follows is a path resolved against
// it. Besides crashes and sanitizer reports it checks what must hold for
// every template that parses:
// - the tree and buffer stay within the parser's limits;
// - both written forms and the stream form parse back to the same layout;
// - every node's full path leads back to the node;
// - reading every node is harmless, and reversing a field twice restores it.
#include "fuzzsupport.h"

#include <datapacketwithblobs.h>
#include <qdatapacket.h>

#include <QDataStream>

#include <cstddef>
#include <cstdint>

namespace {

QString describe(const QDataPacketNodeInternal *n)
{
    const DPDataTypeStruct &t = n->type();
    QString text = QStringLiteral("%1 %2.%3+%4 %5/%6/%7/%8 %9|%10|%11\n")
                       .arg(n->fullPath())
                       .arg(t.offset)
                       .arg(t.bitOffset)
                       .arg(t.size)
                       .arg(t.dataType)
                       .arg(t.metaType)
                       .arg(t.endian)
                       .arg(t.reverse)
                       .arg(n->kks(), n->name(), n->nameTranslation().translate(QStringLiteral("de"), false));
    for (const QDataPacketNodeInternal *child : n->childNodes())
        text += describe(child);
    return text;
}

// Resolving a path scans the siblings on each level, and reversing a field
// copies the whole buffer, so only the first nodes of a large tree are
// looked up and reversed.
void visit(QDataPacket &packet, const QDataPacketNodeInternal *root, const QDataPacketNodeInternal *n, int &lookups)
{
    ++lookups;
    if (lookups < 256)
        check(root->getNodeInternalByPath(n->fullPath()) == n);
    QDataPacketNode handle(&packet, const_cast<QDataPacketNodeInternal *>(n));
    handle.getULong();
    handle.getLong();
    handle.getDouble();
    handle.getVariant();
    handle.stringValue();
    handle.setVariant(handle.getVariant());
    // Reversing one field is undone by reversing it again (whole subtrees
    // need not be: their fields may overlap).
    if (!n->isHasChildNodes() && lookups < 256) {
        const QByteArray before = packet.buffer();
        handle.reverseByteOrder(ReverseAll);
        handle.reverseByteOrder(ReverseAll);
        check(packet.buffer() == before);
    }
    for (const QDataPacketNodeInternal *child : n->childNodes())
        visit(packet, root, child, lookups);
}

QString layoutOf(const QByteArray &xml)
{
    QDataPacket back;
    check(back.parseXML(xml));
    return describe(back.templateInternal());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char *>(data), static_cast<int>(size));
    const int nul = input.indexOf('\0');
    const QByteArray xml = nul < 0 ? input : input.left(nul);
    const QString path = nul < 0 ? QString() : QString::fromUtf8(input.mid(nul + 1));

    DataPacketWithBlobs packet;
    if (!packet.parseXML(xml, nullptr, nullptr, nullptr, QLatin1Char('$'))) {
        check(!packet.errorText().isEmpty() && packet.buffer().isEmpty());
        return 0;
    }
    const QDataPacketInternal *root = packet.templateInternal();
    check(root->bufferSize() <= QDataPacketInternal::MaxBytes && root->nodeCount() <= QDataPacketInternal::MaxNodes);
    check(packet.buffer().size() == root->bufferSize());

    const QString layout = describe(root);
    check(layoutOf(packet.getPacketStructToFile(QDataPacketNodeInternal::DOMCompact).toByteArray(1)) == layout);
    check(layoutOf(packet.getPacketStructToFile(QDataPacketNodeInternal::DOMFull).toByteArray(1)) == layout);

    for (int i = 0; i < packet.buffer().size(); ++i)
        packet.buffer()[i] = static_cast<char>(i * 37 + 11);
    int lookups = 0;
    visit(packet, root, root, lookups);
    packet.reverseByteOrder(ReverseAll);
    packet.reverseByteOrder(ReverseMarked);
    const QByteArray bytes = packet.buffer();

    QByteArray wire;
    {
        QDataStream out(&wire, QIODevice::WriteOnly);
        out << packet;
    }
    QDataPacket streamed;
    QDataStream in(wire);
    in >> streamed;
    check(in.status() == QDataStream::Ok && streamed.buffer() == bytes
          && describe(streamed.templateInternal()) == layout);

    if (const QDataPacketNodeInternal *target = root->getNodeInternalByPath(path)) {
        check(target->packetInternal() == root);
        packet.setQStringByNodeInternal(path, target);
        packet.packBlobs();
    }
    return 0;
}
