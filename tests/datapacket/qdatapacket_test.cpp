#include "packettesting.h"

#include "support/messagecapture.h"

#include <QDataStream>
#include <QFile>
#include <QTemporaryDir>

#include <cstring>
#include <limits>
#include <memory>

namespace {

// Every accepted type twice: in host order and big-endian.
const char *const kTypes =
    "<packet>"
    "<section name='host'>"
    "<data name='u8' datatype='byte'/><data name='s8' datatype='sbyte'/><data name='u16' datatype='word'/>"
    "<data name='s16' datatype='sword'/><data name='u32' datatype='dword'/><data name='s32' datatype='sdword'/>"
    "<data name='f' datatype='float'/><data name='d' datatype='double'/><data name='b' datatype='bool'/>"
    "<data name='bit' datatype='bit' bitoffset='3'/><data name='txt' datatype='asciiz' size='4'/>"
    "</section>"
    "<section name='big' endian='BigEndian'>"
    "<data name='u16' datatype='word'/><data name='s16' datatype='sword'/><data name='u32' datatype='dword'/>"
    "<data name='s32' datatype='sdword'/><data name='f' datatype='float'/><data name='d' datatype='double'/>"
    "</section>"
    "</packet>";

QByteArray bytesOf(const QDataPacketNode &n)
{
    return QByteArray(n.data(), static_cast<int>(n.byteSize())).toHex();
}

class PacketTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(parsed(p, kTypes)); }
    QDataPacketNode node(const char *section, const char *name)
    {
        return p.nodeByPath(QStringLiteral("section[@id='%1']/data[@id='%2']")
                                .arg(QLatin1String(section), QLatin1String(name)));
    }

    QDataPacket p;
};

TEST_F(PacketTest, TypedValuesInBothByteOrders)
{
    bool ok = false;
    EXPECT_EQ(node("host", "u8").setULong(4660, &ok), 0);
    EXPECT_TRUE(ok);
    EXPECT_EQ(node("host", "u8").getULong(), 52u) << "the low byte";
    EXPECT_EQ(node("host", "s8").setLong(-2), 0);
    EXPECT_EQ(node("host", "s8").getLong(), -2);
    for (const char *order : {"host", "big"}) {
        SCOPED_TRACE(order);
        EXPECT_EQ(node(order, "u16").setULong(0x1234), 0);
        EXPECT_EQ(node(order, "u16").getULong(), 0x1234u);
        EXPECT_EQ(node(order, "s16").setLong(-300), 0);
        EXPECT_EQ(node(order, "s16").getLong(), -300);
        EXPECT_EQ(node(order, "u32").setULong(0x01020304), 0);
        EXPECT_EQ(node(order, "u32").getULong(), 0x01020304u);
        EXPECT_EQ(node(order, "s32").setVariant(-70000), 0);
        EXPECT_EQ(node(order, "s32").getVariant(), QVariant(-70000));
        EXPECT_EQ(node(order, "f").setDouble(1.1), 0);
        EXPECT_EQ(node(order, "f").getDouble(), static_cast<double>(1.1f)) << "narrowed to float";
        EXPECT_EQ(node(order, "d").setVariant(QStringLiteral("2.5")), 0);
        EXPECT_EQ(node(order, "d").getDouble(), 2.5);
    }
    EXPECT_EQ(bytesOf(node("host", "u32")), QByteArray("04030201"));
    EXPECT_EQ(bytesOf(node("big", "u32")), QByteArray("01020304"));
    EXPECT_EQ(bytesOf(node("big", "s16")), QByteArray("fed4"));
    EXPECT_EQ(bytesOf(node("big", "d")), QByteArray("4004000000000000"));

    // The same bytes read differently without a byte order.
    std::memcpy(node("big", "u32").data(), "\x00\x00\x01\x02", 4);
    std::memcpy(node("host", "u32").data(), "\x00\x00\x01\x02", 4);
    EXPECT_EQ(node("big", "u32").getULong(), 258u);
    EXPECT_EQ(node("host", "u32").getULong(), 33619968u);
}

