#ifndef CONVERSIONTESTSUPPORT_H
#define CONVERSIONTESTSUPPORT_H

#include "conversion/conversionregistry.h"
#include "core/diag.h"
#include "support/fixedclock.h"
#include "support/memoryparam.h"

#include <dpdatatype.h>

#include <QByteArray>

#include <gtest/gtest.h>

#include <cstring>

// The byte layout of one element of a data type, as the tests see it:
// a value of `valueBytes` (unsigned, signed or floating), followed by a
// sign word of `signBytes` (0 for plain types).
struct TypeLayout {
    int valueBytes;
    char kind; // 'u' unsigned, 'i' signed, 'f' floating, 'x' opaque
    int signBytes;
    int elementBytes() const { return valueBytes + signBytes; }
};

inline TypeLayout layoutOf(int type)
{
    switch (type) {
    case dpdtByte:
    case dpdtBool:
        return {1, 'u', 0};
    case dpdtSByte:
        return {1, 'i', 0};
    case dpdtWord:
    case dpdtWordDiscrete:
        return {2, 'u', 0};
    case dpdtSWord:
        return {2, 'i', 0};
    case dpdtDWord:
        return {4, 'u', 0};
    case dpdtSDWord:
        return {4, 'i', 0};
    case dpdtQWord:
        return {8, 'u', 0};
    case dpdtSQWord:
        return {8, 'i', 0};
    case dpdtFloat:
        return {4, 'f', 0};
    case dpdtDouble:
    case dpdtDoubleDaySecsUTC:
    case dpdtDoubleDaySecsLocal:
        return {8, 'f', 0};
    case dpdtFloatValid:
    case dpdtFloatState:
    case dpdtFloatErrCode:
    case dpdtDTSFloat:
        return {4, 'f', 4};
    case dpdtSDWordValid:
    case dpdtSDWordState:
    case dpdtSDWordErrCode:
    case dpdtDTSSDWord:
    case dpdtDTSSDWordDiscrete:
        return {4, 'i', 4};
    case dpdtSWordErrCode:
        return {2, 'i', 2};
    case dpdtTimeVal:
    case dpdtTimeSpec:
        return {8, 'x', 0};
    case dpdtTimeSpec64:
        return {16, 'x', 0};
    default:
        return {0, 'x', 0};
    }
}

// A number for an element's value: an integer, a real, or every bit set.
struct Num {
    enum Kind { Int, Real, Ones } kind;
    qint64 i;
    double d;
};

inline Num I(qint64 v) { return {Num::Int, v, 0.0}; }
inline Num R(double v) { return {Num::Real, 0, v}; }
inline const Num ONES = {Num::Ones, 0, 0.0};

// The bytes of one element of `type` holding `value` and sign word `sign`.
inline QByteArray encodeElement(int type, const Num &value, quint32 sign)
{
    const TypeLayout l = layoutOf(type);
    QByteArray bytes(l.elementBytes(), '\0');
    char *p = bytes.data();
    if (value.kind == Num::Ones) {
        std::memset(p, 0xFF, static_cast<size_t>(l.valueBytes));
    } else if (l.kind == 'f') {
        if (l.valueBytes == 4) {
            const float f = value.kind == Num::Real ? static_cast<float>(value.d) : static_cast<float>(value.i);
            std::memcpy(p, &f, 4);
        } else {
            const double d = value.kind == Num::Real ? value.d : static_cast<double>(value.i);
            std::memcpy(p, &d, 8);
        }
    } else {
        // Little-endian host: the low bytes of the 64-bit two's complement.
        const quint64 u = static_cast<quint64>(value.i);
        std::memcpy(p, &u, static_cast<size_t>(l.valueBytes));
    }
    if (l.signBytes == 4)
        std::memcpy(p + l.valueBytes, &sign, 4);
    else if (l.signBytes == 2) {
        const quint16 s = static_cast<quint16>(sign);
        std::memcpy(p + l.valueBytes, &s, 2);
    }
    return bytes;
}

// Hex text of bytes, for readable failure messages.
inline std::string hex(const QByteArray &bytes)
{
    return bytes.toHex(' ').toStdString();
}

// Sets the debug level for a scope and restores the previous one.
class ScopedDebugLevel
{
public:
    explicit ScopedDebugLevel(quint32 level) : m_previous(debugLevel()) { setDebugLevel(level); }
    ~ScopedDebugLevel() { setDebugLevel(m_previous); }

private:
    quint32 m_previous;
};

// A tie with one provider unit (direction 1, data just received) and one
// consumer unit (direction 2) on a fixed clock, and the program's registry
// filled. Parameters made here belong to their units.
class ConversionTest : public ::testing::Test
{
protected:
    ConversionTest()
        : clock(utc(2024, 5, 1, 12))
    {
        if (ConversionRegistry::global().size() == 0)
            ConversionRegistry::fillGlobal();
        providerUnit = new BaseTieUnit(&tie);
        providerUnit->setDirection(BaseTieUnit::dirFromThis);
        providerUnit->setLastReceived(clock.now());
        tie.addUnit(providerUnit);
        consumerUnit = new BaseTieUnit(&tie);
        consumerUnit->setDirection(BaseTieUnit::dirToThis);
        tie.addUnit(consumerUnit);
    }

    MemoryParam *makeParam(BaseTieUnit *unit, int type, size_t count)
    {
        auto *p = new MemoryParam(unit, static_cast<quint32>(type), count,
                                  static_cast<size_t>(layoutOf(type).elementBytes()));
        unit->addParam(p);
        return p;
    }
    MemoryParam *provider(int type, size_t count = 1) { return makeParam(providerUnit, type, count); }
    MemoryParam *consumer(int type, size_t count = 1) { return makeParam(consumerUnit, type, count); }

    // The registry's function for the pair; fails the test when there is none.
    static ConversionFunction function(int from, int to)
    {
        const ConversionFunction f = ConversionRegistry::lookup(static_cast<quint32>(from), static_cast<quint32>(to));
        EXPECT_NE(f, nullptr) << DPDataTypeToString(from).toStdString() << " -> " << DPDataTypeToString(to).toStdString();
        return f;
    }
    static int convert(const BaseTieParam *from, MemoryParam *to)
    {
        const ConversionFunction f = function(static_cast<int>(from ? from->metatype() : 0), static_cast<int>(to->metatype()));
        return f ? f(from, to) : -2;
    }
    static int convert(int fromType, const BaseTieParam *from, MemoryParam *to)
    {
        const ConversionFunction f = function(fromType, static_cast<int>(to->metatype()));
        return f ? f(from, to) : -2;
    }

    // Element `i` of `param` as bytes.
    static QByteArray element(MemoryParam *param, size_t i)
    {
        const int n = layoutOf(static_cast<int>(param->metatype())).elementBytes();
        return param->storage().mid(static_cast<int>(i) * n, n);
    }
    static void setElement(MemoryParam *param, size_t i, const Num &value, quint32 sign = 0)
    {
        const QByteArray e = encodeElement(static_cast<int>(param->metatype()), value, sign);
        param->storage().replace(static_cast<int>(i) * e.size(), e.size(), e);
    }

    FixedClock clock;
    TestTie tie;
    BaseTieUnit *providerUnit = nullptr;
    BaseTieUnit *consumerUnit = nullptr;
};

#endif // CONVERSIONTESTSUPPORT_H
