#include "links/files/fileidentity.h"

#include <QFile>

#include <sys/stat.h>

FileIdentity FileIdentity::ofPath(const QString &path)
{
    struct stat st;
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return FileIdentity();
    return of(st);
}

FileIdentity FileIdentity::of(const struct stat &st)
{
    FileIdentity id;
    id.device = static_cast<quint64>(st.st_dev);
    id.inode = static_cast<quint64>(st.st_ino);
    id.valid = true;
    return id;
}
