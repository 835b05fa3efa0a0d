#include "qdatapacketnode.h"

#include "qdatapacket.h"

#include <QtDebug>

#include <algorithm>

namespace {

inline void setOk(bool *ok, bool value)
{
    if (ok)
        *ok = value;
}

// Data types whose value reads as unsigned or signed integer, for the texts.
bool readsUnsigned(int t)
{
    return t == dpdtByte || t == dpdtWord || t == dpdtDWord || t == dpdtBit || t == dpdtBool || t == dpdtReserved13;
}

bool readsSigned(int t)
{
    return t == dpdtSByte || t == dpdtSWord || t == dpdtSDWord || t == dpdtReserved14;
}

bool readsFloating(int t)
{
    return t == dpdtFloat || t == dpdtDouble;
}

} // namespace

QDataPacketNode::QDataPacketNode() = default;

QDataPacketNode::QDataPacketNode(QDataPacket *packet, QDataPacketNodeInternal *node)
    : m_node(node)
    , m_packet(packet)
{
}

QDataPacketNode::QDataPacketNode(const QDataPacketNode &other)
    : QObject()
    , m_node(other.m_node)
    , m_packet(other.m_packet)
{
}

QDataPacketNode &QDataPacketNode::operator=(const QDataPacketNode &other)
{
    m_node = other.m_node;
    m_packet = other.m_packet;
    return *this;
}

QDataPacketNode::~QDataPacketNode() = default;

void QDataPacketNode::init(QDataPacket *packet, QDataPacketNodeInternal *node)
{
    m_packet = packet;
    m_node = node;
}

QDataPacketNodeInternal *QDataPacketNode::liveNode(QDataPacket **packet) const
{
    QDataPacketNodeInternal *node = m_node.data();
    QDataPacket *p = m_packet.data();
    if (!node || !p || node->packetInternal() != p->templateInternal())
        return nullptr;
    *packet = p;
    return node;
}

// The typed operations all take the same two shapes: act on this node, or
// on the node a path names from it.
#define FERROX_NODE_GETTER(Type, Name, Fail)                                                                      \
    Type QDataPacketNode::Name(bool *ok) const                                                                    \
    {                                                                                                             \
        QDataPacket *p = nullptr;                                                                                 \
        if (const QDataPacketNodeInternal *n = liveNode(&p))                                                      \
            return n->Name(static_cast<const QDataPacket *>(p)->buffer(), ok);                                    \
        setOk(ok, false);                                                                                         \
        return Fail;                                                                                              \
    }                                                                                                             \
    Type QDataPacketNode::Name##ByPath(const QString &path, bool *ok) const                                       \
    {                                                                                                             \
        QDataPacket *p = nullptr;                                                                                 \
        if (const QDataPacketNodeInternal *n = liveNode(&p)) {                                                    \
            if (const QDataPacketNodeInternal *target = n->getNodeInternalByPath(path))                           \
                return target->Name(static_cast<const QDataPacket *>(p)->buffer(), ok);                           \
        }                                                                                                         \
        setOk(ok, false);                                                                                         \
        return Fail;                                                                                              \
    }

#define FERROX_NODE_SETTER(Type, Name)                                                                            \
    int QDataPacketNode::Name(Type value, bool *ok)                                                               \
    {                                                                                                             \
        QDataPacket *p = nullptr;                                                                                 \
        if (const QDataPacketNodeInternal *n = liveNode(&p))                                                      \
            return n->Name(p->buffer(), value, ok);                                                               \
        setOk(ok, false);                                                                                         \
        return -1;                                                                                                \
    }                                                                                                             \
    int QDataPacketNode::Name##ByPath(Type value, const QString &path, bool *ok)                                  \
    {                                                                                                             \
        QDataPacket *p = nullptr;                                                                                 \
        if (const QDataPacketNodeInternal *n = liveNode(&p)) {                                                    \
            if (const QDataPacketNodeInternal *target = n->getNodeInternalByPath(path))                           \
                return target->Name(p->buffer(), value, ok);                                                      \
        }                                                                                                         \
        setOk(ok, false);                                                                                         \
        return -1;                                                                                                \
    }

FERROX_NODE_GETTER(long, getLong, 0)
FERROX_NODE_GETTER(unsigned long, getULong, 0)
FERROX_NODE_GETTER(double, getDouble, 0.0)
FERROX_NODE_GETTER(QVariant, getVariant, QVariant())
FERROX_NODE_SETTER(long, setLong)
FERROX_NODE_SETTER(unsigned long, setULong)
FERROX_NODE_SETTER(double, setDouble)
FERROX_NODE_SETTER(const QVariant &, setVariant)

#undef FERROX_NODE_GETTER
#undef FERROX_NODE_SETTER

qint64 QDataPacketNode::byteSize() const
{
    QDataPacket *p = nullptr;
    const QDataPacketNodeInternal *n = liveNode(&p);
    return n ? n->type().size : 0;
}

