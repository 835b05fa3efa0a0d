#ifndef BASECONVERTER_H
#define BASECONVERTER_H

class BaseTieParam;

// The link that fills one consumer parameter from its source. The consumer
// is not owned. Converters are made once while the configuration is bound
// and live as long as it.
class BaseConverter
{
public:
    explicit BaseConverter(BaseTieParam *consumer);
    virtual ~BaseConverter();

    // Runs the conversion once: writes the consumer and stamps its unit.
    virtual void doConvert() = 0;

    // The parameter this converter writes.
    BaseTieParam *consumer() const { return m_consumer; }

protected:
    BaseTieParam *m_consumer;
};

#endif // BASECONVERTER_H
