#include "core/basetieunit.h"

#include "core/baseconverter.h"
#include "core/basetie.h"
#include "core/basetieparam.h"
#include "core/clock.h"
#include "core/diag.h"

#include <datetimefunctions.h>

#include <limits>

namespace {

// The millisecond mirror of an unset date-time.
constexpr qint64 kNoTime = std::numeric_limits<qint64>::min();

qint64 msecsOf(const QDateTime &dt)
{
    return dt.isValid() ? dt.toMSecsSinceEpoch() : kNoTime;
}

// The monotonic count at which the wall-clock instant `msecs` lay (now for
// an instant ahead of the clock); kNoTime for kNoTime.
qint64 monotonicOf(qint64 msecs)
{
    if (msecs == kNoTime)
        return kNoTime;
    qint64 lag = 0;
    qint64 at = 0;
    if (__builtin_sub_overflow(Clock::nowMsecsSinceEpoch(), msecs, &lag))
        lag = msecs < 0 ? std::numeric_limits<qint64>::max() : 0;
    if (__builtin_sub_overflow(Clock::passMonotonicMsecs(), qMax<qint64>(lag, 0), &at))
        at = kNoTime + 1; // longer ago than any timeout
    return at;
}

} // namespace

BaseTieUnit::BaseTieUnit(BaseTie *tie)
    : m_direction(dirNone)
    , m_elementSize(4)
    , m_lastReceivedMsecs(kNoTime)
    , m_receivedMonotonic(kNoTime)
    , m_lastUpdatedMsecs(kNoTime)
    , m_lastStampedMsecs(kNoTime)
    , m_conversions(0)
    , m_dirty(false)
    , m_convertedWhileOk(false)
    , m_tie(tie)
{
}

BaseTieUnit::~BaseTieUnit()
{
    qDeleteAll(m_params);
}

qint32 BaseTieUnit::state() const
{
    GATE_DEBUG(6, "BaseTieUnit::state(): was called");
    if (!m_tie) {
        GATE_DEBUG(2, "BaseTieUnit::state(): disabled due zero myTie pointer");
        return stDisabled;
    }
    const qint32 tieState = m_tie->state();
    if (tieState != 0)
        return tieState;
    if (m_direction & dirFromThis) {
        if (m_lastReceivedMsecs == kNoTime) {
            GATE_DEBUG(5, "BaseTieUnit::state(): no data received");
            return stNoData;
        }
        // Stale when last received + timeout < now, on the monotonic count.
        qint64 age = 0;
        if (__builtin_sub_overflow(Clock::passMonotonicMsecs(), m_receivedMonotonic, &age))
            age = std::numeric_limits<qint64>::max();
        if (age > static_cast<qint64>(dataTimeout())) {
            GATE_DEBUG(5, "BaseTieUnit::state(): no stalled data");
            return stStale;
        }
        GATE_DEBUG(7, "BaseTieUnit::state(): OK");
        return stOK;
    }
    if (!(m_direction & dirToThis)) {
        GATE_DEBUG(5, "BaseTieUnit::state(): no any direction set(disabled)");
        return stDisabled;
    }
    return stOK;
}

quint32 BaseTieUnit::dataTimeout() const
{
    return m_tie ? m_tie->timeout() : 0;
}

bool BaseTieUnit::pollData()
{
    return m_tie ? m_tie->pollUnitData(this) : false;
}

bool BaseTieUnit::sendData()
{
    GATE_DEBUG(9, "BaseTieUnit::sendData(): was called (this=%p)", static_cast<void *>(this));
    if (!m_tie) {
        GATE_DEBUG(2, "BaseTieUnit::sendData(): myTie is NULL");
        return false;
    }
    return m_tie->sendUnitData(this);
}

void BaseTieUnit::init()
{
    GATE_DEBUG(4, "BaseTieUnit::init() was called for unit %p", static_cast<void *>(this));
    for (BaseTieParam *param : qAsConst(m_params)) {
        if (param)
            param->reset();
    }
    m_dirty = false;
}

void BaseTieUnit::doWorkBeforeConvertFrom(BaseTieUnit *providerUnit)
{
    GATE_DEBUG(8, "BaseTieUnit::doWorkBeforeConvertFrom(%p) was called", static_cast<void *>(providerUnit));
    if (m_tie)
        m_tie->doWorkBeforeConvertFrom(this, providerUnit);
}

void BaseTieUnit::markSent()
{
    m_lastSent = Clock::nowUtc();
    m_dirty = false;
}

void BaseTieUnit::doPostParamConversionWork(BaseTieParam *param)
{
    GATE_DEBUG(9, "BaseTieUnit::doPostParamConversionWork called for param %s",
               qUtf8Printable(BaseTieParam::describe(param)));
    // Within one clock pass every conversion means the same now: the
    // date-time is built once per unit and pass, not once per parameter.
    const qint64 now = Clock::nowMsecsSinceEpoch();
    if (now != m_lastUpdatedMsecs) {
        m_lastUpdated = Clock::nowUtc();
        m_lastUpdatedMsecs = now;
    }
    if (m_timePoint.updateMode() == TimePoint::tpuConversion)
        m_timePoint.update();
    ++m_conversions;
    m_dirty = true;
    if (m_tie)
        m_tie->doPostParamConversionWork(param);
}

