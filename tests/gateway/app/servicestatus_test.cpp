#include "servicetestsupport.h"

#include "app/servicecontroller.h"
#include "app/servicelistener.h"
#include "app/unixsocket.h"

#include <QFileInfo>

#include <gtest/gtest.h>

// The "status" control command, through the real control socket.
namespace {

const QString Program = QStringLiteral("/opt/ferrox/bin/ferrox");

class StatusFixture : public ::testing::Test
{
protected:
    void TearDown() override { removeSocketFile(m_name); }

    QString m_name = uniqueServiceName();
};

} // namespace

TEST_F(StatusFixture, ADocumentFarLongerThanTheReplyBoundArrivesWhole)
{
    RecordingService service({Program}, m_name);
    QByteArray document = "{\"ties\": [";
    while (document.size() < 40 * ServiceListener::MaxUnsentReplyBytes)
        document += "{\"id\": \"tie\", \"state\": 0},";
    document += "{}]}";
    service.statusDocument = document;
    QByteArray received;
    bool ok = false;
    bool aliveAfter = false;
    runServiceWithClient(
        service,
        [&] {
            ServiceController c(m_name);
            ok = c.status(received);
            aliveAfter = c.sendText(QStringLiteral("alive"));
        },
        false);
    EXPECT_TRUE(ok);
    EXPECT_EQ(received.size(), document.size());
    EXPECT_TRUE(received == document);
    EXPECT_TRUE(aliveAfter);
}

TEST_F(StatusFixture, AServiceWithoutStatusRefusesAndTheNextCommandGetsItsOwnReply)
{
    RecordingService service({Program}, m_name);
    QString reason;
    QByteArray reply;
    runServiceWithClient(
        service,
        [&] {
            ServiceController c(m_name);
            QByteArray document;
            if (!c.status(document))
                reason = c.lastError();
            UnixSocket socket;
            if (socket.connectToPath(ServiceController::socketPath(m_name), 5000)) {
                socket.write("status\r\nalive\r\n");
                socket.flush();
                reply = readReply(socket, 9);
            }
        },
        false);
    EXPECT_EQ(reason, QStringLiteral("the service gives no status"));
    EXPECT_EQ(reply, QByteArray("falsetrue"));
}

TEST(ServiceUser, NamesTheControlSocketOfAServiceRunByAnotherUser)
{
    const QString name = uniqueServiceName();
    const QString own = ServiceController::socketPath(name);
    {
        const ScopedEnvironment user(ServiceController::serviceUserVariable(), "ferrox");
        EXPECT_TRUE(ServiceController::socketPath(name).endsWith(QStringLiteral(".ferrox")));
        EXPECT_EQ(ServiceController::lockPath(name), ServiceController::socketPath(name) + ".lock");
    }
    {
        // A name is never a way out of the control directory.
        const ScopedEnvironment user(ServiceController::serviceUserVariable(), "../etc/x");
        const QString path = ServiceController::socketPath(name);
        EXPECT_TRUE(path.endsWith(QStringLiteral("._etc_x"))) << qPrintable(path);
        EXPECT_EQ(QFileInfo(path).path(), QFileInfo(own).path());
    }
    const ScopedEnvironment empty(ServiceController::serviceUserVariable(), "");
    EXPECT_EQ(ServiceController::socketPath(name), own);
}
