#include "app/servicebase.h"

#include "app/servicelistener.h"
#include "app/servicestarter.h"

#include <QCoreApplication>
#include <QFile>
#include <QTimer>

#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <memory>

#include <sys/stat.h>

namespace {

ServiceBase *g_instance = nullptr;

const char UsageText[] =
    "\n%s -[i|u|e|t|p|r|c|v|h]\n"
    "\t-i(nstall) [account] [password]\t: Install the service, optionally using given account and password\n"
    "\t-u(ninstall)\t: Uninstall the service.\n"
    "\t-e(xec)\t\t: Run as a regular application. Useful for debugging.\n"
    "\t-t(erminate)\t: Stop the service.\n"
    "\t-p(ause)\t: Pause the service.\n"
    "\t-r(esume)\t: Resume a paused service.\n"
    "\t-c(ommand) num\t: Send command code num to the service.\n"
    "\t-v(ersion)\t: Print version and status information.\n"
    "\t-h(elp)   \t: Show this help\n"
    "\tNo arguments\t: Start the service.\n";

bool isAction(const QString &argument, const char *shortForm, const char *longForm)
{
    return argument == QLatin1String(shortForm) || argument == QLatin1String(longForm);
}

// The service name: at most 255 characters, backslashes made null characters.
QString serviceNameFrom(const QString &name)
{
    QString cut = name;
    if (cut.size() > 255) {
        qWarning("ServiceBase: 'name' is longer than 255 characters.");
        cut.truncate(255);
    }
    if (cut.contains(QLatin1Char('\\'))) {
        qWarning("ServiceBase: 'name' contains backslashes '\\'.");
        cut.replace(QLatin1Char('\\'), QChar(0));
    }
    return cut;
}

// Writes a printf-style text to `stream` at once: the output of a control
// action must not wait in a buffer behind what the action does next.
void say(std::FILE *stream, const char *format, ...) __attribute__((format(printf, 2, 3)));

void say(std::FILE *stream, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    std::vfprintf(stream, format, args);
    va_end(args);
    std::fflush(stream);
}

// A failure with its cause, in the form of the framework's system error
// messages: "text (cause)".
void reportFailure(const char *text, const QString &cause)
{
    qCritical("%s (%s)", text, qUtf8Printable(cause));
}

} // namespace

ServiceBase::ServiceBase(int argc, char **argv, const QString &name)
    : m_name(serviceNameFrom(name))
    , m_controller(m_name)
{
    for (int i = 0; argv && i < argc && argv[i]; ++i) {
        m_rawArgs << QByteArray(argv[i]);
        m_args << QString::fromLocal8Bit(argv[i]);
    }
    g_instance = this;
}

ServiceBase::~ServiceBase()
{
    if (g_instance == this)
        g_instance = nullptr;
}

ServiceBase *ServiceBase::instance()
{
    return g_instance;
}

void ServiceBase::requestQuit(int code)
{
    QCoreApplication *application = QCoreApplication::instance();
    if (!application)
        return;
    QMetaObject::invokeMethod(
        application, [code] { QCoreApplication::exit(code); }, Qt::QueuedConnection);
}

void ServiceBase::start()
{
}

void ServiceBase::stop()
{
}

void ServiceBase::pause()
{
}

void ServiceBase::resume()
{
}

void ServiceBase::processCommand(int code)
{
    Q_UNUSED(code);
}

QString ServiceBase::serviceFilePath() const
{
    return ServiceController::serviceFilePath(m_args.value(0));
}

