#include "conversion/singleproviderconverter.h"
#include "conversiontestsupport.h"
#include "core/gateconfig.h"
#include "support/messagecapture.h"

#include <utility>
#include <vector>

namespace {

// A consumer unit that records the times its unit was stamped with.
class RecordingUnit : public BaseTieUnit
{
public:
    using BaseTieUnit::BaseTieUnit;
    void updateLastUpdated(const QDateTime &dt) override
    {
        stamps.append(dt);
        BaseTieUnit::updateLastUpdated(dt);
    }
    QList<QDateTime> stamps;
};

class ConverterTest : public ConversionTest
{
protected:
    ~ConverterTest() override
    {
        // Converters are owned by nobody in the model; the test frees them.
        for (BaseTieUnit *unit : tie.units()) {
            for (BaseTieParam *param : unit->params())
                delete param->inputConverter();
        }
    }

    BaseConverter *bind(BaseTieParam *consumerParam) { return makeConverter(consumerParam, index); }
    // An indexed provider of `from` and a consumer of `to`, both with KKS `id`.
    std::pair<MemoryParam *, MemoryParam *> namedPair(int from, int to, const QString &id, size_t count = 1)
    {
        MemoryParam *p = provider(from, count);
        p->ids(id);
        index.add(p);
        MemoryParam *c = consumer(to, count);
        c->ids(id);
        return {p, c};
    }

