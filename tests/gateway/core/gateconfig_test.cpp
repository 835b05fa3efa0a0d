#include "core/gateconfig.h"

#include "conversion/conversionregistry.h"
#include "conversion/singleproviderconverter.h"
#include "core/baseconverter.h"
#include "support/fixedclock.h"
#include "support/logcapture.h"
#include "support/memoryparam.h"
#include "support/messagecapture.h"

#include <dpdatatype.h>

#include <gtest/gtest.h>

namespace {

class NoteConverter : public BaseConverter
{
public:
    explicit NoteConverter(BaseTieParam *consumer) : BaseConverter(consumer) { ++alive; }
    ~NoteConverter() override { --alive; }
    void doConvert() override {}
    static int alive;
};
int NoteConverter::alive = 0;

// Binds same-type pairs only, like a registry that knows no other pair.
BaseConverter *sameTypeFactory(BaseTieParam *consumer, const TieParamsHash &index)
{
    if (consumer->inputConverter())
        return consumer->inputConverter();
    BaseTieParam *provider = index.findProvider(consumer);
    if (!provider || provider->metatype() != consumer->metatype())
        return nullptr;
    auto *c = new NoteConverter(consumer);
    consumer->setInputConverter(c);
    provider->outConverters().append(c);
    return c;
}

struct ConfigFixture : ::testing::Test {
    GateConfig config;
    TestTie *sources = new TestTie;
    TestTie *targets = new TestTie;
    BaseTieUnit *in = new BaseTieUnit(sources);
    BaseTieUnit *out = new BaseTieUnit(targets);
    ConfigFixture()
    {
        in->setDirection(BaseTieUnit::dirFromThis);
        out->setDirection(BaseTieUnit::dirToThis);
        sources->addUnit(in);
        targets->addUnit(out);
        config.ties() << sources << nullptr << targets;
    }
    MemoryParam *provide(quint32 type, const QString &kks, const QString &iid = QString())
    {
        auto *p = new MemoryParam(in, type, 1, 4);
        p->ids(kks, QString(), iid);
        in->addParam(p);
        config.paramsHash().add(p);
        return p;
    }
    MemoryParam *consume(quint32 type, const QString &kks, const QString &iid = QString())
    {
        auto *p = new MemoryParam(out, type, 1, 4);
        p->ids(kks, QString(), iid);
        out->addParam(p);
        return p;
    }
};

} // namespace

TEST_F(ConfigFixture, BindingFindsProvidersThroughAnyKindAndSkipsNullTies)
{
    MessageCapture messages;
    MemoryParam *byIid = provide(dpdtFloat, "P1", "17");
    MemoryParam *consumer = consume(dpdtFloat, "nothing", "17");
    config.bind(&sameTypeFactory);
    ASSERT_NE(consumer->inputConverter(), nullptr);
    EXPECT_EQ(byIid->outConverters().size(), 1);
    EXPECT_TRUE(messages.warnings().contains("Empty ties slot ferroxConfig.ties[1]"));
    EXPECT_EQ(messages.count("  binding ferroxConfig.ties[2]->units()[0]"), 1);
    EXPECT_EQ(messages.count("    not NULL"), 2);
}

TEST_F(ConfigFixture, ConvertersMadeByBindingAreFreedWithTheTies)
{
    provide(dpdtFloat, "A");
    provide(dpdtFloat, "B");
    consume(dpdtFloat, "A");
    consume(dpdtFloat, "B");
    config.bind(&sameTypeFactory);
    EXPECT_EQ(NoteConverter::alive, 2);
    // A second binding hands back the existing converters: none is owned twice.
    config.bind(&sameTypeFactory);
    EXPECT_EQ(NoteConverter::alive, 2);
    config.clear();
    EXPECT_EQ(NoteConverter::alive, 0);
}

TEST_F(ConfigFixture, UnitWithBothDirectionsBindsNothing)
{
    provide(dpdtFloat, "A");
    auto *both = new BaseTieUnit(targets);
    both->setDirection(BaseTieUnit::dirBoth);
    targets->addUnit(both);
    auto *p = new MemoryParam(both, dpdtFloat, 1, 4);
    p->ids("A");
    both->addParam(p);
    config.bind(&sameTypeFactory);
    EXPECT_EQ(p->inputConverter(), nullptr);
}

TEST_F(ConfigFixture, CheckReportsMissingSourcesAndConvertersInBothChannels)
{
    provide(dpdtSDWord, "K1");
    MemoryParam *wrongType = consume(dpdtFloatValid, "K1");
    wrongType->setName("pump");
    consume(dpdtFloat, "K2", "9");
    MemoryParam *stamp = consume(dpdtDWord, "T");
    out->timePoint().setParam(stamp);
    config.bind(&sameTypeFactory);

    MessageCapture messages;
    LogCapture log;
    EXPECT_TRUE(config.checkConfig());
    EXPECT_TRUE(messages.contains("GateConfig::checkConfig(): No converter to parameter with type FLOATVALID (18) kks=K1 "
                                  "name=\"pump\" from one with type SDWORD (6) kks=K1 name=\"\""));
    EXPECT_TRUE(messages.contains("GateConfig::checkConfig(): No source for parameter with type FLOAT (9) kks=K2,iid=9 name=\"\""));
    EXPECT_FALSE(messages.containsPart("No source for parameter with type DWORD"));
    EXPECT_EQ(log.lines(),
              QStringList({"No converter to parameter with type FLOATVALID (18), KKS=K1, Name=\"pump\" from one with type SDWORD (6), KKS=K1",
                           "No source for parameter with type FLOAT (9), KKS=K2, Internal ID=9"}));
}

