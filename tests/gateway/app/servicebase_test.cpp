#include "servicetestsupport.h"

#include "app/servicecontroller.h"
#include "app/unixserversocket.h"
#include "support/messagecapture.h"

#include <QCoreApplication>
#include <QFile>
#include <QSettings>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

const char UsageText[] =
    "\n%1 -[i|u|e|t|p|r|c|v|h]\n"
    "\t-i(nstall) [account] [password]\t: Install the service, optionally using given account and password\n"
    "\t-u(ninstall)\t: Uninstall the service.\n"
    "\t-e(xec)\t\t: Run as a regular application. Useful for debugging.\n"
    "\t-t(erminate)\t: Stop the service.\n"
    "\t-p(ause)\t: Pause the service.\n"
    "\t-r(esume)\t: Resume a paused service.\n"
    "\t-c(ommand) num\t: Send command code num to the service.\n"
    "\t-reload\t\t: Make the service read its configuration again and apply what changed.\n"
    "\t-s(tatus)\t: Print the running service's state (ties, counters, cycle) as JSON.\n"
    "\t-v(ersion)\t: Print version and status information.\n"
    "\t-h(elp)   \t: Show this help\n"
    "\tNo arguments\t: Start the service.\n";

const QString Program = QStringLiteral("/opt/ferrox/bin/ferrox");

class ServiceBaseFixture : public ::testing::Test
{
protected:
    void TearDown() override { removeSocketFile(m_name); }

    // Runs exec() of a fresh service with `args` after the program name and
    // captures its output.
    int run(const QStringList &args, RecordingService **keep = nullptr)
    {
        m_service.reset(new RecordingService(QStringList{Program} + args, m_name));
        if (keep)
            *keep = m_service.get();
        StdStreamCapture capture;
        const int code = m_service->exec();
        capture.finish();
        m_out = capture.out();
        m_err = capture.err();
        return code;
    }

    QByteArray name() const { return m_name.toLatin1(); }

    QString m_name = uniqueServiceName();
    std::unique_ptr<RecordingService> m_service;
    QByteArray m_out;
    QByteArray m_err;
};

// A service over an application class that is itself a QCoreApplication.
class CoreApplication : public QCoreApplication
{
public:
    CoreApplication(int &argc, char **argv)
        : QCoreApplication(argc, argv)
    {
    }
};

} // namespace

TEST(ServiceBaseName, LongerThan255CharactersIsCutWithAWarning)
{
    MessageCapture messages;
    const RecordingService service({Program}, QString(300, QLatin1Char('n')));
    EXPECT_EQ(service.serviceName(), QString(255, QLatin1Char('n')));
    EXPECT_EQ(messages.warnings(), QStringList{QStringLiteral("ServiceBase: 'name' is longer than 255 characters.")});

    messages.clear();
    const RecordingService exact({Program}, QString(255, QLatin1Char('n')));
    EXPECT_EQ(exact.serviceName().size(), 255);
    EXPECT_TRUE(messages.texts().isEmpty());
}

TEST(ServiceBaseName, BackslashesBecomeNullCharactersWithAWarning)
{
    MessageCapture messages;
    const RecordingService service({Program}, QStringLiteral("Plant\\Line\\1"));
    EXPECT_EQ(service.serviceName(), QStringLiteral("Plant") + QChar(0) + QStringLiteral("Line") + QChar(0) + QStringLiteral("1"));
    EXPECT_EQ(messages.warnings(), QStringList{QStringLiteral("ServiceBase: 'name' contains backslashes '\\'.")});
}

TEST(ServiceBaseName, ArgumentsAndCurrentService)
{
    EXPECT_EQ(ServiceBase::instance(), nullptr);
    {
        RecordingService service({Program, QStringLiteral("-D"), QStringLiteral("\u00e9t\u00e9")}, QStringLiteral("S"));
        EXPECT_EQ(service.arguments(), (QStringList{Program, QStringLiteral("-D"), QStringLiteral("\u00e9t\u00e9")}));
        EXPECT_EQ(ServiceBase::instance(), &service);
        EXPECT_EQ(service.serviceFilePath(), Program);
        EXPECT_EQ(service.serviceFlags(), ServiceBase::Default);
        EXPECT_EQ(service.startupType(), 0);
    }
    EXPECT_EQ(ServiceBase::instance(), nullptr);
}

TEST_F(ServiceBaseFixture, HelpPrintsTheUsageText)
{
    for (const QString &form : {QStringLiteral("-h"), QStringLiteral("-help")}) {
        EXPECT_EQ(run({form}), 0);
        EXPECT_EQ(m_out, QString::fromLatin1(UsageText).arg(Program).toLatin1());
        EXPECT_TRUE(m_err.isEmpty());
    }
}