qint64 QDataPacketNode::offset() const
{
    QDataPacket *p = nullptr;
    const QDataPacketNodeInternal *n = liveNode(&p);
    return n ? n->type().offset : 0;
}

DPDataTypeStruct *QDataPacketNode::dataType() const
{
    QDataPacket *p = nullptr;
    const QDataPacketNodeInternal *n = liveNode(&p);
    return n ? new DPDataTypeStruct(n->type()) : nullptr;
}

QString QDataPacketNode::dataTypeName() const
{
    QDataPacket *p = nullptr;
    const QDataPacketNodeInternal *n = liveNode(&p);
    return n ? DPDataTypeToString(n->type().dataType) : QString();
}

QString QDataPacketNode::metaTypeName() const
{
    QDataPacket *p = nullptr;
    const QDataPacketNodeInternal *n = liveNode(&p);
    return n ? DPDataTypeToString(n->type().metaType) : QString();
}

QString QDataPacketNode::name() const
{
    QDataPacket *p = nullptr;
    const QDataPacketNodeInternal *n = liveNode(&p);
    return n ? n->name() : QString();
}

QString QDataPacketNode::idName() const
{
    QDataPacket *p = nullptr;
    const QDataPacketNodeInternal *n = liveNode(&p);
    return n ? n->idName() : QString();
}

QString QDataPacketNode::tagName() const
{
    QDataPacket *p = nullptr;
    const QDataPacketNodeInternal *n = liveNode(&p);
    return n ? n->tagName() : QString();
}

QString QDataPacketNode::fullPath() const
{
    QDataPacket *p = nullptr;
    const QDataPacketNodeInternal *n = liveNode(&p);
    return n ? n->fullPath() : QString();
}

bool QDataPacketNode::isNull() const
{
    QDataPacket *p = nullptr;
    return liveNode(&p) == nullptr;
}

bool QDataPacketNode::isHasChildNodes() const
{
    QDataPacket *p = nullptr;
    const QDataPacketNodeInternal *n = liveNode(&p);
    return n && n->isHasChildNodes();
}

QList<QDataPacketNode> QDataPacketNode::childNodes() const
{
    QList<QDataPacketNode> result;
    QDataPacket *p = nullptr;
    if (const QDataPacketNodeInternal *n = liveNode(&p)) {
        for (QDataPacketNodeInternal *child : n->childNodes())
            result.append(QDataPacketNode(p, child));
    }
    return result;
}

QList<QDataPacketNode> QDataPacketNode::childNodesWithId(int maxCount, const QString &id) const
{
    QList<QDataPacketNode> result;
    QDataPacket *p = nullptr;
    const QDataPacketNodeInternal *n = liveNode(&p);
    if (!n || maxCount <= 0)
        return result;
    for (QObject *child : n->children()) {
        auto *node = static_cast<QDataPacketNodeInternal *>(child);
        if (node->idName() != id)
            continue;
        result.append(QDataPacketNode(p, node));
        if (result.size() >= maxCount)
            break;
    }
    return result;
}

QDataPacketNode QDataPacketNode::nodeByPath(const QString &path) const
{
    QDataPacket *p = nullptr;
    if (const QDataPacketNodeInternal *n = liveNode(&p)) {
        if (QDataPacketNodeInternal *target = n->getNodeInternalByPath(path))
            return QDataPacketNode(p, target);
    }
    return QDataPacketNode();
}

QXmlTranslation QDataPacketNode::nameTranslation() const
{
    QDataPacket *p = nullptr;
    const QDataPacketNodeInternal *n = liveNode(&p);
    return n ? n->nameTranslation() : QXmlTranslation();
}

void QDataPacketNode::setNameTranslation(const QXmlTranslation &name)
{
    QDataPacket *p = nullptr;
    if (QDataPacketNodeInternal *n = liveNode(&p))
        n->setNameTranslation(name);
}

namespace {

// Checks for data(): the offset of the node into `buffer`, or -1 with the
// debug message of what is wrong.
qint64 dataOffset(const QDataPacketNodeInternal *node, const QDataPacket *packet)
{
    if (!node) {
        qDebug("QDataPacketNode::data() InternalNode is Null()");
        return -1;
    }
    if (!packet) {
        qDebug("QDataPacketNode::data() Packet is Null()");
        return -1;
    }
    if (node->packetInternal() != packet->templateInternal()) {
        qDebug("QDataPacketNode::data() InternalNode is not of the packet's template");
        return -1;
    }
    const qint64 offset = node->type().offset;
    const qint64 size = packet->buffer().size();
    if (offset < 0) {
        qDebug("QDataPacketNode::data() offset (%lX) <0", static_cast<unsigned long>(offset));
        return -1;
    }
    if (offset >= size) {
        qDebug("QDataPacketNode::data() offset (%lX) > buffer().size() (%X)", static_cast<unsigned long>(offset),
               static_cast<unsigned>(size));
        return -1;
    }
    if (node->type().size > size - offset) {
        qDebug("QDataPacketNode::data() offset (%lX) + size (%lX) > buffer().size() (%X)",
               static_cast<unsigned long>(offset), static_cast<unsigned long>(node->type().size),
               static_cast<unsigned>(size));
        return -1;
    }
    return offset;
}

} // namespace

