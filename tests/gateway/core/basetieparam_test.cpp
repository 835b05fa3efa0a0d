#include "core/basetieparam.h"

#include "support/memoryparam.h"

#include <dpdatatype.h>

#include <gtest/gtest.h>

namespace {

struct ParamFixture {
    TestTie tie;
    BaseTieUnit *unit = new BaseTieUnit(&tie);
    ParamFixture()
    {
        unit->setDirection(BaseTieUnit::dirToThis);
        tie.addUnit(unit);
    }
    MemoryParam *make(quint32 type, size_t count, size_t elementBytes)
    {
        auto *p = new MemoryParam(unit, type, count, elementBytes);
        unit->addParam(p);
        return p;
    }
};

// One validity row: element 0 holds `word` at `offset` (a 32-bit write, or
// 16-bit / 8-bit for narrow types) of an element of `stride` bytes.
struct ValidityRow {
    const char *name;
    quint32 type;
    size_t stride;
    size_t offset;
    int wordBytes;
    quint32 word;
    bool valid;
};

class Validity : public ::testing::TestWithParam<ValidityRow> {};

TEST_P(Validity, OfElementZero)
{
    const ValidityRow &row = GetParam();
    ParamFixture f;
    MemoryParam *p = f.make(row.type, 1, row.stride);
    if (row.wordBytes == 4)
        p->set<quint32>(0, row.word, row.stride, row.offset);
    else if (row.wordBytes == 2)
        p->set<quint16>(0, static_cast<quint16>(row.word), row.stride, row.offset);
    else
        p->set<quint8>(0, static_cast<quint8>(row.word), row.stride, row.offset);
    EXPECT_EQ(p->isValid(0), row.valid);
}

INSTANTIATE_TEST_SUITE_P(
    ByType, Validity,
    ::testing::Values(
        ValidityRow{"SdwordValidSignOne", dpdtSDWordValid, 8, 4, 4, 1, true},
        ValidityRow{"SdwordValidSignTwo", dpdtSDWordValid, 8, 4, 4, 2, false},
        ValidityRow{"FloatValidSignZero", dpdtFloatValid, 8, 4, 4, 0, false},
        ValidityRow{"FloatStateSix", dpdtFloatState, 8, 4, 4, 6, true},
        ValidityRow{"FloatStateSeven", dpdtFloatState, 8, 4, 4, 7, false},
        ValidityRow{"SdwordStateAllBits", dpdtSDWordState, 8, 4, 4, 0xFFFFFFFFu, false},
        ValidityRow{"KiValidOne", dpdtKIValid, 4, 0, 4, 1, true},
        ValidityRow{"KiStateSeven", dpdtKIState, 4, 0, 4, 7, false},
        ValidityRow{"FloatErrCodeZero", dpdtFloatErrCode, 8, 4, 4, 0, true},
        ValidityRow{"SdwordErrCodeOne", dpdtSDWordErrCode, 8, 4, 4, 1, false},
        ValidityRow{"ErrCodeDwordZero", dpdtErrCodeDWord, 4, 0, 4, 0, true},
        ValidityRow{"ErrCodeWordOne", dpdtErrCodeWord, 2, 0, 2, 1, false},
        ValidityRow{"SwordErrCodeHighHalfZero", dpdtSWordErrCode, 4, 0, 4, 0x0000FFFFu, true},
        ValidityRow{"SwordErrCodeHighHalfSet", dpdtSWordErrCode, 4, 0, 4, 0x00010000u, false},
        ValidityRow{"DtsStatusClear", dpdtDTSFloat, 8, 4, 4, 0x1F0, true},
        ValidityRow{"DtsStatusBit2", dpdtDTSSDWord, 8, 4, 4, 0x004, false},
        ValidityRow{"DtsStatusBit0x400", dpdtDTSSDWordDiscrete, 8, 4, 4, 0x400, false},
        ValidityRow{"WordDiscreteOne", dpdtWordDiscrete, 2, 0, 2, 1, true},
        ValidityRow{"WordDiscreteTwo", dpdtWordDiscrete, 2, 0, 2, 2, false},
        ValidityRow{"TavrikByteTwo", dpdtTavrikByte, 1, 0, 1, 2, false},
        ValidityRow{"PlainDwordAnyValue", dpdtDWord, 4, 0, 4, 0xFFFFFFFFu, true},
        ValidityRow{"BitAlways", dpdtBit, 1, 0, 1, 0xFF, true},
        ValidityRow{"AsciizNever", dpdtAsciiz, 4, 0, 4, 0, false},
        ValidityRow{"DaySecsNever", dpdtDoubleDaySecsUTC, 8, 0, 4, 0, false}),
    [](const ::testing::TestParamInfo<ValidityRow> &info) { return std::string(info.param.name); });

TEST(ParamValidity, TavrikDwordHasOneValidityWordPerFourByteElement)
{
    ParamFixture f;
    MemoryParam *p = f.make(dpdtTavrikDWord, 2, 4);
    p->set<quint32>(0, 0x00050000u); // low half 0: valid; the high half is no validity word
    p->set<quint32>(1, 0x00000001u);
    EXPECT_TRUE(p->isValid(0));
    EXPECT_TRUE(p->isValid(1));
    p->set<quint32>(1, 0x00000002u);
    EXPECT_FALSE(p->isValid(1));
    p->setStorageSize(6); // element 1 no longer fits
    EXPECT_FALSE(p->isValid(1));
}

TEST(ParamValidity, NeedsTheElementInsideTheCountTheStorageAndAHealthyUnit)
{
    ParamFixture f;
    MemoryParam *p = f.make(dpdtFloatValid, 2, 8);
    p->set<quint32>(0, 1, 8, 4);
    p->set<quint32>(1, 1, 8, 4);
    EXPECT_TRUE(p->isValid(1));
    EXPECT_FALSE(p->isValid(2));
    p->setStorageSize(12); // element 1 no longer fits
    EXPECT_TRUE(p->isValid(0));
    EXPECT_FALSE(p->isValid(1));
    f.tie.setState(4);
    EXPECT_FALSE(p->isValid(0));
    f.tie.setState(0);
    p->dropStorage();
    EXPECT_FALSE(p->isValid(0));

    MemoryParam orphan(nullptr, dpdtDWord, 1, 4);
    EXPECT_EQ(orphan.unitState(), -1);
    EXPECT_FALSE(orphan.isValid(0));
}

struct ResetRow {
    const char *name;
    quint32 type;
    size_t elementBytes;
    QByteArray expected; // bytes of two elements after a reset of 0x5A-filled storage
};

class Reset : public ::testing::TestWithParam<ResetRow> {};

TEST_P(Reset, FillsEveryElementWithTheInvalidPattern)
{
    const ResetRow &row = GetParam();
    ParamFixture f;
    MemoryParam *p = f.make(row.type, 2, row.elementBytes);
    p->storage().fill('\x5A');
    p->reset();
    EXPECT_EQ(p->storage().toHex(), row.expected.toHex());
}

QByteArray rep(const char *hex, int times)
{
    return QByteArray::fromHex(QByteArray(hex).repeated(times));
}

INSTANTIATE_TEST_SUITE_P(
    ByType, Reset,
    ::testing::Values(
        ResetRow{"Byte", dpdtByte, 1, rep("ff", 2)},
        ResetRow{"TavrikByte", dpdtTavrikByte, 1, rep("ff", 2)},
        ResetRow{"Sword", dpdtSWord, 2, rep("ffff", 2)},
        ResetRow{"WordDiscrete", dpdtWordDiscrete, 2, rep("ffff", 2)},
        ResetRow{"Float", dpdtFloat, 4, rep("ffffffff", 2)},
        ResetRow{"SwordErrCode", dpdtSWordErrCode, 4, rep("ffffffff", 2)},
        ResetRow{"Extended", dpdtExtended, 16, rep("ff", 32)},
        ResetRow{"Bool", dpdtBool, 1, rep("00", 2)},
        ResetRow{"Asciiz", dpdtAsciiz, 4, rep("00", 8)},
        ResetRow{"DtsFloat", dpdtDTSFloat, 8, rep("0000000004000000", 2)},
        ResetRow{"FloatValid", dpdtFloatValid, 8, rep("ff", 16)},
        ResetRow{"TimeVal", dpdtTimeVal, 8, rep("ff", 16)},
        ResetRow{"TavrikDwordUntouched", dpdtTavrikDWord, 4, rep("5a", 8)},
        ResetRow{"BitUntouched", dpdtBit, 1, rep("5a", 2)},
        ResetRow{"TimeSpecUntouched", dpdtTimeSpec, 8, rep("5a", 16)},
        ResetRow{"TimeSpec64Untouched", dpdtTimeSpec64, 16, rep("5a", 32)}),
    [](const ::testing::TestParamInfo<ResetRow> &info) { return std::string(info.param.name); });

TEST(ParamReset, NeverWritesPastTheStorage)
{
    ParamFixture f;
    MemoryParam *p = f.make(dpdtDouble, 4, 8);
    p->setStorageSize(12); // the count claims 32 bytes
    p->storage().fill('\x5A');
    p->storage().reserve(64);
    p->reset();
    EXPECT_EQ(p->storage().toHex(), (rep("ff", 8) + rep("5a", 4)).toHex());
}

struct DescriptionRow {
    const char *name;
    const char *kks;
    const char *rtm;
    const char *iid;
    const char *expected;
};

class Description : public ::testing::TestWithParam<DescriptionRow> {};

TEST_P(Description, FollowsTheIdentifierCases)
{
    const DescriptionRow &row = GetParam();
    MemoryParam p(nullptr, dpdtFloat, 1, 4);
    p.ids(QString::fromLatin1(row.kks), QString::fromLatin1(row.rtm), QString::fromLatin1(row.iid));
    EXPECT_EQ(p.description().toStdString(), row.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Description,
    ::testing::Values(DescriptionRow{"Nothing", "", "", "", "?"},
                      DescriptionRow{"OnlyIid", "", "", "7", "iid=7"},
                      DescriptionRow{"RtmEqualsIid", "", "R", "R", "rtm/iid=R"},
                      DescriptionRow{"RtmWithIid", "", "R", "7", "rtm=R,iid=7"},
                      DescriptionRow{"OnlyRtm", "", "R", "", "rtm=R"},
                      DescriptionRow{"AllEqual", "A", "A", "A", "kks/rtm/iid=A"},
                      DescriptionRow{"KksEqualsRtm", "A", "A", "7", "kks/rtm=A,iid=7"},
                      DescriptionRow{"KksEqualsRtmNoIid", "A", "A", "", "kks/rtm=A"},
                      DescriptionRow{"KksEqualsIid", "A", "R", "A", "kks/iid=A,rtm=R"},
                      DescriptionRow{"KksEqualsIidNoRtm", "A", "", "A", "kks/iid=A"},
                      DescriptionRow{"KksWithIid", "A", "", "7", "kks=A,iid=7"},
                      DescriptionRow{"OnlyKks", "A", "", "", "kks=A"},
                      DescriptionRow{"KksRtmEqualsIid", "A", "R", "R", "kks=A,rtm/iid=R"},
                      DescriptionRow{"AllDifferent", "A", "R", "7", "kks=A,rtm=R,iid=7"},
                      DescriptionRow{"KksRtmNoIid", "A", "R", "", "kks=A,rtm=R"}),
    [](const ::testing::TestParamInfo<DescriptionRow> &info) { return std::string(info.param.name); });

TEST(ParamDescription, NullParameterIsNamedNull)
{
    EXPECT_EQ(BaseTieParam::describe(nullptr), QStringLiteral("(NULL)"));
}

} // namespace
