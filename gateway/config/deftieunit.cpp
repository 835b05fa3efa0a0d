#include "config/deftieunit.h"

#include "config/deftieparam.h"
#include "core/diag.h"

DefTieUnit::DefTieUnit(BaseTie *tie)
    : BaseAreaTieUnit(tie)
{
}

DefTieUnit::~DefTieUnit()
{
    // The parameters point at records of m_defStruct: delete them while the
    // records still exist.
    clearParams();
}

quint64 DefTieUnit::unitSize() const
{
    return m_defStruct.areaSize();
}

void DefTieUnit::refreshParams()
{
    clearParams();
    for (QDefRecord *record : m_defStruct.records())
        addParam(new DefTieParam(this, record));
    GATE_DEBUG(4, "DefTieUnit::refreshParams() for unit %p: add %i parameters", static_cast<void *>(this),
               static_cast<int>(params().size()));
}
