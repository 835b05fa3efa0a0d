#include "core/paramtypetraits.h"

#include <dpdatatype.h>

namespace {

using V = ParamTypeTraits::Validity;
using R = ParamTypeTraits::Reset;
using C = ParamTypeTraits::ValueClass;

// validity, elementBytes, signOffset, signBytes, reset, resetBytes, valueClass, valueBytes
constexpr ParamTypeTraits kTraits[DPDataTypeCount] = {
    {V::Never,       0,  0, 0, R::Untouched,   0,  C::None,     0}, // 0 "-"
    {V::HasElement,  1,  0, 0, R::AllOnes,     1,  C::Unsigned, 1}, // 1 BYTE
    {V::HasElement,  1,  0, 0, R::AllOnes,     1,  C::Signed,   1}, // 2 SBYTE
    {V::HasElement,  2,  0, 0, R::AllOnes,     2,  C::Unsigned, 2}, // 3 WORD
    {V::HasElement,  2,  0, 0, R::AllOnes,     2,  C::Signed,   2}, // 4 SWORD
    {V::HasElement,  4,  0, 0, R::AllOnes,     4,  C::Unsigned, 4}, // 5 DWORD
    {V::HasElement,  4,  0, 0, R::AllOnes,     4,  C::Signed,   4}, // 6 SDWORD
    {V::HasElement,  8,  0, 0, R::AllOnes,     8,  C::Unsigned, 8}, // 7 QWORD
    {V::HasElement,  8,  0, 0, R::AllOnes,     8,  C::Signed,   8}, // 8 SQWORD
    {V::HasElement,  4,  0, 0, R::AllOnes,     4,  C::Float,    4}, // 9 FLOAT
    {V::HasElement,  8,  0, 0, R::AllOnes,     8,  C::Float,    8}, // 10 DOUBLE
    {V::HasElement,  16, 0, 0, R::AllOnes,     16, C::Float,    16}, // 11 extended precision
    {V::Always,      0,  0, 0, R::Untouched,   0,  C::None,     0}, // 12 BIT
    {V::Always,      0,  0, 0, R::Untouched,   0,  C::None,     0}, // 13
    {V::Always,      0,  0, 0, R::Untouched,   0,  C::None,     0}, // 14
    {V::HasElement,  1,  0, 0, R::Zero,        1,  C::Unsigned, 1}, // 15 BOOL
    {V::Never,       0,  0, 0, R::ZeroStorage, 0,  C::None,     0}, // 16 ASCIIZ
    {V::Never,       0,  0, 0, R::AllOnes,     2,  C::None,     0}, // 17 SM2MCODE
    {V::SignIsOne,   8,  4, 4, R::AllOnes,     8,  C::Float,    4}, // 18 FLOATVALID
    {V::SignIsOne,   8,  4, 4, R::AllOnes,     8,  C::Signed,   4}, // 19 SDWORDVALID
    {V::HasElement,  4,  0, 0, R::AllOnes,     4,  C::Unsigned, 4}, // 20 TIME_T32
    {V::StateBelow7, 8,  4, 4, R::AllOnes,     8,  C::Float,    4}, // 21 FLOATSTATE
    {V::StateBelow7, 8,  4, 4, R::AllOnes,     8,  C::Signed,   4}, // 22 SDWORDSTATE
    {V::HasElement,  8,  0, 0, R::AllOnes,     8,  C::None,     0}, // 23 TIMEVAL
    {V::Never,       0,  0, 0, R::Untouched,   0,  C::None,     0}, // 24 BLOBQSTRING
    {V::SignIsOne,   4,  0, 4, R::AllOnes,     4,  C::None,     0}, // 25 KIVALID
    {V::StateBelow7, 4,  0, 4, R::AllOnes,     4,  C::None,     0}, // 26 KISTATE
    {V::CodeIsZero,  4,  0, 4, R::AllOnes,     4,  C::None,     0}, // 27 ERRCODEDWORD
    {V::BelowTwo,    4,  0, 2, R::Untouched,   0,  C::None,     0}, // 28 TAVRIKDWORD: validity in the low half
    {V::BelowTwo,    1,  0, 1, R::AllOnes,     1,  C::None,     0}, // 29 TAVRIKBYTE
    {V::CodeIsZero,  8,  4, 4, R::AllOnes,     8,  C::Float,    4}, // 30 FLOATERRCODE
    {V::CodeIsZero,  8,  4, 4, R::AllOnes,     8,  C::Signed,   4}, // 31 SDWORDERRCODE
    {V::BelowTwo,    2,  0, 2, R::AllOnes,     2,  C::None,     0}, // 32 WORDDISCRETE
    {V::StatusClear, 8,  4, 4, R::DtsInvalid,  8,  C::None,     0}, // 33 DTSFLOAT
    {V::StatusClear, 8,  4, 4, R::DtsInvalid,  8,  C::None,     0}, // 34 DTSSDWORD
    {V::StatusClear, 8,  4, 4, R::DtsInvalid,  8,  C::None,     0}, // 35 DTSSDWORDDISCRETE
    {V::CodeIsZero,  4,  2, 2, R::AllOnes,     4,  C::None,     0}, // 36 SWORDERRCODE
    {V::CodeIsZero,  2,  0, 2, R::AllOnes,     2,  C::None,     0}, // 37 ERRCODEWORD
    {V::HasElement,  8,  0, 0, R::Untouched,   0,  C::None,     0}, // 38 TIMESPEC
    {V::Never,       0,  0, 0, R::Untouched,   0,  C::None,     0}, // 39 TIMEWITHMSECS
    {V::Never,       0,  0, 0, R::Untouched,   0,  C::None,     0}, // 40 DOUBLEDAYSECSUTC
    {V::Never,       0,  0, 0, R::Untouched,   0,  C::None,     0}, // 41 DOUBLEDAYSECSLOCAL
    {V::Never,       0,  0, 0, R::Untouched,   0,  C::None,     0}, // 42 DOUBLEVALID
    {V::HasElement,  16, 0, 0, R::Untouched,   0,  C::None,     0}, // 43 TIMESPEC64
};

constexpr ParamTypeTraits kUnknown = {V::Never, 0, 0, 0, R::Untouched, 0, C::None, 0};

} // namespace

const ParamTypeTraits &paramTypeTraits(quint32 type)
{
    return type < static_cast<quint32>(DPDataTypeCount) ? kTraits[type] : kUnknown;
}
