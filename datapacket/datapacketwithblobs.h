#ifndef DATAPACKETWITHBLOBS_H
#define DATAPACKETWITHBLOBS_H

#include "korvadatapacket_export.h"
#include "qdatapacket.h"

#include <QByteArray>
#include <QHash>
#include <QString>

// A packet with a variable-length blob part after its fixed buffer, for
// texts. A text is stored for a node of the packet's template (one that can
// hold an offset: BYTE, WORD or DWORD, typically with the meta type
// BLOBQSTRING); packBlobs() lays the texts out in the blob part and writes
// each one's offset there into its node. The texts belong to the current
// template: any change of template (init, parseXML, loadFromFile, stream-in,
// assignment from a plain packet) forgets them and empties the blob part.
// Nothing here locks the packet.
class KORVADATAPACKET_EXPORT DataPacketWithBlobs : public QDataPacket
{
    Q_OBJECT
public:
    DataPacketWithBlobs();
    explicit DataPacketWithBlobs(QDataPacketInternal *tree);
    // Shares the template and copies the buffer; no texts, empty blob part.
    DataPacketWithBlobs(const QDataPacket &other);
    // Copies the texts and the blob part too.
    DataPacketWithBlobs(const DataPacketWithBlobs &other);
    DataPacketWithBlobs &operator=(const QDataPacket &other);
    DataPacketWithBlobs &operator=(const DataPacketWithBlobs &other);
    ~DataPacketWithBlobs() override;

    using QDataPacket::init;
    // Attaches `tree` and forgets the texts and the blob part.
    void init(QDataPacketInternal *tree) override;

    // Store `text` for a node (replacing an earlier text for it): a handle of
    // this very packet, the node at `path` from the root, or a node of this
    // packet's template. Return 0, or -1 (nothing stored, errorText() says
    // why) for a node of another packet or template, no node, or a node
    // that cannot hold an offset.
    int setQStringByNode(const QString &text, const QDataPacketNode &node, bool *ok = nullptr);
    int setQStringByPath(const QString &text, const QString &path, bool *ok = nullptr);
    int setQStringByNodeInternal(const QString &text, const QDataPacketNodeInternal *node, bool *ok = nullptr);

    // Forgets the texts and empties the blob part.
    virtual void initBlobPart();
    // Zeroes the fixed buffer, then initBlobPart().
    virtual void clear();
    // Rebuilds the blob part: four zero bytes (offset 0 names no text),
    // then the texts in document order of their nodes, each serialised as
    // a QDataStream writes a QString; each node gets its text's offset. False,
    // with nothing changed and errorText() naming the node, when an offset
    // does not fit the node's type or the node is not inside the buffer.
    virtual bool packBlobs();

    const QByteArray &blobPart() const { return m_blobPart; }
    // Number of stored texts.
    int blobCount() const { return m_blobs.size(); }

private:
    int refuse(const QString &reason, bool *ok);

    QByteArray m_blobPart;
    QHash<const QDataPacketNodeInternal *, QByteArray> m_blobs;
};

#endif // DATAPACKETWITHBLOBS_H
