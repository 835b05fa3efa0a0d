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
    class Pass;

    // The current instant as a UTC date-time.
    static QDateTime nowUtc();
    // The current instant as a local date-time.
    static QDateTime nowLocal();
    // The instant nowUtc() reads, in milliseconds since 1970-01-01 00:00 UTC,
    // without building a date-time (for comparisons on hot paths).
    static qint64 nowMsecsSinceEpoch();
    // Milliseconds since an arbitrary fixed start; never goes back. While
    // the clock is fixed it moves only with advance(), not with setFixed(),
    // so a test can step the wall clock back and keep the monotonic count.
    static qint64 monotonicMsecs();
    // monotonicMsecs() as read once for the outermost Pass (the live count
    // outside passes): for the staleness tests of a pass, which must all
    // mean the same "now" and run once per conversion.
    static qint64 passMonotonicMsecs();

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

// One reading of the wall clock for a whole pass over many parameters (a
// tie's poll and conversion). While a Pass lives, nowUtc(), nowLocal() and
// nowMsecsSinceEpoch() on its thread return the instant read when the
// outermost Pass was made (a fixed clock that is moved meanwhile moves it
// too); monotonicMsecs() is not affected, passMonotonicMsecs() is. Every stamp and staleness test of
// the pass then means the same "now", and the clock is read once per pass
// instead of twice per conversion. Passes nest; the inner ones share the
// outermost reading. Create them on the stack only.
class Clock::Pass
{
public:
    Pass();
    ~Pass();
    Pass(const Pass &) = delete;
    Pass &operator=(const Pass &) = delete;

private:
    friend class Clock;
    QDateTime m_instant;
    qint64 m_msecs;
    qint64 m_monotonic;
    Pass *m_outer;
};

#endif // CLOCK_H
