#include <datetimefunctions.h>

#include "sundry/qtprinters.h"

#include "support/scopedtimezone.h"

#include <QRegularExpression>

#include <gtest/gtest.h>

namespace {

QDateTime utcAt(int y, int mo, int d, int h, int mi, int s, int ms)
{
    return QDateTime(QDate(y, mo, d), QTime(h, mi, s, ms), Qt::UTC);
}

TEST(DateTimeFormats, FixedTexts)
{
    EXPECT_EQ(getLongDateTimeFormat(), QStringLiteral("dd.MM.yyyy hh:mm:ss.zzz"));
    EXPECT_EQ(getShortDateTimeFormat(), QStringLiteral("dd.MM.yyyy hh:mm:ss"));
    EXPECT_EQ(getLongTimeFormat(), QStringLiteral("hh:mm:ss.zzz"));
    EXPECT_EQ(getShortTimeFormat(), QStringLiteral("hh:mm:ss"));
    EXPECT_EQ(getShortDateFormat(), QStringLiteral("dd.MM.yyyy"));
}

struct ZoneCase {
    const char *tz;
    int offsetSeconds;
    const char *dtString; // getDTstring of 2026-12-06 16:24:43.120 UTC
};

void PrintTo(const ZoneCase &c, std::ostream *os)
{
    *os << c.tz;
}

class ZoneOffset : public ::testing::TestWithParam<ZoneCase> {};

TEST_P(ZoneOffset, OffsetAndDateTimeString)
{
    const ZoneCase c = GetParam();
    ScopedTimeZone zone(c.tz);
    const QDateTime t = utcAt(2026, 12, 6, 16, 24, 43, 120);
    EXPECT_EQ(getTZoffset(t), c.offsetSeconds);
    EXPECT_EQ(getTZoffset(t.toLocalTime()), c.offsetSeconds);
    EXPECT_EQ(getDTstring(t), QString::fromLatin1(c.dtString));
    EXPECT_EQ(getDTstring(t.toLocalTime()), QString::fromLatin1(c.dtString));
}

INSTANTIATE_TEST_SUITE_P(OffsetSigns, ZoneOffset, ::testing::Values(
    ZoneCase{"XXX-3", 3 * 3600, "06-12-2026 19:24:43.120 +0300"},
    ZoneCase{"XXX1:30", -5400, "06-12-2026 14:54:43.120 -0130"},
    ZoneCase{"XXX0:00:30", -30, "06-12-2026 16:24:13.120 +0000"},
    ZoneCase{"XXX0:01:30", -90, "06-12-2026 16:23:13.120 -0001"},
    ZoneCase{"XXX-5:45", 5 * 3600 + 45 * 60, "06-12-2026 22:09:43.120 +0545"},
    ZoneCase{"UTC0", 0, "06-12-2026 16:24:43.120 +0000"}));

TEST(ZoneOffset, FollowsDaylightSavingTimeOfTheInstant)
{
    // Central European rules: +1 in winter, +2 in summer.
    ScopedTimeZone zone("CET-1CEST,M3.5.0,M10.5.0/3");
    EXPECT_EQ(getTZoffset(utcAt(2026, 1, 15, 12, 0, 0, 0)), 3600);
    EXPECT_EQ(getTZoffset(utcAt(2026, 7, 15, 12, 0, 0, 0)), 7200);
    EXPECT_EQ(getDTstring(utcAt(2026, 7, 15, 12, 0, 0, 5)), QStringLiteral("15-07-2026 14:00:00.005 +0200"));
    // Past 2037 the text and the suffix still name the same instant.
    EXPECT_EQ(getDTstring(utcAt(2040, 3, 25, 1, 30, 0, 0)), QStringLiteral("25-03-2040 03:30:00.000 +0200"));
}

TEST(ZoneOffset, InvalidDateTimeHasNoOffset)
{
    EXPECT_EQ(getTZoffset(QDateTime()), 0);
}

TEST(ZoneOffset, CurrentOffsetFollowsZone)
{
    ScopedTimeZone zone("XXX-3");
    EXPECT_EQ(getCurrentTZoffset(), 3 * 3600);
}

TEST(CurrentStrings, HaveTheirFormats)
{
    ScopedTimeZone zone("XXX-3");
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^\\d\\d-\\d\\d-\\d{4} \\d\\d:\\d\\d:\\d\\d\\.\\d{3} \\+0300$"))
                    .match(currentDTstring())
                    .hasMatch())
        << qPrintable(currentDTstring());
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^\\d\\d\\.\\d\\d\\.\\d{4} \\d\\d:\\d\\d:\\d\\d\\.\\d{3}$"))
                    .match(currentDTLongString())
                    .hasMatch());
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^\\d\\d\\.\\d\\d\\.\\d{4} \\d\\d:\\d\\d:\\d\\d$"))
                    .match(currentDTShortString())
                    .hasMatch());
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d\\.\\d{3}$")).match(currentTLongString()).hasMatch());
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d$")).match(currentTShortString()).hasMatch());
}

TEST(ConstructDateTime, SecondsAndMillisecondsSinceEpoch)
{
    EXPECT_EQ(constructDateTime(0u, 0, Qt::UTC), utcAt(1970, 1, 1, 0, 0, 0, 0));
    EXPECT_EQ(constructDateTime(1u, -1, Qt::UTC).toUTC(), utcAt(1970, 1, 1, 0, 0, 0, 999));
    EXPECT_EQ(constructDateTime(0u, -1, Qt::UTC).toUTC(), utcAt(1969, 12, 31, 23, 59, 59, 999));
    EXPECT_EQ(constructDateTime(10u, -2500, Qt::UTC).toUTC(), utcAt(1970, 1, 1, 0, 0, 7, 500));
    EXPECT_EQ(constructDateTime(0u, 1500, Qt::UTC).toUTC(), utcAt(1970, 1, 1, 0, 0, 1, 500));
    // Beyond 2038: the seconds are unsigned.
    EXPECT_EQ(constructDateTime(4294967295u, 0, Qt::UTC), utcAt(2106, 2, 7, 6, 28, 15, 0));
    EXPECT_EQ(constructDateTime(4294967295u, 999u, Qt::UTC), utcAt(2106, 2, 7, 6, 28, 15, 999));
    EXPECT_EQ(constructDateTime(0u, 4000000000u, Qt::UTC), QDateTime::fromMSecsSinceEpoch(4000000000LL, Qt::UTC));
}

TEST(ConstructDateTime, ResultIsInRequestedSpec)
{
    ScopedTimeZone zone("XXX-3");
    const QDateTime local = constructDateTime(3600u, 250, Qt::LocalTime);
    EXPECT_EQ(local.timeSpec(), Qt::LocalTime);
    EXPECT_EQ(local.time(), QTime(4, 0, 0, 250));
    EXPECT_EQ(local.toMSecsSinceEpoch(), 3600250);
    const QDateTime utc = constructDateTime(3600u, 250u, Qt::UTC);
    EXPECT_EQ(utc.timeSpec(), Qt::UTC);
    EXPECT_EQ(utc.time(), QTime(1, 0, 0, 250));
}

} // namespace
