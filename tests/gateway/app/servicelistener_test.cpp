#include "servicetestsupport.h"

#include "app/servicecontroller.h"
#include "app/servicelistener.h"
#include "app/unixsocket.h"
#include "support/logcapture.h"
#include "support/messagecapture.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

// The frame run as a service in this process, controlled through its real
// control socket from a second thread.
namespace {

const QString Program = QStringLiteral("/opt/ferrox/bin/ferrox");

class ServiceRunFixture : public ::testing::Test
{
protected:
    void TearDown() override { removeSocketFile(m_name); }

    QString m_name = uniqueServiceName();
};

// Opens a raw control connection from the client thread.
bool connectRaw(UnixSocket &socket, const QString &name)
{
    return socket.connectToPath(ServiceController::socketPath(name), 5000);
}

// A plain descriptor connected to the control socket (-1 on failure), for
// a client that writes without ever reading: a Qt socket would read what
// arrives into its own buffer.
int connectRawFd(const QString &name)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const QByteArray path = QFile::encodeName(ServiceController::socketPath(name));
    std::memcpy(addr.sun_path, path.constData(), size_t(path.size()));
    const timeval limit{10, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof(limit));
    if (::connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof(addr)) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// True once the service closed `fd`'s connection (within 10 s), without
// reading anything from it.
bool closedByService(int fd)
{
    const QDeadlineTimer deadline(10000);
    while (!deadline.hasExpired()) {
        pollfd p{fd, POLLRDHUP, 0};
        if (::poll(&p, 1, 0) > 0 && (p.revents & (POLLRDHUP | POLLHUP | POLLERR)))
            return true;
        QThread::msleep(20);
    }
    return false;
}

void send(UnixSocket &socket, const QByteArray &bytes)
{
    socket.write(bytes);
    socket.flush();
    socket.waitForBytesWritten(5000);
}

// Asks "alive" until the service answers, at most 10 s.
bool answersSoon(const QString &name)
{
    ServiceController c(name);
    const QDeadlineTimer deadline(10000);
    while (!c.sendText(QStringLiteral("alive"))) {
        if (deadline.hasExpired())
            return false;
        QThread::msleep(50);
    }
    return true;
}

} // namespace

// A "terminate" and a SIGTERM can both be handled in one pass of the loop;
// a second stop drained the ties again and counted their losses twice.
TEST_F(ServiceRunFixture, TwoStopRequestsInOnePassStopOnce)
{
    RecordingService service({Program}, m_name);
    const auto client = [] {
        for (int i = 0; i < 2; ++i)
            QMetaObject::invokeMethod(QCoreApplication::instance(), &ServiceBase::stopAndQuit, Qt::QueuedConnection);
    };
    EXPECT_EQ(runServiceWithClient(service, client, true), 0);
    EXPECT_EQ(service.calls, (QStringList{QStringLiteral("start"), QStringLiteral("stop")}));
}

TEST_F(ServiceRunFixture, TerminateStopsTheServiceAndRemovesItsSocket)
{
    RecordingService service({Program, QStringLiteral("unknown-arg")}, m_name);
    bool alive = false;
    QByteArray reply;
    std::atomic<bool> answered{false};
    bool answeredBeforeStop = false;
    // The reply comes before the stop, which may take longer than a client waits.
    service.onStop = [&] {
        const QDeadlineTimer deadline(5000);
        while (!answered && !deadline.hasExpired())
            QThread::msleep(5);
        answeredBeforeStop = answered;
    };
    mode_t mode = 0;
    const int code = runServiceWithClient(
        service,
        [&] {
            ServiceController c(m_name);
            alive = c.sendText(QStringLiteral("alive"));
            UnixSocket socket;
            if (!connectRaw(socket, m_name))
                return;
            // Nothing after "terminate" is carried out.
            send(socket, "terminate\r\nreload\r\nnum:5\r\nalive\r\n");
            reply = readReply(socket, 18);
            answered = true;
        },
        true, &mode);
    EXPECT_EQ(code, 0);
    EXPECT_TRUE(alive);
    EXPECT_EQ(reply, QByteArray("truefalsefalsetrue"));
    EXPECT_TRUE(answeredBeforeStop);
    EXPECT_EQ(service.calls, (QStringList{QStringLiteral("start"), QStringLiteral("stop")}));
    // An unrecognised first argument reaches the application.
    EXPECT_EQ(TinyTestApplication::lastArguments, (QStringList{Program, QStringLiteral("unknown-arg")}));
    EXPECT_EQ(TinyTestApplication::alive, 0);
    EXPECT_FALSE(QFile::exists(ServiceController::socketPath(m_name)));
    // Created under the file-creation mask 027.
    EXPECT_EQ(mode & 027, 0u);
    EXPECT_NE(mode & 0700, 0u);
}

