#ifndef FERROXAPPLICATION_H
#define FERROXAPPLICATION_H

#include <QCoreApplication>

class ConfigReload;
class GatewayMonitor;
class QTimer;

// The gateway application. Its constructor does all start-up work: reads
// -D and -L, fills the conversion registry, loads and checks the
// configuration, initialises every tie and starts the fixed 500 ms main
// cycle. A start-up error (a wrong argument, a configuration that does not
// load) makes the event loop end with exit code -1 as soon as it runs.
//
// The log tells the operator how it went: "Application was started" only
// when the start-up succeeded, a failed load with its reason (in the default
// log file when the configuration named none), and "Application was
// stopped" when a started application ends. Warnings of the start-up are
// copied to the log (WarningLog). Once running, SIGHUP and the control
// socket's "reload" read the configuration again and apply what changed
// between two main cycles (ConfigReload).
class FerroxApplication : public QCoreApplication
{
    Q_OBJECT
public:
    FerroxApplication(int &argc, char **argv);
    // Logs the stop of a started application.
    ~FerroxApplication() override;

    // The exit code requested during start-up, 0 when none was.
    int startupExitCode() const { return m_exitCode; }
    // Reloads the configuration on request (control socket, SIGHUP).
    ConfigReload *configReload() const { return m_reload; }
    // What the operator sees of the gateway (status, metrics, systemd);
    // owned by the application.
    GatewayMonitor *monitor() const { return m_monitor; }

    // Logs "Application was started" once the service runs (it listens at
    // its control socket); nothing after a failed start-up.
    void announceStarted();

    // Ends the main cycle for good: no tick runs after it, not even one
    // already due (the stop calls it before the ties' last pass).
    void stopCycle();

public slots:
    // One main cycle over the configuration's ties, timed for the cycle
    // statistics; it also pets systemd's watchdog. Nothing after stopCycle().
    void slotTimerTick();

private:
    // Remembers a quit request made before the event loop runs and honours
    // it as soon as the loop starts (exit() does nothing before that).
    void requestExit(int code);

    QTimer *m_timer;
    ConfigReload *m_reload;
    GatewayMonitor *m_monitor;
    int m_exitCode;
    bool m_exitRequested;
    bool m_cycleStopped;
    // True once the start was announced.
    bool m_started;
    // False when the configuration check found identifiers claimed twice.
    bool m_configChecked;
};

#endif // FERROXAPPLICATION_H
