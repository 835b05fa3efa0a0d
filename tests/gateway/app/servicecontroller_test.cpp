#include "servicetestsupport.h"

#include "app/servicecontroller.h"
#include "app/servicelock.h"
#include "app/unixserversocket.h"
#include "app/unixsocket.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

QString currentLogin()
{
    const passwd *entry = ::getpwuid(::getuid());
    return entry ? QString::fromLocal8Bit(entry->pw_name) : QString();
}

// A control peer on its own thread, written with plain system calls: it
// accepts one connection, reads one command and then answers with `chunks`
// (a short pause between them) and closes, or with no chunks and `hold`
// keeps the connection open without answering until it is destroyed.
class ScriptedPeer
{
public:
    ScriptedPeer(const QString &path, const QByteArrayList &chunks, bool hold = false)
        : m_path(QFile::encodeName(path))
    {
        ::unlink(m_path.constData());
        m_listenFd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::memcpy(addr.sun_path, m_path.constData(), size_t(m_path.size()));
        ::bind(m_listenFd, reinterpret_cast<sockaddr *>(&addr), sizeof(addr));
        ::listen(m_listenFd, 5);
        if (::pipe(m_wake) != 0)
            m_wake[0] = m_wake[1] = -1;
        m_thread = std::thread([this, chunks, hold] { serve(chunks, hold); });
    }

    ~ScriptedPeer()
    {
        const char byte = 0;
        (void)::write(m_wake[1], &byte, 1);
        m_thread.join();
        ::close(m_listenFd);
        ::close(m_wake[0]);
        ::close(m_wake[1]);
        ::unlink(m_path.constData());
    }

    // What the client sent (valid once the reply went out).
    QByteArray received() const
    {
        while (!m_done.load())
            QThread::msleep(1);
        return m_received;
    }

private:
    // Waits for `fd` to become readable or the peer to be woken; true for `fd`.
    bool waitFor(int fd, int msecs)
    {
        pollfd fds[2] = {{fd, POLLIN, 0}, {m_wake[0], POLLIN, 0}};
        return ::poll(fds, 2, msecs) > 0 && (fds[0].revents & (POLLIN | POLLHUP)) && !fds[1].revents;
    }

    void serve(const QByteArrayList &chunks, bool hold)
    {
        if (!waitFor(m_listenFd, 10000)) {
            m_done = true;
            return;
        }
        const int fd = ::accept(m_listenFd, nullptr, nullptr);
        while (!m_received.contains("\r\n") && waitFor(fd, 5000)) {
            char buffer[256];
            const ssize_t n = ::read(fd, buffer, sizeof(buffer));
            if (n <= 0)
                break;
            m_received.append(buffer, int(n));
        }
        m_done = true;
        for (const QByteArray &chunk : chunks) {
            (void)::write(fd, chunk.constData(), size_t(chunk.size()));
            QThread::msleep(50);
        }
        if (hold)
            waitFor(m_wake[0], 30000);
        ::close(fd);
    }

    QByteArray m_path;
    int m_listenFd = -1;
    int m_wake[2] = {-1, -1};
    QByteArray m_received;
    std::atomic<bool> m_done{false};
    std::thread m_thread;
};

class ControllerFixture : public ::testing::Test
{
protected:
    void TearDown() override { removeSocketFile(m_name); }

    QString m_name = uniqueServiceName();
};

} // namespace