TEST_F(ServiceRunFixture, CannotBeStoppedRefusesTerminate)
{
    RecordingService service({Program}, m_name);
    service.setServiceFlags(ServiceBase::CannotBeStopped);
    bool terminated = true;
    bool aliveAfter = false;
    runServiceWithClient(
        service,
        [&] {
            ServiceController c(m_name);
            terminated = c.stop();
            aliveAfter = c.sendText(QStringLiteral("alive"));
        },
        false);
    EXPECT_FALSE(terminated);
    EXPECT_TRUE(aliveAfter);
    EXPECT_EQ(service.calls, QStringList{QStringLiteral("start")});
}

TEST_F(ServiceRunFixture, PauseAndResumeNeedCanBeSuspended)
{
    for (const bool suspendable : {true, false}) {
        SCOPED_TRACE(suspendable);
        RecordingService service({Program}, m_name);
        if (suspendable)
            service.setServiceFlags(ServiceBase::CanBeSuspended | ServiceBase::CannotBeStopped);
        bool paused = !suspendable;
        bool resumed = !suspendable;
        runServiceWithClient(
            service,
            [&] {
                ServiceController c(m_name);
                paused = c.pause();
                resumed = c.resume();
            },
            false);
        EXPECT_EQ(paused, suspendable);
        EXPECT_EQ(resumed, suspendable);
        if (suspendable)
            EXPECT_EQ(service.calls, (QStringList{QStringLiteral("start"), QStringLiteral("pause"), QStringLiteral("resume")}));
        else
            EXPECT_EQ(service.calls, QStringList{QStringLiteral("start")});
    }
}

TEST_F(ServiceRunFixture, NumericCommandsReachProcessCommand)
{
    RecordingService service({Program}, m_name);
    QList<bool> replies;
    runServiceWithClient(
        service,
        [&] {
            ServiceController c(m_name);
            replies << c.sendCommand(42) << c.sendCommand(-7) << c.sendText(QStringLiteral("num:abc"))
                    << c.sendText(QStringLiteral("num:"));
        },
        false);
    EXPECT_EQ(replies, (QList<bool>{true, true, true, false}));
    EXPECT_EQ(service.calls, (QStringList{QStringLiteral("start"), QStringLiteral("command 42"),
                                          QStringLiteral("command -7"), QStringLiteral("command 0")}));
}

TEST_F(ServiceRunFixture, UnknownCommandsAreAnsweredFalse)
{
    RecordingService service({Program}, m_name);
    service.setServiceFlags(ServiceBase::CanBeSuspended);
    QList<bool> replies;
    runServiceWithClient(
        service,
        [&] {
            ServiceController c(m_name);
            for (const char *command : {"", "hello", "TERMINATE", "alive ", " pause", "num", "terminate\n"})
                replies << c.sendText(QLatin1String(command));
            replies << c.sendText(QStringLiteral("alive"));
        },
        false);
    EXPECT_EQ(replies, (QList<bool>{false, false, false, false, false, false, false, true}));
    EXPECT_EQ(service.calls, QStringList{QStringLiteral("start")});
}

TEST_F(ServiceRunFixture, SeveralCommandsInOneWriteAreServedInOrder)
{
    RecordingService service({Program}, m_name);
    QByteArray reply;
    runServiceWithClient(
        service,
        [&] {
            UnixSocket socket;
            if (!connectRaw(socket, m_name))
                return;
            // A zero byte is one more byte of a bad command; what follows it
            // in the same read is served.
            const char bytes[] = "alive\r\nnum:5\r\nalive\0junk\r\nnum:6\r\n";
            send(socket, QByteArray(bytes, sizeof(bytes) - 1));
            reply = readReply(socket, 17);
        },
        false);
    EXPECT_EQ(reply, QByteArray("truetruefalsetrue"));
    EXPECT_EQ(service.calls, (QStringList{QStringLiteral("start"), QStringLiteral("command 5"), QStringLiteral("command 6")}));
}

