#ifndef DEFRAME_H
#define DEFRAME_H

#include <QByteArray>
#include <QtEndian>
#include <QtGlobal>

#include <cstddef>

// The DE frame, all words 32-bit little-endian:
//   0  module number          24  body length L
//   4  20 reserved bytes      28  header checksum (CRC-16 of bytes 0..27)
//  32  body (L bytes)     32 + L  frame checksum (CRC-16 of bytes 0..31 + L)
// A frame is L + 36 bytes long.
namespace DEFrame {
constexpr quint32 ModuleKeepAlive = 0;
constexpr quint32 ModuleParamPack = 0x01000001;
constexpr size_t HeaderBytes = 32;
constexpr size_t ChecksumBytes = 4;
constexpr size_t OverheadBytes = HeaderBytes + ChecksumBytes;
constexpr size_t OffsetModule = 0;
constexpr size_t OffsetBodyLength = 24;
constexpr size_t OffsetHeaderChecksum = 28;
// Longest body the gateway accepts or sends. A header announcing more is a
// protocol error: nothing that large is waited for or allocated.
constexpr quint32 MaxBodyBytes = 16u * 1024u * 1024u;
} // namespace DEFrame

// The little-endian word at `p`.
inline quint32 deWord(const char *p)
{
    return qFromLittleEndian<quint32>(p);
}
inline void dePutWord(char *p, quint32 value)
{
    qToLittleEndian(value, p);
}

// A complete frame of `module` carrying `body`.
QByteArray buildDEFrame(quint32 module, const QByteArray &body = QByteArray());
// The 36-byte keepalive frame (module 0, empty body).
QByteArray deKeepAliveFrame();
// Completes a frame whose header and body are in `frame` (at least the 32
// header bytes): writes the body length and the header checksum and appends
// the frame checksum.
void sealDEFrame(QByteArray &frame);

// Whether a frame's `received` checksum is taken, `computed` being what its
// bytes give: only the same value is. Fuzzing builds take any, so that
// generated input reaches what lies behind the checks.
bool deChecksumAccepted(quint32 received, quint32 computed);

// What the start of a receive buffer holds.
struct DEFrameScan {
    enum Result {
        NeedMore,           // not yet a whole header, or not yet the whole frame
        Complete,           // a whole frame of `frameBytes` with both checksums right
        HeaderChecksumFail, // `received` != `computed` over bytes 0..27
        BodyTooLong,        // the header announces `bodyLength` > the limit
        BodyChecksumFail    // `received` != `computed` over header and body
    };
    Result result = NeedMore;
    quint32 bodyLength = 0;
    size_t frameBytes = 0;
    quint32 received = 0;
    quint32 computed = 0;
};

// Looks at the `available` bytes at `data`: a frame is checked only once it
// is complete, and its length is checked against `maxBody` before anything
// waits for it, so a hostile length never makes a reader wait or allocate.
DEFrameScan scanDEFrame(const char *data, size_t available, quint32 maxBody = DEFrame::MaxBodyBytes);

#endif // DEFRAME_H
