#include "links/files/outfieldformat.h"

#include "support/memoryparam.h"

#include <dpdatatype.h>

#include <QTextStream>

#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

template<typename T>
QByteArray bytesOf(T v)
{
    return QByteArray(reinterpret_cast<const char *>(&v), sizeof v);
}

template<typename A, typename B>
QByteArray pair(A a, B b)
{
    return bytesOf(a) + bytesOf(b);
}

struct ColumnRow {
    const char *name;
    quint32 type;
    QByteArray storage;
    const char *value;
    const char *code; // "V" stands for the validity text passed in
};

std::vector<ColumnRow> columnRows()
{
    return {
        {"Byte", dpdtByte, bytesOf<quint8>(0xFE), "254", "V"},
        {"SByte", dpdtSByte, bytesOf<qint8>(-2), "-2", "V"},
        {"Word", dpdtWord, bytesOf<quint16>(65534), "65534", "V"},
        {"SWord", dpdtSWord, bytesOf<qint16>(-2), "-2", "V"},
        {"DWord", dpdtDWord, bytesOf<quint32>(0xFFFFFFFFu), "4294967295", "V"},
        {"SDWord", dpdtSDWord, bytesOf<qint32>(-1), "-1", "V"},
        {"QWord", dpdtQWord, bytesOf<quint64>(~quint64(0)), "18446744073709551615", "V"},
        {"SQWord", dpdtSQWord, bytesOf<qint64>(-5), "-5", "V"},
        {"Float", dpdtFloat, bytesOf(12.5f), "12.5", "V"},
        // Floating values: the shortest text that reads back to the same value.
        {"FloatAllDigits", dpdtFloat, bytesOf(1234567.0f), "1234567", "V"},
        {"FloatNotWidenedDigits", dpdtFloatValid, pair(0.1f, 1u), "0.1", "1"},
        {"FloatLargeExponent", dpdtFloat, bytesOf(3.4e38f), "3.4e+38", "V"},
        {"Double", dpdtDouble, bytesOf(0.1), "0.1", "V"},
        {"DoubleAllDigits", dpdtDouble, bytesOf(1234567.5), "1234567.5", "V"},
        {"Extended", dpdtExtended, bytesOf(2.5L) + QByteArray(16 - int(sizeof(long double)), '\0'), "2.5", "V"},
        {"Bit", dpdtBit, bytesOf<quint8>(1), "?", "?"},
        {"BoolSet", dpdtBool, bytesOf<quint8>(5), "1", "V"},
        {"BoolClear", dpdtBool, bytesOf<quint8>(0), "0", "V"},
        {"Asciiz", dpdtAsciiz, QByteArray("ab"), "?", "?"},
        {"SM2MCode", dpdtSM2MCode, bytesOf<quint16>(3), "?", "?"},
        {"FloatValid", dpdtFloatValid, pair(1.5f, 1u), "1.5", "1"},
        {"SDWordValid", dpdtSDWordValid, pair(-3, 2u), "-3", "2"},
        {"TimeT32", dpdtTimeT32, bytesOf<quint32>(1714564800u), "1714564800", "V"},
        {"FloatState", dpdtFloatState, pair(2.5f, 7u), "2.5", "7"},
        {"SDWordState", dpdtSDWordState, pair(42, 0u), "42", "0"},
        {"TimeVal", dpdtTimeVal, pair(1714564800u, 250000u), "1714564800,250000", "V"},
        {"TimeValLeadingZeros", dpdtTimeVal, pair(1714564800u, 5u), "1714564800,000005", "V"},
        {"BlobQString", dpdtBlobQString, QByteArray("x"), "?", "?"},
        {"KIValid", dpdtKIValid, bytesOf<quint32>(1), "1", "1"},
        {"KIState", dpdtKIState, bytesOf<quint32>(6), "6", "6"},
        {"ErrCodeDWord", dpdtErrCodeDWord, bytesOf<qint32>(-2), "-2", "-2"},
        {"TavrikDWord", dpdtTavrikDWord, pair<quint16, quint16>(1, 5), "1", "1"},
        {"TavrikByte", dpdtTavrikByte, bytesOf<quint8>(0xFF), "-1", "-1"},
        {"FloatErrCode", dpdtFloatErrCode, pair(3.0f, 12u), "3", "12"},
        {"SDWordErrCode", dpdtSDWordErrCode, pair(5, 0u), "5", "0"},
        {"WordDiscrete", dpdtWordDiscrete, bytesOf<quint16>(1), "1", "1"},
        {"DTSFloat", dpdtDTSFloat, pair(7.25f, 0x604u), "7.25", "1540"},
        {"DTSSDWord", dpdtDTSSDWord, pair(-9, 4u), "-9", "4"},
        {"DTSSDWordDiscrete", dpdtDTSSDWordDiscrete, pair(1, 0u), "1", "0"},
        {"SWordErrCode", dpdtSWordErrCode, pair<qint16, qint16>(5, -3), "5", "-3"},
        {"ErrCodeWord", dpdtErrCodeWord, bytesOf<qint16>(-3), "-3", "-3"},
        {"TimeSpec", dpdtTimeSpec, pair(1714564800u, 250000000u), "1714564800,250000000", "?"},
        {"TimeSpecLeadingZeros", dpdtTimeSpec, pair(1714564800u, 5u), "1714564800,000000005", "?"},
        {"TimeWithMsecs", dpdtTimeWithMsecs, pair(1u, 2u), "?", "?"},
        {"DoubleDaySecsUTCMilliseconds", dpdtDoubleDaySecsUTC, bytesOf(16060.25), "16060.25", "V"},
        {"DoubleDaySecsLocal", dpdtDoubleDaySecsLocal, bytesOf(0.25), "0.25", "V"},
        {"DoubleValid", dpdtDoubleValid, pair(1.0, 1u), "?", "?"},
        {"TimeSpec64", dpdtTimeSpec64, pair<qint64, quint64>(17145648000LL, 7), "17145648000,000000007", "?"},
        {"NoType", dpdtNone, bytesOf<quint32>(1), "?", "?"},
        {"TypeOutOfRange", 99, bytesOf<quint32>(1), "?", "?"},
        // Storage too small for what the form reads: never read past it.
        {"FloatValidWithoutSignWord", dpdtFloatValid, bytesOf(1.5f), "1.5", "?"},
        {"QWordInFourBytes", dpdtQWord, bytesOf<quint32>(1), "?", "V"},
        {"TimeSpec64InEightBytes", dpdtTimeSpec64, bytesOf<qint64>(1), "?", "?"},
        {"SWordErrCodeInTwoBytes", dpdtSWordErrCode, bytesOf<qint16>(5), "5", "?"},
    };
}