TEST_F(ServiceRunFixture, ReloadIsAnsweredWithItsVerdictAndTheCommandsAfterItWait)
{
    RecordingService service({Program}, m_name);
    service.reloadLines = QStringList{QStringLiteral("Configuration not reloaded"), QStringLiteral("a reason")};
    QByteArray raw;
    bool applied = true;
    QStringList lines;
    ServiceController::Failure failure = ServiceController::NoFailure;
    runServiceWithClient(
        service,
        [&] {
            UnixSocket socket;
            if (!connectRaw(socket, m_name))
                return;
            send(socket, "reload\r\nalive\r\n");
            raw = readReply(socket, 46);
            ServiceController controller(m_name);
            applied = controller.reload(lines);
            failure = controller.lastFailure();
        },
        false);
    EXPECT_EQ(raw, QByteArray("false\0Configuration not reloaded\na reason\0true", 46));
    EXPECT_FALSE(applied);
    EXPECT_EQ(failure, ServiceController::Refused);
    EXPECT_EQ(lines, service.reloadLines);
    EXPECT_EQ(service.calls.count(QStringLiteral("reload")), 2);
}

TEST_F(ServiceRunFixture, CommandSplitOverWritesIsJoined)
{
    RecordingService service({Program}, m_name);
    QByteArray early;
    QByteArray reply;
    runServiceWithClient(
        service,
        [&] {
            UnixSocket socket;
            if (!connectRaw(socket, m_name))
                return;
            send(socket, "nu");
            // Nothing is answered before the command is complete.
            if (socket.waitForReadyRead(200))
                early = socket.readAll();
            send(socket, "m:12\r");
            if (socket.waitForReadyRead(200))
                early += socket.readAll();
            send(socket, "\nalive\r\n");
            reply = readReply(socket, 8);
        },
        false);
    EXPECT_TRUE(early.isEmpty()) << early.constData();
    EXPECT_EQ(reply, QByteArray("truetrue"));
    EXPECT_EQ(service.calls, (QStringList{QStringLiteral("start"), QStringLiteral("command 12")}));
}

TEST_F(ServiceRunFixture, EveryConnectionHasItsOwnBuffer)
{
    RecordingService service({Program}, m_name);
    QByteArray replyA;
    QByteArray replyB;
    runServiceWithClient(
        service,
        [&] {
            UnixSocket a;
            UnixSocket b;
            if (!connectRaw(a, m_name) || !connectRaw(b, m_name))
                return;
            send(a, "num:");
            send(b, "num:3\r\n");
            replyB = readReply(b, 4);
            send(a, "1\r\n");
            replyA = readReply(a, 4);
        },
        false);
    EXPECT_EQ(replyA, QByteArray("true"));
    EXPECT_EQ(replyB, QByteArray("true"));
    EXPECT_EQ(service.calls, (QStringList{QStringLiteral("start"), QStringLiteral("command 3"), QStringLiteral("command 1")}));
}

TEST_F(ServiceRunFixture, EndlessTextWithoutCommandEndClosesOnlyThatConnection)
{
    RecordingService service({Program}, m_name);
    bool closed = false;
    bool aliveAfter = false;
    MessageCapture messages;
    runServiceWithClient(
        service,
        [&] {
            UnixSocket flood;
            if (!connectRaw(flood, m_name))
                return;
            send(flood, QByteArray(ServiceListener::MaxPendingText + 100, 'x'));
            closed = flood.state() == QLocalSocket::UnconnectedState || flood.waitForDisconnected(5000);
            aliveAfter = ServiceController(m_name).sendText(QStringLiteral("alive"));
        },
        false);
    EXPECT_TRUE(closed);
    EXPECT_TRUE(aliveAfter);
    EXPECT_TRUE(messages.contains(QStringLiteral("ServiceListener::slotReadyRead(): more than 1024 characters without a command end, connection closed")));
    EXPECT_EQ(service.calls, QStringList{QStringLiteral("start")});
}

TEST_F(ServiceRunFixture, CommandSentJustBeforeClosingIsStillServed)
{
    RecordingService service({Program}, m_name);
    runServiceWithClient(
        service,
        [&] {
            UnixSocket socket;
            if (!connectRaw(socket, m_name))
                return;
            // The reply to the first finds the peer gone; the second was
            // read with it and is served all the same.
            send(socket, "num:9\r\nnum:8\r\n");
            socket.abort();
            // Wait until the service has seen it.
            ServiceController(m_name).sendText(QStringLiteral("alive"));
        },
        false);
    EXPECT_EQ(service.calls,
              (QStringList{QStringLiteral("start"), QStringLiteral("command 9"), QStringLiteral("command 8")}));
}

