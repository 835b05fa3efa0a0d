#ifndef LOGGER_H
#define LOGGER_H

#include "sundry_export.h"

#include <QDateTime>
#include <QObject>
#include <QString>

// Appends time-stamped, typed lines to text log files
// <program directory>/log/<file base>.log. Each write opens the file (the
// directory and the file are created when missing) and closes it again;
// when the file cannot be opened nothing is written.
class SUNDRY_EXPORT Logger : public QObject
{
    Q_OBJECT
public:
    // Kinds of message; the values are bits. Any other 32-bit value is a
    // legal value of the type and is written as "unknown".
    enum MessageType : qint32 {
        Info = 1,
        Warning = 2,
        Error = 4,
        Critical = 8,
        Work = 16
    };
    Q_ENUM(MessageType)

    // `name` is also the default file base.
    explicit Logger(const QString &name, QObject *parent = nullptr);
    ~Logger() override;

    // Writes a message to the file of `name`.
    virtual void appendMessage(const QString &text, MessageType type);
    // Writes "\n<date> <time> <type> <text>" (date, time and type word
    // left-aligned in 11, 13 and 9 characters) to the file of `fileBase`.
    virtual void appendMessage(const QString &fileBase, const QString &text, MessageType type);
    // Writes a header to the file of `name`.
    virtual void appendHeader(const QString &text);
    // Writes `text` with the date and time between two lines of stars.
    virtual void appendHeader(const QString &fileBase, const QString &text);
    // Writes the column titles to the file of `name`.
    virtual void appendInfo();
    // Writes the column titles "Date", "Time", "Type", "Message".
    virtual void appendInfo(const QString &fileBase);

    // The directory of the log files: the program's directory + "/log".
    QString getDirPath() const;
    QString name() const;
    // True while a write or a cleanup is in progress.
    bool isBusy() const;

    // The word written for `type` ("info", "warning", ...; "unknown" for a
    // value that is not a single known type).
    static QString typeWord(MessageType type);

protected:
    // Puts the log files into `dir` instead of the program's log directory
    // (an empty `dir` restores that).
    void setDirPath(const QString &dir);
    // Reads the local time from `now` instead of the system clock (null
    // restores the system clock).
    void setClock(QDateTime (*now)());
    // The current local time of this logger.
    QDateTime currentDateTime() const;
    // Appends `text` to the file of `fileBase`; false when it cannot be opened.
    bool writeToFile(const QString &fileBase, const QString &text);

    QString m_name;
    bool m_busy;

private:
    QString m_dirPath;
    QDateTime (*m_now)();
};

#endif // LOGGER_H
