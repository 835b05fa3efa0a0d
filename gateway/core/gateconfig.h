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

    quint32 mainCycle() const { return m_mainCycle; }
    void setMainCycle(quint32 msecs) { m_mainCycle = msecs; }
    quint32 timeout() const { return m_timeout; }
    void setTimeout(quint32 msecs) { m_timeout = msecs; }
    TieParamsHash &paramsHash() { return m_paramsHash; }
    const TieParamsHash &paramsHash() const { return m_paramsHash; }
    QList<BaseTie *> &ties() { return m_ties; }
    const QList<BaseTie *> &ties() const { return m_ties; }

private:
    quint32 m_mainCycle;
    quint32 m_timeout;
    TieParamsHash m_paramsHash;
    QList<BaseTie *> m_ties;
    QList<BaseConverter *> m_converters;
};

#endif // GATECONFIG_H