TEST_F(PacketTest, BitsBoolsAndTypeMismatches)
{
    QDataPacketNode bit = node("host", "bit");
    bit.data()[0] = '\x81';
    EXPECT_EQ(bit.setULong(5), 0);
    EXPECT_EQ(static_cast<uchar>(bit.data()[0]), 0x89) << "bit 3 set, the others kept";
    EXPECT_EQ(bit.getVariant(), QVariant(1u));
    EXPECT_EQ(bit.setVariant(false), 0);
    EXPECT_EQ(static_cast<uchar>(bit.data()[0]), 0x81);
    EXPECT_EQ(node("host", "b").setULong(7), 0);
    EXPECT_EQ(node("host", "b").data()[0], 1);
    EXPECT_EQ(node("host", "b").getVariant(), QVariant(true));

    bool ok = true;
    EXPECT_EQ(node("host", "u8").getLong(&ok), 0);
    EXPECT_FALSE(ok) << "getLong on a BYTE";
    node("host", "s16").getULong(&ok);
    EXPECT_FALSE(ok);
    EXPECT_EQ(node("host", "u8").getDouble(&ok), -1.0);
    EXPECT_EQ(node("host", "txt").setULong(1, &ok), -1);
    EXPECT_FALSE(node("host", "txt").getVariant(&ok).isValid());
    EXPECT_EQ(node("host", "u16").setVariant(QStringLiteral("many"), &ok), -1);
    EXPECT_FALSE(ok);
    // What no 32-bit integer holds was stored as 0 (a NaN as a valid 0, a
    // non-zero text as a cleared bit); it fails and leaves the bytes.
    bit.data()[0] = '\x89';
    for (const char *n : {"u16", "s32", "bit", "b"}) {
        for (const QVariant &v : {QVariant(qQNaN()), QVariant(qInf()), QVariant(1e30), QVariant(QStringLiteral("4294967296")),
                                  QVariant(std::numeric_limits<qulonglong>::max())}) {
            const QByteArray before = p.buffer();
            EXPECT_EQ(node("host", n).setVariant(v, &ok), -1) << n << qPrintable(v.toString());
            EXPECT_FALSE(ok);
            EXPECT_EQ(p.buffer(), before) << n;
        }
    }
    EXPECT_EQ(node("host", "u16").setVariant(4660.4), 0);
    EXPECT_EQ(node("host", "u16").getULong(), 4660u);
    EXPECT_EQ(node("host", "s32").setVariant(-7.0), 0);
    EXPECT_EQ(node("host", "s32").getLong(), -7);
    EXPECT_EQ(p.setDoubleByPath(3.0, QStringLiteral("section[@id='host']/data[@id='d']"), &ok), 0);
    EXPECT_EQ(p.getDoubleByPath(QStringLiteral("section[@id='host']/data[@id='d']")), 3.0);
    EXPECT_EQ(p.getLongByPath(QStringLiteral("section/data[@id='nothing']"), &ok), 0);
    EXPECT_FALSE(ok);
}

TEST_F(PacketTest, TextsAndDebugLines)
{
    std::memcpy(node("host", "txt").data(), "AB\x00\x7f", 4);
    EXPECT_EQ(node("host", "txt").stringValue(), QStringLiteral("[41 42 00 7f]"));
    node("host", "f").setDouble(1234567.0);
    EXPECT_EQ(node("host", "f").stringValue(), QStringLiteral("1.23457e+06"));
    node("host", "s16").setLong(-5);
    EXPECT_EQ(node("host", "s16").stringValue(), QStringLiteral("-5"));
    EXPECT_EQ(p.nodeByPath(QStringLiteral("section")).stringValue(), QString());

    MessageCapture capture;
    p.nodeByPath(QStringLiteral("section[@id='big']")).qDebugPrintXml();
    const QStringList lines = capture.texts();
    ASSERT_EQ(lines.size(), 8);
    EXPECT_EQ(lines.at(0), QStringLiteral("Path | Offset | DataType: Value"));
    EXPECT_EQ(lines.at(1), QStringLiteral("/packet/section[@id=\"big\"] | 32(0x20) +24(0x18) | -"));
    EXPECT_EQ(lines.at(2),
              QStringLiteral("  /packet/section[@id=\"big\"]/data[@id=\"u16\"] | 32(0x20) +2(0x2) | WORD: 0 (0x0)"));
    capture.clear();
    node("host", "bit").qDebugPrintXmlSubtree(QStringLiteral(">"));
    node("host", "txt").qDebugPrintXmlSubtree(QString());
    EXPECT_EQ(capture.texts(),
              QStringList({">/packet/section[@id=\"host\"]/data[@id=\"bit\"] | 27(0x1b)/3 +1(0x1) | BIT: 0 (0x0)",
                           "/packet/section[@id=\"host\"]/data[@id=\"txt\"] | 28(0x1c) +4(0x4) | ASCIIZ: "
                           "[Not processing now]"}));
}

TEST_F(PacketTest, ReverseByteOrderBySelector)
{
    node("host", "u16").setULong(0x1234);
    node("big", "u16").setULong(0x1234);
    node("host", "u8").setULong(0x12);
    QDataPacketNode root = p;
    root.reverseByteOrder(ReverseMarked);
    EXPECT_EQ(node("host", "u16").getULong(), 0x1234u);
    EXPECT_EQ(bytesOf(node("big", "u16")), QByteArray("3412"));
    root.reverseByteOrder(ReverseToLittle);
    EXPECT_EQ(bytesOf(node("big", "u16")), QByteArray("3412"));
    root.reverseByteOrder(ReverseAll);
    EXPECT_EQ(node("host", "u16").getULong(), 0x3412u);
    EXPECT_EQ(bytesOf(node("big", "u16")), QByteArray("1234"));
    EXPECT_EQ(node("host", "u8").getULong(), 0x12u);
}

