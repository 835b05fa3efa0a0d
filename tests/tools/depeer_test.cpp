#include "depeer.h"
#include "gateway/links/de/detestsupport.h"

#include <QTextStream>

#include <gtest/gtest.h>

namespace {

// Counts and times past what their words and timers hold were taken (an
// int overflow left the run without an end), now they are refused.
TEST(DEPeerOptions, NumbersPastTheirWordsAreRefused)
{
    const auto parse = [](const QStringList &arguments, QString &error) {
        DEPeerOptions options;
        return options.parse(QStringList{QStringLiteral("--listen"), QStringLiteral("0")} + arguments, error);
    };
    QString error;
    EXPECT_FALSE(parse({QStringLiteral("--duration"), QStringLiteral("3000000")}, error));
    EXPECT_EQ(error, QStringLiteral("--duration 3000000: a number from 1 to 2147483 expected"));
    EXPECT_TRUE(parse({QStringLiteral("--duration"), QStringLiteral("2147483")}, error)) << qPrintable(error);
    for (const char *option : {"--count", "--exit-after", "--rate"}) {
        EXPECT_FALSE(parse({QString::fromLatin1(option), QStringLiteral("1e30")}, error)) << option;
        EXPECT_TRUE(error.contains(QStringLiteral("a number from"))) << qPrintable(error);
    }
}

class DEPeerReceiving : public ::testing::Test
{
protected:
    // A listening peer with `options`, and a connection to it.
    void start(DEPeerOptions options)
    {
        options.listen = true;
        options.quiet = true;
        peer.reset(new DEPeer(options, out));
        QString error;
        ASSERT_TRUE(peer->start(error)) << qPrintable(error);
        socket.connectToHost(QHostAddress::LocalHost, peer->serverPort());
        ASSERT_TRUE(socket.waitForConnected(5000));
    }
    void sendValue(quint32 index, float value)
    {
        RawPack pack;
        pack.param(index, RawPack::floatBytes(value));
        socket.write(pack.frame());
        socket.flush();
    }
    QString text;
    QTextStream out{&text};
    QScopedPointer<DEPeer> peer;
    QTcpSocket socket;
};

// Once the run had reached --exit-after, the frames read with the last
// one stayed in the buffer unseen, and every later arrival counted and
// printed the first again.
TEST_F(DEPeerReceiving, FramesReadWithTheLastValueAreCountedOnce)
{
    DEPeerOptions options;
    options.exitAfterValues = 1;
    options.keepLastValues = true;
    start(options);
    RawPack first;
    first.param(3, RawPack::floatBytes(1.5f));
    RawPack second;
    second.param(3, RawPack::floatBytes(2.5f));
    socket.write(first.frame() + second.frame());
    socket.flush();
    EXPECT_TRUE(waitUntil([&] { return peer->totals().framesReceived >= 2; }, 2000));
    EXPECT_EQ(peer->totals().framesReceived, 2u);
    EXPECT_EQ(peer->lastValueReceived(9, 3), RawPack::floatBytes(2.5f));
}

// The command-line peer kept every value a sender addressed, without bound.
TEST_F(DEPeerReceiving, ValuesAreKeptOnlyWhenAsked)
{
    start(DEPeerOptions());
    sendValue(7, 1.5f);
    ASSERT_TRUE(waitUntil([&] { return peer->totals().valuesReceived == 1; }));
    EXPECT_TRUE(peer->lastValueReceived(9, 7).isEmpty());
}

} // namespace

// Without a rate each connection gets a round; those rounds went uncounted,
// so --count never ended them and --ramp never moved the values.
TEST_F(DEPeerReceiving, RoundsPerConnectionAreCountedAndBounded)
{
    DEPeerOptions options;
    QString error;
    ASSERT_TRUE(options.parse({QStringLiteral("--listen"), QStringLiteral("0"), QStringLiteral("--send"),
                               QStringLiteral("FLOAT:1=1"), QStringLiteral("--count"), QStringLiteral("1"),
                               QStringLiteral("--ramp"), QStringLiteral("1"), QStringLiteral("--keepalive"), QStringLiteral("0")},
                              error))
        << qPrintable(error);
    start(options);
    ASSERT_TRUE(waitUntil([&] { return socket.bytesAvailable() > 0; }, 5000));
    QTcpSocket second;
    second.connectToHost(QHostAddress::LocalHost, peer->serverPort());
    ASSERT_TRUE(waitUntil([&] { return peer->linkCount() == 2; }, 5000));
    waitUntil([] { return false; }, 300); // time for a round that should not come
    EXPECT_EQ(second.bytesAvailable(), 0);
    EXPECT_EQ(peer->totals().rounds, 1u);
    EXPECT_EQ(peer->totals().valuesSent, 1u);
}

// A pack size past what one frame holds built frames that every DE end
// refuses (and closes the connection for); such a pack is now split.
TEST_F(DEPeerReceiving, PacksAreSplitToFitAFrame)
{
    DEPeerOptions options;
    options.driven = true;
    options.paramTimes = true;
    options.packSize = 1000000;
    DEPeerOptions::Values values;
    values.type = 43; // TIMESPEC64: with index and time, 28 bytes a parameter
    for (quint32 i = 0; i < 600000; ++i) {
        values.indices.append(i);
        values.values.append(QByteArray(16, '\0'));
    }
    options.sends.append(values);
    start(options);
    ASSERT_TRUE(waitUntil([&] { return peer->linkCount() == 1; }, 5000));
    ASSERT_TRUE(peer->sendRoundNow());
    EXPECT_EQ(peer->totals().packsSent, 2u);
    EXPECT_EQ(peer->totals().valuesSent, 600000u);
}
