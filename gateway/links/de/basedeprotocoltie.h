#ifndef BASEDEPROTOCOLTIE_H
#define BASEDEPROTOCOLTIE_H

#include "core/basepackettie.h"
#include "core/repeatedmessage.h"
#include "links/de/deparamindex.h"
#include "links/de/deprotocolpackets.h"

#include <QDateTime>
#include <QHash>

class BaseTieParam;
class BaseTieUnit;

// A tie that exchanges list parameters with DE peers. The parameters of its
// from-this units are written by the parameter-pack processor as packs
// arrive; its consumer parameters are collected, as a tick converts them,
// into one pack per data type, and sendDirty() hands every pack to the
// connections (sendFrame()). Values converted while no connection is
// up go to nobody. The tie's state follows the traffic: 2 before the first
// frame and after every connection was lost, 4 after a protocol timeout
// without frames, 0 otherwise.
class BaseDEProtocolTie : public BasePacketTie
{
    Q_OBJECT
public:
    static constexpr int DefaultProtocolTimeout = 3000;
    static constexpr int DefaultKeepAlivePeriod = 1500;
    // A streak of dropped packs or unexpected values ends (and its summary
    // is written) after this long without another one.
    static constexpr qint64 FaultQuietMsecs = 60 * 1000;

    explicit BaseDEProtocolTie(QObject *parent = nullptr);
    ~BaseDEProtocolTie() override;

    // Converts every unit that received since its last conversion, then
    // reports the tick's dropped packs and unexpected values (once per streak).
    void pollAndConvert() override;
    // Sends the packs collected since the last send and clears every
    // unit's dirty flag.
    void sendDirty() override;
    qint32 state() const override;
    // Resets every parameter. What the reset converted into the consumers
    // is not sent: a connection gets current values as its snapshot.
    void init() override;
    // True once after each pack that wrote parameters of `unit`.
    bool pollUnitData(BaseTieUnit *unit) override;
    // Adds the converted `param` to its type's pack.
    void doPostParamConversionWork(BaseTieParam *param) override;
    int protocolTimeout() const override;
    int keepAlivePeriod() const override;
    void setProtocolTimeout(int msecs) override;
    void setKeepAlivePeriod(int msecs) override;
    // Appends `unit` (ownership passes to the tie); its list parameters
    // join the incoming index (direction bit 1) and the outgoing one (bit 2).
    void addUnit(BaseTieUnit *unit) override;

    const DEParamIndex &incomingIndex() const { return m_incoming; }
    const DEParamIndex &outgoingIndex() const { return m_outgoing; }
    DEProtocolPackets &packets() { return m_packets; }
    // UTC time of the last frame from any connection; invalid before the
    // first and after all connections were lost.
    QDateTime lastReceived() const { return m_lastReceived; }

    // The pack just read wrote parameters of `unit` at `now`: the unit is
    // converted in the next tick.
    void noteUnitReceived(BaseTieUnit *unit, const QDateTime &now);
    // `values` received values matched no parameter of the tie.
    void noteUnexpected(quint64 values);
    // Adds the current value of every parameter of the units of exactly
    // "to this" direction (what the tie sends; a unit of both directions
    // is never bound) to `packets`: what a new connection gets first.
    void collectSnapshot(DEProtocolPackets &packets) const;
    // Connections a pack sent now would reach; base: 0.
    virtual int connectedCount() const;

signals:
    void signalMsgForProtocol(const QString &msg, const QString &key = QString());
    void signalSendPacket(const QByteArray &pack);

public slots:
    void slotLostAllConnections();
    void slotSomethingReceived();
    // Writes `msg`, a connection event of the protocol, to the operator
    // log. A peer that takes every connection and drops it at once would
    // write the same lines every few seconds for days, so a text that comes
    // again is counted and summarised until its streak ends: with a steady
    // connection (slotConnectionSteady) or after FaultQuietMsecs without it.
    // Texts that differ only in a figure (bytes received) come with the
    // same `key`, which then tells repeats apart instead of the text.
    void logProtocolMessage(const QString &msg, const QString &key = QString());
    // A connection has delivered for a protocol timeout: every streak of
    // connection events ends.
    void slotConnectionSteady();

protected:
    // Parameters carried by `frame`, a pack built by DEProtocolPackets.
    static quint32 packParamCount(const QByteArray &frame);
    // Hands `frame` to the connections; the number it was written on.
    // Base: signalSendPacket, counted as connectedCount().
    virtual int sendFrame(const QByteArray &frame);
    // Called before the frames of one send pass go out; base: nothing.
    virtual void beginSend();

private:
    // One kind of traffic fault reported once per streak.
    struct FaultStreak {
        quint64 seen = 0;
        qint64 lastMsecs = 0;
        RepeatedMessage message;
    };
    // Reports `text` (untranslated, %1 the tie's id; built only when it is
    // written or counted) when `total` moved since the last tick, and ends
    // the streak after FaultQuietMsecs without a change.
    void followStreak(FaultStreak &streak, quint64 total, qint64 now, const char *text);

    // The streak of one connection event text.
    struct EventStreak {
        qint64 lastMsecs = 0;
        RepeatedMessage message{RepeatedMessage::Log};
    };
    // Ends the event streaks whose text was last seen before `before`
    // (all of them for the largest value).
    void endEventStreaks(qint64 before);

    // Generations of a unit's receipts and of the one last converted.
    struct UnitMarks {
        quint64 received = 0;
        quint64 converted = 0;
    };

    DEParamIndex m_incoming;
    DEParamIndex m_outgoing;
    DEProtocolPackets m_packets;
    QDateTime m_lastReceived;
    qint64 m_lastReceivedMsecs;
    int m_protocolTimeout;
    int m_keepAlive;
    QHash<const BaseTieUnit *, UnitMarks> m_marks;
    quint64 m_generation;
    quint64 m_unexpected;
    FaultStreak m_droppedStreak;
    FaultStreak m_unexpectedStreak;
    QHash<QString, EventStreak> m_events;
};

#endif // BASEDEPROTOCOLTIE_H
