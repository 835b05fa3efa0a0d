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
    // How long start() waits for the started service to answer, unless
    // setStartTimeout() changes it.
    static constexpr int DefaultStartTimeoutMs = 10000;
    // How long stop() waits for a service that accepted "terminate" to end,
    // unless setStopTimeout() changes it: as long as the service unit gives
    // a stop, since every tie drains for up to a second.
    static constexpr int DefaultStopTimeoutMs = 30000;
    // The most lines of the started service's output kept by start().
    static constexpr int MaxStartOutputLines = 20;
    // How long reload() waits for the verdict, unless setReloadTimeout()
    // changes it: a large configuration takes its time to read.
    static constexpr int DefaultReloadTimeoutMs = 60000;

    // What state() finds.
    enum State {
        NotRunning,   // no instance: nothing answers and no lock is held
        Running,      // the control socket answers "alive"
        NotResponding, // an instance holds the lock or accepts the connection, but no answer comes in time
        Inaccessible   // this user may not use the control socket or read the lock: whether an instance
                       // runs cannot be told (lastError() says why)
    };

    // Why the last control operation failed.
    enum Failure {
        NoFailure,
        Unreachable, // no instance runs: no connection and no lock held
        NoReply,     // an instance runs but did not answer in time
        NoAccess,    // this user may not use the control socket, or cannot read the lock
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
    // Asks the service "status" and puts the document it answers (up to its
    // closing zero byte) into `document`. False when it is not running, does
    // not answer in time, answers "false" (it gives no status) or sends more
    // than MaxStatusBytes.
    bool status(QByteArray &document) const;
    // Sends "reload" and waits, at most the reload timeout, for the verdict:
    // true when the service applied its configuration again. `lines` gets
    // what the service says it did, or why it did not (the configuration's
    // errors).
    bool reload(QStringList &lines);

    // The largest status document status() takes.
    static constexpr int MaxStatusBytes = 16 * 1024 * 1024;

    // The absolute path of the program named `programName` (its argv[0]):
    // itself when absolute, resolved against the current directory when it
    // contains a "/", otherwise the first directory of PATH holding a file of
    // that name. Empty when none is found.
    static QString serviceFilePath(const QString &programName);

    // The directory of the control sockets and lock files: FERROX_CONTROL_DIR
    // (made absolute against the current directory), or /var/tmp.
    static QString controlDirectory();
    // The control directory + "/" + the name lower-cased with only a..z and
    // 0..9 kept + "." + the service's user (serviceUser()), cut to fit a
    // Unix-domain address.
    static QString socketPath(const QString &name);
    QString socketPath() const { return socketPath(m_name); }
    // The user whose service the socket belongs to: FERROX_SERVICE_USER
    // when it is set and not empty ("/" made "_"), otherwise the login name
    // of the current user (empty without a password entry). So root reaches
    // a service that runs as another user.
    static QString serviceUser();
    // The lock file of the service: its socket path + ".lock".
    static QString lockPath(const QString &name);
    QString lockPath() const { return lockPath(m_name); }

    int replyTimeout() const { return m_replyTimeoutMs; }
    // Bounds the waits of the control operations (milliseconds, at least 1).
    void setReplyTimeout(int msecs);
    int startTimeout() const { return m_startTimeoutMs; }
    void setStartTimeout(int msecs);
    int stopTimeout() const { return m_stopTimeoutMs; }
    void setStopTimeout(int msecs) { m_stopTimeoutMs = qMax(1, msecs); }
    int reloadTimeout() const { return m_reloadTimeoutMs; }
    void setReloadTimeout(int msecs) { m_reloadTimeoutMs = qMax(1, msecs); }

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
    // Name of the environment variable that names the service's user.
    static const char *serviceUserVariable() { return "FERROX_SERVICE_USER"; }

private:
    QString settingsGroup() const;
    // True when `settings` can be written; otherwise says so on standard
    // error ("Cannot <action> ...").
    bool writable(const QSettings &settings, const char *action) const;
    bool settingsGroupUsable() const;
    bool fail(Failure failure, const QString &reason) const;
    // A failed connection: NoAccess when the socket refused this user
    // (`accessDenied`) or the lock cannot be probed, NoReply when an
    // instance holds the lock (its socket is gone or it does not accept),
    // Unreachable otherwise.
    bool failUnconnected(const QString &reason, bool accessDenied) const;
    // Connects, sends `command` with its "\r\n" and reads the reply into
    // `reply` until `complete` says that more cannot change it, the service
    // closes the connection, `maxBytes` arrived or the reply timeout (or
    // `timeoutMs` when given) passed. False (with the failure set) when it
    // could not connect or send.
    bool exchange(const QString &command, bool (*complete)(const QByteArray &), int maxBytes,
                  QByteArray &reply, int timeoutMs = -1) const;
    // Waits for the end of an instance that accepted "terminate".
    bool waitForEnd();
    // Sends "pause" or "resume"; a refusal means the service cannot be
    // suspended.
    bool sendSuspension(const QString &command);

    QString m_name;
    int m_replyTimeoutMs = DefaultReplyTimeoutMs;
    int m_startTimeoutMs = DefaultStartTimeoutMs;
    int m_stopTimeoutMs = DefaultStopTimeoutMs;
    int m_reloadTimeoutMs = DefaultReloadTimeoutMs;
    mutable QString m_lastError;
    mutable Failure m_failure = NoFailure;
    QStringList m_startOutput;
};

#endif // SERVICECONTROLLER_H
