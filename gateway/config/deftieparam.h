#ifndef DEFTIEPARAM_H
#define DEFTIEPARAM_H

#include "core/basetieparam.h"

class DefTieUnit;
struct QDefRecord;

// A parameter made from one definition record: its values lie in the unit's
// byte area at the record's offset. The record's name is its IID, KKS and
// RTM. A record that does not lie wholly inside the unit's area gives a
// parameter without storage and without elements (never valid, never
// written).
class DefTieParam : public BaseTieParam
{
public:
    // `unit` owns the parameter once added; `record` belongs to the unit's
    // definition. Neither is owned here.
    DefTieParam(DefTieUnit *unit, QDefRecord *record);
    ~DefTieParam() override;

    // Data type of the record's keyword; 0 without a record or for an
    // unsupported keyword.
    quint32 metatype() const override;
    // The record's element count; 0 without a record or outside the area.
    size_t count() const override;
    // The unit's area data plus the record's offset; null while the area has
    // no data, without a record, or when the record lies outside the area.
    const uchar *values() const override;
    uchar *valuesForWrite() override;
    // The record's size; 0 without a record or outside the area.
    size_t size() const override;
    BaseTieUnit *myUnit() override;
    const BaseTieUnit *myUnit() const override;
    // Empty: definition records carry no external identifier.
    QString extID() const override;
    // The record's name.
    QString numberString() const override;
    QString IID() const override;
    QString KKS() const override;
    QString RTM() const override;

    QDefRecord *defRecord() const { return m_defRecord; }
    // True when the record lies wholly inside the unit's area.
    bool fitsArea() const;

private:
    uchar *storage() const;

    DefTieUnit *m_unit;
    QDefRecord *m_defRecord;
};

#endif // DEFTIEPARAM_H
