#ifndef CSVTIEPARAM_H
#define CSVTIEPARAM_H

#include "core/basetieparam.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QVector>

class BaseTieUnit;

// A parameter built from one row of a parameter list: a data type, a numeric
// index, four identifier texts and up to three dimensions. It owns a
// zero-filled value storage of (element size of the type x element count)
// bytes; a type without element size gets no storage and type 0.
class CsvTieParam : public BaseTieParam
{
public:
    // Most dimensions a parameter may have.
    static constexpr int MaxDimensions = 3;

    // `unit` owns the parameter once it is added to it (not owned here).
    // `dimensions` holds up to three sizes; more are refused (one element).
    CsvTieParam(BaseTieUnit *unit, quint32 type, qint32 index, const QString &extId, const QString &iid,
                const QString &kks, const QString &rtm, const QVector<quint32> &dimensions = {});
    ~CsvTieParam() override;

    quint32 metatype() const override;
    // Product of the dimensions (1 without dimensions).
    size_t count() const override;
    // The storage; null while it is empty.
    const uchar *values() const override;
    uchar *valuesForWrite() override;
    size_t size() const override;
    BaseTieUnit *myUnit() override;
    const BaseTieUnit *myUnit() const override;
    // The numeric index (-1 when the list has no index column).
    qint64 number() const override;
    QString extID() const override;
    // The numeric index as decimal text.
    QString numberString() const override;
    QString IID() const override;
    QString KKS() const override;
    QString RTM() const override;
    // The parameter's own data time (invalid until set).
    QDateTime dataTime() const override;
    // Sets the own data time to `dt`, then advances the unit's last updated.
    void updateLastUpdated(const QDateTime &dt) override;

    // Sets the own data time without touching the unit.
    void setDataTime(const QDateTime &dt);
    qint32 index() const { return m_index; }

    // Number of dimensions (0..3).
    virtual int dimensionCount() const;
    // Clamps `count` to 0..3; new dimensions get size 1.
    virtual void setDimensionCount(int count);
    // Size of dimension `k`; 1 when `k` is out of range.
    virtual quint32 dimensionSize(int k) const;
    // Sets the size of dimension `k`; ignored when `k` is out of range or
    // the storage would grow past MaxStorageBytes. Returns whether it was set.
    virtual bool setDimensionSize(int k, quint32 size);
    // Takes the first min(count, 3) sizes of `sizes`. A null array with a
    // positive count, or a storage past MaxStorageBytes, is refused (false).
    virtual bool setDimensions(int count, const quint32 *sizes);
    // Takes `dimensions`; more than three entries, or a storage past
    // MaxStorageBytes, is refused (false, nothing changes).
    virtual bool setDimensions(const QVector<quint32> &dimensions);
    const QVector<quint32> &dimensions() const { return m_dimensions; }

    // Largest value storage a parameter accepts; larger dimensions are a
    // configuration mistake and are refused instead of exhausting memory.
    static constexpr quint64 MaxStorageBytes = 64u * 1024u * 1024u;

private:
    // Bytes the storage needs for `dimensions`, or -1 past MaxStorageBytes.
    qint64 storageBytesFor(const QVector<quint32> &dimensions) const;
    // Takes `dimensions` when their storage fits and resizes the storage.
    bool applyDimensions(const QVector<quint32> &dimensions);

    BaseTieUnit *m_unit;
    QByteArray m_storage;
    QDateTime m_dataTime;
    quint32 m_type;
    qint32 m_index;
    QString m_extId;
    QString m_iid;
    QString m_kks;
    QString m_rtm;
    QVector<quint32> m_dimensions;
};

#endif // CSVTIEPARAM_H
