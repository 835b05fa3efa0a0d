#include "links/de/qdepackprocessor.h"

#include "core/clock.h"
#include "core/diag.h"
#include "core/tiecounters.h"
#include "links/de/deframe.h"
#include "links/de/deparampack.h"

#include <dpdatatype.h>

namespace {

QByteArray typeName(quint32 type)
{
    return DPDataTypeToString(static_cast<int>(type)).toUtf8();
}

} // namespace

QDEPackProcessorBase::QDEPackProcessorBase(QObject *parent)
    : QObject(parent)
    , m_counters(nullptr)
{
}

QDEPackProcessorBase::~QDEPackProcessorBase() = default;

void QDEPackProcessorBase::countDropped()
{
    if (m_counters)
        ++m_counters->framesDropped;
}

QDEStubPackProcessor::QDEStubPackProcessor(QObject *parent)
    : QDEPackProcessorBase(parent)
{
}

quint32 QDEStubPackProcessor::module() const
{
    return DEFrame::ModuleKeepAlive;
}

void QDEStubPackProcessor::slotPacketReceived(const QByteArray &pack)
{
    if (static_cast<size_t>(pack.size()) < DEFrame::HeaderBytes) {
        GATE_DEBUG(2, "QDEStubPackProcessor::slotPacketReceived(): packet too short (%i < %zu)",
                   static_cast<int>(pack.size()), DEFrame::HeaderBytes);
        return;
    }
    const quint32 module = deWord(pack.constData() + DEFrame::OffsetModule);
    GATE_DEBUG(2, "QDEStubPackProcessor::slotPacketReceived(): packet received (with module = 0x%X/%u)", module, module);
}

QDEParamPackProcessor::QDEParamPackProcessor(QObject *parent)
    : QDEPackProcessorBase(parent)
    , m_timeSeconds(0)
    , m_timeMsecs(0)
{
}

quint32 QDEParamPackProcessor::module() const
{
    return DEFrame::ModuleParamPack;
}

bool QDEParamPackProcessor::isTypeSupported(quint32) const
{
    return false;
}

size_t QDEParamPackProcessor::valueSize(quint32) const
{
    return 0;
}

void QDEParamPackProcessor::packRefused(quint32, quint32)
{
}

void QDEParamPackProcessor::beginPack(quint32)
{
}

void QDEParamPackProcessor::unknownParameter(quint32) {}

void QDEParamPackProcessor::processParameter(quint32 type, quint32 index, const uchar *, size_t, const QDateTime &)
{
    GATE_DEBUG(1, "QDEParamPackProcessor::processParameter(): Parameter %u of type %u(%s) should be processed in descendant",
               index, type, typeName(type).constData());
}

void QDEParamPackProcessor::finishPack()
{
}

const QDateTime &QDEParamPackProcessor::timeOf(quint32 seconds, quint32 msecs)
{
    if (!m_time.isValid() || seconds != m_timeSeconds || msecs != m_timeMsecs) {
        m_time = QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(seconds) * 1000 + msecs, Qt::UTC);
        m_timeSeconds = seconds;
        m_timeMsecs = msecs;
    }
    return m_time;
}

#define PACK_DEBUG(level, text, ...) GATE_DEBUG(level, "QDEParamPackProcessor::slotPacketReceived(): " text, __VA_ARGS__)

