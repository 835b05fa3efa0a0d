#include "datetimefunctions.h"

#include <QLocale>

#include <cstdlib>
#include <ctime>

namespace {

// Date-time texts go into log files and to peers: always ASCII digits,
// whatever the locale of the machine.
QString formatDateTime(const QDateTime &t, const QString &format)
{
    return QLocale::c().toString(t, format);
}

} // namespace

QString getLongDateTimeFormat()
{
    return QStringLiteral("dd.MM.yyyy hh:mm:ss.zzz");
}

QString getShortDateTimeFormat()
{
    return QStringLiteral("dd.MM.yyyy hh:mm:ss");
}

QString getLongTimeFormat()
{
    return QStringLiteral("hh:mm:ss.zzz");
}

QString getShortTimeFormat()
{
    return QStringLiteral("hh:mm:ss");
}

QString getShortDateFormat()
{
    return QStringLiteral("dd.MM.yyyy");
}

int getTZoffset(const QDateTime &t)
{
    if (!t.isValid())
        return 0;
    // The system's zone data answer directly (localtime_r's tm_gmtoff), at a
    // small part of the cost of building local date-times; instants past
    // time_t go the long way.
    const qint64 msecs = t.toMSecsSinceEpoch();
    const qint64 secs = msecs / 1000 - (msecs % 1000 < 0 ? 1 : 0);
    const time_t at = static_cast<time_t>(secs);
    struct tm parts;
    if (static_cast<qint64>(at) == secs && ::localtime_r(&at, &parts))
        return static_cast<int>(parts.tm_gmtoff);
    // The local wall-clock reading of `t`, read as if it were UTC, minus `t`.
    const QDateTime local = t.toLocalTime();
    const QDateTime wallAsUtc(local.date(), local.time(), Qt::UTC);
    return static_cast<int>((wallAsUtc.toMSecsSinceEpoch() - t.toMSecsSinceEpoch()) / 1000);
}

int getCurrentTZoffset()
{
    return getTZoffset(QDateTime::currentDateTime());
}

QString getDTstring(const QDateTime &t)
{
    const int offset = getTZoffset(t);
    const int minutes = std::abs(offset / 60);
    const QString sign = offset < -59 ? QStringLiteral(" -") : QStringLiteral(" +");
    // The wall clock from the same zone reading as the suffix: the local
    // conversion takes shortcuts before 1970 and after 2037 that disagree
    // with it, and the text named another instant.
    const QDateTime wall = t.toUTC().addSecs(offset);
    return formatDateTime(wall, QStringLiteral("dd-MM-yyyy hh:mm:ss.zzz")) + sign
        + QStringLiteral("%1%2").arg(minutes / 60, 2, 10, QLatin1Char('0')).arg(minutes % 60, 2, 10, QLatin1Char('0'));
}

QString currentDTstring()
{
    return getDTstring(QDateTime::currentDateTime());
}

QString currentDTLongString()
{
    return formatDateTime(QDateTime::currentDateTime(), getLongDateTimeFormat());
}

QString currentDTShortString()
{
    return formatDateTime(QDateTime::currentDateTime(), getShortDateTimeFormat());
}

QString currentTLongString()
{
    return formatDateTime(QDateTime::currentDateTime(), getLongTimeFormat());
}

QString currentTShortString()
{
    return formatDateTime(QDateTime::currentDateTime(), getShortTimeFormat());
}

QDateTime constructDateTime(unsigned int secs, int msecs, Qt::TimeSpec spec)
{
    const qint64 ms = static_cast<qint64>(secs) * 1000 + msecs;
    return QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC).toTimeSpec(spec);
}

QDateTime constructDateTime(unsigned int secs, unsigned int msecs, Qt::TimeSpec spec)
{
    const qint64 ms = static_cast<qint64>(secs) * 1000 + static_cast<qint64>(msecs);
    return QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC).toTimeSpec(spec);
}