QDateTime BaseTieUnit::dataTime() const
{
    if (m_timePoint.holdsTime())
        return m_timePoint.toDT();
    if (m_direction & dirToThis)
        return m_lastUpdated;
    if (m_direction & dirFromThis)
        return m_lastReceived;
    return QDateTime();
}

void BaseTieUnit::updateLastUpdated(const QDateTime &dt)
{
    GATE_DEBUG(11, "BaseTieUnit::updateLastUpdated(%s) was called for unit %p",
               qUtf8Printable(dt.toString(getLongDateTimeFormat())), static_cast<void *>(this));
    if (!dt.isValid())
        return;
    const qint64 msecs = dt.toMSecsSinceEpoch();
    // Older data times are refused, but only behind a mark that is not
    // ahead of the clock: one future time (a peer's wrong clock, a reset
    // value read as a time) would otherwise freeze the stamp until then.
    if (m_lastStampedMsecs != kNoTime && msecs <= m_lastStampedMsecs
        && m_lastStampedMsecs <= Clock::nowMsecsSinceEpoch())
        return;
    m_lastStampedMsecs = msecs;
    if (m_lastUpdatedMsecs == kNoTime || m_lastUpdatedMsecs < msecs) {
        m_lastUpdated = dt;
        m_lastUpdatedMsecs = msecs;
    }
    if (m_timePoint.holdsTime())
        m_timePoint.setFromDT(dt);
}

void BaseTieUnit::updateLastReceived(const QDateTime &dt)
{
    GATE_DEBUG(11, "BaseTieUnit::updateLastReceived(%s) was called for unit %p",
               qUtf8Printable(dt.toString(getLongDateTimeFormat())), static_cast<void *>(this));
    if (!dt.isValid())
        return;
    const qint64 msecs = dt.toMSecsSinceEpoch();
    // Never backwards, unless the stored time is ahead of the clock: the
    // clock was stepped back, and the unit's age must follow it, or a
    // source that stops would read as fresh until the clock caught up.
    if (m_lastReceivedMsecs == kNoTime || m_lastReceivedMsecs < msecs
        || m_lastReceivedMsecs > Clock::nowMsecsSinceEpoch()) {
        m_lastReceived = dt;
        m_lastReceivedMsecs = msecs;
        m_receivedMonotonic = monotonicOf(msecs);
    }
}

void BaseTieUnit::setLastReceived(const QDateTime &dt)
{
    m_lastReceived = dt;
    m_lastReceivedMsecs = msecsOf(dt);
    m_receivedMonotonic = monotonicOf(m_lastReceivedMsecs);
}

void BaseTieUnit::setLastUpdated(const QDateTime &dt)
{
    m_lastUpdated = dt;
    m_lastUpdatedMsecs = msecsOf(dt);
}

int BaseTieUnit::convertFromThis()
{
    const Clock::Pass pass;
    GATE_DEBUG(4, "BaseTieUnit::convertFromThis() was called for unit %p", static_cast<void *>(this));
    if (!(m_direction & dirFromThis)) {
        GATE_DEBUG(2, "BaseTieUnit::convertFromThis() cannot convert from this (%i) direction for unit %p",
                   static_cast<int>(m_direction), static_cast<void *>(this));
        return 0;
    }
    for (BaseTieUnit *target : qAsConst(m_targetUnits)) {
        if (target)
            target->doWorkBeforeConvertFrom(this);
    }
    GATE_DEBUG(4, "    Will process %i parameters", static_cast<int>(m_params.size()));
    int result = 0;
    for (int i = 0; i < m_params.size(); ++i) {
        BaseTieParam *param = m_params.at(i);
        if (!param)
            continue;
        GATE_DEBUG(5, "     params[%i] (%s) contains %i outConverters", i, qUtf8Printable(param->description()),
                   static_cast<int>(param->outConverters().size()));
        for (BaseConverter *converter : qAsConst(param->outConverters())) {
            if (!converter)
                continue;
            converter->doConvert();
            result = 1;
        }
    }
    m_lastConverted = Clock::nowUtc();
    m_dirty = false;
    m_convertedWhileOk = state() == stOK;
    return result;
}

bool BaseTieUnit::needsInvalidation() const
{
    return m_convertedWhileOk && (m_direction & dirFromThis) && state() != stOK;
}

void BaseTieUnit::addParam(BaseTieParam *param)
{
    m_params.append(param);
    m_paramsHash.add(param);
}

void BaseTieUnit::clearParams()
{
    qDeleteAll(m_params);
    m_params.clear();
    m_paramsHash.clear();
}
