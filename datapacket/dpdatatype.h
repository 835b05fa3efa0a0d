#ifndef DPDATATYPE_H
#define DPDATATYPE_H

#include "korvadatapacket_export.h"

#include <QString>
#include <QtGlobal>

class QDataStream;

// The one enumeration of value types of the whole system. The numeric values
// travel in streams and stored packets and never change.
enum DPDataType : qint32 {
    dpdtNone = 0,                // "-": no data type (a structure node)
    dpdtByte = 1,
    dpdtSByte = 2,
    dpdtWord = 3,
    dpdtSWord = 4,
    dpdtDWord = 5,
    dpdtSDWord = 6,
    dpdtQWord = 7,
    dpdtSQWord = 8,
    dpdtFloat = 9,
    dpdtDouble = 10,
    dpdtExtended = 11,           // reserved: extended precision, no name
    dpdtBit = 12,
    dpdtReserved13 = 13,
    dpdtReserved14 = 14,
    dpdtBool = 15,
    dpdtAsciiz = 16,
    dpdtSM2MCode = 17,
    dpdtFloatValid = 18,
    dpdtSDWordValid = 19,
    dpdtTimeT32 = 20,
    dpdtFloatState = 21,
    dpdtSDWordState = 22,
    dpdtTimeVal = 23,
    dpdtBlobQString = 24,
    dpdtKIValid = 25,
    dpdtKIState = 26,
    dpdtErrCodeDWord = 27,
    dpdtTavrikDWord = 28,
    dpdtTavrikByte = 29,
    dpdtFloatErrCode = 30,
    dpdtSDWordErrCode = 31,
    dpdtWordDiscrete = 32,
    dpdtDTSFloat = 33,
    dpdtDTSSDWord = 34,
    dpdtDTSSDWordDiscrete = 35,
    dpdtSWordErrCode = 36,
    dpdtErrCodeWord = 37,
    dpdtTimeSpec = 38,
    dpdtTimeWithMsecs = 39,
    dpdtDoubleDaySecsUTC = 40,
    dpdtDoubleDaySecsLocal = 41,
    dpdtDoubleValid = 42,
    dpdtTimeSpec64 = 43
};

// Number of values the one-byte stream form accepts (0..43).
constexpr int DPDataTypeCount = 44;

// Everything the system knows about one data type, kept in one table.
struct DPDataTypeInfo {
    const char *name;      // string form; "?" for unnamed values
    bool basic;            // may stand in a template's datatype attribute
    bool extendedOnly;     // StringToDPDataType accepts the name only when extended
    bool nameAccepted;     // StringToDPDataType accepts the name at all
    int templateSize;      // bytes a template node gets; 0 when from size/children or not basic
    int swapUnit;          // element width for byte reversal; 0 = none
    int elementSize;       // bytes of one value element of a gateway parameter; 0 = no storage
    bool isSigned;         // signed or floating value (node descriptors)
};

// The table row of `type`; values outside 0..43 get the row of an unnamed type.
KORVADATAPACKET_EXPORT const DPDataTypeInfo &DPDataTypeInfoOf(int type);

// Size in bytes of one value element of a gateway parameter of `type`
// (0 for every type without storage and every value outside 1..43).
KORVADATAPACKET_EXPORT int DPDataTypeElementSize(int type);

// Name of `t`: "-" for 0, "?" for a value without a name.
KORVADATAPACKET_EXPORT QString DPDataTypeToString(DPDataType t);
KORVADATAPACKET_EXPORT QString DPDataTypeToString(int t);

// The enumerator named by `s` (letter case ignored), or 0 when `s` names
// none. Names from 17 on (and the alias "QSTRING") only when `extended`;
// "QWORD", "SQWORD" and "-" never.
KORVADATAPACKET_EXPORT DPDataType StringToDPDataType(const QString &s, bool extended);

// One-byte stream form: written as a signed 8-bit integer; on reading, a byte
// value of 44 or more gives 0.
KORVADATAPACKET_EXPORT QDataStream &operator<<(QDataStream &out, const DPDataType &t);
KORVADATAPACKET_EXPORT QDataStream &operator>>(QDataStream &in, DPDataType &t);

// Selects which nodes a byte reversal touches.
enum DPReverseType : qint32 {
    ReverseNone = 0,     // nothing changes
    ReverseAll = 1,      // every multi-byte node
    ReverseMarked = 2,   // only nodes whose reverse flag is set
    ReverseToBig = 3,    // as ReverseAll (the host is little-endian)
    ReverseToLittle = 4  // as ReverseNone
};

// Type descriptor of one packet node.
struct KORVADATAPACKET_EXPORT DPDataTypeStruct {
    DPDataTypeStruct();

    DPDataType dataType;  // storage type: a basic type or 0
    DPDataType metaType;  // meaning of the bytes; equals dataType unless a metatype is given
    qint32 endian;        // 0 ignore byte order, 1 big-endian, 2 little-endian
    bool reserved;        // always false
    qint64 bitOffset;     // bit number within the byte at offset (BIT nodes)
    qint64 bitCount;      // 1 for BIT nodes, else 0
    qint64 size;          // bytes
    qint64 offset;        // bytes from the start of the packet buffer
    bool isSigned;        // SBYTE, SWORD, SDWORD, FLOAT, DOUBLE
    bool reverse;         // stored in the byte order opposite to the host's
};

// Reverses in place the byte order of each of `count` consecutive elements of
// `elementSize` bytes at `data`. Nothing happens for a count below 1 or an
// element size of 1 or less.
KORVADATAPACKET_EXPORT void swapBytesInArray(char *data, int elementSize, int count);

#endif // DPDATATYPE_H
