#ifndef FUNCTIEUNIT_H
#define FUNCTIEUNIT_H

#include "config/csvtieunit.h"

// A unit whose parameters compute their own values (function parameters).
// Its direction is always 1 (from this): the parameters are providers.
class FuncTieUnit : public CsvTieUnit
{
    Q_OBJECT
public:
    // `tie` becomes the unit's tie (not owned).
    explicit FuncTieUnit(BaseTie *tie = nullptr);
    ~FuncTieUnit() override;

    // Updates every function parameter; when any changed, the unit counts
    // as received now and dirty. Returns whether any parameter changed.
    bool pollData() override;
};

#endif // FUNCTIEUNIT_H
