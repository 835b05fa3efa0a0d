#ifndef COMMANDLINE_H
#define COMMANDLINE_H

#include <QString>
#include <QStringList>

// Reads the application's own options from `arguments` (the program first):
// "-D level" sets the debug level, "-L file" the log file (resolved against
// `programDir`); letter case is ignored. Parsing ends at the first argument
// that is empty or does not begin with "-". Prints "Debuglevel is %i",
// "Using logfile %s" and "Wrong argument %s" as it goes. Returns false when
// the application must quit with exit code -1 (a missing or non-numeric
// level, a missing or empty file name, an unknown option).
bool applyCommandLine(const QStringList &arguments, const QString &programDir);

#endif // COMMANDLINE_H
