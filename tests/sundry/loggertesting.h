#ifndef LOGGERTESTING_H
#define LOGGERTESTING_H

#include <QDateTime>
#include <QFile>
#include <QString>

// The instant that loggers under test read as "now" (see useTestClock()).
inline QDateTime &loggerTestNow()
{
    static QDateTime now;
    return now;
}

inline QDateTime loggerTestClock()
{
    return loggerTestNow();
}

// The whole content of `path` as UTF-8; a null string when it cannot be read.
inline QString readLogFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromUtf8(file.readAll());
}

// Opens the protected test hooks of a logger class: its directory and clock.
template<typename Base>
class TestableLogger : public Base
{
public:
    TestableLogger(const QString &name, const QString &dir)
        : Base(name, nullptr)
    {
        Base::setDirPath(dir);
        Base::setClock(&loggerTestClock);
    }
    using Base::setDirPath;
};

#endif // LOGGERTESTING_H