TEST_F(ConfigFixture, DoubleSourcesAreReportedPerKeyAndTheNewestIsBound)
{
    provide(dpdtFloat, "K");
    MemoryParam *newer = provide(dpdtFloat, "K");
    provide(dpdtFloat, "L", "7");
    provide(dpdtFloat, "M", "7");
    MemoryParam *consumer = consume(dpdtFloat, "K");
    config.bind(&sameTypeFactory);
    EXPECT_EQ(newer->outConverters().size(), 1);
    ASSERT_NE(consumer->inputConverter(), nullptr);

    MessageCapture messages;
    LogCapture log;
    EXPECT_FALSE(config.checkConfig());
    EXPECT_TRUE(messages.contains("GateConfig::checkDoubleSources(): 2 params for KKS = K"));
    EXPECT_TRUE(messages.contains("GateConfig::checkDoubleSources(): 2 params for Interal ID = 7"));
    EXPECT_EQ(log.lines(), QStringList({"2 source params for KKS = K found", "  Parameter with type FLOAT (9), KKS=K",
                                        "  Parameter with type FLOAT (9), KKS=K",
                                        "2 source params for Interal ID = 7 found",
                                        "  Parameter with type FLOAT (9), KKS=M, Internal ID=7",
                                        "  Parameter with type FLOAT (9), KKS=L, Internal ID=7"}));
}

TEST(GateConfigDefaults, EmptyConfigurationChecksClean)
{
    GateConfig config;
    EXPECT_EQ(config.mainCycle(), 1000u);
    EXPECT_EQ(config.timeout(), 3000u);
    EXPECT_TRUE(config.checkConfig());
    EXPECT_TRUE(config.checkDoubleSources(TieParamsHash::Map(), "KKS"));
}

namespace {

// A tie of a configuration being replaced that notes its last send pass,
// its drain and its end.
class WitnessTie : public TestTie
{
public:
    explicit WitnessTie(QStringList &events) : m_events(events) {}
    ~WitnessTie() override { m_events << "destroyed"; }
    bool sendUnitData(BaseTieUnit *unit) override
    {
        m_events << "sent";
        return TestTie::sendUnitData(unit);
    }
    void drain() override { m_events << "drained"; }

private:
    QStringList &m_events;
};

// A tie without id that claims `claim` and notes whose place it takes.
class ClaimTie : public TestTie
{
public:
    explicit ClaimTie(const QString &claim) : m_claim(claim) {}
    QStringList exclusiveClaims() const override { return {m_claim}; }
    void takeOver(BaseTie &predecessor) override { tookOver = predecessor.exclusiveClaims().join(','); }
    QString tookOver;

private:
    QString m_claim;
};

// A tie whose peer refuses everything (a full queue, say).
class RefusingTie : public TestTie
{
public:
    bool sendUnitData(BaseTieUnit *) override { return false; }
    void drain() override { ++counters().bytesUnsent; }
};

BaseTieUnit *unitOf(TestTie *tie, quint32 direction)
{
    auto *unit = new BaseTieUnit(tie);
    unit->setDirection(direction);
    tie->addUnit(unit);
    return unit;
}

// A FLOATVALID parameter of `unit` under `kks`, holding `value` (valid).
MemoryParam *floatValid(BaseTieUnit *unit, const QString &kks, float value = 0)
{
    auto *p = new MemoryParam(unit, dpdtFloatValid, 1, 8);
    p->ids(kks);
    p->set<float>(0, value, 8, 0);
    p->set<qint32>(0, 1, 8, 4);
    unit->addParam(p);
    return p;
}

float valueOf(const MemoryParam *p)
{
    return p->at<float>(0, 8, 0);
}

} // namespace

