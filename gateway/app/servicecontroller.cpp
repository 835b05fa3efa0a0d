#include "app/servicecontroller.h"

#include "app/controltrust.h"
#include "app/servicelock.h"
#include "app/unixsocket.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcessEnvironment>
#include <QSettings>

#include <QThread>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const char SettingsOrganisation[] = "Ferrox";
// The pause between two questions of state().
constexpr int StateRetryMs = 100;
const char ServicesGroup[] = "services";

// The login name of the current user; empty without a password entry.
QString loginName()
{
    return userNameOf(::getuid());
}

// The text of a reply: what arrived up to the first zero byte.
QByteArray replyText(const QByteArray &reply)
{
    const int zero = reply.indexOf('\0');
    return zero < 0 ? reply : reply.left(zero);
}

// The most bytes of a "true"/"false" reply read (one that differs from both
// is complete as soon as it does).
constexpr int MaxPendingReplyBytes = 64 * 1024;

// A status reply is complete with its zero byte, or as a plain "false".
bool statusComplete(const QByteArray &reply)
{
    return reply.contains('\0') || reply == "false";
}

// True when more bytes cannot change the verdict on `reply`: it holds a zero
// byte, is a whole "true" or "false", or already differs from both.
bool replyComplete(const QByteArray &reply)
{
    if (reply.contains('\0'))
        return true;
    static const QByteArray yes("true");
    static const QByteArray no("false");
    if (reply.isEmpty())
        return false;
    return reply == yes || reply == no || !(yes.startsWith(reply) || no.startsWith(reply));
}

// "the service exited with code N" or "... was ended by signal N (name)".
QString exitText(int status)
{
    if (WIFSIGNALED(status))
        return QStringLiteral("the service was ended by signal %1 (%2)")
            .arg(WTERMSIG(status))
            .arg(QString::fromLocal8Bit(::strsignal(WTERMSIG(status))));
    return QStringLiteral("the service exited with code %1").arg(WEXITSTATUS(status));
}

// The child process of a detached start: spawned in a session of its own
// with /dev/null as standard input and output and a pipe as standard error,
// which this side reads while it waits. When the starter ends, the child is
// left to the system, which reaps it.
class DetachedChild
{
public:
    ~DetachedChild()
    {
        if (m_pipe >= 0)
            ::close(m_pipe);
    }

