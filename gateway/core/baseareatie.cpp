#include "core/baseareatie.h"

#include "core/baseareatieunit.h"
#include "core/diag.h"

BaseAreaTie::BaseAreaTie(QObject *parent)
    : BaseTie(parent)
    , m_areaSize(0)
{
}

BaseAreaTie::~BaseAreaTie() = default;

void BaseAreaTie::setAreaSize(quint64 bytes)
{
    m_areaSize = bytes;
}

void BaseAreaTie::addUnit(BaseAreaTieUnit *unit)
{
    const quint64 offset = areaSize();
    if (unit)
        unit->setOffset(offset);
    setAreaSize(offset + (unit ? unit->unitSize() : 0));
    appendUnit(unit);
    GATE_DEBUG(1, "BaseAreaTie::addUnit(%p) add unit with offset %zu and size %zu", static_cast<void *>(unit),
               static_cast<size_t>(offset), static_cast<size_t>(areaSize()));
}

quint64 BaseAreaTie::areaSize() const
{
    return m_areaSize;
}

bool BaseAreaTie::pollUnitData(BaseAreaTieUnit *)
{
    return false;
}

bool BaseAreaTie::sendUnitData(BaseAreaTieUnit *)
{
    return false;
}
