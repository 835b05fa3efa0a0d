#include "app/servicebase.h"

#include "app/servicelistener.h"
#include "app/servicelock.h"
#include "app/servicestarter.h"
#include "app/warninglog.h"
#include "core/diag.h"

#include <QCoreApplication>
#include <QFile>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <cstring>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <memory>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

ServiceBase *g_instance = nullptr;
// Set by requestQuit(): a run whose application asked to quit while it was
// being created does not open its control socket.
bool g_quitRequested = false;

const char UsageText[] =
    "\n%s -[i|u|e|t|p|r|c|v|h]\n"
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
// action must not wait in a buffer behind what the action does next. False
// when the stream did not take it.
bool say(std::FILE *stream, const char *format, ...) __attribute__((format(printf, 2, 3)));

bool say(std::FILE *stream, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    const bool printed = std::vfprintf(stream, format, args) >= 0;
    va_end(args);
    return std::fflush(stream) == 0 && printed;
}

// A failure with its cause, in the form of the framework's system error
// messages: "text (cause)".
void reportFailure(const char *text, const QString &cause)
{
    qCritical("%s (%s)", text, qUtf8Printable(cause));
}

// Standard output did not take the answer: says so on standard error and
// gives -1.
int outputFailure()
{
    reportFailure("The answer could not be written.", QString::fromLocal8Bit(std::strerror(errno)));
    return -1;
}

// A control action that failed: says why on standard error and gives -1.
int controlFailure(const char *text, const ServiceController &controller)
{
    reportFailure(text, controller.lastError());
    return -1;
}

// Points standard input, output and error at /dev/null.
void detachStandardStreams()
{
    std::fflush(stdout);
    std::fflush(stderr);
    const int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    if (null < 0)
        return;
    for (const int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO})
        ::dup2(null, fd);
    ::close(null);
}

} // namespace