void QDEParamPackProcessor::slotPacketReceived(const QByteArray &pack)
{
    DEParamPackReader reader;
    const size_t size = static_cast<size_t>(pack.size());
    const DEParamPackReader::Verdict verdict = reader.readHeader(pack.constData(), size);
    const DEParamPackHeader &h = reader.header();
    switch (verdict) {
    case DEParamPackReader::TooShort:
        PACK_DEBUG(2, "packet too short packet %i < %zu", static_cast<int>(size), DEPack::MinPackBytes);
        countDropped();
        return;
    case DEParamPackReader::HeaderTooShort:
        PACK_DEBUG(2, "internal packet header too short %u < %zu", h.headerSize, size_t(DEPack::MinHeaderSize));
        countDropped();
        return;
    case DEParamPackReader::HeaderTooLong:
        PACK_DEBUG(2, "internal packet header size exceed possible space %u > %zu", h.headerSize,
                   size - DEFrame::OverheadBytes);
        countDropped();
        return;
    default:
        break;
    }
    if (debugEnabled(4)) {
        qDebug("      Header size: %u", h.headerSize);
        qDebug("          Version: %u.%u.%u.%u (0x%X)", h.version >> 24, (h.version >> 16) & 0xFF,
               (h.version >> 8) & 0xFF, h.version & 0xFF, h.version);
        qDebug("     Packing Type: %u", h.packingType);
        qDebug("        Data Type: %u", h.dataType);
        qDebug("      Common Time: %u", h.commonTimeType);
        qDebug("       Param Time: %u", h.paramTimeType);
        qDebug("      Start Index: %u", h.startIndex);
        qDebug("      Param Count: %u", h.paramCount);
    }
    switch (verdict) {
    case DEParamPackReader::BadPacking:
        PACK_DEBUG(2, "unsupported packing type %u", h.packingType);
        break;
    case DEParamPackReader::BadCommonTimeType:
        PACK_DEBUG(2, "unsupported common timepoint type %u", h.commonTimeType);
        break;
    case DEParamPackReader::NoRoomForCommonTime:
        PACK_DEBUG(2, "packet too short packet %i < %zu", static_cast<int>(size), DEPack::MinTimedPackBytes);
        break;
    case DEParamPackReader::BadParamTimeType:
        PACK_DEBUG(2, "unsupported param timepoint type %u", h.paramTimeType);
        break;
    case DEParamPackReader::BadCommonMsecs:
        PACK_DEBUG(2, "common timepoint with %u milliseconds ... ignore incoming packet", h.commonMsecs);
        break;
    default:
        break;
    }
    if (verdict != DEParamPackReader::Ok) {
        countDropped();
        return;
    }

    const quint32 type = reader.dataType();
    if (!isTypeSupported(type)) {
        PACK_DEBUG(2, "not awaited datatype %s(%u) ... ignore incoming packet", typeName(type).constData(), type);
        packRefused(type, h.paramCount);
        return;
    }
    const size_t bytes = valueSize(type);
    if (bytes == 0) {
        PACK_DEBUG(2, "datatype %s(%u) has no value size ... ignore incoming packet", typeName(type).constData(), type);
        countDropped();
        return;
    }
    QDateTime now;
    if (h.commonTimeType == DEPack::TimeNone) {
        GATE_DEBUG(5, "  No common timepoint. Will use current time if needed");
        now = Clock::nowUtc();
    } else if (h.headerSize < DEPack::TimedHeaderSize) {
        PACK_DEBUG(3, "header doesn't contain enough space for timepoint %zu < %zu", size_t(h.headerSize),
                   size_t(DEPack::TimedHeaderSize));
    }

    beginPack(type);
    reader.begin(bytes);
    DEPackParam param;
    bool badMsecs = false;
    for (;;) {
        const DEParamPackReader::Step step = reader.next(param);
        if (step == DEParamPackReader::End)
            break;
        if (step == DEParamPackReader::Truncated) {
            PACK_DEBUG(2, "packet too small for all params (%u of %u read)", reader.position(), h.paramCount);
            countDropped();
            break;
        }
        if (step == DEParamPackReader::IndexTooBig) {
            PACK_DEBUG(2, "parameter index past %llu after %u params ... ignore the rest of the packet",
                       static_cast<unsigned long long>(DEPack::MaxIndex), reader.position());
            countDropped();
            break;
        }
        if (step == DEParamPackReader::IndexUnknown) {
            unknownParameter(type);
            continue;
        }
        if (step == DEParamPackReader::BadMsecs) {
            PACK_DEBUG(2, "parameter %u with %u milliseconds ... ignore it", param.index, param.msecs);
            badMsecs = true;
            continue;
        }
        const bool useNow = !param.ownTime && h.commonTimeType == DEPack::TimeNone;
        processParameter(type, param.index, param.value, bytes, useNow ? now : timeOf(param.seconds, param.msecs));
    }
    // A pack whose values were dropped for their time counts once, as one
    // whose common time is bad does.
    if (badMsecs)
        countDropped();
    finishPack();
}