TEST(ServiceSocketPath, DisplayNameGivesLowerCaseLettersAndDigitsAndLogin)
{
    const ScopedEnvironment unset(ServiceController::controlDirVariable(), QByteArray());
    EXPECT_EQ(ServiceController::socketPath(QStringLiteral("Unix Ferrox")),
              QStringLiteral("/var/tmp/unixferrox.") + currentLogin());
    EXPECT_EQ(ServiceController::lockPath(QStringLiteral("Unix Ferrox")),
              QStringLiteral("/var/tmp/unixferrox.") + currentLogin() + QStringLiteral(".lock"));
    EXPECT_EQ(ServiceController::socketPath(QStringLiteral("Ferrox_Test-42.\u00c4 \u00df/x")),
              QStringLiteral("/var/tmp/ferroxtest42x.") + currentLogin());
    // The control directory comes from the environment (empty: the default).
    for (const char *dir : {"/run/ferrox", "/run/ferrox/"}) {
        const ScopedEnvironment set(ServiceController::controlDirVariable(), dir);
        EXPECT_EQ(ServiceController::socketPath(QStringLiteral("Unix Ferrox")), "/run/ferrox/unixferrox." + currentLogin());
    }
    const ScopedEnvironment empty(ServiceController::controlDirVariable(), "");
    EXPECT_EQ(ServiceController::controlDirectory(), QStringLiteral("/var/tmp"));
}

TEST(ServiceSocketPath, LongNameIsCutToTheAddressField)
{
    const ScopedEnvironment unset(ServiceController::controlDirVariable(), QByteArray());
    const QString name(255, QLatin1Char('a'));
    const QString path = ServiceController::socketPath(name);
    EXPECT_EQ(QFile::encodeName(path).size(), UnixSocket::MaxPathBytes);
    EXPECT_TRUE(path.startsWith(QStringLiteral("/var/tmp/aaaa")));
    EXPECT_FALSE(path.contains(QLatin1Char('.')));
}

TEST(ServiceSocketPath, CutNeverSplitsACharacter)
{
    // 106 bytes of ASCII, then a two-byte character across the limit.
    const QString path = QStringLiteral("/var/tmp/") + QString(97, QLatin1Char('a')) + QChar(0xe9);
    ASSERT_EQ(QFile::encodeName(path).size(), 108);
    const QString cut = UnixSocket::addressPath(path);
    EXPECT_EQ(cut, path.left(path.size() - 1));
    const QString fits = path.left(50);
    EXPECT_EQ(UnixSocket::addressPath(fits), fits);
}

TEST(ServiceFilePath, AbsoluteRelativeAndPathSearch)
{
    QTemporaryDir dir;
    ASSERT_TRUE(QDir().mkpath(dir.filePath(QStringLiteral("a"))));
    ASSERT_TRUE(QDir().mkpath(dir.filePath(QStringLiteral("b"))));
    // In "a" the name is a directory, which does not count.
    ASSERT_TRUE(QDir().mkpath(dir.filePath(QStringLiteral("a/prog"))));
    QFile program(dir.filePath(QStringLiteral("b/prog")));
    ASSERT_TRUE(program.open(QIODevice::WriteOnly));
    program.close();

    const ScopedEnvironment path("PATH", QFile::encodeName(dir.filePath(QStringLiteral("none")) + ":"
                                                           + dir.filePath(QStringLiteral("a")) + ":"
                                                           + dir.filePath(QStringLiteral("b"))));
    EXPECT_EQ(ServiceController::serviceFilePath(QStringLiteral("prog")), dir.filePath(QStringLiteral("b/prog")));
    EXPECT_EQ(ServiceController::serviceFilePath(QStringLiteral("missing")), QString());
    EXPECT_EQ(ServiceController::serviceFilePath(QString()), QString());
    EXPECT_EQ(ServiceController::serviceFilePath(QStringLiteral("/opt/x/../bin/ferrox")),
              QStringLiteral("/opt/x/../bin/ferrox"));

    const QString oldCurrent = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(dir.path()));
    const QString relative = ServiceController::serviceFilePath(QStringLiteral("b/prog"));
    const QString dotted = ServiceController::serviceFilePath(QStringLiteral("./bin/ferrox"));
    QDir::setCurrent(oldCurrent);
    EXPECT_EQ(relative, QDir(dir.path()).absoluteFilePath(QStringLiteral("b/prog")));
    EXPECT_EQ(dotted, QDir(dir.path()).absoluteFilePath(QStringLiteral("bin/ferrox")));
}

