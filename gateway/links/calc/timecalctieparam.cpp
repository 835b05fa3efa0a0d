#include "links/calc/timecalctieparam.h"

#include "core/clock.h"
#include "core/diag.h"

#include <dpdatatype.h>

#include <cstring>

namespace {

bool isSecondsType(quint32 type)
{
    return type == dpdtDWord || type == dpdtSDWord || type == dpdtTimeT32;
}

// Seconds since the epoch as the 32-bit word the seconds types hold.
quint32 epochSeconds32(const QDateTime &dt)
{
    return static_cast<quint32>(dt.toSecsSinceEpoch());
}

// Writes `secs` into every 4-byte element the storage holds.
void writeSeconds(uchar *data, size_t elements, quint32 secs)
{
    for (size_t i = 0; i < elements; ++i)
        std::memcpy(data + i * sizeof secs, &secs, sizeof secs);
}

} // namespace

TimeCalcTieParam::TimeCalcTieParam(BaseTieUnit *unit, quint32 type, qint32 index, const QString &extId,
                                   const QString &iid, const QString &kks, const QString &rtm, qint32 timeKind)
    : FuncTieParam(unit, type, index, extId, iid, kks, rtm)
    , m_timeKind(timeKind)
{
}

TimeCalcTieParam::~TimeCalcTieParam() = default;

bool TimeCalcTieParam::update()
{
    const quint32 type = metatype();
    GATE_DEBUG(6, "TimeCalcTieParam::update() was called for %i/%i (%s)", m_timeKind, static_cast<int>(type),
               qUtf8Printable(DPDataTypeToString(static_cast<int>(type))));
    if (m_timeKind != tkCurrentUtc && m_timeKind != tkCurrentLocal)
        return false;
    const QDateTime now = m_timeKind == tkCurrentUtc ? Clock::nowUtc() : Clock::nowLocal();
    const quint32 secs = epochSeconds32(now);
    uchar *data = valuesForWrite();
    if (isSecondsType(type)) {
        if (data)
            writeSeconds(data, qMin(count(), size() / sizeof(quint32)), secs);
        return true;
    }
    if (type == dpdtTimeSpec) {
        GATE_DEBUG(6, "TimeCalcTieParam::update() for dpdtTimeSpec p=%p", static_cast<void *>(data));
        if (data) {
            const quint32 words[2] = {secs, static_cast<quint32>(now.time().msec()) * 1000000u};
            const size_t elements = qMin(count(), size() / sizeof words);
            for (size_t i = 0; i < elements; ++i) {
                std::memcpy(data + i * sizeof words, words, sizeof words);
                GATE_DEBUG(6, "    dpdtTimeSpec[%i] %u,%u", static_cast<int>(i), words[0], words[1]);
            }
        }
        return true;
    }
    return false;
}

void TimeCalcTieParam::reset()
{
    FuncTieParam::reset();
    const quint32 type = metatype();
    if (!isSecondsType(type))
        return;
    QDateTime now;
    if (m_timeKind == tkCurrentUtc || m_timeKind == tkStartUtc)
        now = Clock::nowUtc();
    else if (m_timeKind == tkCurrentLocal || m_timeKind == tkStartLocal)
        now = Clock::nowLocal();
    else
        return;
    if (uchar *data = valuesForWrite())
        writeSeconds(data, qMin(count(), size() / sizeof(quint32)), epochSeconds32(now));
}
