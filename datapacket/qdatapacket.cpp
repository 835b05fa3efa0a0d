#include "qdatapacket.h"

#include <QDataStream>
#include <QFile>
#include <QMutexLocker>
#include <QSaveFile>

#include <algorithm>
#include <cstring>
#include <limits>

QDataPacket::QDataPacket()
    : QDataPacket(new QDataPacketInternal)
{
}

QDataPacket::QDataPacket(QDataPacketInternal *tree)
{
    QDataPacket::init(tree);
}

QDataPacket::QDataPacket(const QDataPacket &other)
    : QDataPacketNode()
    , m_template(other.m_template)
    , m_buffer(other.m_buffer)
{
    QDataPacketNode::init(this, m_template.data());
}

QDataPacket &QDataPacket::operator=(const QDataPacket &other)
{
    if (this != &other) {
        init(other.m_template.data());
        m_buffer = other.m_buffer;
    }
    return *this;
}

QDataPacket::~QDataPacket() = default;

void QDataPacket::init(QDataPacketInternal *tree)
{
    m_template = QExplicitlySharedDataPointer<QDataPacketInternal>(tree);
    QDataPacketNode::init(this, tree);
    if (!tree)
        return;
    const int oldSize = m_buffer.size();
    const int newSize = static_cast<int>(tree->bufferSize());
    m_buffer.resize(newSize);
    if (newSize > oldSize)
        std::memset(m_buffer.data() + oldSize, 0, static_cast<size_t>(newSize - oldSize));
}

bool QDataPacket::parseXML(const QByteArray &xml, QString *errorMessage, int *errorLine, int *errorColumn, QChar joker)
{
    auto *tree = new QDataPacketInternal;
    const bool ok = tree->parseXML(xml, errorMessage, errorLine, errorColumn, joker);
    m_errorText = tree->errorText();
    m_buffer.clear();
    init(tree);
    return ok;
}

bool QDataPacket::parseXML(const QDomDocument &doc, QChar joker)
{
    auto *tree = new QDataPacketInternal;
    const bool ok = tree->parseXML(doc, joker);
    m_errorText = tree->errorText();
    m_buffer.clear();
    init(tree);
    return ok;
}

bool QDataPacket::loadFromFile(const QString &fileName, QChar joker)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        m_errorText = QStringLiteral("cannot open %1: %2").arg(fileName, file.errorString());
        return false;
    }
    const QByteArray xml = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        m_errorText = QStringLiteral("cannot read %1: %2").arg(fileName, file.errorString());
        return false;
    }
    if (parseXML(xml, nullptr, nullptr, nullptr, joker))
        return true;
    m_errorText = QStringLiteral("%1: %2").arg(fileName, m_errorText);
    return false;
}

QDomDocument QDataPacket::getPacketStructToFile(QDataPacketNodeInternal::DOMstyle style) const
{
    return m_template ? m_template->getPacketStructToFile(style) : QDomDocument();
}

bool QDataPacket::savePacketStructToFile(const QString &fileName, QDataPacketNodeInternal::DOMstyle style) const
{
    auto *self = const_cast<QDataPacket *>(this);
    if (!m_template) {
        self->m_errorText = QStringLiteral("cannot save %1: the packet has no template").arg(fileName);
        return false;
    }
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly)) {
        self->m_errorText = QStringLiteral("cannot write %1: %2").arg(fileName, file.errorString());
        return false;
    }
    file.write(getPacketStructToFile(style).toByteArray(1));
    if (!file.commit()) {
        self->m_errorText = QStringLiteral("cannot write %1: %2").arg(fileName, file.errorString());
        return false;
    }
    return true;
}

QList<QDataPacketNode> QDataPacket::handles(const QList<QDataPacketNodeInternal *> &nodes)
{
    QList<QDataPacketNode> result;
    result.reserve(nodes.size());
    for (QDataPacketNodeInternal *node : nodes)
        result.append(QDataPacketNode(this, node));
    return result;
}

QDataPacketNode QDataPacket::nodeByIID(const QString &iid)
{
    return m_template ? QDataPacketNode(this, m_template->nodeByIID(iid)) : QDataPacketNode();
}

