#include "conversiontestsupport.h"
#include "core/timeencoding.h"
#include "support/scopedtimezone.h"

#include <limits>

namespace {

class DateTimeConversionTest : public ConversionTest
{
protected:
    MemoryParam *timespec(quint32 secs, quint32 nsecs)
    {
        MemoryParam *p = provider(dpdtTimeSpec);
        p->set<quint32>(0, secs, 8, 0);
        p->set<quint32>(0, nsecs, 8, 4);
        return p;
    }
    MemoryParam *timespec64(qint64 secs, qint64 nsecs)
    {
        MemoryParam *p = provider(dpdtTimeSpec64);
        p->set<qint64>(0, secs, 16, 0);
        p->set<qint64>(0, nsecs, 16, 8);
        return p;
    }
    MemoryParam *timeval(quint32 secs, quint32 usecs)
    {
        MemoryParam *p = provider(dpdtTimeVal);
        p->set<quint32>(0, secs, 8, 0);
        p->set<quint32>(0, usecs, 8, 4);
        return p;
    }
    // The consumer of `type` after converting `from` into it.
    MemoryParam *into(const MemoryParam *from, int type)
    {
        MemoryParam *to = consumer(type);
        to->storage().fill('\x5A');
        EXPECT_EQ(convert(from, to), 0);
        return to;
    }
    static bool allZero(MemoryParam *p) { return p->storage().count('\0') == p->storage().size(); }
};

TEST_F(DateTimeConversionTest, TimeSpecIntoSecondsOfUtcDayAndDWord)
{
    MemoryParam *from = timespec(86400, 500000000);
    EXPECT_DOUBLE_EQ(into(from, dpdtDoubleDaySecsUTC)->at<double>(0), 0.5);
    EXPECT_EQ(into(from, dpdtDWord)->at<quint32>(0), 86400u);
}

TEST_F(DateTimeConversionTest, NanosecondsBelowTheMillisecondAreDropped)
{
    MemoryParam *from = timespec(1000, 999999999);
    EXPECT_DOUBLE_EQ(into(from, dpdtDoubleDaySecsUTC)->at<double>(0), 1000.999);
    MemoryParam *ts = into(from, dpdtTimeSpec);
    EXPECT_EQ(ts->at<quint32>(0, 8, 0), 1000u);
    EXPECT_EQ(ts->at<quint32>(0, 8, 4), 999000000u);
    MemoryParam *ts64 = into(from, dpdtTimeSpec64);
    EXPECT_EQ(ts64->at<qint64>(0, 16, 0), 1000);
    EXPECT_EQ(ts64->at<qint64>(0, 16, 8), 999000000);
    EXPECT_EQ(into(from, dpdtDWord)->at<quint32>(0), 1000u);
}

TEST_F(DateTimeConversionTest, DoubleCountsDaysSince1899InLocalTime)
{
    {
        ScopedTimeZone tz("UTC0");
        EXPECT_DOUBLE_EQ(into(timespec(0, 0), dpdtDouble)->at<double>(0), 25569.0);
    }
    {
        ScopedTimeZone tz("XXX-3");
        EXPECT_DOUBLE_EQ(into(timespec(0, 0), dpdtDouble)->at<double>(0), 25569.125);
        EXPECT_DOUBLE_EQ(into(timespec(43200, 0), dpdtDouble)->at<double>(0), 25569.625);
    }
    {
        // 1969-12-31 22:30 local.
        ScopedTimeZone tz("XXX1:30");
        EXPECT_DOUBLE_EQ(into(timespec(0, 0), dpdtDouble)->at<double>(0), 25568.9375);
    }
}

TEST_F(DateTimeConversionTest, DatesBefore1899SubtractTheTimeOfDay)
{
    ScopedTimeZone tz("UTC0");
    const auto secs = [](int y, int mo, int d, int h) { return utc(y, mo, d, h).toSecsSinceEpoch(); };
    EXPECT_DOUBLE_EQ(into(timespec64(secs(1899, 12, 30, 0), 0), dpdtDouble)->at<double>(0), 0.0);
    EXPECT_DOUBLE_EQ(into(timespec64(secs(1899, 12, 30, 18), 0), dpdtDouble)->at<double>(0), 0.75);
    EXPECT_DOUBLE_EQ(into(timespec64(secs(1899, 12, 29, 6), 0), dpdtDouble)->at<double>(0), -1.25);
    EXPECT_DOUBLE_EQ(into(timespec64(secs(1899, 12, 28, 12), 0), dpdtDouble)->at<double>(0), -2.5);
}

TEST_F(DateTimeConversionTest, SecondsOfLocalDayFollowTheTimeZone)
{
    MemoryParam *from = timespec(86400, 500000000);
    {
        ScopedTimeZone tz("XXX-3");
        EXPECT_DOUBLE_EQ(into(from, dpdtDoubleDaySecsLocal)->at<double>(0), 10800.5);
        EXPECT_DOUBLE_EQ(into(from, dpdtDoubleDaySecsUTC)->at<double>(0), 0.5);
    }
    {
        ScopedTimeZone tz("XXX1:30");
        EXPECT_DOUBLE_EQ(into(from, dpdtDoubleDaySecsLocal)->at<double>(0), 81000.5);
    }
    {
        // The offset of the instant itself: summer time in July, standard time in January.
        ScopedTimeZone tz("CET-1CEST,M3.5.0,M10.5.0/3");
        const auto at = [this](const QDateTime &dt) {
            return timespec(static_cast<quint32>(dt.toSecsSinceEpoch()), 0);
        };
        EXPECT_DOUBLE_EQ(into(at(utc(2024, 7, 1, 12)), dpdtDoubleDaySecsLocal)->at<double>(0), 14 * 3600.0);
        EXPECT_DOUBLE_EQ(into(at(utc(2024, 1, 1, 12)), dpdtDoubleDaySecsLocal)->at<double>(0), 13 * 3600.0);
        // 2024-07-01 is day 45474 after 1899-12-30.
        EXPECT_DOUBLE_EQ(into(at(utc(2024, 7, 1, 22)), dpdtDouble)->at<double>(0), 45475.0);
    }
}

TEST_F(DateTimeConversionTest, TimeValSources)
{
    ScopedTimeZone tz("UTC0");
    EXPECT_DOUBLE_EQ(into(timeval(0, 500000), dpdtDouble)->at<double>(0), 25569.0 + 0.5 / 86400.0);
    EXPECT_EQ(into(timeval(1700000000, 999999), dpdtDWord)->at<quint32>(0), 1700000000u);
    // Same type: copied, microseconds included.
    MemoryParam *copy = into(timeval(1700000000, 123456), dpdtTimeVal);
    EXPECT_EQ(copy->at<quint32>(0, 8, 0), 1700000000u);
    EXPECT_EQ(copy->at<quint32>(0, 8, 4), 123456u);
}

TEST_F(DateTimeConversionTest, InstantsBefore1970SplitDownwards)
{
    MemoryParam *from = timespec64(-1, 500000000);
    MemoryParam *ts64 = into(from, dpdtTimeSpec64);
    EXPECT_EQ(ts64->at<qint64>(0, 16, 0), -1);
    EXPECT_EQ(ts64->at<qint64>(0, 16, 8), 500000000);
    EXPECT_DOUBLE_EQ(into(from, dpdtDoubleDaySecsUTC)->at<double>(0), 86399.5);

    // The smallest instant of milliseconds: its split once multiplied past
    // the 64-bit range (undefined, caught here at compile time).
    static_assert(timeenc::floorMod(std::numeric_limits<qint64>::min(), 86400000) == 60424192);
    static_assert(timeenc::floorMod(std::numeric_limits<qint64>::min(), 1000) == 192);
    MemoryParam *least = timespec64(-9223372036854775, -808000000);
    MemoryParam *split = into(least, dpdtTimeSpec64);
    EXPECT_EQ(split->at<qint64>(0, 16, 0), -9223372036854776);
    EXPECT_EQ(split->at<qint64>(0, 16, 8), 192000000);
    EXPECT_DOUBLE_EQ(into(least, dpdtDoubleDaySecsUTC)->at<double>(0), 60424.192);
}

TEST_F(DateTimeConversionTest, TargetsThatCannotHoldTheInstantAreZero)
{
    // 2200-01-01 does not fit 32-bit seconds; 1969 does not fit unsigned seconds.
    const qint64 in2200 = utc(2200, 1, 1).toSecsSinceEpoch();
    EXPECT_TRUE(allZero(into(timespec64(in2200, 0), dpdtTimeSpec)));
    EXPECT_TRUE(allZero(into(timespec64(in2200, 0), dpdtDWord)));
    EXPECT_TRUE(allZero(into(timespec64(-10, 0), dpdtTimeSpec)));
    EXPECT_TRUE(allZero(into(timespec64(-10, 0), dpdtDWord)));
    MemoryParam *kept = into(timespec64(in2200, 0), dpdtTimeSpec64);
    EXPECT_EQ(kept->at<qint64>(0, 16, 0), in2200);
}

TEST_F(DateTimeConversionTest, UnrepresentableSourceInstantsGiveZero)
{
    MemoryParam *from = timespec64(std::numeric_limits<qint64>::max() / 10, 0);
    EXPECT_TRUE(allZero(into(from, dpdtDoubleDaySecsUTC)));
    EXPECT_TRUE(allZero(into(from, dpdtTimeSpec64)));
    EXPECT_TRUE(allZero(into(from, dpdtDouble)));
}

TEST_F(DateTimeConversionTest, UnusableOrShortProviderGivesZeroElements)
{
    MemoryParam *from = timespec(1000, 0);
    MemoryParam *days = consumer(dpdtDouble, 2);
    days->storage().fill('\x5A');
    ASSERT_EQ(convert(from, days), 0);
    EXPECT_NE(days->at<double>(0), 0.0);
    EXPECT_EQ(days->at<quint64>(1), 0u);

    tie.setState(4);
    MemoryParam *secs = into(from, dpdtDWord);
    EXPECT_TRUE(allZero(secs));
    EXPECT_TRUE(allZero(into(from, dpdtTimeSpec64)));
    EXPECT_TRUE(allZero(into(from, dpdtDoubleDaySecsLocal)));
}

TEST_F(DateTimeConversionTest, DaySecondsCopiedToTheSameType)
{
    MemoryParam *from = provider(dpdtDoubleDaySecsUTC);
    from->set<double>(0, 1234.5);
    EXPECT_DOUBLE_EQ(into(from, dpdtDoubleDaySecsUTC)->at<double>(0), 1234.5);
    MemoryParam *local = provider(dpdtDoubleDaySecsLocal);
    local->set<double>(0, 99.25);
    EXPECT_DOUBLE_EQ(into(local, dpdtDoubleDaySecsLocal)->at<double>(0), 99.25);
    MemoryParam *missing = consumer(dpdtDoubleDaySecsUTC);
    missing->storage().fill('\x5A');
    ASSERT_EQ(convert(dpdtDoubleDaySecsUTC, nullptr, missing), 0);
    EXPECT_TRUE(allZero(missing));
}

} // namespace
