#ifndef REPEATEDMESSAGE_H
#define REPEATEDMESSAGE_H

#include <QString>
#include <QtGlobal>

// The messages of one persisting fault (a missing input file, an unwritable
// output, a full queue, a failing script), so that a fault reported every
// tick does not write the same line every 500 ms for days.
//
// The first report of a streak is written at once. Identical reports after
// it (or reports of the same key, where the caller gives one) are counted, and at most one summary per interval says how often the
// text came again ("<text> (repeated N times)"). A different text is written
// at once, after the summary of the one it replaces. clear() ends the streak:
// a last summary of what was still counted, then the recovery text, once.
//
// Each fault owns one object (a member of the tie or connection that
// reports it); the objects are independent and run on the main thread.
// Time comes from the gateway clock's monotonic reading.
class RepeatedMessage
{
public:
    // Where the lines go.
    enum Channel {
        Warning = 0x1, // a warning (standard error)
        Log = 0x2,     // the operator's log file
        Both = Warning | Log
    };

    // The longest time between two summaries of one streak.
    static constexpr qint64 DefaultSummaryIntervalMs = 60 * 1000;
    // How long a fault without a sign of recovery must stay away before its
    // streak ends (see clearWhenQuiet()).
    static constexpr qint64 DefaultQuietMs = 60 * 1000;

    explicit RepeatedMessage(int channels = Both, qint64 summaryIntervalMs = DefaultSummaryIntervalMs);

    // Reports the fault with one text for both channels. Returns true when
    // the text was written now, false when it was counted as a repeat.
    bool report(const QString &text);
    // The same where the warning and the log line differ (an English warning
    // and a translated log text); repeats are recognised by the warning.
    bool report(const QString &warningText, const QString &logText);
    // The same where repeats are recognised by `key` (what identifies the
    // fault, such as its position) while the texts may change: the first
    // texts of a streak are written, and its summaries count under them.
    bool report(const QString &warningText, const QString &logText, const QString &key);
    // Counts one more report of the active streak, as report() with its
    // texts would, for callers whose texts cannot have changed and are not
    // worth formatting again. False, and nothing counted, without a streak.
    bool repeat();
    // Ends the streak, if one is active: writes the summary still owed and
    // then `recovery` (nothing when empty). Without an active streak it
    // writes nothing. Returns true when a streak ended.
    bool clear(const QString &recovery = QString());
    // As clear(), with different recovery texts for the two channels.
    bool clear(const QString &warningRecovery, const QString &logRecovery);
    // Ends the streak as clear() does once no report came for `quietMs`:
    // for faults that simply stop (messages dropped, a queue removed), so
    // that the count still owed is written and the next fault gets its own
    // line. Meant to be called on every tick. Returns true when a streak
    // ended.
    bool clearWhenQuiet(qint64 quietMs = DefaultQuietMs);

    // True between the first report of a streak and clear().
    bool active() const { return m_active; }
    // True while a streak is active and no report came for `quietMs`.
    bool quietFor(qint64 quietMs) const;
    // Reports of the current text since its last written line.
    quint64 pendingRepeats() const { return m_pending; }
    // Every report of the streak, the written ones included.
    quint64 streakReports() const { return m_streak; }

private:
    void write(const QString &warningText, const QString &logText) const;
    void writeSummary();

    int m_channels;
    qint64 m_intervalMs;
    bool m_active;
    QString m_key;
    QString m_warningText;
    QString m_logText;
    quint64 m_pending;
    quint64 m_streak;
    qint64 m_lastWrittenMs;
    qint64 m_lastReportMs;
};

#endif // REPEATEDMESSAGE_H
