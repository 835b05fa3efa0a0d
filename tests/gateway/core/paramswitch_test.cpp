#include "core/paramswitch.h"

#include "support/memoryparam.h"

#include <dpdatatype.h>

#include <gtest/gtest.h>

#include <limits>

namespace {

struct SwitchFixture {
    TestTie tie;
    BaseTieUnit *unit = new BaseTieUnit(&tie);
    SwitchFixture()
    {
        unit->setDirection(BaseTieUnit::dirToThis);
        tie.addUnit(unit);
    }
    MemoryParam *make(quint32 type, size_t bytes)
    {
        auto *p = new MemoryParam(unit, type, 1, bytes);
        unit->addParam(p);
        return p;
    }
};

enum class Value { SdwordMinus5, Sdword7, Sdword0, Float0, Float35, FloatNaN, FloatInf, FloatMinusInf, Invalid,
                   DoubleMinus, QwordBig, WordDiscrete1 };

struct SwitchRow {
    const char *name;
    qint32 type;
    quint64 condition;
    Value value;
    bool open;
};

MemoryParam *makeValue(SwitchFixture &f, Value v)
{
    switch (v) {
    case Value::SdwordMinus5: { auto *p = f.make(dpdtSDWord, 4); p->set<qint32>(0, -5); return p; }
    case Value::Sdword7: { auto *p = f.make(dpdtSDWord, 4); p->set<qint32>(0, 7); return p; }
    case Value::Sdword0: { auto *p = f.make(dpdtSDWord, 4); p->set<qint32>(0, 0); return p; }
    case Value::Float0: { auto *p = f.make(dpdtFloat, 4); p->set<float>(0, 0.0f); return p; }
    case Value::Float35: { auto *p = f.make(dpdtFloat, 4); p->set<float>(0, 3.5f); return p; }
    case Value::FloatNaN: { auto *p = f.make(dpdtFloat, 4); p->set<float>(0, std::numeric_limits<float>::quiet_NaN()); return p; }
    case Value::FloatInf: { auto *p = f.make(dpdtFloatValid, 8); p->set<float>(0, std::numeric_limits<float>::infinity(), 8, 0); p->set<qint32>(0, 1, 8, 4); return p; }
    case Value::FloatMinusInf: { auto *p = f.make(dpdtFloat, 4); p->set<float>(0, -std::numeric_limits<float>::infinity()); return p; }
    case Value::Invalid: { auto *p = f.make(dpdtSDWordValid, 8); p->set<qint32>(0, 5, 8, 0); p->set<qint32>(0, 0, 8, 4); return p; }
    case Value::DoubleMinus: { auto *p = f.make(dpdtDouble, 8); p->set<double>(0, -0.5); return p; }
    case Value::QwordBig: { auto *p = f.make(dpdtQWord, 8); p->set<quint64>(0, ~quint64(0)); return p; }
    case Value::WordDiscrete1: { auto *p = f.make(dpdtWordDiscrete, 2); p->set<quint16>(0, 1); return p; }
    }
    return nullptr;
}

class SwitchDecision : public ::testing::TestWithParam<SwitchRow> {};

TEST_P(SwitchDecision, OpensByTheValueClass)
{
    const SwitchRow &row = GetParam();
    SwitchFixture f;
    ParamSwitch sw;
    sw.setSwitchParam(makeValue(f, row.value));
    sw.setSwitchType(row.type);
    sw.setSwitchCondition(row.condition);
    EXPECT_EQ(sw.isOpen(), row.open);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, SwitchDecision,
    ::testing::Values(
        SwitchRow{"OnTruePlusNegative", 1, 0x100, Value::SdwordMinus5, false},
        SwitchRow{"OnTruePlusPositive", 1, 0x100, Value::Sdword7, true},
        SwitchRow{"OnTruePlusZero", 1, 0x100, Value::Sdword0, false},
        SwitchRow{"OnFalseZeroAtZero", 2, 0x40, Value::Float0, false},
        SwitchRow{"OnFalseZeroAtValue", 2, 0x40, Value::Float35, true},
        SwitchRow{"NaNIsNotInfinite", 1, 0x10, Value::FloatNaN, false},
        SwitchRow{"InfinityHolds", 1, 0x10, Value::FloatInf, true},
        SwitchRow{"MinusInfinityIsInfiniteNotMinus", 1, 0x200, Value::FloatMinusInf, false},
        SwitchRow{"InvalidWithInvalidBit", 1, 0x1, Value::Invalid, true},
        SwitchRow{"InvalidWithPlus", 1, 0x100, Value::Invalid, false},
        SwitchRow{"DoubleNegative", 1, 0x240, Value::DoubleMinus, true},
        SwitchRow{"UnsignedNeverMinus", 1, 0x200, Value::QwordBig, false},
        SwitchRow{"TypeWithoutValueClassCountsAsInvalid", 1, 0x1, Value::WordDiscrete1, true},
        SwitchRow{"LockIsClosed", 0, 0x371, Value::Sdword7, false},
        SwitchRow{"AllIsOpen", 2, 0x371, Value::Sdword7, true},
        SwitchRow{"WrongConditionIsOpen", 2, ~quint64(0), Value::Sdword7, true},
        SwitchRow{"NoneIsClosed", 2, 0, Value::Sdword7, false},
        SwitchRow{"WrongTypeIsOpen", -1, 0, Value::Sdword7, true},
        SwitchRow{"OpenAlways", 3, 0, Value::Invalid, true}),
    [](const ::testing::TestParamInfo<SwitchRow> &info) { return std::string(info.param.name); });

} // namespace

TEST(ParamSwitchDefaults, UnsetSwitchParameterIsAlwaysOpen)
{
    ParamSwitch sw;
    EXPECT_EQ(sw.switchCondition(), 0x371u);
    EXPECT_EQ(sw.switchType(), 3);
    for (qint32 type : {0, 1, 2}) {
        sw.setSwitchType(type);
        sw.setSwitchCondition(0);
        EXPECT_TRUE(sw.isOpen()) << type;
    }
}

TEST(ParamSwitchDefaults, UnusableUnitMakesTheParameterInvalid)
{
    SwitchFixture f;
    MemoryParam *p = f.make(dpdtSDWord, 4);
    p->set<qint32>(0, 5);
    ParamSwitch sw;
    sw.setSwitchParam(p);
    sw.setSwitchType(1);
    sw.setSwitchCondition(0x100);
    EXPECT_TRUE(sw.isOpen());
    f.tie.setState(4);
    EXPECT_FALSE(sw.isOpen());
}
