#include "depeer.h"

#include "devaluecodec.h"
#include "links/de/deframe.h"
#include "links/de/deparampack.h"

#include <dpdatatype.h>

#include <QDateTime>
#include <QEventLoop>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTextStream>
#include <QTimer>

#include <cmath>
#include <limits>
#include <sys/socket.h>

namespace {

// A peer stops writing to a connection while this much still waits to go out.
constexpr qint64 kBusyBytes = 8 * 1024 * 1024;
// Pump period: keepalives, rounds, reconnects.
constexpr int kPumpMsecs = 5;
// Bounds of the numbers on the command line: rounds and values as counts
// that a double holds exactly, a run's end as a timer's milliseconds.
constexpr double kMaxRate = 1e6;
constexpr double kMaxCount = 1e15;
constexpr double kMaxDurationSecs = std::numeric_limits<int>::max() / 1000;

QString timeText(quint32 seconds, quint32 msecs)
{
    return QDateTime::fromMSecsSinceEpoch(qint64(seconds) * 1000 + msecs, Qt::UTC).toString(Qt::ISODateWithMs);
}

QString hex(quint32 v)
{
    return QStringLiteral("0x%1").arg(v, 8, 16, QLatin1Char('0'));
}

bool parseHostPort(const QString &text, QString &host, quint16 &port)
{
    const int colon = text.lastIndexOf(QLatin1Char(':'));
    host = colon < 0 ? QString() : text.left(colon);
    if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']')))
        host = host.mid(1, host.size() - 2);
    bool ok = false;
    const uint value = text.mid(colon + 1).toUInt(&ok, 10);
    port = static_cast<quint16>(value);
    return ok && value <= 65535;
}

// "TYPE:INDEX=VALUE[,FIRST-LAST=VALUE...]" into `values`.
bool parseSend(const QString &spec, DEPeerOptions::Values &values, QString &error)
{
    const int colon = spec.indexOf(QLatin1Char(':'));
    if (colon <= 0) {
        error = QStringLiteral("--send %1: TYPE:INDEX=VALUE expected").arg(spec);
        return false;
    }
    const QString typeText = spec.left(colon).trimmed();
    bool numeric = false;
    quint32 type = typeText.toUInt(&numeric, 0);
    if (!numeric)
        type = static_cast<quint32>(StringToDPDataType(typeText, true));
    const DEValueCodec codec(type);
    if (!codec.isValid()) {
        error = QStringLiteral("--send %1: %2 is no data type with a value").arg(spec, typeText);
        return false;
    }
    values.type = type;
    for (const QString &item : spec.mid(colon + 1).split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const int eq = item.indexOf(QLatin1Char('='));
        const QString range = item.left(eq).trimmed();
        const int dash = range.indexOf(QLatin1Char('-'));
        bool okFirst = false;
        bool okLast = false;
        const quint32 first = range.left(dash < 0 ? range.size() : dash).toUInt(&okFirst, 0);
        const quint32 last = dash < 0 ? first : range.mid(dash + 1).toUInt(&okLast, 0);
        if (eq < 0 || !okFirst || (dash >= 0 && !okLast) || last < first || last - first >= 10000000u) {
            error = QStringLiteral("--send %1: \"%2\" is not INDEX=VALUE or FIRST-LAST=VALUE").arg(spec, item);
            return false;
        }
        QByteArray bytes;
        QString why;
        if (!codec.parse(item.mid(eq + 1).trimmed(), bytes, &why)) {
            error = QStringLiteral("--send %1: %2").arg(spec, why);
            return false;
        }
        for (quint64 i = first; i <= last; ++i) {
            values.indices.append(static_cast<quint32>(i));
            values.values.append(bytes);
        }
    }
    return true;
}

} // namespace

