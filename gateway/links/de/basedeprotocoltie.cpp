#include "links/de/basedeprotocoltie.h"

#include "core/basetieparam.h"
#include "core/basetieunit.h"
#include "core/clock.h"
#include "core/diag.h"
#include "core/gatelog.h"

#include <dpdatatype.h>

#include <limits>

BaseDEProtocolTie::BaseDEProtocolTie(QObject *parent)
    : BasePacketTie(parent)
    , m_lastReceivedMsecs(-1)
    , m_protocolTimeout(DefaultProtocolTimeout)
    , m_keepAlive(DefaultKeepAlivePeriod)
    , m_generation(0)
    , m_unexpected(0)
{
}

BaseDEProtocolTie::~BaseDEProtocolTie() = default;

void BaseDEProtocolTie::addUnit(BaseTieUnit *unit)
{
    if (unit) {
        if (unit->direction() & BaseTieUnit::dirFromThis)
            m_incoming.addUnit(unit);
        if (unit->direction() & BaseTieUnit::dirToThis)
            m_outgoing.addUnit(unit);
    }
    appendUnit(unit);
    GATE_DEBUG(1, "BaseDEProtocolTie::addUnit(%p) add unit with direction %u", static_cast<void *>(unit),
               unit ? unit->direction() : 0u);
}

void BaseDEProtocolTie::init()
{
    BasePacketTie::init();
    m_packets.clear();
    // Drops a predecessor counted (a reload carries its totals over) are
    // not this tie's news.
    m_droppedStreak.seen = counters().framesDropped;
}

int BaseDEProtocolTie::protocolTimeout() const
{
    return m_protocolTimeout;
}

int BaseDEProtocolTie::keepAlivePeriod() const
{
    return m_keepAlive;
}

void BaseDEProtocolTie::setProtocolTimeout(int msecs)
{
    m_protocolTimeout = msecs;
}

void BaseDEProtocolTie::setKeepAlivePeriod(int msecs)
{
    m_keepAlive = msecs;
}

int BaseDEProtocolTie::connectedCount() const
{
    return 0;
}

void BaseDEProtocolTie::beginSend()
{
}

int BaseDEProtocolTie::sendFrame(const QByteArray &frame)
{
    emit signalSendPacket(frame);
    return connectedCount();
}

qint32 BaseDEProtocolTie::state() const
{
    if (m_lastReceivedMsecs < 0)
        return 2;
    if (m_lastReceivedMsecs + m_protocolTimeout < Clock::monotonicMsecs())
        return BaseTieUnit::stStale;
    return BaseTieUnit::stOK;
}

void BaseDEProtocolTie::slotLostAllConnections()
{
    GATE_DEBUG(1, "BaseDEProtocolTie::slotLostAllConnections(): tie \"%s\" received %llu values in %llu frames "
                  "(%llu bytes) and sent %llu values in %llu frames (%llu bytes)",
               qUtf8Printable(id()), static_cast<unsigned long long>(counters().valuesReceived),
               static_cast<unsigned long long>(counters().framesIn), static_cast<unsigned long long>(counters().bytesIn),
               static_cast<unsigned long long>(counters().valuesSent),
               static_cast<unsigned long long>(counters().framesOut),
               static_cast<unsigned long long>(counters().bytesOut));
    m_lastReceived = QDateTime();
    m_lastReceivedMsecs = -1;
}

void BaseDEProtocolTie::slotSomethingReceived()
{
    m_lastReceived = Clock::nowUtc();
    m_lastReceivedMsecs = Clock::monotonicMsecs();
}

void BaseDEProtocolTie::logProtocolMessage(const QString &msg, const QString &key)
{
    const QString &streakKey = key.isEmpty() ? msg : key;
    EventStreak &streak = m_events[streakKey];
    streak.lastMsecs = Clock::monotonicMsecs();
    streak.message.report(msg, msg, streakKey);
}

void BaseDEProtocolTie::slotConnectionSteady()
{
    endEventStreaks(std::numeric_limits<qint64>::max());
}

void BaseDEProtocolTie::endEventStreaks(qint64 before)
{
    for (auto it = m_events.begin(); it != m_events.end();) {
        if (it->lastMsecs < before) {
            it->message.clear();
            it = m_events.erase(it);
        } else {
            ++it;
        }
    }
}

void BaseDEProtocolTie::noteUnitReceived(BaseTieUnit *unit, const QDateTime &now)
{
    if (!unit)
        return;
    unit->setLastReceived(now);
    m_marks[unit].received = ++m_generation;
}

void BaseDEProtocolTie::noteUnexpected(quint64 values)
{
    m_unexpected += values;
}

bool BaseDEProtocolTie::pollUnitData(BaseTieUnit *unit)
{
    GATE_DEBUG(4, "BaseDEProtocolTie::pollUnitData(%p) was called", static_cast<void *>(unit));
    if (!unit) {
        GATE_DEBUG(1, "BaseDEProtocolTie::pollUnitData(NULL) was called");
        return false;
    }
    // Generations instead of wall-clock times: a step of the clock neither
    // freezes the values nor converts them twice.
    const auto it = m_marks.find(unit);
    if (it == m_marks.end() || it->received == it->converted)
        return false;
    it->converted = it->received;
    return true;
}

