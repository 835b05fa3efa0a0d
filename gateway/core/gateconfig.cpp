#include "core/gateconfig.h"

#include "core/baseconverter.h"
#include "core/basetie.h"
#include "core/basetieparam.h"
#include "core/basetieunit.h"
#include "core/diag.h"
#include "core/gatelog.h"

#include <QCoreApplication>
#include <QHash>
#include <QSet>
#include <QVector>

#include <dpdatatype.h>

#include <algorithm>

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("GateConfig", text);
}

// ", KKS=..., RTM=..., Internal ID=..., External ID=..., Name="..."" for the
// identifiers `param` has.
QString identifierParts(const BaseTieParam *param)
{
    QString out;
    if (!param->KKS().isEmpty())
        out += tr(", KKS=%1").arg(param->KKS());
    if (!param->RTM().isEmpty())
        out += tr(", RTM=%1").arg(param->RTM());
    if (!param->IID().isEmpty())
        out += tr(", Internal ID=%1").arg(param->IID());
    if (!param->extID().isEmpty())
        out += tr(", External ID=%1").arg(param->extID());
    if (!param->name().isEmpty())
        out += tr(", Name=\"%1\"").arg(param->name());
    return out;
}

QByteArray typeName(const BaseTieParam *param)
{
    return DPDataTypeToString(static_cast<int>(param->metatype())).toUtf8();
}

// Calls `visit(param)` for every parameter that binding gives a converter:
// those of to-this units whose own direction is not from this.
template<typename Visit>
void forEachConsumer(const BaseTie *tie, Visit visit)
{
    for (BaseTieUnit *unit : tie->units()) {
        if (!unit || !(unit->direction() & BaseTieUnit::dirToThis))
            continue;
        for (BaseTieParam *param : qAsConst(unit->params()))
            if (param && !(param->direction() & BaseTieUnit::dirFromThis))
                visit(param);
    }
}

BaseTieParam *sourceOf(const BaseTieParam *param)
{
    return param->inputConverter() ? param->inputConverter()->source() : nullptr;
}

// The positions of the to-this units of `tie` that are still dirty: what
// they were to send has not gone.
QVector<int> unsentUnits(const BaseTie *tie)
{
    QVector<int> unsent;
    const QList<BaseTieUnit *> &units = tie->units();
    for (int i = 0; i < units.size(); ++i)
        if (units.at(i) && (units.at(i)->direction() & BaseTieUnit::dirToThis) && units.at(i)->isDirty())
            unsent.append(i);
    return unsent;
}

} // namespace

GateConfig::GateConfig(QObject *parent)
    : QObject(parent)
    , m_mainCycle(1000)
    , m_timeout(3000)
{
}

GateConfig::~GateConfig()
{
    clear();
}

void GateConfig::clear()
{
    for (BaseTie *tie : qAsConst(m_ties))
        delete tie;
    m_ties.clear();
    // The parameters that pointed at them are gone with the ties.
    qDeleteAll(m_converters);
    m_converters.clear();
    m_paramsHash.clear();
}

void GateConfig::unbindAll()
{
    for (BaseTie *tie : qAsConst(m_ties)) {
        if (!tie)
            continue;
        for (BaseTieUnit *unit : qAsConst(tie->units())) {
            if (!unit)
                continue;
            unit->sourceUnits().clear();
            unit->targetUnits().clear();
            for (BaseTieParam *param : qAsConst(unit->params())) {
                if (!param)
                    continue;
                param->setInputConverter(nullptr);
                param->outConverters().clear();
            }
        }
    }
    qDeleteAll(m_converters);
    m_converters.clear();
}

