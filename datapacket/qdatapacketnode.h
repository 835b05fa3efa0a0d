#ifndef QDATAPACKETNODE_H
#define QDATAPACKETNODE_H

#include "dpdatatype.h"
#include "korvadatapacket_export.h"
#include "qdatapacketnodeinternal.h"

#include <qxmltranslation.h>

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QVariant>

class QDataPacket;

// Handle to one node of a packet: a template node and the packet whose
// buffer holds its bytes, both held by guarded pointers. A handle is null
// when either is gone or when the node is not of the packet's current
// template (the packet was given another one); a null handle fails every
// operation without touching memory. Copying a handle copies both pointers.
//
// Every value operation sets `ok` (when given) to its success. Getters
// return 0 on failure (getDouble() -1.0 for a data type it does not
// accept), setters 0 or -1. Accepted data types: getULong/setULong BYTE,
// WORD, DWORD, BIT, BOOL; getLong/setLong SBYTE, SWORD, SDWORD;
// getDouble/setDouble FLOAT, DOUBLE; the variant forms all of these. Values
// are read in the node's byte order. The by-path forms resolve the path
// relative to this node first (QDataPacketNodeInternal::getNodeInternalByPath).
// Nothing here locks the packet: callers sharing a packet between threads
// hold its lock.
class KORVADATAPACKET_EXPORT QDataPacketNode : public QObject
{
    Q_OBJECT
public:
    QDataPacketNode();
    QDataPacketNode(QDataPacket *packet, QDataPacketNodeInternal *node);
    QDataPacketNode(const QDataPacketNode &other);
    QDataPacketNode &operator=(const QDataPacketNode &other);
    ~QDataPacketNode() override;

    // Points the handle at `node` in the buffer of `packet`.
    virtual void init(QDataPacket *packet, QDataPacketNodeInternal *node);

    virtual long getLong(bool *ok = nullptr) const;
    virtual int setLong(long value, bool *ok = nullptr);
    virtual int setULong(unsigned long value, bool *ok = nullptr);
    virtual unsigned long getULong(bool *ok = nullptr) const;
    virtual double getDouble(bool *ok = nullptr) const;
    virtual int setDouble(double value, bool *ok = nullptr);
    virtual QVariant getVariant(bool *ok = nullptr) const;
    virtual int setVariant(const QVariant &value, bool *ok = nullptr);
    virtual long getLongByPath(const QString &path, bool *ok = nullptr) const;
    virtual int setLongByPath(long value, const QString &path, bool *ok = nullptr);
    virtual int setULongByPath(unsigned long value, const QString &path, bool *ok = nullptr);
    virtual unsigned long getULongByPath(const QString &path, bool *ok = nullptr) const;
    virtual double getDoubleByPath(const QString &path, bool *ok = nullptr) const;
    virtual int setDoubleByPath(double value, const QString &path, bool *ok = nullptr);
    virtual QVariant getVariantByPath(const QString &path, bool *ok = nullptr) const;
    virtual int setVariantByPath(const QVariant &value, const QString &path, bool *ok = nullptr);

    // Size and offset of the node; 0 for a null handle.
    qint64 byteSize() const;
    qint64 offset() const;
    // A copy of the node's type descriptor, owned by the caller; null for a
    // null handle.
    DPDataTypeStruct *dataType() const;
    // Names of the data and meta type; empty for a null handle.
    QString dataTypeName() const;
    QString metaTypeName() const;
    // English name, id, tag and full path of the node; empty for a null handle.
    QString name() const;
    QString idName() const;
    QString tagName() const;
    QString fullPath() const;

    bool isNull() const;
    bool isHasChildNodes() const;
    // Handles for the child nodes, in order.
    QList<QDataPacketNode> childNodes() const;
    // Handles for at most `maxCount` child nodes whose id is `id`, in order.
    QList<QDataPacketNode> childNodesWithId(int maxCount, const QString &id) const;
    // The node at `path` relative to this one; a null handle when none.
    QDataPacketNode nodeByPath(const QString &path) const;
    QXmlTranslation nameTranslation() const;
    void setNameTranslation(const QXmlTranslation &name);

    // The node's bytes in the packet's buffer, or null (with a debug
    // message) for a null handle and for a node that does not lie inside
    // the buffer. The non-const form detaches the buffer.
    char *data();
    const char *data() const;

    // Reverses the byte order of this subtree in the packet's buffer.
    void reverseByteOrder(DPReverseType type);

    // The value as text by the node's meta type: unsigned and signed
    // integers in decimal, FLOAT and DOUBLE with 6 significant digits ("?"
    // when the read fails); other types the node's bytes in hexadecimal
    // ("[41 42 00 7f]", "--" for a byte outside the buffer), or the empty
    // string for a node with children.
    QString stringValue() const;

    // Debug output: the header line "Path | Offset | DataType: Value", one
    // line per node of the subtree (path, place, type, value), both.
    void qDebugPrintXmlHeader() const;
    void qDebugPrintXmlSubtree(const QString &prefix) const;
    void qDebugPrintXml() const;

    QDataPacketNodeInternal *nodeInternal() const { return m_node.data(); }
    QDataPacket *packet() const { return m_packet.data(); }

protected:
    // The node, and in `packet` its packet, when the handle is not null.
    QDataPacketNodeInternal *liveNode(QDataPacket **packet) const;

    QPointer<QDataPacketNodeInternal> m_node;
    QPointer<QDataPacket> m_packet;
};

#endif // QDATAPACKETNODE_H
