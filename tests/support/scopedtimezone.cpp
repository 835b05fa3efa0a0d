#include "support/scopedtimezone.h"

#include <QtGlobal>

#include <ctime>

ScopedTimeZone::ScopedTimeZone(const char *tz)
    : m_hadValue(qEnvironmentVariableIsSet("TZ"))
    , m_previous(qgetenv("TZ"))
{
    qputenv("TZ", tz);
    tzset();
}

ScopedTimeZone::~ScopedTimeZone()
{
    if (m_hadValue)
        qputenv("TZ", m_previous);
    else
        qunsetenv("TZ");
    tzset();
}
