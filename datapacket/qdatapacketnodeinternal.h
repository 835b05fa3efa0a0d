#ifndef QDATAPACKETNODEINTERNAL_H
#define QDATAPACKETNODEINTERNAL_H

#include "dpdatatype.h"
#include "korvadatapacket_export.h"

#include <qxmltranslation.h>

#include <QByteArray>
#include <QChar>
#include <QDomDocument>
#include <QDomElement>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringView>
#include <QVariant>

class QDataPacketInternal;
struct TemplateParse;

// One node of a packet template: its tag, name (with translations), id and
// identification codes, its data type and its place in the packet buffer.
// The node's children in the QObject tree are its child nodes, in document
// order; the whole tree is owned by its root, the QDataPacketInternal, and
// is read-only once parsed. The typed operations read and write the node's
// bytes in a buffer the caller hands in (the packet's); they fail (ok false)
// for a data type they do not accept and for a node that does not lie
// wholly inside the buffer (an offset or size below 0 included).
class KORVADATAPACKET_EXPORT QDataPacketNodeInternal : public QObject
{
    Q_OBJECT
public:
    // How toDomElement() writes a node: DOMCompact leaves out the attributes
    // that parsing would derive anyway; any other value writes all of them.
    enum DOMstyle { DOMCompact = 0, DOMFull = 1 };

    // A node of the tree of `root`, child of `parent` (null for the root).
    QDataPacketNodeInternal(QDataPacketInternal *root, QDataPacketNodeInternal *parent);
    ~QDataPacketNodeInternal() override;

    // Typed access (the accepted data types are those of QDataPacketNode).
    // Getters return 0 on failure, getDouble() -1.0 for a data type it does
    // not accept; setters return 0, or -1 on failure.
    virtual long getLong(const QByteArray &buffer, bool *ok = nullptr) const;
    virtual int setLong(QByteArray &buffer, long value, bool *ok = nullptr) const;
    virtual int setULong(QByteArray &buffer, unsigned long value, bool *ok = nullptr) const;
    virtual unsigned long getULong(const QByteArray &buffer, bool *ok = nullptr) const;
    virtual double getDouble(const QByteArray &buffer, bool *ok = nullptr) const;
    virtual int setDouble(QByteArray &buffer, double value, bool *ok = nullptr) const;
    // BYTE, WORD, DWORD, BIT as unsigned int, SBYTE, SWORD, SDWORD as int,
    // FLOAT and DOUBLE as double, BOOL as bool; an invalid QVariant otherwise.
    virtual QVariant getVariant(const QByteArray &buffer, bool *ok = nullptr) const;
    // Converts `value` by the same grouping and stores it; -1 when it does
    // not convert or the data type is not accepted.
    virtual int setVariant(QByteArray &buffer, const QVariant &value, bool *ok = nullptr) const;

    // Reverses the byte order of this subtree in `buffer` as `type` selects:
    // a multi-byte node's elements are reversed, then its children visited;
    // a structure's children are visited; a node without a swap unit ends
    // the walk. Nodes outside the buffer are skipped.
    void reverseByteOrder(QByteArray &buffer, DPReverseType type) const;
    // True when the node lies wholly inside a buffer of `bufferSize` bytes.
    bool fitsIn(qint64 bufferSize) const;

    // The root this node belongs to; null once the root is destroyed. Read
    // only: packets share the tree, so parsing it again would free nodes
    // under them.
    const QDataPacketInternal *packetInternal() const { return m_packet.data(); }
    const DPDataTypeStruct &type() const { return m_type; }
    // Position of the node in document order (the root is 0).
    qint64 documentIndex() const { return m_documentIndex; }

    QString name() const { return m_name.engName(); }
    QString translatedName() const { return m_name.translatedName(); }
    const QXmlTranslation &nameTranslation() const { return m_name; }
    void setNameTranslation(const QXmlTranslation &name) { m_name = name; }
    const QString &idName() const { return m_id; }
    const QString &tagName() const { return m_tag; }
    const QString &kks() const { return m_kks; }
    const QString &rtm() const { return m_rtm; }
    const QString &iid() const { return m_iid; }

