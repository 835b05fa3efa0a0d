// ferrox_soak: runs the gateway's main cycle back to back with a test clock
// (500 ms a cycle) against a DE peer, a queue and file ties, prints the
// resident size and open descriptors as it goes and their growth at the
// end, and accounts for every value sent. Exit code 0 when the run was flat
// and balanced, 1 when it was not, 2 for a wrong argument.

#include "soakrun.h"

#include <QCoreApplication>
#include <QTextStream>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    SoakOptions options;
#ifdef __SANITIZE_ADDRESS__
    // The sanitizer's quarantine holds freed memory: the resident size says
    // nothing about leaks there (the sanitizer itself does).
    options.checkRss = false;
#endif
    const QStringList args = app.arguments().mid(1);
    for (int i = 0; i < args.size(); ++i) {
        const QString &arg = args.at(i);
        bool ok = true;
        const auto next = [&]() -> QString {
            if (i + 1 < args.size())
                return args.at(++i);
            ok = false;
            return QString();
        };
        if (arg == QLatin1String("--cycles")) {
            options.cycles = next().toULongLong(&ok);
            ok = ok && options.cycles > 0;
        } else if (arg == QLatin1String("--sample")) {
            options.sampleEvery = next().toULongLong(&ok);
            ok = ok && options.sampleEvery > 0;
        } else if (arg == QLatin1String("--rss-bound")) {
            options.rssBoundKiB = next().toDouble(&ok);
        } else if (arg == QLatin1String("--no-rss-check")) {
            options.checkRss = false;
        } else if (arg == QLatin1String("--dir")) {
            options.workDir = next();
        } else {
            ok = arg == QLatin1String("-h") || arg == QLatin1String("--help");
            out << "Usage: ferrox_soak [--cycles N (172800)] [--sample N (1000)] [--rss-bound KIB (256)]\n"
                   "                   [--no-rss-check] [--dir DIR]\n"
                   "Runs the main cycle N times back to back with a test clock (500 ms a cycle) against a\n"
                   "DE peer, a queue and file ties; fails when a value is lost or out of order, when the\n"
                   "resident size grows more than KIB per 10000 cycles or the open descriptors grow.\n";
            return ok ? 0 : 2;
        }
        if (!ok) {
            out << "ferrox_soak: " << arg << ": a positive number expected\n";
            return 2;
        }
    }
    return runSoak(options, out).passed() ? 0 : 1;
}
