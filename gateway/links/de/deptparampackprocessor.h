#ifndef DEPTPARAMPACKPROCESSOR_H
#define DEPTPARAMPACKPROCESSOR_H

#include "links/de/deparamindex.h"
#include "links/de/qdepackprocessor.h"

#include <QVarLengthArray>

class BaseDEProtocolTie;
class BaseTieUnit;

// Writes the parameters of received packs into the from-this parameters of
// its DE tie: every parameter of the tie with the pack's type and the
// parameter's index gets the value (as much of it as its storage holds) and
// the parameter's time; the units written are converted in the next tick.
class DEPTParamPackProcessor : public QDEParamPackProcessor
{
    Q_OBJECT
public:
    // `tie` is not owned (the tie owns the processor).
    explicit DEPTParamPackProcessor(BaseDEProtocolTie *tie, QObject *parent = nullptr);
    ~DEPTParamPackProcessor() override;

    BaseDEProtocolTie *tie() const { return m_tie; }

protected:
    // Types of which the tie has incoming parameters (never type 0).
    bool isTypeSupported(quint32 type) const override;
    // The element size of the type.
    size_t valueSize(quint32 type) const override;
    void packRefused(quint32 type, quint32 count) override;
    void beginPack(quint32 type) override;
    void processParameter(quint32 type, quint32 index, const uchar *value, size_t length,
                          const QDateTime &time) override;
    void unknownParameter(quint32 type) override;
    void finishPack() override;

private:
    BaseDEProtocolTie *m_tie;
    // The tie's parameters of the pack's type (null when it has none).
    const DEParamIndex::TypeTable *m_table;
    QVarLengthArray<BaseTieUnit *, 4> m_touched;
    BaseTieUnit *m_lastUnit;
    quint64 m_taken;
    quint64 m_unexpected;
};

#endif // DEPTPARAMPACKPROCESSOR_H
