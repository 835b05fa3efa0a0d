#include "core/basepackettie.h"

#include "core/basepackettieunit.h"
#include "core/diag.h"

BasePacketTie::BasePacketTie(QObject *parent)
    : BaseTie(parent)
{
}

BasePacketTie::~BasePacketTie() = default;

bool BasePacketTie::pollUnitData(BaseTieUnit *unit)
{
    GATE_DEBUG(4, "BasePacketTie::pollUnitData(%p) was called", static_cast<void *>(unit));
    if (!unit) {
        GATE_DEBUG(1, "BasePacketTie::pollUnitData(NULL) was called");
        return false;
    }
    GATE_DEBUG(4, "BasePacketTie::pollUnitData: received %s used %s",
               qUtf8Printable(unit->lastReceived().toString(Qt::TextDate)),
               qUtf8Printable(unit->lastConverted().toString(Qt::TextDate)));
    if (!(unit->direction() & BaseTieUnit::dirFromThis) || !unit->lastReceived().isValid())
        return false;
    if (!unit->lastConverted().isValid())
        return true;
    return unit->lastConverted() < unit->lastReceived();
}

int BasePacketTie::protocolTimeout() const
{
    return 0;
}

int BasePacketTie::keepAlivePeriod() const
{
    return 0;
}

void BasePacketTie::setProtocolTimeout(int)
{
}

void BasePacketTie::setKeepAlivePeriod(int)
{
}

int BasePacketTie::addConnection(const QString &, quint16)
{
    return 0;
}

void BasePacketTie::addUnit(BaseTieUnit *unit)
{
    appendUnit(unit);
}

int BasePacketTie::connectionState(int) const
{
    return 0;
}
