#include "core/basepackettieunit.h"

BasePacketTieUnit::BasePacketTieUnit(BaseTie *tie)
    : BaseTieUnit(tie)
{
}

BasePacketTieUnit::~BasePacketTieUnit() = default;
