#ifndef DEPARAMINDEX_H
#define DEPARAMINDEX_H

#include <QHash>
#include <QVarLengthArray>
#include <QtGlobal>

class BaseTieUnit;
class CsvTieParam;

// The list parameters of one DE tie by data type and numeric index. Two
// lists of one tie may hold the same type and index: every parameter
// entered under a key is kept, so a value received for it reaches all of
// them. It does not own the parameters.
class DEParamIndex
{
public:
    // The parameters under one key, in the order they were entered.
    using Entries = QVarLengthArray<CsvTieParam *, 1>;
    // The keys of one data type.
    using TypeTable = QHash<qint32, Entries>;

    // Enters `param` under its type and index (null and type 0 are ignored).
    void add(CsvTieParam *param);
    // Enters every list parameter of `unit`.
    void addUnit(BaseTieUnit *unit);
    // The keys of `type`, or null when it has none.
    const TypeTable *table(quint32 type) const;
    bool containsType(quint32 type) const { return table(type) != nullptr; }
    // The parameters of `type` with `index`, or null.
    const Entries *find(qint32 index, quint32 type) const;
    // Number of parameters entered.
    int size() const { return m_size; }

private:
    QHash<quint32, TypeTable> m_byType;
    int m_size = 0;
};

#endif // DEPARAMINDEX_H
