#ifndef REGULARFILE_H
#define REGULARFILE_H

#include <QFile>
#include <QString>

#include <sys/stat.h>

// Opens `name` with the open(2) `flags` (O_CLOEXEC is added) only when it
// is a regular file, without ever waiting: the open itself does not block
// (a FIFO without a writer, a device), and anything but a regular file is
// refused after it. Returns the descriptor, in blocking mode again, with
// `st` (when given) filled from it; -1 on failure, with `reason` saying why
// (the system's text, or "not a regular file").
int openRegularFile(const QString &name, int flags, QString *reason, struct stat *st = nullptr);

// Opens `file` (its name set) for reading in `mode` through openRegularFile;
// the QFile owns the descriptor from then on. False when it is not a regular
// file or cannot be opened, with `reason` saying why.
bool openRegularFileForReading(QFile &file, QString *reason, QIODevice::OpenMode mode = QIODevice::ReadOnly,
                               struct stat *st = nullptr);

// Appends `bytes` whole to `fd` (opened with O_APPEND, `sizeBefore` bytes
// long before): a write that stops short (a signal) goes on with the rest;
// one that fails (a full disk, a size limit) cuts the file back to
// `sizeBefore`, so that no part of `bytes` stays. False on failure, with the
// errno value in `cause`; a cut back that fails too is warned about, naming
// `path`.
bool appendWhole(int fd, qint64 sizeBefore, const QByteArray &bytes, const QString &path, int *cause);

#endif // REGULARFILE_H