TEST(PacketHandles, FailWithoutTouchingMemoryOnceThePacketOrTemplateIsGone)
{
    auto packet = std::make_unique<QDataPacket>();
    ASSERT_TRUE(parsed(*packet, "<packet><data name='a' datatype='dword'/><data name='n' datatype='dword' "
                                "localoffset='-2'/></packet>"));
    QDataPacketNode a = packet->nodeByPath(QStringLiteral("data"));
    QDataPacket copy(*packet);
    QDataPacketNode n = packet->nodeByPath(QStringLiteral("data[2]"));
    bool ok = true;
    EXPECT_EQ(n.getULong(&ok), 0u);
    EXPECT_FALSE(ok) << "a negative offset is not placed";

    MessageCapture capture;
    EXPECT_EQ(n.data(), nullptr);
    ASSERT_TRUE(parsed(*packet, "<packet><data name='a' datatype='byte'/></packet>"));
    EXPECT_TRUE(a.isNull()) << "the copy keeps the old template alive, but it is not the packet's any more";
    EXPECT_EQ(a.getULong(&ok), 0u);
    EXPECT_FALSE(ok);
    EXPECT_EQ(a.data(), nullptr);
    EXPECT_EQ(QDataPacketNode(&copy, a.nodeInternal()).setULong(9), 0);

    packet.reset();
    EXPECT_TRUE(a.isNull());
    EXPECT_EQ(a.packet(), nullptr);
    EXPECT_EQ(a.setULong(1, &ok), -1);
    EXPECT_EQ(a.data(), nullptr);
    EXPECT_EQ(a.dataType(), nullptr);
    const QDataPacketNode orphan(&copy, nullptr);
    EXPECT_EQ(orphan.data(), nullptr);
    EXPECT_EQ(capture.debugs(),
              QStringList({"QDataPacketNode::data() offset (FFFFFFFFFFFFFFFE) <0",
                           "QDataPacketNode::data() InternalNode is not of the packet's template",
                           "QDataPacketNode::data() Packet is Null()", "QDataPacketNode::data() InternalNode is Null()"}));
}

TEST(PacketBlocks, ReadWriteReplaceAndFillStayInsideTheBuffer)
{
    QDataPacket p;
    ASSERT_TRUE(parsed(p, "<packet><data size='10'/></packet>"));
    EXPECT_EQ(p.buffer(), QByteArray(10, '\0')) << "new bytes are zeroed";
    EXPECT_EQ(p.write(QByteArray("0123456789abcdefghij")), 10);
    EXPECT_EQ(p.read(), QByteArray("0123456789"));
    EXPECT_EQ(p.write("xy", -1), 0);
    char out[4] = {};
    EXPECT_EQ(p.read(out, 4), 4);
    EXPECT_EQ(QByteArray(out, 4), QByteArray("0123"));
    EXPECT_EQ(p.read(out, -5), 0);

    EXPECT_TRUE(p.replace(QByteArray("abc"), 2, -1));
    EXPECT_EQ(p.read(), QByteArray("01abc56789"));
    constexpr int kMax = std::numeric_limits<int>::max();
    const std::pair<int, int> refused[] = {{-2, 3}, {11, 0}, {9, 2}, {kMax, 1}, {5, kMax}};
    for (auto [pos, length] : refused)
        EXPECT_FALSE(p.replace(QByteArray("zz"), pos, length)) << pos << "," << length;
    EXPECT_FALSE(p.replace(QByteArray(), 0, 1));
    EXPECT_EQ(p.read(), QByteArray("01abc56789"));
    EXPECT_TRUE(p.replace(QByteArray("!"), 10, 0)) << "appending at the end";
    EXPECT_TRUE(p.replace(QByteArray("-"), 0, 5));
    EXPECT_EQ(p.read(), QByteArray("-56789!"));
    p.fill('\x07');
    EXPECT_EQ(p.read(), QByteArray(7, '\x07'));

    EXPECT_FALSE(p.locked());
    p.lock();
    EXPECT_TRUE(p.locked());
    EXPECT_FALSE(p.tryLock());
    p.unlock();
}

