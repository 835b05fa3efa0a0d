#include "installationtree.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QProcess>
#include <QThread>

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include <mqueue.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

// The built program started as a service ("bin/ferrox", detached) from an
// installation tree, and controlled by further runs of it.
namespace {

const QByteArray kServiceConfig = "<config><misc><locale lang='en'/></misc><service/></config>";

QString descriptorTarget(qint64 pid, int fd)
{
    return QFile::symLinkTarget(QStringLiteral("/proc/%1/fd/%2").arg(pid).arg(fd));
}

// The example's message queues under names of this test run only, removed
// when the test ends.
struct ExampleQueues {
    const QByteArray prefix = "/ferrox-test-" + QByteArray::number(QCoreApplication::applicationPid()) + "-";
    ~ExampleQueues()
    {
        for (const char *direction : {"in", "out"})
            ::mq_unlink((prefix + direction).constData());
    }
};

// The example installation (its configuration, lists, definitions and
// scripts), its data directory made the tree's as the build and the
// installation write it, its queues renamed to `queues`.
bool installExample(const InstallationTree &tree, const ExampleQueues &queues)
{
    const QDir source(QStringLiteral(FERROX_SOURCE_DIR "/examples/config"));
    QFile in(source.filePath(QStringLiteral("ferrox.cfg.in")));
    if (!in.open(QIODevice::ReadOnly))
        return false;
    QByteArray text = in.readAll();
    text.replace("@FERROX_EXAMPLE_DATA_DIR@", QFile::encodeName(QDir(tree.dataPath()).absolutePath()));
    text.replace("/ferrox-example-", queues.prefix);
    for (const QString &file : source.entryList(QDir::Files))
        if (file != QLatin1String("ferrox.cfg.in") && !QFile::copy(source.filePath(file), tree.configPath(file)))
            return false;
    return tree.writeConfig(QStringLiteral("ferrox.cfg"), text);
}

QByteArray readFirst(const QString &dir, const QString &pattern)
{
    const QStringList found = QDir(dir).entryList({pattern}, QDir::Files);
    QFile file(QDir(dir).filePath(found.value(0)));
    return !found.isEmpty() && file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A starter, and so the service it starts, under a low limit of open
// descriptors.
class LimitedProcess : public QProcess
{
public:
    explicit LimitedProcess(rlim_t descriptors) : m_descriptors(descriptors) {}

protected:
    void setupChildProcess() override
    {
        const rlimit limit{m_descriptors, m_descriptors};
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }

private:
    rlim_t m_descriptors;
};

// A client connection that never sends; -1 when it cannot be made.
int idleConnection(const QString &path)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const QByteArray encoded = QFile::encodeName(path);
    std::memcpy(addr.sun_path, encoded.constData(), size_t(encoded.size()));
    if (::connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof(addr)) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// True once the service has closed `fd` (or reset it), within `msecs`.
bool closedByPeer(int fd, int msecs)
{
    pollfd p = {fd, POLLIN, 0};
    if (::poll(&p, 1, msecs) <= 0)
        return false;
    char byte;
    return ::read(fd, &byte, 1) <= 0;
}

} // namespace

TEST(Service, ExampleInstallationRunsDetachedAndStopsWithTerminate)
{
    InstallationTree tree;
    ASSERT_TRUE(tree.isValid());
    const ExampleQueues queues;
    ASSERT_TRUE(installExample(tree, queues));
    QFile input(tree.dataPath(QStringLiteral("plant_input.txt")));
    ASSERT_TRUE(input.open(QIODevice::WriteOnly));
    input.write("pass 0\nTEMP_BOILER;81.5\nPRESS_STEAM;12.25\nPUMP_RUNNING;1\n");
    input.close();

    const InstallationTree::Run started = tree.run({});
    ASSERT_TRUE(started.finished);
    ASSERT_EQ(started.exitCode, 0) << started.err.constData();
    EXPECT_TRUE(started.err.isEmpty()) << started.err.constData();
    const qint64 pid = tree.servicePid();
    ASSERT_NE(pid, 0);
    // Nothing of the starter's terminal stays with the service.
    for (const int fd : {0, 1, 2})
        EXPECT_EQ(descriptorTarget(pid, fd), QStringLiteral("/dev/null")) << fd;

    // Its working directory is "/": the example's data paths are absolute.
    EXPECT_TRUE(waitFor(
        [&] {
            return readFirst(tree.dataPath(), QStringLiteral("plant_values_*.txt")).contains("\nTEMP_BOILER;81.5;OK;")
                   && readFirst(tree.dataPath(), QStringLiteral("plant_plot_*.txt")).contains("\nTEMP_BOILER;81.5\n");
        },
        15000))
        << readFirst(tree.dataPath(), QStringLiteral("plant_values_*.txt")).constData();
    const InstallationTree::Run version = tree.run({QStringLiteral("-v")});
    EXPECT_TRUE(version.out.endsWith("is not installed and running\n\n")) << version.out.constData();

    const InstallationTree::Run stopped = tree.run({QStringLiteral("-t")});
    EXPECT_EQ(stopped.exitCode, 0) << stopped.err.constData();
    // -t returns once the service has ended.
    EXPECT_EQ(tree.servicePid(), 0);
    const QByteArray log = tree.readLog();
    EXPECT_TRUE(log.contains("\tApplication was started\n")) << log.constData();
    EXPECT_TRUE(log.endsWith("\tApplication was stopped\n")) << log.constData();
}

TEST(Service, StartThatFailsReturnsNonZeroAndSaysWhy)
{
    InstallationTree tree;
    ASSERT_TRUE(tree.isValid());
    ASSERT_TRUE(tree.writeConfig("ferrox.cfg", kServiceConfig));
    const InstallationTree::Run typo = tree.run({QStringLiteral("-x")});
    EXPECT_EQ(typo.exitCode, 252); // -4
    EXPECT_TRUE(typo.err.startsWith("The service Unix Ferrox could not start\n  the service exited with code 255\n"
                                    "  Wrong argument -x (see -h"))
        << typo.err.constData();

    ASSERT_TRUE(tree.writeConfig("ferrox.cfg", "<config><misc/><foo/></config>"));
    const InstallationTree::Run broken = tree.run({});
    EXPECT_EQ(broken.exitCode, 252);
    EXPECT_TRUE(broken.err.contains("\n  Error loading config: not supposed section \"foo\" occurred\n")) << broken.err.constData();
    // As a service too, a line that is a warning and a log line is logged once.
    EXPECT_EQ(tree.readLog().count("\tError loading config: not supposed section \"foo\" occurred\n"), 1);
    EXPECT_TRUE(tree.readLog().endsWith("\tError loading config\n")) << tree.readLog().constData();
    EXPECT_EQ(tree.servicePid(), 0);

    // Another process listens at the control socket when the service (as
    // its unit runs it, without the starter's check) comes to open it: the
    // log tells why the start failed, and never that it started.
    ASSERT_TRUE(tree.writeConfig("ferrox.cfg", kServiceConfig));
    QLocalServer squatter;
    ASSERT_TRUE(squatter.listen(tree.lockPath().chopped(int(sizeof(".lock") - 1))));
    QProcess unitRun;
    QProcessEnvironment env = tree.environment();
    env.insert(QStringLiteral("FERROX_SERVICE_RUN"), QStringLiteral("1"));
    unitRun.setProcessEnvironment(env);
    unitRun.start(tree.program(), QStringList());
    ASSERT_TRUE(unitRun.waitForFinished(30000));
    EXPECT_EQ(unitRun.exitCode(), 255);
    const QByteArray err = unitRun.readAllStandardError();
    EXPECT_TRUE(err.contains("the control socket could not be opened")) << err.constData();
    EXPECT_FALSE(tree.readLog().contains("Application was st")) << tree.readLog().constData();
    EXPECT_TRUE(tree.readLog().contains("the control socket could not be opened")) << tree.readLog().constData();
    squatter.close();

    // Control actions to a stopped service fail and say why.
    const InstallationTree::Run command = tree.run({QStringLiteral("-c"), QStringLiteral("5")});
    EXPECT_EQ(command.exitCode, 255);
    EXPECT_TRUE(command.err.startsWith("The service could not take the command. (")) << command.err.constData();
}

TEST(Service, WarningsWhileRunningReachTheLogWithRepeatsSuppressed)
{
    InstallationTree tree;
    ASSERT_TRUE(tree.isValid());
    // A table file in a directory that does not exist: every tick fails to
    // write it.
    ASSERT_TRUE(tree.writeConfig("clock.csv", "kks,index,type\n@CURRENT_DATETIME_UTC,1,SDWORD\n"));
    ASSERT_TRUE(tree.writeConfig(
        "ferrox.cfg", "<config><misc><locale lang='en'/></misc><service/>"
                      "<textfileout id='t' minwriteinterval='0'><csvlist file='clock.csv' kks='0' index='1' type='2' "
                      "direction='out'/><outfile filename='" + QFile::encodeName(tree.dataPath("missing/t_%1.txt"))
                          + "' date='isodate' zone='utc'/></textfileout></config>"));
    ASSERT_EQ(tree.run({}).exitCode, 0);
    const QByteArray appended = "cannot append";
    EXPECT_TRUE(waitFor([&] { return tree.readLog().toLower().contains(appended); }, 10000)) << tree.readLog().constData();
    // Several more ticks fail the same way.
    QThread::msleep(2000);
    ASSERT_EQ(tree.run({QStringLiteral("-t")}).exitCode, 0);
    EXPECT_EQ(tree.readLog().toLower().count(appended), 1) << tree.readLog().constData();
}

TEST(Service, SurvivesRunningOutOfDescriptorsAndStillRefusesASecondInstance)
{
#ifdef __SANITIZE_ADDRESS__
    // The sanitizers' run-time checks open descriptors themselves (a pipe
    // to test whether memory can be read): without any left they report
    // sound code and end the program.
    GTEST_SKIP() << "the sanitizers need free descriptors";
#endif
    InstallationTree tree;
    ASSERT_TRUE(tree.isValid());
    ASSERT_TRUE(tree.writeConfig("ferrox.cfg", kServiceConfig));
    LimitedProcess starter(20);
    const InstallationTree::Run started = tree.run(starter, {});
    ASSERT_EQ(started.exitCode, 0) << started.err.constData();
    const QString socket = tree.lockPath().chopped(int(sizeof(".lock") - 1));

    // Far more connections than it has descriptors, none of them sending.
    std::vector<int> idle;
    for (int i = 0; i < 100; ++i)
        if (const int fd = idleConnection(socket); fd >= 0)
            idle.push_back(fd);
    EXPECT_FALSE(idle.empty());
    for (const int fd : idle) {
        EXPECT_TRUE(closedByPeer(fd, 15000));
        ::close(fd);
    }

    // It listens again; control works; a second start refuses.
    EXPECT_TRUE(waitFor([&] { return tree.run({QStringLiteral("-v")}).out.endsWith("and running\n\n"); }, 15000));
    const qint64 pid = tree.servicePid();
    const InstallationTree::Run second = tree.run({});
    EXPECT_EQ(second.exitCode, 252);
    EXPECT_EQ(second.err, "The service Unix Ferrox could not start\n  the service is running already\n");
    EXPECT_EQ(tree.servicePid(), pid);
    EXPECT_EQ(tree.run({QStringLiteral("-t")}).exitCode, 0);
    EXPECT_EQ(tree.servicePid(), 0);
    // The log, which could not be written while no descriptor was left,
    // holds the loss and the recovery all the same.
    EXPECT_TRUE(tree.readLog().contains("was lost (the server stopped listening); listening again\n")) << tree.readLog().constData();
}
