#include "core/timepoint.h"

#include "support/fixedclock.h"
#include "support/memoryparam.h"
#include "support/scopedtimezone.h"

#include <dpdatatype.h>

#include <gtest/gtest.h>

namespace {

const QDateTime kInstant = utc(2020, 1, 1, 0, 0, 0, 250); // 1577836800 s + 250 ms
const quint32 kSecs = 1577836800u;

struct Stamp {
    MemoryParam param;
    TimePoint tp;
    Stamp(qint32 type, size_t bytes)
        : param(nullptr, dpdtByte, bytes, 1)
    {
        param.storage().fill('\x5A');
        tp.setParam(&param);
        tp.setType(type);
    }
};

} // namespace

TEST(TimePointEncoding, MillisecondWordsForUtc)
{
    Stamp s(TimePoint::tptUTmsecUTC, 8);
    s.tp.setFromDT(kInstant);
    EXPECT_EQ(s.param.at<quint32>(0), kSecs);
    EXPECT_EQ(s.param.at<quint32>(1), 250u);
    EXPECT_EQ(s.tp.toDT(), kInstant);
    EXPECT_TRUE(s.tp.holdsTime());
}

TEST(TimePointEncoding, UnixTimeWordWidthFollowsTheStorage)
{
    Stamp four(TimePoint::tptUnixTimeUTC, 4);
    four.tp.setFromDT(kInstant);
    EXPECT_EQ(four.param.at<quint32>(0), kSecs);
    EXPECT_EQ(four.tp.toDT(), utc(2020, 1, 1));

    Stamp eight(TimePoint::tptUnixTimeUTC, 8);
    eight.tp.setFromDT(kInstant);
    EXPECT_EQ(eight.param.at<qint64>(0), static_cast<qint64>(kSecs));
    EXPECT_EQ(eight.tp.toDT(), utc(2020, 1, 1));

    Stamp three(TimePoint::tptUnixTimeUTC, 3);
    three.tp.setFromDT(kInstant);
    EXPECT_EQ(three.param.storage(), QByteArray(3, '\x5A'));
    EXPECT_FALSE(three.tp.holdsTime());
    EXPECT_FALSE(three.tp.toDT().isValid());
}

TEST(TimePointEncoding, SecondsOutsideTheWordsGiveNoTime)
{
    // Outside systems supply these bytes: seconds x 1000 would overflow.
    for (qint32 type : {TimePoint::tptUnixTimeUTC, TimePoint::tptUnixTimeLocal}) {
        Stamp s(type, 8);
        s.param.set<qint64>(0, 0x7000000000000000ll);
        EXPECT_FALSE(s.tp.toDT().isValid()) << type;
        s.param.set<qint64>(0, -0x7000000000000000ll);
        EXPECT_FALSE(s.tp.toDT().isValid()) << type;
    }
    // A 32-bit second count cannot hold an instant before 1970: no wrap.
    Stamp four(TimePoint::tptUnixTimeUTC, 4);
    four.tp.setFromDT(utc(1960, 1, 1));
    EXPECT_EQ(four.param.storage(), QByteArray(4, '\x5A'));
}

TEST(TimePointEncoding, MicrosecondsDoubleAndNanoseconds)
{
    Stamp ki(TimePoint::tptKIUTC, 8);
    ki.tp.setFromDT(kInstant);
    EXPECT_EQ(ki.param.at<quint32>(1), 250000u);
    EXPECT_EQ(ki.tp.toDT(), kInstant);

    Stamp dbl(TimePoint::tptUTdoubleUTC, 8);
    dbl.tp.setFromDT(kInstant);
    EXPECT_DOUBLE_EQ(dbl.param.at<double>(0), 1577836800.25);
    EXPECT_EQ(dbl.tp.toDT(), kInstant);

    Stamp ts(TimePoint::tptTimeSpecUTC, 8);
    ts.tp.setFromDT(kInstant);
    EXPECT_EQ(ts.param.at<quint32>(1), 250000000u);
    ts.param.set<quint32>(1, 999999999u);
    EXPECT_EQ(ts.tp.toDT(), utc(2020, 1, 1, 0, 0, 0, 999));
    EXPECT_FALSE(ts.tp.holdsTime()); // a timespec never serves as the unit's data time
}