void GateConfig::replaceWith(GateConfig &next, ConverterFactory make)
{
    const QSet<BaseTie *> incoming(next.m_ties.cbegin(), next.m_ties.cend());
    QList<BaseTie *> leaving;
    QSet<BaseTie *> kept;
    for (BaseTie *tie : qAsConst(m_ties)) {
        if (!tie)
            continue;
        if (incoming.contains(tie))
            kept.insert(tie);
        else
            leaving.append(tie);
    }
    // What every consumer of a kept tie has read so far. The parameters of
    // `next` all exist already, so no new one can take the address of one
    // destroyed below.
    QHash<const BaseTieParam *, const BaseTieParam *> sources;
    for (const BaseTie *tie : qAsConst(kept))
        forEachConsumer(tie, [&](const BaseTieParam *param) { sources.insert(param, sourceOf(param)); });

    for (BaseTie *tie : qAsConst(leaving))
        tie->sendDirty();
    // A successor is a new tie of the same class and id; among several (ties
    // without ids), first one with the same succession keys (its broker and
    // client id, the file it reads).
    QSet<BaseTie *> succeeding;
    // Successors whose predecessor still owed a send after its last pass
    // (a full queue, a closed switch): the positions of the units it owed.
    QHash<BaseTie *, QVector<int>> owing;
    QHash<BaseTie *, BaseTie *> successorOf;
    QList<BaseTie *> unpaired;
    for (const bool sameClaims : {true, false}) {
        for (BaseTie *tie : qAsConst(sameClaims ? leaving : unpaired)) {
            bool paired = false;
            for (BaseTie *candidate : qAsConst(next.m_ties)) {
                if (!candidate || kept.contains(candidate) || succeeding.contains(candidate)
                    || candidate->id() != tie->id()
                    || qstrcmp(candidate->metaObject()->className(), tie->metaObject()->className()) != 0
                    || (sameClaims && candidate->successionKeys() != tie->successionKeys()))
                    continue;
                succeeding.insert(candidate);
                successorOf.insert(tie, candidate);
                candidate->takeOver(*tie);
                const QVector<int> unsent = unsentUnits(tie);
                if (!unsent.isEmpty())
                    owing.insert(candidate, unsent);
                paired = true;
                break;
            }
            if (sameClaims && !paired)
                unpaired.append(tie);
        }
    }
    // A successor goes on from its predecessor's counts, what the drain
    // counted (bytes left unsent, messages dropped) included.
    for (BaseTie *tie : qAsConst(leaving)) {
        tie->drain();
        if (BaseTie *successor = successorOf.value(tie))
            successor->counters().addTotals(tie->counters());
    }
    unbindAll();
    qDeleteAll(leaving);

    m_ties = next.m_ties;
    next.m_ties.clear();
    m_paramsHash = next.m_paramsHash;
    m_mainCycle = next.m_mainCycle;
    m_timeout = next.m_timeout;
    next.clear();
    bind(make);

    for (BaseTie *tie : qAsConst(m_ties)) {
        if (!tie || !kept.contains(tie))
            continue;
        forEachConsumer(tie, [&](BaseTieParam *param) {
            if (sources.value(param) == sourceOf(param))
                return;
            param->reset();
            // A refresh through a converter has marked the unit already.
            if (!param->inputConverter())
                param->doPostConversionWork();
        });
    }
    for (BaseTie *tie : qAsConst(m_ties)) {
        if (!tie || kept.contains(tie))
            continue;
        tie->init();
        // init() filled each consumer from its provider. What a provider
        // holds as current is owed to the new tie's peers now (a new
        // calculation runs on it), not only after the provider's next
        // conversion, which from a source that rarely changes may never come.
        forEachConsumer(tie, [](BaseTieParam *param) {
            const BaseTieParam *source = sourceOf(param);
            BaseTieUnit *unit = param->myUnit();
            if (source && unit && source->unitState() == BaseTieUnit::stOK)
                unit->setDirty(true);
        });
        // What the predecessor could not deliver is owed by its successor's
        // unit at the same position, whatever state its providers are in (an
        // invalid mark included).
        for (int i : owing.value(tie)) {
            BaseTieUnit *unit = tie->units().value(i);
            if (unit && (unit->direction() & BaseTieUnit::dirToThis))
                unit->setDirty(true);
        }
    }
}

void GateConfig::bind(ConverterFactory make)
{
    for (int i = 0; i < m_ties.size(); ++i) {
        BaseTie *tie = m_ties.at(i);
        if (!tie) {
            GATE_WARN("Empty ties slot ferroxConfig.ties[%i]", i);
            continue;
        }
        const QList<BaseTieUnit *> &units = tie->units();
        for (int j = 0; j < units.size(); ++j) {
            GATE_DEBUG_ALWAYS("  binding ferroxConfig.ties[%i]->units()[%i]", i, j);
            BaseTieUnit *unit = units.at(j);
            if (!unit)
                continue;
            GATE_DEBUG_ALWAYS("    not NULL");
            if (!(unit->direction() & BaseTieUnit::dirToThis))
                continue;
            for (BaseTieParam *param : qAsConst(unit->params())) {
                if (!param || (param->direction() & BaseTieUnit::dirFromThis))
                    continue;
                if (!make)
                    continue;
                const bool unbound = !param->inputConverter();
                BaseConverter *converter = make(param, m_paramsHash);
                if (converter && unbound)
                    m_converters.append(converter);
            }
        }
    }
}

