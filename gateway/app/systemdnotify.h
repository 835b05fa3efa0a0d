#ifndef SYSTEMDNOTIFY_H
#define SYSTEMDNOTIFY_H

#include "core/repeatedmessage.h"

#include <QByteArray>
#include <QString>
#include <QtGlobal>

// The gateway's messages to systemd when it runs as a unit of Type=notify:
// READY=1 once it runs, STATUS= lines, WATCHDOG=1 pets, RELOADING=1 while it
// reads its configuration again, and STOPPING=1.
// Outside systemd (no NOTIFY_SOCKET in the environment) every call does
// nothing. A notification that cannot be sent is reported once per streak.
class SystemdNotifier
{
public:
    // Reads NOTIFY_SOCKET and the watchdog settings (WATCHDOG_USEC,
    // WATCHDOG_PID) of the environment as they are now.
    SystemdNotifier();

    // True when systemd waits for the notifications.
    bool enabled() const { return m_enabled; }
    // The watchdog's timeout in milliseconds; 0 when systemd watches nothing.
    qint64 watchdogTimeoutMs() const { return m_watchdogMs; }
    // How often petWatchdog() sends a pet: a quarter of the timeout.
    qint64 petIntervalMs() const { return m_petIntervalMs; }

    // READY=1 with a first STATUS= line.
    bool ready(const QString &status);
    // STATUS= with a one-line summary (line ends become spaces).
    bool status(const QString &status);
    // STOPPING=1.
    bool stopping();
    // RELOADING=1 with the monotonic time it began (READY=1 ends it). A
    // reload is done between ticks and may take longer than the watchdog's
    // timeout (scripts run, connections drain): while the watchdog runs, the
    // same message pets it and widens its timeout to ReloadWatchdogMs, and
    // the READY=1 that ends the reload sets the unit's timeout again.
    bool reloading();
    static constexpr qint64 ReloadWatchdogMs = 90000;
    // WATCHDOG=1 when the pet interval has passed since the last pet (on the
    // gateway clock's monotonic count). Called from every tick: does nothing
    // else, so a tick that stops coming stops the pets.
    void petWatchdog();

private:
    bool notify(const QByteArray &state);

    bool m_enabled;
    qint64 m_watchdogMs = 0;
    qint64 m_petIntervalMs = 0;
    qint64 m_lastPetMs = 0;
    bool m_petted = false;
    quint64 m_watchdogUsec = 0;   // the unit's timeout, as systemd gave it
    bool m_widened = false;       // the timeout is ReloadWatchdogMs now
    RepeatedMessage m_fault;
};

#endif // SYSTEMDNOTIFY_H
