#include "installationtree.h"

#include "app/servicelock.h"

#include <QDir>
#include <QFile>
#include <QProcessEnvironment>

#include <csignal>

#include <pwd.h>
#include <unistd.h>

InstallationTree::InstallationTree()
    : m_ok(false)
{
    if (!m_dir.isValid())
        return;
    QDir root(m_dir.path());
    for (const char *dir : {"bin", "config", "log", "data", "run"})
        if (!root.mkpath(QLatin1String(dir)))
            return;
    const QString built = QStringLiteral(FERROX_BINARY_DIR "/bin/ferrox");
    m_ok = QFile::copy(built, program());
    QFile::setPermissions(program(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

QString InstallationTree::configPath(const QString &name) const
{
    return m_dir.filePath(QStringLiteral("config/") + name);
}

QString InstallationTree::logPath(const QString &name) const
{
    return m_dir.filePath(QStringLiteral("log/") + name);
}

bool InstallationTree::writeConfig(const QString &name, const QByteArray &text) const
{
    QFile file(configPath(name));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    return file.write(text) == text.size();
}

QByteArray InstallationTree::readLog(const QString &name) const
{
    QFile file(logPath(name));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

InstallationTree::~InstallationTree()
{
    if (const qint64 pid = servicePid()) {
        ::kill(pid_t(pid), SIGKILL);
        waitFor([&] { return servicePid() == 0; }, 5000);
    }
}

QString InstallationTree::dataPath(const QString &name) const
{
    return m_dir.filePath(QStringLiteral("data/") + name);
}

QString InstallationTree::lockPath() const
{
    const passwd *entry = ::getpwuid(::getuid());
    return controlDir() + QStringLiteral("/unixferrox.") + QString::fromLocal8Bit(entry ? entry->pw_name : "")
           + QStringLiteral(".lock");
}

qint64 InstallationTree::servicePid() const
{
    if (ServiceLock::probe(lockPath()) != ServiceLock::Held)
        return 0;
    QFile file(lockPath());
    return file.open(QIODevice::ReadOnly) ? file.readAll().trimmed().toLongLong() : 0;
}

QProcessEnvironment InstallationTree::environment() const
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("FERROX_SERVICE_RUN"));
    env.insert(QStringLiteral("TZ"), QStringLiteral("UTC"));
    env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    env.insert(QStringLiteral("FERROX_CONTROL_DIR"), controlDir());
    return env;
}

void InstallationTree::start(QProcess &process, const QStringList &arguments) const
{
    process.setProcessEnvironment(environment());
    process.setWorkingDirectory(m_dir.path());
    process.start(program(), QStringList{QStringLiteral("-e")} + arguments);
}

InstallationTree::Run InstallationTree::runForeground(const QStringList &arguments, int msecs) const
{
    return run(QStringList{QStringLiteral("-e")} + arguments, msecs);
}

InstallationTree::Run InstallationTree::run(const QStringList &arguments, int msecs) const
{
    QProcess process;
    return run(process, arguments, msecs);
}

InstallationTree::Run InstallationTree::run(QProcess &process, const QStringList &arguments, int msecs) const
{
    Run run;
    process.setProcessEnvironment(environment());
    process.setWorkingDirectory(m_dir.path());
    process.start(program(), arguments);
    if (!process.waitForStarted(5000))
        return run;
    run.finished = process.waitForFinished(msecs);
    if (!run.finished) {
        process.kill();
        process.waitForFinished(5000);
    }
    run.exitCode = process.exitCode();
    run.out = process.readAllStandardOutput();
    run.err = process.readAllStandardError();
    return run;
}
