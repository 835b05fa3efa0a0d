#include "core/regularfile.h"

#include "core/diag.h"

#include <QFile>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

namespace {

int fail(int fd, QString *reason, const QString &text)
{
    if (reason)
        *reason = text;
    if (fd >= 0)
        ::close(fd);
    return -1;
}

QString systemText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

} // namespace

int openRegularFile(const QString &name, int flags, QString *reason, struct stat *st)
{
    const QByteArray path = QFile::encodeName(name);
    int fd;
    do {
        fd = ::open(path.constData(), flags | O_NONBLOCK | O_CLOEXEC, 0666);
    } while (fd < 0 && errno == EINTR);
    // ENXIO: a FIFO that nobody reads, or a socket, opened for writing.
    if (fd < 0)
        return fail(-1, reason, errno == ENXIO ? QStringLiteral("not a regular file") : systemText(errno));
    struct stat own;
    struct stat &info = st ? *st : own;
    if (::fstat(fd, &info) != 0)
        return fail(fd, reason, systemText(errno));
    if (!S_ISREG(info.st_mode))
        return fail(fd, reason, QStringLiteral("not a regular file"));
    const int fileFlags = ::fcntl(fd, F_GETFL);
    if (fileFlags < 0 || ::fcntl(fd, F_SETFL, fileFlags & ~O_NONBLOCK) != 0)
        return fail(fd, reason, systemText(errno));
    return fd;
}

bool openRegularFileForReading(QFile &file, QString *reason, QIODevice::OpenMode mode, struct stat *st)
{
    const int fd = openRegularFile(file.fileName(), O_RDONLY, reason, st);
    if (fd < 0)
        return false;
    if (!file.open(fd, mode | QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        if (reason)
            *reason = file.errorString();
        ::close(fd);
        return false;
    }
    return true;
}

bool appendWhole(int fd, qint64 sizeBefore, const QByteArray &bytes, const QString &path, int *cause)
{
    qint64 done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, static_cast<size_t>(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (cause)
                *cause = n < 0 ? errno : EIO;
            if (done > 0 && ::ftruncate(fd, static_cast<off_t>(sizeBefore)) != 0)
                GATE_WARN("appendWhole(): cannot cut \"%s\" back to %lld bytes: %s", qUtf8Printable(path),
                          static_cast<long long>(sizeBefore), std::strerror(errno));
            return false;
        }
        done += n;
    }
    return true;
}
