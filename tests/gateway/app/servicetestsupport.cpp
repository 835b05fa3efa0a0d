#include "servicetestsupport.h"

#include "app/servicecontroller.h"
#include "app/unixsocket.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QLibraryInfo>
#include <QRandomGenerator>
#include <QSettings>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The services of these tests keep their control sockets and lock files in
// a directory of this test program, never beside a real gateway's.
class ControlDirectoryEnvironment : public ::testing::Environment
{
public:
    void SetUp() override
    {
        m_dir.reset(new QTemporaryDir);
        qputenv(ServiceController::controlDirVariable(), QFile::encodeName(m_dir->path()));
    }
    void TearDown() override
    {
        qunsetenv(ServiceController::controlDirVariable());
        m_dir.reset();
    }

private:
    std::unique_ptr<QTemporaryDir> m_dir;
};

const ::testing::Environment *const g_controlDirectory =
    ::testing::AddGlobalTestEnvironment(new ControlDirectoryEnvironment);

} // namespace

QStringList TinyTestApplication::lastArguments;
int TinyTestApplication::alive = 0;

TinyTestApplication::TinyTestApplication(int &argc, char **argv)
{
    lastArguments.clear();
    for (int i = 0; i < argc; ++i)
        lastArguments << QString::fromLocal8Bit(argv[i]);
    ++alive;
}

TinyTestApplication::~TinyTestApplication()
{
    --alive;
}

namespace {

// Keeps a C argument vector alive for the duration of a constructor call.
struct ArgVector {
    explicit ArgVector(const QStringList &args)
    {
        for (const QString &arg : args)
            data << arg.toLocal8Bit();
        for (QByteArray &arg : data)
            pointers << arg.data();
        pointers << nullptr;
    }
    int argc() const { return data.size(); }
    char **argv() { return pointers.data(); }

    QByteArrayList data;
    QVector<char *> pointers;
};

} // namespace

// Both temporaries live until the base class has copied the arguments.
RecordingService::RecordingService(const QStringList &args, const QString &name)
    : ServiceHost<TinyTestApplication>(ArgVector(args).argc(), ArgVector(args).argv(), name)
{
}

void RecordingService::start()
{
    calls << QStringLiteral("start");
    if (onStart)
        onStart();
    if (exitOnStart >= 0)
        QCoreApplication::exit(exitOnStart);
}

void RecordingService::stop()
{
    calls << QStringLiteral("stop");
    if (onStop)
        onStop();
}

void RecordingService::pause()
{
    calls << QStringLiteral("pause");
}

void RecordingService::resume()
{
    calls << QStringLiteral("resume");
}

void RecordingService::processCommand(int code)
{
    calls << QStringLiteral("command %1").arg(code);
}

void RecordingService::reload(ReloadDone done)
{
    calls << QStringLiteral("reload");
    QTimer::singleShot(0, [this, done] { done(reloadOk, reloadLines); });
}

void RecordingService::createApplication(int &argc, char **argv)
{
    if (!refuseApplication)
        ServiceHost<TinyTestApplication>::createApplication(argc, argv);
    if (quitWhileCreating >= 0)
        requestQuit(quitWhileCreating);
}

QString uniqueServiceName()
{
    static int counter = 0;
    return QStringLiteral("Ferrox Test %1 %2 %3")
        .arg(::getpid())
        .arg(QRandomGenerator::global()->generate())
        .arg(++counter);
}

void removeSocketFile(const QString &name)
{
    QFile::remove(ServiceController::socketPath(name));
}

StdStreamCapture::StdStreamCapture()
{
    std::fflush(stdout);
    std::fflush(stderr);
    char outName[] = "/tmp/ferrox-stdout-XXXXXX";
    char errName[] = "/tmp/ferrox-stderr-XXXXXX";
    m_outFile = ::mkstemp(outName);
    m_errFile = ::mkstemp(errName);
    ::unlink(outName);
    ::unlink(errName);
    m_savedOut = ::dup(STDOUT_FILENO);
    m_savedErr = ::dup(STDERR_FILENO);
    ::dup2(m_outFile, STDOUT_FILENO);
    ::dup2(m_errFile, STDERR_FILENO);
}

StdStreamCapture::~StdStreamCapture()
{
    finish();
}

