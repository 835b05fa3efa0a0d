#include "links/calc/functieunit.h"
#include "links/calc/servicetie.h"
#include "links/calc/timecalctieparam.h"

#include "support/fixedclock.h"
#include "support/messagecapture.h"
#include "support/scopeddebuglevel.h"

#include <dpdatatype.h>

#include <cstring>

#include <gtest/gtest.h>

namespace {

const QDateTime kNoon = utc(2024, 5, 1, 12, 0, 0, 250);
const quint32 kNoonSecs = 1714564800u;

quint32 word(const BaseTieParam *p, size_t i)
{
    quint32 v;
    std::memcpy(&v, p->values() + i * sizeof v, sizeof v);
    return v;
}

const char *const kIds[] = {"@INIT_DATETIME_UTC", "@INIT_DATETIME_LOCAL", "@CURRENT_DATETIME_UTC",
                            "@CURRENT_DATETIME_LOCAL", "@CURRENT_TIMESPEC"};

} // namespace

TEST(ServiceTie, StateIsAlwaysOk)
{
    ScopedDebugLevel level(11);
    MessageCapture capture;
    ServiceTie tie;
    EXPECT_EQ(tie.state(), 0);
    EXPECT_TRUE(capture.contains("ServiceTie::state() was called"));
}

TEST(ServiceTie, AddUnitAppendsAndAnnouncesAtLevelOne)
{
    ServiceTie tie;
    auto *unit = new FuncTieUnit;
    {
        MessageCapture quiet;
        tie.addUnit(unit);
        EXPECT_TRUE(quiet.messages().isEmpty());
    }
    EXPECT_EQ(tie.units().size(), 1);
    EXPECT_EQ(unit->myTie(), &tie);
    ScopedDebugLevel level(1);
    MessageCapture capture;
    tie.addUnit(nullptr);
    EXPECT_TRUE(capture.containsPart("ServiceTie::addUnit("));
    EXPECT_TRUE(capture.containsPart(") add unit"));
    EXPECT_EQ(tie.units().size(), 2);
}

TEST(ServiceTie, ClockUnitHoldsTheFiveParametersInOrder)
{
    ServiceTie tie;
    FuncTieUnit *unit = ServiceTie::createClockUnit(&tie);
    ASSERT_NE(unit, nullptr);
    ASSERT_EQ(tie.units().size(), 1);
    EXPECT_EQ(tie.units().first(), unit);
    EXPECT_EQ(unit->myTie(), &tie);
    EXPECT_EQ(unit->direction(), static_cast<quint32>(BaseTieUnit::dirFromThis));
    ASSERT_EQ(unit->params().size(), 5);

    const quint32 types[] = {dpdtSDWord, dpdtSDWord, dpdtSDWord, dpdtSDWord, dpdtTimeSpec};
    const qint32 kinds[] = {3, 4, 1, 2, 1};
    for (int i = 0; i < 5; ++i) {
        auto *p = dynamic_cast<TimeCalcTieParam *>(unit->params().at(i));
        ASSERT_NE(p, nullptr) << i;
        const QString id = QString::fromLatin1(kIds[i]);
        EXPECT_EQ(p->KKS(), id);
        EXPECT_EQ(p->IID(), id);
        EXPECT_EQ(p->extID(), id);
        EXPECT_TRUE(p->RTM().isEmpty());
        EXPECT_EQ(p->description(), "kks/iid=" + id);
        EXPECT_EQ(p->metatype(), types[i]) << i;
        EXPECT_EQ(p->timeKind(), kinds[i]) << i;
        EXPECT_EQ(p->count(), 1u);
        EXPECT_EQ(unit->paramsHash().find(id), p);
    }
    EXPECT_EQ(ServiceTie::createClockUnit(nullptr), nullptr);
}

TEST(ServiceTie, InitHoldsTheStartTimeAndEveryTickRefreshesTheCurrentTime)
{
    FixedClock clock(kNoon);
    ServiceTie tie;
    FuncTieUnit *unit = ServiceTie::createClockUnit(&tie);
    const QList<BaseTieParam *> &p = unit->params();
    tie.init();
    EXPECT_EQ(word(p.at(0), 0), kNoonSecs);
    EXPECT_EQ(word(p.at(1), 0), kNoonSecs);
    EXPECT_EQ(word(p.at(2), 0), kNoonSecs);
    EXPECT_EQ(word(p.at(3), 0), kNoonSecs);
    EXPECT_EQ(word(p.at(4), 0), 0u); // the timespec waits for the first tick
    EXPECT_EQ(unit->state(), BaseTieUnit::stNoData);

    clock.advance(500); // 12:00:00.750
    tie.pollAndConvert();
    EXPECT_EQ(unit->lastReceived(), clock.now());
    EXPECT_EQ(unit->lastConverted(), clock.now());
    EXPECT_EQ(unit->state(), BaseTieUnit::stOK);
    EXPECT_EQ(word(p.at(4), 0), kNoonSecs);
    EXPECT_EQ(word(p.at(4), 1), 750000000u);

    clock.advance(3000); // 12:00:03.750
    tie.pollAndConvert();
    EXPECT_EQ(word(p.at(0), 0), kNoonSecs);
    EXPECT_EQ(word(p.at(1), 0), kNoonSecs);
    EXPECT_EQ(word(p.at(2), 0), kNoonSecs + 3);
    EXPECT_EQ(word(p.at(3), 0), kNoonSecs + 3);
    EXPECT_EQ(unit->state(), BaseTieUnit::stOK);
}