QString DEPeerOptions::usage()
{
    return QStringLiteral(
        "Usage: ferrox-depeer (--listen [ADDRESS:]PORT | --connect HOST:PORT) [options]\n"
        "A DE peer: sends parameter packs and prints every frame it receives, decoded.\n"
        "\n"
        "  --listen [ADDRESS:]PORT  accept connections (ADDRESS 127.0.0.1 unless given; PORT 0: any\n"
        "                           free port); prints \"listening on ADDRESS:PORT\"\n"
        "  --connect HOST:PORT      connect, and again whenever the connection is lost\n"
        "  --send TYPE:ITEMS        values to send, ITEMS = INDEX=VALUE or FIRST-LAST=VALUE, comma\n"
        "                           separated; TYPE a type name (FLOAT, FLOATVALID, SDWORDSTATE, ...);\n"
        "                           VALUE 1.5, 21.5/1 (value/valid, state, error or status word),\n"
        "                           1714564800/250 (time words) or hex:BYTES. Repeatable.\n"
        "  --rate N                 send the values N times a second (default: once per connection)\n"
        "  --count N                send at most N rounds\n"
        "  --ramp STEP              add STEP to every value after each round\n"
        "  --packing 1|2            1: every parameter with its index (default); 2: runs of\n"
        "                           consecutive indices from a start index\n"
        "  --pack-size N            at most N parameters per pack (default 1000)\n"
        "  --param-times            every parameter with its own time (default: the pack's time only)\n"
        "  --keepalive MSECS        keepalive period (default 1000; 0: none)\n"
        "  --mode MODE              normal, silent (sends nothing), keepalive-only, or no-read\n"
        "                           (never reads what arrives)\n"
        "  --quiet                  print no received frames\n"
        "  --no-keepalives          print no received keepalives\n"
        "  --duration SECONDS       end after SECONDS\n"
        "  --exit-after N           end once N values were received\n"
        "  --stats                  print the totals at the end\n"
        "  --help                   this text\n");
}

bool DEPeerOptions::parse(const QStringList &arguments, QString &error)
{
    bool haveEnd = false;
    for (int i = 0; i < arguments.size(); ++i) {
        const QString arg = arguments.at(i);
        const auto value = [&](QString &out) {
            if (i + 1 >= arguments.size()) {
                error = arg + QStringLiteral(" needs a value");
                return false;
            }
            out = arguments.at(++i);
            return true;
        };
        // A number of at least `min`; counts and times also have a `max`, so
        // that they fit the words and timers they go into.
        const auto number = [&](double &out, double min, double max = std::numeric_limits<double>::max()) {
            QString text;
            if (!value(text))
                return false;
            bool ok = false;
            out = text.toDouble(&ok);
            if (!ok || !std::isfinite(out) || out < min || out > max) {
                error = max == std::numeric_limits<double>::max()
                            ? QStringLiteral("%1 %2: a number of at least %3 expected").arg(arg, text, QString::number(min))
                            : QStringLiteral("%1 %2: a number from %3 to %4 expected")
                                  .arg(arg, text, QString::number(min), QString::number(max, 'g', 16));
                return false;
            }
            return true;
        };
        QString text;
        double n = 0;
        if (arg == QLatin1String("--listen")) {
            if (!value(text))
                return false;
            QString address;
            if (!parseHostPort(text, address, port)) {
                error = QStringLiteral("--listen %1: [ADDRESS:]PORT expected").arg(text);
                return false;
            }
            if (!address.isEmpty() && !this->address.setAddress(address)) {
                error = QStringLiteral("--listen %1: %2 is not an address").arg(text, address);
                return false;
            }
            listen = true;
            haveEnd = true;
        } else if (arg == QLatin1String("--connect")) {
            if (!value(text))
                return false;
            if (!parseHostPort(text, host, port) || host.isEmpty() || port == 0) {
                error = QStringLiteral("--connect %1: HOST:PORT expected").arg(text);
                return false;
            }
            listen = false;
            haveEnd = true;
        } else if (arg == QLatin1String("--send")) {
            Values values;
            if (!value(text) || !parseSend(text, values, error))
                return false;
            sends.append(values);
        } else if (arg == QLatin1String("--rate")) {
            if (!number(rate, 0, kMaxRate))
                return false;
        } else if (arg == QLatin1String("--count")) {
            if (!number(n, 1, kMaxCount))
                return false;
            count = static_cast<quint64>(n);
        } else if (arg == QLatin1String("--ramp")) {
            if (!number(ramp, -1e30))
                return false;
        } else if (arg == QLatin1String("--packing")) {
            if (!number(n, 1))
                return false;
            if (n != 1 && n != 2) {
                error = QStringLiteral("--packing: 1 or 2 expected");
                return false;
            }
            packing = static_cast<quint32>(n);
        } else if (arg == QLatin1String("--pack-size")) {
            if (!number(n, 1))
                return false;
            packSize = static_cast<int>(qMin(n, 1000000.0));
        } else if (arg == QLatin1String("--param-times")) {
            paramTimes = true;
        } else if (arg == QLatin1String("--keepalive")) {
            if (!number(n, 0))
                return false;
            keepAliveMsecs = static_cast<int>(qMin(n, 3600000.0));
        } else if (arg == QLatin1String("--mode")) {
            if (!value(text))
                return false;
            if (text == QLatin1String("normal"))
                mode = Normal;
            else if (text == QLatin1String("silent"))
                mode = Silent;
            else if (text == QLatin1String("keepalive-only"))
                mode = KeepAliveOnly;
            else if (text == QLatin1String("no-read"))
                mode = NoRead;
            else {
                error = QStringLiteral("--mode %1: normal, silent, keepalive-only or no-read expected").arg(text);
                return false;
            }
        } else if (arg == QLatin1String("--quiet")) {
            quiet = true;
        } else if (arg == QLatin1String("--no-keepalives")) {
            printKeepAlives = false;
        } else if (arg == QLatin1String("--duration")) {
            if (!number(n, 1, kMaxDurationSecs))
                return false;
            durationSecs = static_cast<int>(n);
        } else if (arg == QLatin1String("--exit-after")) {
            if (!number(n, 1, kMaxCount))
                return false;
            exitAfterValues = static_cast<quint64>(n);
        } else if (arg == QLatin1String("--stats")) {
            stats = true;
        } else {
            error = QStringLiteral("unknown argument %1").arg(arg);
            return false;
        }
    }
    if (!haveEnd) {
        error = QStringLiteral("--listen or --connect is needed");
        return false;
    }
    return true;
}

