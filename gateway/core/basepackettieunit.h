#ifndef BASEPACKETTIEUNIT_H
#define BASEPACKETTIEUNIT_H

#include "core/basetieunit.h"

// A unit of a packet tie.
class BasePacketTieUnit : public BaseTieUnit
{
    Q_OBJECT
public:
    explicit BasePacketTieUnit(BaseTie *tie = nullptr);
    ~BasePacketTieUnit() override;
};

#endif // BASEPACKETTIEUNIT_H
