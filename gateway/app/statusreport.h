#ifndef STATUSREPORT_H
#define STATUSREPORT_H

#include <QByteArray>

class GatewayMonitor;

// The answer to the control command "status": one JSON document (indented,
// for the operator's eyes) with the version, process id, start time, uptime,
// configuration and log file, the cycle statistics (ticks, overruns, last,
// longest and mean tick, the histogram of tick durations by bucket) and every
// tie with its index, id, section, class, state, units by state and counters.
QByteArray statusReport(const GatewayMonitor &monitor);

#endif // STATUSREPORT_H
