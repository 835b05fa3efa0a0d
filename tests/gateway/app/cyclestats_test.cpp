#include "app/cyclestats.h"

#include <gtest/gtest.h>

TEST(CycleStats, BucketBoundsBelongToTheirBucketAndLongerTicksGoToTheLast)
{
    CycleStats stats(500);
    stats.record(500);      // exactly the first bound
    stats.record(501);      // just above it
    stats.record(2500000);  // exactly the last bound
    stats.record(2500001);  // beyond every bound
    stats.record(-7);       // a clock that went back counts as 0
    EXPECT_EQ(stats.bucket(0), 2u);
    EXPECT_EQ(stats.bucket(1), 1u);
    EXPECT_EQ(stats.bucket(CycleStats::BucketCount - 2), 1u);
    EXPECT_EQ(stats.bucket(CycleStats::BucketCount - 1), 1u);
    EXPECT_EQ(stats.cumulativeBucket(1), 3u);
    EXPECT_EQ(stats.cumulativeBucket(CycleStats::BucketCount - 1), stats.ticks());
    EXPECT_EQ(stats.ticks(), 5u);
    EXPECT_EQ(stats.totalUs(), 500u + 501u + 2500000u + 2500001u);
    EXPECT_EQ(stats.maxUs(), 2500001);
    EXPECT_EQ(stats.lastUs(), 0);
}

TEST(CycleStats, OnlyATickLongerThanThePeriodIsAnOverrun)
{
    CycleStats stats(500);
    stats.record(500000);
    EXPECT_EQ(stats.overruns(), 0u);
    stats.record(500001);
    EXPECT_EQ(stats.overruns(), 1u);
    CycleStats fast(100);
    fast.record(100001);
    EXPECT_EQ(fast.overruns(), 1u);
}