int ServiceBase::exec()
{
    const QString action = m_args.value(1);
    const QByteArray name = m_name.toLatin1();

    if (isAction(action, "-i", "-install")) {
        // An account and a password may follow; the service runs as the
        // user who starts it, so they are not used.
        if (m_controller.isInstalled()) {
            say(stderr, "The service %s is already installed\n", name.constData());
            return 0;
        }
        const QString path = serviceFilePath();
        if (m_controller.install(path, m_description, m_startupType)) {
            say(stdout, "The service %s has been installed under: %s\n", name.constData(),
                         QFile::encodeName(path).constData());
            return 0;
        }
        say(stderr, "The service %s could not be installed\n", name.constData());
        return -1;
    }

    if (isAction(action, "-u", "-uninstall")) {
        if (!m_controller.isInstalled()) {
            say(stderr, "The service %s is not installed\n", name.constData());
            return 0;
        }
        if (m_controller.uninstall()) {
            say(stdout, "The service %s has been uninstalled.\n", name.constData());
            return 0;
        }
        say(stderr, "The service %s could not be uninstalled\n", name.constData());
        return -1;
    }

    if (isAction(action, "-e", "-exec")) {
        QByteArrayList argv = m_rawArgs;
        argv.removeAt(1);
        return runOrReport(false, argv, "The service could not be executed.");
    }

    if (isAction(action, "-t", "-terminate")) {
        if (!m_controller.stop())
            reportFailure("The service could not be stopped.", m_controller.lastError());
        return 0;
    }

    if (isAction(action, "-p", "-pause")) {
        m_controller.pause();
        return 0;
    }

    if (isAction(action, "-r", "-resume")) {
        m_controller.resume();
        return 0;
    }

    if (isAction(action, "-c", "-command")) {
        // A missing or malformed number sends code 0.
        m_controller.sendCommand(m_args.value(2).toInt());
        return 0;
    }

    if (isAction(action, "-v", "-version")) {
        printVersion();
        return 0;
    }

    if (isAction(action, "-h", "-help")) {
        printUsage();
        return 0;
    }

    if (qEnvironmentVariableIsSet(ServiceController::runVariable()))
        return runOrReport(true, m_rawArgs, "The service failed to run.");

    if (!m_controller.start(serviceFilePath(), m_args.mid(1))) {
        say(stderr, "The service %s could not start\n", name.constData());
        return -4;
    }
    return 0;
}

int ServiceBase::runOrReport(bool asService, const QByteArrayList &argv, const char *failure)
{
    int exitCode = -1;
    QString reason;
    if (run(asService, argv, exitCode, reason))
        return exitCode;
    reportFailure(failure, reason);
    return -1;
}

void ServiceBase::printVersion()
{
    std::fprintf(stdout, "The service\n\t%s\n\t%s\n\n", m_name.toLatin1().constData(),
                 m_rawArgs.value(0).constData());
    std::fprintf(stdout, "is %s", m_controller.isInstalled() ? "installed" : "not installed");
    say(stdout, " and %s\n\n", m_controller.isRunning() ? "running" : "not running");
}

void ServiceBase::printUsage()
{
    say(stdout, UsageText, m_rawArgs.value(0).constData());
}

bool ServiceBase::run(bool asService, const QByteArrayList &argv, int &exitCode, QString &reason)
{
    // The application keeps references to the count and the vector.
    m_appArgData = argv;
    m_appArgv.clear();
    for (QByteArray &arg : m_appArgData)
        m_appArgv.append(arg.data());
    m_appArgc = m_appArgv.size();
    m_appArgv.append(nullptr);

    std::unique_ptr<ServiceListener> listener;
    if (asService) {
        listener.reset(new ServiceListener(m_flags));
        ::umask(027);
        // The service outlives the process that started it and inherits its
        // standard streams; a closed pipe there must not end the service.
        std::signal(SIGPIPE, SIG_IGN);
    }

    createApplication(m_appArgc, m_appArgv.data());
    if (!applicationObject()) {
        reason = QStringLiteral("no application object was created");
        return false;
    }

    if (listener && !listener->listenAt(m_controller.socketPath())) {
        reason = QStringLiteral("the control socket could not be opened: ") + listener->errorText();
        destroyApplication();
        return false;
    }

    ServiceStarter starter;
    QTimer::singleShot(0, &starter, &ServiceStarter::slotStart);
    exitCode = executeApplication();

    destroyApplication();
    if (listener)
        listener->closeSocket();
    return true;
}
