#include "installationtree.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>

#include <gtest/gtest.h>

namespace {

const QString kPeerProgram = QStringLiteral(FERROX_BINARY_DIR "/bin/ferrox-depeer");

// A DE tie taking FLOW and VALVE from the peer and sending them back
// converted, and a table file of the received values.
QByteArray configFor(const InstallationTree &tree, quint16 port)
{
    return "<config><misc><locale lang='en'/><times/></misc>"
           "<deprotocolclient id='plant'>"
           "<csvlist file='in.csv' kks='0' index='1' type='2' direction='in'/>"
           "<csvlist file='out.csv' kks='0' index='1' type='2' direction='out'/>"
           "<connection host='127.0.0.1' port='"
        + QByteArray::number(port)
        + "'/></deprotocolclient>"
          "<textfileout id='table' outfields='kks,value,validity'>"
          "<csvlist file='table.csv' kks='0' index='1' type='2' direction='out'/>"
          "<outfile filename='"
        + QDir(tree.root()).filePath("values_%1.txt").toUtf8() + "'/></textfileout></config>";
}

bool writeLists(const InstallationTree &tree)
{
    return tree.writeConfig("in.csv", "kks,index,type\nFLOW,1,FLOATVALID\nVALVE,2,SDWORDSTATE\n")
        && tree.writeConfig("out.csv", "kks,index,type\nFLOW,101,DTSFLOAT\nVALVE,102,SDWORDVALID\n")
        && tree.writeConfig("table.csv", "kks,index,type\nFLOW,1,FLOATVALID\nVALVE,2,SDWORDSTATE\n");
}

QByteArray tableText(const InstallationTree &tree)
{
    QByteArray text;
    for (const QFileInfo &info : QDir(tree.root()).entryInfoList({"values_*.txt"}, QDir::Files)) {
        QFile file(info.filePath());
        if (file.open(QIODevice::ReadOnly))
            text += file.readAll();
    }
    return text;
}

void stop(QProcess &process)
{
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished(5000);
    }
}

} // namespace

TEST(DESystem, ValuesTravelFromAPeerThroughTheGatewayIntoAFileAndBackConverted)
{
    InstallationTree tree;
    ASSERT_TRUE(tree.isValid());
    ASSERT_TRUE(writeLists(tree));

    QProcess peer;
    peer.start(kPeerProgram, {"--listen", "0", "--send", "FLOATVALID:1=12.5", "--send", "SDWORDSTATE:2=40",
                              "--rate", "2", "--no-keepalives"});
    ASSERT_TRUE(peer.waitForStarted(5000));
    QByteArray peerOut;
    quint16 port = 0;
    ASSERT_TRUE(waitFor(
        [&] {
            peerOut += peer.readAllStandardOutput();
            const int at = peerOut.indexOf("listening on 127.0.0.1:");
            const int end = peerOut.indexOf('\n', at);
            if (at < 0 || end < 0)
                return false;
            port = static_cast<quint16>(peerOut.mid(at + 23, end - at - 23).toUInt());
            return true;
        },
        10000));
    ASSERT_NE(port, 0);
    ASSERT_TRUE(tree.writeConfig("ferrox.cfg", configFor(tree, port)));

    QProcess gateway;
    tree.start(gateway, {});
    ASSERT_TRUE(gateway.waitForStarted(5000));
    // FLOATVALID 12.5 comes back as DTSFLOAT with status 0, SDWORDSTATE 40
    // with state 0 as SDWORDVALID with valid word 1.
    const bool back = waitFor(
        [&] {
            peerOut += peer.readAllStandardOutput();
            return peerOut.contains("    [101] 12.5/0 @") && peerOut.contains("    [102] 40/1 @");
        },
        15000);
    EXPECT_TRUE(back) << peerOut.constData();
    EXPECT_TRUE(waitFor([&] { return tableText(tree).contains("FLOW;12.5;+"); }, 10000)) << tableText(tree).constData();
    EXPECT_TRUE(tableText(tree).contains("VALVE;40;+"));
    EXPECT_TRUE(tree.readLog().contains("\tConnected to 127.0.0.1:" + QByteArray::number(port)));

    stop(gateway);
    EXPECT_TRUE(waitFor(
        [&] {
            peerOut += peer.readAllStandardOutput();
            return peerOut.contains("closed: 127.0.0.1:");
        },
        10000));
    stop(peer);
}

TEST(DESystem, APeerSendingGarbageIsCutOffAndTheGatewayGoesOn)
{
    InstallationTree tree;
    ASSERT_TRUE(tree.isValid());
    ASSERT_TRUE(writeLists(tree));
    QTcpServer hostile;
    ASSERT_TRUE(hostile.listen(QHostAddress::LocalHost, 0));
    int connections = 0;
    QObject::connect(&hostile, &QTcpServer::newConnection, [&] {
        while (QTcpSocket *socket = hostile.nextPendingConnection()) {
            ++connections;
            socket->write(QByteArray(4096, '\x5A'));
        }
    });
    ASSERT_TRUE(tree.writeConfig("ferrox.cfg", configFor(tree, hostile.serverPort())));
    QProcess gateway;
    tree.start(gateway, {});
    ASSERT_TRUE(gateway.waitForStarted(5000));
    // Cut off and connected again, more than once, without dying.
    EXPECT_TRUE(waitFor([&] { return connections >= 3; }, 15000));
    EXPECT_EQ(gateway.state(), QProcess::Running);
    const QByteArray log = tree.readLog();
    EXPECT_EQ(log.count("closed: a frame header failed its checksum"), 1) << log.constData();
    // So are the connection events of the streak.
    const QByteArray endpoint = "127.0.0.1:" + QByteArray::number(hostile.serverPort());
    EXPECT_EQ(log.count("\tConnected to " + endpoint + "\n"), 1);
    EXPECT_EQ(log.count("\tConnection to " + endpoint + " closed\n"), 1);
    stop(gateway);
}
