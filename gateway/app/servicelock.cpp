#include "app/servicelock.h"

#include "app/controltrust.h"

#include <QElapsedTimer>
#include <QFile>
#include <QThread>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
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

// A regular file of one name, owned by a user the control files may belong to.
bool isServiceLockFile(const struct stat &st)
{
    return S_ISREG(st.st_mode) && st.st_nlink == 1 && isTrustedControlUser(st.st_uid);
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
    int fd = openRetrying(encoded, O_RDWR | O_CREAT | O_NOFOLLOW, 0644);
    struct stat st {};
    bool foreign = fd >= 0 && (::fstat(fd, &st) != 0 || !isServiceLockFile(st));
    if (fd < 0) {
        // What another user left at the path and this one cannot open as
        // the lock (a link, a socket, a directory, a file a shared directory
        // keeps from others) would block every start: replaced as below.
        const int error = errno;
        foreign = ::lstat(encoded.constData(), &st) == 0 && !isTrustedControlUser(st.st_uid);
        if (!foreign) {
            reason = QStringLiteral("cannot open the lock file %1: %2").arg(m_path, systemError(error));
            return false;
        }
    }
    if (foreign) {
        // Not the service's: another user's file could be held by that
        // user for ever. It is replaced where this user may remove it.
        if (fd >= 0)
            ::close(fd);
        const QString owner = controlUserText(st.st_uid);
        if (!clearForeignControlFile(encoded)) {
            reason = QStringLiteral("the lock file %1 is not the service's (it belongs to %2) and cannot be removed: %3")
                         .arg(m_path, owner, systemError(errno));
            return false;
        }
        fd = openRetrying(encoded, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW, 0644);
        if (fd < 0) {
            reason = QStringLiteral("cannot create the lock file %1: %2").arg(m_path, systemError(errno));
            return false;
        }
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
    const int fd = openRetrying(QFile::encodeName(path), O_RDONLY | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0)
        return errno == ENOENT ? Free : Unknown;
    State state = Free;
    // A file that is not the service's says nothing about it.
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !isServiceLockFile(st)) {
        ::close(fd);
        return Free;
    }
    if (flockRetrying(fd, LOCK_SH | LOCK_NB) != 0)
        state = errno == EWOULDBLOCK ? Held : Unknown;
    ::close(fd);
    return state;
}
