#include "conversiontestsupport.h"
#include "support/messagecapture.h"

#include <cmath>
#include <limits>

namespace {

const double kInf = std::numeric_limits<double>::infinity();
const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double k2p31 = 2147483648.0;

// One element through the conversion of a pair: the provider element
// (value, sign) and the consumer element expected (value, sign).
struct ElementRow {
    const char *name;
    int from;
    Num value;
    quint32 sign;
    int to;
    Num expected;
    quint32 expectedSign;
};

// Test names after the rows' names, and rows printed by their names.
template<typename Row>
std::string rowName(const ::testing::TestParamInfo<Row> &info)
{
    return info.param.name;
}

template<typename Row>
auto operator<<(std::ostream &os, const Row &row) -> decltype(row.name, os)
{
    return os << row.name;
}

class ElementRuleTest : public ConversionTest, public ::testing::WithParamInterface<ElementRow>
{
};

TEST_P(ElementRuleTest, WritesValueAndSign)
{
    const ElementRow &row = GetParam();
    MemoryParam *from = provider(row.from);
    MemoryParam *to = consumer(row.to);
    setElement(from, 0, row.value, row.sign);
    // Anything but the expected bytes, so that a rule that writes nothing fails.
    to->storage().fill('\x5A');
    ASSERT_EQ(convert(from, to), 0);
    const QByteArray expected = encodeElement(row.to, row.expected, row.expectedSign);
    EXPECT_EQ(hex(element(to, 0)), hex(expected));
}

const ElementRow kPlainToFloat[] = {
    {"ByteMaxToFloat", dpdtByte, I(255), 0, dpdtFloat, R(255.0), 0},
    {"SByteNegativeToFloat", dpdtSByte, I(-128), 0, dpdtFloat, R(-128.0), 0},
    {"WordMaxToFloat", dpdtWord, I(65535), 0, dpdtFloat, R(65535.0), 0},
    {"SWordMinusOneToFloatStaysMinusOne", dpdtSWord, I(-1), 0, dpdtFloat, R(-1.0), 0},
    {"DWordMaxRoundsToFloat", dpdtDWord, I(4294967295ll), 0, dpdtFloat, R(4294967296.0), 0},
    {"SDWordRoundsToNearestFloat", dpdtSDWord, I(16777217), 0, dpdtFloat, R(16777216.0), 0},
    {"BoolToFloat", dpdtBool, I(1), 0, dpdtFloat, R(1.0), 0},
};
INSTANTIATE_TEST_SUITE_P(IntegerToFloat, ElementRuleTest, ::testing::ValuesIn(kPlainToFloat), rowName<ElementRow>);

const ElementRow kCopies[] = {
    {"ByteCopied", dpdtByte, I(0xA5), 0, dpdtByte, I(0xA5), 0},
    {"BoolTwoStaysTwo", dpdtBool, I(2), 0, dpdtBool, I(2), 0},
    {"SWordCopied", dpdtSWord, I(-12345), 0, dpdtSWord, I(-12345), 0},
    {"FloatNaNCopied", dpdtFloat, ONES, 0, dpdtFloat, ONES, 0},
    {"DoubleCopied", dpdtDouble, R(-0.125), 0, dpdtDouble, R(-0.125), 0},
    {"FloatStateKeepsState3", dpdtFloatState, R(1.5), 3, dpdtFloatState, R(1.5), 3},
    {"SDWordValidKeepsSign2", dpdtSDWordValid, I(9), 2, dpdtSDWordValid, I(9), 2},
    {"FloatErrCodeKeepsCode", dpdtFloatErrCode, R(2.0), 77, dpdtFloatErrCode, R(2.0), 77},
    {"DtsFloatKeepsStatus", dpdtDTSFloat, R(3.0), 0x400, dpdtDTSFloat, R(3.0), 0x400},
    {"DtsSDWordDiscreteKeepsValue", dpdtDTSSDWordDiscrete, I(5), 0, dpdtDTSSDWordDiscrete, I(5), 0},
    {"WordDiscreteCopied", dpdtWordDiscrete, I(0xFFFF), 0, dpdtWordDiscrete, I(0xFFFF), 0},
};
INSTANTIATE_TEST_SUITE_P(SameType, ElementRuleTest, ::testing::ValuesIn(kCopies), rowName<ElementRow>);

const ElementRow kSWordToSByte[] = {
    {"Max127", dpdtSWord, I(127), 0, dpdtSByte, I(127), 0},
    {"MinMinus128", dpdtSWord, I(-128), 0, dpdtSByte, I(-128), 0},
    {"Above127IsInvalid", dpdtSWord, I(128), 0, dpdtSByte, ONES, 0},
    {"BelowMinus128IsInvalid", dpdtSWord, I(-129), 0, dpdtSByte, ONES, 0},
    // A byte copy would have written the low byte 0x34.
    {"WideValueIsNotByteCopied", dpdtSWord, I(0x1234), 0, dpdtSByte, ONES, 0},
};
INSTANTIATE_TEST_SUITE_P(SWordToSByte, ElementRuleTest, ::testing::ValuesIn(kSWordToSByte), rowName<ElementRow>);

const ElementRow kIntegerToValued[] = {
    {"ByteToFloatValid", dpdtByte, I(200), 0, dpdtFloatValid, R(200.0), 1},
    {"SByteToFloatState", dpdtSByte, I(-5), 0, dpdtFloatState, R(-5.0), 0},
    {"SByteMinusOneStaysValid", dpdtSByte, I(-1), 0, dpdtFloatValid, R(-1.0), 1},
    {"BoolToFloatErrCode", dpdtBool, I(1), 0, dpdtFloatErrCode, R(1.0), 0},
    {"ByteToSDWordState", dpdtByte, I(200), 0, dpdtSDWordState, I(200), 0},
    {"ByteToSDWordErrCode", dpdtByte, I(7), 0, dpdtSDWordErrCode, I(7), 0},
    {"BoolToSDWordErrCodeKeepsInteger", dpdtBool, I(2), 0, dpdtSDWordErrCode, I(2), 0},
    {"SByteMinusOneToSDWordValid", dpdtSByte, I(-1), 0, dpdtSDWordValid, I(-1), 1},
    // Narrowings out of range are invalid, never wrapped into a valid value.
    {"DWordAboveTwoPow31IsInvalid", dpdtDWord, I(3000000000ll), 0, dpdtSDWordValid, I(-1), 0},
    {"DWordLargestSDWordStaysValid", dpdtDWord, I(2147483647), 0, dpdtSDWordState, I(2147483647), 0},
    {"DWordTwoPow31IsInvalidState", dpdtDWord, I(2147483648ll), 0, dpdtSDWordState, I(-1), 7},
    {"QWordTwoPow32IsInvalid", dpdtQWord, I(0x100000000ll), 0, dpdtSDWordValid, I(-1), 0},
    {"QWordSmallStaysValid", dpdtQWord, I(5), 0, dpdtSDWordValid, I(5), 1},
    {"SQWordNegativeToSDWordState", dpdtSQWord, I(-2), 0, dpdtSDWordState, I(-2), 0},
    {"SQWordMinusTwoPow31StaysValid", dpdtSQWord, I(-2147483648ll), 0, dpdtSDWordValid, I(-2147483648ll), 1},
    {"SQWordBelowMinusTwoPow31IsInvalid", dpdtSQWord, I(-2147483649ll), 0, dpdtSDWordState, I(-1), 7},
};
INSTANTIATE_TEST_SUITE_P(IntegerToValued, ElementRuleTest, ::testing::ValuesIn(kIntegerToValued), rowName<ElementRow>);

const ElementRow kMinusOne[] = {
    {"SWordMinusOneToFloatValid", dpdtSWord, I(-1), 0, dpdtFloatValid, R(0.0), 0},
    {"SWordMinusOneToFloatState", dpdtSWord, I(-1), 0, dpdtFloatState, R(0.0), 7},
    {"SWordMinusOneToFloatErrCode", dpdtSWord, I(-1), 0, dpdtFloatErrCode, R(0.0), 1},
    {"SWordMinusTwoToFloatValid", dpdtSWord, I(-2), 0, dpdtFloatValid, R(-2.0), 1},
    {"SWordMinusOneToSDWordValidKeepsMinusOne", dpdtSWord, I(-1), 0, dpdtSDWordValid, I(-1), 0},
    {"SWordMinusOneToSDWordState", dpdtSWord, I(-1), 0, dpdtSDWordState, I(-1), 7},
    {"SWordMinToSDWordValidSignExtended", dpdtSWord, I(-32768), 0, dpdtSDWordValid, I(-32768), 1},
    {"SWordToSDWordErrCode", dpdtSWord, I(300), 0, dpdtSDWordErrCode, I(300), 0},
    {"SDWordMinusOneToFloatValid", dpdtSDWord, I(-1), 0, dpdtFloatValid, R(0.0), 0},
    {"SDWordFiveToFloatState", dpdtSDWord, I(5), 0, dpdtFloatState, R(5.0), 0},
    {"SDWordMinusOneToSDWordValidGivesZero", dpdtSDWord, I(-1), 0, dpdtSDWordValid, I(0), 0},
    {"SDWordMinusOneToSDWordErrCodeGivesZero", dpdtSDWord, I(-1), 0, dpdtSDWordErrCode, I(0), 1},
    {"SDWordMaxToSDWordState", dpdtSDWord, I(2147483647), 0, dpdtSDWordState, I(2147483647), 0},
    {"SDWordMinToSDWordValid", dpdtSDWord, I(-2147483647 - 1), 0, dpdtSDWordValid, I(-2147483647 - 1), 1},
};
INSTANTIATE_TEST_SUITE_P(MinusOneKinds, ElementRuleTest, ::testing::ValuesIn(kMinusOne), rowName<ElementRow>);

const ElementRow kFloatSources[] = {
    {"ToSDWordTruncatesTowardZero", dpdtFloat, R(2.9), 0, dpdtSDWord, I(2), 0},
    {"ToSDWordNegativeTruncatesTowardZero", dpdtFloat, R(-2.9), 0, dpdtSDWord, I(-2), 0},
    {"ToSDWordTwoPow31IsMinusOne", dpdtFloat, R(k2p31), 0, dpdtSDWord, I(-1), 0},
    {"ToSDWordMinusTwoPow31Fits", dpdtFloat, R(-k2p31), 0, dpdtSDWord, I(-2147483647 - 1), 0},
    {"ToSDWordLargestFloatBelowTwoPow31", dpdtFloat, R(2147483520.0), 0, dpdtSDWord, I(2147483520), 0},
    {"ToSDWordNaNIsMinusOne", dpdtFloat, R(kNaN), 0, dpdtSDWord, I(-1), 0},
    {"ToSDWordInfIsMinusOne", dpdtFloat, R(kInf), 0, dpdtSDWord, I(-1), 0},
    {"ToFloatValidCopied", dpdtFloat, R(1.5), 0, dpdtFloatValid, R(1.5), 1},
    {"ToFloatStateNaNStaysValid", dpdtFloat, ONES, 0, dpdtFloatState, ONES, 0},
    {"ToFloatErrCodeCopied", dpdtFloat, R(-0.25), 0, dpdtFloatErrCode, R(-0.25), 0},
    {"ToSDWordValidTruncated", dpdtFloat, R(-0.7), 0, dpdtSDWordValid, I(0), 1},
    {"ToSDWordStateNaN", dpdtFloat, R(kNaN), 0, dpdtSDWordState, I(-1), 7},
    {"ToSDWordStateInf", dpdtFloat, R(kInf), 0, dpdtSDWordState, I(-1), 7},
    {"ToSDWordValidTwoPow31", dpdtFloat, R(k2p31), 0, dpdtSDWordValid, I(-1), 0},
    {"ToSDWordErrCodeMinusTwoPow31", dpdtFloat, R(-k2p31), 0, dpdtSDWordErrCode, I(-2147483647 - 1), 0},
    {"ToDtsSDWordInfHasStatus1", dpdtFloat, R(-kInf), 0, dpdtDTSSDWord, I(-1), 1},
    {"ToDtsSDWordValid", dpdtFloat, R(12.5), 0, dpdtDTSSDWord, I(12), 0},
    {"ToDtsFloatFinite", dpdtFloat, R(3.25), 0, dpdtDTSFloat, R(3.25), 0},
    {"ToDtsFloatNaN", dpdtFloat, R(kNaN), 0, dpdtDTSFloat, R(-1.0), 1},
    {"ToDtsFloatMinusInf", dpdtFloat, R(-kInf), 0, dpdtDTSFloat, R(-1.0), 1},
    {"DiscreteHalfIsOne", dpdtFloat, R(0.5), 0, dpdtDTSSDWordDiscrete, I(1), 0},
    {"DiscreteMinus0_7IsOne", dpdtFloat, R(-0.7), 0, dpdtDTSSDWordDiscrete, I(1), 0},
    {"Discrete0_49IsZero", dpdtFloat, R(0.49), 0, dpdtDTSSDWordDiscrete, I(0), 0},
    {"DiscreteLargeIsOne", dpdtFloat, R(1000.0), 0, dpdtDTSSDWordDiscrete, I(1), 0},
    {"DiscreteNaNIsInvalid", dpdtFloat, R(kNaN), 0, dpdtDTSSDWordDiscrete, I(0), 1},
    {"DiscreteBeyondTwoPow31IsInvalid", dpdtFloat, R(3e9), 0, dpdtDTSSDWordDiscrete, I(0), 1},
};
INSTANTIATE_TEST_SUITE_P(FloatSources, ElementRuleTest, ::testing::ValuesIn(kFloatSources), rowName<ElementRow>);

const ElementRow kDoubleSources[] = {
    {"ToFloatValidRounded", dpdtDouble, R(0.1), 0, dpdtFloatValid, R(0.1), 1},
    {"ToFloatValidNaN", dpdtDouble, R(kNaN), 0, dpdtFloatValid, ONES, 0},
    {"ToFloatStateInf", dpdtDouble, R(kInf), 0, dpdtFloatState, ONES, 7},
    // A finite double beyond the float range would turn into a valid infinity.
    {"ToFloatErrCodeBeyondFloatRange", dpdtDouble, R(1e300), 0, dpdtFloatErrCode, ONES, 1},
    {"ToDtsFloatNaNAllBitsStatus1", dpdtDouble, R(kNaN), 0, dpdtDTSFloat, ONES, 1},
    {"ToDtsFloatFinite", dpdtDouble, R(-7.5), 0, dpdtDTSFloat, R(-7.5), 0},
    {"ToDiscreteHalfIsOne", dpdtDouble, R(0.5), 0, dpdtDTSSDWordDiscrete, I(1), 0},
    {"ToDiscrete0_49IsZero", dpdtDouble, R(0.49), 0, dpdtDTSSDWordDiscrete, I(0), 0},
    {"ToDiscreteTwoPow31IsInvalid", dpdtDouble, R(k2p31), 0, dpdtDTSSDWordDiscrete, I(0), 1},
    {"ToSDWordValidJustBelowTwoPow31", dpdtDouble, R(2147483647.9), 0, dpdtSDWordValid, I(2147483647), 1},
    {"ToSDWordValidTwoPow31", dpdtDouble, R(k2p31), 0, dpdtSDWordValid, I(-1), 0},
    {"ToSDWordStateJustAboveMinusTwoPow31", dpdtDouble, R(-2147483648.9), 0, dpdtSDWordState,
     I(-2147483647 - 1), 0},
    {"ToSDWordStateBelowMinusTwoPow31", dpdtDouble, R(-2147483649.0), 0, dpdtSDWordState, I(-1), 7},
    {"ToSDWordErrCodeNaN", dpdtDouble, R(kNaN), 0, dpdtSDWordErrCode, I(-1), 1},
    {"ToDtsSDWordNaN", dpdtDouble, R(kNaN), 0, dpdtDTSSDWord, I(-1), 1},
};
INSTANTIATE_TEST_SUITE_P(DoubleSources, ElementRuleTest, ::testing::ValuesIn(kDoubleSources), rowName<ElementRow>);

const ElementRow kFloatWithSign[] = {
    {"ValidToFloat", dpdtFloatValid, R(2.5), 1, dpdtFloat, R(2.5), 0},
    {"InvalidToFloatAllBits", dpdtFloatValid, R(2.5), 0, dpdtFloat, ONES, 0},
    {"State6ToFloatIsValid", dpdtFloatState, R(2.5), 6, dpdtFloat, R(2.5), 0},
    {"State7ToFloatIsInvalid", dpdtFloatState, R(2.5), 7, dpdtFloat, ONES, 0},
    {"ErrCodeToFloatIsInvalid", dpdtFloatErrCode, R(2.5), 3, dpdtFloat, ONES, 0},
    {"ValidToDouble", dpdtFloatValid, R(0.1), 1, dpdtDouble, R(static_cast<double>(0.1f)), 0},
    {"InvalidToDoubleAllBits", dpdtFloatState, R(0.1), 9, dpdtDouble, ONES, 0},
    {"ToSWordMax", dpdtFloatValid, R(32767.9), 1, dpdtSWord, I(32767), 0},
    {"ToSWordAboveRange", dpdtFloatValid, R(32768.0), 1, dpdtSWord, I(-1), 0},
    {"ToSWordMin", dpdtFloatErrCode, R(-32768.9), 0, dpdtSWord, I(-32768), 0},
    {"ToSWordBelowRange", dpdtFloatErrCode, R(-32769.0), 0, dpdtSWord, I(-1), 0},
    {"ToSWordInvalidIsMinusOne", dpdtFloatValid, R(100.0), 0, dpdtSWord, I(-1), 0},
    {"ToSDWordTwoPow31", dpdtFloatState, R(k2p31), 0, dpdtSDWord, I(-1), 0},
    {"ToSDWordInvalid", dpdtFloatState, R(5.0), 8, dpdtSDWord, I(-1), 0},
    {"ToSDWordValid", dpdtFloatValid, R(-5.5), 1, dpdtSDWord, I(-5), 0},
    {"ToSDWordStateTruncated", dpdtFloatValid, R(7.9), 1, dpdtSDWordState, I(7), 0},
    {"ToSDWordStateKeepsValueOfInvalid", dpdtFloatValid, R(7.9), 0, dpdtSDWordState, I(7), 7},
    {"ToSDWordStateNaN", dpdtFloatValid, R(kNaN), 1, dpdtSDWordState, I(-1), 7},
    {"StateToSDWordValid", dpdtFloatState, R(3.0), 6, dpdtSDWordValid, I(3), 1},
    {"ErrCodeToDtsSDWord", dpdtFloatErrCode, R(5.0), 1, dpdtDTSSDWord, I(5), 1},
    {"StateToDtsSDWordDiscreteNotReduced", dpdtFloatState, R(5.0), 0, dpdtDTSSDWordDiscrete, I(5), 0},
    {"ValidToFloatState", dpdtFloatValid, R(1.5), 1, dpdtFloatState, R(1.5), 0},
    {"Sign2ToFloatState", dpdtFloatValid, R(1.5), 2, dpdtFloatState, R(1.5), 7},
    {"State6ToFloatErrCode", dpdtFloatState, R(1.5), 6, dpdtFloatErrCode, R(1.5), 0},
    {"ErrCodeToFloatValid", dpdtFloatErrCode, R(1.5), 4, dpdtFloatValid, R(1.5), 0},
    {"DtsStatus0x400ToFloatValid", dpdtDTSFloat, R(1.5), 0x400, dpdtFloatValid, R(1.5), 0},
    {"DtsStatus0x10IsValid", dpdtDTSFloat, R(1.5), 0x10, dpdtFloatState, R(1.5), 0},
    {"ToDtsFloatValid", dpdtFloatValid, R(2.0), 1, dpdtDTSFloat, R(2.0), 0},
    {"ToDtsFloatInvalid", dpdtFloatValid, R(2.0), 0, dpdtDTSFloat, R(-1.0), 1},
    {"ToDtsFloatInf", dpdtFloatState, R(kInf), 0, dpdtDTSFloat, R(-1.0), 1},
};
INSTANTIATE_TEST_SUITE_P(FloatWithSign, ElementRuleTest, ::testing::ValuesIn(kFloatWithSign), rowName<ElementRow>);

const ElementRow kSDWordWithSign[] = {
    {"ValidToFloat", dpdtSDWordValid, I(5), 1, dpdtFloat, R(5.0), 0},
    {"InvalidToFloatAllBits", dpdtSDWordValid, I(5), 0, dpdtFloat, ONES, 0},
    {"StateToDouble", dpdtSDWordState, I(-7), 6, dpdtDouble, R(-7.0), 0},
    {"ErrCodeToDoubleInvalid", dpdtSDWordErrCode, I(-7), 2, dpdtDouble, ONES, 0},
    {"ToSWordAboveRangeIsInvalid", dpdtSDWordValid, I(70000), 1, dpdtSWord, ONES, 0},
    {"ToSWordBelowRangeIsInvalid", dpdtSDWordState, I(-32769), 0, dpdtSWord, ONES, 0},
    {"ToSWordMinFits", dpdtSDWordErrCode, I(-32768), 0, dpdtSWord, I(-32768), 0},
    {"ToSWordInvalidAllBits", dpdtSDWordState, I(1), 7, dpdtSWord, ONES, 0},
    {"ToSDWordUnchanged", dpdtSDWordErrCode, I(-123456), 0, dpdtSDWord, I(-123456), 0},
    {"ToSDWordInvalidAllBits", dpdtSDWordValid, I(1), 3, dpdtSDWord, ONES, 0},
    {"ToQWordSignExtended", dpdtSDWordValid, I(-2), 1, dpdtQWord, I(-2), 0},
    {"ToSQWordSignExtended", dpdtSDWordState, I(-5), 0, dpdtSQWord, I(-5), 0},
    {"ToSQWordInvalidAllBits", dpdtSDWordState, I(-5), 7, dpdtSQWord, ONES, 0},
    {"ToFloatValid", dpdtSDWordState, I(9), 3, dpdtFloatValid, R(9.0), 1},
    {"ToFloatStateInvalid", dpdtSDWordValid, I(9), 0, dpdtFloatState, R(9.0), 7},
    {"StateToSDWordValid", dpdtSDWordState, I(9), 3, dpdtSDWordValid, I(9), 1},
    {"StateInvalidToSDWordErrCode", dpdtSDWordState, I(9), 7, dpdtSDWordErrCode, I(9), 1},
    {"ToSWordErrCodeAboveRangeIsInvalid", dpdtSDWordValid, I(70000), 1, dpdtSWordErrCode, I(-1), 1},
    {"ToSWordErrCodeMaxFits", dpdtSDWordState, I(32767), 0, dpdtSWordErrCode, I(32767), 0},
    {"ToSWordErrCodeInvalid", dpdtSDWordErrCode, I(-3), 5, dpdtSWordErrCode, I(-3), 1},
    {"ToDtsFloatInvalidKeepsValue", dpdtSDWordValid, I(5), 0, dpdtDTSFloat, R(5.0), 1},
    {"ToDtsSDWord", dpdtSDWordValid, I(-5), 1, dpdtDTSSDWord, I(-5), 0},
    {"ToDtsSDWordDiscreteNotReduced", dpdtSDWordValid, I(5), 1, dpdtDTSSDWordDiscrete, I(5), 0},
    {"DtsStatus0x200ToSDWordValid", dpdtDTSSDWord, I(5), 0x200, dpdtSDWordValid, I(5), 0},
    {"DtsDiscreteToSDWordState", dpdtDTSSDWordDiscrete, I(1), 0, dpdtSDWordState, I(1), 0},
};
INSTANTIATE_TEST_SUITE_P(SDWordWithSign, ElementRuleTest, ::testing::ValuesIn(kSDWordWithSign), rowName<ElementRow>);

const ElementRow kSWordErrCode[] = {
    {"CodeZeroToFloatValid", dpdtSWordErrCode, I(-3), 0, dpdtFloatValid, R(-3.0), 1},
    {"CodeTwoToFloatValid", dpdtSWordErrCode, I(-3), 2, dpdtFloatValid, R(-3.0), 0},
    {"ToSDWordStateSignExtended", dpdtSWordErrCode, I(-3), 0, dpdtSDWordState, I(-3), 0},
    {"ToSDWordErrCodeInvalid", dpdtSWordErrCode, I(100), 1, dpdtSDWordErrCode, I(100), 1},
    {"ToDtsFloat", dpdtSWordErrCode, I(7), 0, dpdtDTSFloat, R(7.0), 0},
    {"ToDtsSDWordDiscreteNotReduced", dpdtSWordErrCode, I(5), 0, dpdtDTSSDWordDiscrete, I(5), 0},
};
INSTANTIATE_TEST_SUITE_P(SWordErrCode, ElementRuleTest, ::testing::ValuesIn(kSWordErrCode), rowName<ElementRow>);

const ElementRow kWordDiscrete[] = {
    {"OneToFloatValid", dpdtWordDiscrete, I(1), 0, dpdtFloatValid, R(1.0), 1},
    {"FFFFToFloatValidInvalid", dpdtWordDiscrete, I(0xFFFF), 0, dpdtFloatValid, R(65535.0), 0},
    {"FFFFToSDWordValidZeroExtended", dpdtWordDiscrete, I(0xFFFF), 0, dpdtSDWordValid, I(65535), 0},
    {"TwoToSDWordState", dpdtWordDiscrete, I(2), 0, dpdtSDWordState, I(2), 0},
    {"ToDtsFloat", dpdtWordDiscrete, I(0), 0, dpdtDTSFloat, R(0.0), 0},
    {"ToDtsSDWord", dpdtWordDiscrete, I(0xFFFF), 0, dpdtDTSSDWord, I(65535), 1},
    {"ZeroToDiscrete", dpdtWordDiscrete, I(0), 0, dpdtDTSSDWordDiscrete, I(0), 0},
    {"OneToDiscrete", dpdtWordDiscrete, I(1), 0, dpdtDTSSDWordDiscrete, I(1), 0},
    {"TwoToDiscreteInvalid", dpdtWordDiscrete, I(2), 0, dpdtDTSSDWordDiscrete, I(0), 1},
    {"FFFFToDiscreteInvalid", dpdtWordDiscrete, I(0xFFFF), 0, dpdtDTSSDWordDiscrete, I(0), 1},
};
INSTANTIATE_TEST_SUITE_P(WordDiscrete, ElementRuleTest, ::testing::ValuesIn(kWordDiscrete), rowName<ElementRow>);

// The element written for a consumer whose provider is unusable, and for
// consumer elements beyond the provider's elements.
struct InvalidRow {
    const char *name;
    int from;
    int to;
    Num unusable;
    quint32 unusableSign;
    Num beyond;
    quint32 beyondSign;
};

class InvalidElementTest : public ConversionTest, public ::testing::WithParamInterface<InvalidRow>
{
};

TEST_P(InvalidElementTest, MissingProviderInvalidatesEveryElement)
{
    const InvalidRow &row = GetParam();
    MemoryParam *to = consumer(row.to, 3);
    to->storage().fill('\x5A');
    ASSERT_EQ(convert(row.from, nullptr, to), 0);
    const QByteArray expected = encodeElement(row.to, row.unusable, row.unusableSign);
    for (size_t i = 0; i < 3; ++i)
        EXPECT_EQ(hex(element(to, i)), hex(expected)) << "element " << i;
}

TEST_P(InvalidElementTest, ElementsBeyondTheProviderAreInvalid)
{
    const InvalidRow &row = GetParam();
    MemoryParam *from = provider(row.from, 1);
    MemoryParam *to = consumer(row.to, 3);
    to->storage().fill('\x5A');
    ASSERT_EQ(convert(from, to), 0);
    const QByteArray expected = encodeElement(row.to, row.beyond, row.beyondSign);
    EXPECT_NE(hex(element(to, 0)), hex(QByteArray(element(to, 0).size(), '\x5A')));
    for (size_t i = 1; i < 3; ++i)
        EXPECT_EQ(hex(element(to, i)), hex(expected)) << "element " << i;
}

const InvalidRow kInvalidElements[] = {
    {"FloatValid", dpdtFloat, dpdtFloatValid, ONES, 0, ONES, 0},
    {"SDWordValid", dpdtFloat, dpdtSDWordValid, ONES, 0, ONES, 0},
    {"FloatState", dpdtByte, dpdtFloatState, ONES, 7, ONES, 7},
    {"SDWordState", dpdtFloatValid, dpdtSDWordState, ONES, 7, ONES, 7},
    {"FloatErrCode", dpdtDouble, dpdtFloatErrCode, ONES, 1, ONES, 1},
    {"SDWordErrCode", dpdtByte, dpdtSDWordErrCode, ONES, 1, ONES, 1},
    {"SWordErrCode", dpdtSDWordValid, dpdtSWordErrCode, ONES, 1, ONES, 1},
    {"DtsFloat", dpdtFloat, dpdtDTSFloat, R(-1.0), 2, R(-1.0), 1},
    {"DtsSDWord", dpdtFloat, dpdtDTSSDWord, I(-1), 2, I(-1), 1},
    {"DtsSDWordDiscrete", dpdtFloat, dpdtDTSSDWordDiscrete, I(0), 2, I(0), 1},
    {"WordDiscreteDiscrete", dpdtWordDiscrete, dpdtDTSSDWordDiscrete, I(0), 2, I(0), 1},
    {"Float", dpdtFloatValid, dpdtFloat, ONES, 0, ONES, 0},
    {"Double", dpdtSDWordState, dpdtDouble, ONES, 0, ONES, 0},
    {"SWord", dpdtFloatState, dpdtSWord, ONES, 0, ONES, 0},
    {"Byte", dpdtByte, dpdtByte, ONES, 0, ONES, 0},
    {"WordDiscrete", dpdtWordDiscrete, dpdtWordDiscrete, ONES, 0, ONES, 0},
    {"SByteFromSWord", dpdtSWord, dpdtSByte, ONES, 0, ONES, 0},
    {"SDWordFromSDWordGivesZeroInvalid", dpdtSDWord, dpdtSDWordValid, I(0), 0, I(0), 0},
    {"SDWordStateFromSDWordGivesZeroInvalid", dpdtSDWord, dpdtSDWordState, I(0), 7, I(0), 7},
    {"QWordFromSDWordValid", dpdtSDWordValid, dpdtQWord, ONES, 0, ONES, 0},
    {"SQWordFromSDWordState", dpdtSDWordState, dpdtSQWord, ONES, 0, ONES, 0},
    {"FloatValidCopyKeepsTypeInvalid", dpdtFloatValid, dpdtFloatValid, ONES, 0, ONES, 0},
    {"DtsFloatCopyKeepsTypeInvalid", dpdtDTSFloat, dpdtDTSFloat, R(-1.0), 2, R(-1.0), 1},
};
INSTANTIATE_TEST_SUITE_P(ByTargetType, InvalidElementTest, ::testing::ValuesIn(kInvalidElements), rowName<InvalidRow>);

using ProviderValidityTest = ConversionTest;

TEST_F(ProviderValidityTest, ShorterProviderFillsTheRestInvalid)
{
    MemoryParam *from = provider(dpdtFloat, 3);
    MemoryParam *to = consumer(dpdtFloatValid, 5);
    for (size_t i = 0; i < 3; ++i)
        setElement(from, i, R(1.0 + static_cast<double>(i)));
    ASSERT_EQ(convert(from, to), 0);
    for (size_t i = 0; i < 3; ++i)
        EXPECT_EQ(hex(element(to, i)), hex(encodeElement(dpdtFloatValid, R(1.0 + static_cast<double>(i)), 1)));
    for (size_t i = 3; i < 5; ++i)
        EXPECT_EQ(hex(element(to, i)), hex(encodeElement(dpdtFloatValid, ONES, 0)));
}

TEST_F(ProviderValidityTest, LongerProviderFillsOnlyTheConsumersElements)
{
    MemoryParam *from = provider(dpdtSDWord, 5);
    MemoryParam *to = consumer(dpdtSDWordState, 2);
    for (size_t i = 0; i < 5; ++i)
        setElement(from, i, I(static_cast<qint64>(10 * i)));
    ASSERT_EQ(convert(from, to), 0);
    EXPECT_EQ(to->storage().size(), 16);
    EXPECT_EQ(hex(element(to, 0)), hex(encodeElement(dpdtSDWordState, I(0), 0)));
    EXPECT_EQ(hex(element(to, 1)), hex(encodeElement(dpdtSDWordState, I(10), 0)));
}

TEST_F(ProviderValidityTest, ProviderWithoutStorageInvalidates)
{
    MemoryParam *from = provider(dpdtFloat, 2);
    MemoryParam *to = consumer(dpdtDTSFloat, 2);
    from->dropStorage();
    ASSERT_EQ(convert(from, to), 0);
    EXPECT_EQ(hex(element(to, 1)), hex(encodeElement(dpdtDTSFloat, R(-1.0), 2)));
}

TEST_F(ProviderValidityTest, TieStateFourInvalidates)
{
    MemoryParam *from = provider(dpdtFloat, 2);
    MemoryParam *to = consumer(dpdtFloatValid, 2);
    setElement(from, 0, R(1.0));
    setElement(from, 1, R(2.0));
    tie.setState(4);
    ASSERT_EQ(convert(from, to), 0);
    EXPECT_EQ(hex(element(to, 0)), hex(encodeElement(dpdtFloatValid, ONES, 0)));
    EXPECT_EQ(hex(element(to, 1)), hex(encodeElement(dpdtFloatValid, ONES, 0)));
}

TEST_F(ProviderValidityTest, StaleUnitInvalidatesAndFreshDataConvertAgain)
{
    MemoryParam *from = provider(dpdtFloat, 1);
    MemoryParam *to = consumer(dpdtDTSSDWord, 1);
    setElement(from, 0, R(42.0));
    clock.advance(3500);
    ASSERT_EQ(providerUnit->state(), BaseTieUnit::stStale);
    ASSERT_EQ(convert(from, to), 0);
    EXPECT_EQ(hex(element(to, 0)), hex(encodeElement(dpdtDTSSDWord, I(-1), 2)));

    providerUnit->updateLastReceived(clock.now());
    ASSERT_EQ(convert(from, to), 0);
    EXPECT_EQ(hex(element(to, 0)), hex(encodeElement(dpdtDTSSDWord, I(42), 0)));
}

TEST_F(ProviderValidityTest, ProviderThatNeverReceivedInvalidates)
{
    MemoryParam *from = provider(dpdtFloat, 1);
    MemoryParam *to = consumer(dpdtFloatState, 1);
    providerUnit->setLastReceived(QDateTime());
    ASSERT_EQ(convert(from, to), 0);
    EXPECT_EQ(hex(element(to, 0)), hex(encodeElement(dpdtFloatState, ONES, 7)));
}

TEST_F(ProviderValidityTest, ProviderWithoutUnitInvalidates)
{
    MemoryParam from(nullptr, dpdtFloat, 1, 4);
    from.set<float>(0, 1.0f);
    MemoryParam *to = consumer(dpdtFloatErrCode, 1);
    ASSERT_EQ(convert(&from, to), 0);
    EXPECT_EQ(hex(element(to, 0)), hex(encodeElement(dpdtFloatErrCode, ONES, 1)));
}

TEST_F(ProviderValidityTest, ConsumerWithoutStorageIsAnError)
{
    MemoryParam *from = provider(dpdtFloat, 1);
    MemoryParam *to = consumer(dpdtFloatValid, 1);
    to->dropStorage();
    EXPECT_EQ(convert(from, to), -1);
    EXPECT_EQ(convert(dpdtFloat, nullptr, to), -1);
    EXPECT_EQ(function(dpdtFloat, dpdtFloatValid)(from, nullptr), -1);
}

using StorageBoundsTest = ConversionTest;

// A parameter of `type` claiming `count` elements whose storage is a window
// of `bytes` after `before` guard bytes, followed by `after` guard bytes.
MemoryParam *guarded(BaseTieUnit *unit, int type, size_t count, size_t before, size_t bytes, size_t after)
{
    auto *p = new MemoryParam(unit, static_cast<quint32>(type), count, 1);
    unit->addParam(p);
    p->setStorageSize(before + bytes + after);
    p->storage().fill('\x5A');
    p->setWindow(before, bytes);
    return p;
}

TEST_F(StorageBoundsTest, ConsumerIsWrittenOnlyAsFarAsItsStorage)
{
    MemoryParam *from = provider(dpdtFloat, 4);
    for (size_t i = 0; i < 4; ++i)
        setElement(from, i, R(1.0));
    // Four elements claimed, room for one and a half.
    MemoryParam *to = guarded(consumerUnit, dpdtFloatValid, 4, 8, 12, 8);
    ASSERT_EQ(convert(from, to), 0);
    const QByteArray &bytes = to->storage();
    EXPECT_EQ(hex(bytes.mid(8, 8)), hex(encodeElement(dpdtFloatValid, R(1.0), 1)));
    EXPECT_EQ(hex(bytes.left(8)), hex(QByteArray(8, '\x5A')));
    EXPECT_EQ(hex(bytes.mid(16)), hex(QByteArray(12, '\x5A')));
}

TEST_F(StorageBoundsTest, InvalidatedConsumerIsWrittenOnlyAsFarAsItsStorage)
{
    MemoryParam *to = guarded(consumerUnit, dpdtWord, 100, 0, 2, 4);
    ASSERT_EQ(convert(dpdtWord, nullptr, to), 0);
    EXPECT_EQ(hex(to->storage()), hex(QByteArray::fromHex("ffff5a5a5a5a")));
}

TEST_F(StorageBoundsTest, ProviderIsReadOnlyAsFarAsItsStorage)
{
    // Two elements in the window, then values that must never be read.
    MemoryParam *from = guarded(providerUnit, dpdtSDWord, 4, 0, 8, 8);
    const qint32 values[4] = {7, 8, 99, 99};
    std::memcpy(from->storage().data(), values, sizeof values);
    MemoryParam *to = consumer(dpdtSDWordState, 4);
    ASSERT_EQ(convert(from, to), 0);
    EXPECT_EQ(hex(element(to, 0)), hex(encodeElement(dpdtSDWordState, I(7), 0)));
    EXPECT_EQ(hex(element(to, 1)), hex(encodeElement(dpdtSDWordState, I(8), 0)));
    EXPECT_EQ(hex(element(to, 2)), hex(encodeElement(dpdtSDWordState, I(0), 7)));
    EXPECT_EQ(hex(element(to, 3)), hex(encodeElement(dpdtSDWordState, I(0), 7)));
}

TEST_F(StorageBoundsTest, ElementsNeedNoAlignment)
{
    MemoryParam *from = guarded(providerUnit, dpdtFloatValid, 1, 1, 8, 0);
    from->storage().replace(1, 8, encodeElement(dpdtFloatValid, R(6.5), 1));
    MemoryParam *to = guarded(consumerUnit, dpdtDTSFloat, 1, 3, 8, 0);
    ASSERT_EQ(convert(from, to), 0);
    EXPECT_EQ(hex(to->storage().mid(3)), hex(encodeElement(dpdtDTSFloat, R(6.5), 0)));
}

using ConversionTraceTest = ConversionTest;

TEST_F(ConversionTraceTest, ElementsAreReportedAtLevelThree)
{
    MemoryParam *from = provider(dpdtFloat, 1);
    MemoryParam *to = consumer(dpdtFloatValid, 2);
    setElement(from, 0, R(1.5));
    ScopedDebugLevel level(3);
    MessageCapture capture;
    ASSERT_EQ(convert(from, to), 0);
    EXPECT_TRUE(capture.contains("floatToFloatWithStateSignConvert(): [0]: value is 1.500000(0x3FC00000), state =>1"))
        << capture.texts().join('\n').toStdString();
    EXPECT_TRUE(capture.contains("floatToFloatWithStateSignConvert(): [1]: out of src index so invalidate result"));
}

TEST_F(ConversionTraceTest, SkeletonCasesAreReported)
{
    MemoryParam *from = provider(dpdtSDWord, 1);
    MemoryParam *to = consumer(dpdtSDWordValid, 1);
    ScopedDebugLevel level(3);
    MessageCapture capture;
    convert(dpdtSDWord, nullptr, to);
    EXPECT_TRUE(capture.contains("minusOneInvalidSdwordToSDWordWithStateSignConvert(): provider is NULL so invalidate result"));
    tie.setState(4);
    convert(from, to);
    EXPECT_TRUE(capture.containsPart("minusOneInvalidSdwordToSDWordWithStateSignConvert(): src ("));
    EXPECT_TRUE(capture.containsPart("is NULL or provider has error unitState (4) so invalidate result"));
    to->dropStorage();
    convert(from, to);
    EXPECT_TRUE(capture.contains("minusOneInvalidSdwordToSDWordWithStateSignConvert(): dest NULL so return with error"));
}

TEST_F(ConversionTraceTest, KindsReportUnderTheirOwnNames)
{
    ScopedDebugLevel level(3);
    MessageCapture capture;
    MemoryParam *valid = provider(dpdtFloatValid, 1);
    setElement(valid, 0, R(2.0), 0);
    convert(valid, consumer(dpdtDTSFloat));
    EXPECT_TRUE(capture.contains("floatWithStateSignToFiniteFloatWithStateSignConvert(): [0]: value is 2.000000=>-1"));
    MemoryParam *word = provider(dpdtSWord, 1);
    setElement(word, 0, I(-2));
    convert(word, consumer(dpdtSDWordState));
    EXPECT_TRUE(
        capture.contains("minusOneInvalidINTTYPEtoSDWordWithStateSignConvert(): [0]: value is -2(0xFFFE), state =>0"));
    MemoryParam *dbl = provider(dpdtDouble, 1);
    setElement(dbl, 0, R(0.5));
    convert(dbl, consumer(dpdtDTSSDWordDiscrete));
    EXPECT_TRUE(capture.contains(
        "doubleToFloatWithStateSignConvert(): [0]: value is 0.500000(0x3FE0000000000000), state =>0"));
    MemoryParam *copy = provider(dpdtSDWordValid, 1);
    setElement(copy, 0, I(1), 1);
    convert(copy, consumer(dpdtSDWordValid));
    EXPECT_TRUE(capture.contains("anyTYPEtoTYPEconvert(): [0]: value is 0x0100000001000000, state =>1"));
}

TEST_F(ConversionTraceTest, NothingIsReportedBelowLevelThree)
{
    MemoryParam *from = provider(dpdtFloat, 1);
    MemoryParam *to = consumer(dpdtFloatValid, 2);
    ScopedDebugLevel level(2);
    MessageCapture capture;
    convert(from, to);
    convert(dpdtFloat, nullptr, to);
    EXPECT_TRUE(capture.texts().isEmpty()) << capture.texts().join('\n').toStdString();
}

} // namespace
