#ifndef SERVICESTARTER_H
#define SERVICESTARTER_H

#include <QObject>

// Calls start() of the current service from inside the event loop; the
// frame triggers slotStart() with a zero-delay single-shot timer.
class ServiceStarter : public QObject
{
    Q_OBJECT
public:
    explicit ServiceStarter(QObject *parent = nullptr);
    ~ServiceStarter() override;

public slots:
    // Calls ServiceBase::instance()->start(); nothing without a service.
    void slotStart();
};

#endif // SERVICESTARTER_H
