#ifndef TIMEENCODING_H
#define TIMEENCODING_H

#include <QtGlobal>

#include <cmath>
#include <cstddef>
#include <cstring>

// How an instant, in milliseconds since 1970-01-01 00:00 UTC, is written
// into the words of a parameter's storage and read back: the one place for
// the encodings that the unit time points and the date/time conversions
// share. Words are little-endian and accessed through memcpy, so they may
// sit at any alignment. A reader returns false when the words hold no
// instant the milliseconds can express (seconds x 1000 would overflow); a
// writer returns false, and writes nothing, when the instant does not fit
// the words (a negative or too large second count for an unsigned word).
namespace timeenc {

// Division rounding toward minus infinity, and its remainder (never
// negative for a positive divisor): instants before 1970 split into a
// negative second and a positive millisecond of it.
// Neither multiplies, so both hold down to the smallest instant.
constexpr qint64 floorDiv(qint64 a, qint64 b)
{
    const qint64 q = a / b;
    return (a % b != 0 && ((a < 0) != (b < 0))) ? q - 1 : q;
}

constexpr qint64 floorMod(qint64 a, qint64 b)
{
    const qint64 r = a % b;
    return (r != 0 && ((r < 0) != (b < 0))) ? r + b : r;
}

// secs x 1000 + msec into *msecs; false when that overflows.
inline bool msecsOf(qint64 secs, qint64 msec, qint64 *msecs)
{
    return !__builtin_mul_overflow(secs, qint64(1000), msecs) && !__builtin_add_overflow(*msecs, msec, msecs);
}

// Whole seconds in one word of W (unix time).
template<typename W>
struct Seconds {
    static constexpr size_t bytes = sizeof(W);
    static bool read(const uchar *p, qint64 *msecs)
    {
        W w;
        std::memcpy(&w, p, sizeof w);
        return msecsOf(static_cast<qint64>(w), 0, msecs);
    }
    static bool write(uchar *p, qint64 msecs)
    {
        const qint64 secs = floorDiv(msecs, 1000);
        const W w = static_cast<W>(secs);
        if (static_cast<qint64>(w) != secs)
            return false;
        std::memcpy(p, &w, sizeof w);
        return true;
    }
};

// Seconds and a count of sub-second units in two words of W; `perMsec`
// units make one millisecond (1 milliseconds, 1000 microseconds, 1000000
// nanoseconds). Written sub-second counts are whole milliseconds; read ones
// are cut to whole milliseconds.
template<typename W, qint64 perMsec>
struct SecondsAndFraction {
    static constexpr size_t bytes = 2 * sizeof(W);
    static bool read(const uchar *p, qint64 *msecs)
    {
        W w[2];
        std::memcpy(w, p, sizeof w);
        return msecsOf(static_cast<qint64>(w[0]), static_cast<qint64>(w[1]) / perMsec, msecs);
    }
    static bool write(uchar *p, qint64 msecs)
    {
        const qint64 secs = floorDiv(msecs, 1000);
        const qint64 msec = floorMod(msecs, 1000);
        const W w[2] = {static_cast<W>(secs), static_cast<W>(msec * perMsec)};
        if (static_cast<qint64>(w[0]) != secs)
            return false;
        std::memcpy(p, w, sizeof w);
        return true;
    }
};

// Seconds as a double with the milliseconds as its fraction.
struct SecondsDouble {
    static constexpr size_t bytes = sizeof(double);
    static bool read(const uchar *p, qint64 *msecs)
    {
        double v;
        std::memcpy(&v, p, sizeof v);
        // Past 1e14 seconds (three million years) there is no date-time anyway.
        if (!std::isfinite(v) || std::fabs(v) > 1e14)
            return false;
        const double whole = std::floor(v);
        *msecs = static_cast<qint64>(whole) * 1000 + std::llround((v - whole) * 1000.0);
        return true;
    }
    static bool write(uchar *p, qint64 msecs)
    {
        const qint64 secs = floorDiv(msecs, 1000);
        const double v = static_cast<double>(secs) + static_cast<double>(msecs - secs * 1000) / 1000.0;
        std::memcpy(p, &v, sizeof v);
        return true;
    }
};

using UnixSeconds32 = Seconds<quint32>;
using UnixSeconds64 = Seconds<qint64>;
// Seconds and milliseconds, 32-bit words (the "utmsec" time points).
using SecondsMillis = SecondsAndFraction<quint32, 1>;
// Seconds and microseconds, 32-bit words (TIMEVAL, the KI time points).
using SecondsMicros = SecondsAndFraction<quint32, 1000>;
// Seconds and nanoseconds, 32-bit words (TIMESPEC, the timespec time point).
using SecondsNanos = SecondsAndFraction<quint32, 1000000>;
// Seconds and nanoseconds, 64-bit words (TIMESPEC64).
using SecondsNanos64 = SecondsAndFraction<qint64, 1000000>;

} // namespace timeenc

#endif // TIMEENCODING_H