TEST_F(ServiceBaseFixture, VersionTellsInstalledAndRunning)
{
    const ScopedSystemSettings scope;
    const QByteArray head = "The service\n\t" + name() + "\n\t" + QFile::encodeName(Program) + "\n\n";

    EXPECT_EQ(run({QStringLiteral("-v")}), 0);
    EXPECT_EQ(m_out, head + "is not installed and not running\n\n");

    ASSERT_TRUE(ServiceController(m_name).install(Program, QString(), 0));
    EXPECT_EQ(run({QStringLiteral("-version")}), 0);
    EXPECT_EQ(m_out, head + "is installed and not running\n\n");

    // A socket that accepts but never answers is a hung service.
    UnixServerSocket server;
    ASSERT_TRUE(server.listenAt(ServiceController::socketPath(m_name)));
    RecordingService service({Program, QStringLiteral("-v")}, m_name);
    service.controller().setReplyTimeout(200);
    StdStreamCapture capture;
    EXPECT_EQ(service.exec(), 0);
    capture.finish();
    EXPECT_EQ(capture.out(), head + "is installed and not responding\n\n");
    EXPECT_TRUE(capture.err().isEmpty());
}

TEST_F(ServiceBaseFixture, InstallAndUninstallAgainstTheSettings)
{
    const ScopedSystemSettings scope;
    RecordingService *service = nullptr;
    m_service.reset(new RecordingService({Program, QStringLiteral("-i")}, m_name));
    m_service->setServiceDescription(QStringLiteral("Data gateway"));
    m_service->setStartupType(1);
    {
        StdStreamCapture capture;
        EXPECT_EQ(m_service->exec(), 0);
        capture.finish();
        EXPECT_EQ(capture.out(), "The service " + name() + " has been installed under: /opt/ferrox/bin/ferrox\n");
        EXPECT_TRUE(capture.err().isEmpty());
    }
    {
        QSettings settings(scope.fileName(), QSettings::IniFormat);
        settings.beginGroup(QStringLiteral("services/") + m_name);
        EXPECT_EQ(settings.value(QStringLiteral("path")).toString(), Program);
        EXPECT_EQ(settings.value(QStringLiteral("description")).toString(), QStringLiteral("Data gateway"));
        EXPECT_EQ(settings.value(QStringLiteral("automaticStartup")).toInt(), 1);
    }

    // Account and password are accepted and change nothing.
    EXPECT_EQ(run({QStringLiteral("-install"), QStringLiteral("user"), QStringLiteral("secret")}, &service), 0);
    EXPECT_EQ(m_err, "The service " + name() + " is already installed\n");
    EXPECT_TRUE(m_out.isEmpty());

    EXPECT_EQ(run({QStringLiteral("-u")}), 0);
    EXPECT_EQ(m_out, "The service " + name() + " has been uninstalled.\n");
    EXPECT_TRUE(m_err.isEmpty());
    EXPECT_FALSE(ServiceController(m_name).isInstalled());

    EXPECT_EQ(run({QStringLiteral("-uninstall")}), 0);
    EXPECT_EQ(m_err, "The service " + name() + " is not installed\n");
    EXPECT_TRUE(m_out.isEmpty());
}

TEST_F(ServiceBaseFixture, InstallFailureGivesBothMessagesAndMinusOne)
{
    const ScopedSystemSettings scope(false);
    EXPECT_EQ(run({QStringLiteral("-i")}), -1);
    EXPECT_EQ(m_err, "Cannot install \"" + name() + "\". Cannot write to: " + QFile::encodeName(scope.fileName())
                         + ". Check permissions.\nThe service " + name() + " could not be installed\n");
    EXPECT_TRUE(m_out.isEmpty());
}

TEST_F(ServiceBaseFixture, ControlActionsToAStoppedServiceFailAndSayWhy)
{
    const QString missing = QStringLiteral(" (%1: No such socket)").arg(ServiceController::socketPath(m_name));
    const struct {
        QStringList args;
        const char *failure;
    } rows[] = {
        {{QStringLiteral("-p")}, "The service could not be paused."},
        {{QStringLiteral("-resume")}, "The service could not be resumed."},
        {{QStringLiteral("-c"), QStringLiteral("5")}, "The service could not take the command."},
        {{QStringLiteral("-command")}, "The service could not take the command."},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.args.join(QLatin1Char(' ')).toStdString());
        MessageCapture messages;
        EXPECT_EQ(run(row.args), -1);
        EXPECT_TRUE(m_out.isEmpty());
        EXPECT_EQ(messages.warnings(), QStringList{QLatin1String(row.failure) + missing});
    }
}

