#include "core/clock.h"

#include "support/fixedclock.h"

#include <QThread>

#include <gtest/gtest.h>

TEST(ClockPass, ReadsTheSystemClockOnceForTheOutermostPass)
{
    QDateTime inPass;
    {
        const Clock::Pass outer;
        inPass = Clock::nowUtc();
        QThread::msleep(20);
        {
            const Clock::Pass inner;
            EXPECT_EQ(Clock::nowUtc(), inPass);
        }
        EXPECT_EQ(Clock::nowUtc(), inPass);
        EXPECT_EQ(Clock::nowMsecsSinceEpoch(), inPass.toMSecsSinceEpoch());
    }
    EXPECT_GE(Clock::nowMsecsSinceEpoch() - inPass.toMSecsSinceEpoch(), 20);
}

TEST(ClockPass, FollowsAFixedClockThatIsMoved)
{
    FixedClock clock(utc(2024, 5, 1, 12));
    const Clock::Pass pass;
    clock.advance(1500);
    EXPECT_EQ(Clock::nowUtc(), utc(2024, 5, 1, 12, 0, 1, 500));
    EXPECT_EQ(Clock::nowMsecsSinceEpoch(), utc(2024, 5, 1, 12, 0, 1, 500).toMSecsSinceEpoch());
}
