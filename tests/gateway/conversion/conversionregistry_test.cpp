#include "conversion/conversionregistry.h"

#include <dpdatatype.h>

#include <QSet>
#include <QStringList>

#include <gtest/gtest.h>

namespace {

// The convertible pairs, written down independently of the production table:
// each line names the providers, then the consumers they convert into.
const char *const kPairLines[][2] = {
    {"BYTE", "BYTE FLOAT FLOATVALID SDWORDVALID FLOATSTATE SDWORDSTATE FLOATERRCODE SDWORDERRCODE"},
    {"SBYTE", "SBYTE FLOAT FLOATVALID SDWORDVALID FLOATSTATE SDWORDSTATE FLOATERRCODE"},
    {"WORD", "WORD FLOAT"},
    {"SWORD", "SWORD FLOAT FLOATVALID SDWORDVALID FLOATSTATE SDWORDSTATE FLOATERRCODE SDWORDERRCODE"},
    {"DWORD", "DWORD FLOAT SDWORDVALID SDWORDSTATE"},
    {"SDWORD", "SDWORD FLOAT FLOATVALID SDWORDVALID FLOATSTATE SDWORDSTATE FLOATERRCODE SDWORDERRCODE"},
    {"QWORD SQWORD", "SDWORDVALID SDWORDSTATE"},
    {"FLOAT", "FLOAT SDWORD FLOATVALID SDWORDVALID FLOATSTATE SDWORDSTATE FLOATERRCODE SDWORDERRCODE DTSFLOAT "
              "DTSSDWORD DTSSDWORDDISCRETE"},
    {"DOUBLE", "DOUBLE FLOATVALID SDWORDVALID FLOATSTATE SDWORDSTATE FLOATERRCODE SDWORDERRCODE DTSFLOAT DTSSDWORD "
               "DTSSDWORDDISCRETE"},
    {"BOOL", "BOOL FLOAT FLOATVALID SDWORDVALID FLOATSTATE SDWORDSTATE FLOATERRCODE SDWORDERRCODE"},
    {"FLOATVALID", "FLOAT DOUBLE SWORD SDWORD FLOATVALID SDWORDVALID FLOATSTATE SDWORDSTATE FLOATERRCODE "
                   "SDWORDERRCODE DTSFLOAT"},
    {"SDWORDVALID", "FLOAT DOUBLE SWORD SDWORD SQWORD QWORD FLOATVALID SDWORDVALID FLOATSTATE SDWORDSTATE "
                    "FLOATERRCODE SDWORDERRCODE SWORDERRCODE DTSFLOAT DTSSDWORD DTSSDWORDDISCRETE"},
    {"FLOATSTATE", "FLOAT DOUBLE SWORD SDWORD FLOATVALID SDWORDVALID FLOATSTATE SDWORDSTATE FLOATERRCODE "
                   "SDWORDERRCODE DTSFLOAT DTSSDWORD DTSSDWORDDISCRETE"},
    {"SDWORDSTATE", "FLOAT DOUBLE SWORD SDWORD QWORD SQWORD FLOATVALID SDWORDVALID FLOATSTATE SDWORDSTATE "
                    "FLOATERRCODE SDWORDERRCODE SWORDERRCODE"},
    {"FLOATERRCODE", "FLOAT DOUBLE SWORD SDWORD FLOATVALID SDWORDVALID FLOATSTATE SDWORDSTATE FLOATERRCODE "
                     "SDWORDERRCODE DTSFLOAT DTSSDWORD DTSSDWORDDISCRETE"},
    {"SDWORDERRCODE", "FLOAT DOUBLE SWORD SDWORD FLOATVALID SDWORDVALID FLOATSTATE SDWORDSTATE FLOATERRCODE "
                      "SDWORDERRCODE SWORDERRCODE"},
    {"SWORDERRCODE", "FLOATVALID SDWORDVALID FLOATSTATE SDWORDSTATE FLOATERRCODE SDWORDERRCODE DTSFLOAT DTSSDWORD "
                     "DTSSDWORDDISCRETE"},
    {"WORDDISCRETE", "WORDDISCRETE FLOATVALID SDWORDVALID FLOATSTATE SDWORDSTATE FLOATERRCODE SDWORDERRCODE "
                     "DTSFLOAT DTSSDWORD DTSSDWORDDISCRETE"},
    {"DTSFLOAT", "FLOATVALID FLOATSTATE DTSFLOAT"},
    {"DTSSDWORD", "SDWORDVALID SDWORDSTATE DTSSDWORD"},
    {"DTSSDWORDDISCRETE", "SDWORDVALID SDWORDSTATE DTSSDWORDDISCRETE"},
    {"TIMEVAL", "TIMEVAL DOUBLE DWORD"},
    {"TIMESPEC TIMESPEC64", "TIMESPEC TIMESPEC64 DOUBLEDAYSECSUTC DOUBLEDAYSECSLOCAL DOUBLE DWORD"},
    {"DOUBLEDAYSECSUTC", "DOUBLEDAYSECSUTC"},
    {"DOUBLEDAYSECSLOCAL", "DOUBLEDAYSECSLOCAL"},
    // Offered besides the listed pairs, with a range-checked rule.
    {"SWORD", "SBYTE"},
};

// The numeric value of a type name, found through the names the data-type
// table prints (this also covers QWORD and SQWORD, which the parser rejects).
quint32 typeNamed(const QString &name)
{
    for (int t = 0; t < DPDataTypeCount; ++t) {
        if (DPDataTypeToString(t) == name)
            return static_cast<quint32>(t);
    }
    ADD_FAILURE() << "unknown type name " << name.toStdString();
    return 0;
}

QSet<QPair<quint32, quint32>> expectedPairs()
{
    QSet<QPair<quint32, quint32>> pairs;
    for (const auto &line : kPairLines) {
        const QStringList providers = QString::fromLatin1(line[0]).split(' ', Qt::SkipEmptyParts);
        const QStringList consumers = QString::fromLatin1(line[1]).split(' ', Qt::SkipEmptyParts);
        for (const QString &p : providers) {
            for (const QString &c : consumers)
                pairs.insert(qMakePair(typeNamed(p), typeNamed(c)));
        }
    }
    return pairs;
}

QString pairText(const QPair<quint32, quint32> &pair)
{
    return DPDataTypeToString(static_cast<int>(pair.first)) + QLatin1String("->") +
           DPDataTypeToString(static_cast<int>(pair.second));
}

TEST(ConversionRegistryTest, HoldsExactlyTheConvertiblePairs)
{
    const QSet<QPair<quint32, quint32>> expected = expectedPairs();
    ASSERT_EQ(expected.size(), 192 + 1);

    ConversionRegistry registry;
    registry.fill(ConversionRegistry::builtinTable(), ConversionRegistry::builtinTableSize());
    const QList<QPair<quint32, quint32>> actualList = registry.pairs();
    const QSet<QPair<quint32, quint32>> actual(actualList.cbegin(), actualList.cend());

    for (const auto &pair : expected)
        EXPECT_TRUE(actual.contains(pair)) << "missing " << pairText(pair).toStdString();
    for (const auto &pair : actual)
        EXPECT_TRUE(expected.contains(pair)) << "unexpected " << pairText(pair).toStdString();
    EXPECT_EQ(registry.size(), expected.size());
}

TEST(ConversionRegistryTest, EveryTypeCombinationOutsideThePairsHasNoFunction)
{
    const QSet<QPair<quint32, quint32>> expected = expectedPairs();
    ConversionRegistry registry;
    registry.fill(ConversionRegistry::builtinTable(), ConversionRegistry::builtinTableSize());
    for (quint32 p = 0; p < 50; ++p) {
        for (quint32 c = 0; c < 50; ++c) {
            const bool listed = expected.contains(qMakePair(p, c));
            EXPECT_EQ(registry.find(p, c) != nullptr, listed) << pairText(qMakePair(p, c)).toStdString();
        }
    }
}

TEST(ConversionRegistryTest, EveryTableRowHasAFunction)
{
    const ConversionRow *rows = ConversionRegistry::builtinTable();
    for (size_t i = 0; i < ConversionRegistry::builtinTableSize(); ++i)
        EXPECT_NE(rows[i].function, nullptr) << "row " << i;
}

int first(const BaseTieParam *, BaseTieParam *)
{
    return 1;
}

int second(const BaseTieParam *, BaseTieParam *)
{
    return 2;
}

TEST(ConversionRegistryTest, LaterRowReplacesEarlierOne)
{
    const ConversionRow rows[] = {
        {dpdtFloat, dpdtFloatValid, &first},
        {dpdtByte, dpdtFloat, &first},
        {dpdtFloat, dpdtFloatValid, &second},
        {dpdtWord, dpdtFloat, nullptr},
    };
    ConversionRegistry registry;
    registry.fill(rows, 4);
    EXPECT_EQ(registry.size(), 2);
    EXPECT_EQ(registry.find(dpdtFloat, dpdtFloatValid), &second);
    EXPECT_EQ(registry.find(dpdtByte, dpdtFloat), &first);
    EXPECT_EQ(registry.find(dpdtWord, dpdtFloat), nullptr);
    EXPECT_EQ(registry.find(dpdtFloatValid, dpdtFloat), nullptr);
}

TEST(ConversionRegistryTest, GlobalRegistryFillsFromTheBuiltinTable)
{
    ConversionRegistry::global().clear();
    EXPECT_EQ(ConversionRegistry::lookup(dpdtFloat, dpdtFloatValid), nullptr);
    ConversionRegistry::fillGlobal();
    const int filled = ConversionRegistry::global().size();
    EXPECT_EQ(filled, 193);
    EXPECT_NE(ConversionRegistry::lookup(dpdtFloat, dpdtFloatValid), nullptr);
    // Filling again changes nothing.
    ConversionRegistry::fillGlobal();
    EXPECT_EQ(ConversionRegistry::global().size(), filled);
}

} // namespace
