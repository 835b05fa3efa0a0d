#include "links/mqtt/mqtttie.h"

#include "config/csvtieparam.h"
#include "core/clock.h"
#include "core/diag.h"
#include "core/gatelog.h"
#include "links/mqtt/mqttpayload.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <mosquitto.h>

#include <algorithm>
#include <cstring>
#include <utility>

namespace {

template<typename... Args>
void report(RepeatedMessage &message, const char *text, const Args &...args)
{
    message.report(QString::fromUtf8(text).arg(args...), QCoreApplication::translate("MqttTie", text).arg(args...));
}

// The same where repeats are recognised by `key` while the texts vary.
template<typename... Args>
void reportKeyed(RepeatedMessage &message, const QString &key, const char *text, const Args &...args)
{
    message.report(QString::fromUtf8(text).arg(args...), QCoreApplication::translate("MqttTie", text).arg(args...),
                   key);
}

template<typename... Args>
void recover(RepeatedMessage &message, const char *text, const Args &...args)
{
    message.clear(QString::fromUtf8(text).arg(args...), QCoreApplication::translate("MqttTie", text).arg(args...));
}

const char kOverflow[] = "MQTT tie \"%1\": buffer full (%2 messages or %3 bytes), the oldest messages are dropped";
const char kRoomAgain[] = "MQTT tie \"%1\": buffer has room again, %2 messages were dropped";
const char kNotSent[] = "MQTT tie \"%1\": message for topic %2 dropped: %3";
const char kLeftAtStop[] = "MQTT tie \"%1\": %2 messages not delivered to the broker at the stop are lost";
const char kBadPayload[] = "MQTT tie \"%1\": payload on topic %2 ignored: %3";
const char kGoodPayload[] = "MQTT tie \"%1\": topic %2 takes values again";

} // namespace

MqttTieUnit::MqttTieUnit(BaseTie *tie)
    : CsvTieUnit(tie)
    , m_newData(false)
{
}

MqttTieUnit::~MqttTieUnit() = default;

qint32 MqttTieUnit::state() const
{
    const BaseTie *tie = myTie();
    if (!tie)
        return stDisabled;
    if (direction() & dirFromThis) {
        const qint32 tieState = tie->state();
        if (tieState != stOK)
            return tieState;
        return lastReceived().isValid() ? stOK : stNoData;
    }
    return (direction() & dirToThis) ? stOK : stDisabled;
}

MqttTie::MqttTie(const MqttSettings &settings, QObject *parent)
    : BaseTie(parent)
    , m_settings(settings)
    , m_buffer(settings.bufferMessages, settings.bufferBytes)
    , m_connection(nullptr)
    , m_droppedThisSend(0)
    , m_droppedStreak(0)
    , m_everConnected(false)
{
}

MqttTie::~MqttTie()
{
    // First, so that nothing the connection reports reaches a tie half gone.
    delete m_connection;
    m_connection = nullptr;
}

void MqttTie::addUnit(MqttTieUnit *unit)
{
    appendUnit(unit);
    GATE_DEBUG(1, "MqttTie::addUnit(%p) add unit with direction %u", static_cast<void *>(unit),
               unit ? unit->direction() : 0u);
    if (!unit)
        return;
    const QList<BaseTieParam *> &params = unit->params();
    QVector<MqttTieUnit::Published> &published = unit->published();
    published.resize(params.size());
    for (int i = 0; i < params.size(); ++i) {
        BaseTieParam *param = params.at(i);
        if (!param)
            continue;
        const QByteArray topic = (m_settings.topicPrefix + QLatin1Char('/') + topicLevel(*param)).toUtf8();
        if (unit->direction() & BaseTieUnit::dirToThis)
            published[i].topic = topic;
        auto *target = dynamic_cast<CsvTieParam *>(param);
        if ((unit->direction() & BaseTieUnit::dirFromThis) && target)
            m_targets[topic + "/set"].append({target, unit});
    }
}

void MqttTie::start()
{
    if (!m_connection) {
        m_connection = new QMqttConnection(m_settings, name(), this, this);
        m_connection->setSubscriptions(m_targets.keys());
    }
    m_connection->start();
}

QString MqttTie::topicLevel(const BaseTieParam &param)
{
    if (!param.KKS().isEmpty())
        return param.KKS();
    if (!param.IID().isEmpty())
        return param.IID();
    return param.number() >= 0 ? QString::number(param.number()) : QString();
}

bool MqttTie::validTopic(const QByteArray &topic)
{
    return mosquitto_pub_topic_check2(topic.constData(), size_t(topic.size())) == MOSQ_ERR_SUCCESS
        && mosquitto_validate_utf8(topic.constData(), topic.size()) == MOSQ_ERR_SUCCESS;
}