static QByteArray readAllFrom(int fd)
{
    QByteArray all;
    ::lseek(fd, 0, SEEK_SET);
    char buffer[4096];
    ssize_t n;
    while ((n = ::read(fd, buffer, sizeof(buffer))) > 0)
        all.append(buffer, int(n));
    return all;
}

void StdStreamCapture::finish()
{
    if (m_savedOut < 0)
        return;
    std::fflush(stdout);
    std::fflush(stderr);
    ::dup2(m_savedOut, STDOUT_FILENO);
    ::dup2(m_savedErr, STDERR_FILENO);
    ::close(m_savedOut);
    ::close(m_savedErr);
    m_savedOut = m_savedErr = -1;
    m_out = readAllFrom(m_outFile);
    m_err = readAllFrom(m_errFile);
    ::close(m_outFile);
    ::close(m_errFile);
}

ScopedSystemSettings::ScopedSystemSettings(bool writable)
    : m_settingsDir(m_dir.path())
{
    if (!writable) {
        QFile blocker(m_dir.filePath(QStringLiteral("file")));
        blocker.open(QIODevice::WriteOnly);
        m_settingsDir = blocker.fileName() + QStringLiteral("/etc");
    }
    QSettings::setPath(QSettings::NativeFormat, QSettings::SystemScope, m_settingsDir);
    QSettings::setPath(QSettings::IniFormat, QSettings::SystemScope, m_settingsDir);
}

ScopedSystemSettings::~ScopedSystemSettings()
{
    const QString system = QLibraryInfo::location(QLibraryInfo::SettingsPath);
    QSettings::setPath(QSettings::NativeFormat, QSettings::SystemScope, system);
    QSettings::setPath(QSettings::IniFormat, QSettings::SystemScope, system);
}

QString ScopedSystemSettings::fileName() const
{
    return m_settingsDir + QStringLiteral("/Ferrox.conf");
}

ScopedEnvironment::ScopedEnvironment(const char *name, const QByteArray &value)
    : m_name(name)
    , m_old(qgetenv(name))
    , m_wasSet(qEnvironmentVariableIsSet(name))
{
    if (value.isNull())
        qunsetenv(name);
    else
        qputenv(name, value);
}

ScopedEnvironment::~ScopedEnvironment()
{
    if (m_wasSet)
        qputenv(m_name.constData(), m_old);
    else
        qunsetenv(m_name.constData());
}

int runServiceWithClient(RecordingService &service, const std::function<void()> &client,
                         bool clientTerminates, mode_t *socketMode)
{
    ScopedEnvironment run(ServiceController::runVariable(), "1");
    const mode_t oldMask = ::umask(022);
    ::umask(oldMask);

    const QString path = service.controller().socketPath();
    if (socketMode) {
        *socketMode = 0;
        const std::function<void()> previous = service.onStart;
        service.onStart = [previous, path, socketMode] {
            struct stat st;
            if (::lstat(QFile::encodeName(path).constData(), &st) == 0)
                *socketMode = st.st_mode & 07777;
            if (previous)
                previous();
        };
    }

    const QString name = service.serviceName();
    QThread *thread = QThread::create([name, &client, clientTerminates] {
        ServiceController probe(name);
        const QDeadlineTimer deadline(10000);
        while (!probe.isRunning() && !deadline.hasExpired())
            QThread::msleep(5);
        client();
        if (!clientTerminates)
            QMetaObject::invokeMethod(
                QCoreApplication::instance(), [] { QCoreApplication::exit(0); },
                Qt::QueuedConnection);
    });

    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(99); });
    guard.start(30000);
    thread->start();
    const int code = service.exec();
    guard.stop();
    thread->wait();
    delete thread;
    // Nothing posted by this run may reach a later one.
    QCoreApplication::sendPostedEvents();
    ::umask(oldMask);
    return code;
}

QByteArray readReply(UnixSocket &socket, int expected)
{
    QByteArray reply;
    const QDeadlineTimer deadline(5000);
    while (reply.size() < expected && !deadline.hasExpired()) {
        if (socket.bytesAvailable() == 0 && !socket.waitForReadyRead(int(deadline.remainingTime())))
            break;
        reply += socket.readAll();
    }
    return reply;
}
