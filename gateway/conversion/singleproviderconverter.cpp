#include "conversion/singleproviderconverter.h"

#include "conversion/conversionregistry.h"
#include "core/basetieparam.h"
#include "core/basetieunit.h"
#include "core/diag.h"
#include "core/tieparamshash.h"

#include <dpdatatype.h>

namespace {

QByteArray typeName(const BaseTieParam *param)
{
    return DPDataTypeToString(static_cast<int>(param->metatype())).toUtf8();
}

void appendOnce(QList<BaseTieUnit *> &units, BaseTieUnit *unit)
{
    if (!units.contains(unit))
        units.append(unit);
}

} // namespace

SingleProviderConverter::SingleProviderConverter(BaseTieParam *consumer, BaseTieParam *provider,
                                                 ConversionFunction function)
    : BaseConverter(consumer)
    , m_provider(provider)
    , m_function(function)
{
}

SingleProviderConverter::~SingleProviderConverter() = default;

void SingleProviderConverter::doConvert()
{
    if (!m_function) {
        GATE_DEBUG(2, "SingleProviderConverter::doConvert(): conv is NULL");
        return;
    }
    if (!m_consumer) {
        GATE_DEBUG(2, "SingleProviderConverter::doConvert(): consumer is NULL");
        return;
    }
    if (m_consumer->count() == 0) {
        GATE_DEBUG(5, "SingleProviderConverter::doConvert(): count is 0");
        return;
    }
    GATE_DEBUG(5, "SingleProviderConverter::doConvert(): calling converter to %s",
               qUtf8Printable(m_consumer->description()));
    if (m_function(m_provider, m_consumer) < 0) {
        // Nothing was written: the consumer's unit is neither stamped nor
        // marked for sending.
        GATE_DEBUG(2, "SingleProviderConverter::doConvert(): %s has no storage, nothing converted",
                   qUtf8Printable(m_consumer->description()));
        return;
    }
    if (m_provider)
        m_consumer->updateLastUpdated(m_provider->dataTime());
    m_consumer->doPostConversionWork();
}

SingleProviderConverter *SingleProviderConverter::makeConverter(BaseTieParam *provider, BaseTieParam *consumer)
{
    if (!provider || !consumer) {
        GATE_DEBUG(2, "SingleProviderConverter::makeConverter(): provider (%p) or consumer (%p) is NULL",
                   static_cast<void *>(provider), static_cast<void *>(consumer));
        return nullptr;
    }
    if (provider == consumer) {
        GATE_DEBUG(2, "SingleProviderConverter::makeConverter(): parameter %s cannot feed itself",
                   qUtf8Printable(consumer->description()));
        return nullptr;
    }
    if (BaseConverter *existing = consumer->inputConverter()) {
        // A second converter would leave the first one writing the same
        // consumer from its own provider.
        auto *single = dynamic_cast<SingleProviderConverter *>(existing);
        GATE_DEBUG(2, "SingleProviderConverter::makeConverter(): parameter %s already has a converter",
                   qUtf8Printable(consumer->description()));
        return (single && single->provider() == provider) ? single : nullptr;
    }
    const ConversionFunction function = ConversionRegistry::lookup(provider->metatype(), consumer->metatype());
    if (!function) {
        GATE_DEBUG(2, "SingleProviderConverter::makeConverter(): Converter for parameter %s from %s(%i) to %s(%i) "
                      "was not found",
                   qUtf8Printable(consumer->description()), typeName(provider).constData(),
                   static_cast<int>(provider->metatype()), typeName(consumer).constData(),
                   static_cast<int>(consumer->metatype()));
        return nullptr;
    }
    auto *converter = new SingleProviderConverter(consumer, provider, function);
    provider->outConverters().append(converter);
    consumer->setInputConverter(converter);
    BaseTieUnit *consumerUnit = consumer->myUnit();
    BaseTieUnit *providerUnit = provider->myUnit();
    if (consumerUnit && providerUnit) {
        appendOnce(providerUnit->targetUnits(), consumerUnit);
        appendOnce(consumerUnit->sourceUnits(), providerUnit);
    }
    return converter;
}

BaseConverter *makeConverter(BaseTieParam *consumer, const TieParamsHash &index)
{
    if (!consumer) {
        GATE_DEBUG(2, "makeConverter(): param is NULL");
        return nullptr;
    }
    if (BaseConverter *existing = consumer->inputConverter()) {
        GATE_DEBUG(3, "makeConverter(): Converter for parameter %s already defined",
                   qUtf8Printable(consumer->description()));
        return existing;
    }
    BaseTieParam *provider = index.findProvider(consumer);
    if (!provider || provider == consumer) {
        GATE_DEBUG(2, "makeConverter(): Cann't find source parameter for %s", qUtf8Printable(consumer->description()));
        return nullptr;
    }
    BaseConverter *converter = SingleProviderConverter::makeConverter(provider, consumer);
    if (converter) {
        GATE_DEBUG(3, "makeConverter(): Converter for parameter for %s (from %s(%i) to %s(%i)) was created",
                   qUtf8Printable(consumer->description()), typeName(provider).constData(),
                   static_cast<int>(provider->metatype()), typeName(consumer).constData(),
                   static_cast<int>(consumer->metatype()));
    } else {
        GATE_DEBUG(2, "makeConverter(): Converter for parameter %s from %s(%i) to %s(%i) was not be created",
                   qUtf8Printable(consumer->description()), typeName(provider).constData(),
                   static_cast<int>(provider->metatype()), typeName(consumer).constData(),
                   static_cast<int>(consumer->metatype()));
    }
    return converter;
}