TEST(ServiceFilePath, EmptyPathEntryStandsForTheCurrentDirectory)
{
    QTemporaryDir dir;
    QFile program(dir.filePath(QStringLiteral("prog")));
    ASSERT_TRUE(program.open(QIODevice::WriteOnly));
    program.close();
    const ScopedEnvironment path("PATH", "/nonexistent-dir::");
    const QString oldCurrent = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(dir.path()));
    const QString found = ServiceController::serviceFilePath(QStringLiteral("prog"));
    QDir::setCurrent(oldCurrent);
    EXPECT_EQ(QFileInfo(found).canonicalFilePath(), QFileInfo(program).canonicalFilePath());
    EXPECT_TRUE(QFileInfo(found).isAbsolute());
}

TEST(ServiceSettings, InstallWritesTheEntryAndUninstallRemovesOnlyIt)
{
    const ScopedSystemSettings scope;
    ServiceController a(QStringLiteral("Service A"));
    ServiceController b(QStringLiteral("Service B"));
    EXPECT_FALSE(a.isInstalled());
    ASSERT_TRUE(a.install(QStringLiteral("/opt/ferrox/bin/ferrox"), QStringLiteral("The gateway"), 2));
    ASSERT_TRUE(b.install(QStringLiteral("/opt/other"), QString(), 0));
    EXPECT_TRUE(a.isInstalled());

    {
        QSettings settings(scope.fileName(), QSettings::IniFormat);
        settings.beginGroup(QStringLiteral("services"));
        EXPECT_EQ(settings.childGroups(), (QStringList{QStringLiteral("Service A"), QStringLiteral("Service B")}));
        EXPECT_EQ(settings.value(QStringLiteral("Service A/path")).toString(), QStringLiteral("/opt/ferrox/bin/ferrox"));
        EXPECT_EQ(settings.value(QStringLiteral("Service A/description")).toString(), QStringLiteral("The gateway"));
        EXPECT_EQ(settings.value(QStringLiteral("Service A/automaticStartup")).toInt(), 2);
    }

    ASSERT_TRUE(a.uninstall());
    EXPECT_FALSE(a.isInstalled());
    EXPECT_TRUE(b.isInstalled());
    QSettings settings(scope.fileName(), QSettings::IniFormat);
    EXPECT_EQ(settings.value(QStringLiteral("services/Service B/path")).toString(), QStringLiteral("/opt/other"));
}

TEST(ServiceSettings, NamesWithSeparatorsOrNullCharactersStayConsistent)
{
    const ScopedSystemSettings scope;
    ServiceController other(QStringLiteral("Other"));
    ASSERT_TRUE(other.install(QStringLiteral("/bin/other"), QString(), 0));
    for (const QString &name : {QStringLiteral("Plant/Line 1"), QStringLiteral("Plant") + QChar(0) + QStringLiteral("Line")}) {
        SCOPED_TRACE(name.toStdString());
        ServiceController c(name);
        ASSERT_TRUE(c.install(QStringLiteral("/bin/x"), QString(), 1));
        EXPECT_TRUE(c.isInstalled());
        ASSERT_TRUE(c.uninstall());
        EXPECT_FALSE(c.isInstalled());
    }
    EXPECT_TRUE(other.isInstalled());
}

TEST(ServiceSettings, EmptyGroupNameNeverTouchesTheServicesGroup)
{
    const ScopedSystemSettings scope;
    ServiceController other(QStringLiteral("Other"));
    ASSERT_TRUE(other.install(QStringLiteral("/bin/other"), QString(), 0));
    for (const QString &name : {QString(), QStringLiteral("/"), QStringLiteral("//")}) {
        ServiceController c(name);
        EXPECT_FALSE(c.isInstalled());
        EXPECT_FALSE(c.uninstall());
        EXPECT_FALSE(c.install(QStringLiteral("/bin/x"), QString(), 0));
    }
    EXPECT_TRUE(other.isInstalled());
    // Nor is an entry without a program path written.
    ServiceController noPath(QStringLiteral("No Path"));
    EXPECT_FALSE(noPath.install(QString(), QString(), 0));
    EXPECT_FALSE(noPath.isInstalled());
}

