#include "links/calc/basecalctie.h"

#include "core/diag.h"

BaseCalcTie::BaseCalcTie(QObject *parent)
    : BaseTie(parent)
{
}

BaseCalcTie::~BaseCalcTie() = default;

qint32 BaseCalcTie::state() const
{
    GATE_DEBUG(11, "CaclTie::state() was called");
    return 0;
}

void BaseCalcTie::addUnit(BaseTieUnit *unit)
{
    appendUnit(unit);
    GATE_DEBUG(1, "CaclTie::addUnit(%p) add unit", static_cast<void *>(unit));
}
