#ifndef MQTTTIE_H
#define MQTTTIE_H

#include "config/csvtieunit.h"
#include "core/basetie.h"
#include "core/repeatedmessage.h"
#include "links/mqtt/mqttbuffer.h"
#include "links/mqtt/mqttsettings.h"
#include "links/mqtt/qmqttconnection.h"

#include <QByteArray>
#include <QHash>
#include <QSet>
#include <QVector>

class CsvTieParam;

// A parameter list of an MQTT tie. To-this units publish their parameters;
// from-this units take theirs from "/set" topics. Values set by command do
// not go stale: they hold until the next command, as long as the
// connection does.
class MqttTieUnit : public CsvTieUnit
{
    Q_OBJECT
public:
    explicit MqttTieUnit(BaseTie *tie = nullptr);
    ~MqttTieUnit() override;

    // A from-this unit: the tie's state while it is not 0, else 1 until
    // its first value arrived, then 0. A to-this unit: 0, whatever the
    // connection does (its values wait in the tie's buffer). 3 without tie
    // or direction.
    qint32 state() const override;

    // What was last published of one parameter.
    struct Published {
        QByteArray topic;
        uchar element[16];
        int bytes = 0;     // bytes of the element compared (0: never published)
    };
    QVector<Published> &published() { return m_published; }

    // Values arrived since the last poll.
    void setNewData() { m_newData = true; }
    bool takeNewData()
    {
        const bool had = m_newData;
        m_newData = false;
        return had;
    }

private:
    QVector<Published> m_published; // one per parameter, in their order
    bool m_newData;
};

// The tie to an MQTT broker ("mqtt" section).
//
// Every parameter of a to-this unit whose value or validity a conversion
// changed is published on "<prefix>/<identifier>" (the KKS, else the IID,
// else the index) as one JSON message (see MqttPayload), stamped with its
// data time. From-this units subscribe "<prefix>/<identifier>/set"; what
// arrives there is written into the parameter, stamped now, for the
// consumers of other ties; a payload that does not fit is reported
// (repeats summarised per topic) and changes nothing.
//
// Messages wait in a bounded buffer (MqttBuffer) until the broker
// acknowledged them (quality 1) or took them (quality 0): while the broker
// cannot be reached they accumulate, past a bound the oldest are dropped
// and counted, and on reconnection they go out in their order before newer
// ones. The tie's state is 0 while connected, 2 otherwise.
class MqttTie : public BaseTie, private QMqttConnection::Listener
{
    Q_OBJECT
public:
    explicit MqttTie(const MqttSettings &settings, QObject *parent = nullptr);
    ~MqttTie() override;

    // The connection's due work (the first tick makes the connection and
    // starts connecting; then reconnection, keepalive), then the base poll.
    void pollAndConvert() override;
    // The base pass (which queues the changed values), then hands waiting
    // messages to the broker.
    void sendDirty() override;
    // 0 while the broker has accepted the connection, else 2.
    qint32 state() const override;
    // True once for a from-this unit that received values since the last poll.
    bool pollUnitData(BaseTieUnit *unit) override;
    // Queues the changed parameters of a to-this unit and marks it sent.
    bool sendUnitData(BaseTieUnit *unit) override;

    // Appends `unit` (ownership passes to the tie) and gives its
    // parameters their topics. Every parameter must be able to travel
    // (topicLevel() not empty, MqttPayload::canCarry()).
    void addUnit(MqttTieUnit *unit);
    // Makes the connection and starts connecting (the first tick does).
    void start();
    // Takes over, behind its own, every message an MQTT tie that a reload
    // replaces still holds, those in flight first: they go to this tie's
    // broker (those the old broker had taken may arrive twice, as after a
    // lost connection).
    void takeOver(BaseTie &predecessor) override;
    // At a stop: hands what waits to a connected broker and reads its
    // acknowledgements, until nothing waits or DrainMsecs have passed; what
    // is left then is counted as dropped and said in the log.
    void drain() override;
    static constexpr int DrainMsecs = 1000;

    // Largest payload a "/set" topic accepts.
    static constexpr int MaxSetPayload = 64 * 1024;
    // A set topic whose payloads were refused takes values again once it took
    // one and refused none for this long (senders that alternate would
    // otherwise write two lines a pair of messages).
    static constexpr qint64 PayloadRecoveredAfterMs = 10000;

    // The topic level that names `param`: its KKS, else its IID, else its
    // index; empty when it has none of them.
    static QString topicLevel(const BaseTieParam &param);
    // True when `topic` can be published to and subscribed (no wildcard,
    // valid UTF-8, not too long).
    static bool validTopic(const QByteArray &topic);

    const MqttSettings &settings() const { return m_settings; }
    // The client id at the broker: a broker lets one client of an id in and
    // ends the other's session.
    QStringList exclusiveClaims() const override;
    // The connection; null until start().
    const QMqttConnection *connection() const { return m_connection; }
    const MqttBuffer &buffer() const { return m_buffer; }

private:
    void mqttConnected() override;
    void mqttDisconnected() override;
    void mqttDelivered(int mid) override;
    void mqttMessage(const QByteArray &topic, const QByteArray &payload) override;
    void mqttReady() override;

    // Hands waiting messages to the connection while it takes them.
    void pump();
    void queueValue(const QByteArray &topic, const BaseTieParam &param);
    QString name() const;
    // Ends the payload fault of every topic in m_payloadRecovering that
    // refused nothing for PayloadRecoveredAfterMs.
    void endPayloadFaultsIfRecovered();

    // One parameter written from a "/set" topic.
    struct Target {
        CsvTieParam *param;
        MqttTieUnit *unit;
    };

    MqttSettings m_settings;
    MqttBuffer m_buffer;
    QMqttConnection *m_connection;
    QHash<QByteArray, QVector<Target>> m_targets; // by "/set" topic
    QHash<QByteArray, RepeatedMessage> m_payloadFaults; // by topic
    QSet<QByteArray> m_payloadRecovering; // faulty topics that took a value since
    RepeatedMessage m_overflow;
    RepeatedMessage m_refusedMessage;
    quint64 m_droppedThisSend;
    quint64 m_droppedStreak;
    bool m_everConnected;
};

#endif // MQTTTIE_H
