#include "servicetestsupport.h"

#include "app/servicecontroller.h"
#include "app/unixsocket.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

// The detached start of a real service program and its control from the
// command line of further runs of that program.
namespace {

// The user and group of the runs made as another user: outside every group
// of the service.
constexpr uid_t OtherUser = 65534;

// A process that, when `asOtherUser`, drops to OtherUser before the program
// runs (exit status 126 when it cannot).
class ProgramProcess : public QProcess
{
public:
    bool asOtherUser = false;

protected:
    void setupChildProcess() override
    {
        if (asOtherUser && (::setgroups(0, nullptr) != 0 || ::setgid(OtherUser) != 0 || ::setuid(OtherUser) != 0))
            ::_exit(126);
    }
};

class ServiceProgramFixture : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        m_log = m_dir.filePath(QStringLiteral("service.log"));
    }

    void TearDown() override
    {
        // Never leave a service behind, whatever the test did.
        ServiceController c(m_name);
        if (c.isRunning())
            c.stop();
        waitUntil([&] { return !c.isRunning(); });
        removeSocketFile(m_name);
    }

    struct Result {
        int code = -1000;
        QByteArray out;
        QByteArray err;
    };

    // Runs the program with `args`; its output goes to files, as the
    // detached service it may start inherits them.
    QProcessEnvironment programEnvironment(int flags = 0) const
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove(QStringLiteral("FERROX_SERVICE_RUN"));
        environment.insert(QStringLiteral("FERROX_TESTSERVICE_NAME"), m_name);
        environment.insert(QStringLiteral("FERROX_TESTSERVICE_LOG"), m_log);
        environment.insert(QStringLiteral("FERROX_TESTSERVICE_FLAGS"), QString::number(flags));
        environment.insert(QStringLiteral("FERROX_TESTSERVICE_SETTINGS"), m_dir.filePath(QStringLiteral("etc")));
        if (!m_controlDir.isEmpty())
            environment.insert(QLatin1String(ServiceController::controlDirVariable()), m_controlDir);
        return environment;
    }

    // With `asOtherUser` the run is made as OtherUser, controlling this
    // user's service.
    Result runProgram(const QStringList &args, int flags = 0, bool asOtherUser = false)
    {
        QProcessEnvironment environment = programEnvironment(flags);
        if (asOtherUser)
            environment.insert(QLatin1String(ServiceController::serviceUserVariable()), ServiceController::serviceUser());
        const QString out = m_dir.filePath(QStringLiteral("out%1").arg(++m_runs));
        const QString err = m_dir.filePath(QStringLiteral("err%1").arg(m_runs));
        ProgramProcess process;
        process.asOtherUser = asOtherUser;
        process.setProcessEnvironment(environment);
        process.setStandardOutputFile(out);
        process.setStandardErrorFile(err);
        if (!m_workingDir.isEmpty())
            process.setWorkingDirectory(m_workingDir);
        process.start(QStringLiteral(FERROX_SERVICE_TEST_PROGRAM), args);
        Result result;
        if (!process.waitForFinished(30000)) {
            process.kill();
            process.waitForFinished(5000);
            return result;
        }
        result.code = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1000;
        QFile outFile(out);
        QFile errFile(err);
        if (outFile.open(QIODevice::ReadOnly))
            result.out = outFile.readAll();
        if (errFile.open(QIODevice::ReadOnly))
            result.err = errFile.readAll();
        return result;
    }

    template <typename Condition>
    static bool waitUntil(Condition condition)
    {
        const QDeadlineTimer deadline(15000);
        while (!condition()) {
            if (deadline.hasExpired())
                return false;
            QThread::msleep(10);
        }
        return true;
    }

    QStringList logLines() const
    {
        QFile file(m_log);
        if (!file.open(QIODevice::ReadOnly))
            return {};
        return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }

    bool logHas(const QString &line) const { return logLines().contains(line); }

    QTemporaryDir m_dir;
    QString m_log;
    QString m_name = uniqueServiceName();
    int m_runs = 0;
    // When set, the runs are made there and with that control directory.
    QString m_workingDir;
    QString m_controlDir;
};

} // namespace

