#ifndef GATELOG_H
#define GATELOG_H

#include <QDateTime>
#include <QString>

// Where the operator's log lines go. The application installs its one
// process-wide logger here; every layer of the gateway writes through the
// functions below without knowing the logger's class.
class GateLogSink
{
public:
    virtual ~GateLogSink();
    // Appends one line stamped with `dt`.
    virtual void writeLine(const QDateTime &dt, const QString &msg) = 0;
    // Name of the log file; empty while none is set.
    virtual QString fileName() const = 0;
    virtual void setFileName(const QString &name) = 0;
};

// Installs the process-wide sink (not owned); null removes it. Without a
// sink, lines are dropped as with an unnamed log file.
void installGateLogSink(GateLogSink *sink);
GateLogSink *gateLogSink();

// Logs `msg` stamped with the current time (UTC).
void gateLog(const QString &msg);
// Logs `msg` stamped with `dt`.
void gateLog(const QDateTime &dt, const QString &msg);

// `text` from outside the gateway (a file, a peer) as a message may quote
// it: cut after `maxChars` characters (then "..."), every control character
// written as \n, \r, \t or \xNN, so that it can neither end a log line nor
// start a forged one, nor reach an operator's terminal as a control sequence.
QString quotedForLog(const QString &text, int maxChars = 64);

// The log file name of the installed sink (empty without one), and setting it.
QString gateLogFileName();
void setGateLogFileName(const QString &name);

#endif // GATELOG_H
