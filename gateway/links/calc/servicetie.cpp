#include "links/calc/servicetie.h"

#include "core/diag.h"
#include "links/calc/functieunit.h"
#include "links/calc/timecalctieparam.h"

#include <dpdatatype.h>

namespace {

struct ClockParam {
    const char *id;
    DPDataType type;
    qint32 kind;
};

constexpr ClockParam kClockParams[] = {
    {"@INIT_DATETIME_UTC", dpdtSDWord, TimeCalcTieParam::tkStartUtc},
    {"@INIT_DATETIME_LOCAL", dpdtSDWord, TimeCalcTieParam::tkStartLocal},
    {"@CURRENT_DATETIME_UTC", dpdtSDWord, TimeCalcTieParam::tkCurrentUtc},
    {"@CURRENT_DATETIME_LOCAL", dpdtSDWord, TimeCalcTieParam::tkCurrentLocal},
    {"@CURRENT_TIMESPEC", dpdtTimeSpec, TimeCalcTieParam::tkCurrentUtc},
};

} // namespace

ServiceTie::ServiceTie(QObject *parent)
    : BaseTie(parent)
{
}

ServiceTie::~ServiceTie() = default;

qint32 ServiceTie::state() const
{
    GATE_DEBUG(11, "ServiceTie::state() was called");
    return 0;
}

void ServiceTie::addUnit(BaseTieUnit *unit)
{
    appendUnit(unit);
    GATE_DEBUG(1, "ServiceTie::addUnit(%p) add unit", static_cast<void *>(unit));
}

FuncTieUnit *ServiceTie::createClockUnit(ServiceTie *tie)
{
    if (!tie)
        return nullptr;
    auto *unit = new FuncTieUnit(tie);
    qint32 index = 0;
    for (const ClockParam &p : kClockParams) {
        const QString id = QString::fromLatin1(p.id);
        auto *param = new TimeCalcTieParam(unit, static_cast<quint32>(p.type), index++, id, id, id, QString(), p.kind);
        unit->addParam(param);
        unit->csvParamsHash().add(param);
    }
    tie->addUnit(unit);
    return unit;
}
