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

// A reload may outlast the watchdog's timeout: the timeout is widened while
// it runs and set back with the READY=1 that ends it.
TEST(SystemdNotifier, AReloadWidensTheWatchdogUntilItEnds)
{
    Notify notify;
    NotifySocket &socket = notify.socket;
    ASSERT_TRUE(socket.isValid());
    const ScopedEnvironment timeout("WATCHDOG_USEC", "10000000");
    const ScopedEnvironment pid("WATCHDOG_PID", QByteArray::number(qint64(::getpid())));
    SystemdNotifier notifier;
    ASSERT_TRUE(notifier.reloading());
    ASSERT_TRUE(notifier.ready(QStringLiteral("running")));
    ASSERT_TRUE(notifier.ready(QStringLiteral("running")));
    const QByteArrayList received = socket.received();
    ASSERT_EQ(received.size(), 3);
    EXPECT_TRUE(received[0].startsWith("RELOADING=1\nMONOTONIC_USEC=")) << received[0].constData();
    EXPECT_TRUE(received[0].endsWith("\nWATCHDOG=1\nWATCHDOG_USEC=90000000")) << received[0].constData();
    EXPECT_EQ(received[1], "READY=1\nSTATUS=running\nWATCHDOG=1\nWATCHDOG_USEC=10000000");
    EXPECT_EQ(received[2], "READY=1\nSTATUS=running");
}

TEST(SystemdNotifier, AWatchdogOfAnotherProcessIsNotPetted)
{
    Notify notify;
    const ScopedEnvironment timeout("WATCHDOG_USEC", "2000000");
    const ScopedEnvironment pid("WATCHDOG_PID", QByteArray::number(qint64(::getpid()) + 1));
    EXPECT_EQ(SystemdNotifier().watchdogTimeoutMs(), 0);
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
    EXPECT_FALSE(notifier.stopping());
    EXPECT_EQ(messages.warnings().filter(QStringLiteral("cannot notify systemd")).size(), 1)
        << qPrintable(messages.texts().join('\n'));
}