TEST_F(ServiceRunFixture, SecondInstanceDoesNotTakeTheSocketOfALiveOne)
{
    RecordingService service({Program}, m_name);
    int secondCode = 0;
    bool aliveAfter = false;
    QString failure;
    service.onStart = [&] {
        // The second instance runs inside the first one's start(): the
        // first one's lock stops it before it builds its application.
        MessageCapture messages;
        RecordingService second({Program}, m_name);
        secondCode = second.exec();
        failure = messages.warnings().value(0);
        aliveAfter = QFile::exists(ServiceController::socketPath(m_name));
    };
    bool stillControllable = false;
    runServiceWithClient(
        service, [&] { stillControllable = ServiceController(m_name).stop(); }, true);
    EXPECT_EQ(secondCode, -1);
    EXPECT_EQ(failure, QStringLiteral("The service failed to run. (another instance of the service runs: it holds the lock %1)")
                           .arg(ServiceController::lockPath(m_name)));
    EXPECT_TRUE(aliveAfter);
    EXPECT_TRUE(stillControllable);
}

TEST_F(ServiceRunFixture, ClientsBeyondTheLimitAreRefusedUntilOneLeaves)
{
    RecordingService service({Program}, m_name);
    bool allServed = false;
    bool refused = false;
    bool servedAfter = false;
    MessageCapture messages;
    runServiceWithClient(
        service,
        [&] {
            std::vector<std::unique_ptr<UnixSocket>> held;
            for (int i = 0; i < ServiceListener::MaxClients; ++i) {
                held.emplace_back(new UnixSocket);
                if (!connectRaw(*held.back(), m_name))
                    return;
                send(*held.back(), "alive\r\n");
                if (readReply(*held.back(), 4) != "true")
                    return;
            }
            allServed = true;
            UnixSocket extra;
            refused = connectRaw(extra, m_name) && extra.waitForDisconnected(5000);
            // A place comes free while the next client is refused: it asks
            // again and is served.
            const int leaving = int(held.front()->socketDescriptor());
            std::thread leave([leaving] {
                QThread::msleep(300);
                ::shutdown(leaving, SHUT_RDWR);
            });
            servedAfter = ServiceController(m_name).isRunning();
            leave.join();
        },
        false);
    EXPECT_TRUE(allServed);
    EXPECT_TRUE(refused);
    EXPECT_TRUE(servedAfter);
    EXPECT_TRUE(messages.contains(QStringLiteral("Control connection refused: 16 clients are connected already")));
}

TEST_F(ServiceRunFixture, IdleClientIsClosedAfterTheTimeout)
{
    RecordingService service({Program}, m_name);
    bool closed = false;
    qint64 after = 0;
    runServiceWithClient(
        service,
        [&] {
            UnixSocket idle;
            if (!connectRaw(idle, m_name))
                return;
            QElapsedTimer timer;
            timer.start();
            closed = idle.waitForDisconnected(15000);
            after = timer.elapsed();
        },
        false);
    EXPECT_TRUE(closed);
    EXPECT_GE(after, ServiceListener::DefaultIdleTimeoutMs / 2);
}

TEST_F(ServiceRunFixture, ClientThatNeverReadsIsDroppedPastTheReplyBound)
{
    RecordingService service({Program}, m_name);
    bool dropped = false;
    bool aliveAfter = false;
    MessageCapture messages;
    runServiceWithClient(
        service,
        [&] {
            const int fd = connectRawFd(m_name);
            if (fd >= 0) {
                const QByteArray chunk = QByteArray("alive\r\n").repeated(1024);
                for (qint64 sent = 0; sent < 64 * 1024 * 1024;) {
                    const ssize_t n = ::send(fd, chunk.constData(), size_t(chunk.size()), MSG_NOSIGNAL);
                    if (n < 0) {
                        dropped = errno == EPIPE || errno == ECONNRESET;
                        break;
                    }
                    sent += n;
                }
            }
            ::close(fd);
            aliveAfter = answersSoon(m_name);
        },
        false);
    EXPECT_TRUE(dropped);
    EXPECT_TRUE(aliveAfter);
    EXPECT_TRUE(messages.contains(QStringLiteral("Control connection closed: more than 4096 bytes of replies left unread")));
}

