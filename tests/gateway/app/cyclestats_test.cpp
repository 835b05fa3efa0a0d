#include "app/cyclestats.h"

#include <gtest/gtest.h>

TEST(CycleStats, BoundsBelongToTheirBucketAndOnlyLongerTicksOverrun)
{
    CycleStats stats(500);
    for (const qint64 us : {qint64(500), qint64(501), qint64(500000), qint64(500001), qint64(2500001), qint64(-7)})
        stats.record(us);
    EXPECT_EQ(stats.bucket(0), 2u); // 500 µs, and a clock that went back counts as 0
    EXPECT_EQ(stats.bucket(1), 1u);
    EXPECT_EQ(stats.bucket(9), 1u); // exactly the period
    EXPECT_EQ(stats.bucket(10), 1u);
    EXPECT_EQ(stats.bucket(CycleStats::BucketCount - 1), 1u);
    EXPECT_EQ(stats.cumulativeBucket(CycleStats::BucketCount - 1), stats.ticks());
    EXPECT_EQ(stats.overruns(), 2u);
    EXPECT_EQ(stats.maxUs(), 2500001);
    EXPECT_EQ(stats.lastUs(), 0);
}
