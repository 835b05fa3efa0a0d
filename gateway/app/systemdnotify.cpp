#include "app/systemdnotify.h"

#include "core/clock.h"

#include <cstring>
#include <ctime>

#include <systemd/sd-daemon.h>

SystemdNotifier::SystemdNotifier()
    : m_enabled(!qEnvironmentVariableIsEmpty("NOTIFY_SOCKET"))
{
    uint64_t usec = 0;
    if (m_enabled && sd_watchdog_enabled(0, &usec) > 0 && usec > 0) {
        m_watchdogUsec = usec;
        m_watchdogMs = qMax<qint64>(1, qint64(usec / 1000));
        m_petIntervalMs = qMax<qint64>(1, m_watchdogMs / 4);
    }
}

bool SystemdNotifier::notify(const QByteArray &state)
{
    if (!m_enabled)
        return false;
    const int result = sd_notify(0, state.constData());
    if (result > 0) {
        m_fault.clear(QStringLiteral("SystemdNotifier: notifications reach systemd again"));
        return true;
    }
    const QString why = result < 0 ? QString::fromLocal8Bit(std::strerror(-result))
                                   : QStringLiteral("no notification socket");
    m_fault.report(QStringLiteral("SystemdNotifier: cannot notify systemd (%1)").arg(why));
    return false;
}

namespace {

// "STATUS=" and `status` as one line.
QByteArray statusField(QString status)
{
    status.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return "STATUS=" + status.toUtf8();
}

} // namespace

bool SystemdNotifier::ready(const QString &status)
{
    QByteArray state = "READY=1\n" + statusField(status);
    const bool restore = m_widened;
    if (restore)
        state += "\nWATCHDOG=1\nWATCHDOG_USEC=" + QByteArray::number(m_watchdogUsec);
    const bool sent = notify(state);
    if (restore) {
        m_widened = !sent;
        m_lastPetMs = Clock::monotonicMsecs();
    }
    return sent;
}

bool SystemdNotifier::status(const QString &status)
{
    return notify(statusField(status));
}

bool SystemdNotifier::stopping()
{
    return notify(QByteArrayLiteral("STOPPING=1"));
}

bool SystemdNotifier::reloading()
{
    timespec now = {};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    const quint64 usec = quint64(now.tv_sec) * 1000000u + quint64(now.tv_nsec) / 1000u;
    QByteArray state = "RELOADING=1\nMONOTONIC_USEC=" + QByteArray::number(usec);
    const bool widen = m_watchdogMs > 0 && m_watchdogMs < ReloadWatchdogMs;
    if (widen)
        state += "\nWATCHDOG=1\nWATCHDOG_USEC=" + QByteArray::number(quint64(ReloadWatchdogMs) * 1000u);
    const bool sent = notify(state);
    if (widen && sent)
        m_widened = true;
    return sent;
}

void SystemdNotifier::petWatchdog()
{
    if (m_watchdogMs <= 0)
        return;
    const qint64 now = Clock::monotonicMsecs();
    if (m_petted && now - m_lastPetMs < m_petIntervalMs)
        return;
    static const QByteArray pet = QByteArrayLiteral("WATCHDOG=1");
    notify(pet);
    m_lastPetMs = now;
    m_petted = true;
}
