#ifndef LOGCAPTURE_H
#define LOGCAPTURE_H

#include "core/gatelog.h"

#include <QList>
#include <QStringList>

// Collects the operator's log lines while it exists (installed as the
// gateway's log sink, the previous sink is restored afterwards).
class LogCapture : public GateLogSink
{
public:
    LogCapture();
    ~LogCapture() override;

    void writeLine(const QDateTime &dt, const QString &msg) override;
    QString fileName() const override { return m_fileName; }
    void setFileName(const QString &name) override { m_fileName = name; }

    const QStringList &lines() const { return m_lines; }
    const QList<QDateTime> &stamps() const { return m_stamps; }
    bool contains(const QString &line) const { return m_lines.contains(line); }
    void clear() { m_lines.clear(); m_stamps.clear(); }

private:
    GateLogSink *m_previous;
    QString m_fileName;
    QStringList m_lines;
    QList<QDateTime> m_stamps;
};

#endif // LOGCAPTURE_H
