#ifndef BASECONVERTER_H
#define BASECONVERTER_H

class BaseTieParam;

// The link that fills one consumer parameter from its source. The consumer
// is not owned, and neither the consumer nor its source frees the
// converter: converters are made once while the configuration is bound, and
// the configuration owns them and frees them after its ties.
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
