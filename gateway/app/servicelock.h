#ifndef SERVICELOCK_H
#define SERVICELOCK_H

#include <QString>

// The lock that marks a running instance of a service: an exclusive flock()
// on a lock file beside the control socket, held for the whole run, so that
// a second instance refuses to start whatever state the first one's control
// socket is in. The kernel releases it when the process ends, however it
// ends. The file holds the holder's process id (a line of decimal digits);
// it is left in place when the lock is released.
class ServiceLock
{
public:
    // What a probe from outside finds.
    enum State {
        Free,   // no instance holds the lock (or there is no lock file)
        Held,   // an instance holds it
        Unknown // the file cannot be opened (permissions)
    };

    // How long acquire() keeps trying while the lock is held only for a
    // moment (a probe takes it shared for the blink of an eye).
    static constexpr int AcquireRetryMs = 500;

    explicit ServiceLock(const QString &path);
    // Releases the lock.
    ~ServiceLock();
    ServiceLock(const ServiceLock &) = delete;
    ServiceLock &operator=(const ServiceLock &) = delete;

    QString path() const { return m_path; }

    // Creates the file if needed, takes the lock and writes the process id
    // into the file. A file there that is not the service's (not a regular
    // file of one link, or owned by a user isTrustedControlUser() refuses)
    // is removed and made anew. False when the lock is held by another
    // instance or the file cannot be used or replaced; `reason` then says
    // which.
    bool acquire(QString &reason);
    // Gives the lock up; nothing when not held.
    void release();
    bool isHeld() const { return m_fd >= 0; }

    // Looks whether some process holds the lock at `path`, without keeping
    // it. A file that is not the service's is taken for no lock (Free).
    static State probe(const QString &path);

private:
    QString m_path;
    int m_fd = -1;
};

#endif // SERVICELOCK_H
