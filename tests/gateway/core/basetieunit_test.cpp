#include "core/basetieunit.h"

#include "support/fixedclock.h"
#include "support/memoryparam.h"

#include <gtest/gtest.h>

namespace {

struct UnitFixture : ::testing::Test {
    FixedClock clock{utc(2024, 5, 1, 12, 0, 0)};
    TestTie tie;
    BaseTieUnit *unit = new BaseTieUnit(&tie);

    UnitFixture() { tie.addUnit(unit); }
};

} // namespace

TEST_F(UnitFixture, FromThisUnitGoesStaleAfterTheTiesTimeout)
{
    unit->setDirection(BaseTieUnit::dirFromThis);
    unit->updateLastReceived(clock.now().addMSecs(-2500));
    EXPECT_EQ(unit->state(), BaseTieUnit::stOK);
    unit->setLastReceived(clock.now().addMSecs(-3500));
    EXPECT_EQ(unit->state(), BaseTieUnit::stStale);
    tie.setTimeout(5000);
    EXPECT_EQ(unit->state(), BaseTieUnit::stOK);
}

TEST_F(UnitFixture, FromThisUnitWithoutDataReportsNoDataWhileTheTieIsOk)
{
    unit->setDirection(BaseTieUnit::dirFromThis);
    EXPECT_EQ(unit->state(), BaseTieUnit::stNoData);
}

TEST_F(UnitFixture, TieStateIsPassedThroughUnchanged)
{
    unit->setDirection(BaseTieUnit::dirToThis);
    tie.setState(2);
    EXPECT_EQ(unit->state(), 2);
    tie.setState(0);
    EXPECT_EQ(unit->state(), BaseTieUnit::stOK);
}

TEST_F(UnitFixture, UnitWithoutDirectionOrTieIsDisabled)
{
    EXPECT_EQ(unit->state(), BaseTieUnit::stDisabled);
    BaseTieUnit orphan;
    orphan.setDirection(BaseTieUnit::dirToThis);
    EXPECT_EQ(orphan.state(), BaseTieUnit::stDisabled);
    EXPECT_FALSE(orphan.pollData());
    EXPECT_FALSE(orphan.sendData());
    EXPECT_EQ(orphan.dataTimeout(), 0u);
}

TEST_F(UnitFixture, LastReceivedAndLastUpdatedNeverMoveBackwards)
{
    const QDateTime t = clock.now();
    unit->updateLastReceived(t);
    unit->updateLastReceived(t.addSecs(-10));
    EXPECT_EQ(unit->lastReceived(), t);
    unit->updateLastUpdated(t);
    unit->updateLastUpdated(t.addSecs(-1));
    EXPECT_EQ(unit->lastUpdated(), t);
    unit->updateLastUpdated(t.addSecs(1));
    EXPECT_EQ(unit->lastUpdated(), t.addSecs(1));
}

TEST_F(UnitFixture, DataTimePrefersTheTimePointThenFollowsTheDirection)
{
    const QDateTime received = clock.now().addSecs(-5);
    const QDateTime updated = clock.now().addSecs(-2);
    unit->setLastReceived(received);
    unit->setLastUpdated(updated);
    EXPECT_FALSE(unit->dataTime().isValid());
    unit->setDirection(BaseTieUnit::dirFromThis);
    EXPECT_EQ(unit->dataTime(), received);
    unit->setDirection(BaseTieUnit::dirToThis);
    EXPECT_EQ(unit->dataTime(), updated);

    auto *stamp = new MemoryParam(unit, 6, 2, 4);
    unit->addParam(stamp);
    stamp->set<quint32>(0, 1577836800u);
    stamp->set<quint32>(1, 250u);
    unit->timePoint().setParam(stamp);
    unit->timePoint().setType(TimePoint::tptUTmsecUTC);
    EXPECT_EQ(unit->dataTime(), utc(2020, 1, 1, 0, 0, 0, 250));
}

TEST_F(UnitFixture, ConversionIntoTheUnitStampsItAndMarksItDirty)
{
    unit->setDirection(BaseTieUnit::dirToThis);
    auto *param = new MemoryParam(unit, 9, 1, 4);
    auto *stamp = new MemoryParam(unit, 6, 2, 4);
    unit->addParam(param);
    unit->addParam(stamp);
    unit->timePoint().setParam(stamp);
    unit->timePoint().setType(TimePoint::tptUTmsecUTC);
    unit->timePoint().setUpdateMode(TimePoint::tpuConversion);

    param->doPostConversionWork();
    EXPECT_TRUE(unit->isDirty());
    EXPECT_EQ(unit->lastUpdated(), clock.now());
    EXPECT_EQ(stamp->at<quint32>(0), static_cast<quint32>(clock.now().toSecsSinceEpoch()));

    unit->markSent();
    EXPECT_FALSE(unit->isDirty());
    EXPECT_EQ(unit->lastSent(), clock.now());
}

