#ifndef CONVERSIONFUNCTIONS_H
#define CONVERSIONFUNCTIONS_H

#include "conversion/conversionelements.h"
#include "core/basetieparam.h"
#include "core/diag.h"

#include <cfloat>
#include <cmath>
#include <limits>
#include <type_traits>

// A conversion function: fills `consumer` from `provider` (which may be
// null). Returns -1 when the consumer has no writable storage, else 0.
using ConversionFunction = int (*)(const BaseTieParam *provider, BaseTieParam *consumer);

// The conversion functions. Each kind below is a function template over the
// source and target element types of conversionelements.h; all of them run
// the same skeleton, convertElements(), with the kind's element rule:
//   1. a consumer without writable storage: -1;
//   2. no provider, a provider without storage, or a provider whose unit
//      state is not 0: every consumer element invalid, 0;
//   3. elements 0..n-1 by the rule, n the smaller element count;
//   4. every further consumer element invalid, 0.
// Element counts are clamped to what the storages really hold, so no
// function reads or writes past a parameter's storage.
namespace conv {

// Debug output of the conversions is written at this level and above.
constexpr quint32 kTraceLevel = 3;

// The elements a parameter's storage really holds: its element count, but no
// more than fit into `storageBytes`.
inline size_t elementsIn(size_t count, size_t storageBytes, size_t elementBytes)
{
    const size_t fit = storageBytes / elementBytes;
    return count < fit ? count : fit;
}

// Per-element debug texts, "<kind>(): [i]: value is <source value>(0x<bits>), state =><written sign>".
void traceValue(const char *kind, size_t i, float v, int state);
void traceValue(const char *kind, size_t i, double v, int state);
void traceValue(const char *kind, size_t i, qint64 v, quint64 bits, int state);
void traceValue(const char *kind, size_t i, Instant v, int state);
void traceBytes(const char *kind, size_t i, const uchar *bytes, size_t count, int state);

template<typename V>
inline void traceElement(const char *kind, size_t i, const V &v, int state)
{
    if constexpr (std::is_same<V, float>::value || std::is_same<V, double>::value || std::is_same<V, Instant>::value) {
        traceValue(kind, i, v, state);
    } else if constexpr (std::is_integral<V>::value) {
        using U = typename std::make_unsigned<V>::type;
        traceValue(kind, i, static_cast<qint64>(v), static_cast<quint64>(static_cast<U>(v)), state);
    } else {
        traceBytes(kind, i, v.b, sizeof v.b, state);
    }
}

// The trace of most kinds: source value and the sign word written.
struct ValueTrace {
    template<typename S, typename O>
    void operator()(const char *kind, size_t i, const Read<S> &s, const Out<O> &, int state) const
    {
        traceElement(kind, i, s.value, state);
    }
};

// The invalid element of the target type.
template<typename Dst>
struct InvalidFill {
    void operator()(uchar *p, Invalid why) const { Dst::writeInvalid(p, why); }
};

// Value 0 with the target's invalid sign (plain targets: just 0).
template<typename Dst>
struct ZeroFill {
    void operator()(uchar *p, Invalid) const { Dst::write(p, Out<typename Dst::Value>{typename Dst::Value(0), false}); }
};

// The common skeleton of every conversion function. `rule` maps a source
// element {value, valid} to a target element; `fill` writes the elements
// that get no source; `trace` reports one converted element.
template<typename Src, typename Dst, typename Rule, typename Fill = InvalidFill<Dst>, typename Trace = ValueTrace>
int convertElements(const char *kind, const BaseTieParam *provider, BaseTieParam *consumer, Rule rule,
                    Fill fill = Fill(), Trace trace = Trace())
{
    const bool tracing = debugEnabled(kTraceLevel);
    uchar *dst = consumer ? consumer->valuesForWrite() : nullptr;
    if (!dst) {
        if (tracing)
            qDebug("%s(): dest NULL so return with error", kind);
        return -1;
    }
    const size_t dstCount = elementsIn(consumer->count(), consumer->size(), Dst::bytes);
    const uchar *src = nullptr;
    size_t n = 0;
    if (!provider) {
        if (tracing)
            qDebug("%s(): provider is NULL so invalidate result", kind);
    } else {
        src = provider->values();
        const qint32 state = provider->unitState();
        if (!src || state != 0) {
            if (tracing)
                qDebug("%s(): src (%p) is NULL or provider has error unitState (%i) so invalidate result", kind,
                       static_cast<const void *>(src), static_cast<int>(state));
            src = nullptr;
        } else {
            const size_t srcCount = elementsIn(provider->count(), provider->size(), Src::bytes);
            n = srcCount < dstCount ? srcCount : dstCount;
        }
    }
    if (!src) {
        for (size_t i = 0; i < dstCount; ++i)
            fill(dst + i * Dst::bytes, Invalid::Unusable);
        return 0;
    }
    if (Q_LIKELY(!tracing)) {
        for (size_t i = 0; i < n; ++i)
            Dst::write(dst + i * Dst::bytes, rule(Src::read(src + i * Src::bytes)));
    } else {
        for (size_t i = 0; i < n; ++i) {
            const auto s = Src::read(src + i * Src::bytes);
            const auto o = rule(s);
            Dst::write(dst + i * Dst::bytes, o);
            trace(kind, i, s, o, Dst::stateOf(o.valid));
        }
    }
    for (size_t i = n; i < dstCount; ++i) {
        if (tracing)
            qDebug("%s(): [%zu]: out of src index so invalidate result", kind, i);
        fill(dst + i * Dst::bytes, Invalid::BadSource);
    }
    return 0;
}

// Element rules, each written once and shared by the kinds that apply it.
namespace rule {

// True when `v`, truncated toward zero, fits into a signed 32-bit word
// (false for NaN and the infinities).
template<typename F>
inline bool fitsSDWord(F v)
{
    return static_cast<double>(v) > -2147483649.0 && static_cast<double>(v) < 2147483648.0;
}

// True when `v`, truncated toward zero, fits into a signed 16-bit word.
template<typename F>
inline bool fitsSWord(F v)
{
    return static_cast<double>(v) > -32769.0 && static_cast<double>(v) < 32768.0;
}

template<typename T>
inline bool isFinite(T v)
{
    return std::isfinite(v);
}

// Finite and within the range of a float.
inline bool fitsFloat(double v)
{
    return v >= -static_cast<double>(FLT_MAX) && v <= static_cast<double>(FLT_MAX);
}

// True when the integer `v` lies within the range of the integer type T,
// so that narrowing it keeps its value.
template<typename T, typename S>
constexpr bool fitsInt(S v)
{
    static_assert(std::is_integral<S>::value && std::is_integral<T>::value, "integers only");
    if constexpr (std::is_signed<S>::value) {
        if (v < 0) {
            if constexpr (std::is_signed<T>::value)
                return static_cast<qint64>(v) >= static_cast<qint64>(std::numeric_limits<T>::min());
            else
                return false;
        }
    }
    return static_cast<quint64>(v) <= static_cast<quint64>(std::numeric_limits<T>::max());
}

template<typename V>
inline Out<V> valid(V v)
{
    return {v, true};
}

template<typename V>
inline Out<V> invalid(V v)
{
    return {v, false};
}

// Any number as a float, valid.
template<typename S>
inline Out<float> asFloat(const Read<S> &s)
{
    return valid(static_cast<float>(s.value));
}

// A number that fits into 32 bits: truncated, valid; otherwise -1, invalid.
template<typename F>
inline Out<qint32> truncToSDWord(const Read<F> &s)
{
    return fitsSDWord(s.value) ? valid(static_cast<qint32>(s.value)) : invalid(qint32(-1));
}

// -1 marks an invalid source: 0.0, invalid; any other value as float, valid.
template<typename I>
inline Out<float> minusOneToFloat(const Read<I> &s)
{
    return s.value == I(-1) ? invalid(0.0f) : valid(static_cast<float>(s.value));
}

// 1 when |v| >= 0.5 and 0 otherwise, valid, for a number within 32 bits;
// otherwise 0, invalid.
template<typename F>
inline Out<qint32> discrete(const Read<F> &s)
{
    if (!fitsSDWord(s.value))
        return invalid(qint32(0));
    return valid(std::fabs(static_cast<double>(s.value)) >= 0.5 ? qint32(1) : qint32(0));
}

// The source value as float with the source's validity.
template<typename S>
inline Out<float> translatedFloat(const Read<S> &s)
{
    return {static_cast<float>(s.value), s.valid};
}

// The source integer sign-extended to 32 bits with the source's validity.
template<typename S>
inline Out<qint32> translatedSDWord(const Read<S> &s)
{
    return {static_cast<qint32>(s.value), s.valid};
}

} // namespace rule

// Same type on both sides: every element copied unchanged, sign words included.
template<typename T>
int anyTYPEtoTYPEconvert(const BaseTieParam *provider, BaseTieParam *consumer)
{
    using C = CopyOf<T>;
    return convertElements<C, C>("anyTYPEtoTYPEconvert", provider, consumer,
                                 [](const Read<typename C::Value> &s) { return rule::valid(s.value); },
                                 InvalidFill<T>());
}

// An integer source into a FLOAT target: the value as float.
template<typename Src, typename Dst>
int INTTYPEtoFloatConvert(const BaseTieParam *provider, BaseTieParam *consumer)
{
    return convertElements<Src, Dst>("INTTYPEtoFloatConvert", provider, consumer,
                                     [](const Read<typename Src::Value> &s) { return rule::asFloat(s); });
}

// FLOAT into SDWORD: truncated toward zero when it fits, else -1.
template<typename Src, typename Dst>
int floatToSDWordConvert(const BaseTieParam *provider, BaseTieParam *consumer)
{
    return convertElements<Src, Dst>("floatToSDWordConvert", provider, consumer,
                                     [](const Read<typename Src::Value> &s) { return rule::truncToSDWord(s); });
}

// SWORD into SBYTE: values within -128..127 copied, others the invalid
// pattern (every bit set).
template<typename Src, typename Dst>
int swordToSByteConvert(const BaseTieParam *provider, BaseTieParam *consumer)
{
    return convertElements<Src, Dst>("swordToSByteConvert", provider, consumer, [](const Read<typename Src::Value> &s) {
        return (s.value >= -128 && s.value <= 127) ? rule::valid(static_cast<qint8>(s.value))
                                                   : rule::invalid(allOnes<qint8>());
    });
}

// An integer into a float with sign: the value as float, valid.
template<typename Src, typename Dst>
int INTTYPEtoFloatWithStateSignConvert(const BaseTieParam *provider, BaseTieParam *consumer)
{
    return convertElements<Src, Dst>("INTTYPEtoFloatWithStateSignConvert", provider, consumer,
                                     [](const Read<typename Src::Value> &s) { return rule::asFloat(s); });
}

// An integer into a 32-bit integer with sign: values within 32 bits
// unchanged, valid; wider ones (DWORD, QWORD, SQWORD sources) -1, invalid.
template<typename Src, typename Dst>
int INTTYPEtoSDWordWithStateSignConvert(const BaseTieParam *provider, BaseTieParam *consumer)
{
    return convertElements<Src, Dst>("INTTYPEtoSDWordWithStateSignConvert", provider, consumer,
                                     [](const Read<typename Src::Value> &s) {
                                         return rule::fitsInt<qint32>(s.value) ? rule::valid(static_cast<qint32>(s.value))
                                                                               : rule::invalid(qint32(-1));
                                     });
}

// SWORD into a float with sign; -1 gives 0.0, invalid.
template<typename Src, typename Dst>
int minusOneInvalidINTTYPEtoFloatWithStateSignConvert(const BaseTieParam *provider, BaseTieParam *consumer)
{
    return convertElements<Src, Dst>("minusOneInvalidINTTYPEtoFloatWithStateSignConvert", provider, consumer,
                                     [](const Read<typename Src::Value> &s) { return rule::minusOneToFloat(s); });
}

// SDWORD into a float with sign; -1 gives 0.0, invalid.
template<typename Src, typename Dst>
int minusOneInvalidSdwordToFloatWithStateSignConvert(const BaseTieParam *provider, BaseTieParam *consumer)
{
    return convertElements<Src, Dst>("minusOneInvalidSdwordToFloatWithStateSignConvert", provider, consumer,
                                     [](const Read<typename Src::Value> &s) { return rule::minusOneToFloat(s); });
}

// SWORD into a 32-bit integer with sign; -1 stays -1 and is invalid.
template<typename Src, typename Dst>
int minusOneInvalidINTTYPEtoSDWordWithStateSignConvert(const BaseTieParam *provider, BaseTieParam *consumer)
{
    return convertElements<Src, Dst>("minusOneInvalidINTTYPEtoSDWordWithStateSignConvert", provider, consumer,
                                     [](const Read<typename Src::Value> &s) {
                                         const qint32 v = s.value;
                                         return v == -1 ? rule::invalid(v) : rule::valid(v);
                                     });
}

// SDWORD into a 32-bit integer with sign; -1 gives 0, invalid, and so do the
// elements without a source.
template<typename Src, typename Dst>
int minusOneInvalidSdwordToSDWordWithStateSignConvert(const BaseTieParam *provider, BaseTieParam *consumer)
{
    return convertElements<Src, Dst>("minusOneInvalidSdwordToSDWordWithStateSignConvert", provider, consumer,
                                     [](const Read<typename Src::Value> &s) {
                                         return s.value == -1 ? rule::invalid(qint32(0)) : rule::valid(s.value);
                                     },
                                     ZeroFill<Dst>());
}

// FLOAT into a float with sign: copied, valid.
template<typename Src, typename Dst>
int floatToFloatWithStateSignConvert(const BaseTieParam *provider, BaseTieParam *consumer)
{
    return convertElements<Src, Dst>("floatToFloatWithStateSignConvert", provider, consumer,
                                     [](const Read<typename Src::Value> &s) { return rule::valid(s.value); });
}

// FLOAT into a 32-bit integer with sign: truncated when it fits, else -1, invalid.
template<typename Src, typename Dst>
int floatToSDWordWithStateSignConvert(const BaseTieParam *provider, BaseTieParam *consumer)
{
    return convertElements<Src, Dst>("floatToSDWordWithStateSignConvert", provider, consumer,
                                     [](const Read<typename Src::Value> &s) { return rule::truncToSDWord(s); });
}

// FLOAT into DTSFLOAT: finite values copied, others -1.0 with status 1.
template<typename Src, typename Dst>
int floatToFiniteFloatWithStateSignConvert(const BaseTieParam *provider, BaseTieParam *consumer)
{
    return convertElements<Src, Dst>("floatToFiniteFloatWithStateSignConvert", provider, consumer,
                                     [](const Read<typename Src::Value> &s) {
                                         return rule::isFinite(s.value) ? rule::valid(s.value) : rule::invalid(-1.0f);
                                     });
}

// FLOAT into DTSSDWORDDISCRETE: 1 for |v| >= 0.5, else 0; out of 32 bits: 0, status 1.
template<typename Src, typename Dst>
int floatToDiscreteDWordWithStateSignConvert(const BaseTieParam *provider, BaseTieParam *consumer)
{
    return convertElements<Src, Dst>("floatToDiscreteDWordWithStateSignConvert", provider, consumer,
                                     [](const Read<typename Src::Value> &s) { return rule::discrete(s); });
}

// DOUBLE into a float with sign: values a float can hold, valid; others all
// bits set, invalid. Into DTSSDWORDDISCRETE the discrete rule instead.
template<typename Src, typename Dst>
int doubleToFloatWithStateSignConvert(const BaseTieParam *provider, BaseTieParam *consumer)
{
    return convertElements<Src, Dst>("doubleToFloatWithStateSignConvert", provider, consumer,
                                     [](const Read<typename Src::Value> &s) {
                                         if constexpr (std::is_same<Dst, DTSSDWordDiscrete>::value)
                                             return rule::discrete(s);
                                         else
                                             return rule::fitsFloat(s.value) ? rule::asFloat(s)
                                                                             : rule::invalid(allOnes<float>());
                                     });
}

// DOUBLE into a 32-bit integer with sign: truncated when it fits, else -1, invalid.
template<typename Src, typename Dst>
int doubleToSDWordWithStateSignConvert(const BaseTieParam *provider, BaseTieParam *consumer)
{
    return convertElements<Src, Dst>("doubleToSDWordWithStateSignConvert", provider, consumer,
                                     [](const Read<typename Src::Value> &s) { return rule::truncToSDWord(s); });
}

// A float with sign into FLOAT: valid values copied, invalid ones all bits set.
template<typename Src, typename Dst>
int floatWithStateSignTofloatConvert(const BaseTieParam *provider, BaseTieParam *consumer)
{
    return convertElements<Src, Dst>("floatWithStateSignTofloatConvert", provider, consumer,
                                     [](const Read<typename Src::Value> &s) {
                                         return s.valid ? rule::valid(s.value) : rule::invalid(allOnes<float>());
                                     });
}

// A float with sign into DOUBLE: valid values as double, invalid ones all bits set.
template<typename Src, typename Dst>
int floatWithStateSignToDoubleConvert(const BaseTieParam *provider, BaseTieParam *consumer)
{
    return convertElements<Src, Dst>("floatWithStateSignToDoubleConvert", provider, consumer,
                                     [](const Read<typename Src::Value> &s) {
                                         return s.valid ? rule::valid(static_cast<double>(s.value))
                                                        : rule::invalid(allOnes<double>());
                                     });
}

// A float with sign into SWORD or SDWORD: valid values within the target's
// range truncated toward zero, everything else -1.
template<typename Src, typename Dst>
int floatWithStateSignToINTTYPEConvert(const BaseTieParam *provider, BaseTieParam *consumer)
{
    using V = typename Dst::Value;
    static_assert(std::is_same<V, qint16>::value || std::is_same<V, qint32>::value, "SWORD or SDWORD targets");
    return convertElements<Src, Dst>("floatWithStateSignToINTTYPEConvert", provider, consumer,
                                     [](const Read<typename Src::Value> &s) {
                                         const bool fits = std::is_same<V, qint16>::value ? rule::fitsSWord(s.value)
                                                                                          : rule::fitsSDWord(s.value);
                                         return (s.valid && fits) ? rule::valid(static_cast<V>(s.value))
                                                                  : rule::invalid(V(-1));
                                     });
}

// A float with sign into a 32-bit integer with sign: truncated with the sign
// translated when it fits; otherwise -1, invalid.
template<typename Src, typename Dst>
int floatWithStateSignToSDWordWithStateSignConvert(const BaseTieParam *provider, BaseTieParam *consumer)
{
    return convertElements<Src, Dst>("floatWithStateSignToSDWordWithStateSignConvert", provider, consumer,
                                     [](const Read<typename Src::Value> &s) {
                                         return rule::fitsSDWord(s.value)
                                                    ? Out<qint32>{static_cast<qint32>(s.value), s.valid}
                                                    : rule::invalid(qint32(-1));
                                     });
}

// A float with sign into another float with sign: value copied, sign translated.
template<typename Src, typename Dst>
int floatWithStateSignToFloatWithStateSignConvert(const BaseTieParam *provider, BaseTieParam *consumer)
{
    return convertElements<Src, Dst>("floatWithStateSignToFloatWithStateSignConvert", provider, consumer,
                                     [](const Read<typename Src::Value> &s) { return rule::translatedFloat(s); });
}

// Reports the elements a finite-float rule rejected as "value is %f=>-1".
struct FiniteTrace {
    template<typename S, typename O>
    void operator()(const char *kind, size_t i, const Read<S> &s, const Out<O> &o, int state) const
    {
        if (o.valid)
            traceElement(kind, i, s.value, state);
        else
            qDebug("%s(): [%zu]: value is %f=>-1", kind, i, static_cast<double>(s.value));
    }
};

// A float with sign into DTSFLOAT: valid finite values copied with status 0,
// everything else -1.0 with status 1.
template<typename Src, typename Dst>
int floatWithStateSignToFiniteFloatWithStateSignConvert(const BaseTieParam *provider, BaseTieParam *consumer)
{
    return convertElements<Src, Dst>("floatWithStateSignToFiniteFloatWithStateSignConvert", provider, consumer,
                                     [](const Read<typename Src::Value> &s) {
                                         return (s.valid && rule::isFinite(s.value)) ? rule::valid(s.value)
                                                                                     : rule::invalid(-1.0f);
                                     },
                                     InvalidFill<Dst>(), FiniteTrace());
}

// A 32-bit integer with sign into FLOAT: valid values as float, invalid all bits set.
template<typename Src, typename Dst>
int sdwordWithStateSignTofloatConvert(const BaseTieParam *provider, BaseTieParam *consumer)
{
    return convertElements<Src, Dst>("sdwordWithStateSignTofloatConvert", provider, consumer,
                                     [](const Read<typename Src::Value> &s) {
                                         return s.valid ? rule::asFloat(s) : rule::invalid(allOnes<float>());
                                     });
}

// A 32-bit integer with sign into DOUBLE: valid values as double, invalid all bits set.
template<typename Src, typename Dst>
int sdwordWithStateSignToDoubleConvert(const BaseTieParam *provider, BaseTieParam *consumer)
{
    return convertElements<Src, Dst>("sdwordWithStateSignToDoubleConvert", provider, consumer,
                                     [](const Read<typename Src::Value> &s) {
                                         return s.valid ? rule::valid(static_cast<double>(s.value))
                                                        : rule::invalid(allOnes<double>());
                                     });
}

// A 32-bit integer with sign into SWORD: valid values within 16 bits
// unchanged; invalid or wider ones all bits set.
template<typename Src, typename Dst>
int sdwordWithStateSignToSWordConvert(const BaseTieParam *provider, BaseTieParam *consumer)
{
    return convertElements<Src, Dst>("sdwordWithStateSignToSWordConvert", provider, consumer,
                                     [](const Read<typename Src::Value> &s) {
                                         return (s.valid && rule::fitsInt<qint16>(s.value))
                                                    ? rule::valid(static_cast<qint16>(s.value))
                                                    : rule::invalid(allOnes<qint16>());
                                     });
}

// A 32-bit integer with sign into SDWORD: valid values unchanged, invalid all bits set.
template<typename Src, typename Dst>
int sdwordWithStateSignToSDWordConvert(const BaseTieParam *provider, BaseTieParam *consumer)
{
    return convertElements<Src, Dst>("sdwordWithStateSignToSDWordConvert", provider, consumer,
                                     [](const Read<typename Src::Value> &s) {
                                         return s.valid ? rule::valid(s.value) : rule::invalid(allOnes<qint32>());
                                     });
}

// A 32-bit integer with sign into QWORD or SQWORD: valid values sign-extended
// to 64 bits; invalid ones, those of an unusable provider and those without
// a source element all bits set, as in every plain target.
template<typename Src, typename Dst>
int SDWordWithStateSignToINTTYPEConvert(const BaseTieParam *provider, BaseTieParam *consumer)
{
    using V = typename Dst::Value;
    return convertElements<Src, Dst>("SDWordWithStateSignToINTTYPEConvert", provider, consumer,
                                     [](const Read<typename Src::Value> &s) {
                                         return s.valid ? rule::valid(static_cast<V>(static_cast<qint64>(s.value)))
                                                        : rule::invalid(allOnes<V>());
                                     });
}

// A 32-bit integer with sign into a float with sign: value as float, sign translated.
template<typename Src, typename Dst>
int sdwordWithStateSignToFloatWithStateSignConvert(const BaseTieParam *provider, BaseTieParam *consumer)
{
    return convertElements<Src, Dst>("sdwordWithStateSignToFloatWithStateSignConvert", provider, consumer,
                                     [](const Read<typename Src::Value> &s) { return rule::translatedFloat(s); });
}

// A 32-bit integer with sign into another: value unchanged, sign translated.
template<typename Src, typename Dst>
int sdwordWithStateSignToSDWordWithStateSignConvert(const BaseTieParam *provider, BaseTieParam *consumer)
{
    return convertElements<Src, Dst>("sdwordWithStateSignToSDWordWithStateSignConvert", provider, consumer,
                                     [](const Read<typename Src::Value> &s) { return rule::translatedSDWord(s); });
}

// A 32-bit integer with sign into SWORDERRCODE: values within 16 bits with
// the sign translated; wider ones -1, invalid.
template<typename Src, typename Dst>
int sdwordWithStateSignToSWordWithStateSignConvert(const BaseTieParam *provider, BaseTieParam *consumer)
{
    return convertElements<Src, Dst>("sdwordWithStateSignToSWordWithStateSignConvert", provider, consumer,
                                     [](const Read<typename Src::Value> &s) {
                                         return rule::fitsInt<qint16>(s.value)
                                                    ? Out<qint16>{static_cast<qint16>(s.value), s.valid}
                                                    : rule::invalid(qint16(-1));
                                     });
}

// A 32-bit integer with sign into DTSFLOAT: value as float, sign translated.
template<typename Src, typename Dst>
int sdwordWithStateSignToFiniteFloatWithStateSignConvert(const BaseTieParam *provider, BaseTieParam *consumer)
{
    return convertElements<Src, Dst>("sdwordWithStateSignToFiniteFloatWithStateSignConvert", provider, consumer,
                                     [](const Read<typename Src::Value> &s) { return rule::translatedFloat(s); });
}

// SWORDERRCODE into a float with sign: value as float, valid when the code is 0.
template<typename Src, typename Dst>
int swordErrCodeToFloatWithStateSignConvert(const BaseTieParam *provider, BaseTieParam *consumer)
{
    return convertElements<Src, Dst>("swordErrCodeToFloatWithStateSignConvert", provider, consumer,
                                     [](const Read<typename Src::Value> &s) { return rule::translatedFloat(s); });
}

// SWORDERRCODE into a 32-bit integer with sign: value sign-extended, valid when the code is 0.
template<typename Src, typename Dst>
int swordErrCodeToSDWordWithStateSignConvert(const BaseTieParam *provider, BaseTieParam *consumer)
{
    return convertElements<Src, Dst>("swordErrCodeToSDWordWithStateSignConvert", provider, consumer,
                                     [](const Read<typename Src::Value> &s) { return rule::translatedSDWord(s); });
}

// WORDDISCRETE into a float with sign: value as float, valid unless 0xFFFF.
template<typename Src, typename Dst>
int wordDiscreteToFloatWithStateSignConvert(const BaseTieParam *provider, BaseTieParam *consumer)
{
    return convertElements<Src, Dst>("wordDiscreteToFloatWithStateSignConvert", provider, consumer,
                                     [](const Read<typename Src::Value> &s) { return rule::translatedFloat(s); });
}

// WORDDISCRETE into a 32-bit integer with sign: zero-extended, valid unless 0xFFFF.
template<typename Src, typename Dst>
int wordDiscreteToSDWordWithStateSignConvert(const BaseTieParam *provider, BaseTieParam *consumer)
{
    return convertElements<Src, Dst>("wordDiscreteToSDWordWithStateSignConvert", provider, consumer,
                                     [](const Read<typename Src::Value> &s) { return rule::translatedSDWord(s); });
}

// WORDDISCRETE into DTSSDWORDDISCRETE: 0 and 1 copied with status 0, any
// other value 0 with status 1.
template<typename Src, typename Dst>
int wordDiscreteToDiscreteDWordWithStateSignConvert(const BaseTieParam *provider, BaseTieParam *consumer)
{
    return convertElements<Src, Dst>("wordDiscreteToDiscreteDWordWithStateSignConvert", provider, consumer,
                                     [](const Read<typename Src::Value> &s) {
                                         return s.value <= 1 ? rule::valid(static_cast<qint32>(s.value))
                                                             : rule::invalid(qint32(0));
                                     });
}

// Date/time pairs: every element converted through its instant.
template<typename Src, typename Dst>
int dataTimeTypesConvert(const BaseTieParam *provider, BaseTieParam *consumer)
{
    return convertElements<Src, Dst>("dataTimeTypesConvert", provider, consumer,
                                     [](const Read<Instant> &s) { return Out<Instant>{s.value, s.valid}; });
}

} // namespace conv

#endif // CONVERSIONFUNCTIONS_H
