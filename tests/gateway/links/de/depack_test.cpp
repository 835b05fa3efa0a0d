#include "links/de/deprotocolpackets.h"
#include "links/de/qdepackprocessor.h"

#include "core/tiecounters.h"
#include "gateway/links/de/detestsupport.h"
#include "support/fixedclock.h"
#include "support/messagecapture.h"

#include <dpdatatype.h>

#include <QSet>

#include <gtest/gtest.h>

namespace {

// A processor that wants the types it is told of and records every call.
class RecordingProcessor : public QDEParamPackProcessor
{
public:
    struct Param {
        quint32 type;
        quint32 index;
        QByteArray value;
        QDateTime time;
    };
    QSet<quint32> wanted{dpdtFloat, dpdtFloatValid, dpdtAsciiz};
    QVector<Param> params;
    int begun = 0;
    int finished = 0;
    int refused = 0;
    TieCounters counters;

    RecordingProcessor() { setCounters(&counters); }
    void receive(const QByteArray &frame) { slotPacketReceived(frame); }
    QVector<quint32> indices() const
    {
        QVector<quint32> out;
        for (const Param &p : params)
            out.append(p.index);
        return out;
    }

protected:
    bool isTypeSupported(quint32 type) const override { return wanted.contains(type); }
    size_t valueSize(quint32 type) const override { return static_cast<size_t>(DPDataTypeElementSize(int(type))); }
    void packRefused(quint32, quint32) override { ++refused; }
    void beginPack(quint32) override { ++begun; }
    void processParameter(quint32 type, quint32 index, const uchar *value, size_t length,
                          const QDateTime &time) override
    {
        params.append({type, index, QByteArray(reinterpret_cast<const char *>(value), int(length)), time});
    }
    void finishPack() override { ++finished; }
};

struct DEPack_ : ::testing::Test {
    MessageCapture messages; // keeps the debug output of dropped packs quiet
    RecordingProcessor processor;
};

const QByteArray kOne = RawPack::floatBytes(1.5f);

} // namespace

TEST_F(DEPack_, OneFloatPackIs92BytesAndReadsBack)
{
    DEProtocolPackets packets;
    const QDateTime t = utc(2024, 5, 1, 12, 0, 1, 250);
    const uchar *value = reinterpret_cast<const uchar *>(kOne.constData());
    ASSERT_TRUE(packets.add(dpdtFloat, 7, value, 4, t));
    const QVector<QByteArray> frames = packets.takeFrames();
    ASSERT_EQ(frames.size(), 1);
    const QByteArray &f = frames.first();
    ASSERT_EQ(f.size(), 92);
    const quint32 expected[] = {56, 40, 0x00010000, 1, dpdtFloat, 6, 6, 0, 1, 1714564801, 250};
    const size_t offsets[] = {24, 32, 36, 40, 44, 48, 52, 56, 60, 64, 68};
    for (size_t i = 0; i < sizeof offsets / sizeof *offsets; ++i)
        EXPECT_EQ(deWord(f.constData() + offsets[i]), expected[i]) << "offset " << offsets[i];
    EXPECT_EQ(deWord(f.constData()), 0x01000001u);
    EXPECT_EQ(scanDEFrame(f.constData(), 92).result, DEFrameScan::Complete);
    EXPECT_TRUE(packets.isEmpty());

    processor.receive(f);
    ASSERT_EQ(processor.params.size(), 1);
    EXPECT_EQ(processor.params[0].index, 7u);
    EXPECT_EQ(processor.params[0].value, kOne);
    EXPECT_EQ(processor.params[0].time, t);
    EXPECT_EQ(processor.finished, 1);
}

