#include "core/timepoint.h"

#include "core/basetieparam.h"
#include "core/clock.h"
#include "core/diag.h"

#include <datetimefunctions.h>

#include <cmath>
#include <cstring>

namespace {

// Whole seconds since the epoch (rounded toward minus infinity) and the
// millisecond of that second.
void splitInstant(const QDateTime &dt, qint64 *secs, qint64 *msecs)
{
    const qint64 total = dt.toMSecsSinceEpoch();
    qint64 s = total / 1000;
    if (total % 1000 < 0)
        --s;
    *secs = s;
    *msecs = total - s * 1000;
}

template<typename T>
void put(uchar *p, T value)
{
    std::memcpy(p, &value, sizeof value);
}

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

// The instant whose local wall-clock reading, taken as seconds since the
// epoch, is `localMSecs`: the local offset is the one at the decoded instant.
QDateTime fromLocalMSecs(qint64 localMSecs)
{
    const QDateTime candidate = fromMSecs(localMSecs);
    QDateTime result = candidate.addSecs(-getTZoffset(candidate));
    result = candidate.addSecs(-getTZoffset(result));
    return result;
}

bool isLocalType(qint32 type)
{
    return type == TimePoint::tptUnixTimeLocal || type == TimePoint::tptKILocal
        || type == TimePoint::tptUTmsecLocal || type == TimePoint::tptUTdoubleLocal;
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
    if (!p)
        return;
    qint64 s = 0;
    qint64 ms = 0;
    splitInstant(dt, &s, &ms);
    const qint64 local = isLocalType(m_type) ? s + getTZoffset(dt) : s;
    switch (m_type) {
    case tptUnixTimeUTC:
    case tptUnixTimeLocal:
        if (size > 7)
            put<qint64>(p, local);
        else if (size >= 4)
            put<quint32>(p, static_cast<quint32>(local));
        break;
    case tptKILocal:
    case tptKIUTC:
        if (size >= 8) {
            put<quint32>(p, static_cast<quint32>(local));
            put<quint32>(p + 4, static_cast<quint32>(ms * 1000));
        }
        break;
    case tptUTmsecUTC:
    case tptUTmsecLocal:
        if (size >= 8) {
            put<quint32>(p, static_cast<quint32>(local));
            put<quint32>(p + 4, static_cast<quint32>(ms));
            GATE_DEBUG(8, m_type == tptUTmsecUTC ? "TimePoint::setFromDT(%s): to tptUTmsecUTC %u sec + %u msec"
                                                 : "TimePoint::setFromDT(%s): to tptUTmsecLocal %u sec + %u msec",
                       qUtf8Printable(getDTstring(dt)), static_cast<quint32>(local), static_cast<quint32>(ms));
        }
        break;
    case tptUTdoubleUTC:
    case tptUTdoubleLocal:
        if (size >= 8) {
            const double value = static_cast<double>(local) + static_cast<double>(ms) / 1000.0;
            put<double>(p, value);
            GATE_DEBUG(8, m_type == tptUTdoubleUTC ? "TimePoint::setFromDT(%s): to tptUTdoubleUTC %lf"
                                                   : "TimePoint::setFromDT(%s): to tptUTdoubleLocal %lf",
                       qUtf8Printable(getDTstring(dt)), value);
        }
        break;
    case tptTimeSpecUTC:
        if (size >= 8) {
            put<quint32>(p, static_cast<quint32>(s));
            put<quint32>(p + 4, static_cast<quint32>(ms * 1000000));
        }
        break;
    default: // none, raw, timespec64
        break;
    }
}

QDateTime TimePoint::toDT() const
{
    if (!m_param)
        return QDateTime();
    const uchar *p = m_param->values();
    const size_t size = m_param->size();
    if (!p)
        return QDateTime();
    const bool local = isLocalType(m_type);
    auto decode = [local](qint64 msecs) { return local ? fromLocalMSecs(msecs) : fromMSecs(msecs); };
    switch (m_type) {
    case tptUnixTimeUTC:
    case tptUnixTimeLocal:
        if (size > 7)
            return decode(get<qint64>(p) * 1000);
        if (size >= 4)
            return decode(static_cast<qint64>(get<quint32>(p)) * 1000);
        return QDateTime();
    case tptKILocal:
    case tptKIUTC:
        if (size < 8)
            return QDateTime();
        return decode(static_cast<qint64>(get<quint32>(p)) * 1000 + get<quint32>(p + 4) / 1000);
    case tptUTmsecUTC:
    case tptUTmsecLocal: {
        if (size < 8)
            return QDateTime();
        const quint32 secs = get<quint32>(p);
        const quint32 msecs = get<quint32>(p + 4);
        const QDateTime dt = decode(static_cast<qint64>(secs) * 1000 + msecs);
        GATE_DEBUG(8, m_type == tptUTmsecUTC ? "TimePoint::toDT( %u sec + %u msec): from tptUTmsecUTC %s"
                                             : "TimePoint::toDT( %u sec + %u msec): from tptUTmsecLocal %s",
                   secs, msecs, qUtf8Printable(getDTstring(dt)));
        return dt;
    }
    case tptUTdoubleUTC:
    case tptUTdoubleLocal: {
        if (size < 8)
            return QDateTime();
        const double value = get<double>(p);
        if (!std::isfinite(value) || std::fabs(value) > 1e14)
            return QDateTime();
        const double whole = std::floor(value);
        const qint64 msecs = static_cast<qint64>(whole) * 1000 + std::llround((value - whole) * 1000.0);
        const QDateTime dt = decode(msecs);
        GATE_DEBUG(8, m_type == tptUTdoubleUTC ? "TimePoint::toDT(%lf): from tptUTdoubleUTC %s"
                                               : "TimePoint::toDT(%lf): from tptUTdoubleLocal %s",
                   value, qUtf8Printable(getDTstring(dt)));
        return dt;
    }
    case tptTimeSpecUTC:
        if (size < 8)
            return QDateTime();
        return fromMSecs(static_cast<qint64>(get<quint32>(p)) * 1000 + get<quint32>(p + 4) / 1000000);
    default:
        return QDateTime();
    }
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
