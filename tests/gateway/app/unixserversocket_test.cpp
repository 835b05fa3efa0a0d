#include "servicetestsupport.h"

#include "app/servicecontroller.h"
#include "app/unixserversocket.h"
#include "app/unixsocket.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

class UnixServerFixture : public ::testing::Test
{
protected:
    void TearDown() override { QFile::remove(m_path); }

    bool isSocketFile() const
    {
        struct stat st;
        return ::lstat(QFile::encodeName(m_path).constData(), &st) == 0 && S_ISSOCK(st.st_mode);
    }

    // Connects a non-blocking raw client; -1 when the connection is refused.
    int rawConnect() const
    {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        const QByteArray encoded = QFile::encodeName(m_path);
        std::memcpy(addr.sun_path, encoded.constData(), size_t(encoded.size()));
        if (::connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof(addr)) != 0) {
            ::close(fd);
            return -1;
        }
        return fd;
    }

    QString m_path = ServiceController::socketPath(uniqueServiceName());
};

} // namespace

TEST_F(UnixServerFixture, StaleSocketFileIsReplaced)
{
    // A socket file left behind as by a crashed service.
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const QByteArray encoded = QFile::encodeName(m_path);
    std::memcpy(addr.sun_path, encoded.constData(), size_t(encoded.size()));
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof(addr)), 0);
    ::close(fd);
    ASSERT_TRUE(isSocketFile());

    UnixServerSocket server;
    ASSERT_TRUE(server.listenAt(m_path)) << qPrintable(server.errorText());
    EXPECT_EQ(server.socketPath(), m_path);
    UnixSocket client;
    EXPECT_TRUE(client.connectToPath(m_path, 5000));
}

TEST_F(UnixServerFixture, LiveSocketIsLeftToItsOwner)
{
    UnixServerSocket owner;
    ASSERT_TRUE(owner.listenAt(m_path));
    UnixServerSocket intruder;
    EXPECT_FALSE(intruder.listenAt(m_path));
    EXPECT_TRUE(intruder.errorText().contains(QLatin1String("another process listens"))) << qPrintable(intruder.errorText());
    EXPECT_FALSE(intruder.isListening());
    UnixSocket client;
    EXPECT_TRUE(client.connectToPath(m_path, 5000));
}

TEST_F(UnixServerFixture, FileThatIsNoSocketIsNeverRemoved)
{
    QFile file(m_path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("precious");
    file.close();
    UnixServerSocket server;
    EXPECT_FALSE(server.listenAt(m_path));
    EXPECT_TRUE(server.errorText().contains(QLatin1String("is not a socket")));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), QByteArray("precious"));
}

TEST_F(UnixServerFixture, ClosingAndDestroyingRemoveTheFile)
{
    {
        UnixServerSocket server;
        ASSERT_TRUE(server.listenAt(m_path));
        EXPECT_TRUE(isSocketFile());
        // Nothing is left of the name it was bound under first.
        const QFileInfo info(m_path);
        EXPECT_EQ(info.dir().entryList({QStringLiteral(".fx*")}, QDir::System | QDir::Hidden), QStringList());
        server.closeSocket();
        EXPECT_FALSE(QFile::exists(m_path));
        EXPECT_TRUE(server.socketPath().isEmpty());
        ASSERT_TRUE(server.listenAt(m_path));
    }
    EXPECT_FALSE(QFile::exists(m_path));
}

TEST_F(UnixServerFixture, BacklogHoldsHundredsOfConnectionsNotYetAccepted)
{
    UnixServerSocket server;
    ASSERT_TRUE(server.listenAt(m_path));
    // No event loop runs, so nothing is accepted: the kernel queues as many
    // connections as the backlog allows (and the system's own limit).
    QFile limitFile(QStringLiteral("/proc/sys/net/core/somaxconn"));
    const int systemLimit = limitFile.open(QIODevice::ReadOnly) ? limitFile.readAll().trimmed().toInt() : 4096;
    const int expected = qMin(300, systemLimit);
    QList<int> fds;
    for (int i = 0; i < expected; ++i) {
        const int fd = rawConnect();
        if (fd < 0)
            break;
        fds << fd;
    }
    EXPECT_EQ(fds.size(), expected);
    for (const int fd : fds)
        ::close(fd);
}

TEST_F(UnixServerFixture, OverlongPathIsCutAlikeOnBothEnds)
{
    const QString longPath = QStringLiteral("/var/tmp/") + QString(150, QLatin1Char('q')) + QString::number(::getpid());
    m_path = UnixSocket::addressPath(longPath);
    ASSERT_EQ(QFile::encodeName(m_path).size(), UnixSocket::MaxPathBytes);
    UnixServerSocket server;
    ASSERT_TRUE(server.listenAt(longPath)) << qPrintable(server.errorText());
    EXPECT_EQ(server.socketPath(), m_path);
    EXPECT_TRUE(isSocketFile());
    UnixSocket client;
    EXPECT_TRUE(client.connectToPath(longPath, 5000));
}
