#include "core/basetie.h"

#include "core/basetieunit.h"
#include "core/clock.h"
#include "core/diag.h"

BaseTie::BaseTie(QObject *parent)
    : QObject(parent)
    , m_timeout(3000)
{
}

BaseTie::~BaseTie()
{
    for (int i = m_units.size() - 1; i >= 0; --i)
        delete m_units.at(i);
    m_units.clear();
}

void BaseTie::pollAndConvert()
{
    const Clock::Pass pass;
    for (BaseTieUnit *unit : qAsConst(m_units)) {
        if (!unit)
            continue;
        const bool received = unit->pollData();
        if (received)
            ++m_counters.unitsReceived;
        if (received || unit->needsInvalidation())
            unit->convertFromThis();
    }
}

int BaseTie::calulate()
{
    return 0;
}

void BaseTie::sendDirty()
{
    GATE_DEBUG(6, "BaseTie::sendDirty() was called for %i units", static_cast<int>(m_units.size()));
    for (int i = 0; i < m_units.size(); ++i) {
        BaseTieUnit *unit = m_units.at(i);
        if (!unit)
            continue;
        GATE_DEBUG(11, "myUnits[%i] (%p) is %s", i, static_cast<void *>(unit), unit->isDirty() ? "dirty" : "not dirty");
        if (!unit->isDirty())
            continue;
        if (unit->timePoint().updateMode() == TimePoint::tpuSend)
            unit->timePoint().update();
        if (unit->sendData())
            ++m_counters.unitsSent;
    }
}

qint32 BaseTie::state() const
{
    return BaseTieUnit::stDisabled;
}

void BaseTie::init()
{
    GATE_DEBUG(6, "BaseTie::init() was called for %i units", static_cast<int>(m_units.size()));
    for (int i = 0; i < m_units.size(); ++i) {
        BaseTieUnit *unit = m_units.at(i);
        if (!unit)
            continue;
        GATE_DEBUG(11, "  myUnits[%i] (%p)", i, static_cast<void *>(unit));
        unit->init();
    }
}

bool BaseTie::pollUnitData(BaseTieUnit *)
{
    return false;
}

bool BaseTie::sendUnitData(BaseTieUnit *)
{
    return false;
}

void BaseTie::doWorkBeforeConvertFrom(BaseTieUnit *, BaseTieUnit *)
{
}

void BaseTie::doPostParamConversionWork(BaseTieParam *)
{
}

void BaseTie::drain()
{
}

bool BaseTie::deliveryFailing() const
{
    return false;
}

void BaseTie::takeOver(BaseTie &)
{
}

QStringList BaseTie::exclusiveClaims() const
{
    return QStringList();
}

QStringList BaseTie::successionKeys() const
{
    return exclusiveClaims();
}

void BaseTie::appendUnit(BaseTieUnit *unit)
{
    if (unit)
        unit->setTie(this);
    m_units.append(unit);
}

void BaseTie::convertInvalidatedUnits()
{
    const Clock::Pass pass;
    for (BaseTieUnit *unit : qAsConst(m_units)) {
        if (unit && unit->needsInvalidation())
            unit->convertFromThis();
    }
}