DEPeer::DEPeer(const DEPeerOptions &options, QTextStream &out, QObject *parent)
    : QObject(parent)
    , m_options(options)
    , m_out(out)
    , m_server(nullptr)
    , m_pump(new QTimer(this))
    , m_rateStart(-1)
    , m_current(options.sends)
    , m_finished(false)
{
    m_clock.start();
    connect(m_pump, &QTimer::timeout, this, &DEPeer::pump);
}

DEPeer::~DEPeer()
{
    for (const Link &link : qAsConst(m_links))
        delete link.socket;
}

void DEPeer::print(const QString &line)
{
    m_out << line << '\n';
    m_out.flush();
}

bool DEPeer::start(QString &error)
{
    if (m_options.listen) {
        m_server = new QTcpServer(this);
        if (!m_server->listen(m_options.address, m_options.port)) {
            error = QStringLiteral("cannot listen on %1:%2: %3")
                        .arg(m_options.address.toString())
                        .arg(m_options.port)
                        .arg(m_server->errorString());
            return false;
        }
        connect(m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = m_server->nextPendingConnection())
                addLink(socket);
        });
        print(QStringLiteral("listening on %1:%2").arg(m_server->serverAddress().toString()).arg(m_server->serverPort()));
    } else {
        connectToPeer();
    }
    if (m_options.durationSecs > 0)
        QTimer::singleShot(m_options.durationSecs * 1000, this, &DEPeer::finish);
    m_pump->start(kPumpMsecs);
    return true;
}

