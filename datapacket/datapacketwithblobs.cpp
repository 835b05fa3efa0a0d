#include "datapacketwithblobs.h"

#include <QDataStream>
#include <QVector>

#include <algorithm>
#include <limits>

namespace {

// Largest offset a node of data type `t` can hold; 0 when it holds none.
quint64 largestOffset(DPDataType t)
{
    switch (t) {
    case dpdtByte:
        return std::numeric_limits<quint8>::max();
    case dpdtWord:
        return std::numeric_limits<quint16>::max();
    case dpdtDWord:
        return std::numeric_limits<quint32>::max();
    default:
        return 0;
    }
}

// A node's description for messages.
QString describe(const QDataPacketNodeInternal *node)
{
    return QStringLiteral("%1 (%2)").arg(node->fullPath(), DPDataTypeToString(node->type().dataType));
}

} // namespace

DataPacketWithBlobs::DataPacketWithBlobs() = default;

DataPacketWithBlobs::DataPacketWithBlobs(QDataPacketInternal *tree)
    : QDataPacket(tree)
{
}

DataPacketWithBlobs::DataPacketWithBlobs(const QDataPacket &other)
    : QDataPacket(other)
{
}

DataPacketWithBlobs::DataPacketWithBlobs(const DataPacketWithBlobs &other)
    : QDataPacket(other)
    , m_blobPart(other.m_blobPart)
    , m_blobs(other.m_blobs)
{
}

DataPacketWithBlobs &DataPacketWithBlobs::operator=(const QDataPacket &other)
{
    if (this != &other)
        QDataPacket::operator=(other);
    return *this;
}

DataPacketWithBlobs &DataPacketWithBlobs::operator=(const DataPacketWithBlobs &other)
{
    if (this != &other) {
        QDataPacket::operator=(other);
        m_blobPart = other.m_blobPart;
        m_blobs = other.m_blobs;
    }
    return *this;
}

DataPacketWithBlobs::~DataPacketWithBlobs() = default;

void DataPacketWithBlobs::init(QDataPacketInternal *tree)
{
    initBlobPart();
    QDataPacket::init(tree);
}

int DataPacketWithBlobs::refuse(const QString &reason, bool *ok)
{
    setErrorText(reason);
    if (ok)
        *ok = false;
    return -1;
}

int DataPacketWithBlobs::setQStringByNode(const QString &text, const QDataPacketNode &node, bool *ok)
{
    if (node.packet() != this)
        return refuse(QStringLiteral("DataPacketWithBlobs::setQStringByNode(): the node is not of this packet"), ok);
    return setQStringByNodeInternal(text, node.nodeInternal(), ok);
}

int DataPacketWithBlobs::setQStringByPath(const QString &text, const QString &path, bool *ok)
{
    const QDataPacketNodeInternal *node = templateInternal() ? templateInternal()->getNodeInternalByPath(path)
                                                             : nullptr;
    if (!node)
        return refuse(QStringLiteral("DataPacketWithBlobs::setQStringByPath(): no node at \"%1\"").arg(path), ok);
    return setQStringByNodeInternal(text, node, ok);
}

int DataPacketWithBlobs::setQStringByNodeInternal(const QString &text, const QDataPacketNodeInternal *node, bool *ok)
{
    if (!node || !templateInternal() || node->packetInternal() != templateInternal())
        return refuse(QStringLiteral("DataPacketWithBlobs::setQStringByNodeInternal(): the node is not of this "
                                     "packet's template"),
                      ok);
    if (largestOffset(node->type().dataType) == 0)
        return refuse(QStringLiteral("DataPacketWithBlobs::setQStringByNodeInternal(): node %1 cannot hold a blob "
                                     "offset (it must be a BYTE, WORD or DWORD)")
                          .arg(describe(node)),
                      ok);
    QByteArray serialised;
    QDataStream out(&serialised, QIODevice::WriteOnly);
    out << text;
    m_blobs.insert(node, serialised);
    if (ok)
        *ok = true;
    return 0;
}

void DataPacketWithBlobs::initBlobPart()
{
    m_blobPart.clear();
    m_blobs.clear();
}

void DataPacketWithBlobs::clear()
{
    fill(0);
    initBlobPart();
}

bool DataPacketWithBlobs::packBlobs()
{
    // Texts in document order, so that the blob part is the same each time.
    QVector<const QDataPacketNodeInternal *> nodes;
    nodes.reserve(m_blobs.size());
    for (auto it = m_blobs.constBegin(); it != m_blobs.constEnd(); ++it)
        nodes.append(it.key());
    std::sort(nodes.begin(), nodes.end(), [](const QDataPacketNodeInternal *a, const QDataPacketNodeInternal *b) {
        return a->documentIndex() < b->documentIndex();
    });

    // Every offset is checked before anything changes.
    QVector<quint64> offsets;
    offsets.reserve(nodes.size());
    quint64 end = 4;
    for (const QDataPacketNodeInternal *node : qAsConst(nodes)) {
        if (end > largestOffset(node->type().dataType)) {
            setErrorText(QStringLiteral("DataPacketWithBlobs::packBlobs(): blob offset %1 does not fit node %2")
                             .arg(end)
                             .arg(describe(node)));
            return false;
        }
        if (!node->fitsIn(buffer().size())) {
            setErrorText(QStringLiteral("DataPacketWithBlobs::packBlobs(): node %1 lies outside the buffer")
                             .arg(describe(node)));
            return false;
        }
        offsets.append(end);
        end += static_cast<quint64>(m_blobs.value(node).size());
        if (end > static_cast<quint64>(std::numeric_limits<int>::max() - 64)) {
            setErrorText(QStringLiteral("DataPacketWithBlobs::packBlobs(): the texts exceed what a byte array holds"));
            return false;
        }
    }

    QByteArray part(4, '\0');
    part.reserve(static_cast<int>(end));
    for (int i = 0; i < nodes.size(); ++i) {
        nodes.at(i)->setULong(buffer(), static_cast<unsigned long>(offsets.at(i)));
        part.append(m_blobs.value(nodes.at(i)));
    }
    m_blobPart = part;
    return true;
}