TEST(TimePointEncoding, LocalCodesAddTheZoneOffset)
{
    ScopedTimeZone tz("XXX-3"); // UTC+3
    const qint64 local = kSecs + 3 * 3600;
    Stamp unix(TimePoint::tptUnixTimeLocal, 8);
    unix.tp.setFromDT(kInstant);
    EXPECT_EQ(unix.param.at<qint64>(0), local);
    EXPECT_EQ(unix.tp.toDT(), utc(2020, 1, 1));

    Stamp ki(TimePoint::tptKILocal, 8);
    ki.tp.setFromDT(kInstant);
    EXPECT_EQ(ki.param.at<quint32>(0), static_cast<quint32>(local));
    EXPECT_EQ(ki.tp.toDT(), kInstant);

    Stamp ms(TimePoint::tptUTmsecLocal, 8);
    ms.tp.setFromDT(kInstant);
    EXPECT_EQ(ms.param.at<quint32>(0), static_cast<quint32>(local));
    EXPECT_EQ(ms.tp.toDT(), kInstant);

    Stamp dbl(TimePoint::tptUTdoubleLocal, 8);
    dbl.tp.setFromDT(kInstant);
    EXPECT_DOUBLE_EQ(dbl.param.at<double>(0), local + 0.25);
    EXPECT_EQ(dbl.tp.toDT(), kInstant);
}

TEST(TimePointEncoding, LocalCodesBehindUtc)
{
    ScopedTimeZone tz("XXX1:30"); // UTC-01:30
    Stamp ms(TimePoint::tptUTmsecLocal, 8);
    ms.tp.setFromDT(kInstant);
    EXPECT_EQ(ms.param.at<quint32>(0), kSecs - 5400u);
    EXPECT_EQ(ms.tp.toDT(), kInstant);
}

// In the hour the clocks repeat, a live local time read back an hour
// ahead: the later of the two instants was always taken.
// New Zealand's change lies more than half a day from the wall reading
// taken as UTC: the first pass decoded an hour ahead.
TEST(TimePointEncoding, LocalTimesOfTheRepeatedHourDecodeToTheirOwnPass)
{
    const struct {
        const char *zone;
        QDateTime first, second, wall;
    } rows[] = {{"CET-1CEST,M3.5.0,M10.5.0/3", utc(2024, 10, 27, 0, 30), utc(2024, 10, 27, 1, 30), utc(2024, 10, 27, 2, 30)},
                {"NZST-12NZDT,M9.5.0,M4.1.0/3", utc(2024, 4, 6, 13, 30), utc(2024, 4, 6, 14, 30), utc(2024, 4, 7, 2, 30)}};
    for (const auto &row : rows) {
        ScopedTimeZone tz(row.zone);
        for (const QDateTime &now : {row.first, row.second}) {
            FixedClock clock(now);
            Stamp ms(TimePoint::tptUTmsecLocal, 8);
            ms.tp.setFromDT(now);
            EXPECT_EQ(ms.param.at<quint32>(0), static_cast<quint32>(row.wall.toSecsSinceEpoch())) << row.zone;
            EXPECT_EQ(ms.tp.toDT(), now) << row.zone << " " << qPrintable(now.toString(Qt::ISODate));
        }
    }
}

TEST(TimePointEncoding, NoneRawAndTimespec64NeverTouchTheParameter)
{
    for (qint32 type : {TimePoint::tptNone, TimePoint::tptRaw, TimePoint::tptTimeSpec64}) {
        Stamp s(type, 16);
        s.tp.setFromDT(kInstant);
        EXPECT_EQ(s.param.storage(), QByteArray(16, '\x5A')) << type;
        EXPECT_FALSE(s.tp.toDT().isValid()) << type;
        EXPECT_FALSE(s.tp.holdsTime()) << type;
    }
}

TEST(TimePointUpdate, StampsNowOnlyInSendOrConversionMode)
{
    FixedClock clock(kInstant);
    Stamp s(TimePoint::tptUTmsecUTC, 8);
    s.tp.update();
    EXPECT_EQ(s.param.storage(), QByteArray(8, '\x5A'));
    s.tp.setUpdateMode(TimePoint::tpuSource);
    s.tp.update();
    EXPECT_EQ(s.param.storage(), QByteArray(8, '\x5A'));
    s.tp.setUpdateMode(TimePoint::tpuSend);
    s.tp.update();
    EXPECT_EQ(s.param.at<quint32>(0), kSecs);

    TimePoint empty;
    empty.setUpdateMode(TimePoint::tpuSend);
    empty.update(); // no parameter: nothing to do, no crash
    EXPECT_FALSE(empty.holdsTime());
}

TEST(TimePointEncoding, ParameterWithoutStorageIsLeftAlone)
{
    Stamp s(TimePoint::tptUTmsecUTC, 8);
    s.param.dropStorage();
    s.tp.setFromDT(kInstant);
    EXPECT_FALSE(s.tp.toDT().isValid());
}
