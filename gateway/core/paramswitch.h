#ifndef PARAMSWITCH_H
#define PARAMSWITCH_H

#include <QtGlobal>

class BaseTieParam;

// Opens or closes a tie's output by the value class of element 0 of one
// parameter (of any tie; not owned). A new switch is always open.
class ParamSwitch
{
public:
    // Value classes of the switch condition (a bit set).
    enum Condition : quint64 {
        tscNone = 0x000,
        tscInvalid = 0x001,  // invalid, or a type without a value class
        tscInfinite = 0x010, // a floating-point infinity
        tscNaN = 0x020,      // a floating-point NaN
        tscZero = 0x040,
        tscPlus = 0x100,     // greater than zero
        tscMinus = 0x200,    // less than zero
        tscAll = 0x371,
        tscWrong = ~quint64(0) // a condition that failed to parse
    };
    // What an evaluated condition means: bit 0 is the result when the
    // condition holds, bit 1 the result when it does not.
    enum Type : qint32 {
        tstLock = 0,       // always closed
        tstOnTrue = 1,     // open while the condition holds
        tstOnFalse = 2,    // open while it does not
        tstOpenAlways = 3, // always open
        tstWrong = -1      // failed to parse; always open
    };

    ParamSwitch();

    // True when output may go out.
    bool isOpen() const;

    BaseTieParam *switchParam() const { return m_switchParam; }
    void setSwitchParam(BaseTieParam *param) { m_switchParam = param; }
    quint64 switchCondition() const { return m_switchCondition; }
    void setSwitchCondition(quint64 condition) { m_switchCondition = condition; }
    qint32 switchType() const { return m_switchType; }
    void setSwitchType(qint32 type) { m_switchType = type; }

    // The value-class bit of element 0 of `param` (tscInvalid when it is not
    // valid or its type has no value class).
    static quint64 valueClass(const BaseTieParam *param);

private:
    BaseTieParam *m_switchParam;
    quint64 m_switchCondition;
    qint32 m_switchType;
};

#endif // PARAMSWITCH_H