// Reload verdicts count as replies: a client that asks for reloads and never
// reads is dropped past the bound, and commands waiting behind a reload are
// bounded as text is.
TEST_F(ServiceRunFixture, ReloadsOfAClientThatNeverReadsAreBounded)
{
    RecordingService service({Program}, m_name);
    service.reloadLines = QStringList{QString(5000, QLatin1Char('x'))};
    bool unreadDropped = false;
    bool waitingDropped = false;
    MessageCapture messages;
    runServiceWithClient(
        service,
        [&] {
            int fd = connectRawFd(m_name);
            const QByteArray reloads = QByteArray("reload\r\n").repeated(120);
            if (fd >= 0 && ::send(fd, reloads.constData(), size_t(reloads.size()), MSG_NOSIGNAL) == reloads.size())
                unreadDropped = closedByService(fd);
            ::close(fd);
            fd = connectRawFd(m_name);
            const QByteArray more = QByteArray("reload\r\n").repeated(200);
            if (fd >= 0 && ::send(fd, more.constData(), size_t(more.size()), MSG_NOSIGNAL) == more.size())
                waitingDropped = closedByService(fd);
            ::close(fd);
        },
        false);
    EXPECT_TRUE(unreadDropped);
    EXPECT_TRUE(messages.contains(QStringLiteral("Control connection closed: more than 4096 bytes of replies left unread")));
    EXPECT_LT(service.calls.count(QStringLiteral("reload")), 120);
    EXPECT_TRUE(waitingDropped);
    EXPECT_TRUE(messages.contains(QStringLiteral("ServiceListener::slotReadyRead(): more than 1024 characters of "
                                                 "commands wait behind a reload, connection closed")));
}

TEST_F(ServiceRunFixture, RemovedSocketFileIsListenedAgainAndLogged)
{
    RecordingService service({Program}, m_name);
    MessageCapture messages;
    LogCapture log;
    log.setFileName(QStringLiteral("/x/ferrox.log"));
    const QString path = ServiceController::socketPath(m_name);
    bool removed = false;
    bool answered = false;
    runServiceWithClient(
        service,
        [&] {
            removed = QFile::remove(path);
            answered = answersSoon(m_name);
        },
        false);
    EXPECT_TRUE(removed);
    EXPECT_TRUE(answered);
    EXPECT_TRUE(log.contains(QStringLiteral("Control socket %1 was lost (its file was removed or replaced); listening again").arg(path)))
        << qPrintable(log.lines().join(QLatin1Char('\n')));
}

TEST_F(ServiceRunFixture, FileSwappedInAtTheSocketPathIsLeftAloneThenAndAtStop)
{
    RecordingService service({Program}, m_name);
    MessageCapture messages;
    LogCapture log;
    const QString path = ServiceController::socketPath(m_name);
    const QString moved = path + QStringLiteral(".moved");
    bool swapped = false;
    bool oldSocketClosed = false;
    runServiceWithClient(
        service,
        [&] {
            // The socket moved away and a file of someone else's put in its
            // place; housekeeping closes the moved socket when it sees it.
            swapped = ::rename(QFile::encodeName(path).constData(), QFile::encodeName(moved).constData()) == 0;
            QFile file(path);
            swapped = swapped && file.open(QIODevice::WriteOnly) && file.write("precious") == 8;
            file.close();
            const QDeadlineTimer deadline(10000);
            while (!oldSocketClosed && !deadline.hasExpired()) {
                UnixSocket probe;
                oldSocketClosed = !probe.connectToPath(moved, 1000);
                QThread::msleep(20);
            }
        },
        false);
    QFile file(path);
    const bool opened = file.open(QIODevice::ReadOnly);
    const QByteArray content = file.readAll();
    file.close();
    QFile::remove(moved);
    ASSERT_TRUE(swapped);
    EXPECT_TRUE(oldSocketClosed);
    EXPECT_TRUE(opened);
    EXPECT_EQ(content, QByteArray("precious"));
    EXPECT_TRUE(messages.containsPart(QStringLiteral("Control socket %1 was lost and cannot listen again yet: %1 exists "
                                                     "and is not a socket")
                                          .arg(path)))
        << qPrintable(messages.texts().join(QLatin1Char('\n')));
}
