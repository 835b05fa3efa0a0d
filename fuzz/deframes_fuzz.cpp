// Feeds arbitrary bytes to DE frame reassembly over a real TCP connection
// on 127.0.0.1: a DE socket on an accepted connection serves events while
// the other end writes the input's stream in slices, waiting after each
// until the DE socket has read it, so every slice reaches the reassembly
// as its own read (or in smaller pieces). The input is a count byte c, c slice
// lengths (each byte + 1), then the stream; what follows the last slice is
// written in one piece.
//
// Besides crashes and sanitizer reports it checks the reassembly against a
// reading of the whole stream at once: every whole frame comes out once,
// in order and unchanged, and nothing else; a frame that is refused (its
// checksum, or a body past the limit) ends the connection with nothing of
// it handed on; what is left over waits in the receive buffer.
//
// With FERROX_FUZZ_SEEDS=<directory> the program writes its seed inputs
// there instead and exits (run the replay program for that:
// FERROX_FUZZ_SEEDS=fuzz/corpus/deframes build/tests/bin/deframes_replay /dev/null).
#include "fuzzsupport.h"

#include "core/clock.h"
#include "core/tiecounters.h"
#include "links/de/decrc16.h"
#include "links/de/deframe.h"
#include "links/de/qdesocket.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QTimer>
#include <QVector>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// What the reassembly must make of a whole stream.
struct Expected {
    QVector<QByteArray> frames;
    bool refused = false; // a frame was refused: the connection ends
    QByteArray rest;      // otherwise: the bytes after the last whole frame
};

// Reads `stream` frame by frame as the frame layout says, taking checksums
// as the gateway does.
Expected expectedOf(const QByteArray &stream)
{
    Expected out;
    const char *data = stream.constData();
    const size_t size = static_cast<size_t>(stream.size());
    size_t at = 0;
    while (size - at >= DEFrame::HeaderBytes) {
        const char *frame = data + at;
        if (!deChecksumAccepted(deWord(frame + DEFrame::OffsetHeaderChecksum),
                                deCrc16(frame, DEFrame::OffsetHeaderChecksum))) {
            out.refused = true;
            return out;
        }
        const quint32 body = deWord(frame + DEFrame::OffsetBodyLength);
        if (body > DEFrame::MaxBodyBytes) {
            out.refused = true;
            return out;
        }
        const size_t covered = DEFrame::HeaderBytes + body;
        if (size - at < covered + DEFrame::ChecksumBytes)
            break;
        if (!deChecksumAccepted(deWord(frame + covered), deCrc16(frame, covered))) {
            out.refused = true;
            return out;
        }
        out.frames.append(stream.mid(static_cast<int>(at), static_cast<int>(covered + DEFrame::ChecksumBytes)));
        at += covered + DEFrame::ChecksumBytes;
    }
    out.rest = stream.mid(static_cast<int>(at));
    return out;
}

// A listening socket on 127.0.0.1. Each input gets a fresh connection,
// made with blocking calls (the kernel completes it at once on the
// loopback): the accepted end becomes the DE socket, the other end writes.
struct Setup {
    int listener = -1;
    sockaddr_in address{};
    // An unconnected socket that keeps the sockets' shared timer, stopped:
    // no keepalives, no timeouts.
    QDESocket keeper{QString(), 0};

    Setup()
    {
        QDESocket::tickTimer()->stop();
        Clock::setFixed(QDateTime(QDate(2024, 5, 1), QTime(12, 0), Qt::UTC));
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (listener < 0 || ::bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0
            || ::listen(listener, 4) != 0
            || ::getsockname(listener, reinterpret_cast<sockaddr *>(&address), &length) != 0) {
            std::fprintf(stderr, "deframes_fuzz: no listening socket: %s\n", std::strerror(errno));
            std::abort();
        }
    }

    // Accepts connections until the one whose peer is `writer`.
    bool acceptPeerOf(int writer, int &accepted) const
    {
        sockaddr_in mine{};
        socklen_t length = sizeof mine;
        if (::getsockname(writer, reinterpret_cast<sockaddr *>(&mine), &length) != 0)
            return false;
        for (int stale = 0; stale < 16; ++stale) {
            accepted = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (accepted < 0)
                return false;
            sockaddr_in peer{};
            length = sizeof peer;
            if (::getpeername(accepted, reinterpret_cast<sockaddr *>(&peer), &length) == 0
                && peer.sin_port == mine.sin_port)
                return true;
            ::close(accepted);
        }
        return false;
    }

