#include "links/de/decrc16.h"
#include "links/de/deframe.h"

#include "gateway/links/de/detestsupport.h"

#include <QByteArray>

#include <gtest/gtest.h>

#include <random>

TEST(DECrc16, EqualsQtChecksumForEveryLengthUpTo4096AtEveryAlignment)
{
    std::mt19937 random(20240501);
    QByteArray buffer(4096 + 16, '\0');
    for (char &c : buffer)
        c = static_cast<char>(random());
    for (int length = 0; length <= 4096; ++length) {
        const char *data = buffer.constData() + length % 16;
        ASSERT_EQ(deCrc16(data, static_cast<size_t>(length)), qChecksum(data, static_cast<uint>(length)))
            << "length " << length;
        if (length % 64 == 0) {
            for (int i = 0; i < 16; ++i)
                buffer[i + length % 16] = static_cast<char>(random());
        }
    }
}

TEST(DEFrame, KeepaliveIsThirtySixBytesWithBothChecksums)
{
    const QByteArray frame = deKeepAliveFrame();
    ASSERT_EQ(frame.size(), 36);
    EXPECT_EQ(deWord(frame.constData()), 0u);
    EXPECT_EQ(frame.mid(4, 20), QByteArray(20, '\0'));
    EXPECT_EQ(deWord(frame.constData() + 24), 0u);
    EXPECT_EQ(deWord(frame.constData() + 28), qChecksum(frame.constData(), 28));
    EXPECT_EQ(deWord(frame.constData() + 32), qChecksum(frame.constData(), 32));
}

TEST(DEFrame, ScanFindsWholeFramesAndWaitsForTheRest)
{
    const QByteArray first = buildDEFrame(0x01000001, "abc");
    const QByteArray bytes = first + deKeepAliveFrame();
    DEFrameScan scan = scanDEFrame(bytes.constData(), static_cast<size_t>(bytes.size()));
    EXPECT_EQ(scan.result, DEFrameScan::Complete);
    EXPECT_EQ(scan.frameBytes, 39u);
    EXPECT_EQ(scan.bodyLength, 3u);
    scan = scanDEFrame(bytes.constData() + 39, 36);
    EXPECT_EQ(scan.result, DEFrameScan::Complete);
    for (size_t available : {size_t(0), size_t(31), size_t(32), size_t(38)})
        EXPECT_EQ(scanDEFrame(first.constData(), available).result, DEFrameScan::NeedMore) << available;
}

TEST(DEFrame, ScanRefusesBadChecksumsAndHostileLengthsBeforeWaiting)
{
    const QByteArray good = buildDEFrame(0x01000001, "abcdef");
    QByteArray header = good;
    header[3] = 'x';
    EXPECT_EQ(scanDEFrame(header.constData(), 32).result, DEFrameScan::HeaderChecksumFail);
    QByteArray body = good;
    body[34] = 'x';
    const DEFrameScan bad = scanDEFrame(body.constData(), static_cast<size_t>(body.size()));
    EXPECT_EQ(bad.result, DEFrameScan::BodyChecksumFail);
    EXPECT_EQ(bad.received, qChecksum(good.constData(), 38));
    // The checksum words are zero-extended: set upper bits fail.
    QByteArray upper = good;
    upper[30] = 1;
    EXPECT_EQ(scanDEFrame(upper.constData(), 32).result, DEFrameScan::HeaderChecksumFail);

    // A header announcing 4 GiB, or one byte past the limit, is refused
    // from its 32 bytes alone; the limit itself is waited for.
    for (quint32 length : {0xFFFFFFFFu, DEFrame::MaxBodyBytes + 1, DEFrame::MaxBodyBytes}) {
        QByteArray hostile = QByteArray(24, '\0') + RawPack::word(length);
        hostile += RawPack::word(qChecksum(hostile.constData(), 28));
        EXPECT_EQ(scanDEFrame(hostile.constData(), 32).result,
                  length > DEFrame::MaxBodyBytes ? DEFrameScan::BodyTooLong : DEFrameScan::NeedMore)
            << length;
    }
}
