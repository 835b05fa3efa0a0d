#include "config/csvparamshash.h"
#include "config/csvtieparam.h"
#include "config/csvtieunit.h"

#include "support/fixedclock.h"
#include "support/memoryparam.h"
#include "support/messagecapture.h"
#include "support/scopeddebuglevel.h"

#include <dpdatatype.h>

#include <cstring>

#include <gtest/gtest.h>

namespace {

CsvTieParam *makeParam(BaseTieUnit *unit, quint32 type, qint32 index, const QVector<quint32> &dims = {})
{
    return new CsvTieParam(unit, type, index, QStringLiteral("ext"), QStringLiteral("iid"), QStringLiteral("kks"),
                           QStringLiteral("rtm"), dims);
}

struct CsvUnitFixture : ::testing::Test {
    TestTie tie;
    CsvTieUnit *unit = new CsvTieUnit(&tie);

    CsvUnitFixture() { tie.addUnit(unit); }
};

} // namespace

TEST(CsvTieParam, StorageIsElementSizeTimesCountAndZeroFilled)
{
    CsvTieParam p(nullptr, dpdtDTSFloat, 7, "e", "i", "k", "r");
    EXPECT_EQ(p.metatype(), static_cast<quint32>(dpdtDTSFloat));
    EXPECT_EQ(p.count(), 1u);
    ASSERT_EQ(p.size(), 8u);
    ASSERT_NE(p.values(), nullptr);
    EXPECT_EQ(std::memcmp(p.values(), "\0\0\0\0\0\0\0\0", 8), 0);

    CsvTieParam timespec64(nullptr, dpdtTimeSpec64, 1, "", "i", "", "", {3});
    EXPECT_EQ(timespec64.count(), 3u);
    EXPECT_EQ(timespec64.size(), 48u);
}

TEST(CsvTieParam, TypeWithoutElementSizeGetsTypeZeroAndNoStorage)
{
    for (quint32 type : {0u, 16u, 24u, 36u, 99u}) {
        CsvTieParam p(nullptr, type, 1, "", "i", "", "");
        EXPECT_EQ(p.metatype(), 0u) << type;
        EXPECT_EQ(p.size(), 0u) << type;
        EXPECT_EQ(p.values(), nullptr) << type;
        EXPECT_EQ(p.valuesForWrite(), nullptr) << type;
        EXPECT_FALSE(p.isValid(0)) << type;
        p.reset(); // nothing to write, must not touch memory
    }
    // A zero dimension leaves no storage either, so the type is dropped.
    CsvTieParam empty(nullptr, dpdtSDWord, 1, "", "i", "", "", {0});
    EXPECT_EQ(empty.metatype(), 0u);
    EXPECT_EQ(empty.count(), 0u);
}

TEST(CsvTieParam, IdentifiersAndIndexSlots)
{
    CsvTieParam p(nullptr, dpdtSDWord, 42, "E1", "I1", "K1", "R1");
    EXPECT_EQ(p.number(), 42);
    EXPECT_EQ(p.numberString(), "42");
    EXPECT_EQ(p.extID(), "E1");
    EXPECT_EQ(p.IID(), "I1");
    EXPECT_EQ(p.KKS(), "K1");
    EXPECT_EQ(p.RTM(), "R1");
    EXPECT_EQ(p.description(), "kks=K1,rtm=R1,iid=I1");
    CsvTieParam noIndex(nullptr, dpdtSDWord, -1, "", "I", "", "");
    EXPECT_EQ(noIndex.numberString(), "-1");
}

TEST(CsvTieParam, ConstructionMessagesAtLevelsTenAndEleven)
{
    ScopedDebugLevel level(11);
    MessageCapture capture;
    CsvTieParam p(nullptr, dpdtFloat, 3, "e", "i", "k", "r");
    EXPECT_TRUE(capture.containsPart("CsvTieParam::CsvTieParam("));
    EXPECT_TRUE(capture.containsPart(", FLOAT(9), 3, \"e\", \"i\", \"k\", \"r\", ...) was called"));
    EXPECT_TRUE(capture.contains("     created CsvTieParam with type FLOAT(9) adn size 4"));
}