TEST(ServiceSettings, UnwritableSettingsAreReported)
{
    const ScopedSystemSettings scope(false);
    ServiceController c(QStringLiteral("Blocked"));
    StdStreamCapture capture;
    const bool installed = c.install(QStringLiteral("/bin/x"), QString(), 0);
    capture.finish();
    EXPECT_FALSE(installed);
    EXPECT_EQ(capture.err(), "Cannot install \"Blocked\". Cannot write to: " + QFile::encodeName(scope.fileName())
                                 + ". Check permissions.\n");
    EXPECT_TRUE(capture.out().isEmpty());
}

TEST(ServiceSettings, UnwritableSettingsBlockUninstall)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "root may write every file";
    const ScopedSystemSettings scope;
    ServiceController c(QStringLiteral("Fixed"));
    ASSERT_TRUE(c.install(QStringLiteral("/bin/x"), QString(), 0));
    QFile::setPermissions(scope.fileName(), QFile::ReadOwner);
    QFile::setPermissions(scope.dir(), QFile::ReadOwner | QFile::ExeOwner);
    StdStreamCapture capture;
    const bool removed = c.uninstall();
    capture.finish();
    QFile::setPermissions(scope.dir(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    EXPECT_FALSE(removed);
    EXPECT_TRUE(c.isInstalled());
    EXPECT_TRUE(capture.err().startsWith("Cannot uninstall \"Fixed\". Cannot write to: "));
}

TEST_F(ControllerFixture, ServiceNotRunningFailsAtOnce)
{
    ServiceController c(m_name);
    QElapsedTimer timer;
    timer.start();
    EXPECT_FALSE(c.isRunning());
    EXPECT_FALSE(c.sendText(QStringLiteral("alive")));
    EXPECT_FALSE(c.stop());
    EXPECT_LT(timer.elapsed(), 3000);
    EXPECT_FALSE(c.lastError().isEmpty());
}

TEST_F(ControllerFixture, SilentPeerMakesTheCommandFailWithinTheBound)
{
    ServiceController c(m_name);
    c.setReplyTimeout(300);
    const ScriptedPeer peer(c.socketPath(), {}, true);
    QElapsedTimer timer;
    timer.start();
    EXPECT_FALSE(c.sendText(QStringLiteral("alive")));
    EXPECT_LT(timer.elapsed(), 4000);
    EXPECT_TRUE(c.lastError().contains(QLatin1String("no reply"))) << qPrintable(c.lastError());
    EXPECT_EQ(peer.received(), QByteArray("alive\r\n"));
}

TEST_F(ControllerFixture, TerminateIsBoundedByTheDefaultTimeout)
{
    ServiceController c(m_name);
    ASSERT_EQ(c.replyTimeout(), ServiceController::DefaultReplyTimeoutMs);
    const ScriptedPeer peer(c.socketPath(), {}, true);
    QElapsedTimer timer;
    timer.start();
    EXPECT_FALSE(c.stop());
    EXPECT_LT(timer.elapsed(), 20000);
    EXPECT_EQ(peer.received(), QByteArray("terminate\r\n"));
}

TEST_F(ControllerFixture, PeerClosingWithoutReplyFailsWithoutWaitingForTheBound)
{
    ServiceController c(m_name);
    c.setReplyTimeout(20000);
    const ScriptedPeer peer(c.socketPath(), {});
    QElapsedTimer timer;
    timer.start();
    EXPECT_FALSE(c.sendCommand(42));
    EXPECT_LT(timer.elapsed(), 10000);
    EXPECT_EQ(peer.received(), QByteArray("num:42\r\n"));
}

TEST_F(ControllerFixture, ReplySplitOverTwoWritesIsJoined)
{
    ServiceController c(m_name);
    const ScriptedPeer peer(c.socketPath(), {QByteArray("tr"), QByteArray("ue")}, true);
    EXPECT_TRUE(c.pause());
    EXPECT_EQ(peer.received(), QByteArray("pause\r\n"));
}

TEST_F(ControllerFixture, OnlyAnExactTrueUpToTheFirstZeroByteSucceeds)
{
    const struct {
        QByteArray reply;
        bool ok;
    } cases[] = {
        {QByteArray("true"), true},
        {QByteArray("true\0junk", 9), true},
        {QByteArray("false"), false},
        {QByteArray("TRUE"), false},
        {QByteArray("tru"), false},
        {QByteArray("trueish"), false},
        {QByteArray("\0true", 5), false},
    };
    for (const auto &row : cases) {
        SCOPED_TRACE(row.reply.toStdString());
        ServiceController c(m_name);
        const ScriptedPeer peer(c.socketPath(), {row.reply});
        EXPECT_EQ(c.resume(), row.ok);
    }
}

TEST_F(ControllerFixture, StartRefusesWhenTheServiceAnswersAlive)
{
    ServiceController c(m_name);
    QTemporaryDir dir;
    const QString marker = dir.filePath(QStringLiteral("started"));
    {
        const ScriptedPeer peer(c.socketPath(), {QByteArray("true")});
        EXPECT_FALSE(c.start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), QStringLiteral("touch '%1'").arg(marker)}));
        EXPECT_EQ(peer.received(), QByteArray("alive\r\n"));
    }
    EXPECT_FALSE(c.start(QString(), {}));
}