TEST_F(DEPack_, TypesGetTheirOwnPackWithTheTimeOfTheirFirstParameter)
{
    DEProtocolPackets packets;
    const QByteArray state(8, '\x01');
    const auto v = [](const QByteArray &b) { return reinterpret_cast<const uchar *>(b.constData()); };
    packets.add(dpdtFloat, 1, v(kOne), 4, utc(2024, 5, 1, 12, 0, 1));
    packets.add(dpdtSDWordState, 2, v(state), 8, utc(2024, 5, 1, 12, 0, 2));
    packets.add(dpdtFloat, 3, v(kOne), 4, utc(2024, 5, 1, 12, 0, 3));
    EXPECT_FALSE(packets.add(dpdtFloat, 4, v(kOne), 0, QDateTime()));
    EXPECT_FALSE(packets.add(44, 4, v(kOne), 4, QDateTime()));
    const QVector<QByteArray> frames = packets.takeFrames();
    ASSERT_EQ(frames.size(), 2);
    EXPECT_EQ(deWord(frames[0].constData() + 44), quint32(dpdtFloat));
    EXPECT_EQ(deWord(frames[0].constData() + 60), 2u);
    EXPECT_EQ(deWord(frames[0].constData() + 64), 1714564801u);
    EXPECT_EQ(deWord(frames[1].constData() + 44), quint32(dpdtSDWordState));
    EXPECT_EQ(deWord(frames[1].constData() + 64), 1714564802u);
}

TEST_F(DEPack_, APackThatWouldPassTheLimitIsFinishedAndAnotherOpened)
{
    DEProtocolPackets packets;
    packets.setMaxBodyBytes(40 + 5 * 16); // the pack header and five FLOAT parameters
    for (quint32 i = 0; i < 12; ++i)
        packets.add(dpdtFloat, i, reinterpret_cast<const uchar *>(kOne.constData()), 4, utc(2024, 5, 1));
    const QVector<QByteArray> frames = packets.takeFrames();
    ASSERT_EQ(frames.size(), 3);
    for (const QByteArray &f : frames) {
        EXPECT_LE(deWord(f.constData() + 24), packets.maxBodyBytes());
        processor.receive(f);
    }
    EXPECT_EQ(processor.indices(), (QVector<quint32>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}));
}

TEST_F(DEPack_, AnInvalidDataTimeGoesOutAsNowAndTimesPast2038Fit)
{
    FixedClock clock(utc(2040, 1, 1, 0, 0, 0, 999));
    quint32 seconds = 0;
    quint32 msecs = 0;
    DEProtocolGrowPacket::splitTime(QDateTime(), seconds, msecs);
    EXPECT_EQ(seconds, 2208988800u);
    EXPECT_EQ(msecs, 999u);
    DEProtocolGrowPacket::splitTime(utc(1969, 12, 31, 23, 59, 59, 500), seconds, msecs);
    EXPECT_EQ(seconds, 0xFFFFFFFFu);
    EXPECT_EQ(msecs, 500u);
}

TEST_F(DEPack_, SequentialPackingNumbersFromTheStartIndex)
{
    RawPack pack;
    pack.packing = DEPack::PackingSequential;
    pack.start = 10;
    pack.param(0, kOne).param(0, kOne).param(0, kOne);
    processor.receive(pack.frame());
    EXPECT_EQ(processor.indices(), (QVector<quint32>{10, 11, 12}));
}

TEST_F(DEPack_, IndicesPastTwoToThe31AreNeverTakenForOthers)
{
    RawPack high;
    high.packing = DEPack::PackingSequential;
    high.start = 0xFFFFFFFE;
    high.param(0, kOne).param(0, kOne).param(0, kOne).param(0, kOne);
    processor.receive(high.frame());
    EXPECT_TRUE(processor.params.isEmpty());

    RawPack edge = high;
    edge.start = 0x7FFFFFFE;
    processor.receive(edge.frame());
    EXPECT_EQ(processor.indices(), (QVector<quint32>{0x7FFFFFFE, 0x7FFFFFFF}));

    // An indexed entry past it is one unknown parameter; the rest is read.
    RawPack indexed;
    indexed.param(0x80000000u, kOne).param(3, kOne);
    processor.params.clear();
    processor.receive(indexed.frame());
    EXPECT_EQ(processor.indices(), (QVector<quint32>{3}));
    EXPECT_EQ(processor.counters.framesDropped, 2u);
}

