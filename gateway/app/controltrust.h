#ifndef CONTROLTRUST_H
#define CONTROLTRUST_H

#include <QString>

#include <sys/types.h>

// Whom the control socket, its lock file and the process answering at the
// socket may belong to. The control directory may be one every user can
// write to (/var/tmp): a file or a process of another user there is not the
// service's, and trusting it would let that user keep the service from
// starting or answer in its place.
//
// True for root, this process's effective user and the service's user
// (ServiceController::serviceUser(), when such a user exists).
bool isTrustedControlUser(uid_t uid);
// `uid` for messages: "user NAME (uid N)", or "uid N" without a name.
QString controlUserText(uid_t uid);
// The name of the user `uid` in the user database; empty when it has none.
QString userNameOf(uid_t uid);
// Clears `path` of what another user left there: removes it, or, when it
// cannot be removed (a directory with files in it), moves it aside under a
// name of its own in the same directory. False, with errno set by the
// removal, when neither worked.
bool clearForeignControlFile(const QByteArray &path);

#endif // CONTROLTRUST_H
