#include "soakrun.h"

#include "depeer.h"

#include "app/gatewaymonitor.h"
#include "app/maincycle.h"
#include "app/qgatelogger.h"
#include "app/sectiontable.h"
#include "config/ferroxxmlconfig.h"
#include "conversion/conversionregistry.h"
#include "conversion/singleproviderconverter.h"
#include "core/basetie.h"
#include "core/clock.h"
#include "core/gateconfig.h"
#include "core/gatelog.h"

#include <dpdatatype.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTextStream>

#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <mqueue.h>
#include <unistd.h>

namespace {

constexpr qint64 kCycleMsecs = 500;
// The longest a value may take from the peer to the gateway's socket, and
// the connection to be made; reached only when something is broken.
constexpr int kDeliveryBoundMsecs = 10000;
// The DE index and type of each running number.
constexpr quint32 kDeInIndex = 1;
constexpr quint32 kDeOutFileIndex = 11;
constexpr quint32 kDeOutQueueIndex = 12;
constexpr long kQueueMessageBytes = 16;

// A value with its valid word, as a byte area and a DE pack carry it.
struct FloatValid {
    float value;
    quint32 valid;
};

bool writeFile(const QString &path, const QByteArray &text)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(text) == text.size();
}

// Serves events until `done` holds or the bound passes; false then.
template<typename Done>
bool serveUntil(Done done, int msecs)
{
    QElapsedTimer waited;
    waited.start();
    while (!done()) {
        if (waited.elapsed() > msecs)
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    }
    return true;
}

// The ties of the run's configuration, by section, in document order.
enum TieSlot { FileInTie, QueueTie, DeTie, TableTie, TieCount };

QByteArray configText(const QString &dir, const QByteArray &queueIn, const QByteArray &queueOut, quint16 port)
{
    const QByteArray d = dir.toUtf8();
    return "<config><misc><locale lang='en'/><log file='gate.log'/><times timeout='3000'/></misc>"
           "<textfilein id='file-in' timeout='5000'>"
           "<csvlist file='file_in.csv' kks='0' index='1' type='2' direction='in'/>"
           "<infile filename='"
        + d + "/input.txt'/></textfilein>"
              "<mqueue timeout='5000'>"
              "<defarea file='queue_in.def' direction='in'/><defarea file='queue_out.def' direction='out'/>"
              "<connection filename='"
        + queueIn + "' direction='in'/><connection filename='" + queueOut
        + "' direction='out'/></mqueue>"
          "<deprotocolclient id='peer' timeout='5000' protocol_timeout='3000' protocol_keepalive_timeout='1500'>"
          "<csvlist file='de_in.csv' kks='0' index='1' type='2' direction='in'/>"
          "<csvlist file='de_out.csv' kks='0' index='1' type='2' direction='out'/>"
          "<connection host='127.0.0.1' port='"
        + QByteArray::number(port)
        + "'/></deprotocolclient>"
          "<textfileout id='table' minwriteinterval='1' outfields='kks,value,validity' writeinvalid='true'>"
          "<csvlist file='table.csv' kks='0' index='1' type='2' direction='out'/>"
          "<outfile filename='"
        + d + "/table_%1.txt' date='isodate' zone='utc'/></textfileout></config>";
}

bool writeLists(const QDir &dir)
{
    return writeFile(dir.filePath("file_in.csv"), "kks,index,type\nFILE_SEQ,1,FLOATVALID\n")
        && writeFile(dir.filePath("de_in.csv"), "kks,index,type\nDE_SEQ," + QByteArray::number(kDeInIndex) + ",FLOATVALID\n")
        && writeFile(dir.filePath("de_out.csv"), "kks,index,type\nFILE_SEQ," + QByteArray::number(kDeOutFileIndex)
                                                     + ",FLOATVALID\nMQ_SEQ," + QByteArray::number(kDeOutQueueIndex)
                                                     + ",FLOATVALID\n")
        && writeFile(dir.filePath("queue_in.def"), "SOAK_IN\n8\nMQ_SEQ,type_rval,0,1,1,1\n")
        && writeFile(dir.filePath("queue_out.def"),
                     "SOAK_OUT\n16\nDE_SEQ,type_rval,0,1,1,1\nFILE_SEQ,type_rval,8,1,1,1\n")
        && writeFile(dir.filePath("table.csv"),
                     "kks,index,type\nDE_SEQ,1,FLOATVALID\nMQ_SEQ,2,FLOATVALID\nFILE_SEQ,3,FLOATVALID\n");
}

