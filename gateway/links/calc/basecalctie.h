#ifndef BASECALCTIE_H
#define BASECALCTIE_H

#include "core/basetie.h"

class BaseTieUnit;

// The base of the ties that compute parameters from other parameters
// inside the gateway. Such a tie has no outside connection to lose, so its
// state is always OK.
class BaseCalcTie : public BaseTie
{
    Q_OBJECT
public:
    explicit BaseCalcTie(QObject *parent = nullptr);
    ~BaseCalcTie() override;

    // Always 0 (OK).
    qint32 state() const override;
    // Appends `unit` (ownership passes to the tie) and makes this its tie.
    virtual void addUnit(BaseTieUnit *unit);
};

#endif // BASECALCTIE_H
