#include "conversion/conversionfunctions.h"

#include <QDateTime>

#include <ctime>

namespace conv {

namespace {

constexpr qint64 kMsecsPerDay = 86400000;

template<typename T, typename B>
B bitsOf(T v)
{
    static_assert(sizeof(T) == sizeof(B), "same width");
    B b;
    std::memcpy(&b, &v, sizeof b);
    return b;
}

} // namespace

void traceValue(const char *kind, size_t i, float v, int state)
{
    qDebug("%s(): [%zu]: value is %f(0x%X), state =>%i", kind, i, static_cast<double>(v), bitsOf<float, quint32>(v),
           state);
}

void traceValue(const char *kind, size_t i, double v, int state)
{
    qDebug("%s(): [%zu]: value is %f(0x%llX), state =>%i", kind, i, v,
           static_cast<unsigned long long>(bitsOf<double, quint64>(v)), state);
}

void traceValue(const char *kind, size_t i, qint64 v, quint64 bits, int state)
{
    qDebug("%s(): [%zu]: value is %lld(0x%llX), state =>%i", kind, i, static_cast<long long>(v),
           static_cast<unsigned long long>(bits), state);
}

void traceValue(const char *kind, size_t i, Instant v, int state)
{
    const QDateTime dt = QDateTime::fromMSecsSinceEpoch(v.msecs, Qt::UTC);
    qDebug("%s(): [%zu]: value is %s(%lld ms), state =>%i", kind, i, qUtf8Printable(dt.toString(Qt::ISODateWithMs)),
           static_cast<long long>(v.msecs), state);
}

void traceBytes(const char *kind, size_t i, const uchar *bytes, size_t count, int state)
{
    static const char digits[] = "0123456789ABCDEF";
    char hex[2 * 16 + 1];
    size_t n = 0;
    for (size_t k = 0; k < count && k < 16; ++k) {
        hex[n++] = digits[bytes[k] >> 4];
        hex[n++] = digits[bytes[k] & 0x0F];
    }
    hex[n] = '\0';
    qDebug("%s(): [%zu]: value is 0x%s, state =>%i", kind, i, hex, state);
}

namespace {

// The local wall-clock reading of an instant, in milliseconds counted as if
// the wall clock were UTC; false when the instant has no local time. The
// system's zone data answer directly (one localtime_r), which is far cheaper
// than building local date-times per element.
bool localWallMsecs(qint64 msecs, qint64 *wall)
{
    const qint64 secs = floorDiv(msecs, 1000);
    const time_t t = static_cast<time_t>(secs);
    struct tm local;
    if (static_cast<qint64>(t) != secs || !localtime_r(&t, &local))
        return false;
    return !__builtin_add_overflow(msecs, static_cast<qint64>(local.tm_gmtoff) * 1000, wall);
}

// Days from 1899-12-30 to 1970-01-01.
constexpr qint64 kDaysTo1970 = 25569;

} // namespace

bool daysSince1899Local(qint64 msecs, double *days)
{
    qint64 wall = 0;
    if (!localWallMsecs(msecs, &wall))
        return false;
    const qint64 whole = floorDiv(wall, kMsecsPerDay) + kDaysTo1970;
    const double fraction = static_cast<double>(floorMod(wall, kMsecsPerDay)) / kMsecsPerDay;
    // Before the epoch the day count is negative and the time of day counts
    // away from zero: -1.25 is 1899-12-29 06:00.
    *days = whole >= 0 ? static_cast<double>(whole) + fraction : static_cast<double>(whole) - fraction;
    return true;
}

bool secondsOfLocalDay(qint64 msecs, double *secs)
{
    qint64 wall = 0;
    if (!localWallMsecs(msecs, &wall))
        return false;
    *secs = static_cast<double>(floorMod(wall, kMsecsPerDay)) / 1000.0;
    return true;
}

} // namespace conv
