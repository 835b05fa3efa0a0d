// A service program for the tests that start a real detached service. It is
// controlled by its environment:
//   FERROX_TESTSERVICE_NAME      the service name
//   FERROX_TESTSERVICE_LOG       file that receives one line per operation
//   FERROX_TESTSERVICE_FLAGS     the service flags (decimal)
//   FERROX_TESTSERVICE_SETTINGS  directory of the system-wide settings
#include "app/servicehost.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTextStream>

class ProgramApplication : public QCoreApplication
{
public:
    ProgramApplication(int &argc, char **argv)
        : QCoreApplication(argc, argv)
    {
    }
};

class ProgramService : public ServiceHost<ProgramApplication>
{
public:
    using ServiceHost<ProgramApplication>::ServiceHost;

protected:
    void start() override
    {
        QStringList args = QCoreApplication::arguments();
        args.removeFirst();
        note(QStringLiteral("start in %1 with [%2]").arg(QDir::currentPath(), args.join(QLatin1Char(' '))));
    }
    void stop() override { note(QStringLiteral("stop")); }
    void pause() override { note(QStringLiteral("pause")); }
    void resume() override { note(QStringLiteral("resume")); }
    void processCommand(int code) override { note(QStringLiteral("command %1").arg(code)); }

private:
    static void note(const QString &line)
    {
        QFile file(qEnvironmentVariable("FERROX_TESTSERVICE_LOG"));
        if (!file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text))
            return;
        QTextStream(&file) << line << '\n';
    }
};

int main(int argc, char *argv[])
{
    const QString settings = qEnvironmentVariable("FERROX_TESTSERVICE_SETTINGS");
    if (!settings.isEmpty()) {
        QSettings::setPath(QSettings::NativeFormat, QSettings::SystemScope, settings);
        QSettings::setPath(QSettings::IniFormat, QSettings::SystemScope, settings);
    }
    ProgramService service(argc, argv,
                           qEnvironmentVariable("FERROX_TESTSERVICE_NAME",
                                                QStringLiteral("Ferrox Test Program")));
    service.setServiceDescription(QStringLiteral("Service of the frame tests"));
    service.setServiceFlags(
        ServiceBase::ServiceFlags(qEnvironmentVariableIntValue("FERROX_TESTSERVICE_FLAGS")));
    return service.exec();
}
