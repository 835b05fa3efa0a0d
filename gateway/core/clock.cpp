#include "core/clock.h"

namespace {
bool g_fixed = false;
QDateTime g_instant;
} // namespace

QDateTime Clock::nowUtc()
{
    return g_fixed ? g_instant : QDateTime::currentDateTimeUtc();
}

QDateTime Clock::nowLocal()
{
    return g_fixed ? g_instant.toLocalTime() : QDateTime::currentDateTime();
}

void Clock::setFixed(const QDateTime &instant)
{
    g_fixed = true;
    g_instant = instant.toUTC();
}

void Clock::advance(qint64 msecs)
{
    if (g_fixed)
        g_instant = g_instant.addMSecs(msecs);
}

void Clock::useSystemClock()
{
    g_fixed = false;
    g_instant = QDateTime();
}

bool Clock::isFixed()
{
    return g_fixed;
}
