#ifndef MEMORYPARAM_H
#define MEMORYPARAM_H

#include "core/basetie.h"
#include "core/basetieparam.h"
#include "core/basetieunit.h"

#include <QByteArray>
#include <QString>

#include <cstring>

// A parameter with its own value storage of `count` elements of
// `elementBytes` each, for tests of the core model and the conversions.
class MemoryParam : public BaseTieParam
{
public:
    MemoryParam(BaseTieUnit *unit, quint32 type, size_t count, size_t elementBytes)
        : m_unit(unit), m_type(type), m_count(count), m_storage(static_cast<int>(count * elementBytes), '\0')
    {
    }

    quint32 metatype() const override { return m_type; }
    size_t count() const override { return m_count; }
    const uchar *values() const override
    {
        return m_noStorage ? nullptr : reinterpret_cast<const uchar *>(m_storage.constData()) + m_windowOffset;
    }
    uchar *valuesForWrite() override
    {
        return m_noStorage ? nullptr : reinterpret_cast<uchar *>(m_storage.data()) + m_windowOffset;
    }
    size_t size() const override
    {
        return m_noStorage ? 0 : m_windowed ? m_windowBytes : static_cast<size_t>(m_storage.size());
    }
    BaseTieUnit *myUnit() override { return m_unit; }
    const BaseTieUnit *myUnit() const override { return m_unit; }
    QString KKS() const override { return m_kks; }
    QString RTM() const override { return m_rtm; }
    QString IID() const override { return m_iid; }
    QString extID() const override { return m_extId; }
    QString name() const override { return m_name; }

    MemoryParam &ids(const QString &kks, const QString &rtm = QString(), const QString &iid = QString(),
                     const QString &extId = QString())
    {
        m_kks = kks;
        m_rtm = rtm;
        m_iid = iid;
        m_extId = extId;
        return *this;
    }
    void setName(const QString &name) { m_name = name; }
    // Makes values() and valuesForWrite() return null.
    void dropStorage() { m_noStorage = true; }
    // Makes values() start at byte `offset` of the storage and size() report
    // `bytes`, so that the storage bytes around the window show any access
    // outside the parameter's storage (at() and set() still index the whole storage).
    void setWindow(size_t offset, size_t bytes)
    {
        m_windowed = true;
        m_windowOffset = offset;
        m_windowBytes = bytes;
    }
    // Resizes the storage (the element count stays).
    void setStorageSize(size_t bytes) { m_storage.resize(static_cast<int>(bytes)); }
    QByteArray &storage() { return m_storage; }

    // Element `i` read or written as T at byte offset `offset` of a `stride`-byte element.
    template<typename T>
    T at(size_t i, size_t stride = sizeof(T), size_t offset = 0) const
    {
        T v;
        std::memcpy(&v, m_storage.constData() + i * stride + offset, sizeof v);
        return v;
    }
    template<typename T>
    void set(size_t i, T v, size_t stride = sizeof(T), size_t offset = 0)
    {
        std::memcpy(m_storage.data() + i * stride + offset, &v, sizeof v);
    }

private:
    BaseTieUnit *m_unit;
    quint32 m_type;
    size_t m_count;
    QByteArray m_storage;
    bool m_noStorage = false;
    bool m_windowed = false;
    size_t m_windowOffset = 0;
    size_t m_windowBytes = 0;
    QString m_kks, m_rtm, m_iid, m_extId, m_name;
};

// A tie whose state, polling answer and sends are under the test's control.
class TestTie : public BaseTie
{
    Q_OBJECT
public:
    using BaseTie::BaseTie;

    qint32 state() const override { return m_state; }
    bool pollUnitData(BaseTieUnit *unit) override
    {
        ++polls;
        return newData.contains(unit);
    }
    bool sendUnitData(BaseTieUnit *unit) override
    {
        sent.append(unit);
        unit->markSent();
        return true;
    }
    void addUnit(BaseTieUnit *unit) { appendUnit(unit); }
    void setState(qint32 state) { m_state = state; }
    // The tie's own invalidation pass, for ties that override pollAndConvert.
    void convertInvalidated() { convertInvalidatedUnits(); }

    QList<BaseTieUnit *> newData;
    QList<BaseTieUnit *> sent;
    int polls = 0;

private:
    qint32 m_state = 0;
};

#endif // MEMORYPARAM_H
