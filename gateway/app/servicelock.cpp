#include "app/servicelock.h"

#include <QElapsedTimer>
#include <QFile>
#include <QThread>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

QString systemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

int openRetrying(const QByteArray &path, int flags, mode_t mode = 0)
{
    int fd;
    do {
        fd = ::open(path.constData(), flags | O_CLOEXEC, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

int flockRetrying(int fd, int operation)
{
    int result;
    do {
        result = ::flock(fd, operation);
    } while (result != 0 && errno == EINTR);
    return result;
}

} // namespace

ServiceLock::ServiceLock(const QString &path)
    : m_path(path)
{
}

ServiceLock::~ServiceLock()
{
    release();
}

bool ServiceLock::acquire(QString &reason)
{
    if (isHeld())
        return true;
    const QByteArray encoded = QFile::encodeName(m_path);
    const int fd = openRetrying(encoded, O_RDWR | O_CREAT | O_NOFOLLOW, 0644);
    if (fd < 0) {
        reason = QStringLiteral("cannot open the lock file %1: %2").arg(m_path, systemError(errno));
        return false;
    }
    QElapsedTimer timer;
    timer.start();
    while (flockRetrying(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        if (error != EWOULDBLOCK || timer.elapsed() >= AcquireRetryMs) {
            ::close(fd);
            reason = error == EWOULDBLOCK
                         ? QStringLiteral("another instance of the service runs: it holds the lock %1").arg(m_path)
                         : QStringLiteral("cannot lock %1: %2").arg(m_path, systemError(error));
            return false;
        }
        QThread::msleep(20);
    }
    const QByteArray pid = QByteArray::number(qint64(::getpid())) + '\n';
    // The id is for the operator; a lock without it works all the same.
    if (::ftruncate(fd, 0) == 0)
        (void)!::pwrite(fd, pid.constData(), size_t(pid.size()), 0);
    m_fd = fd;
    return true;
}

void ServiceLock::release()
{
    if (m_fd < 0)
        return;
    ::close(m_fd);
    m_fd = -1;
}

ServiceLock::State ServiceLock::probe(const QString &path)
{
    const int fd = openRetrying(QFile::encodeName(path), O_RDONLY | O_NOFOLLOW);
    if (fd < 0)
        return errno == ENOENT ? Free : Unknown;
    State state = Free;
    if (flockRetrying(fd, LOCK_SH | LOCK_NB) != 0)
        state = errno == EWOULDBLOCK ? Held : Unknown;
    ::close(fd);
    return state;
}
