#ifndef SERVICEBASE_H
#define SERVICEBASE_H

#include "app/servicecontroller.h"

#include <QByteArrayList>
#include <QFlags>
#include <functional>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVector>

// The service frame of the program: parses the command line in exec(),
// installs and uninstalls the service, starts it as a detached process,
// controls a running instance over its control socket, or runs the
// application as the service (or in the foreground with "-e").
//
// One instance per process, reachable as instance(). A concrete service is a
// ServiceHost over its application class and overrides the operations below.
class ServiceBase
{
public:
    enum ServiceFlag {
        Default = 0x00,
        CanBeSuspended = 0x01,  // "pause" and "resume" are honoured
        CannotBeStopped = 0x02, // "terminate" is refused
    };
    Q_DECLARE_FLAGS(ServiceFlags, ServiceFlag)

    // Copies the arguments (converted from the local 8-bit encoding, argv[0]
    // first). A name longer than 255 characters is cut to 255, and every
    // backslash in it becomes a null character, each with a warning.
    ServiceBase(int argc, char **argv, const QString &name);
    virtual ~ServiceBase();

    // The service of this process, or null.
    static ServiceBase *instance();

    // Ends the event loop with `code` as soon as it runs. Unlike a direct
    // QCoreApplication::exit(), which is lost when no loop runs yet, a
    // request made during start-up (in the application's constructor) ends
    // the loop right after it began. Nothing without an application object.
    static void requestQuit(int code);

    // Stops the service of this process (stop()) and quits the event loop:
    // what "terminate", SIGTERM and SIGINT do. stop() runs once, though a
    // signal and a "terminate" may both be handled in one pass of the loop.
    static void stopAndQuit();

    // Performs what the first argument asks for and returns the exit code
    // (see usage text; "-s"/"-status" also prints the running service's
    // status document): 0 for control actions, -1 when installing,
    // uninstalling or running fails or a control action fails, -4 when the
    // service cannot be started.
    int exec();

    QString serviceName() const { return m_name; }
    QString serviceDescription() const { return m_description; }
    void setServiceDescription(const QString &description) { m_description = description; }
    // Written to the settings as "automaticStartup"; 0 unless set.
    int startupType() const { return m_startupType; }
    void setStartupType(int type) { m_startupType = type; }
    ServiceFlags serviceFlags() const { return m_flags; }
    void setServiceFlags(ServiceFlags flags) { m_flags = flags; }
    // The program's arguments, argv[0] first.
    QStringList arguments() const { return m_args; }
    // The absolute path of the program file (ServiceController::serviceFilePath()).
    QString serviceFilePath() const;
    // The service as seen by its control clients (settings, control socket).
    ServiceController &controller() { return m_controller; }
    const ServiceController &controller() const { return m_controller; }

protected:
    // Called inside the event loop once the application is running.
    virtual void start();
    // Called on "terminate", before the event loop is quit.
    virtual void stop();
    // Called on "pause" and "resume" when CanBeSuspended is set.
    virtual void pause();
    virtual void resume();
    // Called on "num:<code>".
    virtual void processCommand(int code);
    // The verdict of a reload: whether it was applied, and lines saying what
    // it did or why it did nothing.
    using ReloadDone = std::function<void(bool ok, const QStringList &lines)>;
    // Called on "reload": reads the configuration again and applies it,
    // then (possibly later) hands the verdict to `done`. Base: refused.
    virtual void reload(ReloadDone done);
    // Called on "status": the service's state as one document (no zero
    // byte in it); base: empty, which refuses the command.
    virtual QByteArray statusReport();
    // Creates the application object from the arguments; `argc` and `argv`
    // stay valid as long as the application lives. Creating nothing makes
    // the run fail.
    virtual void createApplication(int &argc, char **argv) = 0;
    // Runs the application's event loop and returns its exit code.
    virtual int executeApplication() = 0;
    // The application object made by createApplication(), or null.
    virtual QObject *applicationObject() const = 0;
    // Destroys the application object (nothing when there is none).
    virtual void destroyApplication() = 0;

private:
    friend class ServiceListener;
    friend class ServiceStarter;
    class StopSignals;

    // Runs the application with the arguments `argv` (as a service with the
    // control socket, or in the foreground) and returns its exit code; -1
    // when it could not run, after reporting `failure` with the reason on
    // standard error (and in the log, once the application has set it up).
    // A service first takes its lock (ServiceLock), so that no second
    // instance runs, copies its warnings to the log (WarningLog) and, when
    // started detached, points its standard streams at /dev/null once it
    // listens. SIGTERM and SIGINT stop the run as "terminate" does.
    int run(bool asService, const QByteArrayList &argv, const char *failure);
    bool printVersion(); // false when standard output did not take it
    void printUsage();
    // "-reload": asks the running service to reload and prints its verdict;
    // 0 when it applied the configuration, -1 otherwise.
    int reloadService();

    QString m_name;
    QString m_description;
    int m_startupType = 0;
    ServiceFlags m_flags = Default;
    bool m_stopped = false; // stop() was called by stopAndQuit()
    QStringList m_args;
    QByteArrayList m_rawArgs;
    ServiceController m_controller;
    // The argument vector handed to the application; it must outlive it.
    QByteArrayList m_appArgData;
    QVector<char *> m_appArgv;
    int m_appArgc = 0;
};

Q_DECLARE_OPERATORS_FOR_FLAGS(ServiceBase::ServiceFlags)

#endif // SERVICEBASE_H
