#ifndef QDATAPACKETINTERNAL_H
#define QDATAPACKETINTERNAL_H

#include "korvadatapacket_export.h"
#include "qdatapacketnodeinternal.h"

#include <QByteArray>
#include <QChar>
#include <QDomDocument>
#include <QList>
#include <QMultiHash>
#include <QSharedData>
#include <QString>

// A parsed packet template: the root node (tag "packet") of the node tree,
// the code indexes and the list of coded nodes. Packets share one tree
// through its QSharedData count and the last of them deletes it; a tree
// handed to a packet must therefore live on the heap. Read-only once
// parsed, so packets in different threads may share it.
//
// Parsing refuses trees a packet could not sensibly carry: nodes nested
// deeper than MaxDepth below the root, more than MaxNodes nodes or more
// than MaxWork steps of parsing (both counted before any node is created,
// so nested counts cannot exhaust memory or time first: a step is about one
// attribute or child element looked at, or one character of a name or
// translation copied, for every copy a count makes), and any node or
// running offset beyond MaxBytes; a number attribute that does not fit an
// int fails the parse as well.
// The fuzz target builds the parser with lower node and byte limits, so
// that its inputs stay fast and small under the sanitizers.
#ifndef KORVADATAPACKET_MAX_NODES
#define KORVADATAPACKET_MAX_NODES 1000000
#endif
#ifndef KORVADATAPACKET_MAX_BYTES
#define KORVADATAPACKET_MAX_BYTES (64 * 1024 * 1024)
#endif

class KORVADATAPACKET_EXPORT QDataPacketInternal : public QDataPacketNodeInternal, public QSharedData
{
    Q_OBJECT
public:
    static constexpr int MaxDepth = 64;
    static constexpr qint64 MaxNodes = KORVADATAPACKET_MAX_NODES;
    static constexpr qint64 MaxBytes = KORVADATAPACKET_MAX_BYTES;
    static constexpr qint64 MaxWork = 64 * MaxNodes;

    // An empty tree: a root of size 0 without children.
    QDataPacketInternal();
    ~QDataPacketInternal() override;

    // Builds the tree from the `packet` element of `doc`; `joker`, unless
    // null, is the joker character of the root's name. On failure the tree
    // is left empty and errorText() says why.
    bool parseXML(const QDomDocument &doc, QChar joker = QChar());
    // Parses `xml` (without namespace processing) and then as above. The
    // reason of a failure goes to `errorMessage`, its position (the XML
    // parser's, or the offending element's) to `errorLine` and
    // `errorColumn`; each may be null.
    bool parseXML(const QByteArray &xml, QString *errorMessage = nullptr, int *errorLine = nullptr,
                  int *errorColumn = nullptr, QChar joker = QChar());
    // Why the last parse failed, with the position when there is one;
    // empty after a successful parse.
    QString errorText() const;

    // Bytes a packet of this template holds: the root's size, or more when
    // a node reaches further (so that every node is reachable).
    qint64 bufferSize() const { return m_bufferSize; }
    // Number of nodes, the root included.
    qint64 nodeCount() const { return m_nodeCount; }

    // The template as a document (doctype "packet", system id "packet.dtd",
    // an XML declaration for UTF-8); `style` as in toDomElement().
    QDomDocument getPacketStructToFile(DOMstyle style = DOMCompact) const;

    // Nodes under a code, the most recently entered first.
    QList<QDataPacketNodeInternal *> nodesByKKS(const QString &kks) const { return m_kksIndex.values(kks); }
    QList<QDataPacketNodeInternal *> nodesByRTM(const QString &rtm) const { return m_rtmIndex.values(rtm); }
    QList<QDataPacketNodeInternal *> nodesByIID(const QString &iid) const { return m_iidIndex.values(iid); }
    // The node most recently entered under a code, or null.
    QDataPacketNodeInternal *nodeByKKS(const QString &kks) const { return m_kksIndex.value(kks); }
    QDataPacketNodeInternal *nodeByRTM(const QString &rtm) const { return m_rtmIndex.value(rtm); }
    QDataPacketNodeInternal *nodeByIID(const QString &iid) const { return m_iidIndex.value(iid); }
    // Every node with a kks, rtm or iid code, in document order.
    const QList<QDataPacketNodeInternal *> &nodesWithCodes() const { return m_codedNodes; }

private:
    friend class QDataPacketNodeInternal;

    void reset();
    bool fail(const QString &reason, int line, int column);
    // Enters a freshly parsed node into the indexes.
    void indexNode(QDataPacketNodeInternal *node);

    QMultiHash<QString, QDataPacketNodeInternal *> m_kksIndex;
    QMultiHash<QString, QDataPacketNodeInternal *> m_rtmIndex;
    QMultiHash<QString, QDataPacketNodeInternal *> m_iidIndex;
    QList<QDataPacketNodeInternal *> m_codedNodes;
    QString m_errorReason;
    int m_errorLine = -1;
    int m_errorColumn = -1;
    qint64 m_bufferSize = 0;
    qint64 m_nodeCount = 1;
};

#endif // QDATAPACKETINTERNAL_H