TEST(PacketCopies, ShareTheTemplateAndOwnTheirBytes)
{
    QDataPacket p;
    ASSERT_TRUE(parsed(p, "<packet><data name='a' datatype='word' iid='A'/></packet>"));
    p.nodeByIID(QStringLiteral("A")).setULong(1);
    QDataPacket copy(p);
    QDataPacket assigned;
    assigned = p;
    EXPECT_EQ(copy.nodeByIID(QStringLiteral("A")).nodeInternal(), p.nodeByIID(QStringLiteral("A")).nodeInternal());
    copy.nodeByIID(QStringLiteral("A")).setULong(2);
    assigned.nodeByIID(QStringLiteral("A")).setULong(3);
    EXPECT_EQ(p.nodeByIID(QStringLiteral("A")).getULong(), 1u);
    EXPECT_EQ(copy.nodeByIID(QStringLiteral("A")).getULong(), 2u);

    // A larger template keeps the old bytes and zeroes the new ones.
    QDataPacketInternal *wider = new QDataPacketInternal;
    ASSERT_TRUE(wider->parseXML(QByteArray("<packet><data size='4'/></packet>")));
    p.buffer().fill('\xff');
    p.init(wider);
    EXPECT_EQ(p.buffer(), QByteArray::fromHex("ffff0000"));
}

TEST(PacketStream, RoundTripsAndRefusesTruncatedOrCorruptInput)
{
    QDataPacket p;
    ASSERT_TRUE(parsed(p, "<packet name='s' endian='BigEndian'><data name='a' datatype='dword' kks='K'/>"
                          "<data name='b#0' joker='#' count='2' datatype='bit' bitoffset='5'/></packet>"));
    p.write(QByteArray("\x01\x02\x03\x04\x20", 5));
    QByteArray wire;
    {
        QDataStream out(&wire, QIODevice::WriteOnly);
        out << p;
    }
    QDataPacket back;
    {
        QDataStream in(wire);
        in >> back;
        EXPECT_EQ(in.status(), QDataStream::Ok);
    }
    EXPECT_EQ(describeTree(back), describeTree(p));
    EXPECT_EQ(back.buffer(), p.buffer());
    EXPECT_EQ(back.nodeByKKS(QStringLiteral("K")).getULong(), 0x01020304u);

    QDataPacket target;
    ASSERT_TRUE(parsed(target, "<packet><data name='keep' datatype='byte'/></packet>"));
    target.write("\x2a", 1);
    const auto expectUnchanged = [&target](const QByteArray &bytes, QDataStream::Status status) {
        QDataStream in(bytes);
        in >> target;
        EXPECT_EQ(in.status(), status);
        EXPECT_EQ(target.name(), QString());
        EXPECT_EQ(target.nodeByPath(QStringLiteral("data")).name(), QStringLiteral("keep"));
        EXPECT_EQ(target.read(), QByteArray("\x2a"));
    };
    for (int cut : {0, 3, 20, wire.size() - 1})
        expectUnchanged(wire.left(cut), QDataStream::ReadPastEnd);
    const auto streamed = [](const QByteArray &xml, const QByteArray &buffer) {
        QByteArray bytes;
        QDataStream out(&bytes, QIODevice::WriteOnly);
        out << xml << buffer;
        return bytes;
    };
    expectUnchanged(streamed("<packet><data", QByteArray()), QDataStream::ReadCorruptData);
    expectUnchanged(streamed("<packet><data datatype='word'/></packet>", "\x01"), QDataStream::ReadCorruptData);

    // Such a buffer (resized by replace) or none at all fails when written,
    // not when read, where it took every packet after it along.
    for (QDataPacket unreadable : {QDataPacket(nullptr), p}) {
        unreadable.replace(QByteArray("!"), 0, 0);
        QByteArray bytes;
        QDataStream out(&bytes, QIODevice::WriteOnly);
        out << unreadable;
        EXPECT_EQ(out.status(), QDataStream::WriteFailed);
    }
}

TEST(PacketFiles, SaveAndLoadTheTemplate)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QDataPacket p;
    ASSERT_TRUE(parsed(p, "<packet><section name='s'><data name='\xc3\xbc' datatype='float'/></section></packet>"));
    const QString file = dir.filePath(QStringLiteral("t.xml"));
    ASSERT_TRUE(p.savePacketStructToFile(file, QDataPacketNodeInternal::DOMFull)) << p.errorText().toStdString();
    QDataPacket loaded;
    ASSERT_TRUE(loaded.loadFromFile(file)) << loaded.errorText().toStdString();
    EXPECT_EQ(describeTree(loaded), describeTree(p));

    EXPECT_FALSE(loaded.loadFromFile(dir.filePath(QStringLiteral("missing.xml"))));
    EXPECT_TRUE(loaded.errorText().contains(QStringLiteral("missing.xml")));
    EXPECT_FALSE(QDataPacket(nullptr).savePacketStructToFile(file));
    EXPECT_FALSE(p.savePacketStructToFile(dir.filePath(QStringLiteral("no/such/dir/t.xml"))));
}

} // namespace
