#ifndef TIMECALCTIEPARAM_H
#define TIMECALCTIEPARAM_H

#include "links/calc/functieparam.h"

// A function parameter that holds a clock reading: the current time or the
// time of initialisation, as seconds since the epoch (DWORD, SDWORD,
// TIME_T32) or as seconds and nanoseconds (TIMESPEC).
class TimeCalcTieParam : public FuncTieParam
{
public:
    // Time kinds.
    enum TimeKind : qint32 {
        tkCurrentUtc = 1,
        tkCurrentLocal = 2,
        tkStartUtc = 3,
        tkStartLocal = 4
    };

    // `unit` owns the parameter once added (not owned here).
    TimeCalcTieParam(BaseTieUnit *unit, quint32 type, qint32 index, const QString &extId, const QString &iid,
                     const QString &kks, const QString &rtm, qint32 timeKind);
    ~TimeCalcTieParam() override;

    // Current-time kinds write the clock's reading into every element and
    // return true for the supported types (even without storage); the
    // start-time kinds and other kinds or types change nothing (false).
    bool update() override;
    // The base reset, then seconds since the epoch into every element of a
    // DWORD, SDWORD or TIME_T32 parameter (the start time of start kinds).
    void reset() override;

    qint32 timeKind() const { return m_timeKind; }

private:
    qint32 m_timeKind;
};

#endif // TIMECALCTIEPARAM_H