struct ColumnsByType : ::testing::TestWithParam<ColumnRow> {
    TestTie tie;
    BaseTieUnit *unit = new BaseTieUnit(&tie);
    MemoryParam *param = nullptr;

    ColumnsByType()
    {
        unit->setDirection(BaseTieUnit::dirToThis);
        tie.addUnit(unit);
        const ColumnRow &row = GetParam();
        param = new MemoryParam(unit, row.type, 1, static_cast<size_t>(row.storage.size()));
        param->storage() = row.storage;
        unit->addParam(param);
    }

    QString value() const
    {
        QString text;
        QTextStream out(&text);
        OutFieldFormat::writeValue(out, param);
        out.flush();
        return text;
    }
    QString code() const
    {
        QString text;
        QTextStream out(&text);
        OutFieldFormat::writeValidityCode(out, param, QStringLiteral("V"));
        out.flush();
        return text;
    }
};

} // namespace

TEST_P(ColumnsByType, ValueAndValidityCode)
{
    EXPECT_EQ(value(), QString::fromLatin1(GetParam().value));
    EXPECT_EQ(code(), QString::fromLatin1(GetParam().code));
}

INSTANTIATE_TEST_SUITE_P(EveryType, ColumnsByType, ::testing::ValuesIn(columnRows()),
                         [](const ::testing::TestParamInfo<ColumnRow> &info) { return std::string(info.param.name); });

TEST(ColumnsByType, ParameterWithoutStorageWritesQuestionMarks)
{
    TestTie tie;
    auto *unit = new BaseTieUnit(&tie);
    tie.addUnit(unit);
    auto *param = new MemoryParam(unit, dpdtFloatValid, 1, 8);
    unit->addParam(param);
    param->dropStorage();
    QString text;
    QTextStream out(&text);
    OutFieldFormat::writeValue(out, param);
    OutFieldFormat::writeValidityCode(out, param, "V");
    OutFieldFormat::writeValue(out, nullptr);
    out.flush();
    EXPECT_EQ(text, QStringLiteral("???"));
}

TEST(OutFields, TokensAreSplitAtNonWordCharactersAndLowerCased)
{
    using F = OutFieldFormat;
    EXPECT_EQ(F::parseColumns("kks, value ;Validity"), QVector<F::Column>({F::colKKS, F::colValue, F::colValidity}));
    EXPECT_EQ(F::parseColumns("ID-Value|VALIDCODE/validitycode"),
              QVector<F::Column>({F::colId, F::colValue, F::colValidityCode, F::colValidityCode}));
    EXPECT_EQ(F::parseColumns("none empty,iid rtm extid"),
              QVector<F::Column>({F::colEmpty, F::colEmpty, F::colIID, F::colRTM, F::colExtID}));
    EXPECT_EQ(F::parseColumns("prefferdid someid bestdid prefferdcode"),
              QVector<F::Column>({F::colId, F::colId, F::colId, F::colId}));
    EXPECT_EQ(F::parseColumns("kks_value"), F::defaultColumns()); // "_" is a word character
}

TEST(OutFields, NoKnownTokenFallsBackToIdentifierAndValue)
{
    using F = OutFieldFormat;
    EXPECT_EQ(F::defaultColumns(), QVector<F::Column>({F::colId, F::colValue}));
    EXPECT_EQ(F::parseColumns(""), F::defaultColumns());
    EXPECT_EQ(F::parseColumns("foo, bar"), F::defaultColumns());
    EXPECT_EQ(F::parseColumns(";;"), F::defaultColumns());
}

TEST(OutFields, PreferredIdentifierIsExtIdThenKksThenRtmThenIid)
{
    MemoryParam p(nullptr, dpdtDWord, 1, 4);
    EXPECT_EQ(OutFieldFormat::preferredId(&p), QString());
    p.ids("", "", "I");
    EXPECT_EQ(OutFieldFormat::preferredId(&p), QStringLiteral("I"));
    p.ids("", "R", "I");
    EXPECT_EQ(OutFieldFormat::preferredId(&p), QStringLiteral("R"));
    p.ids("K", "R", "I");
    EXPECT_EQ(OutFieldFormat::preferredId(&p), QStringLiteral("K"));
    p.ids("K", "R", "I", "E");
    EXPECT_EQ(OutFieldFormat::preferredId(&p), QStringLiteral("E"));
    EXPECT_EQ(OutFieldFormat::preferredId(nullptr), QString());
}
