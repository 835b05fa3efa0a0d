#ifndef QGATELOGGER_H
#define QGATELOGGER_H

#include "core/gatelog.h"

#include <QDateTime>
#include <QObject>
#include <QString>

// The operator's log file: appends time-stamped lines ("date-time<TAB>text").
// The file is opened and closed for every line, so it may be moved or removed
// at any time and is recreated by the next line. An empty file name loses the
// line silently. A file that cannot be written (a directory, a missing
// directory, a full disk) loses the line too, but says so in a warning once
// per streak of failures; every later line tries again, and the first one
// written after a streak is preceded by a line telling how many were lost.
class QGateLogger : public QObject, public GateLogSink
{
    Q_OBJECT
public:
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
    // Appends one line; false (with `reason`) when it could not be written.
    bool append(const QDateTime &dt, const QString &msg, QString &reason) const;

    QString m_fileName;
    // Lines lost in the current streak of write failures.
    quint64 m_lost = 0;
};

#endif // QGATELOGGER_H
