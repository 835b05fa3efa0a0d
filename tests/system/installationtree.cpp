#include "installationtree.h"

#include <QDir>
#include <QFile>
#include <QProcessEnvironment>

InstallationTree::InstallationTree()
    : m_ok(false)
{
    if (!m_dir.isValid())
        return;
    QDir root(m_dir.path());
    if (!root.mkpath(QStringLiteral("bin")) || !root.mkpath(QStringLiteral("config")) || !root.mkpath(QStringLiteral("log")))
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

void InstallationTree::start(QProcess &process, const QStringList &arguments) const
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("FERROX_SERVICE_RUN"));
    env.insert(QStringLiteral("TZ"), QStringLiteral("UTC"));
    env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    process.setProcessEnvironment(env);
    process.setWorkingDirectory(m_dir.path());
    process.start(program(), QStringList{QStringLiteral("-e")} + arguments);
}

InstallationTree::Run InstallationTree::runForeground(const QStringList &arguments, int msecs) const
{
    Run run;
    QProcess process;
    start(process, arguments);
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
