#include "app/warninglog.h"

#include "core/clock.h"
#include "core/diag.h"
#include "core/gatelog.h"
#include "core/repeatedmessage.h"

#include <QDateTime>
#include <QHash>
#include <QMutex>
#include <QMutexLocker>
#include <QVector>

#include <atomic>
#include <memory>

namespace {

struct HeldLine {
    QDateTime stamp;
    QString text;
};

struct HandlerState {
    QMutex mutex;
    // What the handler does; read without the mutex.
    std::atomic<int> scopes{0};
    std::atomic<bool> dropDebug{false};
    // Guarded by the mutex.
    bool installed = false;
    QtMessageHandler previous = nullptr;
    QVector<HeldLine> held;
    QHash<QString, std::shared_ptr<RepeatedMessage>> counted;
};

// At namespace scope: the handler is installed only at run time, once a
// scope or the dropping of debug output asks for it.
HandlerState g_state;

HandlerState &state()
{
    return g_state;
}

// Set while the handler copies a line, so that a warning written on the way
// (the logger's own) is handed on but not copied again.
thread_local bool t_copying = false;

bool isWarning(QtMsgType type)
{
    return type == QtWarningMsg || type == QtCriticalMsg || type == QtFatalMsg;
}

// Writes the held lines; the caller holds the mutex and the log has a name.
void writeHeld(HandlerState &s)
{
    for (const HeldLine &line : qAsConst(s.held))
        gateLog(line.stamp, line.text);
    s.held.clear();
}

// Ends every count with its summary; the caller holds the mutex.
void summariseCounted(HandlerState &s)
{
    for (const auto &counter : qAsConst(s.counted))
        counter->clear();
    s.counted.clear();
}

void copyToLog(const QString &text)
{
    HandlerState &s = state();
    QMutexLocker lock(&s.mutex);
    if (gateLogFileName().isEmpty()) {
        if (s.held.size() < WarningLog::MaxHeldLines)
            s.held.append({Clock::nowUtc(), text});
        return;
    }
    writeHeld(s);
    auto it = s.counted.find(text);
    if (it == s.counted.end()) {
        if (s.counted.size() >= WarningLog::MaxCountedTexts)
            summariseCounted(s);
        it = s.counted.insert(text, std::make_shared<RepeatedMessage>(RepeatedMessage::Log));
    }
    it.value()->report(text);
}

void handler(QtMsgType type, const QMessageLogContext &context, const QString &msg)
{
    HandlerState &s = state();
    if (isWarning(type) && s.scopes.load() > 0 && !t_copying && !warningIsLogged()) {
        t_copying = true;
        copyToLog(msg);
        t_copying = false;
    }
    if (!isWarning(type) && s.dropDebug.load())
        return;
    if (s.previous)
        s.previous(type, context, msg);
}

// Installs the handler while it has something to do and restores the
// previous one when it has not.
void updateInstallation()
{
    HandlerState &s = state();
    QMutexLocker lock(&s.mutex);
    const bool needed = s.scopes.load() > 0 || s.dropDebug.load();
    if (needed && !s.installed) {
        s.previous = qInstallMessageHandler(&handler);
        s.installed = true;
    } else if (!needed && s.installed) {
        qInstallMessageHandler(s.previous);
        s.previous = nullptr;
        s.installed = false;
    }
}

} // namespace

void WarningLog::endQuietStreaks()
{
    HandlerState &s = state();
    QMutexLocker lock(&s.mutex);
    if (s.counted.isEmpty())
        return;
    t_copying = true;
    for (auto it = s.counted.begin(); it != s.counted.end();) {
        if (it.value()->clearWhenQuiet() || !it.value()->active())
            it = s.counted.erase(it);
        else
            ++it;
    }
    t_copying = false;
}

WarningLog::Scope::Scope()
{
    ++state().scopes;
    updateInstallation();
}

WarningLog::Scope::~Scope()
{
    HandlerState &s = state();
    {
        QMutexLocker lock(&s.mutex);
        // An inner scope that ends once the log has a name writes what it
        // held at once, not only the outermost one at the very end.
        t_copying = true;
        if (!gateLogFileName().isEmpty())
            writeHeld(s);
        if (s.scopes.load() == 1) {
            s.held.clear();
            summariseCounted(s);
        }
        t_copying = false;
        --s.scopes;
    }
    updateInstallation();
}

void WarningLog::setDebugOutputDropped(bool dropped)
{
    state().dropDebug = dropped;
    updateInstallation();
}