TEST_F(DEPack_, PacksTooShortForTheirCommonTimeAreDroppedWhole)
{
    // With common time type 6 the time words at 64 and 68 need 76 bytes.
    for (int size = 68; size <= 75; ++size) {
        SCOPED_TRACE(size);
        RawPack pack;
        pack.headerSize = 32;
        pack.count = 1;
        pack.paramTime = DEPack::TimeNone;
        pack.params = QByteArray(size - 68, '\x11');
        const QByteArray frame = pack.frame();
        ASSERT_EQ(frame.size(), size);
        processor.receive(frame);
        EXPECT_TRUE(processor.params.isEmpty());
        EXPECT_EQ(processor.begun, 0);
    }
    EXPECT_EQ(processor.counters.framesDropped, 8u);

    // Without a common time a pack of 76 bytes holds one FLOAT parameter.
    RawPack untimed;
    untimed.headerSize = 32;
    untimed.commonTime = DEPack::TimeNone;
    untimed.paramTime = DEPack::TimeNone;
    untimed.param(5, kOne);
    FixedClock clock(utc(2024, 5, 1, 8));
    processor.receive(untimed.frame());
    ASSERT_EQ(processor.params.size(), 1);
    EXPECT_EQ(processor.params[0].time, clock.now());
}

TEST_F(DEPack_, HeaderSizeAndCountNeverLeadPastTheChecksum)
{
    RawPack pack;
    pack.param(1, kOne);
    const QByteArray frame = pack.frame();
    const quint32 room = quint32(frame.size()) - 36; // parameters may start at the checksum at the latest
    for (quint32 headerSize : {room + 1, room + 4, 0xFFFFFFF0u, 0xFFFFFFFFu, 31u}) {
        processor.receive(RawPack::patched(frame, DEPack::OffsetHeaderSize, headerSize));
        EXPECT_TRUE(processor.params.isEmpty()) << headerSize;
    }
    // The largest header size leaves no room: nothing is read, however many
    // parameters the count claims.
    QByteArray claim = RawPack::patched(frame, DEPack::OffsetHeaderSize, room);
    processor.receive(RawPack::patched(claim, DEPack::OffsetParamCount, 0xFFFFFFFFu));
    EXPECT_TRUE(processor.params.isEmpty());
    EXPECT_EQ(processor.begun, 1);

    // A count above what the pack holds writes what it holds.
    processor.receive(RawPack::patched(RawPack().param(1, kOne).param(2, kOne).frame(), DEPack::OffsetParamCount, 5));
    EXPECT_EQ(processor.indices(), (QVector<quint32>{1, 2}));
}

TEST_F(DEPack_, MalformedHeadersAreDroppedBeforeAnyParameter)
{
    struct Row {
        size_t offset;
        quint32 value;
    };
    const Row rows[] = {
        {DEPack::OffsetPacking, 3},        {DEPack::OffsetPacking, 0},
        {DEPack::OffsetCommonTimeType, 5}, {DEPack::OffsetParamTimeType, 1},
    };
    const QByteArray good = RawPack().param(1, kOne).frame();
    for (const Row &row : rows) {
        processor.receive(RawPack::patched(good, row.offset, row.value));
        EXPECT_TRUE(processor.params.isEmpty()) << row.offset << "=" << row.value;
    }
    EXPECT_EQ(processor.counters.framesDropped, 4u);

    // A type without value size is refused; a type not wanted is refused
    // without counting as malformed.
    processor.receive(RawPack::patched(good, DEPack::OffsetDataType, dpdtAsciiz));
    processor.receive(RawPack::patched(good, DEPack::OffsetDataType, dpdtDouble));
    processor.receive(RawPack::patched(good, DEPack::OffsetDataType, 60)); // counts as type 0
    EXPECT_TRUE(processor.params.isEmpty());
    EXPECT_EQ(processor.counters.framesDropped, 5u);
    EXPECT_EQ(processor.refused, 2);
}

TEST_F(DEPack_, MillisecondsOfAThousandOrMoreAreNeverUsed)
{
    RawPack pack;
    pack.param(1, kOne, 1714564801, 1000).param(2, kOne, 1714564801, 0xFFFFFFFF).param(3, kOne, 1714564801, 999);
    processor.receive(pack.frame());
    ASSERT_EQ(processor.indices(), (QVector<quint32>{3}));
    EXPECT_EQ(processor.params[0].time, utc(2024, 5, 1, 12, 0, 1, 999));
    EXPECT_EQ(processor.counters.framesDropped, 1u); // once for the pack (it was not counted)

    // A common time that every parameter would use drops the pack.
    RawPack common;
    common.paramTime = DEPack::TimeNone;
    common.commonMsecs = 1000;
    common.param(4, kOne);
    processor.receive(common.frame());
    EXPECT_EQ(processor.indices(), (QVector<quint32>{3}));
    EXPECT_EQ(processor.counters.framesDropped, 2u);
}