    TieParamsHash index;
};

TEST_F(ConverterTest, MakeConverterAttachesToBothParametersAndUnits)
{
    const auto [from, to] = namedPair(dpdtFloat, dpdtFloatValid, "A");

    BaseConverter *converter = bind(to);
    ASSERT_NE(converter, nullptr);
    auto *single = dynamic_cast<SingleProviderConverter *>(converter);
    ASSERT_NE(single, nullptr);
    EXPECT_EQ(single->provider(), from);
    EXPECT_EQ(single->consumer(), to);
    EXPECT_EQ(single->function(), ConversionRegistry::lookup(dpdtFloat, dpdtFloatValid));
    EXPECT_EQ(to->inputConverter(), converter);
    ASSERT_EQ(from->outConverters().size(), 1);
    EXPECT_EQ(from->outConverters().first(), converter);
    EXPECT_EQ(providerUnit->targetUnits(), QList<BaseTieUnit *>{consumerUnit});
    EXPECT_EQ(consumerUnit->sourceUnits(), QList<BaseTieUnit *>{providerUnit});
}

TEST_F(ConverterTest, BindingTheSameConsumerTwiceReturnsTheFirstConverter)
{
    const auto [from, to] = namedPair(dpdtSDWord, dpdtSDWordState, "A");
    BaseConverter *first = bind(to);
    ASSERT_NE(first, nullptr);
    ScopedDebugLevel level(3);
    MessageCapture capture;
    EXPECT_EQ(bind(to), first);
    EXPECT_EQ(from->outConverters().size(), 1);
    EXPECT_TRUE(capture.contains("makeConverter(): Converter for parameter kks=A already defined"));
}

TEST_F(ConverterTest, BoundConsumerGetsNoSecondProvider)
{
    const auto [from, to] = namedPair(dpdtFloat, dpdtFloat, "A");
    MemoryParam *other = provider(dpdtFloat);
    SingleProviderConverter *first = SingleProviderConverter::makeConverter(from, to);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(SingleProviderConverter::makeConverter(from, to), first);
    EXPECT_EQ(SingleProviderConverter::makeConverter(other, to), nullptr);
    EXPECT_EQ(to->inputConverter(), first);
    EXPECT_EQ(from->outConverters().size(), 1);
    EXPECT_TRUE(other->outConverters().isEmpty());
}

TEST_F(ConverterTest, UnitsAreLinkedOnceHoweverManyParametersTheyShare)
{
    for (const char *id : {"A", "B", "C"}) {
        ASSERT_NE(bind(namedPair(dpdtFloat, dpdtFloat, id).second), nullptr);
    }
    EXPECT_EQ(providerUnit->targetUnits().size(), 1);
    EXPECT_EQ(consumerUnit->sourceUnits().size(), 1);
}

TEST_F(ConverterTest, ProvidersWithoutUnitsLeaveTheUnitListsAlone)
{
    MemoryParam from(nullptr, dpdtFloat, 1, 4);
    MemoryParam *to = consumer(dpdtFloat);
    ASSERT_NE(SingleProviderConverter::makeConverter(&from, to), nullptr);
    EXPECT_TRUE(consumerUnit->sourceUnits().isEmpty());
    EXPECT_EQ(from.outConverters().size(), 1);
}

TEST_F(ConverterTest, UnsupportedPairLeavesTheConsumerUnbound)
{
    const auto [from, to] = namedPair(dpdtFloat, dpdtWord, "A");
    ScopedDebugLevel level(2);
    MessageCapture capture;
    EXPECT_EQ(bind(to), nullptr);
    EXPECT_EQ(to->inputConverter(), nullptr);
    EXPECT_TRUE(from->outConverters().isEmpty());
    EXPECT_TRUE(providerUnit->targetUnits().isEmpty());
    EXPECT_TRUE(capture.contains(
        "SingleProviderConverter::makeConverter(): Converter for parameter kks=A from FLOAT(9) to WORD(3) was not found"));
    EXPECT_TRUE(
        capture.contains("makeConverter(): Converter for parameter kks=A from FLOAT(9) to WORD(3) was not be created"));
}

TEST_F(ConverterTest, MissingPartsMakeNoConverter)
{
    MemoryParam *to = consumer(dpdtFloat);
    to->ids("nowhere");
    ScopedDebugLevel level(2);
    MessageCapture capture;
    EXPECT_EQ(makeConverter(nullptr, index), nullptr);
    EXPECT_TRUE(capture.contains("makeConverter(): param is NULL"));
    EXPECT_EQ(bind(to), nullptr);
    EXPECT_TRUE(capture.contains("makeConverter(): Cann't find source parameter for kks=nowhere"));
    EXPECT_EQ(SingleProviderConverter::makeConverter(nullptr, to), nullptr);
    EXPECT_EQ(SingleProviderConverter::makeConverter(to, nullptr), nullptr);
    EXPECT_TRUE(capture.containsPart("SingleProviderConverter::makeConverter(): provider ("));
}

TEST_F(ConverterTest, ParameterNeverFeedsItself)
{
    MemoryParam *to = consumer(dpdtFloat);
    to->ids("A");
    index.add(to);
    EXPECT_EQ(bind(to), nullptr);
    EXPECT_EQ(SingleProviderConverter::makeConverter(to, to), nullptr);
    EXPECT_TRUE(to->outConverters().isEmpty());
}

TEST_F(ConverterTest, ProviderLookupFollowsIdentifierKindOrder)
{
    MemoryParam *byKks = provider(dpdtFloat);
    byKks->ids("A");
    MemoryParam *byIid = provider(dpdtFloat);
    byIid->ids(QString(), QString(), "7");
    MemoryParam *kksX = provider(dpdtFloat);
    kksX->ids("X");
    MemoryParam *rtmX = provider(dpdtFloat);
    rtmX->ids(QString(), "X");
    MemoryParam *ext = provider(dpdtFloat);
    ext->ids(QString(), QString(), QString(), "E1");
    for (MemoryParam *p : {byKks, byIid, kksX, rtmX, ext})
        index.add(p);

    MemoryParam *kksAndIid = consumer(dpdtFloat);
    kksAndIid->ids("A", QString(), "7");
    MemoryParam *rtmOnly = consumer(dpdtFloat);
    rtmOnly->ids(QString(), "X");
    MemoryParam *extOnly = consumer(dpdtFloat);
    extOnly->ids(QString(), QString(), QString(), "E1");

    auto providerOf = [this](MemoryParam *c) {
        auto *converter = dynamic_cast<SingleProviderConverter *>(bind(c));
        return converter ? converter->provider() : nullptr;
    };
    EXPECT_EQ(providerOf(kksAndIid), byKks);
    EXPECT_EQ(providerOf(rtmOnly), rtmX);
    EXPECT_EQ(providerOf(extOnly), ext);
}

TEST_F(ConverterTest, DoConvertWritesStampsAndMarksTheConsumer)
{
    auto *unit = new RecordingUnit(&tie);
    unit->setDirection(BaseTieUnit::dirToThis);
    tie.addUnit(unit);
    MemoryParam *from = provider(dpdtFloat, 2);
    from->set<float>(0, 1.5f);
    from->set<float>(1, -2.0f);
    auto *to = new MemoryParam(unit, dpdtFloatValid, 2, 8);
    unit->addParam(to);
    SingleProviderConverter *converter = SingleProviderConverter::makeConverter(from, to);
    ASSERT_NE(converter, nullptr);

    const QDateTime received = clock.now().addMSecs(-200);
    providerUnit->setLastReceived(received);
    clock.advance(100);
    converter->doConvert();

    EXPECT_EQ(to->at<float>(0, 8, 0), 1.5f);
    EXPECT_EQ(to->at<quint32>(0, 8, 4), 1u);
    EXPECT_EQ(to->at<float>(1, 8, 0), -2.0f);
    EXPECT_EQ(unit->stamps, QList<QDateTime>{received});
    EXPECT_TRUE(unit->isDirty());
    EXPECT_EQ(unit->lastUpdated(), clock.now());
}

TEST_F(ConverterTest, DoConvertWithoutProviderInvalidatesWithoutStamping)
{
    auto *unit = new RecordingUnit(&tie);
    unit->setDirection(BaseTieUnit::dirToThis);
    tie.addUnit(unit);
    auto *to = new MemoryParam(unit, dpdtFloatState, 1, 8);
    unit->addParam(to);
    SingleProviderConverter converter(to, nullptr, ConversionRegistry::lookup(dpdtFloat, dpdtFloatState));
    converter.doConvert();
    EXPECT_EQ(to->at<quint32>(0, 8, 0), 0xFFFFFFFFu);
    EXPECT_EQ(to->at<quint32>(0, 8, 4), 7u);
    EXPECT_TRUE(unit->stamps.isEmpty());
    EXPECT_TRUE(unit->isDirty());
}

TEST_F(ConverterTest, ZeroElementConsumerIsNeverWritten)
{
    MemoryParam *from = provider(dpdtFloat);
    from->set<float>(0, 3.0f);
    // No elements but eight bytes of storage: nothing may touch them.
    auto *empty = new MemoryParam(consumerUnit, dpdtFloat, 0, 4);
    consumerUnit->addParam(empty);
    empty->setStorageSize(8);
    empty->storage().fill('\x5A');
    ASSERT_NE(SingleProviderConverter::makeConverter(from, empty), nullptr);
    ScopedDebugLevel level(5);
    MessageCapture capture;
    empty->inputConverter()->doConvert();
    empty->reset();
    EXPECT_EQ(empty->storage(), QByteArray(8, '\x5A'));
    EXPECT_FALSE(consumerUnit->isDirty());
    EXPECT_EQ(capture.count("SingleProviderConverter::doConvert(): count is 0"), 2);
}

TEST_F(ConverterTest, ConverterWithoutFunctionOrConsumerDoesNothing)
{
    MemoryParam *from = provider(dpdtFloat);
    MemoryParam *to = consumer(dpdtFloat);
    to->storage().fill('\x5A');
    ScopedDebugLevel level(2);
    MessageCapture capture;
    SingleProviderConverter(to, from, nullptr).doConvert();
    SingleProviderConverter(nullptr, from, ConversionRegistry::lookup(dpdtFloat, dpdtFloat)).doConvert();
    EXPECT_EQ(to->storage(), QByteArray(4, '\x5A'));
    EXPECT_FALSE(consumerUnit->isDirty());
    EXPECT_TRUE(capture.contains("SingleProviderConverter::doConvert(): conv is NULL"));
    EXPECT_TRUE(capture.contains("SingleProviderConverter::doConvert(): consumer is NULL"));
}

TEST_F(ConverterTest, ConsumerWithoutStorageIsNotMarkedConverted)
{
    MemoryParam *from = provider(dpdtFloat);
    MemoryParam *to = consumer(dpdtFloat);
    to->dropStorage();
    SingleProviderConverter *converter = SingleProviderConverter::makeConverter(from, to);
    ASSERT_NE(converter, nullptr);
    converter->doConvert();
    EXPECT_FALSE(consumerUnit->isDirty());
    EXPECT_FALSE(consumerUnit->lastUpdated().isValid());
}

TEST_F(ConverterTest, DoConvertReportsTheConsumer)
{
    MemoryParam *from = provider(dpdtFloat);
    MemoryParam *to = consumer(dpdtFloat);
    to->ids("K1", "R1");
    SingleProviderConverter *converter = SingleProviderConverter::makeConverter(from, to);
    ASSERT_NE(converter, nullptr);
    ScopedDebugLevel level(5);
    MessageCapture capture;
    converter->doConvert();
    EXPECT_TRUE(capture.contains("SingleProviderConverter::doConvert(): calling converter to kks=K1,rtm=R1"));
}

TEST_F(ConverterTest, PollAndConvertFeedsTheConsumerAndSendsIt)
{
    const auto [from, to] = namedPair(dpdtSDWord, dpdtSDWordValid, "P", 3);
    for (size_t i = 0; i < 3; ++i)
        from->set<qint32>(i, static_cast<qint32>(i) + 5);
    ASSERT_NE(bind(to), nullptr);

    tie.newData.append(providerUnit);
    tie.pollAndConvert();
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(to->at<qint32>(i, 8, 0), static_cast<qint32>(i) + 5);
        EXPECT_EQ(to->at<quint32>(i, 8, 4), 1u);
    }
    EXPECT_TRUE(consumerUnit->isDirty());
    tie.sendDirty();
    EXPECT_EQ(tie.sent, QList<BaseTieUnit *>{consumerUnit});
    EXPECT_FALSE(consumerUnit->isDirty());
}