bool GateConfig::checkConfig()
{
    GATE_DEBUG(3, "GateConfig::checkConfig() was called");
    for (BaseTie *tie : qAsConst(m_ties)) {
        if (!tie)
            continue;
        for (BaseTieUnit *unit : qAsConst(tie->units())) {
            if (!unit || !(unit->direction() & BaseTieUnit::dirToThis))
                continue;
            for (BaseTieParam *param : qAsConst(unit->params())) {
                if (!param || param->inputConverter())
                    continue;
                const int type = static_cast<int>(param->metatype());
                if (param == unit->timePoint().param()) {
                    GATE_DEBUG(3, "GateConfig::checkConfig(): Timepoint parameter with type %s (%i) %s name=\"%s\"",
                               typeName(param).constData(), type, qUtf8Printable(param->description()),
                               qUtf8Printable(param->name()));
                    continue;
                }
                const BaseTieParam *provider = m_paramsHash.findProvider(param);
                if (provider) {
                    const int providerType = static_cast<int>(provider->metatype());
                    GATE_DEBUG_ALWAYS("GateConfig::checkConfig(): No converter to parameter with type %s (%i) %s "
                                      "name=\"%s\" from one with type %s (%i) %s name=\"%s\"",
                                      typeName(param).constData(), type, qUtf8Printable(param->description()),
                                      qUtf8Printable(param->name()), typeName(provider).constData(), providerType,
                                      qUtf8Printable(provider->description()), qUtf8Printable(provider->name()));
                    gateLog(tr("No converter to parameter with type %1 (%2)").arg(QString::fromUtf8(typeName(param))).arg(type)
                            + identifierParts(param)
                            + tr(" from one with type %1 (%2)").arg(QString::fromUtf8(typeName(provider))).arg(providerType)
                            + identifierParts(provider));
                } else {
                    GATE_DEBUG_ALWAYS("GateConfig::checkConfig(): No source for parameter with type %s (%i) %s name=\"%s\"",
                                      typeName(param).constData(), type, qUtf8Printable(param->description()),
                                      qUtf8Printable(param->name()));
                    gateLog(tr("No source for parameter with type %1 (%2)").arg(QString::fromUtf8(typeName(param))).arg(type)
                            + identifierParts(param));
                }
            }
        }
    }
    bool result = checkDoubleSources(m_paramsHash.kks(), tr("KKS"));
    result = checkDoubleSources(m_paramsHash.rtm(), tr("RTM")) && result;
    result = checkDoubleSources(m_paramsHash.iid(), tr("Interal ID")) && result;
    result = checkDoubleSources(m_paramsHash.extId(), tr("External ID")) && result;
    return result;
}

bool GateConfig::checkDoubleSources(const TieParamsHash::Map &map, const QString &label)
{
    GATE_DEBUG(3, "GateConfig::checkDoubleSources() was called for code %s", qUtf8Printable(label));
    QList<QString> keys = map.uniqueKeys();
    std::sort(keys.begin(), keys.end());
    bool result = true;
    for (const QString &key : qAsConst(keys)) {
        const QList<BaseTieParam *> params = map.values(key);
        if (params.size() < 2)
            continue;
        result = false;
        GATE_DEBUG_ALWAYS("GateConfig::checkDoubleSources(): %i params for %s = %s", static_cast<int>(params.size()),
                          qUtf8Printable(label), qUtf8Printable(key));
        gateLog(tr("%1 source params for %2 = %3 found").arg(params.size()).arg(label, key));
        for (const BaseTieParam *param : params) {
            if (!param)
                continue;
            const int type = static_cast<int>(param->metatype());
            GATE_DEBUG_ALWAYS("  Parameter with type %s (%i) %s name=\"%s\"", typeName(param).constData(), type,
                              qUtf8Printable(param->description()), qUtf8Printable(param->name()));
            gateLog(tr("  Parameter with type %1 (%2)").arg(QString::fromUtf8(typeName(param))).arg(type)
                    + identifierParts(param));
        }
    }
    return result;
}
