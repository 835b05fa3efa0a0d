#ifndef CSVPARAMSHASH_H
#define CSVPARAMSHASH_H

#include <QHash>
#include <QList>
#include <QtGlobal>

class CsvTieParam;

// Index of a unit's list parameters by data type and numeric index, used to
// find the parameter a packet addresses. It does not own the parameters.
class CsvParamsHash
{
public:
    CsvParamsHash();
    virtual ~CsvParamsHash();

    // Enters `param` under its own type and index, replacing an earlier
    // entry (null is ignored).
    void add(CsvTieParam *param);
    // True when a parameter of `type` with `index` is held.
    bool contains(qint32 index, quint32 type) const;
    // True when a parameter with `index` is held under any type.
    bool containsIndex(qint32 index) const;
    // True when any parameter of `type` is held.
    bool containsType(quint32 type) const;
    // The parameter of `type` with `index`, or null.
    CsvTieParam *find(qint32 index, quint32 type) const;
    // Every parameter held, in no fixed order.
    QList<CsvTieParam *> params() const;
    // Number of parameters held.
    int size() const;
    // Forgets every entry.
    void clear();

private:
    QHash<quint32, QHash<qint32, CsvTieParam *>> m_byType;
};

#endif // CSVPARAMSHASH_H
