#ifndef SERVICEHOST_H
#define SERVICEHOST_H

#include "app/servicebase.h"
#include "core/diag.h"

#include <QCoreApplication>
#include <QObject>

#include <type_traits>

// A service whose application object is an `Application`: a QObject built
// from (int &argc, char **argv), normally the program's QCoreApplication
// subclass. The host owns the object from createApplication() until the
// frame destroys it after the event loop; executeApplication() runs the
// event loop of the process's QCoreApplication.
//
// Only one QCoreApplication may exist per process: when `Application` is one
// and an application object exists already, createApplication() creates
// nothing and the run fails. An `Application` that is a plain QObject runs
// under the QCoreApplication the process has already made (tests do so).
//
// A concrete service overrides start(), stop(), pause(), resume() and
// processCommand() as it needs; createApplication() and
// executeApplication() are supplied here. An override of createApplication()
// calls this one, so that the frame finds the object through application().
template <typename Application>
class ServiceHost : public ServiceBase
{
    static_assert(std::is_base_of<QObject, Application>::value,
                  "the application of a service must be a QObject");

public:
    ServiceHost(int argc, char **argv, const QString &name)
        : ServiceBase(argc, argv, name)
    {
    }

    ~ServiceHost() override
    {
        delete m_application;
    }

    // The application object, or null outside a run.
    Application *application() const { return m_application; }

protected:
    void createApplication(int &argc, char **argv) override
    {
        if (m_application)
            return;
        constexpr bool isCoreApplication = std::is_base_of<QCoreApplication, Application>::value;
        if (isCoreApplication && QCoreApplication::instance()) {
            GATE_WARN("ServiceHost::createApplication(): an application object exists already");
            return;
        }
        m_application = new Application(argc, argv);
    }

    int executeApplication() override
    {
        return QCoreApplication::exec();
    }

    QObject *applicationObject() const override
    {
        return m_application;
    }

    void destroyApplication() override
    {
        delete m_application;
        m_application = nullptr;
    }

private:
    Application *m_application = nullptr;
};

#endif // SERVICEHOST_H
