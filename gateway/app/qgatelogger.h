#ifndef QGATELOGGER_H
#define QGATELOGGER_H

#include "core/gatelog.h"

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QVector>

// The operator's log file: appends time-stamped lines ("date-time<TAB>text").
// The file is opened and closed for every line, so it may be moved or removed
// at any time and is recreated by the next line. An empty file name loses the
// line silently.
//
// A file that cannot be written (a directory, a missing directory, a full
// disk, no descriptor left) is reported in a warning once per streak of
// failures. The lines of the streak are held (at most MaxHeldLines, in
// order) and every later line tries again to write them before itself; lines
// past the bound are counted and a line says how many were lost.
class QGateLogger : public QObject, public GateLogSink
{
    Q_OBJECT
public:
    // Lines held while the file cannot be written.
    static constexpr int MaxHeldLines = 100;

    explicit QGateLogger(QObject *parent = nullptr);
    ~QGateLogger() override;

    // The one logger of the process; it installs itself as the gateway's log sink.
    static QGateLogger *instance();

    QString fileName() const override;
    void setFileName(const QString &name) override;
    void writeLine(const QDateTime &dt, const QString &msg) override;

public slots:
    // Appends one line stamped with `dt`.
    void Log(const QDateTime &dt, const QString &msg);
    // Appends one line stamped with the current time in UTC.
    void Log(const QString &msg);

private:
    struct Line {
        QDateTime stamp;
        QString text;
    };

    // Appends the held lines, oldest first, and forgets each one written.
    // False (with `reason`) when not all could be written.
    bool writeHeld(QString &reason);

    QString m_fileName;
    QVector<Line> m_held;
    // Lines of the current streak of failures that found no room.
    quint64 m_lost = 0;
    bool m_failing = false;
    bool m_writing = false; // writeHeld() runs
};

#endif // QGATELOGGER_H
