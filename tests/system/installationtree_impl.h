#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>

template<typename Condition>
bool waitFor(Condition condition, int msecs)
{
    QDeadlineTimer deadline(msecs);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(20);
    }
    return true;
}
