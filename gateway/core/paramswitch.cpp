#include "core/paramswitch.h"

#include "core/basetieparam.h"
#include "core/diag.h"
#include "core/paramtypetraits.h"

#include <cmath>
#include <cstring>

namespace {

template<typename T>
quint64 classifyInteger(const uchar *p)
{
    T v;
    std::memcpy(&v, p, sizeof v);
    if (v == 0)
        return ParamSwitch::tscZero;
    return v < 0 ? ParamSwitch::tscMinus : ParamSwitch::tscPlus;
}

template<typename T>
quint64 classifyUnsigned(const uchar *p)
{
    T v;
    std::memcpy(&v, p, sizeof v);
    return v == 0 ? ParamSwitch::tscZero : ParamSwitch::tscPlus;
}

template<typename T>
quint64 classifyFloat(const uchar *p)
{
    T v;
    std::memcpy(&v, p, sizeof v);
    if (std::isnan(v))
        return ParamSwitch::tscNaN;
    if (std::isinf(v))
        return ParamSwitch::tscInfinite;
    if (v == 0)
        return ParamSwitch::tscZero;
    return v < 0 ? ParamSwitch::tscMinus : ParamSwitch::tscPlus;
}

} // namespace

ParamSwitch::ParamSwitch()
    : m_switchParam(nullptr)
    , m_switchCondition(tscAll)
    , m_switchType(tstOpenAlways)
{
}

quint64 ParamSwitch::valueClass(const BaseTieParam *param)
{
    if (!param || !param->isValid(0))
        return tscInvalid;
    const uchar *p = param->values();
    const ParamTypeTraits &traits = paramTypeTraits(param->metatype());
    if (!p || param->size() < traits.valueBytes)
        return tscInvalid;
    using C = ParamTypeTraits::ValueClass;
    switch (traits.valueClass) {
    case C::Unsigned:
        switch (traits.valueBytes) {
        case 1: return classifyUnsigned<quint8>(p);
        case 2: return classifyUnsigned<quint16>(p);
        case 4: return classifyUnsigned<quint32>(p);
        case 8: return classifyUnsigned<quint64>(p);
        }
        break;
    case C::Signed:
        switch (traits.valueBytes) {
        case 1: return classifyInteger<qint8>(p);
        case 2: return classifyInteger<qint16>(p);
        case 4: return classifyInteger<qint32>(p);
        case 8: return classifyInteger<qint64>(p);
        }
        break;
    case C::Float:
        switch (traits.valueBytes) {
        case 4: return classifyFloat<float>(p);
        case 8: return classifyFloat<double>(p);
        case 16: return classifyFloat<long double>(p);
        }
        break;
    case C::None:
        break;
    }
    return tscInvalid;
}

bool ParamSwitch::isOpen() const
{
    GATE_DEBUG(4, "ParamSwitch::isOpen(): switchParam = %p (%s), switchCondition = 0x%llX, switchType = 0x%X ",
               static_cast<const void *>(m_switchParam),
               m_switchParam ? qUtf8Printable(m_switchParam->description()) : "-",
               static_cast<unsigned long long>(m_switchCondition), static_cast<unsigned>(m_switchType));
    if (!m_switchParam) {
        GATE_DEBUG(5, "  switchParam is NULL - Always open");
        return true;
    }
    if (m_switchType == tstWrong || m_switchType == tstOpenAlways) {
        GATE_DEBUG(5, "  switchType is %s - Always open", m_switchType == tstWrong ? "Wrong" : "OpenAlways");
        return true;
    }
    if (m_switchType == tstLock) {
        GATE_DEBUG(5, "  switchType is Lock - Always closed");
        return false;
    }
    if (m_switchCondition == tscWrong || m_switchCondition == tscAll) {
        GATE_DEBUG(5, "  switchCondition is %s - Always open", m_switchCondition == tscWrong ? "Wrong" : "All");
        return true;
    }
    if (m_switchCondition == tscNone) {
        GATE_DEBUG(5, "  switchCondition is None - Always closed");
        return false;
    }
    bool holds;
    if (!m_switchParam->isValid(0)) {
        holds = (m_switchCondition & tscInvalid) != 0;
        GATE_DEBUG(5, holds ? "  switchParam is Invalid and tscInvalid in switchCondition is SET -> condValue is TRUE"
                            : "  switchParam is Invalid and tscInvalid in switchCondition is NOT SET -> condValue is FALSE");
    } else {
        holds = (m_switchCondition & valueClass(m_switchParam)) != 0;
    }
    const qint32 resultBit = holds ? 0x1 : 0x2;
    return (m_switchType & resultBit) != 0;
}