void DEPeer::connectToPeer()
{
    auto *socket = new QTcpSocket(this);
    connect(socket, &QTcpSocket::connected, this, [this, socket] { addLink(socket); });
    connect(socket, &QTcpSocket::errorOccurred, this, [this, socket] {
        if (!linkOf(socket)) {
            print(QStringLiteral("cannot connect to %1:%2: %3").arg(m_options.host, QString::number(m_options.port), socket->errorString()));
            socket->deleteLater();
            QTimer::singleShot(1000, this, &DEPeer::connectToPeer);
        }
    });
    socket->connectToHost(m_options.host, m_options.port);
}

DEPeer::Link *DEPeer::linkOf(QTcpSocket *socket)
{
    for (Link &link : m_links) {
        if (link.socket == socket)
            return &link;
    }
    return nullptr;
}

void DEPeer::addLink(QTcpSocket *socket)
{
    Link link;
    link.socket = socket;
    m_links.append(link);
    print(QStringLiteral("connected: %1:%2").arg(socket->peerAddress().toString()).arg(socket->peerPort()));
    connect(socket, &QTcpSocket::disconnected, this, [this, socket] { dropLink(socket); });
    if (m_options.mode == DEPeerOptions::NoRead)
        socket->setReadBufferSize(1);
    else
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
            if (Link *l = linkOf(socket))
                readFrom(*l);
        });
    if (m_options.mode == DEPeerOptions::Normal || m_options.mode == DEPeerOptions::NoRead) {
        // Without a rate, each connection gets a round of its own, counted
        // and ramped as the rounds of a rate are.
        if (m_options.rate <= 0 && !m_options.driven && !m_options.sends.isEmpty()
            && (m_options.count == 0 || m_totals.rounds < m_options.count) && sendRound(m_links.last()))
            countRound();
        if (m_rateStart < 0)
            m_rateStart = m_clock.elapsed();
    }
}

void DEPeer::dropLink(QTcpSocket *socket)
{
    for (int i = 0; i < m_links.size(); ++i) {
        if (m_links.at(i).socket == socket) {
            m_links.removeAt(i);
            print(QStringLiteral("closed: %1:%2").arg(socket->peerAddress().toString()).arg(socket->peerPort()));
            socket->deleteLater();
            break;
        }
    }
    if (!m_options.listen && !m_finished)
        QTimer::singleShot(1000, this, &DEPeer::connectToPeer);
}

void DEPeer::write(Link &link, const QByteArray &bytes)
{
    link.lastWrite = m_clock.elapsed();
    const qint64 written = link.socket->write(bytes);
    if (written > 0)
        m_totals.bytesSent += static_cast<quint64>(written);
}

void DEPeer::buildRound()
{
    m_round.clear();
    m_roundCounts.clear();
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    const quint32 seconds = static_cast<quint32>(now / 1000);
    const quint32 msecs = static_cast<quint32>(now % 1000);
    const auto word = [](QByteArray &b, quint32 v) {
        char w[4];
        dePutWord(w, v);
        b.append(w, 4);
    };
    for (const DEPeerOptions::Values &values : qAsConst(m_current)) {
        // A pack never outgrows the body a DE end takes, whatever the pack size.
        const quint32 step = (m_options.packing == DEPack::PackingIndexed ? 4 : 0) + (m_options.paramTimes ? 8 : 0)
            + static_cast<quint32>(values.values.isEmpty() ? 0 : values.values.first().size());
        const int fitting = static_cast<int>((DEFrame::MaxBodyBytes - DEPack::SentHeaderSize) / qMax(step, 1u));
        const int packSize = qMin(m_options.packSize, fitting);
        int i = 0;
        while (i < values.indices.size()) {
            // One pack: up to the pack size, and for packing 2 one run of
            // consecutive indices.
            int end = qMin(values.indices.size(), i + packSize);
            if (m_options.packing == DEPack::PackingSequential) {
                int j = i + 1;
                while (j < end && values.indices.at(j) == values.indices.at(j - 1) + 1)
                    ++j;
                end = j;
            }
            QByteArray frame(static_cast<int>(DEFrame::HeaderBytes), '\0');
            frame.replace(0, 4, "\x01\x00\x00\x01", 4);
            word(frame, DEPack::SentHeaderSize);
            word(frame, DEPack::SentVersion);
            word(frame, m_options.packing);
            word(frame, values.type);
            word(frame, DEPack::TimeUnixMsecs);
            word(frame, m_options.paramTimes ? DEPack::TimeUnixMsecs : DEPack::TimeNone);
            word(frame, values.indices.at(i));
            word(frame, static_cast<quint32>(end - i));
            word(frame, seconds);
            word(frame, msecs);
            for (int k = i; k < end; ++k) {
                if (m_options.packing == DEPack::PackingIndexed)
                    word(frame, values.indices.at(k));
                if (m_options.paramTimes) {
                    word(frame, seconds);
                    word(frame, msecs);
                }
                frame.append(values.values.at(k));
            }
            sealDEFrame(frame);
            m_round.append(frame);
            m_roundCounts.append(static_cast<quint32>(end - i));
            i = end;
        }
    }
}