TEST_F(UnitFixture, UpdateLastUpdatedWritesATimePointThatHoldsATime)
{
    auto *stamp = new MemoryParam(unit, 5, 1, 4);
    unit->addParam(stamp);
    unit->timePoint().setParam(stamp);
    unit->timePoint().setType(TimePoint::tptUnixTimeUTC);
    const QDateTime t = utc(2021, 3, 4, 5, 6, 7);
    unit->updateLastUpdated(t);
    EXPECT_EQ(stamp->at<quint32>(0), static_cast<quint32>(t.toSecsSinceEpoch()));
    // An older time leaves both the unit and its stamp alone.
    unit->updateLastUpdated(t.addSecs(-100));
    EXPECT_EQ(stamp->at<quint32>(0), static_cast<quint32>(t.toSecsSinceEpoch()));
}

TEST_F(UnitFixture, TimePointFollowsAProviderWhoseTimesTrailTheClock)
{
    unit->setDirection(BaseTieUnit::dirToThis);
    auto *param = new MemoryParam(unit, 9, 1, 4);
    auto *stamp = new MemoryParam(unit, 6, 2, 4);
    unit->addParam(param);
    unit->addParam(stamp);
    unit->timePoint().setParam(stamp);
    unit->timePoint().setType(TimePoint::tptUTmsecUTC);
    // Each tick one conversion of data stamped 0.8 s before the gateway's now.
    for (int tick = 0; tick < 3; ++tick) {
        const QDateTime dataTime = clock.now().addMSecs(-800);
        unit->updateLastUpdated(dataTime);
        param->doPostConversionWork();
        EXPECT_EQ(unit->dataTime(), dataTime) << "tick " << tick;
        EXPECT_EQ(unit->lastUpdated(), clock.now());
        clock.advance(500);
    }
}

// A wall clock stepped back an hour: the unit's times must not stay an
// hour ahead, or a source that stops reads as fresh and a stamp freezes.
TEST_F(UnitFixture, TimesAheadOfTheClockDoNotHoldAfterAStepBack)
{
    unit->setDirection(BaseTieUnit::dirFromThis);
    unit->updateLastReceived(clock.now());
    clock.set(clock.now().addSecs(-3600));
    unit->updateLastReceived(clock.now());
    EXPECT_EQ(unit->lastReceived(), clock.now());
    clock.advance(5000); // the source stopped
    EXPECT_EQ(unit->state(), BaseTieUnit::stStale);

    auto *stamp = new MemoryParam(unit, 6, 2, 4);
    unit->addParam(stamp);
    unit->timePoint().setParam(stamp);
    unit->timePoint().setType(TimePoint::tptUTmsecUTC);
    unit->updateLastUpdated(clock.now().addDays(365)); // one wrong future time
    const QDateTime right = clock.now().addMSecs(-800);
    unit->updateLastUpdated(right);
    EXPECT_EQ(unit->timePoint().toDT(), right);
    unit->updateLastUpdated(right.addMSecs(-100)); // behind a sound mark: refused
    EXPECT_EQ(unit->timePoint().toDT(), right);
}

// Age was measured on the wall clock: a step forward made live data stale
// (and invalidated every consumer), a step back kept stopped data fresh.
TEST_F(UnitFixture, StalenessIgnoresStepsOfTheWallClock)
{
    unit->setDirection(BaseTieUnit::dirFromThis);
    const QDateTime start = clock.now();
    unit->updateLastReceived(start);
    clock.set(start.addSecs(3600));
    EXPECT_EQ(unit->state(), BaseTieUnit::stOK);
    unit->updateLastReceived(clock.now());
    clock.advance(1000);
    clock.set(clock.now().addSecs(-7200)); // then the source stopped
    clock.advance(2500);
    EXPECT_EQ(unit->state(), BaseTieUnit::stStale);
}

TEST_F(UnitFixture, InitResetsEveryParameterSkipsNullsAndClearsDirty)
{
    auto *param = new MemoryParam(unit, 9, 2, 4);
    unit->addParam(param);
    unit->params().append(nullptr);
    unit->setDirty(true);
    unit->init();
    EXPECT_FALSE(unit->isDirty());
    EXPECT_EQ(param->at<quint32>(0), 0xFFFFFFFFu);
    EXPECT_EQ(param->at<quint32>(1), 0xFFFFFFFFu);
}

TEST_F(UnitFixture, ConvertFromThisRefusesAUnitThatIsNotFromThis)
{
    unit->setDirection(BaseTieUnit::dirToThis);
    EXPECT_EQ(unit->convertFromThis(), 0);
    EXPECT_FALSE(unit->lastConverted().isValid());
}
