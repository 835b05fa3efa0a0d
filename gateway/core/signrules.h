#ifndef SIGNRULES_H
#define SIGNRULES_H

#include <QtGlobal>

// The sign words that accompany the values of the valued data types: when
// an element counts as valid, and which word a conversion writes for a
// valid element, an invalid one, and one whose whole provider is unusable
// (missing, without storage, or in a unit whose state is not 0). The
// parameter's own validity (BaseTieParam::isValid) and the conversion
// functions both judge by these rules.
namespace sign {

// FLOATVALID, SDWORDVALID, KIVALID: valid when the word is 1.
struct ValidWord {
    using Word = quint32;
    static constexpr bool isValid(Word w) { return w == 1u; }
    static constexpr Word of(bool valid) { return valid ? 1u : 0u; }
    static constexpr Word unusable() { return 0u; }
};

// FLOATSTATE, SDWORDSTATE, KISTATE: valid while the state, taken unsigned,
// is below 7.
struct StateWord {
    using Word = quint32;
    static constexpr bool isValid(Word w) { return w < 7u; }
    static constexpr Word of(bool valid) { return valid ? 0u : 7u; }
    static constexpr Word unusable() { return 7u; }
};

// FLOATERRCODE, SDWORDERRCODE, ERRCODEDWORD (32-bit code), SWORDERRCODE and
// ERRCODEWORD (16-bit code): valid when the code is 0.
template<typename W>
struct ErrorCode {
    using Word = W;
    static constexpr bool isValid(Word w) { return w == 0; }
    static constexpr Word of(bool valid) { return valid ? Word(0) : Word(1); }
    static constexpr Word unusable() { return Word(1); }
};

// DTSFLOAT, DTSSDWORD, DTSSDWORDDISCRETE: valid when none of the status bits
// 0x60F is set. Status 1 marks a bad or missing source value, 2 an unusable
// provider (4 is what a reset writes, see the reset table of the traits).
struct StatusWord {
    using Word = quint32;
    static constexpr Word kInvalidBits = 0x60Fu;
    static constexpr bool isValid(Word w) { return (w & kInvalidBits) == 0; }
    static constexpr Word of(bool valid) { return valid ? 0u : 1u; }
    static constexpr Word unusable() { return 2u; }
};

// Discrete words (WORDDISCRETE; TAVRIKDWORD and TAVRIKBYTE read the same way).
//
// The two judgements differ on purpose. A parameter asked whether its
// element is valid (the output switch, the validity columns of output
// files) asks whether it is a discrete state, 0 or 1: anything else is no
// state of a two-valued signal. A conversion out of WORDDISCRETE hands the
// word itself to a consumer that keeps its own validity (a multi-state code
// into FLOATVALID or SDWORDSTATE, say), so there only 0xFFFF, the pattern a
// reset and an invalidating conversion write, marks the element invalid;
// the conversion into DTSSDWORDDISCRETE then narrows to 0 and 1 itself.
struct DiscreteWord {
    static constexpr quint16 kInvalid = 0xFFFFu;
    // A discrete state: 0 or 1.
    static constexpr bool isState(quint32 w) { return w < 2u; }
    // A discrete value a conversion carries: anything but the invalid pattern.
    static constexpr bool isValue(quint16 w) { return w != kInvalid; }
};

} // namespace sign

#endif // SIGNRULES_H
