#ifndef BENCHSUPPORT_H
#define BENCHSUPPORT_H

#include "core/basetie.h"
#include "core/basetieparam.h"
#include "core/basetieunit.h"

#include <QSet>

#include <cstddef>

// A parameter whose storage is a window into a buffer owned by the benchmark,
// so that a million parameters cost no allocation each.
class BenchParam : public BaseTieParam
{
public:
    BenchParam(BaseTieUnit *unit, quint32 type, size_t count, uchar *storage, size_t bytes)
        : m_unit(unit), m_type(type), m_count(count), m_storage(storage), m_bytes(bytes)
    {
    }

    quint32 metatype() const override { return m_type; }
    size_t count() const override { return m_count; }
    const uchar *values() const override { return m_storage; }
    uchar *valuesForWrite() override { return m_storage; }
    size_t size() const override { return m_bytes; }
    BaseTieUnit *myUnit() override { return m_unit; }
    const BaseTieUnit *myUnit() const override { return m_unit; }

private:
    BaseTieUnit *m_unit;
    quint32 m_type;
    size_t m_count;
    uchar *m_storage;
    size_t m_bytes;
};

// A tie that is always OK and reports new data for the units it was told of.
class BenchTie : public BaseTie
{
public:
    qint32 state() const override { return 0; }
    bool pollUnitData(BaseTieUnit *unit) override { return m_newData.contains(unit); }
    bool sendUnitData(BaseTieUnit *unit) override
    {
        unit->markSent();
        return true;
    }
    void addUnit(BaseTieUnit *unit) { appendUnit(unit); }
    void reportNewData(BaseTieUnit *unit) { m_newData.insert(unit); }

private:
    QSet<BaseTieUnit *> m_newData;
};

#endif // BENCHSUPPORT_H
