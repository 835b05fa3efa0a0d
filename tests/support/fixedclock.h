#ifndef FIXEDCLOCK_H
#define FIXEDCLOCK_H

#include "core/clock.h"

// Fixes the gateway's clock at `instant` for the lifetime of the object.
class FixedClock
{
public:
    explicit FixedClock(const QDateTime &instant) { Clock::setFixed(instant); }
    ~FixedClock() { Clock::useSystemClock(); }
    void advance(qint64 msecs) { Clock::advance(msecs); }
    void set(const QDateTime &instant) { Clock::setFixed(instant); }
    QDateTime now() const { return Clock::nowUtc(); }
};

// A UTC date-time from its parts, for readable tests.
inline QDateTime utc(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, int ms = 0)
{
    return QDateTime(QDate(y, mo, d), QTime(h, mi, s, ms), Qt::UTC);
}

#endif // FIXEDCLOCK_H
