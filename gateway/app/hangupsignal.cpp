#include "app/hangupsignal.h"

#include "core/diag.h"
#include "core/gatelog.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace {
// Read end and write end of the pipe from the handler to the event loop.
int g_pipe[2] = {-1, -1};
} // namespace

HangupSignal::HangupSignal(QObject *parent)
    : QObject(parent)
    , m_notifier(nullptr)
    , m_oldHup()
    , m_oldPipe()
    , m_installed(false)
{
    if (g_pipe[0] >= 0 || ::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        GATE_WARN("HangupSignal: SIGHUP is not handled (%s)", g_pipe[0] >= 0 ? "already handled" : "no pipe");
        return;
    }
    m_notifier = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &HangupSignal::takeSignals);

    struct sigaction action = {};
    action.sa_handler = &HangupSignal::handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    struct sigaction ignore = {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    m_installed = ::sigaction(SIGHUP, &action, &m_oldHup) == 0 && ::sigaction(SIGPIPE, &ignore, &m_oldPipe) == 0;
}

HangupSignal::~HangupSignal()
{
    if (m_installed) {
        ::sigaction(SIGHUP, &m_oldHup, nullptr);
        ::sigaction(SIGPIPE, &m_oldPipe, nullptr);
    }
    if (g_pipe[0] < 0 || !m_notifier)
        return;
    delete m_notifier;
    ::close(g_pipe[0]);
    ::close(g_pipe[1]);
    g_pipe[0] = g_pipe[1] = -1;
}

void HangupSignal::handler(int)
{
    const int saved = errno;
    const char byte = 1;
    (void)!::write(g_pipe[1], &byte, 1);
    errno = saved;
}

void HangupSignal::takeSignals()
{
    char bytes[64];
    ssize_t count = 0;
    ssize_t got;
    while ((got = ::read(g_pipe[0], bytes, sizeof bytes)) > 0)
        count += got;
    if (count == 0)
        return;
    // Signals that came in a burst make one note.
    const char *text = "Signal SIGHUP received and ignored: the configuration is read at start only; restart the "
                       "gateway to apply a changed one";
    GATE_WARN_LOGGED("%s", text);
    gateLog(QCoreApplication::translate("HangupSignal", text));
}