TEST_F(CsvUnitFixture, OwnDataTimeIsSetAndForwardedToTheUnit)
{
    FixedClock clock(utc(2024, 5, 1, 12));
    unit->setDirection(BaseTieUnit::dirToThis);
    auto *p = makeParam(unit, dpdtSDWord, 1);
    unit->addParam(p);
    EXPECT_FALSE(p->dataTime().isValid());

    const QDateTime t = utc(2024, 5, 1, 11, 59, 58);
    p->updateLastUpdated(t);
    EXPECT_EQ(p->dataTime(), t);
    EXPECT_EQ(unit->lastUpdated(), t);

    // An older stamp is the parameter's own data time, while the unit's
    // last updated never moves backwards.
    const QDateTime older = t.addSecs(-10);
    p->updateLastUpdated(older);
    EXPECT_EQ(p->dataTime(), older);
    EXPECT_EQ(unit->lastUpdated(), t);

    p->setDataTime(utc(2000, 1, 1));
    EXPECT_EQ(p->dataTime(), utc(2000, 1, 1));
    EXPECT_EQ(unit->lastUpdated(), t);
}

TEST(CsvTieParam, DimensionCountIsClampedAndNewDimensionsHaveSizeOne)
{
    CsvTieParam p(nullptr, dpdtDWord, 1, "", "i", "", "");
    EXPECT_EQ(p.dimensionCount(), 0);
    p.setDimensionCount(7);
    EXPECT_EQ(p.dimensionCount(), 3);
    EXPECT_EQ(p.count(), 1u);
    EXPECT_EQ(p.size(), 4u);
    EXPECT_TRUE(p.setDimensionSize(1, 5));
    EXPECT_EQ(p.count(), 5u);
    EXPECT_EQ(p.size(), 20u);
    p.setDimensionCount(-2);
    EXPECT_EQ(p.dimensionCount(), 0);
    EXPECT_EQ(p.size(), 4u);
}

TEST(CsvTieParam, OutOfRangeDimensionsAreIgnored)
{
    CsvTieParam p(nullptr, dpdtWord, 1, "", "i", "", "", {2, 3});
    EXPECT_EQ(p.dimensionSize(-1), 1u);
    EXPECT_EQ(p.dimensionSize(2), 1u);
    EXPECT_EQ(p.dimensionSize(1), 3u);
    EXPECT_FALSE(p.setDimensionSize(2, 10));
    EXPECT_FALSE(p.setDimensionSize(-1, 10));
    EXPECT_EQ(p.size(), 12u);
}

TEST(CsvTieParam, MoreThanThreeDimensionsAreRefused)
{
    CsvTieParam p(nullptr, dpdtByte, 1, "", "i", "", "", {2});
    EXPECT_FALSE(p.setDimensions(QVector<quint32>{1, 2, 3, 4}));
    EXPECT_EQ(p.dimensionCount(), 1);
    EXPECT_EQ(p.size(), 2u);

    const quint32 sizes[4] = {2, 3, 4, 5};
    EXPECT_TRUE(p.setDimensions(4, sizes)); // takes the first three
    EXPECT_EQ(p.dimensionCount(), 3);
    EXPECT_EQ(p.size(), 24u);
    EXPECT_FALSE(p.setDimensions(2, nullptr));
    EXPECT_EQ(p.size(), 24u);

    MessageCapture capture;
    CsvTieParam refused(nullptr, dpdtByte, 1, "", "i", "", "", {1, 2, 3, 4});
    EXPECT_EQ(refused.dimensionCount(), 0);
    EXPECT_EQ(refused.size(), 1u);
    EXPECT_FALSE(capture.warnings().isEmpty());
}

TEST(CsvTieParam, ResizingKeepsValuesAndZeroFillsTheGrowth)
{
    CsvTieParam p(nullptr, dpdtDWord, 1, "", "i", "", "", {2});
    const quint32 v[2] = {0xAABBCCDDu, 0x11223344u};
    std::memcpy(p.valuesForWrite(), v, sizeof v);
    ASSERT_TRUE(p.setDimensions(QVector<quint32>{4}));
    ASSERT_EQ(p.size(), 16u);
    quint32 out[4];
    std::memcpy(out, p.values(), sizeof out);
    EXPECT_EQ(out[0], v[0]);
    EXPECT_EQ(out[1], v[1]);
    EXPECT_EQ(out[2], 0u);
    EXPECT_EQ(out[3], 0u);
    // Shrinking and growing again does not bring old bytes back.
    ASSERT_TRUE(p.setDimensions(QVector<quint32>{1}));
    ASSERT_TRUE(p.setDimensions(QVector<quint32>{2}));
    std::memcpy(out, p.values(), 8);
    EXPECT_EQ(out[0], v[0]);
    EXPECT_EQ(out[1], 0u);
}

