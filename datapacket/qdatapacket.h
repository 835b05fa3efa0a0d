#ifndef QDATAPACKET_H
#define QDATAPACKET_H

#include "korvadatapacket_export.h"
#include "qdatapacketinternal.h"
#include "qdatapacketnode.h"

#include <QByteArray>
#include <QChar>
#include <QDomDocument>
#include <QExplicitlySharedDataPointer>
#include <QList>
#include <QMutex>
#include <QString>

class QDataStream;

// A packet of bytes laid out by a template tree. The packet is the handle
// of the template's root node. Copies share the template (the last packet
// holding it deletes it) and each has its own buffer (copied on the first
// write). The buffer always has the template's size once a template is
// attached; bytes it gains are zeroed.
//
// Only read(char*, qint64), write(), replace() and fill() take the packet's
// mutex themselves; node access, buffer() and read() do not, so code that
// shares a packet between threads holds lock() around them. The mutex is
// not recursive.
class KORVADATAPACKET_EXPORT QDataPacket : public QDataPacketNode
{
    Q_OBJECT
public:
    // A packet with a new, empty template and an empty buffer.
    QDataPacket();
    // A packet attached to `tree` (see init()).
    explicit QDataPacket(QDataPacketInternal *tree);
    QDataPacket(const QDataPacket &other);
    QDataPacket &operator=(const QDataPacket &other);
    ~QDataPacket() override;

    using QDataPacketNode::init;
    // Attaches `tree` (a heap object; the packet takes a share of it and the
    // last sharer deletes it), dropping the previous template, and sizes the
    // buffer to it. A null `tree` leaves the packet without template.
    virtual void init(QDataPacketInternal *tree);

    // Replace the template by one parsed from `xml` or `doc` (see
    // QDataPacketInternal::parseXML); the buffer is then the template's
    // size, all zero. On failure the packet keeps a new, empty template and
    // errorText() says why.
    bool parseXML(const QByteArray &xml, QString *errorMessage = nullptr, int *errorLine = nullptr,
                  int *errorColumn = nullptr, QChar joker = QChar());
    bool parseXML(const QDomDocument &doc, QChar joker = QChar());
    // parseXML() of the whole file; false when it cannot be read or parsed.
    bool loadFromFile(const QString &fileName, QChar joker = QChar());
    // The template as a document; an empty document without template.
    QDomDocument getPacketStructToFile(QDataPacketNodeInternal::DOMstyle style
                                       = QDataPacketNodeInternal::DOMCompact) const;
    // Writes getPacketStructToFile() to `fileName` as UTF-8 with an
    // indentation of 1, replacing the file only when all was written.
    bool savePacketStructToFile(const QString &fileName,
                                QDataPacketNodeInternal::DOMstyle style = QDataPacketNodeInternal::DOMCompact) const;
    // Why the last parse, load, save or blob operation failed.
    QString errorText() const { return m_errorText; }

    // The node most recently entered under a code; a null handle when none.
    QDataPacketNode nodeByIID(const QString &iid);
    QDataPacketNode nodeByKKS(const QString &kks);
    QDataPacketNode nodeByRTM(const QString &rtm);
    // All nodes under a code, the most recently entered first.
    QList<QDataPacketNode> nodesByIID(const QString &iid);
    QList<QDataPacketNode> nodesByKKS(const QString &kks);
    QList<QDataPacketNode> nodesByRTM(const QString &rtm);
    // Every node with any code, in document order.
    QList<QDataPacketNode> nodesWithCodes();

    void lock() { m_mutex.lock(); }
    void unlock() { m_mutex.unlock(); }
    // Takes the lock if it is free; returns at once.
    bool tryLock() { return m_mutex.tryLock(); }
    QMutex *mutex() { return &m_mutex; }
    // True when anybody holds the lock (it is tried and released at once).
    bool locked() const;

    // The buffer itself, without locking.
    QByteArray &buffer() { return m_buffer; }
    const QByteArray &buffer() const { return m_buffer; }
    // A copy of the buffer, without locking.
    QByteArray read() const { return m_buffer; }
    // Under the lock, copies min(maxSize, buffer size) bytes from the start
    // of the buffer to `data` and returns that count (0 for a negative size).
    qint64 read(char *data, qint64 maxSize) const;
    // Under the lock, copies min(size, buffer size) bytes to the start of
    // the buffer and returns that count; the buffer never grows.
    qint64 write(const char *data, qint64 size);
    qint64 write(const QByteArray &data);
    // Under the lock, replaces `length` bytes at `pos` by `data` (a negative
    // `length` means the size of `data`); the buffer size changes when the
    // two differ. False, with the buffer untouched, for empty `data` and
    // unless 0 <= pos <= size and length <= size - pos.
    bool replace(const QByteArray &data, int pos, int length = -1);
    // Under the lock, sets every byte of the buffer to `c`.
    void fill(char c);

    // True when the packet has no template.
    bool isNull() const { return !m_template; }
    // The template tree, shared with the packet's copies; read only, as the
    // packet's texts and handles refer to its nodes.
    const QDataPacketInternal *templateInternal() const { return m_template.data(); }

protected:
    void setErrorText(const QString &text) { m_errorText = text; }

private:
    QList<QDataPacketNode> handles(const QList<QDataPacketNodeInternal *> &nodes);

    mutable QMutex m_mutex;
    QExplicitlySharedDataPointer<QDataPacketInternal> m_template;
    QByteArray m_buffer;
    QString m_errorText;
};

// Stream form: the template as its compact XML text, then the buffer, both
// as byte arrays. Reading applies nothing unless both arrived whole, the
// template parses and the buffer has its size; otherwise the stream reports
// ReadPastEnd or ReadCorruptData and the packet is unchanged.
KORVADATAPACKET_EXPORT QDataStream &operator<<(QDataStream &out, const QDataPacket &packet);
KORVADATAPACKET_EXPORT QDataStream &operator>>(QDataStream &in, QDataPacket &packet);

#endif // QDATAPACKET_H