TEST_F(ConverterTest, ResetPullsFromTheProviderAndInvalidatesWhenItIsStale)
{
    const auto [from, to] = namedPair(dpdtFloat, dpdtDTSFloat, "P");
    from->set<float>(0, 4.5f);
    ASSERT_NE(bind(to), nullptr);
    to->reset();
    EXPECT_EQ(to->at<float>(0, 8, 0), 4.5f);
    EXPECT_EQ(to->at<quint32>(0, 8, 4), 0u);
    clock.advance(3500);
    to->reset();
    EXPECT_EQ(to->at<float>(0, 8, 0), -1.0f);
    EXPECT_EQ(to->at<quint32>(0, 8, 4), 2u);
}

TEST_F(ConverterTest, GateConfigBindsThroughTheFactory)
{
    GateConfig config;
    auto *source = new TestTie;
    auto *sink = new TestTie;
    config.ties().append(source);
    config.ties().append(sink);
    auto *inUnit = new BaseTieUnit(source);
    inUnit->setDirection(BaseTieUnit::dirFromThis);
    source->addUnit(inUnit);
    auto *outUnit = new BaseTieUnit(sink);
    outUnit->setDirection(BaseTieUnit::dirToThis);
    sink->addUnit(outUnit);
    auto *from = new MemoryParam(inUnit, dpdtDouble, 1, 8);
    from->ids("D");
    inUnit->addParam(from);
    auto *to = new MemoryParam(outUnit, dpdtFloatValid, 1, 8);
    to->ids("D");
    outUnit->addParam(to);
    config.paramsHash().unite(inUnit->paramsHash());

    MessageCapture quiet;
    config.bind(&makeConverter);
    ASSERT_NE(to->inputConverter(), nullptr);
    EXPECT_EQ(from->outConverters().size(), 1);
}

} // namespace
