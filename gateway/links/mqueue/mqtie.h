#ifndef MQTIE_H
#define MQTIE_H

#include "core/baseareatie.h"
#include "core/repeatedmessage.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QVector>

class MQConnection;

// Exchanges fixed byte areas with local processes through POSIX message
// queues: one message carries exactly one unit's area. The units lie back to
// back in the tie's memory.
//
// Incoming messages are read from the first queue only, once per poll of the
// tie's first "in" unit (the main cycle polls every unit each tick), and go
// to the "in" unit whose area has the message's length: each "in" unit takes
// at most MaxMessagesPerUnit messages per poll, the newest winning. A message
// that arrives for a unit that has had its share is kept for the next poll,
// and reading stops there; a message of no unit's length is dropped.
//
// A dirty "out" unit goes as one message to every writable queue while the
// switch is open. A unit that no queue took stays dirty and goes again, with
// its newest area, on the next send pass; sending never waits. A unit that
// some queues took and others refused also stays dirty: it goes again only
// to those that refused it, until every queue holds it or a conversion
// updates the unit (then its newest area goes to every queue).
class MQTie : public BaseAreaTie
{
    Q_OBJECT
public:
    // The largest memory (all areas together) a tie keeps.
    static constexpr quint64 MaxMemoryBytes = 64u * 1024u * 1024u;
    // The largest message the system's queues carry.
    static constexpr quint64 MaxMessageBytes = 16u * 1024u * 1024u;
    // Messages one "in" unit takes per poll at the most.
    static constexpr int MaxMessagesPerUnit = 3;

    explicit MQTie(QObject *parent = nullptr);
    // Closes and deletes every connection.
    ~MQTie() override;

    using BaseAreaTie::pollUnitData;
    using BaseAreaTie::sendUnitData;

    // Sends the dirty units, then lets each writable queue end a send fault
    // it has recovered from.
    void sendDirty() override;

    // 1 until a message arrived, then 0; 3 after an "in" unit was polled
    // while the first queue cannot be read (or there is none).
    qint32 state() const override;
    // True while a writable queue refuses what is sent to it.
    bool deliveryFailing() const override;
    // Initialises every unit; the "in" units are listed anew at the next poll.
    void init() override;
    // Also resizes the memory (new bytes zero) while the size stays within
    // MaxMemoryBytes; beyond it the memory keeps its size and memoryFits()
    // turns false.
    void setAreaSize(quint64 bytes) override;
    // Places `unit` and raises the largest unit size.
    void addUnit(BaseAreaTieUnit *unit) override;
    // Whether new data arrived for the "in" unit `unit`. Polling the first
    // "in" unit reads the queue for all of them. A unit without direction
    // bit 1 gives false and leaves the state alone.
    bool pollUnitData(BaseAreaTieUnit *unit) override;
    // Sends the dirty `unit` to every writable queue that lacks its latest
    // update. The unit is marked sent once every such queue took it; true
    // when the update reached a queue for the first time.
    bool sendUnitData(BaseAreaTieUnit *unit) override;
    // The unit's slice of the memory; null when it does not lie wholly inside.
    uchar *data(BaseAreaTieUnit *unit) override;

    // Opens every connection that is closed; true when all are open then.
    bool openAll();
    // Closes every connection.
    void closeAll();

    // Appends `connection` (ownership passes to the tie).
    void addConnection(MQConnection *connection);
    const QList<MQConnection *> &connections() const { return m_connections; }
    // Every queue the tie reads: two readers would split its messages.
    QStringList exclusiveClaims() const override;
    // A message taken from the queue and held for the next poll (past the
    // per-poll budget of its area) goes back into the queue, ahead of what
    // waits there, for the tie that reads the queue next.
    void drain() override;
    // After a reload that changed the section: the messages a predecessor
    // reading the same queue held stay in memory and come first at this
    // tie's first poll (a full queue could not take them back).
    void takeOver(BaseTie &predecessor) override;
    // The largest area size among the units added so far.
    quint64 largestUnitSize() const { return m_largestUnitSize; }
    // True while the memory holds the whole area.
    bool memoryFits() const { return static_cast<quint64>(m_memory.size()) == areaSize(); }

private:
    // An "in" unit with what the current poll brought it.
    struct InArea {
        BaseAreaTieUnit *unit = nullptr;
        quint64 size = 0;
        int taken = 0;      // messages taken in the current poll
        bool fresh = false; // data arrived that the unit has not reported yet
        bool held = false;  // `heldMessage` waits for the next poll
        QByteArray heldMessage;
    };

    // Lists the "in" units by area size (the first of a size wins).
    void refreshInAreas();
    // Reads the first queue and hands each message to its unit.
    void readQueue(MQConnection *queue);
    // Copies a message into the area of `in`.
    void take(InArea &in, const char *bytes);
    // A message of `length` bytes that fits no "in" unit.
    void drop(qint64 length);

    qint32 m_state;
    QByteArray m_memory;
    QList<MQConnection *> m_connections;
    quint64 m_largestUnitSize;
    QVector<InArea> m_inAreas;
    bool m_inAreasStale;
    RepeatedMessage m_dropReport;
    QString m_dropWarning; // the first line of the running drop streak
    // Units that some queues took and others refused: the update taken
    // (the unit's conversion count) and, by connection index, whether that
    // queue still lacks it.
    struct Owed {
        quint64 conversions = 0;
        QVector<bool> owes;
    };
    QHash<const BaseAreaTieUnit *, Owed> m_owed;
    // Messages a predecessor held, oldest first, until the first poll.
    QList<QByteArray> m_inherited;
    QString m_dropLog;
};

#endif // MQTIE_H
