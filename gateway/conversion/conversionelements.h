#ifndef CONVERSIONELEMENTS_H
#define CONVERSIONELEMENTS_H

#include "core/signrules.h"
#include "core/timeencoding.h"

#include <QtGlobal>

#include <cstddef>
#include <cstring>

// The element layouts the conversion functions read and write, one small
// type per data type. Every element type offers:
//   Value                      the value a rule works with
//   bytes                      the element's size in the parameter's storage
//   read(p)                    the element at p as {value, valid}
//   write(p, out)              writes {value, valid} at p (plain types ignore valid)
//   writeInvalid(p, why)       writes the type's invalid element at p
//   stateOf(valid)             the sign word written for that validity (traces only)
// Storage is accessed through memcpy, so elements may sit at any alignment
// (definition areas place them at arbitrary byte offsets).
namespace conv {

// Why an element is written invalid: its source element is bad or missing,
// or the whole provider is unusable (missing, without storage, or its unit
// state is not 0). Only the status-word types tell the two apart.
enum class Invalid { BadSource, Unusable };

// A source element as read.
template<typename V>
struct Read {
    V value;
    bool valid;
};

// A target element as a rule produced it.
template<typename V>
struct Out {
    V value;
    bool valid;
};

template<typename T>
inline T load(const uchar *p)
{
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

template<typename T>
inline void store(uchar *p, const T &v)
{
    std::memcpy(p, &v, sizeof v);
}

// A value with every bit set (a NaN for float and double).
template<typename T>
inline T allOnes()
{
    T v;
    std::memset(&v, 0xFF, sizeof v);
    return v;
}

// An instant in milliseconds since 1970-01-01 00:00 UTC: the value the
// date/time element types exchange.
struct Instant {
    qint64 msecs;
};

// Plain numbers: always valid; invalid means every bit set.
template<typename V>
struct Plain {
    using Value = V;
    static constexpr size_t bytes = sizeof(V);
    static Read<V> read(const uchar *p) { return {load<V>(p), true}; }
    static void write(uchar *p, const Out<V> &o) { store(p, o.value); }
    static void writeInvalid(uchar *p, Invalid) { store(p, allOnes<V>()); }
    static int stateOf(bool valid) { return valid ? 1 : 0; }
};

// The sign words that follow the value of the valued types: the same rules
// by which a parameter judges its own elements.
using sign::ErrorCode;
using sign::StateWord;
using sign::StatusWord;
using sign::ValidWord;

// The value an invalid element of a valued type carries.
struct AllOnesValue {
    template<typename V>
    static V get() { return allOnes<V>(); }
};

struct MinusOneValue {
    template<typename V>
    static V get() { return V(-1); }
};

struct ZeroValue {
    template<typename V>
    static V get() { return V(0); }
};

// A value followed by its sign word, packed without padding.
template<typename V, typename Sign, typename InvalidValue = AllOnesValue>
struct WithSign {
    using Value = V;
    using SignWord = typename Sign::Word;
    struct Layout {
        V value;
        SignWord word;
    };
    static_assert(sizeof(Layout) == sizeof(V) + sizeof(SignWord), "valued elements are packed");
    static constexpr size_t bytes = sizeof(Layout);

    static Read<V> read(const uchar *p)
    {
        const Layout l = load<Layout>(p);
        return {l.value, Sign::isValid(l.word)};
    }
    static void write(uchar *p, const Out<V> &o) { store(p, Layout{o.value, Sign::of(o.valid)}); }
    static void writeInvalid(uchar *p, Invalid why)
    {
        store(p, Layout{InvalidValue::template get<V>(), why == Invalid::Unusable ? Sign::unusable() : Sign::of(false)});
    }
    static int stateOf(bool valid) { return static_cast<int>(Sign::of(valid)); }
};

// A 16-bit discrete value; only 0xFFFF marks it invalid here (see
// sign::DiscreteWord for why a parameter's own validity is stricter).
struct WordDiscrete {
    using Value = quint16;
    static constexpr size_t bytes = 2;
    static Read<quint16> read(const uchar *p)
    {
        const quint16 v = load<quint16>(p);
        return {v, sign::DiscreteWord::isValue(v)};
    }
    static void write(uchar *p, const Out<quint16> &o) { store(p, o.valid ? o.value : sign::DiscreteWord::kInvalid); }
    static void writeInvalid(uchar *p, Invalid) { store(p, sign::DiscreteWord::kInvalid); }
    static int stateOf(bool valid) { return valid ? 1 : 0; }
};

// Whole elements of T, copied byte for byte (sign words unchanged).
template<typename T>
struct CopyOf {
    struct Value {
        uchar b[T::bytes];
    };
    static constexpr size_t bytes = T::bytes;
    static Read<Value> read(const uchar *p) { return {load<Value>(p), true}; }
    static void write(uchar *p, const Out<Value> &o) { store(p, o.value); }
    static void writeInvalid(uchar *p, Invalid why) { T::writeInvalid(p, why); }
    static int stateOf(bool valid) { return valid ? 1 : 0; }
};

using timeenc::floorDiv;
using timeenc::floorMod;

// Date/time elements: invalid means all bytes zero. A source element whose
// instant cannot be represented reads as invalid; a target that cannot hold
// the instant is written invalid rather than wrapped.
struct DateTimeElement {
    using Value = Instant;
    static int stateOf(bool valid) { return valid ? 1 : 0; }
};

template<size_t N>
struct ZeroedElement : DateTimeElement {
    static constexpr size_t bytes = N;
    static void writeInvalid(uchar *p, Invalid) { std::memset(p, 0, N); }
};

// An element in one of the shared time encodings (core/timeencoding.h).
template<typename Encoding>
struct EncodedTime : ZeroedElement<Encoding::bytes> {
    static Read<Instant> read(const uchar *p)
    {
        qint64 ms = 0;
        if (!Encoding::read(p, &ms))
            return {{0}, false};
        return {{ms}, true};
    }
    static void write(uchar *p, const Out<Instant> &o)
    {
        if (!o.valid || !Encoding::write(p, o.value.msecs))
            std::memset(p, 0, Encoding::bytes);
    }
};

using TimeVal = EncodedTime<timeenc::SecondsMicros>;
using TimeSpec = EncodedTime<timeenc::SecondsNanos>;
using TimeSpec64 = EncodedTime<timeenc::SecondsNanos64>;
// A DWORD target of a date/time source: seconds since 1970 (UTC).
using TimeAsDWord = EncodedTime<timeenc::UnixSeconds32>;

// Local-time helpers (they consult the process's time zone); false when the
// instant has no local date-time.
bool daysSince1899Local(qint64 msecs, double *days);
bool secondsOfLocalDay(qint64 msecs, double *secs);

// A double computed from the local time of the instant by `local`; zero
// when the instant is invalid or has no local time.
template<bool (*local)(qint64, double *)>
struct LocalTimeDouble : ZeroedElement<8> {
    static void write(uchar *p, const Out<Instant> &o)
    {
        double v = 0.0;
        if (!o.valid || !local(o.value.msecs, &v))
            v = 0.0;
        store(p, v);
    }
};

// A DOUBLE target of a date/time source: days since 1899-12-30 00:00 local time.
using TimeAsDays = LocalTimeDouble<daysSince1899Local>;
// Seconds since local midnight, milliseconds as the fraction.
using DaySecsLocal = LocalTimeDouble<secondsOfLocalDay>;

// Seconds since midnight UTC, milliseconds as the fraction.
struct DaySecsUtc : ZeroedElement<8> {
    static void write(uchar *p, const Out<Instant> &o)
    {
        const double secs = o.valid ? static_cast<double>(floorMod(o.value.msecs, 86400000)) / 1000.0 : 0.0;
        store(p, secs);
    }
};

using Byte = Plain<quint8>;
using SByte = Plain<qint8>;
using Word = Plain<quint16>;
using SWord = Plain<qint16>;
using DWord = Plain<quint32>;
using SDWord = Plain<qint32>;
using QWord = Plain<quint64>;
using SQWord = Plain<qint64>;
using Float = Plain<float>;
using Double = Plain<double>;
using Bool = Plain<quint8>;

using FloatValid = WithSign<float, ValidWord>;
using SDWordValid = WithSign<qint32, ValidWord>;
using FloatState = WithSign<float, StateWord>;
using SDWordState = WithSign<qint32, StateWord>;
using FloatErrCode = WithSign<float, ErrorCode<quint32>>;
using SDWordErrCode = WithSign<qint32, ErrorCode<quint32>>;
// 16-bit value in the low half, 16-bit error code in the high half.
using SWordErrCode = WithSign<qint16, ErrorCode<quint16>>;
using DTSFloat = WithSign<float, StatusWord, MinusOneValue>;
using DTSSDWord = WithSign<qint32, StatusWord, MinusOneValue>;
using DTSSDWordDiscrete = WithSign<qint32, StatusWord, ZeroValue>;

} // namespace conv

#endif // CONVERSIONELEMENTS_H