bool DEPeer::sendRound(Link &link)
{
    if (link.socket->bytesToWrite() > kBusyBytes)
        return false;
    if (m_round.isEmpty() || m_options.ramp != 0 || m_options.paramTimes || m_options.rate <= 0)
        buildRound();
    else {
        // Only the pack's time changes: patch it and seal the frames again.
        const qint64 now = QDateTime::currentMSecsSinceEpoch();
        char time[8];
        dePutWord(time, static_cast<quint32>(now / 1000));
        dePutWord(time + 4, static_cast<quint32>(now % 1000));
        for (QByteArray &frame : m_round) {
            frame.chop(static_cast<int>(DEFrame::ChecksumBytes));
            frame.replace(static_cast<int>(DEPack::OffsetCommonSeconds), 8, time, 8);
            sealDEFrame(frame);
        }
    }
    for (int i = 0; i < m_round.size(); ++i) {
        write(link, m_round.at(i));
        ++m_totals.packsSent;
        m_totals.valuesSent += m_roundCounts.at(i);
    }
    return true;
}

quint16 DEPeer::serverPort() const
{
    return m_server ? m_server->serverPort() : 0;
}

bool DEPeer::sendRoundNow()
{
    bool any = false;
    for (Link &link : m_links)
        any = sendRound(link) || any;
    if (!any)
        return false;
    countRound();
    return true;
}

void DEPeer::countRound()
{
    ++m_totals.rounds;
    if (m_options.ramp != 0) {
        for (DEPeerOptions::Values &values : m_current) {
            const DEValueCodec codec(values.type);
            for (QByteArray &value : values.values)
                codec.addStep(value.data(), m_options.ramp);
        }
    }
}

QByteArray DEPeer::lastValueReceived(quint32 type, quint32 index) const
{
    return m_lastValues.value((quint64(type) << 32) | index);
}

void DEPeer::pump()
{
    const qint64 now = m_clock.elapsed();
    const bool sendsValues = m_options.mode == DEPeerOptions::Normal || m_options.mode == DEPeerOptions::NoRead;
    if (sendsValues && !m_options.driven && m_options.rate > 0 && !m_options.sends.isEmpty() && m_rateStart >= 0 && !m_links.isEmpty()
        && (m_options.count == 0 || m_totals.rounds < m_options.count)) {
        const quint64 due = static_cast<quint64>(std::floor(double(now - m_rateStart) * m_options.rate / 1000.0)) + 1;
        const quint64 backlogLimit = static_cast<quint64>(std::ceil(m_options.rate)) + 1;
        quint64 owed = due > m_totals.rounds + m_totals.skippedRounds ? due - m_totals.rounds - m_totals.skippedRounds : 0;
        if (owed > backlogLimit) {
            m_totals.skippedRounds += owed - backlogLimit;
            owed = backlogLimit;
        }
        while (owed > 0 && (m_options.count == 0 || m_totals.rounds < m_options.count)) {
            if (!sendRoundNow())
                break;
            --owed;
        }
    }
    if (m_options.mode != DEPeerOptions::Silent && m_options.keepAliveMsecs > 0) {
        for (Link &link : m_links) {
            if (link.lastWrite < 0 || now - link.lastWrite >= m_options.keepAliveMsecs)
                write(link, deKeepAliveFrame());
        }
    }
}

