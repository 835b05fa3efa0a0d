#ifndef SINGLEPROVIDERCONVERTER_H
#define SINGLEPROVIDERCONVERTER_H

#include "conversion/conversionfunctions.h"
#include "core/baseconverter.h"

class BaseTieParam;
class TieParamsHash;

// The converter that fills one consumer parameter from one provider
// parameter through a conversion function. Neither parameter is owned. A
// converter made while a configuration is bound belongs to that
// configuration (GateConfig::bind); one made directly belongs to its caller.
class SingleProviderConverter : public BaseConverter
{
public:
    SingleProviderConverter(BaseTieParam *consumer, BaseTieParam *provider, ConversionFunction function);
    ~SingleProviderConverter() override;

    // Writes the consumer from the provider (invalid when the provider is
    // missing or unusable), stamps the consumer's unit with the provider's
    // data time and marks it converted. A consumer with no elements, or a
    // converter without function or consumer, is left alone.
    void doConvert() override;

    BaseTieParam *provider() const { return m_provider; }
    ConversionFunction function() const { return m_function; }

    // Makes the converter from `provider` to `consumer` with the function the
    // program's registry holds for their types, appends it to the provider's
    // output converters, makes it the consumer's input converter and links
    // the two units (each once). Null when either is missing, when they are
    // the same parameter, or when the pair of types is not convertible. A
    // consumer that already has an input converter gets no second one: the
    // existing converter is returned when it reads from `provider`, else
    // null. A new converter belongs to the caller.
    static SingleProviderConverter *makeConverter(BaseTieParam *provider, BaseTieParam *consumer);

private:
    BaseTieParam *m_provider;
    ConversionFunction m_function;
};

// Binds `consumer` to its provider in `index`: returns its existing input
// converter, or a new one from the provider found by identifier (KKS, RTM,
// IID, external id); null when there is no provider or no conversion for the
// pair of types. Fits GateConfig::ConverterFactory: the binding
// configuration owns the converters it makes.
BaseConverter *makeConverter(BaseTieParam *consumer, const TieParamsHash &index);

#endif // SINGLEPROVIDERCONVERTER_H