TEST_F(ServiceProgramFixture, StartDetachedRefuseSecondStartAndTerminate)
{
    const Result started = runProgram({QStringLiteral("extra"), QStringLiteral("-D")}, ServiceBase::CanBeSuspended);
    ASSERT_EQ(started.code, 0) << started.err.constData();
    // The service runs in "/" with the arguments after the program name.
    ASSERT_TRUE(waitUntil([&] { return logHas(QStringLiteral("start in / with [extra -D]")); }))
        << qPrintable(logLines().join(QLatin1Char('|')));
    ServiceController c(m_name);
    EXPECT_TRUE(c.isRunning());

    const Result second = runProgram({});
    EXPECT_EQ(second.code, 252); // -4 as a process exit status
    EXPECT_EQ(second.err, "The service " + m_name.toLatin1() + " could not start\n  the service is running already\n");

    const Result version = runProgram({QStringLiteral("-v")});
    EXPECT_EQ(version.code, 0);
    EXPECT_TRUE(version.out.endsWith("is not installed and running\n\n")) << version.out.constData();

    EXPECT_EQ(runProgram({QStringLiteral("-p")}).code, 0);
    EXPECT_EQ(runProgram({QStringLiteral("-r")}).code, 0);
    EXPECT_EQ(runProgram({QStringLiteral("-c"), QStringLiteral("42")}).code, 0);
    EXPECT_EQ(runProgram({QStringLiteral("-c")}).code, 0);
    EXPECT_EQ(runProgram({QStringLiteral("-c"), QStringLiteral("x1")}).code, 0);

    const Result terminated = runProgram({QStringLiteral("-t")});
    EXPECT_EQ(terminated.code, 0);
    EXPECT_TRUE(terminated.err.isEmpty()) << terminated.err.constData();
    EXPECT_TRUE(waitUntil([&] { return !QFile::exists(c.socketPath()); }));
    EXPECT_FALSE(c.isRunning());
    EXPECT_EQ(logLines(), (QStringList{QStringLiteral("start in / with [extra -D]"), QStringLiteral("pause"),
                                       QStringLiteral("resume"), QStringLiteral("command 42"),
                                       QStringLiteral("command 0"), QStringLiteral("command 0"),
                                       QStringLiteral("stop")}));

    const Result again = runProgram({QStringLiteral("-terminate")});
    EXPECT_EQ(again.code, 0);
    EXPECT_TRUE(again.err.contains("The service could not be stopped.")) << again.err.constData();
}

TEST_F(ServiceProgramFixture, RelativeControlDirectoryIsTheSameForTheServiceAndItsCommands)
{
    // The service runs in "/", where this directory does not exist.
    m_workingDir = m_dir.path();
    m_controlDir = QStringLiteral("ctl-") + m_name;
    ASSERT_TRUE(QDir(m_workingDir).mkdir(m_controlDir));
    const Result started = runProgram({});
    ASSERT_EQ(started.code, 0) << started.err.constData();
    const Result stopped = runProgram({QStringLiteral("-t")});
    EXPECT_EQ(stopped.code, 0) << stopped.err.constData();
    EXPECT_TRUE(waitUntil([&] { return logHas(QStringLiteral("stop")); }))
        << qPrintable(logLines().join(QLatin1Char('|')));
}

