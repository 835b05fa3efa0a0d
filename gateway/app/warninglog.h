#ifndef WARNINGLOG_H
#define WARNINGLOG_H

// The process's message handler of the program: copies warnings to the
// operator's log and, for a service whose standard error is the starter's
// pipe, keeps debug output off that pipe. Every message it does not drop
// reaches the handler that was installed before it (standard error).
//
// Warnings are copied while at least one WarningLog::Scope exists: the frame
// holds one for the whole run of a service, the application one for its
// start-up. A warning written by GATE_WARN_LOGGED is not copied (its caller
// logs it itself). Repeats of one text are summarised as RepeatedMessage
// does (the first line, then at most one "(repeated N times)" line per
// minute). Copies made while the log has no file name yet are held, with
// their time stamps, and written as soon as it has one.
namespace WarningLog {

// The most copies held while the log has no file name; later ones are lost.
constexpr int MaxHeldLines = 200;
// The most distinct texts whose repeats are counted at once; past it every
// count is summarised and counting starts afresh.
constexpr int MaxCountedTexts = 64;

// Copies warnings to the log while it exists (scopes may nest).
class Scope
{
public:
    Scope();
    // The last scope writes what is still held (when the log has a name)
    // and the summaries still owed.
    ~Scope();
    Scope(const Scope &) = delete;
    Scope &operator=(const Scope &) = delete;
};

// Ends the counts of texts not warned about again for the quiet time, with
// their summaries, so a burst is summed up when it stops rather than at the
// text's next warning hours later (or at the stop). Called every main cycle.
void endQuietStreaks();

// Drops debug and info messages instead of handing them on, or hands them on
// again.
void setDebugOutputDropped(bool dropped);

} // namespace WarningLog

#endif // WARNINGLOG_H
