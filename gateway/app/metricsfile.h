#ifndef METRICSFILE_H
#define METRICSFILE_H

#include "core/repeatedmessage.h"

#include <QByteArray>
#include <QString>

class GatewayMonitor;

// The state of the gateway in the Prometheus text format (for a textfile
// collector): ferrox_* metrics of the process and the main cycle, and per
// tie its state, its units by state and its counters, labelled with the
// tie's index, id and section.
QByteArray metricsText(const GatewayMonitor &monitor);

// A Prometheus label value: backslash, double quote and line end escaped.
QString metricsLabelValue(const QString &value);

// The metrics file. Each write() replaces it whole and atomically (a
// temporary file beside it, renamed over it), so a reader never sees a
// partial file; the file is readable by everyone (mode 0644), since the
// collector runs as another user. A write that fails is reported once
// per streak (warning and log), and the recovery once.
class MetricsFile
{
public:
    MetricsFile();

    QString path() const { return m_path; }
    // Where write() writes; empty for nowhere. When the path changes, the
    // file written at the old one is removed, unless it is no longer the
    // file this object wrote there (or is the same file under the new path).
    void setPath(const QString &path);

    // Replaces the file by `text`. False when it could not; the old file
    // then stays as it was, and errorText() says why.
    bool write(const QByteArray &text);
    QString errorText() const { return m_error; }

private:
    QString m_path;
    // Identity of the file the last write() put at m_path; 0 when none.
    quint64 m_writtenDevice = 0;
    quint64 m_writtenInode = 0;
    QString m_error;
    RepeatedMessage m_fault;
};

#endif // METRICSFILE_H
