#ifndef SOAKRUN_H
#define SOAKRUN_H

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVector>
#include <QtGlobal>

#include <functional>

class QTextStream;

// A long run of the gateway's main cycle, with a test clock that moves
// 500 ms per cycle and cycles back to back: a DE peer in the process on
// 127.0.0.1, a queue tie fed by a writer, a text input file fed line by
// line and a daily table file, with values passed between all of them.
// Every cycle each source sends its next running number; at the end every
// number is accounted for at the far side, and the resident size and the
// open descriptors must not grow.
struct SoakOptions {
    quint64 cycles = 172800; // a day of 500 ms ticks
    quint64 sampleEvery = 1000;
    // Bounds of the growth over the second half, per 10 000 cycles.
    double rssBoundKiB = 256;
    bool checkRss = true;
    double fdBound = 0;
    // Where the run's files go (a temporary directory inside it); empty:
    // the system's temporary directory.
    QString workDir;
    // Called after every cycle with its number (tests disturb the run
    // through it); none by default.
    std::function<void(quint64 cycle)> afterCycle;
};

struct SoakSample {
    quint64 cycle = 0;
    qint64 rssKiB = 0;
    int fds = 0;
};

struct SoakResult {
    bool setUp = false;
    QVector<SoakSample> samples;
    // Least-squares growth over the second half, per 10 000 cycles.
    double rssSlope = 0;
    double fdSlope = 0;
    qint64 msecs = 0;
    quint64 cycles = 0;
    // Every account that did not balance and every bound exceeded; empty
    // when the run passed.
    QStringList faults;
    bool passed() const { return setUp && faults.isEmpty(); }
};

// Runs the soak; progress, samples and the verdict go to `out`. Needs a
// QCoreApplication. The process-wide clock is fixed during the run and
// given back to the system clock at its end.
SoakResult runSoak(const SoakOptions &options, QTextStream &out);

// The name of the queue the run's writer feeds (unique to the process).
QByteArray soakInputQueue();

// The least-squares slope of y over x; 0 for fewer than two points.
double leastSquaresSlope(const QVector<double> &x, const QVector<double> &y);

// The resident size (VmRSS) in KiB and the open descriptors of this process.
qint64 residentKiB();
int openDescriptors();

#endif // SOAKRUN_H