void DEPeer::readFrom(Link &link)
{
    const QByteArray chunk = link.socket->readAll();
    m_totals.bytesReceived += static_cast<quint64>(chunk.size());
    link.buffer += chunk;
    size_t offset = 0;
    for (;;) {
        const char *data = link.buffer.constData() + offset;
        const DEFrameScan scan = scanDEFrame(data, static_cast<size_t>(link.buffer.size()) - offset);
        if (scan.result == DEFrameScan::NeedMore)
            break;
        if (scan.result != DEFrameScan::Complete) {
            const quint32 module = deWord(data);
            if (scan.result == DEFrameScan::BodyTooLong)
                print(QStringLiteral("frame module=%1 body=%2 header-crc=ok: body longer than %3 bytes")
                          .arg(hex(module)).arg(scan.bodyLength).arg(DEFrame::MaxBodyBytes));
            else if (scan.result == DEFrameScan::HeaderChecksumFail)
                print(QStringLiteral("frame module=%1 header-crc=FAIL(received %2, computed %3)")
                          .arg(hex(module), hex(scan.received), hex(scan.computed)));
            else
                print(QStringLiteral("frame module=%1 body=%2 header-crc=ok frame-crc=FAIL(received %3, computed %4)")
                          .arg(hex(module)).arg(scan.bodyLength).arg(hex(scan.received), hex(scan.computed)));
            ++m_totals.checksumFailures;
            print(QStringLiteral("closing the connection: protocol error"));
            link.buffer.clear();
            link.socket->abort();
            return;
        }
        printFrame(link.buffer.mid(static_cast<int>(offset), static_cast<int>(scan.frameBytes)));
        offset += scan.frameBytes;
    }
    link.buffer.remove(0, static_cast<int>(offset));
}

void DEPeer::printFrame(const QByteArray &frame)
{
    ++m_totals.framesReceived;
    const quint32 module = deWord(frame.constData());
    const quint32 body = deWord(frame.constData() + DEFrame::OffsetBodyLength);
    const bool show = !m_options.quiet && (module != DEFrame::ModuleKeepAlive || m_options.printKeepAlives);
    if (show)
        print(QStringLiteral("frame module=%1%2 body=%3 header-crc=ok frame-crc=ok")
                  .arg(hex(module), module == DEFrame::ModuleKeepAlive ? QStringLiteral(" (keepalive)") : QString())
                  .arg(body));
    if (module != DEFrame::ModuleParamPack)
        return;
    DEParamPackReader reader;
    const DEParamPackReader::Verdict verdict = reader.readHeader(frame.constData(), static_cast<size_t>(frame.size()));
    const DEParamPackHeader &h = reader.header();
    if (verdict != DEParamPackReader::Ok) {
        if (show)
            print(QStringLiteral("  pack refused: header fault %1 (header size %2, packing %3, times %4/%5)")
                      .arg(int(verdict)).arg(h.headerSize).arg(h.packingType).arg(h.commonTimeType).arg(h.paramTimeType));
        return;
    }
    const quint32 type = reader.dataType();
    const DEValueCodec codec(type);
    if (show)
        print(QStringLiteral("  pack type=%1(%2) packing=%3 header=%4 version=%5.%6.%7.%8 start=%9 count=%10 "
                             "common-time=%11 param-time=%12")
                  .arg(DPDataTypeToString(static_cast<int>(type)))
                  .arg(type)
                  .arg(h.packingType)
                  .arg(h.headerSize)
                  .arg(h.version >> 24)
                  .arg((h.version >> 16) & 0xFF)
                  .arg((h.version >> 8) & 0xFF)
                  .arg(h.version & 0xFF)
                  .arg(h.startIndex)
                  .arg(h.paramCount)
                  .arg(h.commonTimeType == DEPack::TimeNone ? QStringLiteral("none")
                                                            : timeText(h.commonSeconds, h.commonMsecs))
                  .arg(h.paramTimeType));
    if (!codec.isValid()) {
        if (show)
            print(QStringLiteral("  values of this type have no size: not shown"));
        return;
    }
    reader.begin(static_cast<size_t>(codec.size()));
    DEPackParam param;
    for (;;) {
        const DEParamPackReader::Step step = reader.next(param);
        if (step == DEParamPackReader::End)
            break;
        if (step == DEParamPackReader::IndexUnknown) {
            if (show)
                print(QStringLiteral("  a parameter with an index past 2^31-1 skipped"));
            continue;
        }
        if (step == DEParamPackReader::Truncated || step == DEParamPackReader::IndexTooBig) {
            if (show)
                print(QStringLiteral("  pack ends after %1 of %2 parameters: %3")
                          .arg(reader.position())
                          .arg(h.paramCount)
                          .arg(step == DEParamPackReader::Truncated ? QStringLiteral("no room for more")
                                                                    : QStringLiteral("index past 2^31-1")));
            break;
        }
        ++m_totals.valuesReceived;
        if (m_options.keepLastValues)
            m_lastValues.insert((quint64(type) << 32) | param.index,
                                QByteArray(reinterpret_cast<const char *>(param.value), codec.size()));
        if (show)
            print(QStringLiteral("    [%1] %2 @%3%4")
                      .arg(param.index)
                      .arg(codec.format(reinterpret_cast<const char *>(param.value)))
                      .arg(param.ownTime || h.commonTimeType != DEPack::TimeNone ? timeText(param.seconds, param.msecs)
                                                                                 : QStringLiteral("(none)"))
                      .arg(step == DEParamPackReader::BadMsecs ? QStringLiteral(" (milliseconds out of range)")
                                                               : QString()));
    }
    if (m_options.exitAfterValues > 0 && m_totals.valuesReceived >= m_options.exitAfterValues)
        finish();
}

