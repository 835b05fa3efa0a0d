#include "app/systemdnotify.h"

#include "servicetestsupport.h"
#include "support/fixedclock.h"
#include "support/messagecapture.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

// A notification socket as systemd offers one, named by NOTIFY_SOCKET while
// it exists.
class NotifySocket
{
public:
    NotifySocket()
        : m_fd(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0))
        , m_path(m_dir.filePath(QStringLiteral("notify")))
        , m_env("NOTIFY_SOCKET", QFile::encodeName(m_path))
    {
        sockaddr_un address = {};
        address.sun_family = AF_UNIX;
        qstrncpy(address.sun_path, QFile::encodeName(m_path).constData(), sizeof(address.sun_path));
        m_bound = m_fd >= 0 && ::bind(m_fd, reinterpret_cast<sockaddr *>(&address), sizeof(address)) == 0;
    }
    ~NotifySocket() { ::close(m_fd); }

    bool isValid() const { return m_bound; }
    // Every datagram that arrived so far (waiting at most 1 s for the first).
    QByteArrayList received() const
    {
        QByteArrayList all;
        pollfd fd = {m_fd, POLLIN, 0};
        for (int wait = 1000; ::poll(&fd, 1, wait) > 0; wait = 0) {
            char buffer[4096];
            const ssize_t n = ::recv(m_fd, buffer, sizeof(buffer), 0);
            if (n <= 0)
                break;
            all << QByteArray(buffer, int(n));
        }
        return all;
    }
    void unbind() { QFile::remove(m_path); }

private:
    QTemporaryDir m_dir;
    int m_fd;
    QString m_path;
    ScopedEnvironment m_env;
    bool m_bound = false;
};

} // namespace

TEST(SystemdNotifier, SendsReadyStatusAndStoppingToTheNotifySocket)
{
    NotifySocket socket;
    ASSERT_TRUE(socket.isValid());
    const ScopedEnvironment noWatchdog("WATCHDOG_USEC", QByteArray());
    SystemdNotifier notifier;
    EXPECT_TRUE(notifier.enabled());
    EXPECT_EQ(notifier.watchdogTimeoutMs(), 0);
    EXPECT_TRUE(notifier.ready(QStringLiteral("Running: 2 ties")));
    EXPECT_TRUE(notifier.status(QStringLiteral("two\nlines")));
    notifier.petWatchdog(); // no watchdog asked for: no pet
    EXPECT_TRUE(notifier.stopping());
    EXPECT_EQ(socket.received(), (QByteArrayList{"READY=1\nSTATUS=Running: 2 ties", "STATUS=two lines", "STOPPING=1"}));
}

TEST(SystemdNotifier, PetsTheWatchdogAtMostEveryQuarterOfItsTimeout)
{
    NotifySocket socket;
    ASSERT_TRUE(socket.isValid());
    const ScopedEnvironment timeout("WATCHDOG_USEC", "2000000");
    const ScopedEnvironment pid("WATCHDOG_PID", QByteArray::number(qint64(::getpid())));
    FixedClock clock(utc(2026, 1, 1));
    SystemdNotifier notifier;
    EXPECT_EQ(notifier.watchdogTimeoutMs(), 2000);
    EXPECT_EQ(notifier.petIntervalMs(), 500);
    notifier.petWatchdog(); // the first tick pets at once
    clock.advance(499);
    notifier.petWatchdog();
    clock.advance(1);
    notifier.petWatchdog();
    EXPECT_EQ(socket.received(), (QByteArrayList{"WATCHDOG=1", "WATCHDOG=1"}));
}

TEST(SystemdNotifier, WatchdogOfAnotherProcessAndNoSocketMeanNothingToDo)
{
    {
        NotifySocket socket;
        const ScopedEnvironment timeout("WATCHDOG_USEC", "2000000");
        const ScopedEnvironment pid("WATCHDOG_PID", QByteArray::number(qint64(::getpid()) + 1));
        EXPECT_EQ(SystemdNotifier().watchdogTimeoutMs(), 0);
    }
    const ScopedEnvironment none("NOTIFY_SOCKET", QByteArray());
    SystemdNotifier notifier;
    EXPECT_FALSE(notifier.enabled());
    EXPECT_FALSE(notifier.ready(QStringLiteral("x")));
}

TEST(SystemdNotifier, ALostSocketIsReportedOncePerStreak)
{
    NotifySocket socket;
    ASSERT_TRUE(socket.isValid());
    MessageCapture messages;
    SystemdNotifier notifier;
    socket.unbind();
    EXPECT_FALSE(notifier.status(QStringLiteral("a")));
    EXPECT_FALSE(notifier.status(QStringLiteral("b")));
    EXPECT_EQ(messages.warnings().filter(QStringLiteral("cannot notify systemd")).size(), 1)
        << qPrintable(messages.texts().join('\n'));
}
