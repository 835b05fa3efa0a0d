#ifndef GATECONFIG_H
#define GATECONFIG_H

#include "core/tieparamshash.h"

#include <QList>
#include <QObject>
#include <QString>

class BaseConverter;
class BaseTie;
class BaseTieParam;

// The in-memory configuration of the gateway: the main-cycle settings, the
// index of all provider parameters, the ties (owned, destroyed first to
// last; entries may be null) and the converters binding made between their
// parameters (owned, destroyed after the ties).
class GateConfig : public QObject
{
    Q_OBJECT
public:
    // Makes (or returns the existing) converter feeding `consumer` from its
    // provider in `index` and attaches it to both parameters; null when there
    // is none. A converter it makes for a consumer without one belongs to
    // the configuration that called it.
    using ConverterFactory = BaseConverter *(*)(BaseTieParam *consumer, const TieParamsHash &index);

    explicit GateConfig(QObject *parent = nullptr);
    ~GateConfig() override;

    // Gives every consumer parameter of every to-this unit a converter from
    // its provider in the index, made by `make`. The configuration takes
    // every converter made for a consumer that had none; one handed back for
    // a consumer bound before stays with whoever made it.
    void bind(ConverterFactory make);
    // Reports consumers without a source or without a converter and
    // identifiers claimed by several providers (debug output and log lines).
    // True when no identifier is claimed twice.
    bool checkConfig();
    // Reports every key of `map` that holds more than one parameter; true
    // when none does.
    bool checkDoubleSources(const TieParamsHash::Map &map, const QString &label);
    // Destroys every tie, then every converter binding made, and forgets the index.
    void clear();
    // Takes the ties, the provider index and the settings of `next` in place
    // of its own, between two main cycles (a reload); `next` is left empty.
    // A tie both list is kept as it is: its values, dirty units and
    // connections stay. A tie only this one lists gets one last send pass,
    // hands what it still owes to its successor (the first new tie of its
    // class and id, BaseTie::takeOver) and is drained (all of them before the
    // first one goes), then destroyed. A unit the predecessor still owed
    // after its last pass is owed by the successor's unit at its position.
    // Every consumer is then bound again with `make`, the converters of the
    // old binding freed. A consumer of a kept tie whose provider is now
    // another parameter, or none, is refreshed at once from its new source
    // (invalidated when it has none) and its unit marked for sending; one
    // whose provider stayed keeps its value. Last, every tie that only `next`
    // listed is initialised.
    void replaceWith(GateConfig &next, ConverterFactory make);

    quint32 mainCycle() const { return m_mainCycle; }
    void setMainCycle(quint32 msecs) { m_mainCycle = msecs; }
    quint32 timeout() const { return m_timeout; }
    void setTimeout(quint32 msecs) { m_timeout = msecs; }
    TieParamsHash &paramsHash() { return m_paramsHash; }
    const TieParamsHash &paramsHash() const { return m_paramsHash; }
    QList<BaseTie *> &ties() { return m_ties; }
    const QList<BaseTie *> &ties() const { return m_ties; }

private:
    // Forgets every link binding made between the parameters and units of
    // the listed ties and frees the converters.
    void unbindAll();

    quint32 m_mainCycle;
    quint32 m_timeout;
    TieParamsHash m_paramsHash;
    QList<BaseTie *> m_ties;
    QList<BaseConverter *> m_converters;
};

#endif // GATECONFIG_H