void DEPeer::finish()
{
    if (m_finished)
        return;
    m_finished = true;
    m_pump->stop();
    // Closed from the event loop: finish() may be called inside a read.
    QTimer::singleShot(0, this, &DEPeer::closeDown);
}

void DEPeer::closeDown()
{
    // What was written must reach the peers before the totals are told:
    // hand everything to the system, then end the sending direction only,
    // so the peer reads it all up to the end and closes, and nothing is
    // lost to a reset.
    QElapsedTimer waited;
    waited.start();
    QList<QTcpSocket *> sockets;
    for (const Link &link : qAsConst(m_links))
        sockets.append(link.socket);
    quint64 unsent = 0;
    for (QTcpSocket *socket : qAsConst(sockets)) {
        while (socket->bytesToWrite() > 0 && waited.elapsed() < 10000)
            socket->waitForBytesWritten(100);
        unsent += static_cast<quint64>(socket->bytesToWrite());
        ::shutdown(static_cast<int>(socket->socketDescriptor()), SHUT_WR);
    }
    QEventLoop loop;
    QTimer check;
    connect(&check, &QTimer::timeout, &loop, [&] {
        if (m_links.isEmpty() || waited.elapsed() > 15000)
            loop.quit();
    });
    check.start(20);
    loop.exec();
    if (m_options.stats) {
        const Totals &t = m_totals;
        print(QStringLiteral("stats: rounds=%1 skipped_rounds=%2 sent_values=%3 sent_packs=%4 sent_bytes=%5 "
                             "unsent_bytes=%6 received_frames=%7 received_values=%8 received_bytes=%9 "
                             "checksum_failures=%10")
                  .arg(t.rounds)
                  .arg(t.skippedRounds)
                  .arg(t.valuesSent)
                  .arg(t.packsSent)
                  .arg(t.bytesSent)
                  .arg(unsent)
                  .arg(t.framesReceived)
                  .arg(t.valuesReceived)
                  .arg(t.bytesReceived)
                  .arg(t.checksumFailures));
    }
    emit finished();
}
