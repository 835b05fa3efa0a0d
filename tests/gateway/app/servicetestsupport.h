#ifndef SERVICETESTSUPPORT_H
#define SERVICETESTSUPPORT_H

#include "app/servicehost.h"

#include <QByteArray>
#include <QByteArrayList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QVector>

#include <functional>
#include <memory>

#include <sys/types.h>

// The application of the test services: a plain QObject that records the
// arguments it was built with. The test program's QCoreApplication runs its
// event loop.
class TinyTestApplication : public QObject
{
    Q_OBJECT
public:
    TinyTestApplication(int &argc, char **argv);
    ~TinyTestApplication() override;

    // Arguments of the last application built, argv[0] first.
    static QStringList lastArguments;
    // Number of applications alive.
    static int alive;
};

// A service that records every operation the frame calls, in order
// ("start", "stop", "pause", "resume", "command <code>").
class RecordingService : public ServiceHost<TinyTestApplication>
{
public:
    RecordingService(const QStringList &args, const QString &name);

    QStringList calls;
    // When set, createApplication() creates nothing.
    bool refuseApplication = false;
    // When >= 0, start() ends the event loop with this code.
    int exitOnStart = -1;
    // When >= 0, createApplication() asks to quit with this code, as an
    // application does whose start-up failed.
    int quitWhileCreating = -1;
    // Called by start() / stop(), after they recorded themselves.
    std::function<void()> onStart;
    std::function<void()> onStop;
    // The verdict reload() gives, a main-loop turn after it was asked.
    bool reloadOk = false;
    QStringList reloadLines;
    // What statusReport() answers.
    QByteArray statusDocument;

protected:
    void start() override;
    void stop() override;
    void pause() override;
    void resume() override;
    void processCommand(int code) override;
    void reload(ReloadDone done) override;
    QByteArray statusReport() override { return statusDocument; }
    void createApplication(int &argc, char **argv) override;

private:
    // The argument vector handed to ServiceBase (it copies it).
    QByteArrayList m_argData;
    QVector<char *> m_argv;
};

// A service name no other test, test process or real gateway uses.
QString uniqueServiceName();

// Removes the control socket file of the service `name` (if any).
void removeSocketFile(const QString &name);

// Captures what is written to the standard output and error streams (file
// descriptors 1 and 2) from construction until finish().
class StdStreamCapture
{
public:
    StdStreamCapture();
    ~StdStreamCapture();
    void finish();
    QByteArray out() const { return m_out; }
    QByteArray err() const { return m_err; }

private:
    int m_savedOut = -1;
    int m_savedErr = -1;
    int m_outFile = -1;
    int m_errFile = -1;
    QByteArray m_out;
    QByteArray m_err;
};

// Points the system-wide settings at a fresh temporary directory while it
// exists; or, when not `writable`, at a directory that can never be made
// (not even by root: its parent is a file).
class ScopedSystemSettings
{
public:
    explicit ScopedSystemSettings(bool writable = true);
    ~ScopedSystemSettings();
    QString dir() const { return m_settingsDir; }
    // The file the service entries go to.
    QString fileName() const;

private:
    QTemporaryDir m_dir;
    QString m_settingsDir;
};

// Sets (or, with a null value, unsets) an environment variable while it
// exists.
class ScopedEnvironment
{
public:
    ScopedEnvironment(const char *name, const QByteArray &value);
    ~ScopedEnvironment();

private:
    QByteArray m_name;
    QByteArray m_old;
    bool m_wasSet;
};

// Runs `service` as the service (control socket and all) on this thread's
// event loop while `client` runs on a second thread, once the control socket
// answers. With `clientTerminates` the client is expected to end the run by
// "terminate"; otherwise the run is ended after the client returned. A run
// that does not end within 30 s is cut off with exit code 99. Returns the
// frame's exit code; the umask and FERROX_SERVICE_RUN are restored.
// `socketMode` receives the permission bits of the socket file seen at start.
int runServiceWithClient(RecordingService &service, const std::function<void()> &client,
                         bool clientTerminates, mode_t *socketMode = nullptr);

// Reads from `socket` until `expected` bytes arrived or 5 s passed.
class UnixSocket;
QByteArray readReply(UnixSocket &socket, int expected);

#endif // SERVICETESTSUPPORT_H
