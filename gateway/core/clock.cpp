#include "core/clock.h"

#include <QElapsedTimer>

namespace {
bool g_fixed = false;
QDateTime g_instant;
qint64 g_fixedMonotonic = 0;
// Added to the system's monotonic reading so that it never falls behind what
// a fixed clock has shown.
qint64 g_monotonicOffset = 0;

// The innermost pass of this thread; null outside passes.
thread_local Clock::Pass *t_pass = nullptr;

QDateTime systemUtc()
{
    return QDateTime::currentDateTimeUtc();
}

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
    if (t_pass)
        return t_pass->m_instant;
    return g_fixed ? g_instant : systemUtc();
}

QDateTime Clock::nowLocal()
{
    if (t_pass || g_fixed)
        return nowUtc().toLocalTime();
    return QDateTime::currentDateTime();
}

qint64 Clock::nowMsecsSinceEpoch()
{
    if (t_pass)
        return t_pass->m_msecs;
    return g_fixed ? g_instant.toMSecsSinceEpoch() : QDateTime::currentMSecsSinceEpoch();
}

Clock::Pass::Pass()
    : m_outer(t_pass)
{
    if (m_outer) {
        m_instant = m_outer->m_instant;
        m_msecs = m_outer->m_msecs;
        m_monotonic = m_outer->m_monotonic;
    } else {
        m_instant = g_fixed ? g_instant : systemUtc();
        m_msecs = m_instant.toMSecsSinceEpoch();
        m_monotonic = monotonicMsecs();
    }
    t_pass = this;
}

Clock::Pass::~Pass()
{
    t_pass = m_outer;
}

qint64 Clock::monotonicMsecs()
{
    return g_fixed ? g_fixedMonotonic : systemMonotonic().elapsed() + g_monotonicOffset;
}

qint64 Clock::passMonotonicMsecs()
{
    return t_pass ? t_pass->m_monotonic : monotonicMsecs();
}

void Clock::setFixed(const QDateTime &instant)
{
    if (!g_fixed)
        g_fixedMonotonic = monotonicMsecs();
    g_fixed = true;
    g_instant = instant.toUTC();
    for (Pass *pass = t_pass; pass; pass = pass->m_outer) {
        pass->m_instant = g_instant;
        pass->m_msecs = g_instant.toMSecsSinceEpoch();
    }
}

void Clock::advance(qint64 msecs)
{
    if (!g_fixed)
        return;
    setFixed(g_instant.addMSecs(msecs));
    if (msecs > 0) {
        g_fixedMonotonic += msecs;
        for (Pass *pass = t_pass; pass; pass = pass->m_outer)
            pass->m_monotonic = g_fixedMonotonic;
    }
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
