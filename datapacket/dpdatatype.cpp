#include "dpdatatype.h"

#include <QDataStream>

#include <algorithm>

namespace {

// name, basic, extendedOnly, nameAccepted, templateSize, swapUnit, elementSize, isSigned
constexpr DPDataTypeInfo kTypes[DPDataTypeCount] = {
    {"-",                  true,  false, false, 0, 0, 0,  false}, // 0
    {"BYTE",               true,  false, true,  1, 0, 1,  false}, // 1
    {"SBYTE",              true,  false, true,  1, 0, 1,  true},  // 2
    {"WORD",               true,  false, true,  2, 2, 2,  false}, // 3
    {"SWORD",              true,  false, true,  2, 2, 2,  true},  // 4
    {"DWORD",              true,  false, true,  4, 4, 4,  false}, // 5
    {"SDWORD",             true,  false, true,  4, 4, 4,  true},  // 6
    {"QWORD",              false, false, false, 0, 8, 8,  false}, // 7
    {"SQWORD",             false, false, false, 0, 8, 8,  false}, // 8
    {"FLOAT",              true,  false, true,  4, 4, 4,  true},  // 9
    {"DOUBLE",             true,  false, true,  8, 8, 8,  true},  // 10
    {"?",                  false, false, false, 0, 0, 0,  false}, // 11
    {"BIT",                true,  false, true,  1, 0, 1,  false}, // 12
    {"?",                  false, false, false, 0, 0, 0,  false}, // 13
    {"?",                  false, false, false, 0, 0, 0,  false}, // 14
    {"BOOL",               true,  false, true,  1, 0, 1,  false}, // 15
    {"ASCIIZ",             true,  false, true,  0, 0, 0,  false}, // 16
    {"SM2MCODE",           false, true,  true,  0, 2, 2,  false}, // 17
    {"FLOATVALID",         false, true,  true,  0, 4, 8,  false}, // 18
    {"SDWORDVALID",        false, true,  true,  0, 4, 8,  false}, // 19
    {"TIME_T32",           false, true,  true,  0, 4, 4,  false}, // 20
    {"FLOATSTATE",         false, true,  true,  0, 4, 8,  false}, // 21
    {"SDWORDSTATE",        false, true,  true,  0, 4, 8,  false}, // 22
    {"TIMEVAL",            false, true,  true,  0, 4, 8,  false}, // 23
    {"BLOBQSTRING",        false, true,  true,  0, 0, 0,  false}, // 24
    {"KIVALID",            false, true,  true,  0, 0, 4,  false}, // 25
    {"KISTATE",            false, true,  true,  0, 0, 4,  false}, // 26
    {"ERRCODEDWORD",       false, true,  true,  0, 0, 4,  false}, // 27
    {"TAVRIKDWORD",        false, true,  true,  0, 0, 4,  false}, // 28
    {"TAVRIKBYTE",         false, true,  true,  0, 0, 1,  false}, // 29
    {"FLOATERRCODE",       false, true,  true,  0, 0, 8,  false}, // 30
    {"SDWORDERRCODE",      false, true,  true,  0, 0, 8,  false}, // 31
    {"WORDDISCRETE",       false, true,  true,  0, 0, 2,  false}, // 32
    {"DTSFLOAT",           false, true,  true,  0, 0, 8,  false}, // 33
    {"DTSSDWORD",          false, true,  true,  0, 0, 8,  false}, // 34
    {"DTSSDWORDDISCRETE",  false, true,  true,  0, 0, 8,  false}, // 35
    {"SWORDERRCODE",       false, true,  true,  0, 0, 0,  false}, // 36
    {"ERRCODEWORD",        false, true,  true,  0, 0, 0,  false}, // 37
    {"TIMESPEC",           false, true,  true,  0, 0, 8,  false}, // 38
    {"TIMEWITHMSECS",      false, true,  true,  0, 0, 8,  false}, // 39
    {"DOUBLEDAYSECSUTC",   false, true,  true,  0, 0, 8,  false}, // 40
    {"DOUBLEDAYSECSLOCAL", false, true,  true,  0, 0, 8,  false}, // 41
    {"DOUBLEVALID",        false, true,  true,  0, 0, 0,  false}, // 42
    {"TIMESPEC64",         false, true,  true,  0, 0, 16, false}, // 43
};

// Row used for every value outside the enumeration.
constexpr DPDataTypeInfo kUnnamed = {"?", false, false, false, 0, 0, 0, false};

// An alias accepted by StringToDPDataType besides the table's names.
constexpr const char *kBlobAlias = "QSTRING";

} // namespace

const DPDataTypeInfo &DPDataTypeInfoOf(int type)
{
    if (type < 0 || type >= DPDataTypeCount)
        return kUnnamed;
    return kTypes[type];
}

int DPDataTypeElementSize(int type)
{
    return DPDataTypeInfoOf(type).elementSize;
}

QString DPDataTypeToString(DPDataType t)
{
    return QString::fromLatin1(DPDataTypeInfoOf(t).name);
}

QString DPDataTypeToString(int t)
{
    return QString::fromLatin1(DPDataTypeInfoOf(t).name);
}

DPDataType StringToDPDataType(const QString &s, bool extended)
{
    if (s.isEmpty())
        return dpdtNone;
    const QByteArray upper = s.toUpper().toLatin1();
    if (extended && upper == kBlobAlias)
        return dpdtBlobQString;
    for (int t = 1; t < DPDataTypeCount; ++t) {
        const DPDataTypeInfo &info = kTypes[t];
        if (!info.nameAccepted || (info.extendedOnly && !extended))
            continue;
        if (upper == info.name)
            return static_cast<DPDataType>(t);
    }
    return dpdtNone;
}

QDataStream &operator<<(QDataStream &out, const DPDataType &t)
{
    out << static_cast<qint8>(t);
    return out;
}

QDataStream &operator>>(QDataStream &in, DPDataType &t)
{
    qint8 raw = 0;
    in >> raw;
    const quint8 value = static_cast<quint8>(raw);
    t = value < DPDataTypeCount ? static_cast<DPDataType>(value) : dpdtNone;
    return in;
}

DPDataTypeStruct::DPDataTypeStruct()
    : dataType(dpdtNone)
    , metaType(dpdtNone)
    , endian(0)
    , reserved(false)
    , bitOffset(0)
    , bitCount(0)
    , size(0)
    , offset(0)
    , isSigned(false)
    , reverse(false)
{
}

void swapBytesInArray(char *data, int elementSize, int count)
{
    if (!data || count < 1 || elementSize <= 1)
        return;
    for (int i = 0; i < count; ++i) {
        char *element = data + static_cast<qptrdiff>(i) * elementSize;
        std::reverse(element, element + elementSize);
    }
}
