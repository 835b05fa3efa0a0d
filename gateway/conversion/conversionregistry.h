#ifndef CONVERSIONREGISTRY_H
#define CONVERSIONREGISTRY_H

#include "conversion/conversionfunctions.h"

#include <QHash>
#include <QList>
#include <QPair>
#include <QtGlobal>

#include <cstddef>

// One row of a conversion table: the function that fills a consumer of type
// `consumer` from a provider of type `provider` (DPDataType values).
struct ConversionRow {
    qint32 provider;
    qint32 consumer;
    ConversionFunction function;
};

// Conversion functions by (provider type, consumer type). The program has
// one registry, global(), filled once at start from the built-in table.
class ConversionRegistry
{
public:
    ConversionRegistry();

    // Enters `count` rows in order; a row whose pair is already present
    // replaces the earlier function. Rows without a function are ignored.
    void fill(const ConversionRow *rows, size_t count);
    // The function for the pair, or null when the pair is not convertible.
    ConversionFunction find(quint32 providerType, quint32 consumerType) const;
    // Number of convertible pairs.
    int size() const;
    // Every convertible pair as (provider type, consumer type), in no fixed order.
    QList<QPair<quint32, quint32>> pairs() const;
    // Forgets every pair.
    void clear();

    // The program's registry; empty until fillGlobal().
    static ConversionRegistry &global();
    // Fills the program's registry from the built-in table. The application
    // calls it once at start, before the configuration is bound.
    static void fillGlobal();
    // The function for the pair in the program's registry, or null.
    static ConversionFunction lookup(quint32 providerType, quint32 consumerType);
    // The built-in table, in table order, and its number of rows.
    static const ConversionRow *builtinTable();
    static size_t builtinTableSize();

private:
    static quint64 key(quint32 providerType, quint32 consumerType)
    {
        return (static_cast<quint64>(providerType) << 32) | consumerType;
    }

    QHash<quint64, ConversionFunction> m_functions;
};

#endif // CONVERSIONREGISTRY_H
