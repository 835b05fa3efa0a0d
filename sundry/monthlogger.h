#ifndef MONTHLOGGER_H
#define MONTHLOGGER_H

#include "sundry_export.h"

#include "logger.h"

#include <QTimer>

// A Logger that writes one file per calendar month, <name>_<month>.log
// (month 1 to 12), and, when told how many months to keep, deletes the
// logger's files of the other months once an hour.
class SUNDRY_EXPORT MonthLogger : public Logger
{
    Q_OBJECT
public:
    explicit MonthLogger(const QString &name, QObject *parent = nullptr);
    ~MonthLogger() override;

    using Logger::appendHeader;
    using Logger::appendInfo;
    using Logger::appendMessage;

    // The forms without a file base write to the current month's file.
    void appendMessage(const QString &text, MessageType type) override;
    void appendHeader(const QString &text) override;
    void appendInfo() override;

    // Keeps the current month and the `months` - 1 months before it. Values
    // from 1 to 11 start the hourly cleanup; any other value (-1 by
    // default) switches it off and keeps everything.
    void setKeepLog(int months);
    int keepLog() const;
    // True while the hourly cleanup is switched on.
    bool isCleanupActive() const;

    // Deletes the logger's files of the months `fromMonth` to `toMonth`;
    // nothing unless 1 <= fromMonth <= toMonth <= 12. Each deletion is
    // logged as an Info message.
    void remove(int fromMonth, int toMonth);

    // The file base of `month`: name + "_" + month.
    QString monthFileBase(int month) const;

public Q_SLOTS:
    // The hourly cleanup: deletes the files of the months that are not kept.
    void slotTimeout();

private:
    int m_keepLog;
    QTimer m_timer;
};

#endif // MONTHLOGGER_H
