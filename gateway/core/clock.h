#ifndef CLOCK_H
#define CLOCK_H

#include <QDateTime>

// The one clock through which every "now" reading of the gateway goes.
// Normally it reads the system clock; tests fix it to a chosen instant and
// move it forward instead of sleeping.
class Clock
{
public:
    // The current instant as a UTC date-time.
    static QDateTime nowUtc();
    // The current instant as a local date-time.
    static QDateTime nowLocal();

    // From now on the clock reads `instant` until moved or released.
    static void setFixed(const QDateTime &instant);
    // Moves a fixed clock forward by `msecs` (no effect on the system clock).
    static void advance(qint64 msecs);
    // Returns to the system clock.
    static void useSystemClock();
    // True while the clock is fixed.
    static bool isFixed();
};

#endif // CLOCK_H