QString MqttTie::name() const
{
    return id().isEmpty() ? m_settings.clientId : id();
}

void MqttTie::pollAndConvert()
{
    if (m_connection)
        m_connection->service();
    else
        start();
    if (!m_payloadRecovering.isEmpty())
        endPayloadFaultsIfRecovered();
    BaseTie::pollAndConvert();
}

void MqttTie::takeOver(BaseTie &predecessor)
{
    auto *old = qobject_cast<MqttTie *>(&predecessor);
    if (!old || old == this)
        return;
    old->m_buffer.requeueInFlight();
    while (old->m_buffer.waiting() > 0) {
        MqttBuffer::Message message = old->m_buffer.nextWaiting();
        old->m_buffer.removeNextWaiting();
        message.mid = 0;
        const quint64 dropped = m_buffer.push(std::move(message));
        counters().dropped += dropped;
        m_droppedThisSend += dropped; // reported by the next sendDirty()
    }
    old->counters().buffered = 0;
    counters().buffered = m_buffer.count();
}

void MqttTie::drain()
{
    QElapsedTimer timer;
    timer.start();
    while (m_connection && m_connection->isConnected()
           && (m_buffer.count() > 0 || m_connection->writeBacklog())) {
        pump();
        const qint64 left = DrainMsecs - timer.elapsed();
        if (left <= 0 || !m_connection->serveFor(int(left)))
            break;
    }
    const quint64 lost = m_buffer.count();
    if (lost == 0)
        return;
    counters().dropped += lost;
    const QString count = QString::number(lost);
    GATE_WARN_LOGGED("%s", qUtf8Printable(QString::fromUtf8(kLeftAtStop).arg(name(), count)));
    gateLog(QCoreApplication::translate("MqttTie", kLeftAtStop).arg(name(), count));
}

void MqttTie::sendDirty()
{
    BaseTie::sendDirty();
    pump();
    if (m_droppedThisSend > 0) {
        m_droppedStreak += m_droppedThisSend;
        // The text names only settings: while the buffer stays full it is
        // counted, not made anew every tick.
        if (!m_overflow.repeat())
            report(m_overflow, kOverflow, name(), QString::number(m_settings.bufferMessages),
                   QString::number(m_settings.bufferBytes));
    } else if (m_overflow.active() && m_buffer.waiting() == 0) {
        recover(m_overflow, kRoomAgain, name(), QString::number(m_droppedStreak));
        m_droppedStreak = 0;
    }
    m_droppedThisSend = 0;
    counters().buffered = m_buffer.count();
}

QStringList MqttTie::exclusiveClaims() const
{
    return {QStringLiteral("MQTT client id \"%1\" at %2:%3")
                .arg(m_settings.clientId, m_settings.host, QString::number(m_settings.port))};
}

qint32 MqttTie::state() const
{
    return m_connection && m_connection->isConnected() ? 0 : 2;
}

bool MqttTie::pollUnitData(BaseTieUnit *unit)
{
    auto *u = qobject_cast<MqttTieUnit *>(unit);
    return u && (u->direction() & BaseTieUnit::dirFromThis) && u->takeNewData();
}

bool MqttTie::sendUnitData(BaseTieUnit *unit)
{
    auto *u = qobject_cast<MqttTieUnit *>(unit);
    if (!u)
        return false;
    if (u->direction() & BaseTieUnit::dirToThis) {
        const QList<BaseTieParam *> &params = u->params();
        QVector<MqttTieUnit::Published> &published = u->published();
        const int n = std::min(params.size(), published.size());
        for (int i = 0; i < n; ++i) {
            const BaseTieParam *param = params.at(i);
            const uchar *element = param ? param->values() : nullptr;
            if (!element)
                continue;
            const int bytes = std::min({MqttPayload::elementBytes(param->metatype()), int(param->size()),
                                        int(sizeof published[i].element)});
            MqttTieUnit::Published &last = published[i];
            if (bytes <= 0 || (last.bytes == bytes && std::memcmp(last.element, element, size_t(bytes)) == 0))
                continue;
            std::memcpy(last.element, element, size_t(bytes));
            last.bytes = bytes;
            queueValue(last.topic, *param);
        }
    }
    u->markSent();
    return true;
}