// Ends the run on SIGTERM and SIGINT the way "terminate" does, so that the
// application stops cleanly (and says so) and the control socket is
// removed. The signal handler only writes the signal's number into a pipe;
// the event loop does the rest. One at a time.
class ServiceBase::StopSignals
{
public:
    StopSignals()
    {
        if (::pipe2(s_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
            return;
        m_notifier.reset(new QSocketNotifier(s_pipe[0], QSocketNotifier::Read));
        QObject::connect(m_notifier.get(), &QSocketNotifier::activated, &StopSignals::stopOnSignal);
        struct sigaction action = {};
        action.sa_handler = &StopSignals::handler;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        ::sigaction(SIGTERM, &action, &m_oldTerm);
        ::sigaction(SIGINT, &action, &m_oldInt);
        m_installed = true;
    }
    StopSignals(const StopSignals &) = delete;
    StopSignals &operator=(const StopSignals &) = delete;

    ~StopSignals()
    {
        if (!m_installed)
            return;
        ::sigaction(SIGTERM, &m_oldTerm, nullptr);
        ::sigaction(SIGINT, &m_oldInt, nullptr);
        m_notifier.reset();
        ::close(s_pipe[0]);
        ::close(s_pipe[1]);
        s_pipe[0] = s_pipe[1] = -1;
    }

private:
    static void handler(int signal)
    {
        const int saved = errno;
        const char byte = char(signal);
        (void)!::write(s_pipe[1], &byte, 1);
        errno = saved;
    }

    static void stopOnSignal()
    {
        char byte = 0;
        while (::read(s_pipe[0], &byte, 1) > 0) {
        }
        GATE_DEBUG_ALWAYS("ServiceBase: stopped by signal %d", int(byte));
        ServiceBase::stopAndQuit();
    }

    static int s_pipe[2];
    std::unique_ptr<QSocketNotifier> m_notifier;
    struct sigaction m_oldTerm = {};
    struct sigaction m_oldInt = {};
    bool m_installed = false;
};

int ServiceBase::StopSignals::s_pipe[2] = {-1, -1};

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
    g_quitRequested = true;
    QMetaObject::invokeMethod(
        application, [code] { QCoreApplication::exit(code); }, Qt::QueuedConnection);
}

void ServiceBase::stopAndQuit()
{
    ServiceBase *service = g_instance;
    if (service && !service->m_stopped) {
        service->m_stopped = true;
        service->stop();
    }
    QCoreApplication::quit();
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

void ServiceBase::reload(ReloadDone done)
{
    done(false, {QStringLiteral("this service cannot reload its configuration")});
}

QByteArray ServiceBase::statusReport()
{
    return QByteArray();
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
        return run(false, argv, "The service could not be executed.");
    }

    if (isAction(action, "-t", "-terminate")) {
        if (m_controller.stop())
            return 0;
        reportFailure("The service could not be stopped.", m_controller.lastError());
        // Stopping a service that does not run leaves it as asked.
        return m_controller.lastFailure() == ServiceController::Unreachable ? 0 : -1;
    }

    if (action == QLatin1String("-reload"))
        return reloadService();

    if (isAction(action, "-p", "-pause"))
        return m_controller.pause() ? 0 : controlFailure("The service could not be paused.", m_controller);

    if (isAction(action, "-r", "-resume"))
        return m_controller.resume() ? 0 : controlFailure("The service could not be resumed.", m_controller);

    if (isAction(action, "-c", "-command")) {
        // A missing or malformed number sends code 0.
        return m_controller.sendCommand(m_args.value(2).toInt())
                   ? 0
                   : controlFailure("The service could not take the command.", m_controller);
    }

    if (isAction(action, "-s", "-status")) {
        QByteArray document;
        if (!m_controller.status(document))
            return controlFailure("The service status could not be read.", m_controller);
        if (!document.endsWith('\n'))
            document += '\n';
        const bool written = std::fwrite(document.constData(), 1, size_t(document.size()), stdout)
                == size_t(document.size())
            && std::fflush(stdout) == 0;
        return written ? 0 : outputFailure();
    }

    if (isAction(action, "-v", "-version"))
        return printVersion() ? 0 : outputFailure();

    if (isAction(action, "-h", "-help")) {
        printUsage();
        return 0;
    }

    if (qEnvironmentVariableIsSet(ServiceController::runVariable()))
        return run(true, m_rawArgs, "The service failed to run.");

    if (!m_controller.start(serviceFilePath(), m_args.mid(1))) {
        say(stderr, "The service %s could not start\n", name.constData());
        // Why, and what the service said before it gave up.
        say(stderr, "  %s\n", qUtf8Printable(m_controller.lastError()));
        for (const QString &line : m_controller.startOutput())
            say(stderr, "  %s\n", qUtf8Printable(line));
        return -4;
    }
    return 0;
}

int ServiceBase::reloadService()
{
    const QByteArray name = m_name.toLatin1();
    QStringList lines;
    if (m_controller.reload(lines)) {
        bool written = say(stdout, "The service %s has read its configuration again\n", name.constData());
        for (const QString &line : qAsConst(lines))
            written = say(stdout, "  %s\n", qUtf8Printable(line)) && written;
        return written ? 0 : outputFailure();
    }
    if (m_controller.lastFailure() != ServiceController::Refused) {
        reportFailure("The service could not reload its configuration.", m_controller.lastError());
        return -1;
    }
    say(stderr, "The service %s did not take its new configuration; it runs on as it was:\n", name.constData());
    for (const QString &line : qAsConst(lines))
        say(stderr, "  %s\n", qUtf8Printable(line));
    return -1;
}

bool ServiceBase::printVersion()
{
    const bool head = say(stdout, "The service\n\t%s\n\t%s\n\nis %s", m_name.toLatin1().constData(),
                          m_rawArgs.value(0).constData(), m_controller.isInstalled() ? "installed" : "not installed");
    QByteArray state = "not running";
    switch (m_controller.state()) {
    case ServiceController::Running:
        state = "running";
        break;
    case ServiceController::NotResponding:
        state = "not responding";
        break;
    case ServiceController::Inaccessible:
        state = "in a state this user cannot tell (" + m_controller.lastError().toUtf8() + ")";
        break;
    case ServiceController::NotRunning:
        break;
    }
    return say(stdout, " and %s\n\n", state.constData()) && head;
}

void ServiceBase::printUsage()
{
    say(stdout, UsageText, m_rawArgs.value(0).constData());
}

int ServiceBase::run(bool asService, const QByteArrayList &argv, const char *failure)
{
    QString reason;
    // The application keeps references to the count and the vector.
    m_appArgData = argv;
    m_appArgv.clear();
    for (QByteArray &arg : m_appArgData)
        m_appArgv.append(arg.data());
    m_appArgc = m_appArgv.size();
    m_appArgv.append(nullptr);

    std::unique_ptr<ServiceListener> listener;
    std::unique_ptr<ServiceLock> lock;
    std::unique_ptr<WarningLog::Scope> warningsToLog;
    // Started by the starter: standard error is its pipe until the service
    // is up, and carries only warnings (they tell it why a start failed).
    const bool detached = asService && qEnvironmentVariableIsSet(ServiceController::detachedVariable());
    // A closed pipe at a standard stream must not end the gateway, as a
    // service or in the foreground: the write that met it fails instead.
    std::signal(SIGPIPE, SIG_IGN);
    // Nor must a file size limit: the write that meets it fails with EFBIG,
    // and the record is cut back and kept.
    std::signal(SIGXFSZ, SIG_IGN);
    if (asService) {
        // Processes the service starts are not started detached.
        qunsetenv(ServiceController::detachedVariable());
        listener.reset(new ServiceListener(m_flags));
        ::umask(027);
        lock.reset(new ServiceLock(m_controller.lockPath()));
        if (!lock->acquire(reason)) {
            reportFailure(failure, reason);
            return -1;
        }
        warningsToLog.reset(new WarningLog::Scope);
        if (detached)
            WarningLog::setDebugOutputDropped(true);
    }
    struct DebugOutputRestorer {
        bool detached;
        ~DebugOutputRestorer()
        {
            if (detached)
                WarningLog::setDebugOutputDropped(false);
        }
    } restorer{detached};

    g_quitRequested = false;
    createApplication(m_appArgc, m_appArgv.data());
    if (!applicationObject()) {
        reportFailure(failure, QStringLiteral("no application object was created"));
        return -1;
    }

    // An application whose start-up failed has asked to quit: the loop only
    // takes that request, and the service never answers.
    if (g_quitRequested) {
        const int exitCode = executeApplication();
        destroyApplication();
        return exitCode;
    }

    if (listener && !listener->serveAt(m_controller.socketPath())) {
        // Said while warnings still reach the log: it tells why the start
        // failed, as standard error does.
        reportFailure(failure, QStringLiteral("the control socket could not be opened: ") + listener->errorText());
        destroyApplication();
        return -1;
    }
    if (detached)
        detachStandardStreams();

    const StopSignals stopSignals;
    ServiceStarter starter;
    QTimer::singleShot(0, &starter, &ServiceStarter::slotStart);
    const int exitCode = executeApplication();

    destroyApplication();
    if (listener)
        listener->stopServing();
    return exitCode;
}
