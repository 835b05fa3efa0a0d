#include <dpdatatype.h>

#include "sundry/qtprinters.h"

#include <QByteArray>
#include <QDataStream>

#include <gtest/gtest.h>

#include <cstring>

namespace {

struct TypeRow {
    int value;
    const char *name;
    bool acceptedPlain;    // StringToDPDataType(name, false) gives the value
    bool acceptedExtended; // StringToDPDataType(name, true) gives the value
    int elementSize;
    int swapUnit;
};

void PrintTo(const TypeRow &r, std::ostream *os)
{
    *os << r.value << " " << r.name;
}

// The numeric values, names and sizes are stored in files and travel to
// peers: they must never change.
const TypeRow kRows[] = {
    {0, "-", false, false, 0, 0},
    {1, "BYTE", true, true, 1, 0},
    {2, "SBYTE", true, true, 1, 0},
    {3, "WORD", true, true, 2, 2},
    {4, "SWORD", true, true, 2, 2},
    {5, "DWORD", true, true, 4, 4},
    {6, "SDWORD", true, true, 4, 4},
    {7, "QWORD", false, false, 8, 8},
    {8, "SQWORD", false, false, 8, 8},
    {9, "FLOAT", true, true, 4, 4},
    {10, "DOUBLE", true, true, 8, 8},
    {11, "?", false, false, 0, 0},
    {12, "BIT", true, true, 1, 0},
    {13, "?", false, false, 0, 0},
    {14, "?", false, false, 0, 0},
    {15, "BOOL", true, true, 1, 0},
    {16, "ASCIIZ", true, true, 0, 0},
    {17, "SM2MCODE", false, true, 2, 2},
    {18, "FLOATVALID", false, true, 8, 4},
    {19, "SDWORDVALID", false, true, 8, 4},
    {20, "TIME_T32", false, true, 4, 4},
    {21, "FLOATSTATE", false, true, 8, 4},
    {22, "SDWORDSTATE", false, true, 8, 4},
    {23, "TIMEVAL", false, true, 8, 4},
    {24, "BLOBQSTRING", false, true, 0, 0},
    {25, "KIVALID", false, true, 4, 0},
    {26, "KISTATE", false, true, 4, 0},
    {27, "ERRCODEDWORD", false, true, 4, 0},
    {28, "TAVRIKDWORD", false, true, 4, 0},
    {29, "TAVRIKBYTE", false, true, 1, 0},
    {30, "FLOATERRCODE", false, true, 8, 0},
    {31, "SDWORDERRCODE", false, true, 8, 0},
    {32, "WORDDISCRETE", false, true, 2, 0},
    {33, "DTSFLOAT", false, true, 8, 0},
    {34, "DTSSDWORD", false, true, 8, 0},
    {35, "DTSSDWORDDISCRETE", false, true, 8, 0},
    {36, "SWORDERRCODE", false, true, 0, 0},
    {37, "ERRCODEWORD", false, true, 0, 0},
    {38, "TIMESPEC", false, true, 8, 0},
    {39, "TIMEWITHMSECS", false, true, 8, 0},
    {40, "DOUBLEDAYSECSUTC", false, true, 8, 0},
    {41, "DOUBLEDAYSECSLOCAL", false, true, 8, 0},
    {42, "DOUBLEVALID", false, true, 0, 0},
    {43, "TIMESPEC64", false, true, 16, 0},
};

class DataTypeTable : public ::testing::TestWithParam<TypeRow> {};

TEST_P(DataTypeTable, NameSizesAndParsing)
{
    const TypeRow r = GetParam();
    const DPDataType t = static_cast<DPDataType>(r.value);
    const QString name = QString::fromLatin1(r.name);
    EXPECT_EQ(DPDataTypeToString(t), name);
    EXPECT_EQ(DPDataTypeToString(r.value), name);
    EXPECT_EQ(DPDataTypeElementSize(r.value), r.elementSize);
    EXPECT_EQ(DPDataTypeInfoOf(r.value).swapUnit, r.swapUnit);
    EXPECT_EQ(StringToDPDataType(name, false), r.acceptedPlain ? t : dpdtNone);
    EXPECT_EQ(StringToDPDataType(name, true), r.acceptedExtended ? t : dpdtNone);
    EXPECT_EQ(StringToDPDataType(name.toLower(), true), r.acceptedExtended ? t : dpdtNone);
}

INSTANTIATE_TEST_SUITE_P(AllValues, DataTypeTable, ::testing::ValuesIn(kRows));

TEST(DataType, ValuesOutsideTheRangeHaveNoName)
{
    for (int value : {-1, 44, 45, 127, 255, 1000}) {
        EXPECT_EQ(DPDataTypeToString(value), QStringLiteral("?")) << value;
        EXPECT_EQ(DPDataTypeToString(static_cast<DPDataType>(value)), QStringLiteral("?")) << value;
        EXPECT_EQ(DPDataTypeElementSize(value), 0) << value;
    }
}

TEST(DataType, ParsingIgnoresCaseAndKnowsTheAlias)
{
    EXPECT_EQ(StringToDPDataType(QStringLiteral("floatvalid"), false), dpdtNone);
    EXPECT_EQ(StringToDPDataType(QStringLiteral("floatvalid"), true), dpdtFloatValid);
    EXPECT_EQ(StringToDPDataType(QStringLiteral("Dword"), false), dpdtDWord);
    EXPECT_EQ(StringToDPDataType(QStringLiteral("qword"), true), dpdtNone);
    EXPECT_EQ(StringToDPDataType(QStringLiteral("QString"), true), dpdtBlobQString);
    EXPECT_EQ(StringToDPDataType(QStringLiteral("QSTRING"), false), dpdtNone);
    EXPECT_EQ(StringToDPDataType(QStringLiteral("BLOBQSTRING"), true), dpdtBlobQString);
    EXPECT_EQ(StringToDPDataType(QString(), true), dpdtNone);
    EXPECT_EQ(StringToDPDataType(QStringLiteral("?"), true), dpdtNone);
    EXPECT_EQ(StringToDPDataType(QStringLiteral(" BYTE"), true), dpdtNone);
    EXPECT_EQ(StringToDPDataType(QStringLiteral("BYTES"), true), dpdtNone);
}

TEST(DataType, OnlyBasicTypesAreMarkedBasicAndSignedAsSpecified)
{
    QList<int> basic;
    QList<int> isSigned;
    for (int t = 0; t < DPDataTypeCount; ++t) {
        if (DPDataTypeInfoOf(t).basic)
            basic << t;
        if (DPDataTypeInfoOf(t).isSigned)
            isSigned << t;
    }
    EXPECT_EQ(basic, (QList<int>{0, 1, 2, 3, 4, 5, 6, 9, 10, 12, 15, 16}));
    EXPECT_EQ(isSigned, (QList<int>{2, 4, 6, 9, 10}));
    EXPECT_EQ(DPDataTypeInfoOf(dpdtDouble).templateSize, 8);
    EXPECT_EQ(DPDataTypeInfoOf(dpdtBit).templateSize, 1);
    EXPECT_EQ(DPDataTypeInfoOf(dpdtAsciiz).templateSize, 0);
}

TEST(DataTypeStream, OneSignedByte)
{
    QByteArray bytes;
    {
        QDataStream out(&bytes, QIODevice::WriteOnly);
        out << dpdtTimeSpec64 << dpdtByte << dpdtNone;
    }
    EXPECT_EQ(bytes, QByteArray("\x2b\x01\x00", 3));
}

TEST(DataTypeStream, ReadingRejectsValuesOutsideTheRange)
{
    const QByteArray bytes("\x2b\x2c\xff\x80\x0b", 5);
    QDataStream in(bytes);
    DPDataType t = dpdtByte;
    in >> t;
    EXPECT_EQ(t, dpdtTimeSpec64);
    in >> t;
    EXPECT_EQ(t, dpdtNone);
    t = dpdtByte;
    in >> t;
    EXPECT_EQ(t, dpdtNone);
    t = dpdtByte;
    in >> t;
    EXPECT_EQ(t, dpdtNone);
    in >> t;
    EXPECT_EQ(t, dpdtExtended); // reserved values in range are kept
    EXPECT_EQ(in.status(), QDataStream::Ok);
    t = dpdtByte;
    in >> t;
    EXPECT_EQ(t, dpdtNone);
    EXPECT_EQ(in.status(), QDataStream::ReadPastEnd);
}

TEST(SwapBytesInArray, ReversesEachElement)
{
    char eight[] = {1, 2, 3, 4, 5, 6, 7, 8};
    swapBytesInArray(eight, 4, 2);
    EXPECT_EQ(QByteArray(eight, 8), QByteArray("\x04\x03\x02\x01\x08\x07\x06\x05", 8));

    char three[] = {1, 2, 3, 9};
    swapBytesInArray(three, 3, 1);
    EXPECT_EQ(QByteArray(three, 4), QByteArray("\x03\x02\x01\x09", 4));

    char words[] = {1, 2, 3, 4, 5, 6};
    swapBytesInArray(words, 2, 2);
    EXPECT_EQ(QByteArray(words, 6), QByteArray("\x02\x01\x04\x03\x05\x06", 6));
}

TEST(SwapBytesInArray, DegenerateArgumentsChangeNothing)
{
    char data[] = {1, 2, 3, 4};
    const QByteArray before(data, 4);
    swapBytesInArray(data, 4, 0);
    swapBytesInArray(data, 4, -1);
    swapBytesInArray(data, 1, 4);
    swapBytesInArray(data, 0, 4);
    swapBytesInArray(data, -4, 1);
    swapBytesInArray(nullptr, 4, 1);
    EXPECT_EQ(QByteArray(data, 4), before);
}

TEST(DataTypeStruct, DefaultIsZeroed)
{
    const DPDataTypeStruct s;
    EXPECT_EQ(s.dataType, dpdtNone);
    EXPECT_EQ(s.metaType, dpdtNone);
    EXPECT_EQ(s.endian, 0);
    EXPECT_FALSE(s.reserved);
    EXPECT_EQ(s.bitOffset, 0);
    EXPECT_EQ(s.bitCount, 0);
    EXPECT_EQ(s.size, 0);
    EXPECT_EQ(s.offset, 0);
    EXPECT_FALSE(s.isSigned);
    EXPECT_FALSE(s.reverse);
}

TEST(DataType, EnumeratorsAre32Bits)
{
    EXPECT_EQ(sizeof(DPDataType), 4u);
    EXPECT_EQ(sizeof(DPReverseType), 4u);
    EXPECT_EQ(int(ReverseToLittle), 4);
}

} // namespace
