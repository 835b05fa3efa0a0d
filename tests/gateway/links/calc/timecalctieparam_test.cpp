#include "links/calc/functieparam.h"
#include "links/calc/functieunit.h"
#include "links/calc/timecalctieparam.h"

#include "support/fixedclock.h"
#include "support/memoryparam.h"
#include "support/messagecapture.h"
#include "support/scopeddebuglevel.h"
#include "support/scopedtimezone.h"

#include <dpdatatype.h>

#include <cstring>

#include <gtest/gtest.h>

namespace {

// 2024-05-01 12:00:00.250 UTC.
const QDateTime kNoon = utc(2024, 5, 1, 12, 0, 0, 250);
const quint32 kNoonSecs = 1714564800u;

quint32 word(const CsvTieParam &p, size_t i)
{
    quint32 v;
    std::memcpy(&v, p.values() + i * sizeof v, sizeof v);
    return v;
}

TimeCalcTieParam *timeParam(BaseTieUnit *unit, quint32 type, qint32 kind, const QVector<quint32> &dims = {})
{
    auto *p = new TimeCalcTieParam(unit, type, 0, "e", "i", "k", QString(), kind);
    if (!dims.isEmpty())
        p->setDimensions(dims);
    return p;
}

struct KindRow {
    qint32 kind;
    quint32 type;
    bool updates;
};

class TimeCalcUpdate : public ::testing::TestWithParam<KindRow> {};

} // namespace

TEST_P(TimeCalcUpdate, WritesTheClockIntoEveryElementForCurrentKinds)
{
    ScopedTimeZone tz("XXX-3");
    FixedClock clock(kNoon);
    const KindRow row = GetParam();
    TimeCalcTieParam p(nullptr, row.type, 0, "", "i", "", "", row.kind);
    ASSERT_TRUE(p.setDimensions(QVector<quint32>{3}));
    EXPECT_EQ(p.update(), row.updates);
    for (size_t i = 0; i < 3; ++i)
        EXPECT_EQ(word(p, i), row.updates ? kNoonSecs : 0u) << i;
}

INSTANTIATE_TEST_SUITE_P(
    KindsAndSecondsTypes, TimeCalcUpdate,
    ::testing::Values(KindRow{TimeCalcTieParam::tkCurrentUtc, dpdtSDWord, true},
                      KindRow{TimeCalcTieParam::tkCurrentLocal, dpdtSDWord, true},
                      KindRow{TimeCalcTieParam::tkCurrentUtc, dpdtDWord, true},
                      KindRow{TimeCalcTieParam::tkCurrentLocal, dpdtTimeT32, true},
                      KindRow{TimeCalcTieParam::tkStartUtc, dpdtSDWord, false},
                      KindRow{TimeCalcTieParam::tkStartLocal, dpdtSDWord, false}, KindRow{0, dpdtSDWord, false},
                      KindRow{5, dpdtSDWord, false}, KindRow{TimeCalcTieParam::tkCurrentUtc, dpdtFloat, false}));

TEST(TimeCalcTieParam, TimespecHoldsSecondsAndNanoseconds)
{
    FixedClock clock(kNoon);
    TimeCalcTieParam p(nullptr, dpdtTimeSpec, 0, "", "i", "", "", TimeCalcTieParam::tkCurrentUtc);
    ASSERT_TRUE(p.setDimensions(QVector<quint32>{2}));
    ASSERT_EQ(p.size(), 16u);
    EXPECT_TRUE(p.update());
    EXPECT_EQ(word(p, 0), kNoonSecs);
    EXPECT_EQ(word(p, 1), 250000000u);
    EXPECT_EQ(word(p, 2), kNoonSecs);
    EXPECT_EQ(word(p, 3), 250000000u);

    clock.advance(1999); // 12:00:02.249
    EXPECT_TRUE(p.update());
    EXPECT_EQ(word(p, 0), kNoonSecs + 2);
    EXPECT_EQ(word(p, 1), 249000000u);
}

TEST(TimeCalcTieParam, UpdateMessagesAtLevelSix)
{
    ScopedDebugLevel level(6);
    FixedClock clock(kNoon);
    MessageCapture capture;
    TimeCalcTieParam p(nullptr, dpdtTimeSpec, 0, "", "i", "", "", TimeCalcTieParam::tkCurrentUtc);
    p.update();
    EXPECT_TRUE(capture.contains("TimeCalcTieParam::update() was called for 1/38 (TIMESPEC)"));
    EXPECT_TRUE(capture.containsPart("TimeCalcTieParam::update() for dpdtTimeSpec p="));
    EXPECT_TRUE(capture.contains(QStringLiteral("    dpdtTimeSpec[0] %1,250000000").arg(kNoonSecs)));
}

