#include "core/baseareatieunit.h"

#include "core/baseareatie.h"
#include "core/diag.h"

BaseAreaTieUnit::BaseAreaTieUnit(BaseTie *tie)
    : BaseTieUnit(tie)
    , m_offset(0)
{
}

BaseAreaTieUnit::~BaseAreaTieUnit() = default;

BaseAreaTie *BaseAreaTieUnit::areaTie() const
{
    return qobject_cast<BaseAreaTie *>(myTie());
}

quint64 BaseAreaTieUnit::unitSize() const
{
    return 0;
}

uchar *BaseAreaTieUnit::data()
{
    GATE_DEBUG(9, "BaseAreaTieUnit::data() was called for unit (%p)", static_cast<void *>(this));
    if (!myTie()) {
        GATE_DEBUG(2, "BaseAreaTieUnit::data(): myTie (%p) is NULL for unit (%p)", static_cast<void *>(myTie()),
                   static_cast<void *>(this));
        return nullptr;
    }
    BaseAreaTie *tie = areaTie();
    if (!tie) {
        GATE_DEBUG(2, "BaseAreaTieUnit::data(): myTie (%p) is NULL or not a BaseAreaTie successor for unit (%p)",
                   static_cast<void *>(myTie()), static_cast<void *>(this));
        return nullptr;
    }
    return tie->data(this);
}

bool BaseAreaTieUnit::pollData()
{
    GATE_DEBUG(9, "BaseAreaTieUnit::pollData() was called for unit (%p)", static_cast<void *>(this));
    if (!myTie())
        return false;
    BaseAreaTie *tie = areaTie();
    if (!tie) {
        GATE_DEBUG(2, "BaseAreaTieUnit::pollData(): myTie (%p) is NULL or not a BaseAreaTie successor for unit (%p)",
                   static_cast<void *>(myTie()), static_cast<void *>(this));
        return false;
    }
    return tie->pollUnitData(this);
}

bool BaseAreaTieUnit::sendData()
{
    GATE_DEBUG(9, "BaseAreaTieUnit::sendData() was called");
    if (!myTie()) {
        GATE_DEBUG(2, "BaseAreaTieUnit::sendData(): myTie (%p) is NULL for unit (%p)", static_cast<void *>(myTie()),
                   static_cast<void *>(this));
        return false;
    }
    BaseAreaTie *tie = areaTie();
    if (!tie) {
        GATE_DEBUG(2, "BaseAreaTieUnit::sendData(): myTie (%p) is NULL or not a BaseAreaTie successor for unit (%p)",
                   static_cast<void *>(myTie()), static_cast<void *>(this));
        return false;
    }
    return tie->sendUnitData(this);
}