    // The accepted end in `accepted` and the connecting end in `writer`.
    // libFuzzer's alarm signal may interrupt the connect, which the kernel
    // then completes on its own: the accepted end must be this writer's
    // peer, so stale connections left in the queue are closed and skipped.
    // Each refusal is printed with its reason.
    bool connectPair(int &accepted, int &writer) const
    {
        for (int attempt = 0;; ++attempt) {
            writer = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            int error = errno;
            if (writer >= 0) {
                int rc = ::connect(writer, reinterpret_cast<const sockaddr *>(&address), sizeof address);
                error = errno;
                if (rc != 0 && error == EINTR) {
                    pollfd ready{writer, POLLOUT, 0};
                    int soError = 0;
                    socklen_t length = sizeof soError;
                    rc = ::poll(&ready, 1, 1000) == 1
                            && ::getsockopt(writer, SOL_SOCKET, SO_ERROR, &soError, &length) == 0 && soError == 0
                        ? 0
                        : -1;
                    error = soError ? soError : EINTR;
                }
                if (rc == 0 && acceptPeerOf(writer, accepted))
                    break;
                ::close(writer);
            }
            std::fprintf(stderr, "deframes_fuzz: no connection: %s\n", std::strerror(error));
            if (attempt == 100)
                return false;
            ::usleep(10000);
        }
        const int one = 1;
        ::setsockopt(writer, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        // Closed with a reset: a million connections closed normally would
        // hold every local port in TIME_WAIT and the next connect fail.
        const linger reset{1, 0};
        ::setsockopt(writer, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
        return true;
    }
};

// Serves events until `condition` holds; false after 10 s without.
bool serveUntil(const std::function<bool()> &condition)
{
    const QDeadlineTimer deadline(10000);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    }
    return true;
}

void writeSeeds(const QString &directory)
{
    QDir().mkpath(directory);
    const auto frameOf = [](quint32 module, int bodyBytes, char fill) {
        return buildDEFrame(module, QByteArray(bodyBytes, fill));
    };
    const auto slices = [](const QByteArray &lengths) { return char(lengths.size()) + lengths; };
    QByteArray keepAlive = deKeepAliveFrame();
    QByteArray pack = frameOf(DEFrame::ModuleParamPack, 52, '\x11');
    QByteArray big = frameOf(7, 600, 'x');
    QByteArray badHeader = pack;
    badHeader[29] = char(badHeader[29] ^ 0x40);
    QByteArray badBody = pack;
    badBody[40] = char(badBody[40] ^ 1);
    char header[DEFrame::HeaderBytes] = {};
    dePutWord(header + DEFrame::OffsetBodyLength, DEFrame::MaxBodyBytes + 1);
    dePutWord(header + DEFrame::OffsetHeaderChecksum, deCrc16(header, DEFrame::OffsetHeaderChecksum));
    const QByteArray tooLong(header, sizeof header);
    const QVector<QPair<const char *, QByteArray>> seeds = {
        {"keepalive-whole", slices("") + keepAlive},
        {"keepalive-bytewise", slices(QByteArray(35, '\0')) + keepAlive},
        {"two-frames-one-read", slices("") + keepAlive + pack},
        {"cut-in-header", slices("\x0f\x30") + pack + keepAlive},
        {"cut-in-checksum", slices("\x56\x01") + pack + keepAlive},
        {"large-body-in-pieces", slices("\x63\xc7\xff\x10") + big + keepAlive},
        {"partial-tail", slices("\x23") + keepAlive + pack.left(50)},
        {"header-checksum-bad", slices("\x23") + keepAlive + badHeader + keepAlive},
        {"body-checksum-bad", slices("\x30") + badBody + keepAlive},
        {"body-too-long", slices("") + keepAlive + tooLong + keepAlive},
        {"many-small", slices("\x05\x40\x02") + keepAlive + keepAlive + pack + keepAlive + pack},
        {"garbage", slices("\x03") + QByteArray("not a frame at all, just text to reject\r\n")},
    };
    fuzzWriteSeeds(directory, seeds);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const QString seeds = qEnvironmentVariable("FERROX_FUZZ_SEEDS");
    if (!seeds.isEmpty())
        writeSeeds(seeds);
    static const Setup setup;

    FuzzInput in(data, size);
    QVector<int> lengths;
    for (int i = in.byte(); i > 0; --i)
        lengths.append(in.byte() + 1);
    const QByteArray stream = in.rest();
    const Expected expected = expectedOf(stream);

    int accepted = -1;
    int writer = -1;
    check(setup.connectPair(accepted, writer));
    TieCounters counters;
    auto receiver = std::make_unique<QDESocket>(accepted);
    receiver->setCounters(&counters);
    QVector<QByteArray> frames;
    QObject::connect(receiver.get(), &QDESocket::packetReceived,
                     [&](const QByteArray &frame) { frames.append(frame); });
    check(receiver->state() == QAbstractSocket::ConnectedState);

    int sent = 0;
    for (int slice = 0; sent < stream.size(); ++slice) {
        if (receiver->state() != QAbstractSocket::ConnectedState)
            break; // refused a frame
        const int length = slice < lengths.size() ? lengths[slice] : stream.size() - sent;
        const QByteArray bytes = stream.mid(sent, length);
        check(::send(writer, bytes.constData(), static_cast<size_t>(bytes.size()), MSG_NOSIGNAL) == bytes.size());
        sent += bytes.size();
        check(serveUntil([&] {
            return counters.bytesIn == static_cast<quint64>(sent)
                || receiver->state() != QAbstractSocket::ConnectedState;
        }));
    }

    check(frames == expected.frames);
    check(counters.framesIn == static_cast<quint64>(frames.size()));
    if (expected.refused) {
        check(receiver->state() == QAbstractSocket::UnconnectedState);
        check(receiver->receiveBuffer().isEmpty());
    } else {
        check(receiver->state() == QAbstractSocket::ConnectedState);
        check(receiver->receiveBuffer() == expected.rest);
    }
    ::close(writer);
    if (qEnvironmentVariableIsSet("FERROX_FUZZ_VERBOSE"))
        std::fprintf(stderr, "%d bytes in %d slices: %d frames, %s\n", stream.size(), int(lengths.size()),
                     int(frames.size()), expected.refused ? "refused" : "open");
    return 0;
}
