// Feeds arbitrary bytes to the service control socket as a client would
// send them: a listener serves a socket in the scratch directory, a client
// connects and sends the input in slices (each slice's length is the next
// byte, then its bytes), and the events are served until every command end
// ("\r\n") sent has its reply or the listener closed the connection. No
// service runs in the fuzzing process, so "terminate", "pause" and "resume"
// stop nothing. Besides crashes and sanitizer reports it checks that the
// replies are "true" and "false" only, one per command at most, and that the
// listener lets go of the connection once the client is gone.
#include "fuzzsupport.h"

#include "app/servicelistener.h"
#include "app/unixsocket.h"

#include <QCoreApplication>

#include <cstdio>
#include <cstdlib>

namespace {

// Replies are sent without terminator: counts them, false when anything
// else came.
bool countReplies(const QByteArray &replies, int &count)
{
    count = 0;
    for (int at = 0; at < replies.size();) {
        if (replies.mid(at, 4) == "true")
            at += 4;
        else if (replies.mid(at, 5) == "false")
            at += 5;
        else
            return false;
        ++count;
    }
    return true;
}

void serveEvents(int rounds)
{
    for (int i = 0; i < rounds; ++i)
        QCoreApplication::processEvents(QEventLoop::AllEvents);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static ServiceListener *listener = [] {
        auto *l = new ServiceListener(ServiceBase::CanBeSuspended); // lives as long as the process
        return l->serveAt(fuzzScratchDir() + QStringLiteral("/control")) ? l : nullptr;
    }();
    if (!listener)
        return 0;

    UnixSocket client;
    if (!client.connectToPath(fuzzScratchDir() + QStringLiteral("/control"), 1000))
        return 0;
    FuzzInput in(data, size);
    QByteArray sent;
    QByteArray replies;
    while (!in.atEnd() && client.state() == QLocalSocket::ConnectedState) {
        const QByteArray slice = in.take(in.byte());
        sent += slice;
        client.write(slice);
        client.flush();
        serveEvents(3);
        replies += client.readAll();
    }
    const int commands = sent.count("\r\n");
    int count = 0;
    for (int i = 0; i < 200 && client.state() == QLocalSocket::ConnectedState; ++i) {
        serveEvents(1);
        replies += client.readAll();
        check(countReplies(replies, count));
        if (count >= commands)
            break;
    }
    replies += client.readAll();
    check(countReplies(replies, count));
    check(count <= commands);
    if (qEnvironmentVariableIsSet("FERROX_FUZZ_VERBOSE"))
        std::fprintf(stderr, "%d commands, %d replies\n", commands, count);
    client.abort();
    for (int i = 0; i < 200 && listener->clientCount() > 0; ++i)
        serveEvents(1);
    check(listener->clientCount() == 0);
    return 0;
}
