#ifndef DEFTIEUNIT_H
#define DEFTIEUNIT_H

#include "config/qdeffilestruct.h"
#include "core/baseareatieunit.h"

// A byte-area unit laid out by a definition file: every record of its
// definition is one parameter that reads and writes inside the unit's area.
class DefTieUnit : public BaseAreaTieUnit
{
    Q_OBJECT
public:
    // `tie` becomes the unit's tie (not owned).
    explicit DefTieUnit(BaseTie *tie = nullptr);
    ~DefTieUnit() override;

    // The definition's area size.
    quint64 unitSize() const override;

    // The definition (owned by the unit). After changing it, call
    // refreshParams() so that no parameter keeps a deleted record.
    QDefFileStruct &defStruct() { return m_defStruct; }
    const QDefFileStruct &defStruct() const { return m_defStruct; }

    // Deletes every parameter and makes one per record, in record order.
    void refreshParams();

private:
    QDefFileStruct m_defStruct;
};

#endif // DEFTIEUNIT_H