void MqttTie::queueValue(const QByteArray &topic, const BaseTieParam &param)
{
    const QDateTime dataTime = param.dataTime();
    const qint64 stamp = dataTime.isValid() ? dataTime.toMSecsSinceEpoch() : Clock::nowMsecsSinceEpoch();
    MqttBuffer::Message message;
    message.topic = topic;
    message.payload.reserve(112);
    MqttPayload::append(message.payload, param, stamp);
    const quint64 dropped = m_buffer.push(std::move(message));
    if (dropped > 0) {
        counters().dropped += dropped;
        m_droppedThisSend += dropped;
    }
}

void MqttTie::pump()
{
    if (!m_connection || !m_connection->isConnected())
        return;
    const quint64 window = std::min<quint64>(QMqttConnection::InFlightWindow, m_settings.bufferMessages);
    const int qos = m_settings.qos;
    const quint64 room = qos > 0 ? window - std::min(window, m_buffer.inFlight()) : m_buffer.waiting();
    const bool burst = std::min(room, m_buffer.waiting()) > 1;
    if (burst)
        m_connection->beginBurst();
    while (m_buffer.waiting() > 0) {
        if (qos > 0 ? m_buffer.inFlight() >= window : m_connection->writeBacklog())
            break;
        const MqttBuffer::Message &message = m_buffer.nextWaiting();
        int mid = 0;
        QString reason;
        const QMqttConnection::PublishResult result =
            m_connection->publish(message.topic, message.payload, qos, m_settings.retain, &mid, &reason);
        if (result == QMqttConnection::prSent) {
            ++counters().published;
            ++counters().valuesSent;
            if (qos > 0)
                m_buffer.markInFlight(mid);
            else
                m_buffer.removeNextWaiting();
        } else if (result == QMqttConnection::prRefused) {
            report(m_refusedMessage, kNotSent, name(), QString::fromUtf8(message.topic), reason);
            ++counters().dropped;
            m_buffer.removeNextWaiting();
        } else {
            break;
        }
    }
    if (burst)
        m_connection->endBurst();
    counters().buffered = m_buffer.count();
}

void MqttTie::mqttConnected()
{
    if (m_everConnected)
        ++counters().reconnects;
    m_everConnected = true;
    // Commands held while the connection was down are valid again.
    for (BaseTieUnit *unit : units()) {
        auto *u = qobject_cast<MqttTieUnit *>(unit);
        if (u && (u->direction() & BaseTieUnit::dirFromThis) && u->lastReceived().isValid())
            u->setNewData();
    }
}

void MqttTie::mqttDisconnected()
{
    m_buffer.requeueInFlight();
    counters().buffered = m_buffer.count();
}

void MqttTie::mqttDelivered(int mid)
{
    if (m_buffer.acknowledge(mid)) {
        ++counters().delivered;
        counters().buffered = m_buffer.count();
    }
}

void MqttTie::mqttReady()
{
    pump();
}

void MqttTie::mqttMessage(const QByteArray &topic, const QByteArray &payload)
{
    const auto it = m_targets.constFind(topic);
    if (it == m_targets.constEnd()) {
        GATE_DEBUG(3, "MqttTie::mqttMessage(): no parameter for topic %s", topic.constData());
        return;
    }
    const QDateTime now = Clock::nowUtc();
    RepeatedMessage &fault = m_payloadFaults[it.key()];
    const QString topicText = QString::fromUtf8(it.key());
    // Parameters sharing the topic may take the payload differently (their
    // types differ): one verdict per message, the first refusal's reason.
    QString refusal;
    for (const Target &target : it.value()) {
        QString reason;
        if (payload.size() > MaxSetPayload)
            reason = QStringLiteral("%1 bytes are too many").arg(payload.size());
        if (!reason.isEmpty() || !MqttPayload::write(payload, *target.param, &reason)) {
            ++counters().messagesDropped;
            if (refusal.isEmpty())
                refusal = reason;
            continue;
        }
        target.param->setDataTime(now);
        target.unit->updateLastReceived(now);
        target.unit->setNewData();
        ++counters().valuesReceived;
    }
    if (!refusal.isEmpty())
        // The reasons quote what was sent, which a sender may vary with
        // every message: the topic makes the streak.
        reportKeyed(fault, topicText, kBadPayload, name(), topicText, refusal);
    else if (fault.active())
        m_payloadRecovering.insert(it.key());
    endPayloadFaultsIfRecovered();
}

void MqttTie::endPayloadFaultsIfRecovered()
{
    for (auto it = m_payloadRecovering.begin(); it != m_payloadRecovering.end();) {
        RepeatedMessage &fault = m_payloadFaults[*it];
        if (fault.quietFor(PayloadRecoveredAfterMs)) {
            recover(fault, kGoodPayload, name(), QString::fromUtf8(*it));
            it = m_payloadRecovering.erase(it);
        } else {
            ++it;
        }
    }
}
