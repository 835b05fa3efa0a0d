#include "core/timepoint.h"

#include "core/basetieparam.h"
#include "core/clock.h"
#include "core/diag.h"
#include "core/timeencoding.h"

#include <datetimefunctions.h>

#include <cstring>

namespace {

template<typename T>
T get(const uchar *p)
{
    T value;
    std::memcpy(&value, p, sizeof value);
    return value;
}

QDateTime fromMSecs(qint64 msecs)
{
    return QDateTime::fromMSecsSinceEpoch(msecs, Qt::UTC);
}

// The instant whose local wall-clock reading, taken as milliseconds since
// the epoch, is `localMSecs`: the local offset is the one at the decoded
// instant. A reading in the hour the clocks repeat (autumn) belongs to two
// instants; the later is taken unless it lies ahead of the clock, so that
// live data of both passes of that hour decode to their own instant.
// Invalid when the reading lies outside the date-time range.
QDateTime fromLocalMSecs(qint64 localMSecs)
{
    const QDateTime candidate = fromMSecs(localMSecs);
    if (!candidate.isValid())
        return QDateTime();
    // The offsets a day either side of a change, and the instant each would
    // give where it holds. The change lies within the offset (up to 14 h)
    // of the reading taken as UTC, so half a day is too little east of +12.
    const int before = getTZoffset(candidate.addSecs(-86400));
    const int after = getTZoffset(candidate.addSecs(86400));
    if (before != after) {
        const QDateTime early = candidate.addSecs(-before);
        const QDateTime late = candidate.addSecs(-after);
        const bool earlyHolds = getTZoffset(early) == before;
        const bool lateHolds = getTZoffset(late) == after;
        if (earlyHolds && lateHolds)
            return qMax(early, late) <= Clock::nowUtc() ? qMax(early, late) : qMin(early, late);
    }
    QDateTime result = candidate.addSecs(-getTZoffset(candidate));
    result = candidate.addSecs(-getTZoffset(result));
    return result;
}

bool isLocalType(qint32 type)
{
    return type == TimePoint::tptUnixTimeLocal || type == TimePoint::tptKILocal
        || type == TimePoint::tptUTmsecLocal || type == TimePoint::tptUTdoubleLocal;
}

// Bytes of storage the encoding of `type` needs, 0 for the codes that are
// neither written nor read. Unix time takes a 64-bit word from 8 bytes on.
size_t bytesNeeded(qint32 type, size_t storage)
{
    switch (type) {
    case TimePoint::tptUnixTimeUTC:
    case TimePoint::tptUnixTimeLocal:
        return storage > 7 ? timeenc::UnixSeconds64::bytes : timeenc::UnixSeconds32::bytes;
    case TimePoint::tptKILocal:
    case TimePoint::tptKIUTC:
    case TimePoint::tptUTmsecUTC:
    case TimePoint::tptUTmsecLocal:
    case TimePoint::tptUTdoubleUTC:
    case TimePoint::tptUTdoubleLocal:
    case TimePoint::tptTimeSpecUTC:
        return 8;
    default:
        return 0;
    }
}

} // namespace

TimePoint::TimePoint()
    : m_type(tptNone)
    , m_updateMode(tpuNone)
    , m_param(nullptr)
{
}

TimePoint::~TimePoint() = default;

void TimePoint::update()
{
    if (m_param && (m_updateMode == tpuSend || m_updateMode == tpuConversion))
        setFromDT(Clock::nowUtc());
}

