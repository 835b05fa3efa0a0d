#ifndef MQCONNECTION_H
#define MQCONNECTION_H

#include "core/repeatedmessage.h"

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QString>

#include <mqueue.h>

// The text of error number `errnum` ("Unknown" when the system has none).
QString mqErrorText(int errnum);

// One POSIX message queue of a queue tie. The queue is opened non-blocking
// and created when missing; an existing queue keeps its own attributes, so
// messages are received into a buffer of the queue's own message size.
//
// A queue that failed to open for a reason that may pass (too many open
// files, the per-user queue memory, a limit or a permission an operator can
// change) is opened again when it is next used, at most once per
// RetryIntervalMs. Faults that persist (the failed opening, using a closed
// queue, a full queue) are reported once per streak and then summarised.
//
// A queue removed (unlinked) while open would swallow every later message
// unseen, as the other side then finds a new queue under the name: it is
// noticed when nothing waits in it any more or before a send, reported,
// and the name is opened (and created) again.
class MQConnection : public QObject
{
    Q_OBJECT
public:
    // Messages a queue holds when this connection creates it.
    static constexpr long CreatedMaxMessages = 10;
    // Least time between two attempts to open a queue that failed to open.
    static constexpr qint64 RetryIntervalMs = 5000;
    // A queue that refused messages counts as taking them again once it took
    // one and then refused none for this long: a reader that only just keeps
    // pace does not write a fault and its recovery every few ticks.
    static constexpr qint64 RecoveredAfterMs = 10000;

    explicit MQConnection(QObject *parent = nullptr);
    // Closes the queue.
    ~MQConnection() override;

    // Opens the queue: read-only for direction 1, write-only for 2, both for
    // 3. False (reported) when it is already open, when the name, the
    // message size or the direction is missing, or when the system refuses;
    // only a refusal by the system is retried later.
    bool open();
    // Closes the queue; no retry follows until open() is called again.
    void close();
    // Opens a queue whose last opening failed, when the retry interval has
    // passed. True when the queue is open (now or already).
    bool reopenIfDue();

    // Takes the oldest waiting message into the connection's buffer and
    // returns its length (0 for an empty message); -1 when none is waiting
    // or the queue cannot be read (reported). message() holds the bytes
    // until the next receive. Allocates nothing.
    qint64 receive();
    const char *message() const { return m_buffer.constData(); }
    // receive() as a copy; empty when nothing was taken.
    QByteArray receiveMsg();
    // Sends `size` bytes as one message of priority 0 without waiting. True
    // when the queue took it; false (reported) when it is closed, the message
    // is longer than the queue's messages, the queue is full, or the system
    // refuses.
    bool send(const char *data, qint64 size);
    bool send(const QByteArray &data) { return send(data.constData(), data.size()); }
    // Returns a message taken from the queue but not used to the queue,
    // ahead of the messages of priority 0 (with PutBackPriority), through
    // a write descriptor opened for it when the connection only reads. True
    // when the queue took it; false, written as a warning and a log line
    // saying the message is lost, when it is full or cannot be written.
    bool putBack(const char *data, qint64 size);
    static constexpr unsigned PutBackPriority = 1;

    bool isOpen() const { return m_mqd != kClosed; }
    bool canRead() const { return (m_direction & 1u) != 0; }
    bool canWrite() const { return (m_direction & 2u) != 0; }
    // True when the open queue no longer has its name (unlinked).
    bool isRemoved() const;
    // True while the streak of a refused send (closed, full, too long for
    // the queue) lasts.
    bool sendFailing() const { return m_sendReport.active() || !m_tooLongReports.isEmpty(); }
    // True while a failed opening waits for its retry.
    bool retryPending() const { return m_retry; }

    QString name() const { return m_name; }
    void setName(const QString &name) { m_name = name; }
    // Bytes of the messages the queue is created for (the tie's largest area).
    quint64 messageSize() const { return m_messageSize; }
    void setMessageSize(quint64 bytes) { m_messageSize = bytes; }
    // Direction bits: 1 read, 2 write.
    quint32 direction() const { return m_direction; }
    void setDirection(quint32 direction) { m_direction = direction; }
    // The open queue's own message size and capacity; 0 while closed.
    quint64 queueMessageSize() const { return isOpen() ? static_cast<quint64>(m_buffer.size()) : 0; }
    long queueMaxMessages() const { return m_queueMaxMessages; }

    // Ends the send fault's streak once the queue took a message and
    // refused none for RecoveredAfterMs; called before every send and once
    // per send pass, so a queue that has nothing more to take recovers too.
    void endSendFaultIfRecovered();

private:
    // Opens the name again when the open queue was removed; true when the
    // queue is open afterwards.
    bool reopenIfRemoved();

    static constexpr mqd_t kClosed = static_cast<mqd_t>(-1);

    mqd_t m_mqd;
    QString m_name;
    quint64 m_messageSize;
    quint32 m_direction;
    long m_queueMaxMessages;
    QByteArray m_buffer;
    bool m_retry;
    qint64 m_lastAttemptMs;
    RepeatedMessage m_openReport;
    RepeatedMessage m_receiveReport;
    RepeatedMessage m_sendReport;
    bool m_tookSinceSendFault;
    // Messages too long for the queue, one streak per length (the lengths
    // are the tie's unit sizes, so few): a unit that never fits does not
    // report and recover on every tick beside one that does.
    QHash<qint64, RepeatedMessage> m_tooLongReports;
    RepeatedMessage m_removedReport;
};

#endif // MQCONNECTION_H
