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
// index of all provider parameters, and the ties (owned, destroyed first to
// last; entries may be null).
class GateConfig : public QObject
{
    Q_OBJECT
public:
    // Makes (or returns the existing) converter feeding `consumer` from its
    // provider in `index`; null when there is none.
    using ConverterFactory = BaseConverter *(*)(BaseTieParam *consumer, const TieParamsHash &index);

    explicit GateConfig(QObject *parent = nullptr);
    ~GateConfig() override;

    // Gives every consumer parameter of every to-this unit a converter from
    // its provider in the index, made by `make`.
    void bind(ConverterFactory make);
    // Reports consumers without a source or without a converter and
    // identifiers claimed by several providers (debug output and log lines).
    // True when no identifier is claimed twice.
    bool checkConfig();
    // Reports every key of `map` that holds more than one parameter; true
    // when none does.
    bool checkDoubleSources(const TieParamsHash::Map &map, const QString &label);
    // Destroys every tie and forgets the index.
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
};

#endif // GATECONFIG_H
