#ifndef CYCLESTATS_H
#define CYCLESTATS_H

#include <QtGlobal>

#include <array>

// Statistics of the main cycle's ticks: how many ran, how long each took (a
// histogram with fixed bucket bounds), the longest and the last one, and the
// overruns (ticks that took longer than the cycle period).
//
// record() is called from every tick: it only adds to fixed fields, without
// allocating or formatting. Readers take the fields as they stand.
class CycleStats
{
public:
    // Upper bounds of the histogram buckets in microseconds; a tick of
    // exactly a bound falls into that bucket. The last bucket takes every
    // longer tick (+Inf).
    static constexpr std::array<qint64, 12> BucketBoundsUs = {
        500, 1000, 2000, 5000, 10000, 25000, 50000, 100000, 250000, 500000, 1000000, 2500000};
    static constexpr int BucketCount = int(BucketBoundsUs.size()) + 1;

    // `periodMs` is the cycle period that a tick must not exceed.
    explicit CycleStats(qint64 periodMs = 500);

    // One tick that took `durationUs` microseconds (negative counts as 0).
    void record(qint64 durationUs);

    qint64 periodMs() const { return m_periodMs; }
    quint64 ticks() const { return m_ticks; }
    quint64 overruns() const { return m_overruns; }
    // Sum of every tick's duration, the longest and the last one (µs).
    quint64 totalUs() const { return m_totalUs; }
    qint64 maxUs() const { return m_maxUs; }
    qint64 lastUs() const { return m_lastUs; }
    // Ticks of bucket `i` alone (not cumulative); 0 outside 0..BucketCount-1.
    quint64 bucket(int i) const { return i >= 0 && i < BucketCount ? m_buckets[size_t(i)] : 0; }
    // Ticks of bucket `i` and every bucket below it (the histogram's "le" count).
    quint64 cumulativeBucket(int i) const;

private:
    qint64 m_periodMs;
    quint64 m_ticks = 0;
    quint64 m_overruns = 0;
    quint64 m_totalUs = 0;
    qint64 m_maxUs = 0;
    qint64 m_lastUs = 0;
    std::array<quint64, BucketCount> m_buckets{};
};

#endif // CYCLESTATS_H