TEST_F(ControllerFixture, StartedProgramRunsDetachedAndItsFailureIsReported)
{
    ServiceController c(m_name);
    QTemporaryDir dir;
    const QString out = dir.filePath(QStringLiteral("out"));
    // Where it runs, how it is marked, its arguments, its streams, its session.
    const QString script = QStringLiteral("streams=$(readlink /proc/$$/fd/0 /proc/$$/fd/1); "
                                          "{ pwd; echo \"$FERROX_SERVICE_RUN $FERROX_SERVICE_DETACHED\"; echo \"$1\"; "
                                          "echo \"$streams\"; "
                                          "test \"$(cut -d' ' -f6 /proc/$$/stat)\" = $$ && echo leader; } > '%1'; "
                                          "echo 'Error: first' >&2; echo second >&2; exit 3")
                               .arg(out);
    EXPECT_FALSE(c.start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), script, QStringLiteral("sh"), QStringLiteral("first arg")}));
    EXPECT_EQ(c.lastFailure(), ServiceController::StartFailed);
    EXPECT_EQ(c.lastError(), QStringLiteral("the service exited with code 3"));
    EXPECT_EQ(c.startOutput(), (QStringList{QStringLiteral("Error: first"), QStringLiteral("second")}));
    // The starting process itself is not marked.
    EXPECT_FALSE(qEnvironmentVariableIsSet("FERROX_SERVICE_RUN"));
    QFile file(out);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), QByteArray("/\n1 1\nfirst arg\n/dev/null\n/dev/null\nleader\n"));

    // One that neither answers nor ends in time is reported, not waited for.
    c.setStartTimeout(200);
    EXPECT_FALSE(c.start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), QStringLiteral("echo starting >&2; exec sleep 1")}));
    EXPECT_EQ(c.lastError(), QStringLiteral("the service did not answer within 200 ms; it may still be starting (see -v and the log)"));
    EXPECT_EQ(c.startOutput(), QStringList{QStringLiteral("starting")});

    EXPECT_FALSE(c.start(dir.filePath(QStringLiteral("missing")), {}));
    EXPECT_TRUE(c.lastError().startsWith(QStringLiteral("cannot start "))) << qPrintable(c.lastError());
}

