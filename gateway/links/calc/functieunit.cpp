#include "links/calc/functieunit.h"

#include "core/clock.h"
#include "core/diag.h"
#include "links/calc/functieparam.h"

FuncTieUnit::FuncTieUnit(BaseTie *tie)
    : CsvTieUnit(tie)
{
    setDirection(dirFromThis);
}

FuncTieUnit::~FuncTieUnit() = default;

bool FuncTieUnit::pollData()
{
    GATE_DEBUG(6, "FuncTieUnit::pollData() was called for %i params", static_cast<int>(params().size()));
    bool updated = false;
    for (int i = 0; i < params().size(); ++i) {
        BaseTieParam *entry = params().at(i);
        auto *param = dynamic_cast<FuncTieParam *>(entry);
        GATE_DEBUG(6, " param[%i] with %s cast from %p to %p", i, qUtf8Printable(BaseTieParam::describe(entry)),
                   static_cast<void *>(entry), static_cast<void *>(param));
        if (!param)
            continue;
        if (param->update()) {
            updated = true;
            GATE_DEBUG(6, "  param was updated");
        }
    }
    if (updated) {
        setLastReceived(Clock::nowUtc());
        setDirty(true);
    }
    return updated;
}
