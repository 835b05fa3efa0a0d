#include "core/basetie.h"

#include "core/baseconverter.h"
#include "support/fixedclock.h"
#include "support/memoryparam.h"

#include <dpdatatype.h>

#include <gtest/gtest.h>

namespace {

// Copies a FLOAT provider into a FLOAT consumer, or writes NaN when the
// provider's unit is unusable, and stamps the consumer like a real converter.
class CopyConverter : public BaseConverter
{
public:
    CopyConverter(BaseTieParam *provider, MemoryParam *consumer)
        : BaseConverter(consumer), m_provider(provider), m_target(consumer)
    {
        provider->outConverters().append(this);
        consumer->setInputConverter(this);
        if (provider->myUnit() && consumer->myUnit()) {
            provider->myUnit()->targetUnits().append(consumer->myUnit());
            consumer->myUnit()->sourceUnits().append(provider->myUnit());
        }
    }
    void doConvert() override
    {
        ++runs;
        float v;
        if (m_provider->unitState() != 0)
            m_target->set<quint32>(0, 0xFFFFFFFFu);
        else {
            std::memcpy(&v, m_provider->values(), sizeof v);
            m_target->set<float>(0, v);
        }
        m_target->updateLastUpdated(m_provider->dataTime());
        m_target->doPostConversionWork();
    }
    int runs = 0;

private:
    BaseTieParam *m_provider;
    MemoryParam *m_target;
};

struct TwoTies : ::testing::Test {
    FixedClock clock{utc(2024, 5, 1, 12, 0, 0)};
    TestTie source;
    TestTie target;
    BaseTieUnit *in = new BaseTieUnit(&source);
    BaseTieUnit *out = new BaseTieUnit(&target);
    MemoryParam *provider = new MemoryParam(in, dpdtFloat, 1, 4);
    MemoryParam *consumer = new MemoryParam(out, dpdtFloat, 1, 4);
    CopyConverter *converter = nullptr;

    TwoTies()
    {
        in->setDirection(BaseTieUnit::dirFromThis);
        out->setDirection(BaseTieUnit::dirToThis);
        in->addParam(provider);
        out->addParam(consumer);
        source.units().append(nullptr); // null entries are skipped everywhere
        source.addUnit(in);
        target.addUnit(out);
        converter = new CopyConverter(provider, consumer);
    }
    ~TwoTies() override { delete converter; }

    void receive(float value)
    {
        provider->set<float>(0, value);
        in->updateLastReceived(clock.now());
        source.newData = {in};
    }
    void tick()
    {
        source.pollAndConvert();
        target.pollAndConvert();
        source.sendDirty();
        target.sendDirty();
        source.newData.clear();
    }
};

} // namespace

TEST_F(TwoTies, NewDataIsConvertedAndTheConsumerUnitSentInTheSameTick)
{
    receive(3.5f);
    tick();
    EXPECT_EQ(converter->runs, 1);
    EXPECT_EQ(consumer->at<float>(0), 3.5f);
    ASSERT_EQ(target.sent.size(), 1);
    EXPECT_FALSE(out->isDirty());
    EXPECT_EQ(in->lastConverted(), clock.now());

    // Nothing new: no conversion, nothing sent.
    clock.advance(500);
    tick();
    EXPECT_EQ(converter->runs, 1);
    EXPECT_EQ(target.sent.size(), 1);
}

TEST_F(TwoTies, StaleProviderIsConvertedOnceMoreSoItsConsumersTurnInvalid)
{
    receive(7.0f);
    tick();
    ASSERT_EQ(consumer->at<float>(0), 7.0f);
    ASSERT_EQ(target.sent.size(), 1);

    clock.advance(2500);
    tick();
    EXPECT_EQ(converter->runs, 1); // still fresh

    clock.advance(1000); // 3.5 s without data: stale
    tick();
    EXPECT_EQ(converter->runs, 2);
    EXPECT_EQ(consumer->at<quint32>(0), 0xFFFFFFFFu);
    EXPECT_EQ(target.sent.size(), 2);

    clock.advance(500);
    tick();
    EXPECT_EQ(converter->runs, 2); // invalidated once, not every tick

    receive(8.0f); // data come back
    tick();
    EXPECT_EQ(converter->runs, 3);
    EXPECT_EQ(consumer->at<float>(0), 8.0f);
}

TEST_F(TwoTies, ProviderWhoseTieReportsAnErrorIsInvalidatedOnce)
{
    receive(1.0f);
    tick();
    source.setState(2); // e.g. every connection lost
    tick();
    EXPECT_EQ(converter->runs, 2);
    EXPECT_EQ(consumer->at<quint32>(0), 0xFFFFFFFFu);
    tick();
    EXPECT_EQ(converter->runs, 2);
}

TEST_F(TwoTies, TiesThatPollThemselvesUseTheSameInvalidationPass)
{
    receive(1.0f);
    tick();
    source.setState(4);
    source.convertInvalidated();
    EXPECT_EQ(converter->runs, 2);
    source.convertInvalidated();
    EXPECT_EQ(converter->runs, 2);
}

TEST_F(TwoTies, InitPullsConsumersFromTheirProvidersAndInvalidatesProviders)
{
    provider->set<float>(0, 2.0f);
    consumer->set<float>(0, 9.0f);
    target.init(); // the provider has never received data: consumer invalid
    EXPECT_EQ(consumer->at<quint32>(0), 0xFFFFFFFFu);
    source.init();
    EXPECT_EQ(provider->at<quint32>(0), 0xFFFFFFFFu);
}

TEST_F(TwoTies, SendDirtyRefreshesASendTimePointBeforeSending)
{
    auto *stamp = new MemoryParam(out, dpdtDWord, 1, 4);
    out->addParam(stamp);
    out->timePoint().setParam(stamp);
    out->timePoint().setType(TimePoint::tptUnixTimeUTC);
    out->timePoint().setUpdateMode(TimePoint::tpuSend);
    out->setDirty(true);
    clock.advance(60000);
    target.sendDirty();
    EXPECT_EQ(stamp->at<quint32>(0), static_cast<quint32>(clock.now().toSecsSinceEpoch()));
    EXPECT_EQ(target.sent.size(), 1);
}

TEST(BaseTieDefaults, DisabledTieDoesNothing)
{
    BaseTie tie;
    EXPECT_EQ(tie.state(), 3);
    EXPECT_EQ(tie.calulate(), 0);
    EXPECT_EQ(tie.timeout(), 3000u);
    EXPECT_FALSE(tie.pollUnitData(nullptr));
    EXPECT_FALSE(tie.sendUnitData(nullptr));
    EXPECT_TRUE(tie.paramsSwitch().isOpen());
}
