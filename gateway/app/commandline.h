#ifndef COMMANDLINE_H
#define COMMANDLINE_H

#include <QString>
#include <QStringList>

// Reads the application's own options from `arguments` (the program first):
// "-D level" sets the debug level, "-L file" the log file (resolved against
// `programDir`); letter case is ignored. Parsing ends at the first argument
// that is empty or does not begin with "-". Prints "Debuglevel is %i" and
// "Using logfile %s" as it goes; a wrong option, a missing or non-numeric
// level and a missing or empty file name (which leaves the log file unset)
// give a warning that says what is wrong. Returns false when the
// application must quit with exit code -1 (after any of those warnings).
bool applyCommandLine(const QStringList &arguments, const QString &programDir);

#endif // COMMANDLINE_H
