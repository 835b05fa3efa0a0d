#include "links/de/deparampack.h"

#include "links/de/deframe.h"

DEParamPackReader::Verdict DEParamPackReader::readHeader(const char *frame, size_t size)
{
    m_frame = frame;
    m_size = size;
    m_header = DEParamPackHeader();
    m_read = 0;
    if (size < DEPack::MinPackBytes)
        return TooShort;
    DEParamPackHeader &h = m_header;
    h.headerSize = deWord(frame + DEPack::OffsetHeaderSize);
    if (h.headerSize < DEPack::MinHeaderSize)
        return HeaderTooShort;
    // The parameters start at 32 + H and must not start past the checksum.
    if (h.headerSize > size - DEFrame::OverheadBytes)
        return HeaderTooLong;
    h.version = deWord(frame + DEPack::OffsetVersion);
    h.packingType = deWord(frame + DEPack::OffsetPacking);
    h.dataType = deWord(frame + DEPack::OffsetDataType);
    h.commonTimeType = deWord(frame + DEPack::OffsetCommonTimeType);
    h.paramTimeType = deWord(frame + DEPack::OffsetParamTimeType);
    h.startIndex = deWord(frame + DEPack::OffsetStartIndex);
    h.paramCount = deWord(frame + DEPack::OffsetParamCount);
    if (h.packingType != DEPack::PackingIndexed && h.packingType != DEPack::PackingSequential)
        return BadPacking;
    if (h.commonTimeType == DEPack::TimeUnixMsecs) {
        // The two words at 64 and 68 must lie before the checksum.
        if (size < DEPack::MinTimedPackBytes)
            return NoRoomForCommonTime;
        h.commonSeconds = deWord(frame + DEPack::OffsetCommonSeconds);
        h.commonMsecs = deWord(frame + DEPack::OffsetCommonMsecs);
    } else if (h.commonTimeType != DEPack::TimeNone) {
        return BadCommonTimeType;
    }
    if (h.paramTimeType != DEPack::TimeNone && h.paramTimeType != DEPack::TimeUnixMsecs)
        return BadParamTimeType;
    if (h.paramTimeType == DEPack::TimeNone && h.commonTimeType == DEPack::TimeUnixMsecs && h.commonMsecs >= 1000)
        return BadCommonMsecs;
    return Ok;
}

quint32 DEParamPackReader::dataType() const
{
    return m_header.dataType < DEPack::DataTypeLimit ? m_header.dataType : 0;
}

void DEParamPackReader::begin(size_t valueSize)
{
    m_valueSize = valueSize;
    m_step = valueSize + (m_header.packingType == DEPack::PackingIndexed ? 4 : 0)
        + (m_header.paramTimeType == DEPack::TimeUnixMsecs ? 8 : 0);
    // readHeader() made sure that 32 + H <= size - 4.
    m_pos = DEFrame::HeaderBytes + m_header.headerSize;
    m_end = m_size - DEFrame::ChecksumBytes;
    m_read = 0;
}

DEParamPackReader::Step DEParamPackReader::next(DEPackParam &param)
{
    if (m_read >= m_header.paramCount)
        return End;
    // m_pos never passes m_end, so the difference cannot wrap.
    if (m_end - m_pos < m_step)
        return Truncated;
    const char *p = m_frame + m_pos;
    quint64 index;
    if (m_header.packingType == DEPack::PackingIndexed) {
        index = deWord(p);
        p += 4;
    } else {
        index = static_cast<quint64>(m_header.startIndex) + m_read;
    }
    if (index > DEPack::MaxIndex) {
        // An entry of its own (packing 1) is skipped as any unknown index;
        // counted on (packing 2), every later index lies above it too.
        if (m_header.packingType != DEPack::PackingIndexed)
            return IndexTooBig;
        m_pos += m_step;
        ++m_read;
        return IndexUnknown;
    }
    param.index = static_cast<quint32>(index);
    param.ownTime = m_header.paramTimeType == DEPack::TimeUnixMsecs;
    if (param.ownTime) {
        param.seconds = deWord(p);
        param.msecs = deWord(p + 4);
        p += 8;
    } else {
        param.seconds = m_header.commonSeconds;
        param.msecs = m_header.commonMsecs;
    }
    param.value = reinterpret_cast<const uchar *>(p);
    m_pos += m_step;
    ++m_read;
    return param.ownTime && param.msecs >= 1000 ? BadMsecs : Param;
}
