#ifndef SCOPEDTIMEZONE_H
#define SCOPEDTIMEZONE_H

#include <QByteArray>

// Sets the process's local time zone (a POSIX TZ string such as "XXX-3" for
// UTC+3, "XXX1:30" for UTC-01:30) for the lifetime of the object and restores
// the previous one afterwards.
class ScopedTimeZone
{
public:
    explicit ScopedTimeZone(const char *tz);
    ~ScopedTimeZone();

private:
    bool m_hadValue;
    QByteArray m_previous;
};

#endif // SCOPEDTIMEZONE_H
