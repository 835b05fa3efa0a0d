#ifndef HANGUPSIGNAL_H
#define HANGUPSIGNAL_H

#include <QObject>

#include <signal.h>

class QSocketNotifier;

// Keeps the running gateway alive through the signals whose default action
// would end it without a word, in the foreground as well as as a service:
// SIGHUP (a closed terminal, an operator's habit to ask for a reload) is
// noted in the log and as a warning, and the gateway goes on with the
// configuration it started with; SIGPIPE (a closed pipe at a standard
// stream) is ignored, so the write that met it fails with EPIPE instead.
// SIGTERM and SIGINT stay with the service frame, which stops cleanly.
//
// The signal handler only writes into a pipe; the note is written from the
// event loop. One instance at a time; the destructor restores the previous
// dispositions.
class HangupSignal : public QObject
{
    Q_OBJECT
public:
    explicit HangupSignal(QObject *parent = nullptr);
    ~HangupSignal() override;

    // True when both dispositions are in place.
    bool isInstalled() const { return m_installed; }

private:
    static void handler(int signal);
    void takeSignals();

    QSocketNotifier *m_notifier;
    struct sigaction m_oldHup;
    struct sigaction m_oldPipe;
    bool m_installed;
};

#endif // HANGUPSIGNAL_H
