#include "datetimefunctions.h"

#include <cstdlib>

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
    return t.toLocalTime().toString(QStringLiteral("dd-MM-yyyy hh:mm:ss.zzz")) + sign
        + QStringLiteral("%1%2").arg(minutes / 60, 2, 10, QLatin1Char('0')).arg(minutes % 60, 2, 10, QLatin1Char('0'));
}

QString currentDTstring()
{
    return getDTstring(QDateTime::currentDateTime());
}

QString currentDTLongString()
{
    return QDateTime::currentDateTime().toString(getLongDateTimeFormat());
}

QString currentDTShortString()
{
    return QDateTime::currentDateTime().toString(getShortDateTimeFormat());
}

QString currentTLongString()
{
    return QDateTime::currentDateTime().toString(getLongTimeFormat());
}

QString currentTShortString()
{
    return QDateTime::currentDateTime().toString(getShortTimeFormat());
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
