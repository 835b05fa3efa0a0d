#include "core/baseareatie.h"
#include "core/baseareatieunit.h"
#include "core/basepackettie.h"
#include "core/basepackettieunit.h"

#include "support/fixedclock.h"
#include "support/memoryparam.h"
#include "support/messagecapture.h"
#include "support/scopeddebuglevel.h"

#include <QByteArray>

#include <gtest/gtest.h>

namespace {

class SizedUnit : public BaseAreaTieUnit
{
public:
    SizedUnit(BaseTie *tie, quint64 size) : BaseAreaTieUnit(tie), m_size(size) {}
    quint64 unitSize() const override { return m_size; }

private:
    quint64 m_size;
};

class MemoryAreaTie : public BaseAreaTie
{
public:
    void setAreaSize(quint64 bytes) override
    {
        BaseAreaTie::setAreaSize(bytes);
        memory.resize(static_cast<int>(bytes));
        ++growths;
    }
    uchar *data(BaseAreaTieUnit *unit) override
    {
        return reinterpret_cast<uchar *>(memory.data()) + unit->offset();
    }
    bool pollUnitData(BaseAreaTieUnit *) override { return ++polls, true; }
    QByteArray memory;
    int growths = 0;
    int polls = 0;
};

} // namespace

TEST(AreaTie, UnitsAreLaidOutBackToBack)
{
    MemoryAreaTie tie;
    auto *a = new SizedUnit(&tie, 10);
    auto *b = new SizedUnit(&tie, 0);
    auto *c = new SizedUnit(&tie, 6);
    tie.addUnit(a);
    tie.addUnit(b);
    tie.addUnit(c);
    EXPECT_EQ(a->offset(), 0u);
    EXPECT_EQ(b->offset(), 10u);
    EXPECT_EQ(c->offset(), 10u);
    EXPECT_EQ(tie.areaSize(), 16u);
    EXPECT_EQ(tie.growths, 3); // the subclass sees every growth
    EXPECT_EQ(c->data(), reinterpret_cast<uchar *>(tie.memory.data()) + 10);
    EXPECT_TRUE(c->pollData());
    EXPECT_EQ(tie.polls, 1);
}

TEST(AreaTie, UnitOfAnotherTieClassGetsNoData)
{
    MessageCapture messages;
    ScopedDebugLevel level(2);
    TestTie tie;
    auto *unit = new SizedUnit(&tie, 4);
    tie.addUnit(unit);
    EXPECT_EQ(unit->data(), nullptr);
    EXPECT_FALSE(unit->pollData());
    EXPECT_FALSE(unit->sendData());
    SizedUnit orphan(nullptr, 4);
    EXPECT_EQ(orphan.data(), nullptr);
    EXPECT_FALSE(orphan.sendData());
    EXPECT_TRUE(messages.containsPart("is NULL or not a BaseAreaTie successor for unit"));
    EXPECT_TRUE(messages.containsPart("BaseAreaTieUnit::sendData(): myTie (0x0) is NULL for unit")
                || messages.containsPart("BaseAreaTieUnit::sendData(): myTie ((nil)) is NULL for unit")
                || messages.containsPart("BaseAreaTieUnit::sendData(): myTie (0) is NULL for unit"));
}

TEST(PacketTie, ConvertsOnlyWhenNewerDataArrivedThanWereConverted)
{
    BasePacketTie tie;
    auto *unit = new BasePacketTieUnit(&tie);
    tie.addUnit(unit);
    unit->setDirection(BaseTieUnit::dirFromThis);
    EXPECT_FALSE(tie.pollUnitData(unit)); // never received
    unit->setLastReceived(utc(2024, 1, 1, 12, 0, 1));
    EXPECT_TRUE(tie.pollUnitData(unit)); // never converted
    unit->setLastConverted(utc(2024, 1, 1, 12, 0, 0));
    EXPECT_TRUE(tie.pollUnitData(unit));
    unit->setLastConverted(utc(2024, 1, 1, 12, 0, 2));
    EXPECT_FALSE(tie.pollUnitData(unit));
    unit->setDirection(BaseTieUnit::dirToThis);
    unit->setLastReceived(utc(2024, 1, 1, 12, 0, 3));
    EXPECT_FALSE(tie.pollUnitData(unit));
    EXPECT_FALSE(tie.pollUnitData(nullptr));
}
