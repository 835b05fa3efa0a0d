#ifndef CLOCK_H
#define CLOCK_H

#include <QDateTime>
#include <QtGlobal>

// The one clock through which every "now" reading of the gateway goes.
// Normally it reads the system clock; tests fix it to a chosen instant and
// move it forward instead of sleeping.
//
// Two readings: the wall clock (UTC date-times, for every time stamp) and a
// monotonic count of milliseconds (for timeouts, intervals and "has time
// passed" decisions, which a step of the wall clock must not disturb).
class Clock
{
public:
    // The current instant as a UTC date-time.
    static QDateTime nowUtc();
    // The current instant as a local date-time.
    static QDateTime nowLocal();
    // Milliseconds since an arbitrary fixed start; never goes back. While
    // the clock is fixed it moves only with advance(), not with setFixed(),
    // so a test can step the wall clock back and keep the monotonic count.
    static qint64 monotonicMsecs();

    // From now on the clock reads `instant` until moved or released.
    static void setFixed(const QDateTime &instant);
    // Moves a fixed clock forward by `msecs`, the wall clock and the
    // monotonic count alike (no effect on the system clock).
    static void advance(qint64 msecs);
    // Returns to the system clock.
    static void useSystemClock();
    // True while the clock is fixed.
    static bool isFixed();
};

#endif // CLOCK_H
