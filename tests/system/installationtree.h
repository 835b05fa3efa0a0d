#ifndef INSTALLATIONTREE_H
#define INSTALLATIONTREE_H

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// A throw-away installation of the built program: <tmp>/bin/ferrox (a copy,
// so that "../config" resolves inside the tree), <tmp>/config/, <tmp>/log/.
class InstallationTree
{
public:
    InstallationTree();

    bool isValid() const { return m_ok; }
    QString root() const { return m_dir.path(); }
    QString program() const { return m_dir.filePath(QStringLiteral("bin/ferrox")); }
    QString configPath(const QString &name = QStringLiteral("ferrox.cfg")) const;
    QString logPath(const QString &name = QStringLiteral("ferrox.log")) const;

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
    // Starts the program in the foreground without waiting.
    void start(QProcess &process, const QStringList &arguments) const;

private:
    QTemporaryDir m_dir;
    bool m_ok;
};

// Waits up to `msecs`, serving events, until `condition` holds.
template<typename Condition>
bool waitFor(Condition condition, int msecs);

#include "installationtree_impl.h"

#endif // INSTALLATIONTREE_H
