#ifndef BASEAREATIE_H
#define BASEAREATIE_H

#include "core/basetie.h"

class BaseAreaTieUnit;

// A tie that keeps all its units in one contiguous byte area: each unit
// occupies a slice at its offset.
class BaseAreaTie : public BaseTie
{
    Q_OBJECT
public:
    explicit BaseAreaTie(QObject *parent = nullptr);
    ~BaseAreaTie() override;

    using BaseTie::pollUnitData;
    using BaseTie::sendUnitData;

    // Stores the area size; subclasses that hold the area resize it here.
    virtual void setAreaSize(quint64 bytes);
    // Places `unit` at the end of the area (ownership passes to the tie).
    virtual void addUnit(BaseAreaTieUnit *unit);
    // Sum of the sizes of the units added so far.
    virtual quint64 areaSize() const;
    // Whether new data arrived for `unit`; base: false.
    virtual bool pollUnitData(BaseAreaTieUnit *unit);
    // Sends `unit`; base: false.
    virtual bool sendUnitData(BaseAreaTieUnit *unit);
    // First byte of the unit's slice of the area; null when it has none.
    virtual uchar *data(BaseAreaTieUnit *unit) = 0;

private:
    quint64 m_areaSize;
};

#endif // BASEAREATIE_H
