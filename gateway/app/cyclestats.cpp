#include "app/cyclestats.h"

constexpr std::array<qint64, 12> CycleStats::BucketBoundsUs;

CycleStats::CycleStats(qint64 periodMs)
    : m_periodMs(periodMs)
{
}

void CycleStats::record(qint64 durationUs)
{
    const qint64 us = qMax<qint64>(0, durationUs);
    ++m_ticks;
    m_totalUs += quint64(us);
    m_lastUs = us;
    if (us > m_maxUs)
        m_maxUs = us;
    if (us > m_periodMs * 1000)
        ++m_overruns;
    size_t i = 0;
    while (i < BucketBoundsUs.size() && us > BucketBoundsUs[i])
        ++i;
    ++m_buckets[i];
}

quint64 CycleStats::cumulativeBucket(int i) const
{
    quint64 sum = 0;
    for (int b = 0; b <= i && b < BucketCount; ++b)
        sum += m_buckets[size_t(b)];
    return sum;
}