// The running number in a FLOATVALID value; 0 when it is invalid or none.
quint64 numberOf(const QByteArray &bytes)
{
    FloatValid v{0, 0};
    if (bytes.size() >= int(sizeof v))
        std::memcpy(&v, bytes.constData(), sizeof v);
    return v.valid == 1 && v.value >= 0 && v.value < 1e15f ? quint64(v.value) : 0;
}

// Checks the daily table files: every record's running numbers are in
// order, and the records counted by the tie are all there.
void checkTables(const QDir &dir, quint64 recordsWritten, quint64 cycles, QStringList &faults, QTextStream &out)
{
    QHash<QString, double> last;
    quint64 records = 0;
    const QStringList files = dir.entryList({QStringLiteral("table_*.txt")}, QDir::Files, QDir::Name);
    for (const QString &name : files) {
        QFile file(dir.filePath(name));
        if (!file.open(QIODevice::ReadOnly)) {
            faults << QStringLiteral("table file %1 cannot be read").arg(name);
            continue;
        }
        while (!file.atEnd()) {
            const QList<QByteArray> fields = file.readLine().trimmed().split(';');
            if (fields.size() < 2)
                continue;
            const QString id = QString::fromUtf8(fields.at(0));
            const double value = fields.at(1).toDouble();
            if (id == QLatin1String("DE_SEQ"))
                ++records;
            if (last.contains(id) && value <= last.value(id))
                faults << QStringLiteral("table %1: %2 %3 after %4").arg(name, id).arg(value).arg(last.value(id));
            last.insert(id, value);
        }
    }
    out << "table: " << files.size() << " daily files, " << records << " records (tie counted " << recordsWritten
        << ")\n";
    if (records != recordsWritten)
        faults << QStringLiteral("table: %1 records in the files, the tie counted %2").arg(records).arg(recordsWritten);
    // At most one record a second: every second cycle; the last ones hold
    // the last numbers but one at worst.
    if (records + 2 < cycles / 2)
        faults << QStringLiteral("table: only %1 records in %2 cycles").arg(records).arg(cycles);
    for (const char *id : {"DE_SEQ", "MQ_SEQ", "FILE_SEQ"}) {
        if (last.value(QLatin1String(id)) + 1 < double(cycles))
            faults << QStringLiteral("table: last %1 is %2, %3 were sent").arg(id).arg(last.value(id)).arg(cycles);
    }
}

} // namespace

QByteArray soakInputQueue()
{
    return "/ferrox-soak-" + QByteArray::number(qint64(::getpid())) + "-in";
}

double leastSquaresSlope(const QVector<double> &x, const QVector<double> &y)
{
    const int n = qMin(x.size(), y.size());
    if (n < 2)
        return 0;
    double mx = 0;
    double my = 0;
    for (int i = 0; i < n; ++i) {
        mx += x.at(i);
        my += y.at(i);
    }
    mx /= n;
    my /= n;
    double sxy = 0;
    double sxx = 0;
    for (int i = 0; i < n; ++i) {
        sxy += (x.at(i) - mx) * (y.at(i) - my);
        sxx += (x.at(i) - mx) * (x.at(i) - mx);
    }
    return sxx > 0 ? sxy / sxx : 0;
}

qint64 residentKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    // Files under /proc tell no size: read until the end.
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

int openDescriptors()
{
    DIR *dir = ::opendir("/proc/self/fd");
    if (!dir)
        return -1;
    int count = 0;
    while (const dirent *entry = ::readdir(dir)) {
        if (entry->d_name[0] != '.')
            ++count;
    }
    ::closedir(dir);
    return count - 1; // the listing's own
}