TEST(CsvTieParam, HugeDimensionsAreRefusedInsteadOfExhaustingMemory)
{
    MessageCapture capture;
    CsvTieParam p(nullptr, dpdtDouble, 1, "", "i", "", "", {2});
    EXPECT_FALSE(p.setDimensions(QVector<quint32>{0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu}));
    EXPECT_FALSE(p.setDimensionSize(0, 0x10000000u));
    EXPECT_EQ(p.count(), 2u);
    EXPECT_EQ(p.size(), 16u);
    EXPECT_EQ(capture.warnings().size(), 2);

    // A type without storage may not report an overflowing count either.
    CsvTieParam none(nullptr, 0, 1, "", "i", "", "");
    EXPECT_FALSE(none.setDimensions(QVector<quint32>{0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu}));
    EXPECT_EQ(none.count(), 1u);
}

TEST_F(CsvUnitFixture, ParamsHashFindsByTypeAndIndex)
{
    CsvParamsHash &hash = unit->csvParamsHash();
    auto *a = makeParam(unit, dpdtDTSFloat, 5);
    auto *b = makeParam(unit, dpdtDTSSDWord, 5);
    auto *c = makeParam(unit, dpdtDTSFloat, 6);
    for (CsvTieParam *p : {a, b, c}) {
        unit->addParam(p);
        hash.add(p);
    }
    hash.add(nullptr);
    EXPECT_EQ(hash.size(), 3);
    EXPECT_EQ(hash.find(5, dpdtDTSFloat), a);
    EXPECT_EQ(hash.find(5, dpdtDTSSDWord), b);
    EXPECT_EQ(hash.find(6, dpdtDTSFloat), c);
    EXPECT_EQ(hash.find(6, dpdtDTSSDWord), nullptr);
    EXPECT_EQ(hash.find(5, dpdtFloat), nullptr);
    EXPECT_TRUE(hash.contains(6, dpdtDTSFloat));
    EXPECT_FALSE(hash.contains(7, dpdtDTSFloat));
    EXPECT_TRUE(hash.containsIndex(5));
    EXPECT_FALSE(hash.containsIndex(7));
    EXPECT_TRUE(hash.containsType(dpdtDTSSDWord));
    EXPECT_FALSE(hash.containsType(dpdtDTSSDWordDiscrete));
    hash.clear();
    EXPECT_FALSE(hash.containsType(dpdtDTSFloat));
    EXPECT_EQ(hash.find(5, dpdtDTSFloat), nullptr);
}

TEST_F(CsvUnitFixture, ParamsHashReplacesAnEntryWithTheSameTypeAndIndex)
{
    ScopedDebugLevel level(1);
    MessageCapture capture;
    auto *first = makeParam(unit, dpdtSDWord, 3);
    auto *second = makeParam(unit, dpdtSDWord, 3);
    unit->addParam(first);
    unit->addParam(second);
    unit->csvParamsHash().add(first);
    EXPECT_TRUE(capture.messages().isEmpty());
    unit->csvParamsHash().add(second);
    EXPECT_EQ(unit->csvParamsHash().find(3, dpdtSDWord), second);
    EXPECT_EQ(unit->csvParamsHash().size(), 1);
    EXPECT_TRUE(capture.containsPart("CsvParamsHash::add(): param with type SDWORD(6) and index 3 already exist ("));
    EXPECT_TRUE(capture.containsPart("and wil be replaced by ("));
}

TEST_F(CsvUnitFixture, ClearingTheUnitsParamsClearsBothIndexes)
{
    auto *p = makeParam(unit, dpdtSDWord, 3);
    unit->addParam(p);
    unit->csvParamsHash().add(p);
    unit->clearParams();
    EXPECT_TRUE(unit->params().isEmpty());
    EXPECT_TRUE(unit->paramsHash().isEmpty());
    EXPECT_EQ(unit->csvParamsHash().size(), 0);
    EXPECT_FALSE(unit->csvParamsHash().containsIndex(3));
}
