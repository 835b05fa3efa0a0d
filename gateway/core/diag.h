#ifndef DIAG_H
#define DIAG_H

#include <QDebug>
#include <QtGlobal>

// The gateway's diagnostics facility.
//
// One process-wide debug level (0 at start, set by the -D option) gates the
// diagnostic messages: a message of level N goes to the framework's debug
// output (standard error) only when the level is at least N. The macros take
// printf-style texts; their arguments are neither evaluated nor formatted
// when the level drops the message, so gated messages cost one comparison on
// hot paths. Pass QString arguments through qUtf8Printable().

namespace diag_detail {
extern quint32 g_debugLevel;
}

// The process-wide debug level.
inline quint32 debugLevel()
{
    return diag_detail::g_debugLevel;
}

// Sets the process-wide debug level.
void setDebugLevel(quint32 level);

// True when a message of `level` would be written.
inline bool debugEnabled(quint32 level)
{
    return Q_UNLIKELY(diag_detail::g_debugLevel >= level);
}

// A debug message written only at `level` and above.
#define GATE_DEBUG(level, ...)                 \
    do {                                       \
        if (debugEnabled(level))               \
            qDebug(__VA_ARGS__);               \
    } while (0)

// A debug message written whatever the level.
#define GATE_DEBUG_ALWAYS(...) qDebug(__VA_ARGS__)

// A warning; always written.
#define GATE_WARN(...) qWarning(__VA_ARGS__)

namespace diag_detail {
// Marks the warnings written on this thread while it exists.
class LoggedWarningScope
{
public:
    LoggedWarningScope();
    ~LoggedWarningScope();
    LoggedWarningScope(const LoggedWarningScope &) = delete;
    LoggedWarningScope &operator=(const LoggedWarningScope &) = delete;
};
} // namespace diag_detail

// A warning whose caller writes the same event to the operator's log itself
// (a configuration error, a repeated-message line). A message handler that
// copies warnings to the log asks warningIsLogged() and skips it, so the
// event lands in the log once.
#define GATE_WARN_LOGGED(...)                              \
    do {                                                   \
        const diag_detail::LoggedWarningScope loggedScope; \
        qWarning(__VA_ARGS__);                             \
    } while (0)

// True while a warning of GATE_WARN_LOGGED is being written on this thread.
bool warningIsLogged();

#endif // DIAG_H