TEST(TimeCalcTieParam, SupportedTypeWithoutStorageStillReportsAnUpdate)
{
    FixedClock clock(kNoon);
    TimeCalcTieParam p(nullptr, dpdtSDWord, 0, "", "i", "", "", TimeCalcTieParam::tkCurrentUtc);
    ASSERT_TRUE(p.setDimensions(QVector<quint32>{0}));
    EXPECT_EQ(p.values(), nullptr);
    EXPECT_TRUE(p.update());
    p.reset();
}

TEST(TimeCalcTieParam, ResetWritesTheInitialisationTimeIntoSecondsTypes)
{
    ScopedTimeZone tz("XXX5");
    FixedClock clock(kNoon);
    TimeCalcTieParam startUtc(nullptr, dpdtSDWord, 0, "", "i", "", "", TimeCalcTieParam::tkStartUtc);
    TimeCalcTieParam startLocal(nullptr, dpdtSDWord, 1, "", "i", "", "", TimeCalcTieParam::tkStartLocal);
    TimeCalcTieParam current(nullptr, dpdtDWord, 2, "", "i", "", "", TimeCalcTieParam::tkCurrentUtc);
    TimeCalcTieParam other(nullptr, dpdtSDWord, 3, "", "i", "", "", 9);
    startUtc.reset();
    startLocal.reset();
    current.reset();
    other.reset();
    EXPECT_EQ(word(startUtc, 0), kNoonSecs);
    EXPECT_EQ(word(startLocal, 0), kNoonSecs); // seconds since the epoch do not depend on the zone
    EXPECT_EQ(word(current, 0), kNoonSecs);
    EXPECT_EQ(word(other, 0), 0xFFFFFFFFu); // only the base reset

    // The start time stays when the clock moves on.
    clock.advance(5000);
    EXPECT_FALSE(startUtc.update());
    EXPECT_EQ(word(startUtc, 0), kNoonSecs);
    EXPECT_TRUE(current.update());
    EXPECT_EQ(word(current, 0), kNoonSecs + 5);
}

TEST(TimeCalcTieParam, TimespecKeepsTheBaseResetUntilTheFirstUpdate)
{
    FixedClock clock(kNoon);
    TimeCalcTieParam p(nullptr, dpdtTimeSpec, 0, "", "i", "", "", TimeCalcTieParam::tkCurrentUtc);
    const quint32 marker[2] = {7, 8};
    std::memcpy(p.valuesForWrite(), marker, sizeof marker);
    p.reset(); // TIMESPEC is left untouched by the base reset
    EXPECT_EQ(word(p, 0), 7u);
    EXPECT_EQ(word(p, 1), 8u);
}

TEST(FuncTieParam, BaseUpdateChangesNothing)
{
    FuncTieParam p(nullptr, dpdtSDWord, 0, "", "i", "", "");
    EXPECT_FALSE(p.update());
}

TEST(FuncTieUnit, PollMarksTheUnitReceivedAndDirtyWhenAParameterChanged)
{
    FixedClock clock(kNoon);
    TestTie tie;
    auto *unit = new FuncTieUnit(&tie);
    tie.addUnit(unit);
    EXPECT_EQ(unit->direction(), static_cast<quint32>(BaseTieUnit::dirFromThis));
    unit->addParam(nullptr);
    unit->addParam(new MemoryParam(unit, dpdtSDWord, 1, 4)); // not a function parameter
    unit->addParam(timeParam(unit, dpdtSDWord, TimeCalcTieParam::tkCurrentUtc));

    EXPECT_TRUE(unit->pollData());
    EXPECT_EQ(unit->lastReceived(), kNoon);
    EXPECT_TRUE(unit->isDirty());
    EXPECT_EQ(unit->state(), BaseTieUnit::stOK);
}

TEST(FuncTieUnit, PollWithoutChangeLeavesTheUnitAlone)
{
    FixedClock clock(kNoon);
    TestTie tie;
    auto *unit = new FuncTieUnit(&tie);
    tie.addUnit(unit);
    unit->addParam(timeParam(unit, dpdtSDWord, TimeCalcTieParam::tkStartUtc));
    unit->addParam(new FuncTieParam(unit, dpdtSDWord, 1, "", "i", "", ""));
    EXPECT_FALSE(unit->pollData());
    EXPECT_FALSE(unit->lastReceived().isValid());
    EXPECT_FALSE(unit->isDirty());
}

TEST(FuncTieUnit, PollMessagesAtLevelSix)
{
    ScopedDebugLevel level(6);
    FixedClock clock(kNoon);
    MessageCapture capture;
    FuncTieUnit unit;
    unit.addParam(new TimeCalcTieParam(&unit, dpdtSDWord, 0, "", "@X", "@X", "", TimeCalcTieParam::tkCurrentUtc));
    EXPECT_TRUE(unit.pollData());
    EXPECT_TRUE(capture.contains("FuncTieUnit::pollData() was called for 1 params"));
    EXPECT_TRUE(capture.containsPart(" param[0] with kks/iid=@X cast from "));
    EXPECT_TRUE(capture.contains("  param was updated"));
}
