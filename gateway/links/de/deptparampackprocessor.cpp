#include "links/de/deptparampackprocessor.h"

#include "config/csvtieparam.h"
#include "core/clock.h"
#include "core/diag.h"
#include "links/de/basedeprotocoltie.h"

#include <dpdatatype.h>

#include <cstring>

namespace {

QByteArray typeName(quint32 type)
{
    return DPDataTypeToString(static_cast<int>(type)).toUtf8();
}

} // namespace

DEPTParamPackProcessor::DEPTParamPackProcessor(BaseDEProtocolTie *tie, QObject *parent)
    : QDEParamPackProcessor(parent)
    , m_tie(tie)
    , m_table(nullptr)
    , m_lastUnit(nullptr)
    , m_taken(0)
    , m_unexpected(0)
{
}

DEPTParamPackProcessor::~DEPTParamPackProcessor() = default;

bool DEPTParamPackProcessor::isTypeSupported(quint32 type) const
{
    if (!m_tie) {
        GATE_DEBUG(1, "DEPTParamPackProcessor::isTypeSupported(): my tie is NULL");
        return false;
    }
    return type != 0 && m_tie->incomingIndex().containsType(type);
}

size_t DEPTParamPackProcessor::valueSize(quint32 type) const
{
    return static_cast<size_t>(DPDataTypeElementSize(static_cast<int>(type)));
}

void DEPTParamPackProcessor::packRefused(quint32, quint32)
{
    if (m_tie)
        m_tie->noteUnexpected(1);
}

void DEPTParamPackProcessor::beginPack(quint32 type)
{
    m_table = m_tie ? m_tie->incomingIndex().table(type) : nullptr;
    m_touched.clear();
    m_lastUnit = nullptr;
    m_taken = 0;
    m_unexpected = 0;
}

void DEPTParamPackProcessor::unknownParameter(quint32 type)
{
    GATE_DEBUG(3, "DEPTParamPackProcessor::unknownParameter(): Unexpected parameter past 2^31-1 of type %u(%s)", type,
               typeName(type).constData());
    ++m_unexpected;
}

void DEPTParamPackProcessor::processParameter(quint32 type, quint32 index, const uchar *value, size_t length,
                                              const QDateTime &time)
{
    const DEParamIndex::Entries *entries = nullptr;
    if (m_table) {
        const auto it = m_table->constFind(static_cast<qint32>(index));
        if (it != m_table->constEnd())
            entries = &it.value();
    }
    if (!entries) {
        GATE_DEBUG(3, "DEPTParamPackProcessor::processParameter(): Unexpected parameter %u of type %u(%s)", index, type,
                   typeName(type).constData());
        ++m_unexpected;
        return;
    }
    bool taken = false;
    for (CsvTieParam *param : *entries) {
        uchar *storage = param->valuesForWrite();
        if (!storage) {
            GATE_DEBUG(2, "DEPTParamPackProcessor::processParameter(): internal error While getting parameter %u of type "
                          "%u(%s)",
                       index, type, typeName(type).constData());
            continue;
        }
        const size_t size = param->size();
        if (size == 0) {
            GATE_DEBUG(2, "DEPTParamPackProcessor::processParameter(): Zero size parameter %u of type %u(%s)", index,
                       type, typeName(type).constData());
            continue;
        }
        std::memcpy(storage, value, qMin(length, size));
        param->setDataTime(time);
        BaseTieUnit *unit = param->myUnit();
        if (unit != m_lastUnit) {
            m_lastUnit = unit;
            if (!m_touched.contains(unit))
                m_touched.append(unit);
        }
        taken = true;
        GATE_DEBUG(6, "DEPTParamPackProcessor::processParameter(): Parameter %u of type %u(%s) with id=%s processed",
                   index, type, typeName(type).constData(), qUtf8Printable(param->description()));
    }
    if (taken)
        ++m_taken;
}

void DEPTParamPackProcessor::finishPack()
{
    if (!m_tie)
        return;
    m_tie->counters().valuesReceived += m_taken;
    if (!m_touched.isEmpty()) {
        const QDateTime now = Clock::nowUtc();
        for (BaseTieUnit *unit : qAsConst(m_touched)) {
            GATE_DEBUG(6, "      Update lastReceived for unit %p", static_cast<void *>(unit));
            m_tie->noteUnitReceived(unit, now);
        }
    }
    if (m_unexpected)
        m_tie->noteUnexpected(m_unexpected);
    m_touched.clear();
    m_table = nullptr;
}
