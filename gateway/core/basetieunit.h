#ifndef BASETIEUNIT_H
#define BASETIEUNIT_H

#include "core/tieparamshash.h"
#include "core/timepoint.h"

#include <QDateTime>
#include <QList>
#include <QObject>

class BaseTie;
class BaseTieParam;

// One block of parameters that travels as a whole (a parameter list, a byte
// area). The unit owns its parameters; its tie owns the unit.
class BaseTieUnit : public QObject
{
    Q_OBJECT
public:
    // Direction bits.
    enum Direction : quint32 {
        dirNone = 0,
        dirFromThis = 1, // the outside system delivers the data: providers
        dirToThis = 2,   // the data go to the outside system: consumers
        dirBoth = 3,
        dirCalc = 4      // marks the units of calculation ties
    };
    // Unit states.
    enum State : qint32 {
        stOK = 0,
        stNoData = 1,   // a from-this unit that never received data
        stDisabled = 3, // no tie, no direction, or the tie reports 3
        stStale = 4     // a from-this unit whose data are older than the timeout
    };

    // `tie` becomes the unit's tie (not owned; the tie adds the unit to its
    // list with its own addUnit). A unit without a tie is disabled.
    explicit BaseTieUnit(BaseTie *tie = nullptr);
    ~BaseTieUnit() override;

    // Unit state: 0 OK, 1 no data, 3 disabled, 4 stale, or the tie's state.
    virtual qint32 state() const;
    // The tie's data timeout in milliseconds, 0 without a tie.
    virtual quint32 dataTimeout() const;
    // Asks the tie whether new data arrived; false without a tie.
    virtual bool pollData();
    // Asks the tie to send the unit; false without a tie.
    virtual bool sendData();
    // Resets every parameter and clears dirty.
    virtual void init();
    // Called before values of `providerUnit` are converted into this unit.
    virtual void doWorkBeforeConvertFrom(BaseTieUnit *providerUnit);
    // Last sent = now; dirty = false.
    virtual void markSent();
    // Called after a conversion wrote `param` of this unit: last updated
    // becomes now, a conversion time point is refreshed, the unit is dirty.
    virtual void doPostParamConversionWork(BaseTieParam *param);
    // Time stamp of the unit's data: the time point's time when it holds
    // one, else last updated (to-this) or last received (from-this).
    virtual QDateTime dataTime() const;
    // Called with the data time of every provider converted into the unit:
    // a time newer than the newest one stamped so far is written into a
    // time point that holds a time, and advances last updated (never
    // backwards). Compared with the data times stamped before, not with
    // last updated, which the conversion itself sets to now: so the time
    // point follows a provider whose own times trail the gateway's clock.
    virtual void updateLastUpdated(const QDateTime &dt);
    // Advances last received to `dt` (never backwards).
    virtual void updateLastReceived(const QDateTime &dt);

    // Runs the converters of every parameter into their consumers. Returns 1
    // when at least one converter ran, else 0.
    int convertFromThis();
    // True when the unit's state turned non-zero since its last conversion,
    // so its consumers still hold values that were valid then.
    bool needsInvalidation() const;
    // Appends `param` (ownership passes to the unit) and indexes it.
    void addParam(BaseTieParam *param);
    // Deletes every parameter and clears the index.
    void clearParams();

    quint32 direction() const { return m_direction; }
    void setDirection(quint32 direction) { m_direction = direction; }
    // Bytes of one element of the unit's data as configured (0 mixed; 4 when built).
    int elementSize() const { return m_elementSize; }
    void setElementSize(int bytes) { m_elementSize = bytes; }
    QList<BaseTieParam *> &params() { return m_params; }
    const QList<BaseTieParam *> &params() const { return m_params; }
    TieParamsHash &paramsHash() { return m_paramsHash; }
    const TieParamsHash &paramsHash() const { return m_paramsHash; }
    TimePoint &timePoint() { return m_timePoint; }
    const TimePoint &timePoint() const { return m_timePoint; }

    QDateTime lastReceived() const { return m_lastReceived; }
    void setLastReceived(const QDateTime &dt);
    QDateTime lastConverted() const { return m_lastConverted; }
    void setLastConverted(const QDateTime &dt) { m_lastConverted = dt; }
    QDateTime lastUpdated() const { return m_lastUpdated; }
    void setLastUpdated(const QDateTime &dt);
    QDateTime lastSent() const { return m_lastSent; }
    bool isDirty() const { return m_dirty; }
    void setDirty(bool dirty) { m_dirty = dirty; }
    // Conversions written into the unit so far (never reset): tells one
    // update of the unit from the next, whether or not its bytes changed.
    quint64 conversions() const { return m_conversions; }

    // Provider units feeding this unit / consumer units fed by it (each once; not owned).
    QList<BaseTieUnit *> &sourceUnits() { return m_sourceUnits; }
    const QList<BaseTieUnit *> &sourceUnits() const { return m_sourceUnits; }
    QList<BaseTieUnit *> &targetUnits() { return m_targetUnits; }
    const QList<BaseTieUnit *> &targetUnits() const { return m_targetUnits; }

    BaseTie *myTie() const { return m_tie; }
    void setTie(BaseTie *tie) { m_tie = tie; }

private:
    quint32 m_direction;
    int m_elementSize;
    QList<BaseTieParam *> m_params;
    TieParamsHash m_paramsHash;
    TimePoint m_timePoint;
    QDateTime m_lastReceived;
    QDateTime m_lastConverted;
    QDateTime m_lastUpdated;
    QDateTime m_lastSent;
    // Milliseconds since the epoch of last received and last updated, and of
    // the newest data time stamped by updateLastUpdated(); kNoTime while
    // unset. The per-conversion tests compare these instead of date-times.
    qint64 m_lastReceivedMsecs;
    // The monotonic count (Clock::monotonicMsecs()) at the last reception,
    // less how far that reception lay behind the clock: the unit's age is
    // measured on it, so that a step of the wall clock neither makes live
    // data stale nor keeps stopped data fresh. kNoTime while unset.
    qint64 m_receivedMonotonic;
    qint64 m_lastUpdatedMsecs;
    qint64 m_lastStampedMsecs;
    quint64 m_conversions;
    bool m_dirty;
    bool m_convertedWhileOk;
    QList<BaseTieUnit *> m_sourceUnits;
    QList<BaseTieUnit *> m_targetUnits;
    BaseTie *m_tie;
};

#endif // BASETIEUNIT_H
