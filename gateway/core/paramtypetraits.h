#ifndef PARAMTYPETRAITS_H
#define PARAMTYPETRAITS_H

#include <QtGlobal>

#include <cstddef>

// How the gateway judges, resets and classifies the elements of a parameter,
// per data type: one table, read by the parameter's validity and reset and by
// the output switch.
struct ParamTypeTraits {
    // What makes element i valid (the word rules are those of core/signrules.h).
    enum class Validity : quint8 {
        Never,        // every other type: invalid
        Always,       // BIT and the reserved values 13, 14
        HasElement,   // the storage holds element i
        SignIsOne,    // sign::ValidWord: the sign word equals 1
        StateBelow7,  // sign::StateWord: the state word, unsigned, is at most 6
        CodeIsZero,   // sign::ErrorCode: the error code is 0
        StatusClear,  // sign::StatusWord: none of the status bits 0x60F is set
        BelowTwo      // sign::DiscreteWord::isState: the discrete word is 0 or 1
    };
    // What a reset writes into every element.
    enum class Reset : quint8 {
        Untouched,    // the storage keeps its bytes
        AllOnes,      // every byte of the element 0xFF
        Zero,         // every byte 0
        ZeroStorage,  // the whole storage zeroed
        DtsInvalid    // 32-bit value 0, then 32-bit status 4
    };
    // How element 0 is classified by the output switch.
    enum class ValueClass : quint8 {
        None,         // no value class: the invalid bit decides
        Unsigned,
        Signed,
        Float         // NaN, infinity, zero, sign
    };

    Validity validity;
    quint8 elementBytes;  // stride of the elements validity reads
    quint8 signOffset;    // byte offset of the word validity tests within an element
    quint8 signBytes;     // width of that word (1, 2 or 4)
    Reset reset;
    quint8 resetBytes;    // bytes a reset writes per element
    ValueClass valueClass;
    quint8 valueBytes;    // width of the classified value (the first word of the element)
};

// The traits of data type `type` (a DPDataType value); unknown values get
// the row of a type that is never valid and never reset.
const ParamTypeTraits &paramTypeTraits(quint32 type);

#endif // PARAMTYPETRAITS_H
