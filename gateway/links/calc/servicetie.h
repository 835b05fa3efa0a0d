#ifndef SERVICETIE_H
#define SERVICETIE_H

#include "core/basetie.h"

class BaseTieUnit;
class FuncTieUnit;

// The gateway's internal provider of its own clock: one function unit with
// the start time and the current time under the "@..." identifiers.
class ServiceTie : public BaseTie
{
    Q_OBJECT
public:
    explicit ServiceTie(QObject *parent = nullptr);
    ~ServiceTie() override;

    // Always 0 (OK).
    qint32 state() const override;
    // Appends `unit` (ownership passes to the tie) and makes this its tie.
    void addUnit(BaseTieUnit *unit);

    // Builds the clock unit with its five parameters ("@INIT_DATETIME_UTC",
    // "@INIT_DATETIME_LOCAL", "@CURRENT_DATETIME_UTC",
    // "@CURRENT_DATETIME_LOCAL", "@CURRENT_TIMESPEC"; each identifier is the
    // parameter's KKS, IID and ExtID) and adds it to `tie`, which owns it.
    // Returns the unit, or null for a null tie.
    static FuncTieUnit *createClockUnit(ServiceTie *tie);
};

#endif // SERVICETIE_H