    // The tag for the root; otherwise tag[@id="id"], followed by [n] for the
    // n-th (n > 1) of the parent's children with the same tag and id.
    QString shortPath() const;
    // "/" + tag for the root; otherwise the parent's full path, "/" and the
    // short path. Resolving it from any node of the tree yields this node.
    QString fullPath() const;

    // The parent node; null for the root.
    QDataPacketNodeInternal *parentNode() const;
    bool isHasChildNodes() const { return !children().isEmpty(); }
    QList<QDataPacketNodeInternal *> childNodes() const;
    QList<QDataPacketNodeInternal *> childNodesByTagName(const QString &tag) const;
    QList<QDataPacketNodeInternal *> childNodesByID(const QString &id) const;
    QList<QDataPacketNodeInternal *> childNodesByName(const QString &name) const;

    // Resolves `path` relative to this node: "" is the node itself, "." too,
    // ".." its parent; "/..." is absolute (its first step names the root's
    // tag or is empty); "./" and "../" continue below the node or its
    // parent; otherwise the first step selects the children with that tag
    // (all children when it is empty) and the rest is resolved against
    // them. Predicates filter the candidates: [n] the n-th (from 1),
    // [@id='v'] and [@name="v"] by id or English name. Null when the path
    // names nothing or is malformed.
    QDataPacketNodeInternal *getNodeInternalByPath(QStringView path) const;
    QDataPacketNodeInternal *getNodeInternalByPath(const QString &path) const
    {
        return getNodeInternalByPath(QStringView(path));
    }
    // Resolves `path` (predicates, then "/" and further steps, tried under
    // each candidate in turn) against `candidates`; an empty path yields the
    // first candidate.
    static QDataPacketNodeInternal *getNodeInternalBySubPath(QList<QDataPacketNodeInternal *> &candidates,
                                                             const QString &path);

    // The attribute's text; empty when absent.
    static QString getXMLAttrValue(const QDomNode &node, const QString &name);

    // This subtree as a DOM element of `doc`. `expectedOffset` and
    // `expectedBitOffset` are where parsing would place the node without
    // offset attributes; DOMCompact writes an offset only where it differs.
    QDomElement toDomElement(QDomDocument &doc, qint64 expectedOffset, qint64 expectedBitOffset,
                             DOMstyle style) const;

protected:
    friend class QDataPacketInternal;

    // Parses `element` into this node (deleting any children it had) at the
    // running offsets, which it advances past the node. `expand` enables the
    // joker `jokerChar` in the name, with copy number `index`. False, with
    // the reason in `parse`, when a number overflows or the node would lie
    // beyond the packet size limit.
    bool parseXMLSubTree(const QDomElement &element, qint64 &byteOffset, qint64 &bitOffset, bool expand,
                         QChar jokerChar, unsigned long index, TemplateParse &parse);

private:
    void toDomElementInto(QDomDocument &doc, QDomElement &element, qint64 expectedOffset, qint64 expectedBitOffset,
                          DOMstyle style) const;
    void deleteChildNodes();
    // The node's bytes in `buffer`, or null when it does not lie inside.
    const char *bytesIn(const QByteArray &buffer) const;
    char *bytesIn(QByteArray &buffer) const;

    QPointer<QDataPacketInternal> m_packet;
    DPDataTypeStruct m_type;
    QString m_id;
    QString m_kks;
    QString m_rtm;
    QString m_iid;
    QString m_tag;
    QXmlTranslation m_name;
    qint64 m_documentIndex = 0;
    // End of the furthest byte of this subtree (set by the parse).
    qint64 m_extentEnd = 0;
    // Number of this node among its siblings of the same tag and id, from 1
    // (set by the parse, so that paths cost no scan of the siblings).
    int m_sameIdNumber = 1;
};

#endif // QDATAPACKETNODEINTERNAL_H
