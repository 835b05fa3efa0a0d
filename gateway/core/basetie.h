#ifndef BASETIE_H
#define BASETIE_H

#include "core/paramswitch.h"
#include "core/tiecounters.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

class BaseTieParam;
class BaseTieUnit;

// The connection to one outside system. The tie owns its units (entries of
// units() may be null) and destroys them last to first.
class BaseTie : public QObject
{
    Q_OBJECT
public:
    explicit BaseTie(QObject *parent = nullptr);
    ~BaseTie() override;

    // Polls every unit and converts the units that report new data, and
    // once more every unit whose state turned bad since its last conversion.
    // The whole pass reads the clock once (Clock::Pass).
    virtual void pollAndConvert();
    // Computes results (calculation ties); base: nothing, returns 0.
    virtual int calulate();
    // Sends every dirty unit.
    virtual void sendDirty();
    // Tie state: 0 OK; base: 3 (disabled).
    virtual qint32 state() const;
    // True while what the tie is to deliver is refused (a file that cannot
    // be written, a queue that takes nothing), whatever its state says: the
    // status counts the tie as not OK. Base: false.
    virtual bool deliveryFailing() const;
    // Initialises every unit (resets every parameter).
    virtual void init();
    // Whether new data arrived for `unit`; base: false.
    virtual bool pollUnitData(BaseTieUnit *unit);
    // Sends `unit`; base: false (nothing sent).
    virtual bool sendUnitData(BaseTieUnit *unit);
    // Called before values of `providerUnit` are converted into `unit`; base: nothing.
    virtual void doWorkBeforeConvertFrom(BaseTieUnit *unit, BaseTieUnit *providerUnit);
    // Called after a conversion wrote `param` of one of the units; base: nothing.
    virtual void doPostParamConversionWork(BaseTieParam *param);
    // Called once before the tie is destroyed while the gateway goes on (a
    // reload replaced or removed it), after its last send pass: waits, within
    // a short bound, until what the tie has sent has left the process, so
    // that closing its connections loses none of it. Base: nothing (ties
    // that send synchronously have nothing waiting).
    virtual void drain();
    // Called on a new tie that takes the place of `predecessor` (a tie of
    // the same class and id that a reload replaces), after the
    // predecessor's last send pass and before it is drained: takes over what
    // the predecessor still has to deliver (messages waiting for their
    // acknowledgement, say), so that this tie delivers it. Base: nothing.
    virtual void takeOver(BaseTie &predecessor);
    // What the tie takes for itself, which a second tie cannot share without
    // harm (a queue it reads, its client id at a broker), each as a text for
    // the operator; the loader warns about a claim made twice. Base: none.
    virtual QStringList exclusiveClaims() const;
    // What tells this tie's predecessor among several of its class and id
    // (ties without ids) on a reload: a tie with the same keys is preferred.
    // Base: exclusiveClaims().
    virtual QStringList successionKeys() const;

    QList<BaseTieUnit *> &units() { return m_units; }
    const QList<BaseTieUnit *> &units() const { return m_units; }
    QString id() const { return m_id; }
    void setId(const QString &id) { m_id = id; }
    // Data timeout in milliseconds (3000 when built).
    quint32 timeout() const { return m_timeout; }
    void setTimeout(quint32 msecs) { m_timeout = msecs; }
    ParamSwitch &paramsSwitch() { return m_switch; }
    const ParamSwitch &paramsSwitch() const { return m_switch; }
    // What the tie has done so far (units polled and sent are counted here;
    // each tie family adds its own fields).
    TieCounters &counters() { return m_counters; }
    const TieCounters &counters() const { return m_counters; }

protected:
    // Appends `unit` to the units (ownership passes to the tie) and makes
    // this tie the unit's tie.
    void appendUnit(BaseTieUnit *unit);
    // Converts once more every unit whose state turned non-zero since its
    // last conversion, so its consumers are invalidated instead of frozen.
    void convertInvalidatedUnits();

private:
    QList<BaseTieUnit *> m_units;
    QString m_id;
    quint32 m_timeout;
    ParamSwitch m_switch;
    TieCounters m_counters;
};

#endif // BASETIE_H