// Files another user put at the control paths (the directory may be one
// every user writes to) are not the service's: a lock held in them keeps no
// service from starting, a socket there is not believed, nor kept.
TEST_F(ControllerFixture, ControlFilesOfAnotherUserAreNotTrusted)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "giving a file to another user needs root";
    ServiceController c(m_name);
    const QByteArray lockPath = QFile::encodeName(c.lockPath());
    const int planted = ::open(lockPath.constData(), O_RDWR | O_CREAT, 0644);
    ASSERT_GE(planted, 0);
    ASSERT_EQ(::fchown(planted, 65534, 65534), 0);
    ASSERT_EQ(::flock(planted, LOCK_SH), 0);
    EXPECT_EQ(ServiceLock::probe(c.lockPath()), ServiceLock::Free);
    {
        ServiceLock lock(c.lockPath());
        QString reason;
        EXPECT_TRUE(lock.acquire(reason)) << qPrintable(reason);
        struct stat st {};
        ASSERT_EQ(::stat(lockPath.constData(), &st), 0);
        EXPECT_EQ(st.st_uid, 0u);
    }
    ::close(planted);

    const QByteArray socketPath = QFile::encodeName(c.socketPath());
    {
        const ScriptedPeer peer(c.socketPath(), {}, true);
        ASSERT_EQ(::chown(socketPath.constData(), 65534, 65534), 0);
        EXPECT_FALSE(c.sendText(QStringLiteral("alive")));
        EXPECT_EQ(c.lastFailure(), ServiceController::NoAccess);
        EXPECT_TRUE(c.lastError().contains(QLatin1String("uid 65534"))) << qPrintable(c.lastError());
        UnixServerSocket server;
        EXPECT_TRUE(server.listenAt(c.socketPath())) << qPrintable(server.errorText());
    }

    // A link or a plain file of another user at the paths blocked every start.
    ::unlink(lockPath.constData());
    ::unlink(socketPath.constData());
    ASSERT_EQ(::symlink("/nonexistent", lockPath.constData()), 0);
    ASSERT_EQ(::lchown(lockPath.constData(), 65534, 65534), 0);
    const int plain = ::open(socketPath.constData(), O_RDWR | O_CREAT | O_EXCL, 0644);
    ASSERT_GE(plain, 0);
    ASSERT_EQ(::fchown(plain, 65534, 65534), 0);
    ::close(plain);
    const auto pathsAreTaken = [&] {
        ServiceLock lock(c.lockPath());
        QString reason;
        EXPECT_TRUE(lock.acquire(reason)) << qPrintable(reason);
        UnixServerSocket server;
        EXPECT_TRUE(server.listenAt(c.socketPath())) << qPrintable(server.errorText());
    };
    pathsAreTaken();

    // Nor does a directory with a file in it, which cannot be removed: it
    // is moved aside (within the tests' own control directory).
    ::unlink(lockPath.constData());
    ::unlink(socketPath.constData());
    for (const QByteArray &path : {lockPath, socketPath}) {
        ASSERT_EQ(::mkdir(path.constData(), 0755), 0);
        const QByteArray inside = path + "/x";
        ::close(::open(inside.constData(), O_RDWR | O_CREAT, 0644));
        ASSERT_EQ(::lchown(inside.constData(), 65534, 65534), 0);
        ASSERT_EQ(::lchown(path.constData(), 65534, 65534), 0);
    }
    pathsAreTaken();
}

TEST_F(ControllerFixture, InstanceHoldingTheLockWithoutAnsweringIsNotResponding)
{
    ServiceController c(m_name);
    c.setReplyTimeout(200);
    ServiceLock lock(c.lockPath());
    QString reason;
    ASSERT_TRUE(lock.acquire(reason)) << qPrintable(reason);
    QFile file(c.lockPath());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), QByteArray::number(qint64(::getpid())) + "\n");

    ServiceLock second(c.lockPath());
    EXPECT_FALSE(second.acquire(reason));
    EXPECT_EQ(reason, QStringLiteral("another instance of the service runs: it holds the lock %1").arg(c.lockPath()));

    // Its socket is gone, but it runs: neither "not running" nor a new start.
    EXPECT_EQ(c.state(), ServiceController::NotResponding);
    EXPECT_FALSE(c.stop());
    EXPECT_EQ(c.lastFailure(), ServiceController::NoReply);
    EXPECT_FALSE(c.start(QStringLiteral("/bin/true"), {}));
    EXPECT_TRUE(c.lastError().startsWith(QLatin1String("an instance of the service runs already"))) << qPrintable(c.lastError());

    lock.release();
    EXPECT_EQ(ServiceLock::probe(c.lockPath()), ServiceLock::Free);
    EXPECT_EQ(c.state(), ServiceController::NotRunning);
}