// A reload's swap: the ties both configurations list keep their values and
// dirty units; every consumer is bound anew; a consumer whose provider went
// is refreshed from its new one (or invalidated) at once; a tie that goes
// sends what it owes and is drained before it is destroyed.
TEST(GateConfigReplace, KeptTiesKeepTheirValuesWhileEveryConsumerIsBoundAnew)
{
    ConversionRegistry::fillGlobal();
    FixedClock clock(utc(2024, 5, 1, 12));
    QStringList events;
    GateConfig running;
    auto *source = new TestTie;
    BaseTieUnit *sourceUnit = unitOf(source, BaseTieUnit::dirFromThis);
    MemoryParam *a = floatValid(sourceUnit, "A", 1.5f);
    auto *leaving = new WitnessTie(events);
    BaseTieUnit *leavingIn = unitOf(leaving, BaseTieUnit::dirFromThis);
    floatValid(leavingIn, "B", 2.5f);
    floatValid(leavingIn, "D", 3.5f);
    BaseTieUnit *leavingOut = unitOf(leaving, BaseTieUnit::dirToThis);
    floatValid(leavingOut, "A");
    auto *consumers = new TestTie;
    BaseTieUnit *steady = unitOf(consumers, BaseTieUnit::dirToThis);
    MemoryParam *fromA = floatValid(steady, "A");
    BaseTieUnit *moved = unitOf(consumers, BaseTieUnit::dirToThis);
    MemoryParam *fromB = floatValid(moved, "B");
    MemoryParam *fromD = floatValid(moved, "D");
    running.ties() << source << leaving << consumers;
    for (BaseTieUnit *unit : {sourceUnit, leavingIn}) {
        unit->setLastReceived(clock.now());
        running.paramsHash().unite(unit->paramsHash());
    }
    running.bind(&makeConverter);
    sourceUnit->convertFromThis();
    leavingIn->convertFromThis();
    ASSERT_EQ(valueOf(fromB), 2.5f);
    moved->setDirty(false);

    GateConfig next;
    auto *newB = new TestTie;
    BaseTieUnit *newBUnit = unitOf(newB, BaseTieUnit::dirFromThis);
    MemoryParam *b = floatValid(newBUnit, "B", 9.5f);
    auto *added = new TestTie;
    MemoryParam *addedFromA = floatValid(unitOf(added, BaseTieUnit::dirToThis), "A");
    next.ties() << source << newB << consumers << added;
    next.paramsHash().unite(sourceUnit->paramsHash());
    next.paramsHash().unite(newBUnit->paramsHash());
    running.replaceWith(next, &makeConverter);

    EXPECT_EQ(events, QStringList({"sent", "drained", "destroyed"}));
    EXPECT_EQ(running.ties(), QList<BaseTie *>({source, newB, consumers, added}));
    EXPECT_TRUE(next.ties().isEmpty());
    // Untouched: value, validity and the dirty mark still owed.
    EXPECT_EQ(valueOf(fromA), 1.5f);
    EXPECT_TRUE(fromA->isValid(0));
    EXPECT_TRUE(steady->isDirty());
    // Refreshed from a provider that has received nothing yet, and
    // invalidated for lack of one; both to be sent.
    ASSERT_NE(fromB->inputConverter(), nullptr);
    EXPECT_EQ(fromB->inputConverter()->source(), b);
    EXPECT_FALSE(fromB->isValid(0));
    EXPECT_EQ(fromD->inputConverter(), nullptr);
    EXPECT_FALSE(fromD->isValid(0));
    EXPECT_TRUE(moved->isDirty());
    // The new consumer starts from the kept provider, with no invalid blip,
    // and its tie owes it to its peers (it waited for A's next change).
    EXPECT_EQ(valueOf(addedFromA), 1.5f);
    EXPECT_TRUE(addedFromA->isValid(0));
    EXPECT_TRUE(added->units().first()->isDirty());
    // Only the converters of the new binding read from A.
    EXPECT_EQ(a->outConverters().size(), 2);
    EXPECT_EQ(sourceUnit->targetUnits(), QList<BaseTieUnit *>({steady, added->units().first()}));
}

// Ties without ids were paired in list order, so a removed tie's undelivered
// messages could go to the other broker's tie; the one that makes the same
// claims comes first.
TEST(GateConfigReplace, ASuccessorWithTheSameClaimsTakesOverFirst)
{
    GateConfig running;
    running.ties() << new ClaimTie("broker a") << new ClaimTie("broker b");
    GateConfig next;
    auto *b = new ClaimTie("broker b");
    auto *c = new ClaimTie("broker c");
    next.ties() << c << b;
    running.replaceWith(next, &makeConverter);
    EXPECT_EQ(b->tookOver, "broker b");
    EXPECT_EQ(c->tookOver, "broker a"); // the section changed its broker
}

// What a replaced tie could not deliver (an invalid mark, whose provider is
// not OK) was dropped: its successor owes it, not only what is OK.
TEST(GateConfigReplace, ASuccessorOwesWhatItsPredecessorCouldNotSend)
{
    GateConfig running;
    auto *old = new RefusingTie;
    old->setId("q");
    unitOf(old, BaseTieUnit::dirToThis)->setDirty(true);
    unitOf(old, BaseTieUnit::dirToThis);
    running.ties() << old;
    GateConfig next;
    auto *successor = new RefusingTie;
    successor->setId("q");
    BaseTieUnit *owed = unitOf(successor, BaseTieUnit::dirToThis);
    BaseTieUnit *sent = unitOf(successor, BaseTieUnit::dirToThis);
    next.ties() << successor;
    running.replaceWith(next, &makeConverter);
    EXPECT_TRUE(owed->isDirty());
    EXPECT_FALSE(sent->isDirty()); // what went out does not go again
    // What the predecessor counted, at its drain too, was lost with it.
    EXPECT_EQ(successor->counters().bytesUnsent, 1u);
}