TEST_F(ServiceProgramFixture, UserWithoutAccessIsNeverToldTheServiceIsNotRunning)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to run the controller as another user";
    ASSERT_EQ(runProgram({}).code, 0);
    ASSERT_TRUE(waitUntil([&] { return logHas(QStringLiteral("start in / with []")); }));
    ServiceController c(m_name);
    // Neither the socket nor the lock file is open to others.
    struct stat socketStat;
    struct stat lockStat;
    ASSERT_EQ(::stat(QFile::encodeName(c.socketPath()).constData(), &socketStat), 0);
    ASSERT_EQ(::stat(QFile::encodeName(c.lockPath()).constData(), &lockStat), 0);
    ASSERT_EQ(socketStat.st_mode & 07, 0u);
    ASSERT_EQ(lockStat.st_mode & 07, 0u);
    ASSERT_NE(socketStat.st_gid, OtherUser);
    ASSERT_NE(lockStat.st_gid, OtherUser);

    const Result terminated = runProgram({QStringLiteral("-t")}, 0, true);
    if (terminated.code == 126 || terminated.code == -1000)
        GTEST_SKIP() << "the test program cannot be run as user " << OtherUser;
    EXPECT_EQ(terminated.code, 255);
    EXPECT_TRUE(terminated.err.startsWith("The service could not be stopped.")) << terminated.err.constData();
    EXPECT_TRUE(terminated.err.contains("Permission denied")) << terminated.err.constData();

    const Result version = runProgram({QStringLiteral("-v")}, 0, true);
    EXPECT_EQ(version.code, 0);
    EXPECT_FALSE(version.out.contains("not running")) << version.out.constData();
    EXPECT_TRUE(version.out.contains(" and in a state this user cannot tell (cannot tell whether the service runs: "))
        << version.out.constData();
    EXPECT_TRUE(c.isRunning());
    EXPECT_EQ(logLines(), QStringList{QStringLiteral("start in / with []")});
}

TEST_F(ServiceProgramFixture, PauseWithoutCanBeSuspendedChangesNothing)
{
    ASSERT_EQ(runProgram({}).code, 0);
    ASSERT_TRUE(waitUntil([&] { return logHas(QStringLiteral("start in / with []")); }));
    // Refused: the exit status and standard error say so.
    const Result paused = runProgram({QStringLiteral("-p")});
    EXPECT_EQ(paused.code, 255);
    EXPECT_EQ(paused.err, "The service could not be paused. (the service cannot be suspended)\n");
    const Result resumed = runProgram({QStringLiteral("-r")});
    EXPECT_EQ(resumed.code, 255);
    EXPECT_EQ(resumed.err, "The service could not be resumed. (the service cannot be suspended)\n");
    EXPECT_EQ(runProgram({QStringLiteral("-t")}).code, 0);
    EXPECT_TRUE(waitUntil([&] { return !ServiceController(m_name).isRunning(); }));
    EXPECT_EQ(logLines(), (QStringList{QStringLiteral("start in / with []"), QStringLiteral("stop")}));
}

TEST_F(ServiceProgramFixture, InstallThroughTheProgramRecordsItsPath)
{
    const Result installed = runProgram({QStringLiteral("-i")});
    EXPECT_EQ(installed.code, 0);
    EXPECT_EQ(installed.out, "The service " + m_name.toLatin1() + " has been installed under: "
                                 + QByteArray(FERROX_SERVICE_TEST_PROGRAM) + "\n");
    const Result version = runProgram({QStringLiteral("-v")});
    EXPECT_TRUE(version.out.endsWith("is installed and not running\n\n")) << version.out.constData();
    EXPECT_EQ(runProgram({QStringLiteral("-u")}).code, 0);
}

TEST_F(ServiceProgramFixture, ServiceRunEndsCleanlyWithAConnectionStillOpen)
{
    QProcessEnvironment environment = programEnvironment();
    environment.insert(QStringLiteral("FERROX_SERVICE_RUN"), QStringLiteral("1"));
    QProcess service;
    service.setProcessEnvironment(environment);
    service.setWorkingDirectory(m_dir.path());
    service.start(QStringLiteral(FERROX_SERVICE_TEST_PROGRAM), {QStringLiteral("-D"), QStringLiteral("2")});
    ASSERT_TRUE(service.waitForStarted(10000));
    const QString started = QStringLiteral("start in %1 with [-D 2]").arg(QDir(m_dir.path()).canonicalPath());
    ASSERT_TRUE(waitUntil([&] { return logHas(started); })) << qPrintable(logLines().join(QLatin1Char('|')));

    UnixSocket idle;
    ASSERT_TRUE(idle.connectToPath(ServiceController::socketPath(m_name), 5000));
    EXPECT_EQ(runProgram({QStringLiteral("-t")}).code, 0);
    ASSERT_TRUE(service.waitForFinished(15000));
    EXPECT_EQ(service.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(service.exitCode(), 0);
    EXPECT_EQ(service.readAllStandardError(), QByteArray());
    EXPECT_FALSE(QFile::exists(ServiceController::socketPath(m_name)));
}