void TimePoint::setFromDT(const QDateTime &dt)
{
    if (!m_param || !dt.isValid())
        return;
    uchar *p = m_param->valuesForWrite();
    const size_t size = m_param->size();
    const size_t needed = bytesNeeded(m_type, size);
    if (!p || needed == 0 || size < needed)
        return;
    // An instant the words cannot hold leaves the parameter as it was.
    qint64 msecs = dt.toMSecsSinceEpoch();
    if (isLocalType(m_type) && __builtin_add_overflow(msecs, static_cast<qint64>(getTZoffset(dt)) * 1000, &msecs))
        return;
    switch (m_type) {
    case tptUnixTimeUTC:
    case tptUnixTimeLocal:
        if (needed == timeenc::UnixSeconds64::bytes)
            timeenc::UnixSeconds64::write(p, msecs);
        else
            timeenc::UnixSeconds32::write(p, msecs);
        break;
    case tptKILocal:
    case tptKIUTC:
        timeenc::SecondsMicros::write(p, msecs);
        break;
    case tptUTmsecUTC:
    case tptUTmsecLocal:
        if (timeenc::SecondsMillis::write(p, msecs))
            GATE_DEBUG(8, m_type == tptUTmsecUTC ? "TimePoint::setFromDT(%s): to tptUTmsecUTC %u sec + %u msec"
                                                 : "TimePoint::setFromDT(%s): to tptUTmsecLocal %u sec + %u msec",
                       qUtf8Printable(getDTstring(dt)), get<quint32>(p), get<quint32>(p + 4));
        break;
    case tptUTdoubleUTC:
    case tptUTdoubleLocal:
        timeenc::SecondsDouble::write(p, msecs);
        GATE_DEBUG(8, m_type == tptUTdoubleUTC ? "TimePoint::setFromDT(%s): to tptUTdoubleUTC %lf"
                                               : "TimePoint::setFromDT(%s): to tptUTdoubleLocal %lf",
                   qUtf8Printable(getDTstring(dt)), get<double>(p));
        break;
    case tptTimeSpecUTC:
        timeenc::SecondsNanos::write(p, msecs);
        break;
    default:
        break;
    }
}

QDateTime TimePoint::toDT() const
{
    if (!m_param)
        return QDateTime();
    const uchar *p = m_param->values();
    const size_t size = m_param->size();
    const size_t needed = bytesNeeded(m_type, size);
    if (!p || needed == 0 || size < needed)
        return QDateTime();
    qint64 msecs = 0;
    bool ok = false;
    switch (m_type) {
    case tptUnixTimeUTC:
    case tptUnixTimeLocal:
        ok = needed == timeenc::UnixSeconds64::bytes ? timeenc::UnixSeconds64::read(p, &msecs)
                                                     : timeenc::UnixSeconds32::read(p, &msecs);
        break;
    case tptKILocal:
    case tptKIUTC:
        ok = timeenc::SecondsMicros::read(p, &msecs);
        break;
    case tptUTmsecUTC:
    case tptUTmsecLocal:
        ok = timeenc::SecondsMillis::read(p, &msecs);
        break;
    case tptUTdoubleUTC:
    case tptUTdoubleLocal:
        ok = timeenc::SecondsDouble::read(p, &msecs);
        break;
    case tptTimeSpecUTC:
        ok = timeenc::SecondsNanos::read(p, &msecs);
        break;
    default:
        break;
    }
    if (!ok)
        return QDateTime();
    const QDateTime dt = isLocalType(m_type) ? fromLocalMSecs(msecs) : fromMSecs(msecs);
    if (debugEnabled(8)) {
        if (m_type == tptUTmsecUTC || m_type == tptUTmsecLocal)
            qDebug(m_type == tptUTmsecUTC ? "TimePoint::toDT( %u sec + %u msec): from tptUTmsecUTC %s"
                                          : "TimePoint::toDT( %u sec + %u msec): from tptUTmsecLocal %s",
                   get<quint32>(p), get<quint32>(p + 4), qUtf8Printable(getDTstring(dt)));
        else if (m_type == tptUTdoubleUTC || m_type == tptUTdoubleLocal)
            qDebug(m_type == tptUTdoubleUTC ? "TimePoint::toDT(%lf): from tptUTdoubleUTC %s"
                                            : "TimePoint::toDT(%lf): from tptUTdoubleLocal %s",
                   get<double>(p), qUtf8Printable(getDTstring(dt)));
    }
    return dt;
}

bool TimePoint::encodes() const
{
    if (!m_param)
        return false;
    const size_t size = m_param->size();
    const size_t needed = bytesNeeded(m_type, size);
    return needed > 0 && size >= needed;
}

bool TimePoint::holdsTime() const
{
    if (!m_param)
        return false;
    const size_t size = m_param->size();
    if (m_type == tptUnixTimeUTC || m_type == tptUnixTimeLocal)
        return size >= 4;
    if (m_type >= tptKILocal && m_type <= tptUTdoubleLocal)
        return size >= 8;
    return false;
}
