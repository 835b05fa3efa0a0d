#include <datapacketwithblobs.h>

#include "packettesting.h"

#include <QDataStream>

namespace {

const char *const kBlobTemplate = "<packet>"
                                  "<data name='first' datatype='dword' metatype='blobqstring'/>"
                                  "<data name='second' datatype='word' metatype='blobqstring'/>"
                                  "<data name='small' datatype='byte'/>"
                                  "<data name='flag' datatype='bool'/><data name='f' datatype='float'/>"
                                  "</packet>";

class BlobTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(parsed(p, kBlobTemplate)); }
    QDataPacketNode node(const char *id) { return p.nodeByPath(QStringLiteral("data[@id='%1']").arg(QLatin1String(id))); }

    DataPacketWithBlobs p;
};

TEST_F(BlobTest, PacksTextsInDocumentOrderAndStoresTheirOffsets)
{
    EXPECT_EQ(p.setQStringByPath(QStringLiteral("xyz"), QStringLiteral("data[2]")), 0);
    bool ok = false;
    EXPECT_EQ(p.setQStringByNode(QStringLiteral("ab"), node("first"), &ok), 0);
    EXPECT_TRUE(ok);
    ASSERT_TRUE(p.packBlobs()) << p.errorText().toStdString();
    EXPECT_EQ(p.blobPart().toHex(), QByteArray("00000000" "00000004" "00610062" "00000006" "00780079007a"));
    EXPECT_EQ(node("first").getULong(), 4u);
    EXPECT_EQ(node("second").getULong(), 12u);

    // A replaced text moves the later ones.
    EXPECT_EQ(p.setQStringByNodeInternal(QString(), node("first").nodeInternal()), 0);
    ASSERT_TRUE(p.packBlobs());
    EXPECT_EQ(p.blobPart().toHex(), QByteArray("00000000" "ffffffff" "00000006" "00780079007a"));
    EXPECT_EQ(node("second").getULong(), 8u);
}

TEST_F(BlobTest, RefusesNodesThatCannotHoldAnOffsetOrAreNotThisPacketsOwn)
{
    bool ok = true;
    EXPECT_EQ(p.setQStringByNode(QStringLiteral("t"), node("flag"), &ok), -1);
    EXPECT_FALSE(ok);
    EXPECT_TRUE(p.errorText().contains(QStringLiteral("cannot hold a blob offset"))) << p.errorText().toStdString();
    EXPECT_EQ(p.setQStringByNode(QStringLiteral("t"), node("f")), -1);
    EXPECT_EQ(p.setQStringByPath(QStringLiteral("t"), QStringLiteral("data[9]")), -1);

    DataPacketWithBlobs other(p);
    EXPECT_EQ(p.setQStringByNode(QStringLiteral("t"), other.nodeByPath(QStringLiteral("data")), &ok), -1)
        << "a handle of another packet, even with the same template";
    QDataPacket stranger;
    ASSERT_TRUE(parsed(stranger, kBlobTemplate));
    EXPECT_EQ(p.setQStringByNodeInternal(QStringLiteral("t"), stranger.nodeByPath(QStringLiteral("data")).nodeInternal()),
              -1);
    EXPECT_EQ(p.blobCount(), 0);
}

TEST_F(BlobTest, AnOffsetBeyondTheNodesTypeFailsAndChangesNothing)
{
    ASSERT_EQ(p.setQStringByNode(QString(200, QLatin1Char('a')), node("first")), 0);
    ASSERT_EQ(p.setQStringByNode(QStringLiteral("late"), node("small")), 0);
    node("small").setULong(99);
    EXPECT_FALSE(p.packBlobs());
    EXPECT_TRUE(p.errorText().contains(QStringLiteral("offset 408 does not fit node /packet/data[@id=\"small\"] "
                                                      "(BYTE)")))
        << p.errorText().toStdString();
    EXPECT_TRUE(p.blobPart().isEmpty());
    EXPECT_EQ(node("first").getULong(), 0u);
    EXPECT_EQ(node("small").getULong(), 99u);
}

TEST_F(BlobTest, TextsNeverOutliveTheirTemplate)
{
    const auto withText = [this]() {
        EXPECT_EQ(p.setQStringByNode(QStringLiteral("t"), node("first")), 0);
        EXPECT_TRUE(p.packBlobs());
        EXPECT_EQ(p.blobCount(), 1);
    };
    const auto forgotten = [this](const char *how) {
        EXPECT_EQ(p.blobCount(), 0) << how;
        EXPECT_TRUE(p.blobPart().isEmpty()) << how;
        EXPECT_TRUE(p.packBlobs()) << how;
        EXPECT_EQ(p.blobPart(), QByteArray(4, '\0')) << how;
    };

    withText();
    DataPacketWithBlobs copy(p);
    EXPECT_EQ(copy.blobCount(), 1);
    EXPECT_EQ(copy.blobPart(), p.blobPart());
    EXPECT_EQ(DataPacketWithBlobs(static_cast<const QDataPacket &>(p)).blobCount(), 0);

    ASSERT_TRUE(parsed(p, kBlobTemplate));
    forgotten("parseXML");
    withText();
    p.init(new QDataPacketInternal);
    forgotten("init");
    ASSERT_TRUE(parsed(p, kBlobTemplate));
    withText();
    QDataPacket plain;
    ASSERT_TRUE(parsed(plain, kBlobTemplate));
    p = plain;
    forgotten("assignment from a plain packet");
    withText();
    QByteArray wire;
    QDataStream out(&wire, QIODevice::WriteOnly);
    out << plain;
    QDataStream in(wire);
    in >> p;
    forgotten("stream");
    withText();
    p.buffer().fill('\x05');
    p.clear();
    EXPECT_EQ(p.buffer(), QByteArray(p.buffer().size(), '\0'));
    forgotten("clear");
}

} // namespace
