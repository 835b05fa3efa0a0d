#include "depeer.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTextStream>

#include <csignal>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// SIGINT and SIGTERM end the run through the event loop, so the totals are
// printed and the connections closed.
int g_signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char byte = 1;
    if (::write(g_signalPipe[1], &byte, 1) < 0) {
        // Nothing more can be done inside a signal handler.
    }
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    QTextStream err(stderr);
    QStringList arguments = app.arguments();
    arguments.removeFirst();
    if (arguments.contains(QStringLiteral("--help")) || arguments.contains(QStringLiteral("-h"))) {
        out << DEPeerOptions::usage();
        return 0;
    }
    DEPeerOptions options;
    QString error;
    if (!options.parse(arguments, error)) {
        err << "ferrox-depeer: " << error << "\n" << DEPeerOptions::usage();
        return 2;
    }
    DEPeer peer(options, out);
    QObject::connect(&peer, &DEPeer::finished, &app, [] { QCoreApplication::quit(); }, Qt::QueuedConnection);
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, g_signalPipe) == 0) {
        auto *notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, &app);
        QObject::connect(notifier, &QSocketNotifier::activated, &peer, [&peer] {
            char byte;
            if (::read(g_signalPipe[0], &byte, 1) > 0)
                peer.finish();
        });
        std::signal(SIGINT, onSignal);
        std::signal(SIGTERM, onSignal);
    }
    if (!peer.start(error)) {
        err << "ferrox-depeer: " << error << "\n";
        return 1;
    }
    return app.exec();
}