void BaseDEProtocolTie::pollAndConvert()
{
    BasePacketTie::pollAndConvert();
    const qint64 now = Clock::monotonicMsecs();
    followStreak(m_droppedStreak, counters().framesDropped, now,
                 QT_TR_NOOP("DE tie \"%1\": malformed packs or packs of an unknown module were dropped"));
    followStreak(m_unexpectedStreak, m_unexpected, now,
                 QT_TR_NOOP("DE tie \"%1\": received values for parameters it does not have were ignored"));
    if (!m_events.isEmpty())
        endEventStreaks(now - FaultQuietMsecs + 1);
}

void BaseDEProtocolTie::followStreak(FaultStreak &streak, quint64 total, qint64 now, const char *text)
{
    if (total != streak.seen) {
        streak.seen = total;
        streak.lastMsecs = now;
        streak.message.report(tr(text).arg(id()));
    } else if (streak.message.active() && now - streak.lastMsecs >= FaultQuietMsecs) {
        streak.message.clear();
    }
}

void BaseDEProtocolTie::doPostParamConversionWork(BaseTieParam *param)
{
    if (!param)
        return;
    if (debugEnabled(15)) {
        qDebug("BaseDEProtocolTie::doPostParamConversionWork(): Will add param %s of type %s(%i) with size %lu and "
               "date %s",
               qUtf8Printable(param->description()),
               qUtf8Printable(DPDataTypeToString(static_cast<int>(param->metatype()))),
               static_cast<int>(param->metatype()), static_cast<unsigned long>(param->size()),
               qUtf8Printable(param->dataTime().toString(Qt::ISODateWithMs)));
    }
    m_packets.add(param->metatype(), static_cast<quint32>(param->number()), param->values(), param->size(),
                  param->dataTime());
}

void BaseDEProtocolTie::collectSnapshot(DEProtocolPackets &packets) const
{
    // What the tie sends: units of exactly "to this" (only they are bound).
    for (const BaseTieUnit *unit : units()) {
        if (!unit || (unit->direction() & (BaseTieUnit::dirToThis | BaseTieUnit::dirFromThis)) != BaseTieUnit::dirToThis)
            continue;
        for (const BaseTieParam *param : unit->params()) {
            if (param)
                packets.add(param->metatype(), static_cast<quint32>(param->number()), param->values(), param->size(),
                            param->dataTime());
        }
    }
}

quint32 BaseDEProtocolTie::packParamCount(const QByteArray &frame)
{
    return static_cast<size_t>(frame.size()) >= DEPack::MinPackBytes
        ? deWord(frame.constData() + DEPack::OffsetParamCount)
        : 0;
}

void BaseDEProtocolTie::sendDirty()
{
    GATE_DEBUG(6, "BaseDEProtocolTie::sendDirty() was called for %i units", static_cast<int>(units().size()));
    for (BaseTieUnit *unit : qAsConst(units())) {
        if (!unit || !unit->isDirty())
            continue;
        TimePoint &tp = unit->timePoint();
        if (tp.updateMode() == TimePoint::tpuSend)
            tp.update();
        // The unit's own stamp is no conversion's target, so no pack holds
        // it yet: it goes with the values it stamps (stamped by the send,
        // the conversion, or the providers' data times).
        BaseTieParam *stamp = tp.param();
        if (stamp && stamp->myUnit() == unit && !stamp->inputConverter()
            && (tp.holdsTime() || tp.updateMode() == TimePoint::tpuSend
                || tp.updateMode() == TimePoint::tpuConversion))
            doPostParamConversionWork(stamp);
    }
    const int peers = connectedCount();
    const QVector<QByteArray> frames = m_packets.takeFrames();
    bool delivered = frames.isEmpty();
    if (!frames.isEmpty()) {
        beginSend();
        quint64 values = 0;
        for (const QByteArray &frame : frames) {
            GATE_DEBUG(5, "BaseDEProtocolTie::sendDirty() sending %i bytes for type %u",
                       static_cast<int>(frame.size()), deWord(frame.constData() + DEPack::OffsetDataType));
            sendFrame(frame);
            values += packParamCount(frame);
        }
        // A frame a peer refuses cuts its connection, and with it what this
        // send had written there before: the peers still connected now are
        // those that took every frame.
        const int took = connectedCount();
        delivered = took > 0;
        counters().valuesSent += values * static_cast<quint64>(took);
    }
    m_packets.clear();
    // Units count as sent when a peer took their frames; frames every peer
    // refused (a stalled peer past its bound) went nowhere.
    for (BaseTieUnit *unit : qAsConst(units())) {
        if (!unit || !unit->isDirty())
            continue;
        if (peers > 0 && delivered) {
            unit->markSent();
            ++counters().unitsSent;
        } else {
            unit->setDirty(false);
        }
    }
}