QDataPacketNode QDataPacket::nodeByKKS(const QString &kks)
{
    return m_template ? QDataPacketNode(this, m_template->nodeByKKS(kks)) : QDataPacketNode();
}

QDataPacketNode QDataPacket::nodeByRTM(const QString &rtm)
{
    return m_template ? QDataPacketNode(this, m_template->nodeByRTM(rtm)) : QDataPacketNode();
}

QList<QDataPacketNode> QDataPacket::nodesByIID(const QString &iid)
{
    return m_template ? handles(m_template->nodesByIID(iid)) : QList<QDataPacketNode>();
}

QList<QDataPacketNode> QDataPacket::nodesByKKS(const QString &kks)
{
    return m_template ? handles(m_template->nodesByKKS(kks)) : QList<QDataPacketNode>();
}

QList<QDataPacketNode> QDataPacket::nodesByRTM(const QString &rtm)
{
    return m_template ? handles(m_template->nodesByRTM(rtm)) : QList<QDataPacketNode>();
}

QList<QDataPacketNode> QDataPacket::nodesWithCodes()
{
    return m_template ? handles(m_template->nodesWithCodes()) : QList<QDataPacketNode>();
}

bool QDataPacket::locked() const
{
    if (!m_mutex.tryLock())
        return true;
    m_mutex.unlock();
    return false;
}

qint64 QDataPacket::read(char *data, qint64 maxSize) const
{
    QMutexLocker locker(&m_mutex);
    if (!data || maxSize <= 0)
        return 0;
    const qint64 n = std::min<qint64>(maxSize, m_buffer.size());
    std::memcpy(data, m_buffer.constData(), static_cast<size_t>(n));
    return n;
}

qint64 QDataPacket::write(const char *data, qint64 size)
{
    QMutexLocker locker(&m_mutex);
    if (!data || size <= 0 || m_buffer.isEmpty())
        return 0;
    const qint64 n = std::min<qint64>(size, m_buffer.size());
    std::memcpy(m_buffer.data(), data, static_cast<size_t>(n));
    return n;
}

qint64 QDataPacket::write(const QByteArray &data)
{
    return write(data.constData(), data.size());
}

bool QDataPacket::replace(const QByteArray &data, int pos, int length)
{
    if (data.isEmpty())
        return false;
    QMutexLocker locker(&m_mutex);
    const qint64 size = m_buffer.size();
    const qint64 count = length < 0 ? data.size() : length;
    if (pos < 0 || pos > size || count > size - pos)
        return false;
    // A byte array cannot grow beyond the int range.
    if (size - count + data.size() > std::numeric_limits<int>::max() - 64)
        return false;
    m_buffer.replace(pos, static_cast<int>(count), data);
    return true;
}

void QDataPacket::fill(char c)
{
    QMutexLocker locker(&m_mutex);
    m_buffer.fill(c);
}

QDataStream &operator<<(QDataStream &out, const QDataPacket &packet)
{
    // Reading takes only a buffer of its template's size, so a packet
    // without one, or whose buffer replace() resized, fails here instead of
    // being written for the reader to refuse (with every packet after it).
    if (packet.isNull() || packet.buffer().size() != packet.templateInternal()->bufferSize()) {
        out.setStatus(QDataStream::WriteFailed);
        return out;
    }
    out << packet.getPacketStructToFile().toByteArray(1) << packet.buffer();
    return out;
}

QDataStream &operator>>(QDataStream &in, QDataPacket &packet)
{
    if (in.status() != QDataStream::Ok)
        return in;
    QByteArray xml;
    QByteArray bytes;
    in >> xml >> bytes;
    if (in.status() != QDataStream::Ok)
        return in;
    QExplicitlySharedDataPointer<QDataPacketInternal> tree(new QDataPacketInternal);
    if (!tree->parseXML(xml) || bytes.size() != tree->bufferSize()) {
        in.setStatus(QDataStream::ReadCorruptData);
        return in;
    }
    packet.init(tree.data());
    packet.buffer() = bytes;
    return in;
}