SoakResult runSoak(const SoakOptions &options, QTextStream &out)
{
    SoakResult result;
    QStringList &faults = result.faults;
    QTemporaryDir tmp(options.workDir.isEmpty() ? QDir::tempPath() + QStringLiteral("/ferrox-soak-XXXXXX")
                                                : options.workDir + QStringLiteral("/ferrox-soak-XXXXXX"));
    const QDir dir(tmp.path());
    const QByteArray queueIn = soakInputQueue();
    const QByteArray queueOut = "/ferrox-soak-" + QByteArray::number(qint64(::getpid())) + "-out";

    // The peer: one FLOATVALID value, a running number from 1 on, one round
    // each time the driver asks.
    DEPeerOptions peerOptions;
    QString error;
    QString peerLines;
    QTextStream peerOut(&peerLines);
    if (!peerOptions.parse({"--listen", "127.0.0.1:0", "--send", QStringLiteral("FLOATVALID:%1=1/1").arg(kDeInIndex),
                            "--ramp", "1", "--quiet", "--keepalive", "1000"},
                           error)) {
        out << "soak: peer options: " << error << "\n";
        return result;
    }
    peerOptions.driven = true;
    peerOptions.keepLastValues = true;
    DEPeer peer(peerOptions, peerOut);
    if (!tmp.isValid() || !writeLists(dir) || !peer.start(error)) {
        out << "soak: cannot set up: " << (error.isEmpty() ? QStringLiteral("files in ") + tmp.path() : error) << "\n";
        return result;
    }
    peerLines.clear();

    // The queues, made here so that the writer and the reader are there
    // before the tie; unlinked at the end whatever happens.
    ::mq_unlink(queueIn.constData());
    ::mq_unlink(queueOut.constData());
    struct mq_attr attr;
    std::memset(&attr, 0, sizeof attr);
    attr.mq_maxmsg = 10;
    attr.mq_msgsize = kQueueMessageBytes;
    const mqd_t writer = ::mq_open(queueIn.constData(), O_WRONLY | O_CREAT | O_NONBLOCK, 0600, &attr);
    const mqd_t reader = ::mq_open(queueOut.constData(), O_RDONLY | O_CREAT | O_NONBLOCK, 0600, &attr);
    struct QueueGuard {
        mqd_t w, r;
        QByteArray in, outName;
        ~QueueGuard()
        {
            if (w != mqd_t(-1))
                ::mq_close(w);
            if (r != mqd_t(-1))
                ::mq_close(r);
            ::mq_unlink(in.constData());
            ::mq_unlink(outName.constData());
        }
    } queues{writer, reader, queueIn, queueOut};
    if (writer == mqd_t(-1) || reader == mqd_t(-1)) {
        out << "soak: cannot open the queues " << queueIn << ", " << queueOut << "\n";
        return result;
    }

    QFile input(dir.filePath(QStringLiteral("input.txt")));
    if (!input.open(QIODevice::WriteOnly | QIODevice::Append)) {
        out << "soak: cannot write " << input.fileName() << "\n";
        return result;
    }

    // The clock starts at this second and moves only with the cycles.
    Clock::setFixed(QDateTime::fromSecsSinceEpoch(QDateTime::currentSecsSinceEpoch(), Qt::UTC));
    struct ClockGuard {
        ~ClockGuard() { Clock::useSystemClock(); }
    } clockGuard;

    ConversionRegistry::fillGlobal();
    QGateLogger::instance();
    FerroxXmlConfig::setLanguage(QString());
    GateConfig config;
    {
        FerroxXmlConfig loader(config, &makeConverter, ferroxSectionTable());
        const QString file = dir.filePath(QStringLiteral("ferrox.cfg"));
        if (!writeFile(file, configText(tmp.path(), queueIn, queueOut, peer.serverPort())) || !loader.loadConf(file)) {
            out << "soak: the configuration does not load (" << dir.filePath("gate.log") << ")\n";
            return result;
        }
    }
    const QList<BaseTie *> &ties = config.ties();
    if (ties.size() != TieCount) {
        out << "soak: " << ties.size() << " ties loaded, " << int(TieCount) << " expected\n";
        return result;
    }
    for (BaseTie *tie : ties)
        tie->init();
    const TieCounters &deCounters = ties.at(DeTie)->counters();
    if (!serveUntil([&] { return peer.linkCount() > 0 && ties.at(DeTie)->state() == 0; }, kDeliveryBoundMsecs)) {
        out << "soak: the DE tie did not connect to the peer on port " << peer.serverPort() << "\n";
        return result;
    }
    // What the program keeps of every tick: the cycle statistics, and the
    // metrics file written every second.
    GatewayMonitor monitor(ties, kCycleMsecs);
    monitor.setConfigFile(dir.filePath(QStringLiteral("ferrox.cfg")));
    monitor.setMetricsFile(dir.filePath(QStringLiteral("ferrox.prom")), 1000);
    monitor.started();
    result.setUp = true;

    out << "soak: " << options.cycles << " cycles, sample every " << options.sampleEvery << ", files in "
        << tmp.path() << "\n";
    out.flush();

    quint64 queueMessages = 0;
    quint64 queueOutOfOrder = 0;
    quint64 lateDe = 0;
    QElapsedTimer elapsed;
    elapsed.start();
    const auto sample = [&](quint64 cycle) {
        SoakSample s;
        s.cycle = cycle;
        s.rssKiB = residentKiB();
        s.fds = openDescriptors();
        result.samples.append(s);
    };
    sample(0);
    for (quint64 cycle = 1; cycle <= options.cycles; ++cycle) {
        // Every source sends number `cycle`.
        if (!peer.sendRoundNow() && faults.size() < 20)
            faults << QStringLiteral("cycle %1: the peer could not send").arg(cycle);
        input.write("-\nFILE_SEQ;" + QByteArray::number(cycle) + "\n");
        input.flush();
        const FloatValid queued{float(cycle), 1};
        if (::mq_send(writer, reinterpret_cast<const char *>(&queued), sizeof queued, 0) != 0 && faults.size() < 20)
            faults << QStringLiteral("cycle %1: the queue writer could not send").arg(cycle);

        // The gateway's socket is served until the round arrived, so that
        // the cycle sees it whatever the machine's speed.
        const quint64 sent = peer.totals().valuesSent;
        if (deCounters.valuesReceived < sent) {
            QCoreApplication::processEvents();
            if (deCounters.valuesReceived < sent) {
                ++lateDe;
                if (!serveUntil([&] { return deCounters.valuesReceived >= sent; }, kDeliveryBoundMsecs)) {
                    faults << QStringLiteral("cycle %1: the DE value did not arrive within %2 ms")
                                  .arg(cycle)
                                  .arg(kDeliveryBoundMsecs);
                    break;
                }
            }
        }

        Clock::advance(kCycleMsecs);
        QElapsedTimer tick;
        tick.start();
        runMainCycle(ties);
        monitor.tickDone(tick.nsecsElapsed() / 1000);
        QCoreApplication::processEvents();

        // The queue output carries the DE and the file number of this cycle.
        char message[kQueueMessageBytes];
        ssize_t got;
        while ((got = ::mq_receive(reader, message, sizeof message, nullptr)) >= 0) {
            ++queueMessages;
            FloatValid de;
            FloatValid file;
            std::memcpy(&de, message, sizeof de);
            std::memcpy(&file, message + sizeof de, sizeof file);
            if (got != kQueueMessageBytes || de.valid != 1 || file.valid != 1 || de.value != float(cycle)
                || file.value != float(cycle)) {
                if (++queueOutOfOrder <= 5)
                    faults << QStringLiteral("cycle %1: queue output holds DE %2/%3, file %4/%5")
                                  .arg(cycle)
                                  .arg(double(de.value))
                                  .arg(de.valid)
                                  .arg(double(file.value))
                                  .arg(file.valid);
            }
        }
        if (options.afterCycle)
            options.afterCycle(cycle);
        if (cycle % options.sampleEvery == 0 || cycle == options.cycles) {
            sample(cycle);
            const SoakSample &s = result.samples.last();
            out << "cycle " << cycle << ": rss " << s.rssKiB << " KiB, fds " << s.fds << ", "
                << qint64(double(cycle) * 1000 / qMax<qint64>(1, elapsed.elapsed())) << " cycles/s\n";
            out.flush();
        }
        result.cycles = cycle;
    }
    result.msecs = elapsed.elapsed();
    monitor.stopping();
    if (!QFile::exists(dir.filePath(QStringLiteral("ferrox.prom"))))
        faults << QStringLiteral("no metrics file was written");

    // What the gateway sent back reaches the peer.
    serveUntil([&] { return peer.totals().valuesReceived >= deCounters.valuesSent; }, kDeliveryBoundMsecs);

    // The accounts.
    const quint64 n = result.cycles;
    const DEPeer::Totals &peerTotals = peer.totals();
    const TieCounters &queueCounters = ties.at(QueueTie)->counters();
    const TieCounters &fileCounters = ties.at(FileInTie)->counters();
    const TieCounters &tableCounters = ties.at(TableTie)->counters();
    const auto account = [&](const QString &what, quint64 have, quint64 want) {
        out << "account: " << what << " " << have << (have == want ? " == " : " != ") << want << "\n";
        if (have != want)
            faults << QStringLiteral("%1: %2, %3 expected").arg(what).arg(have).arg(want);
    };
    account(QStringLiteral("DE values sent by the peer"), peerTotals.valuesSent, n);
    account(QStringLiteral("DE values received by the tie"), deCounters.valuesReceived, peerTotals.valuesSent);
    account(QStringLiteral("DE frames dropped"), deCounters.framesDropped + deCounters.checksumFailures, 0);
    account(QStringLiteral("DE reconnects"), deCounters.reconnects, 0);
    // Two values a cycle, and the two of the connection's first snapshot.
    account(QStringLiteral("DE values sent by the tie"), deCounters.valuesSent, 2 * n + 2);
    account(QStringLiteral("DE values sent by the tie reaching the peer"), peerTotals.valuesReceived,
            deCounters.valuesSent);
    account(QStringLiteral("peer checksum failures"), peerTotals.checksumFailures, 0);
    account(QStringLiteral("last file number at the peer"),
            numberOf(peer.lastValueReceived(dpdtFloatValid, kDeOutFileIndex)), n);
    account(QStringLiteral("last queue number at the peer"),
            numberOf(peer.lastValueReceived(dpdtFloatValid, kDeOutQueueIndex)), n);
    account(QStringLiteral("queue values received by the tie"), queueCounters.valuesReceived, n);
    account(QStringLiteral("queue messages dropped"), queueCounters.messagesDropped + queueCounters.messagesRefused, 0);
    account(QStringLiteral("queue output messages, one per cycle"), queueMessages, n);
    account(QStringLiteral("queue output messages out of order"), queueOutOfOrder, 0);
    account(QStringLiteral("file values read by the tie"), fileCounters.valuesReceived, n);
    checkTables(dir, tableCounters.recordsWritten, n, faults, out);
    out << "DE rounds that needed a wait for the socket: " << lateDe << "\n";

    // Growth over the second half.
    QVector<double> x;
    QVector<double> rss;
    QVector<double> fds;
    for (const SoakSample &s : qAsConst(result.samples)) {
        if (s.cycle * 2 >= n && s.cycle > 0) {
            x << double(s.cycle);
            rss << double(s.rssKiB);
            fds << double(s.fds);
        }
    }
    result.rssSlope = leastSquaresSlope(x, rss) * 10000;
    result.fdSlope = leastSquaresSlope(x, fds) * 10000;
    const SoakSample first = result.samples.value(0);
    const SoakSample last = result.samples.value(result.samples.size() - 1);
    out << QStringLiteral("duration %1 s, %2 cycles/s; rss %3 -> %4 KiB, fds %5 -> %6\n")
               .arg(double(result.msecs) / 1000, 0, 'f', 1)
               .arg(qint64(double(n) * 1000 / qMax<qint64>(1, result.msecs)))
               .arg(first.rssKiB)
               .arg(last.rssKiB)
               .arg(first.fds)
               .arg(last.fds);
    out << QStringLiteral("slope over the second half: rss %1 KiB per 10000 cycles (bound %2%3), fds %4 per 10000 "
                          "cycles (bound %5)\n")
               .arg(result.rssSlope, 0, 'f', 2)
               .arg(options.rssBoundKiB)
               .arg(options.checkRss ? QString() : QStringLiteral(", not checked"))
               .arg(result.fdSlope, 0, 'f', 3)
               .arg(options.fdBound);
    if (options.checkRss && result.rssSlope > options.rssBoundKiB)
        faults << QStringLiteral("resident size grows %1 KiB per 10000 cycles").arg(result.rssSlope, 0, 'f', 2);
    // Descriptors: no growth at all beyond the bound, and none left over.
    if (result.fdSlope > options.fdBound || last.fds > result.samples.value(1, first).fds)
        faults << QStringLiteral("open descriptors grow: %1 per 10000 cycles, %2 after the first sample, %3 at the end")
                      .arg(result.fdSlope, 0, 'f', 3)
                      .arg(result.samples.value(1, first).fds)
                      .arg(last.fds);
    for (const QString &fault : qAsConst(faults))
        out << "fault: " << fault << "\n";
    out << (result.passed() ? "verdict: flat, every value accounted for\n" : "verdict: FAILED\n");
    out.flush();
    return result;
}
