#include "app/systemdnotify.h"

#include "servicetestsupport.h"
#include "support/fixedclock.h"
#include "support/messagecapture.h"
#include "support/notifysocket.h"

#include <QFile>

#include <gtest/gtest.h>

#include <unistd.h>

namespace {

// The notification socket, named by NOTIFY_SOCKET while it exists.
struct Notify {
    NotifySocket socket;
    ScopedEnvironment env{"NOTIFY_SOCKET", QFile::encodeName(socket.path())};
};

} // namespace

TEST(SystemdNotifier, SendsReadyStatusAndStoppingToTheNotifySocket)
{
    Notify notify;
    NotifySocket &socket = notify.socket;
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
    Notify notify;
    NotifySocket &socket = notify.socket;
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
        Notify notify;
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
    Notify notify;
    NotifySocket &socket = notify.socket;
    ASSERT_TRUE(socket.isValid());
    MessageCapture messages;
    SystemdNotifier notifier;
    socket.unbind();
    EXPECT_FALSE(notifier.status(QStringLiteral("a")));
    EXPECT_FALSE(notifier.status(QStringLiteral("b")));
    EXPECT_EQ(messages.warnings().filter(QStringLiteral("cannot notify systemd")).size(), 1)
        << qPrintable(messages.texts().join('\n'));
}
