#ifndef DATETIMEFUNCTIONS_H
#define DATETIMEFUNCTIONS_H

#include "sundry_export.h"

#include <QDateTime>
#include <QString>

// Fixed text formats (Qt date/time format syntax).
SUNDRY_EXPORT QString getLongDateTimeFormat();  // "dd.MM.yyyy hh:mm:ss.zzz"
SUNDRY_EXPORT QString getShortDateTimeFormat(); // "dd.MM.yyyy hh:mm:ss"
SUNDRY_EXPORT QString getLongTimeFormat();      // "hh:mm:ss.zzz"
SUNDRY_EXPORT QString getShortTimeFormat();     // "hh:mm:ss"
SUNDRY_EXPORT QString getShortDateFormat();     // "dd.MM.yyyy"

// Seconds by which local time is ahead of UTC at the instant `t`.
SUNDRY_EXPORT int getTZoffset(const QDateTime &t);
// getTZoffset() for the current instant.
SUNDRY_EXPORT int getCurrentTZoffset();

// `t` in local time as "dd-MM-yyyy hh:mm:ss.zzz" followed by " +hhmm" or
// " -hhmm", the zone offset in whole minutes.
SUNDRY_EXPORT QString getDTstring(const QDateTime &t);
// getDTstring() of the current local time.
SUNDRY_EXPORT QString currentDTstring();
SUNDRY_EXPORT QString currentDTLongString();  // now, long date-time format
SUNDRY_EXPORT QString currentDTShortString(); // now, short date-time format
SUNDRY_EXPORT QString currentTLongString();   // now, long time format
SUNDRY_EXPORT QString currentTShortString();  // now, short time format

// The instant `secs` seconds plus `msecs` milliseconds (may be negative)
// after 1970-01-01 00:00:00 UTC, expressed in time spec `spec`.
SUNDRY_EXPORT QDateTime constructDateTime(unsigned int secs, int msecs, Qt::TimeSpec spec);
SUNDRY_EXPORT QDateTime constructDateTime(unsigned int secs, unsigned int msecs, Qt::TimeSpec spec);

#endif // DATETIMEFUNCTIONS_H
