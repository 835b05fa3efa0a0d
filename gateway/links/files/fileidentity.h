#ifndef FILEIDENTITY_H
#define FILEIDENTITY_H

#include <QString>
#include <QtGlobal>

struct stat;

// Which file a name points at: its device and inode. A file that is
// deleted and made anew, or replaced by a rename, gets another identity
// under the same name, so ties that remember a file compare identities,
// not names.
struct FileIdentity {
    quint64 device = 0;
    quint64 inode = 0;
    bool valid = false; // false: no file (missing, or not accessible)

    // The identity of the file `path` names now; invalid when there is none.
    static FileIdentity ofPath(const QString &path);
    // The identity described by `st` (from stat or fstat).
    static FileIdentity of(const struct stat &st);

    bool operator==(const FileIdentity &other) const
    {
        return valid == other.valid && device == other.device && inode == other.inode;
    }
    bool operator!=(const FileIdentity &other) const { return !(*this == other); }
};

#endif // FILEIDENTITY_H
