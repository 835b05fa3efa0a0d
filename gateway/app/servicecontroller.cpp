#include "app/servicecontroller.h"

#include "app/unixsocket.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QSettings>

#include <cstdio>
#include <vector>

#include <pwd.h>
#include <unistd.h>

namespace {

const char SettingsOrganisation[] = "Ferrox";
const char ServicesGroup[] = "services";

// The login name of the current user; empty without a password entry.
QString loginName()
{
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    if (size <= 0)
        size = 16384;
    std::vector<char> buffer(static_cast<size_t>(size));
    passwd entry;
    passwd *found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || !found
        || !found->pw_name)
        return QString();
    return QString::fromLocal8Bit(found->pw_name);
}

// The text of a reply: what arrived up to the first zero byte.
QByteArray replyText(const QByteArray &reply)
{
    const int zero = reply.indexOf('\0');
    return zero < 0 ? reply : reply.left(zero);
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

bool ServiceController::isRunning() const
{
    UnixSocket socket;
    if (!socket.connectToPath(socketPath(), m_replyTimeoutMs)) {
        m_lastError = socket.errorString();
        return false;
    }
    socket.abort();
    return true;
}

bool ServiceController::sendText(const QString &command)
{
    UnixSocket socket;
    if (!socket.connectToPath(socketPath(), m_replyTimeoutMs)) {
        m_lastError = socket.errorString();
        return false;
    }

    QElapsedTimer timer;
    timer.start();
    const QByteArray request = command.toLatin1() + "\r\n";
    if (socket.write(request) != request.size()) {
        m_lastError = socket.errorString();
        socket.abort();
        return false;
    }
    socket.flush();
    while (socket.bytesToWrite() > 0) {
        const qint64 left = m_replyTimeoutMs - timer.elapsed();
        if (left <= 0 || !socket.waitForBytesWritten(int(left)))
            break;
    }

    // The reply carries no terminator: read until it cannot change any more,
    // the service closes the connection, or the time is up.
    QByteArray reply;
    for (;;) {
        reply += socket.readAll();
        if (replyComplete(reply))
            break;
        const qint64 left = m_replyTimeoutMs - timer.elapsed();
        if (left <= 0 || socket.state() != QLocalSocket::ConnectedState)
            break;
        if (!socket.waitForReadyRead(int(left))) {
            reply += socket.readAll();
            break;
        }
    }
    socket.abort();

    const QByteArray text = replyText(reply);
    if (text == "true")
        return true;
    if (reply.isEmpty())
        m_lastError = QStringLiteral("no reply within %1 ms").arg(m_replyTimeoutMs);
    else
        m_lastError = QStringLiteral("the service replied \"%1\"").arg(QString::fromLatin1(text));
    return false;
}

bool ServiceController::stop()
{
    return sendText(QStringLiteral("terminate"));
}

bool ServiceController::pause()
{
    return sendText(QStringLiteral("pause"));
}

bool ServiceController::resume()
{
    return sendText(QStringLiteral("resume"));
}

bool ServiceController::sendCommand(int code)
{
    return sendText(QStringLiteral("num:") + QString::number(code));
}

bool ServiceController::start(const QString &programPath, const QStringList &arguments)
{
    if (sendText(QStringLiteral("alive"))) {
        m_lastError = QStringLiteral("the service is running already");
        return false;
    }
    if (programPath.isEmpty()) {
        m_lastError = QStringLiteral("the program file was not found");
        return false;
    }
    // Only the started process is marked: this one goes on as a control
    // client and must not take itself for the service.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QLatin1String(runVariable()), QStringLiteral("1"));
    QProcess process;
    process.setProgram(programPath);
    process.setArguments(arguments);
    process.setWorkingDirectory(QStringLiteral("/"));
    process.setProcessEnvironment(environment);
    if (!process.startDetached()) {
        m_lastError = process.errorString();
        return false;
    }
    return true;
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

QString ServiceController::socketPath(const QString &name)
{
    QString kept;
    const QString lower = name.toLower();
    for (const QChar c : lower) {
        if ((c >= QLatin1Char('a') && c <= QLatin1Char('z'))
            || (c >= QLatin1Char('0') && c <= QLatin1Char('9')))
            kept += c;
    }
    return UnixSocket::addressPath(QStringLiteral("/var/tmp/") + kept + QLatin1Char('.')
                                   + loginName());
}