TEST_F(ServiceBaseFixture, TerminateToAStoppedServiceReportsTheFailure)
{
    for (const QString &form : {QStringLiteral("-t"), QStringLiteral("-terminate")}) {
        MessageCapture messages;
        EXPECT_EQ(run({form}), 0);
        ASSERT_EQ(messages.warnings().size(), 1);
        EXPECT_EQ(messages.warnings().first(), QStringLiteral("The service could not be stopped. (%1: No such socket)")
                                                   .arg(ServiceController::socketPath(m_name)));
    }
}

TEST_F(ServiceBaseFixture, ReloadWithoutARunningServiceFails)
{
    MessageCapture messages;
    EXPECT_EQ(run({QStringLiteral("-reload")}), -1);
    ASSERT_EQ(messages.warnings().size(), 1);
    EXPECT_EQ(messages.warnings().first(),
              QStringLiteral("The service could not reload its configuration. (%1: No such socket)")
                  .arg(ServiceController::socketPath(m_name)));
}

TEST_F(ServiceBaseFixture, TerminateWithoutReplyFails)
{
    UnixServerSocket silent;
    ASSERT_TRUE(silent.listenAt(ServiceController::socketPath(m_name)));
    RecordingService service({Program, QStringLiteral("-t")}, m_name);
    service.controller().setReplyTimeout(200);
    MessageCapture messages;
    EXPECT_EQ(service.exec(), -1);
    EXPECT_EQ(messages.warnings(), QStringList{QStringLiteral("The service could not be stopped. (no reply within 200 ms)")});
}

TEST_F(ServiceBaseFixture, ExecRunsTheApplicationInTheForegroundWithoutTheOption)
{
    for (const QString &form : {QStringLiteral("-e"), QStringLiteral("-exec")}) {
        m_service.reset(new RecordingService({Program, form, QStringLiteral("-D"), QStringLiteral("5")}, m_name));
        m_service->exitOnStart = 7;
        bool controlSocket = true;
        m_service->onStart = [&] { controlSocket = ServiceController(m_name).isRunning(); };
        EXPECT_EQ(m_service->exec(), 7);
        EXPECT_EQ(TinyTestApplication::lastArguments, (QStringList{Program, QStringLiteral("-D"), QStringLiteral("5")}));
        EXPECT_EQ(m_service->calls, QStringList{QStringLiteral("start")});
        EXPECT_FALSE(controlSocket);
        EXPECT_EQ(TinyTestApplication::alive, 0);
        EXPECT_EQ(m_service->application(), nullptr);
    }
}

TEST_F(ServiceBaseFixture, QuitRequestedDuringStartUpEndsTheRun)
{
    m_service.reset(new RecordingService({Program, QStringLiteral("-e")}, m_name));
    m_service->quitWhileCreating = 3;
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(99); });
    guard.start(30000);
    EXPECT_EQ(m_service->exec(), 3);
    EXPECT_EQ(TinyTestApplication::alive, 0);
}

TEST_F(ServiceBaseFixture, ExecWithoutApplicationFails)
{
    m_service.reset(new RecordingService({Program, QStringLiteral("-e")}, m_name));
    m_service->refuseApplication = true;
    MessageCapture messages;
    EXPECT_EQ(m_service->exec(), -1);
    EXPECT_EQ(messages.warnings(), QStringList{QStringLiteral("The service could not be executed. (no application object was created)")});
    EXPECT_TRUE(m_service->calls.isEmpty());
}

TEST_F(ServiceBaseFixture, RunningAsServiceWithoutApplicationFails)
{
    const ScopedEnvironment run(ServiceController::runVariable(), "1");
    const mode_t oldMask = ::umask(022);
    m_service.reset(new RecordingService({Program}, m_name));
    m_service->refuseApplication = true;
    MessageCapture messages;
    EXPECT_EQ(m_service->exec(), -1);
    ::umask(oldMask);
    EXPECT_EQ(messages.warnings(), QStringList{QStringLiteral("The service failed to run. (no application object was created)")});
    EXPECT_FALSE(QFile::exists(ServiceController::socketPath(m_name)));
}

TEST_F(ServiceBaseFixture, SecondCoreApplicationIsNotCreated)
{
    class CoreService : public ServiceHost<CoreApplication>
    {
    public:
        using ServiceHost<CoreApplication>::ServiceHost;
    };
    QByteArray program = QFile::encodeName(Program);
    QByteArray exec("-e");
    char *argv[] = {program.data(), exec.data(), nullptr};
    CoreService service(2, argv, m_name);
    MessageCapture messages;
    EXPECT_EQ(service.exec(), -1);
    EXPECT_TRUE(messages.contains(QStringLiteral("ServiceHost::createApplication(): an application object exists already")));
    EXPECT_EQ(QCoreApplication::instance()->metaObject(), &QCoreApplication::staticMetaObject);
}
