#include "links/de/deframe.h"

#include "links/de/decrc16.h"

#include <cstring>

bool deChecksumAccepted(quint32 received, quint32 computed)
{
#ifdef FUZZING_BUILD_MODE_UNSAFE_FOR_PRODUCTION
    Q_UNUSED(received)
    Q_UNUSED(computed)
    return true;
#else
    return received == computed;
#endif
}

QByteArray buildDEFrame(quint32 module, const QByteArray &body)
{
    QByteArray frame(static_cast<int>(DEFrame::HeaderBytes), '\0');
    frame.reserve(static_cast<int>(DEFrame::OverheadBytes) + body.size());
    dePutWord(frame.data() + DEFrame::OffsetModule, module);
    frame.append(body);
    sealDEFrame(frame);
    return frame;
}

QByteArray deKeepAliveFrame()
{
    static const QByteArray frame = buildDEFrame(DEFrame::ModuleKeepAlive);
    return frame;
}

void sealDEFrame(QByteArray &frame)
{
    const size_t size = static_cast<size_t>(frame.size());
    // The header is completed in a copy and put back in one piece.
    char header[DEFrame::HeaderBytes];
    std::memcpy(header, frame.constData(), DEFrame::HeaderBytes);
    dePutWord(header + DEFrame::OffsetBodyLength, static_cast<quint32>(size - DEFrame::HeaderBytes));
    dePutWord(header + DEFrame::OffsetHeaderChecksum, deCrc16(header, DEFrame::OffsetHeaderChecksum));
    frame.replace(0, static_cast<int>(DEFrame::HeaderBytes), header, static_cast<int>(DEFrame::HeaderBytes));
    char checksum[DEFrame::ChecksumBytes];
    dePutWord(checksum, deCrc16(frame.constData(), size));
    frame.append(checksum, static_cast<int>(DEFrame::ChecksumBytes));
}

DEFrameScan scanDEFrame(const char *data, size_t available, quint32 maxBody)
{
    DEFrameScan scan;
    if (available < DEFrame::HeaderBytes)
        return scan;
    scan.received = deWord(data + DEFrame::OffsetHeaderChecksum);
    scan.computed = deCrc16(data, DEFrame::OffsetHeaderChecksum);
    if (!deChecksumAccepted(scan.received, scan.computed)) {
        scan.result = DEFrameScan::HeaderChecksumFail;
        return scan;
    }
    scan.bodyLength = deWord(data + DEFrame::OffsetBodyLength);
    if (scan.bodyLength > maxBody) {
        scan.result = DEFrameScan::BodyTooLong;
        return scan;
    }
    const size_t total = static_cast<size_t>(scan.bodyLength) + DEFrame::OverheadBytes;
    if (available < total)
        return scan;
    const size_t covered = DEFrame::HeaderBytes + scan.bodyLength;
    scan.received = deWord(data + covered);
    scan.computed = deCrc16(data, covered);
    scan.result = deChecksumAccepted(scan.received, scan.computed) ? DEFrameScan::Complete : DEFrameScan::BodyChecksumFail;
    scan.frameBytes = total;
    return scan;
}
