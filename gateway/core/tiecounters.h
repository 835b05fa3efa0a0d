#ifndef TIECOUNTERS_H
#define TIECOUNTERS_H

#include <QtGlobal>

// What one tie has done since it was built, for the operator's status and
// metrics. The tie and its connections add to the fields as the work
// happens (plain increments, no formatting); readers take them as they
// stand. A field that a tie family never touches stays 0.
struct TieCounters {
    // Units that reported new data when polled / units sent.
    quint64 unitsReceived = 0;
    quint64 unitsSent = 0;
    // Parameter values taken from the outside system / handed to it.
    quint64 valuesReceived = 0;
    quint64 valuesSent = 0;
    // Frames (or messages) and bytes crossing the tie's connections.
    quint64 framesIn = 0;
    quint64 framesOut = 0;
    quint64 bytesIn = 0;
    quint64 bytesOut = 0;
    // Bytes written for a peer that took less than was sent, dropped unsent
    // when its connection was cut off at the bound of what may wait for it.
    quint64 bytesUnsent = 0;
    // Connections made again after a loss.
    quint64 reconnects = 0;
    // Frames whose checksums failed / frames or packs dropped as malformed.
    quint64 checksumFailures = 0;
    quint64 framesDropped = 0;
    // Messages received but not taken (wrong length, ...) / messages that no
    // queue or peer accepted.
    quint64 messagesDropped = 0;
    quint64 messagesRefused = 0;
    // Calculation calls that raised an error / that were aborted by a bound.
    quint64 scriptErrors = 0;
    quint64 scriptAborts = 0;
    // Records written to output files.
    quint64 recordsWritten = 0;
    // Messages published to a broker, acknowledged by it, waiting in the
    // tie's buffer now, and dropped from a full buffer.
    quint64 published = 0;
    quint64 delivered = 0;
    quint64 buffered = 0;
    quint64 dropped = 0;

    // Adds the totals of `other` (every field but the gauge `buffered`): a
    // tie that replaces another at a reload goes on from its counts.
    void addTotals(const TieCounters &other)
    {
        for (quint64 TieCounters::*field :
             {&TieCounters::unitsReceived, &TieCounters::unitsSent, &TieCounters::valuesReceived,
              &TieCounters::valuesSent, &TieCounters::framesIn, &TieCounters::framesOut, &TieCounters::bytesIn,
              &TieCounters::bytesOut, &TieCounters::bytesUnsent, &TieCounters::reconnects,
              &TieCounters::checksumFailures, &TieCounters::framesDropped, &TieCounters::messagesDropped,
              &TieCounters::messagesRefused, &TieCounters::scriptErrors, &TieCounters::scriptAborts,
              &TieCounters::recordsWritten, &TieCounters::published, &TieCounters::delivered, &TieCounters::dropped})
            this->*field += other.*field;
    }
};

#endif // TIECOUNTERS_H