char *QDataPacketNode::data()
{
    QDataPacket *p = m_packet.data();
    const qint64 offset = dataOffset(m_node.data(), p);
    return offset < 0 ? nullptr : p->buffer().data() + offset;
}

const char *QDataPacketNode::data() const
{
    const QDataPacket *p = m_packet.data();
    const qint64 offset = dataOffset(m_node.data(), p);
    return offset < 0 ? nullptr : p->buffer().constData() + offset;
}

void QDataPacketNode::reverseByteOrder(DPReverseType type)
{
    QDataPacket *p = nullptr;
    if (const QDataPacketNodeInternal *n = liveNode(&p))
        n->reverseByteOrder(p->buffer(), type);
}

QString QDataPacketNode::stringValue() const
{
    QDataPacket *p = nullptr;
    const QDataPacketNodeInternal *n = liveNode(&p);
    if (!n)
        return QString();
    const int meta = n->type().metaType;
    bool ok = false;
    if (readsUnsigned(meta)) {
        const unsigned long v = getULong(&ok);
        return ok ? QString::number(v) : QStringLiteral("?");
    }
    if (readsSigned(meta)) {
        const long v = getLong(&ok);
        return ok ? QString::number(v) : QStringLiteral("?");
    }
    if (readsFloating(meta)) {
        const double v = getDouble(&ok);
        return ok ? QString::number(v, 'g', 6) : QStringLiteral("?");
    }
    if (n->isHasChildNodes())
        return QString();
    const QByteArray &buffer = static_cast<const QDataPacket *>(p)->buffer();
    static const char kHex[] = "0123456789abcdef";
    QString text;
    text.reserve(static_cast<int>(std::min<qint64>(n->type().size, 1 << 20)) * 3 + 2);
    text += QLatin1Char('[');
    for (qint64 i = n->type().offset, end = n->type().offset + n->type().size; i < end; ++i) {
        if (i != n->type().offset)
            text += QLatin1Char(' ');
        if (i < 0 || i >= buffer.size()) {
            text += QLatin1String("--");
        } else {
            const auto b = static_cast<uchar>(buffer.at(static_cast<int>(i)));
            text += QLatin1Char(kHex[b >> 4]);
            text += QLatin1Char(kHex[b & 15]);
        }
    }
    text += QLatin1Char(']');
    return text;
}

void QDataPacketNode::qDebugPrintXmlHeader() const
{
    qDebug("Path | Offset | DataType: Value");
}

void QDataPacketNode::qDebugPrintXml() const
{
    qDebugPrintXmlHeader();
    qDebugPrintXmlSubtree(QString());
}

void QDataPacketNode::qDebugPrintXmlSubtree(const QString &prefix) const
{
    QDataPacket *p = nullptr;
    const QDataPacketNodeInternal *n = liveNode(&p);
    if (!n)
        return;
    const DPDataTypeStruct &t = n->type();
    QString place = QStringLiteral("? | ");
    if (t.offset >= 0) {
        place = QStringLiteral("%1(0x%2)").arg(t.offset).arg(t.offset, 0, 16);
        if (t.bitOffset != 0)
            place += QStringLiteral("/%1").arg(t.bitOffset);
        place += QStringLiteral(" +%1(0x%2) | ").arg(t.size).arg(t.size, 0, 16);
    }
    QString value;
    bool ok = false;
    if (readsUnsigned(t.dataType)) {
        const unsigned long v = getULong(&ok);
        value = ok ? QStringLiteral("%1 (0x%2)").arg(v).arg(v, 0, 16) : QStringLiteral("[Error getULong()]");
    } else if (readsSigned(t.dataType)) {
        const long v = getLong(&ok);
        value = ok ? QStringLiteral("%1 (0x%2)").arg(v).arg(v, 0, 16) : QStringLiteral("[Error getLong()]");
    } else if (readsFloating(t.dataType)) {
        const double v = getDouble(&ok);
        value = ok ? QString::number(v, 'g', 6) : QStringLiteral("[Error getDouble()]");
    } else if (t.dataType != dpdtNone) {
        value = QStringLiteral("[Not processing now]");
    }
    QString line = prefix + n->fullPath() + QStringLiteral(" | ") + place + DPDataTypeToString(t.dataType);
    if (!value.isEmpty())
        line += QStringLiteral(": ") + value;
    qDebug("%s", qUtf8Printable(line));
    const QString childPrefix = prefix + QStringLiteral("  ");
    for (const QDataPacketNode &child : childNodes())
        child.qDebugPrintXmlSubtree(childPrefix);
}
