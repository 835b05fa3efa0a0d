#include "app/controltrust.h"

#include "app/servicecontroller.h"

#include <QRandomGenerator>

#include <cerrno>
#include <cstdio>

#include <pwd.h>
#include <unistd.h>

#include <vector>

namespace {

// The user database entry of `name` or `uid` through getpw*_r; false when
// there is none.
bool lookUp(const QByteArray *name, uid_t uid, uid_t &foundUid, QString &foundName)
{
    const long hint = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(hint > 0 ? size_t(hint) : 16384);
    passwd entry{};
    passwd *result = nullptr;
    const int error = name ? ::getpwnam_r(name->constData(), &entry, buffer.data(), buffer.size(), &result)
                           : ::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &result);
    if (error != 0 || !result || !result->pw_name)
        return false;
    foundUid = result->pw_uid;
    foundName = QString::fromLocal8Bit(result->pw_name);
    return true;
}

} // namespace

bool isTrustedControlUser(uid_t uid)
{
    if (uid == 0 || uid == ::geteuid())
        return true;
    const QByteArray name = ServiceController::serviceUser().toLocal8Bit();
    uid_t serviceUid = 0;
    QString found;
    return !name.isEmpty() && lookUp(&name, 0, serviceUid, found) && serviceUid == uid;
}

QString controlUserText(uid_t uid)
{
    const QString name = userNameOf(uid);
    if (!name.isEmpty())
        return QStringLiteral("user %1 (uid %2)").arg(name, QString::number(uid));
    return QStringLiteral("uid %1").arg(QString::number(uid));
}

QString userNameOf(uid_t uid)
{
    uid_t found = 0;
    QString name;
    return lookUp(nullptr, uid, found, name) ? name : QString();
}

bool clearForeignControlFile(const QByteArray &path)
{
    if (::remove(path.constData()) == 0 || errno == ENOENT)
        return true;
    const int error = errno;
    // Root may rename another user's entry in a sticky directory although
    // it cannot remove a directory that still holds files.
    const int slash = path.lastIndexOf('/');
    const QByteArray aside = path.left(slash + 1) + ".unixferrox-foreign-"
        + QByteArray::number(QRandomGenerator::global()->generate64(), 16);
    if (::rename(path.constData(), aside.constData()) == 0)
        return true;
    errno = error;
    return false;
}
