#ifndef DEPARAMPACK_H
#define DEPARAMPACK_H

#include <QtGlobal>

#include <cstddef>

// A parameter pack: the body of a frame of module 0x01000001. Offsets count
// from the start of the frame; every word is 32-bit little-endian.
//   32 header size H (bytes from offset 32)   52 param time type (0 or 6)
//   36 version                                56 start index (packing 2)
//   40 packing type (1 or 2)                  60 param count
//   44 data type of every parameter           64 common time: seconds (UTC)
//   48 common time type (0 or 6)              68 common time: milliseconds
// The parameters follow at 32 + H up to the frame checksum: the index
// (packing 1 only), the seconds and milliseconds (param time 6 only), the
// value.
namespace DEPack {
constexpr size_t OffsetHeaderSize = 32;
constexpr size_t OffsetVersion = 36;
constexpr size_t OffsetPacking = 40;
constexpr size_t OffsetDataType = 44;
constexpr size_t OffsetCommonTimeType = 48;
constexpr size_t OffsetParamTimeType = 52;
constexpr size_t OffsetStartIndex = 56;
constexpr size_t OffsetParamCount = 60;
constexpr size_t OffsetCommonSeconds = 64;
constexpr size_t OffsetCommonMsecs = 68;
// The pack header as this gateway writes it, and the frame bytes before the
// first parameter.
constexpr quint32 SentHeaderSize = 40;
constexpr quint32 SentVersion = 0x00010000;
constexpr size_t OpenPackBytes = 72;
// Shortest frame with the fixed header fields; with the common time words.
constexpr size_t MinPackBytes = 68;
constexpr size_t MinTimedPackBytes = 76;
// Smallest header size accepted; smallest that holds the common time.
constexpr quint32 MinHeaderSize = 32;
constexpr quint32 TimedHeaderSize = 40;
constexpr quint32 PackingIndexed = 1;    // every parameter carries its index
constexpr quint32 PackingSequential = 2; // indices run from the start index
constexpr quint32 TimeNone = 0;
constexpr quint32 TimeUnixMsecs = 6;
// Largest parameter index; a pack reaching past it ends there.
constexpr quint64 MaxIndex = 0x7FFFFFFF;
// Data types from this value on count as type 0.
constexpr quint32 DataTypeLimit = 44;
} // namespace DEPack

struct DEParamPackHeader {
    quint32 headerSize = 0;
    quint32 version = 0;
    quint32 packingType = 0;
    quint32 dataType = 0; // as received; see DEParamPackReader::dataType()
    quint32 commonTimeType = 0;
    quint32 paramTimeType = 0;
    quint32 startIndex = 0;
    quint32 paramCount = 0;
    quint32 commonSeconds = 0; // with common time type 6
    quint32 commonMsecs = 0;
};

// One parameter of a pack. `value` points into the frame.
struct DEPackParam {
    quint32 index = 0;
    bool ownTime = false; // seconds and msecs are the parameter's (param time 6)
    quint32 seconds = 0;
    quint32 msecs = 0;
    const uchar *value = nullptr;
};

// Reads one parameter pack inside its frame: every word read lies before
// the frame checksum, and every length and position is computed so that
// nothing wraps, whatever the header claims. The frame must outlive the
// reader; nothing is copied.
class DEParamPackReader
{
public:
    // The header's verdict: Ok, or the first fault found.
    enum Verdict {
        Ok,
        TooShort,           // fewer than 68 bytes
        HeaderTooShort,     // H below 32
        HeaderTooLong,      // H above frame size - 36: no room before the checksum
        BadPacking,         // packing type neither 1 nor 2
        BadCommonTimeType,  // common time type neither 0 nor 6
        NoRoomForCommonTime,// common time type 6 in a frame under 76 bytes
        BadParamTimeType,   // param time type neither 0 nor 6
        BadCommonMsecs      // the common time, used by every parameter, has msecs >= 1000
    };
    // One step of the walk over the parameters.
    enum Step {
        Param,        // `param` holds the next parameter
        End,          // param count reached
        Truncated,    // the next parameter would reach past the frame checksum
        IndexTooBig,  // the next index lies above 2^31 - 1 (and so every later one): the pack ends
        IndexUnknown, // an indexed entry above 2^31 - 1, which no parameter has: skip it
        BadMsecs      // the parameter's own msecs are >= 1000: skip it
    };

    // Reads the header of the `size` bytes at `frame`. The fields up to the
    // param count are filled whenever the frame is not too short and its
    // header size fits, whatever the later verdict.
    Verdict readHeader(const char *frame, size_t size);
    const DEParamPackHeader &header() const { return m_header; }
    // The pack's data type, 0 for the values 44 and above.
    quint32 dataType() const;
    // Bytes of the frame given to readHeader().
    size_t frameSize() const { return m_size; }

    // Starts the walk over the parameters, each with `valueSize` bytes of
    // value (readHeader() must have said Ok).
    void begin(size_t valueSize);
    Step next(DEPackParam &param);
    // Parameters read so far.
    quint32 position() const { return m_read; }

private:
    const char *m_frame = nullptr;
    size_t m_size = 0;
    DEParamPackHeader m_header;
    size_t m_pos = 0;
    size_t m_end = 0;
    size_t m_valueSize = 0;
    size_t m_step = 0;
    quint32 m_read = 0;
};

#endif // DEPARAMPACK_H
