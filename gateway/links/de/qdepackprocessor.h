#ifndef QDEPACKPROCESSOR_H
#define QDEPACKPROCESSOR_H

#include <QByteArray>
#include <QDateTime>
#include <QObject>

#include <cstddef>

struct TieCounters;

// Takes the frames of one module number from a DE protocol object, which
// hands each frame to the processor registered for its module.
class QDEPackProcessorBase : public QObject
{
    Q_OBJECT
public:
    explicit QDEPackProcessorBase(QObject *parent = nullptr);
    ~QDEPackProcessorBase() override;

    // The module number whose frames this processor takes.
    virtual quint32 module() const = 0;
    // Counters of the tie the processor works for (not owned; may be null):
    // dropped frames are counted there.
    void setCounters(TieCounters *counters) { m_counters = counters; }
    TieCounters *counters() const { return m_counters; }

public slots:
    // One whole frame (header, body, checksum), checksums already verified.
    virtual void slotPacketReceived(const QByteArray &pack) = 0;

protected:
    void countDropped();

private:
    TieCounters *m_counters;
};

// Absorbs the frames of module 0 (keepalives).
class QDEStubPackProcessor : public QDEPackProcessorBase
{
    Q_OBJECT
public:
    explicit QDEStubPackProcessor(QObject *parent = nullptr);
    quint32 module() const override;

public slots:
    void slotPacketReceived(const QByteArray &pack) override;
};

// Reads parameter packs (module 0x01000001) and hands each parameter to its
// descendant, which says which data types it wants, how big their values
// are, and what to do with each parameter. A malformed pack is dropped
// whole before any parameter is handed on, except one that ends early: the
// parameters before its end have been handed on.
class QDEParamPackProcessor : public QDEPackProcessorBase
{
    Q_OBJECT
public:
    explicit QDEParamPackProcessor(QObject *parent = nullptr);
    quint32 module() const override;

public slots:
    void slotPacketReceived(const QByteArray &pack) override;

protected:
    // Whether packs of `type` are wanted; base: false.
    virtual bool isTypeSupported(quint32 type) const;
    // Bytes of one value of `type` on the wire; base: 0 (such packs are refused).
    virtual size_t valueSize(quint32 type) const;
    // Called for a pack of `type` that isTypeSupported() refused, which
    // claims `count` parameters; base: nothing.
    virtual void packRefused(quint32 type, quint32 count);
    // Called before the first parameter of an accepted pack of `type`; base: nothing.
    virtual void beginPack(quint32 type);
    // One parameter: `length` bytes of value at `value` (inside the frame,
    // valid during the call), stamped `time` (UTC). Base: a debug message.
    virtual void processParameter(quint32 type, quint32 index, const uchar *value, size_t length,
                                  const QDateTime &time);
    // A parameter of `type` whose index (above 2^31 - 1) no list can hold
    // was skipped; base: nothing.
    virtual void unknownParameter(quint32 type);
    // Called after the last parameter of an accepted pack, also of one that
    // ended early; base: nothing.
    virtual void finishPack();

private:
    // The UTC date-time of `seconds` and `msecs`, reusing the last one made
    // (the parameters of a pack mostly share their time).
    const QDateTime &timeOf(quint32 seconds, quint32 msecs);

    QDateTime m_time;
    quint32 m_timeSeconds;
    quint32 m_timeMsecs;
};

#endif // QDEPACKPROCESSOR_H
