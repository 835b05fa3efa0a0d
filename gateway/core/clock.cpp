#include "core/clock.h"

#include <QElapsedTimer>

namespace {
bool g_fixed = false;
QDateTime g_instant;
qint64 g_fixedMonotonic = 0;
// Added to the system's monotonic reading so that it never falls behind what
// a fixed clock has shown.
qint64 g_monotonicOffset = 0;

QElapsedTimer &systemMonotonic()
{
    static QElapsedTimer timer = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    return timer;
}
} // namespace

QDateTime Clock::nowUtc()
{
    return g_fixed ? g_instant : QDateTime::currentDateTimeUtc();
}

QDateTime Clock::nowLocal()
{
    return g_fixed ? g_instant.toLocalTime() : QDateTime::currentDateTime();
}

qint64 Clock::monotonicMsecs()
{
    return g_fixed ? g_fixedMonotonic : systemMonotonic().elapsed() + g_monotonicOffset;
}

void Clock::setFixed(const QDateTime &instant)
{
    if (!g_fixed)
        g_fixedMonotonic = monotonicMsecs();
    g_fixed = true;
    g_instant = instant.toUTC();
}

void Clock::advance(qint64 msecs)
{
    if (!g_fixed)
        return;
    g_instant = g_instant.addMSecs(msecs);
    if (msecs > 0)
        g_fixedMonotonic += msecs;
}

void Clock::useSystemClock()
{
    if (g_fixed)
        g_monotonicOffset = qMax<qint64>(g_monotonicOffset, g_fixedMonotonic - systemMonotonic().elapsed());
    g_fixed = false;
    g_instant = QDateTime();
}

bool Clock::isFixed()
{
    return g_fixed;
}
