#ifndef SERVICECONTROLLER_H
#define SERVICECONTROLLER_H

#include <QByteArray>
#include <QString>
#include <QStringList>

class QSettings;

// A named service seen from outside: its entry in the system-wide settings
// (organisation "Ferrox", group "services", one subgroup per service) and
// its control socket. Control operations connect, send one command, wait a
// bounded time for the reply and close the connection again; a service that
// is not running, or does not answer in time, makes them fail.
class ServiceController
{
public:
    // Talks about the service called `name`.
    explicit ServiceController(const QString &name);

    // How long a control operation waits for the connection and then for the
    // reply, in milliseconds, unless setReplyTimeout() changes it.
    static constexpr int DefaultReplyTimeoutMs = 5000;

    QString serviceName() const { return m_name; }

    // True when the settings hold an entry for the service.
    bool isInstalled() const;
    // True when a connection to the control socket can be made.
    bool isRunning() const;

    // Writes the entry ("path", "description", "automaticStartup") and syncs.
    // When the settings cannot be written, says so on standard error. False
    // on any failure (also for a name that is empty as a settings group or an
    // empty program path, which would clobber the whole services group).
    bool install(const QString &programPath, const QString &description, int startupType);
    // Removes the entry. Failures as for install().
    bool uninstall();

    // Starts `programPath` detached, with `arguments`, in the directory "/"
    // and with FERROX_SERVICE_RUN=1 in its environment. Refuses (false) when
    // the service answers "alive" or the program cannot be started.
    bool start(const QString &programPath, const QStringList &arguments);
    // Sends "terminate", "pause", "resume" and "num:<code>"; true when the
    // service replied "true".
    bool stop();
    bool pause();
    bool resume();
    bool sendCommand(int code);
    // Sends `command` (without its "\r\n") and returns true when the reply is
    // exactly "true".
    bool sendText(const QString &command);

    // The absolute path of the program named `programName` (its argv[0]):
    // itself when absolute, resolved against the current directory when it
    // contains a "/", otherwise the first directory of PATH holding a file of
    // that name. Empty when none is found.
    static QString serviceFilePath(const QString &programName);

    // "/var/tmp/" + the name lower-cased with only a..z and 0..9 kept + "." +
    // the login name of the current user, cut to fit a Unix-domain address.
    static QString socketPath(const QString &name);
    QString socketPath() const { return socketPath(m_name); }

    int replyTimeout() const { return m_replyTimeoutMs; }
    // Bounds the waits of the control operations (milliseconds, at least 1).
    void setReplyTimeout(int msecs);

    // Why the last control operation failed (not connected, no reply, the
    // reply received).
    QString lastError() const { return m_lastError; }

    // Name of the environment variable that marks the process running the
    // service.
    static const char *runVariable() { return "FERROX_SERVICE_RUN"; }

private:
    QString settingsGroup() const;
    // True when `settings` can be written; otherwise says so on standard
    // error ("Cannot <action> ...").
    bool writable(const QSettings &settings, const char *action) const;
    bool settingsGroupUsable() const;

    QString m_name;
    int m_replyTimeoutMs = DefaultReplyTimeoutMs;
    mutable QString m_lastError;
};

#endif // SERVICECONTROLLER_H
