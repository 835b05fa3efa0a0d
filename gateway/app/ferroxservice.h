#ifndef FERROXSERVICE_H
#define FERROXSERVICE_H

#include "app/ferroxapplication.h"
#include "app/servicehost.h"

// The gateway as a service: the frame parses the service options, and the
// application it creates does the gateway's work. Pausing does not stop the
// main cycle; the operations only report that they were called. Once the
// application runs, the service tells systemd (READY=1); stop() tells it
// STOPPING=1; "status" answers the application's status document.
class FerroxService : public ServiceHost<FerroxApplication>
{
public:
    // The service's display name, which also names its control socket.
    static constexpr const char *kName = "Unix Ferrox";

    FerroxService(int argc, char **argv, const QString &name = QString::fromLatin1(kName));
    ~FerroxService() override;

protected:
    void start() override;
    void stop() override;
    void pause() override;
    void resume() override;
    void processCommand(int code) override;
    // Hands the request to the application's ConfigReload.
    void reload(ReloadDone done) override;
    QByteArray statusReport() override;
};

#endif // FERROXSERVICE_H
