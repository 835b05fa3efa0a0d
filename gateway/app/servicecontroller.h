#ifndef SERVICECONTROLLER_H
#define SERVICECONTROLLER_H

#include <QByteArray>
#include <QString>
#include <QStringList>

class QSettings;

// A named service seen from outside: its entry in the system-wide settings
// (organisation "Ferrox", group "services", one subgroup per service), its
// control socket and the lock file beside it (ServiceLock). Control
// operations connect, send one command, wait a bounded time for the reply
// and close the connection again; a service that is not running, or does
// not answer in time, makes them fail with the reason in lastError().
//
// The control socket and the lock file live in the directory named by the
// environment variable FERROX_CONTROL_DIR, /var/tmp when it is unset or
// empty. Every party (the service, its starter and its control clients)
// must see the same value.
class ServiceController
{
public:
    // Talks about the service called `name`.
    explicit ServiceController(const QString &name);

    // How long a control operation waits for the connection and then for the
    // reply, in milliseconds, unless setReplyTimeout() changes it.
    static constexpr int DefaultReplyTimeoutMs = 5000;
    // How long start() waits for the started service to answer, and stop()
    // for a service that accepted "terminate" to end, unless
    // setStartTimeout() changes it.
    static constexpr int DefaultStartTimeoutMs = 10000;
    // The most lines of the started service's output kept by start().
    static constexpr int MaxStartOutputLines = 20;

    // What state() finds.
    enum State {
        NotRunning,   // no instance: nothing answers and no lock is held
        Running,      // the control socket answers "alive"
        NotResponding // an instance holds the lock or accepts the connection, but no answer comes in time
    };

    // Why the last control operation failed.
    enum Failure {
        NoFailure,
        Unreachable, // no instance runs: no connection and no lock held
        NoReply,     // an instance runs but did not answer in time
        Refused,     // the service answered something other than "true"
        NotEnded,    // it accepted "terminate" but did not end in time
        StartFailed  // start(): the program could not be started or did not come up
    };

    QString serviceName() const { return m_name; }

    // True when the settings hold an entry for the service.
    bool isInstalled() const;
    // Asks the service "alive"; see State. A refused or closed connection,
    // or a socket missing while the instance's lock is held, is asked again
    // until the reply timeout has passed.
    State state() const;
    // True when the service answers "alive".
    bool isRunning() const { return state() == Running; }

    // Writes the entry ("path", "description", "automaticStartup") and syncs.
    // When the settings cannot be written, says so on standard error. False
    // on any failure (also for a name that is empty as a settings group or an
    // empty program path, which would clobber the whole services group).
    bool install(const QString &programPath, const QString &description, int startupType);
    // Removes the entry. Failures as for install().
    bool uninstall();

    // Starts `programPath` with `arguments` as a detached service: in a
    // session of its own, in the directory "/", with FERROX_SERVICE_RUN=1 and
    // FERROX_SERVICE_DETACHED=1 in its environment and /dev/null as standard
    // input and output. Its standard error is a pipe to this process until
    // the service is up (the frame then points it at /dev/null). Waits, at
    // most the start timeout, until the service answers "alive" (true) or
    // the program exits (false). False too when the service runs already or
    // the program cannot be started, and when it did not answer in time (it
    // is left running then). The reason is in lastError(); what the service
    // wrote on its standard error meanwhile (its warnings) in startOutput().
    bool start(const QString &programPath, const QStringList &arguments);
    // Sends "terminate" and, when the service accepted it, waits at most the
    // start timeout until the instance has ended (its lock is free).
    bool stop();
    // Send "pause", "resume" and "num:<code>"; true when the service replied
    // "true".
    bool pause();
    bool resume();
    bool sendCommand(int code);
    // Sends `command` (without its "\r\n") and returns true when the reply is
    // exactly "true".
    bool sendText(const QString &command) const;

    // The absolute path of the program named `programName` (its argv[0]):
    // itself when absolute, resolved against the current directory when it
    // contains a "/", otherwise the first directory of PATH holding a file of
    // that name. Empty when none is found.
    static QString serviceFilePath(const QString &programName);

    // The directory of the control sockets and lock files: FERROX_CONTROL_DIR,
    // or /var/tmp.
    static QString controlDirectory();
    // The control directory + "/" + the name lower-cased with only a..z and
    // 0..9 kept + "." + the login name of the current user, cut to fit a
    // Unix-domain address.
    static QString socketPath(const QString &name);
    QString socketPath() const { return socketPath(m_name); }
    // The lock file of the service: its socket path + ".lock".
    static QString lockPath(const QString &name);
    QString lockPath() const { return lockPath(m_name); }

    int replyTimeout() const { return m_replyTimeoutMs; }
    // Bounds the waits of the control operations (milliseconds, at least 1).
    void setReplyTimeout(int msecs);
    int startTimeout() const { return m_startTimeoutMs; }
    void setStartTimeout(int msecs);

    // Why the last control operation failed (not connected, no reply, the
    // reply received).
    QString lastError() const { return m_lastError; }
    Failure lastFailure() const { return m_failure; }
    // What the service started last wrote on its standard error before it
    // came up or failed, one entry a line (at most MaxStartOutputLines).
    QStringList startOutput() const { return m_startOutput; }

    // Name of the environment variable that marks the process running the
    // service.
    static const char *runVariable() { return "FERROX_SERVICE_RUN"; }
    // Name of the environment variable that tells a service that its
    // standard error is the starter's pipe until it is up.
    static const char *detachedVariable() { return "FERROX_SERVICE_DETACHED"; }
    // Name of the environment variable that names the control directory.
    static const char *controlDirVariable() { return "FERROX_CONTROL_DIR"; }

private:
    QString settingsGroup() const;
    // True when `settings` can be written; otherwise says so on standard
    // error ("Cannot <action> ...").
    bool writable(const QSettings &settings, const char *action) const;
    bool settingsGroupUsable() const;
    bool fail(Failure failure, const QString &reason) const;
    // A failed connection: Unreachable, or NoReply when an instance holds the
    // lock (its socket is gone or it does not accept).
    bool failUnconnected(const QString &reason) const;
    // Waits for the end of an instance that accepted "terminate".
    bool waitForEnd();
    // Sends "pause" or "resume"; a refusal means the service cannot be
    // suspended.
    bool sendSuspension(const QString &command);

    QString m_name;
    int m_replyTimeoutMs = DefaultReplyTimeoutMs;
    int m_startTimeoutMs = DefaultStartTimeoutMs;
    mutable QString m_lastError;
    mutable Failure m_failure = NoFailure;
    QStringList m_startOutput;
};

#endif // SERVICECONTROLLER_H
