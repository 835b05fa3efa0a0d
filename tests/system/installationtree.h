#ifndef INSTALLATIONTREE_H
#define INSTALLATIONTREE_H

#include <QByteArray>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// A throw-away installation of the built program: <tmp>/bin/ferrox (a copy,
// so that "../config" resolves inside the tree), <tmp>/config/, <tmp>/log/,
// <tmp>/data/, and <tmp>/run/ for the control socket and lock file of a
// service started from it (FERROX_CONTROL_DIR), never the real ones.
class InstallationTree
{
public:
    InstallationTree();
    // Kills a service started from the tree that still runs.
    ~InstallationTree();

    bool isValid() const { return m_ok; }
    QString root() const { return m_dir.path(); }
    QString program() const { return m_dir.filePath(QStringLiteral("bin/ferrox")); }
    QString configPath(const QString &name = QStringLiteral("ferrox.cfg")) const;
    QString logPath(const QString &name = QStringLiteral("ferrox.log")) const;
    QString dataPath(const QString &name = QString()) const;
    QString controlDir() const { return m_dir.filePath(QStringLiteral("run")); }
    // The lock file of a service started from the tree.
    QString lockPath() const;
    // The process id of the service holding the lock; 0 when none does.
    qint64 servicePid() const;

    // Writes `text` into config/<name>.
    bool writeConfig(const QString &name, const QByteArray &text) const;
    // The text of log/<name>, empty when missing.
    QByteArray readLog(const QString &name = QStringLiteral("ferrox.log")) const;

    // Runs the program in the foreground ("-e" plus `arguments`) and waits up
    // to `msecs` for it to end; kills it when it does not.
    struct Run {
        bool finished = false;
        int exitCode = -1;
        QByteArray out;
        QByteArray err;
    };
    Run runForeground(const QStringList &arguments, int msecs) const;
    // Runs the program with `arguments` as given (starting the service,
    // controlling it) and waits as runForeground() does.
    Run run(const QStringList &arguments, int msecs = 30000) const;
    Run run(QProcess &process, const QStringList &arguments, int msecs = 30000) const;
    // Starts the program in the foreground without waiting.
    void start(QProcess &process, const QStringList &arguments) const;
    // The environment the program runs in: TZ, locale, control directory.
    QProcessEnvironment environment() const;

private:
    QTemporaryDir m_dir;
    bool m_ok;
};

// Waits up to `msecs`, serving events, until `condition` holds.
template<typename Condition>
bool waitFor(Condition condition, int msecs);

#include "installationtree_impl.h"

#endif // INSTALLATIONTREE_H