    bool spawn(const QString &program, const QStringList &arguments, const QProcessEnvironment &environment,
               QString &reason)
    {
        QByteArrayList argData{QFile::encodeName(program)};
        for (const QString &arg : arguments)
            argData << arg.toLocal8Bit();
        QByteArrayList envData;
        for (const QString &entry : environment.toStringList())
            envData << entry.toLocal8Bit();
        std::vector<char *> argv;
        for (QByteArray &arg : argData)
            argv.push_back(arg.data());
        argv.push_back(nullptr);
        std::vector<char *> envp;
        for (QByteArray &entry : envData)
            envp.push_back(entry.data());
        envp.push_back(nullptr);

        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0) {
            reason = QStringLiteral("cannot make a pipe: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
            return false;
        }
        // With standard error closed here, the write end may be descriptor
        // 2 itself, which the child would lose at exec.
        if (fds[1] <= STDERR_FILENO) {
            const int moved = ::fcntl(fds[1], F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
            ::close(fds[1]);
            fds[1] = moved;
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_adddup2(&actions, fds[1], STDERR_FILENO);
        // Nothing else of the caller's (a terminal, a pipe of a remote
        // shell) stays open for the life of the service.
        posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
        posix_spawn_file_actions_addchdir_np(&actions, "/");
        posix_spawnattr_t attributes;
        posix_spawnattr_init(&attributes);
        sigset_t none;
        sigemptyset(&none);
        sigset_t defaults;
        sigemptyset(&defaults);
        for (const int signal : {SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGPIPE})
            sigaddset(&defaults, signal);
        posix_spawnattr_setsigmask(&attributes, &none);
        posix_spawnattr_setsigdefault(&attributes, &defaults);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
        const int error = ::posix_spawn(&m_pid, argv[0], &actions, &attributes, argv.data(), envp.data());
        posix_spawnattr_destroy(&attributes);
        posix_spawn_file_actions_destroy(&actions);
        ::close(fds[1]);
        if (error != 0) {
            ::close(fds[0]);
            m_pid = -1;
            reason = QStringLiteral("cannot start %1: %2").arg(program, QString::fromLocal8Bit(std::strerror(error)));
            return false;
        }
        m_pipe = fds[0];
        return true;
    }

    // Reads what the child wrote, waiting at most `msecs` for it. True once
    // the child has closed its end (it is up, or it has ended).
    bool readOutput(int msecs)
    {
        if (m_pipe < 0)
            return true;
        pollfd fd = {m_pipe, POLLIN, 0};
        if (::poll(&fd, 1, msecs) <= 0)
            return false;
        char buffer[4096];
        const ssize_t n = ::read(m_pipe, buffer, sizeof(buffer));
        if (n < 0)
            return errno != EINTR && errno != EAGAIN ? closePipe() : false;
        if (n == 0)
            return closePipe();
        // Only the first lines are kept; the rest is read and dropped so
        // that the child never blocks on a full pipe.
        if (m_text.size() < MaxKeptBytes)
            m_text.append(buffer, int(n));
        return false;
    }

    // True when the child has ended; `status` is then its wait status.
    bool exited(int &status)
    {
        if (m_pid < 0)
            return false;
        if (m_ended) {
            status = m_status;
            return true;
        }
        const pid_t pid = ::waitpid(m_pid, &m_status, WNOHANG);
        if (pid != m_pid)
            return false;
        // What it wrote last is in the pipe still (unless a process it
        // started holds the pipe open: what is there now is read).
        while (m_pipe >= 0 && hasInput())
            readOutput(0);
        m_ended = true;
        status = m_status;
        return true;
    }

    // The lines the child wrote, at most MaxStartOutputLines.
    QStringList lines() const
    {
        QStringList all = QString::fromLocal8Bit(m_text).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        if (all.size() > ServiceController::MaxStartOutputLines)
            all = all.mid(0, ServiceController::MaxStartOutputLines) << QStringLiteral("...");
        return all;
    }

private:
    static constexpr int MaxKeptBytes = 16 * 1024;

    bool hasInput() const
    {
        pollfd fd = {m_pipe, POLLIN, 0};
        return ::poll(&fd, 1, 0) > 0;
    }

    bool closePipe()
    {
        ::close(m_pipe);
        m_pipe = -1;
        return true;
    }

    pid_t m_pid = -1;
    int m_pipe = -1;
    int m_status = 0;
    bool m_ended = false;
    QByteArray m_text;
};

} // namespace

ServiceController::ServiceController(const QString &name)
    : m_name(name)
{
}

void ServiceController::setReplyTimeout(int msecs)
{
    m_replyTimeoutMs = qMax(1, msecs);
}

QString ServiceController::settingsGroup() const
{
    return QLatin1String(ServicesGroup) + QLatin1Char('/') + m_name;
}

bool ServiceController::settingsGroupUsable() const
{
    // The settings treat "/" as a group separator and drop empty parts; a
    // name of nothing but separators would address the services group itself.
    return !m_name.split(QLatin1Char('/'), Qt::SkipEmptyParts).isEmpty();
}

bool ServiceController::isInstalled() const
{
    if (!settingsGroupUsable())
        return false;
    QSettings settings(QSettings::SystemScope, QLatin1String(SettingsOrganisation));
    settings.beginGroup(settingsGroup());
    return !settings.childKeys().isEmpty() || !settings.childGroups().isEmpty();
}

bool ServiceController::writable(const QSettings &settings, const char *action) const
{
    if (settings.isWritable())
        return true;
    std::fprintf(stderr, "Cannot %s \"%s\". Cannot write to: %s. Check permissions.\n", action,
                 m_name.toLatin1().constData(), QFile::encodeName(settings.fileName()).constData());
    std::fflush(stderr);
    return false;
}

bool ServiceController::install(const QString &programPath, const QString &description,
                                int startupType)
{
    if (!settingsGroupUsable() || programPath.isEmpty())
        return false;
    QSettings settings(QSettings::SystemScope, QLatin1String(SettingsOrganisation));
    if (!writable(settings, "install"))
        return false;
    settings.beginGroup(settingsGroup());
    settings.setValue(QStringLiteral("path"), programPath);
    settings.setValue(QStringLiteral("description"), description);
    settings.setValue(QStringLiteral("automaticStartup"), startupType);
    settings.endGroup();
    settings.sync();
    return settings.status() == QSettings::NoError;
}

bool ServiceController::uninstall()
{
    if (!settingsGroupUsable())
        return false;
    QSettings settings(QSettings::SystemScope, QLatin1String(SettingsOrganisation));
    if (!writable(settings, "uninstall"))
        return false;
    settings.remove(settingsGroup());
    settings.sync();
    return settings.status() == QSettings::NoError;
}

bool ServiceController::fail(Failure failure, const QString &reason) const
{
    m_failure = failure;
    m_lastError = reason;
    return false;
}

bool ServiceController::failUnconnected(const QString &reason, bool accessDenied) const
{
    const ServiceLock::State lock = ServiceLock::probe(lockPath());
    // Without access nothing tells that no instance runs: such a failure is
    // never taken for "not running".
    if (accessDenied)
        return fail(NoAccess, lock == ServiceLock::Held
                                  ? QStringLiteral("an instance of the service runs, but this user may not use its "
                                                   "control socket (%1)")
                                        .arg(reason)
                                  : QStringLiteral("cannot tell whether the service runs: this user may not use its "
                                                   "control socket (%1)")
                                        .arg(reason));
    if (lock == ServiceLock::Held)
        return fail(NoReply, QStringLiteral("an instance of the service runs, but its control socket does not "
                                            "answer (%1)")
                                 .arg(reason));
    if (lock == ServiceLock::Unknown)
        return fail(NoAccess, QStringLiteral("cannot tell whether the service runs: its lock file %1 cannot be "
                                             "read, and the control socket does not answer (%2)")
                                  .arg(lockPath(), reason));
    return fail(Unreachable, reason);
}

ServiceController::State ServiceController::state() const
{
    // A service that refused the connection (all its client places taken)
    // or is just opening its socket again is asked once more, within the
    // bound; one that let the bound pass without an answer is not.
    QElapsedTimer timer;
    timer.start();
    for (;;) {
        if (sendText(QStringLiteral("alive")))
            return Running;
        if (m_failure == Unreachable)
            return NotRunning;
        if (m_failure == NoAccess)
            return Inaccessible;
        if (timer.elapsed() + StateRetryMs >= m_replyTimeoutMs)
            return NotResponding;
        QThread::msleep(StateRetryMs);
    }
}

bool ServiceController::exchange(const QString &command, bool (*complete)(const QByteArray &), int maxBytes,
                                 QByteArray &reply, int timeoutMs) const
{
    if (timeoutMs < 0)
        timeoutMs = m_replyTimeoutMs;
    m_failure = NoFailure;
    m_lastError.clear();
    reply.clear();
    UnixSocket socket;
    if (!socket.connectToPath(socketPath(), m_replyTimeoutMs))
        return failUnconnected(socket.errorString(), socket.error() == QLocalSocket::SocketAccessError);
    // Only the service's own answer counts: not one of a process of another
    // user, nor one at a socket file such a user put there.
    struct stat st {};
    ucred peer{};
    socklen_t peerSize = sizeof peer;
    const bool fileKnown = ::lstat(QFile::encodeName(socketPath()).constData(), &st) == 0;
    const bool peerKnown =
        ::getsockopt(int(socket.socketDescriptor()), SOL_SOCKET, SO_PEERCRED, &peer, &peerSize) == 0;
    if (!fileKnown || !peerKnown || !isTrustedControlUser(st.st_uid) || !isTrustedControlUser(peer.uid)) {
        socket.abort();
        const uid_t stranger = fileKnown && !isTrustedControlUser(st.st_uid) ? st.st_uid : peer.uid;
        return fail(NoAccess, QStringLiteral("%1 is not the service's: it belongs to %2")
                                  .arg(socketPath(), controlUserText(stranger)));
    }

    QElapsedTimer timer;
    timer.start();
    const QByteArray request = command.toLatin1() + "\r\n";
    if (socket.write(request) != request.size()) {
        const QString reason = socket.errorString();
        socket.abort();
        return fail(NoReply, reason);
    }
    socket.flush();
    while (socket.bytesToWrite() > 0) {
        const qint64 left = timeoutMs - timer.elapsed();
        if (left <= 0 || !socket.waitForBytesWritten(int(left)))
            break;
    }

    // The reply carries no terminator of its own: read until it cannot
    // change any more, the service closes the connection, or the time is up.
    for (;;) {
        reply += socket.read(qMax<qint64>(0, maxBytes - reply.size()));
        if (complete(reply) || reply.size() >= maxBytes)
            break;
        const qint64 left = timeoutMs - timer.elapsed();
        if (left <= 0 || socket.state() != QLocalSocket::ConnectedState)
            break;
        if (!socket.waitForReadyRead(int(left))) {
            reply += socket.read(qMax<qint64>(0, maxBytes - reply.size()));
            break;
        }
    }
    socket.abort();
    return true;
}

bool ServiceController::sendText(const QString &command) const
{
    QByteArray reply;
    // A reply that is neither "true" nor "false" is complete once it differs from both.
    if (!exchange(command, &replyComplete, MaxPendingReplyBytes, reply))
        return false;
    const QByteArray text = replyText(reply);
    if (text == "true")
        return true;
    if (reply.isEmpty())
        return fail(NoReply, QStringLiteral("no reply within %1 ms").arg(m_replyTimeoutMs));
    return fail(Refused, QStringLiteral("the service replied \"%1\"").arg(QString::fromLatin1(text)));
}

bool ServiceController::status(QByteArray &document) const
{
    document.clear();
    QByteArray reply;
    if (!exchange(QStringLiteral("status"), &statusComplete, MaxStatusBytes + 1, reply))
        return false;
    if (reply == "false")
        return fail(Refused, QStringLiteral("the service gives no status"));
    const int zero = reply.indexOf('\0');
    if (zero < 0) {
        if (reply.size() > MaxStatusBytes)
            return fail(Refused, QStringLiteral("the status is longer than %1 bytes").arg(MaxStatusBytes));
        if (reply.isEmpty())
            return fail(NoReply, QStringLiteral("no reply within %1 ms").arg(m_replyTimeoutMs));
        return fail(NoReply, QStringLiteral("the status was cut off after %1 bytes").arg(reply.size()));
    }
    document = reply.left(zero);
    return true;
}

bool ServiceController::reload(QStringList &lines)
{
    lines.clear();
    QByteArray reply;
    // The verdict and the lines each end with a zero byte.
    const auto complete = [](const QByteArray &r) { return r.count('\0') >= 2; };
    if (!exchange(QStringLiteral("reload"), complete, MaxPendingReplyBytes, reply, m_reloadTimeoutMs))
        return false;
    const QByteArray text = replyText(reply);
    const int start = text.size() + 1;
    const int end = reply.indexOf('\0', start);
    if (start < reply.size())
        lines = QString::fromUtf8(reply.mid(start, end < 0 ? -1 : end - start)).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    if (text == "true")
        return true;
    if (reply.isEmpty())
        return fail(NoReply, QStringLiteral("no reply within %1 ms").arg(m_reloadTimeoutMs));
    return fail(Refused, QStringLiteral("the service replied \"%1\"").arg(QString::fromLatin1(text)));
}

bool ServiceController::stop()
{
    if (sendText(QStringLiteral("terminate")))
        return waitForEnd();
    if (m_failure == Refused)
        m_lastError = QStringLiteral("the service cannot be stopped");
    return false;
}

bool ServiceController::waitForEnd()
{
    QElapsedTimer timer;
    timer.start();
    for (;;) {
        const ServiceLock::State lock = ServiceLock::probe(lockPath());
        // Without access to the lock, the socket tells: it is closed last.
        if (lock == ServiceLock::Free
            || (lock == ServiceLock::Unknown && !UnixSocket().connectToPath(socketPath(), m_replyTimeoutMs)))
            return true;
        if (timer.elapsed() >= m_stopTimeoutMs)
            return fail(NotEnded, QStringLiteral("the service accepted \"terminate\" but did not end within %1 ms")
                                      .arg(m_stopTimeoutMs));
        QThread::msleep(20);
    }
}

bool ServiceController::sendSuspension(const QString &command)
{
    if (sendText(command))
        return true;
    if (m_failure == Refused)
        m_lastError = QStringLiteral("the service cannot be suspended");
    return false;
}

bool ServiceController::pause()
{
    return sendSuspension(QStringLiteral("pause"));
}

bool ServiceController::resume()
{
    return sendSuspension(QStringLiteral("resume"));
}

bool ServiceController::sendCommand(int code)
{
    return sendText(QStringLiteral("num:") + QString::number(code));
}

void ServiceController::setStartTimeout(int msecs)
{
    m_startTimeoutMs = qMax(1, msecs);
}

bool ServiceController::start(const QString &programPath, const QStringList &arguments)
{
    m_startOutput.clear();
    switch (state()) {
    case Running:
        return fail(StartFailed, QStringLiteral("the service is running already"));
    case NotResponding:
        return fail(StartFailed, QStringLiteral("an instance of the service runs already, but does not answer: %1")
                                     .arg(m_lastError));
    case Inaccessible:
        return fail(StartFailed, m_lastError);
    case NotRunning:
        break;
    }
    if (programPath.isEmpty())
        return fail(StartFailed, QStringLiteral("the program file was not found"));

    // Only the started process is marked: this one goes on as a control
    // client and must not take itself for the service.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QLatin1String(runVariable()), QStringLiteral("1"));
    environment.insert(QLatin1String(detachedVariable()), QStringLiteral("1"));
    if (!qEnvironmentVariableIsEmpty(controlDirVariable()))
        environment.insert(QLatin1String(controlDirVariable()), controlDirectory());
    DetachedChild child;
    QString reason;
    if (!child.spawn(programPath, arguments, environment, reason))
        return fail(StartFailed, reason);

    QElapsedTimer timer;
    timer.start();
    for (;;) {
        const qint64 left = m_startTimeoutMs - timer.elapsed();
        if (left <= 0)
            break;
        // The service closes the pipe once it is up; then "alive" must be
        // answered, and by this child, not by one that exits meanwhile.
        const bool up = child.readOutput(int(qMin<qint64>(left, 100)));
        int status = 0;
        if (child.exited(status)) {
            m_startOutput = child.lines();
            return fail(StartFailed, exitText(status));
        }
        if (up && sendText(QStringLiteral("alive")) && !child.exited(status))
            return true;
        if (up)
            QThread::msleep(20);
    }
    m_startOutput = child.lines();
    return fail(StartFailed, QStringLiteral("the service did not answer within %1 ms; it may still be starting "
                                            "(see -v and the log)")
                                 .arg(m_startTimeoutMs));
}

QString ServiceController::serviceFilePath(const QString &programName)
{
    if (programName.isEmpty())
        return QString();
    if (programName.startsWith(QLatin1Char('/')))
        return programName;
    if (programName.contains(QLatin1Char('/')))
        return QDir::cleanPath(QDir::current().absoluteFilePath(programName));
    const QStringList dirs = qEnvironmentVariable("PATH").split(QLatin1Char(':'));
    for (const QString &dir : dirs) {
        // An empty entry stands for the current directory.
        const QFileInfo candidate(QDir(dir.isEmpty() ? QStringLiteral(".") : dir), programName);
        if (candidate.isFile())
            return QDir::cleanPath(candidate.absoluteFilePath());
    }
    return QString();
}

QString ServiceController::controlDirectory()
{
    const QString dir = qEnvironmentVariable(controlDirVariable());
    if (dir.isEmpty())
        return QStringLiteral("/var/tmp");
    // A relative directory is taken from where the command runs; the
    // service it starts runs in "/" and is handed the absolute one.
    return QDir::cleanPath(QDir::current().absoluteFilePath(dir));
}

QString ServiceController::socketPath(const QString &name)
{
    QString kept;
    const QString lower = name.toLower();
    for (const QChar c : lower) {
        if ((c >= QLatin1Char('a') && c <= QLatin1Char('z'))
            || (c >= QLatin1Char('0') && c <= QLatin1Char('9')))
            kept += c;
    }
    QString dir = controlDirectory();
    if (!dir.endsWith(QLatin1Char('/')))
        dir += QLatin1Char('/');
    return UnixSocket::addressPath(dir + kept + QLatin1Char('.') + serviceUser());
}

QString ServiceController::serviceUser()
{
    QString user = qEnvironmentVariable(serviceUserVariable());
    if (user.isEmpty())
        return loginName();
    // A name is never a path.
    user.replace(QLatin1Char('/'), QLatin1Char('_'));
    return user;
}

QString ServiceController::lockPath(const QString &name)
{
    return socketPath(name) + QStringLiteral(".lock");
}
