#include "core/repeatedmessage.h"

#include "core/clock.h"
#include "support/fixedclock.h"
#include "support/logcapture.h"
#include "support/messagecapture.h"

#include <gtest/gtest.h>

namespace {

struct Repeats : ::testing::Test {
    FixedClock clock{utc(2024, 5, 1, 12)};
    LogCapture log;
    MessageCapture messages;
    RepeatedMessage fault;
};

} // namespace

TEST_F(Repeats, AStreakWritesItsFirstLineThenOneSummaryPerIntervalThenTheRecovery)
{
    EXPECT_FALSE(fault.repeat()); // no streak to count under
    EXPECT_TRUE(fault.report("input missing"));
    for (int tick = 0; tick < 119; ++tick) { // a minute of ticks, half of them counted without a text
        clock.advance(500);
        EXPECT_FALSE(tick % 2 ? fault.report("input missing") : !fault.repeat());
    }
    EXPECT_EQ(log.lines(), QStringList({"input missing"}));
    clock.advance(500);
    fault.report("input missing");
    EXPECT_EQ(log.lines(), QStringList({"input missing", "input missing (repeated 120 times)"}));
    clock.advance(500);
    fault.report("input missing");
    EXPECT_TRUE(fault.clear("input back"));
    EXPECT_EQ(log.lines().mid(2), QStringList({"input missing (repeated 1 times)", "input back"}));
    EXPECT_EQ(messages.warnings(), log.lines());
    EXPECT_FALSE(fault.clear("input back")); // no streak, no line
    EXPECT_EQ(log.lines().size(), 4);
}

// A fault that stops without a recovery of its own: the count still owed is
// written after a quiet minute, and the next fault is a streak of its own.
TEST_F(Repeats, AStreakEndsAfterAQuietPeriod)
{
    fault.report("dropped 12 bytes");
    clock.advance(30000);
    fault.report("dropped 12 bytes");
    clock.advance(59999);
    EXPECT_FALSE(fault.clearWhenQuiet());
    clock.advance(1);
    EXPECT_TRUE(fault.clearWhenQuiet());
    EXPECT_FALSE(fault.active());
    EXPECT_TRUE(fault.report("dropped 40 bytes"));
    EXPECT_EQ(log.lines(), QStringList({"dropped 12 bytes", "dropped 12 bytes (repeated 1 times)", "dropped 40 bytes"}));
}

TEST_F(Repeats, ADifferentTextIsWrittenAtOnceAfterTheSummaryOfTheOldOne)
{
    RepeatedMessage logOnly(RepeatedMessage::Log);
    logOnly.report("cannot open: no such file", "kann nicht öffnen");
    logOnly.report("cannot open: no such file", "kann nicht öffnen");
    EXPECT_TRUE(logOnly.report("cannot open: permission denied"));
    EXPECT_EQ(log.lines(), QStringList({"kann nicht öffnen", "kann nicht öffnen (repeated 1 times)",
                                        "cannot open: permission denied"}));
    EXPECT_TRUE(messages.warnings().isEmpty());
    EXPECT_EQ(logOnly.streakReports(), 3u);

    // Texts quote what came from outside: a placeholder in them is text.
    logOnly.report("payload \"%1\" refused");
    logOnly.report("payload \"%1\" refused");
    logOnly.clear();
    EXPECT_EQ(log.lines().last(), QStringLiteral("payload \"%1\" refused (repeated 1 times)"));
}

TEST(Clock, MonotonicReadingIgnoresWallClockStepsAndFollowsAdvance)
{
    FixedClock clock{utc(2024, 5, 1, 12)};
    const qint64 start = Clock::monotonicMsecs();
    clock.set(utc(2024, 5, 1, 11)); // the wall clock steps back an hour
    EXPECT_EQ(Clock::monotonicMsecs(), start);
    clock.advance(1500);
    EXPECT_EQ(Clock::monotonicMsecs(), start + 1500);
    Clock::useSystemClock();
    EXPECT_GE(Clock::monotonicMsecs(), start + 1500);
}
