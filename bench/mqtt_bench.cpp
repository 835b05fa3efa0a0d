#include "benchsupport.h"
#include "config/csvtieparam.h"
#include "conversion/conversionregistry.h"
#include "conversion/singleproviderconverter.h"
#include "links/mqtt/mqtttie.h"
#include "gateway/links/mqtt/mqttbroker.h"

#include <dpdatatype.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

double threadCpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

// Runs the event loop for `msecs` (sleeping while nothing happens).
void runEventLoop(int msecs)
{
    QEventLoop loop;
    QTimer::singleShot(std::max(msecs, 0), &loop, &QEventLoop::quit);
    loop.exec();
}

// N FLOAT providers of a bench tie, each bound to a FLOATVALID consumer of
// an MQTT tie connected to a broker of the benchmark's own: one tick
// changes every provider, converts them and publishes the consumers.
struct Gateway {
    std::unique_ptr<MqttBroker> broker;
    std::vector<float> storage;
    BenchTie providers;
    BaseTieUnit *providerUnit = nullptr;
    std::unique_ptr<MqttTie> tie;
    float step = 0;

    bool start(int n, int qos, quint64 bufferMessages, benchmark::State &state)
    {
        if (MqttBroker::program().isEmpty()) {
            state.SkipWithError("the mosquitto broker is not installed");
            return false;
        }
        broker.reset(new MqttBroker);
        QString error;
        if (!broker->start(&error)) {
            state.SkipWithError(qPrintable(error));
            return false;
        }
        ConversionRegistry::fillGlobal();
        MqttSettings settings;
        settings.host = QStringLiteral("127.0.0.1");
        settings.port = broker->port();
        settings.clientId = QStringLiteral("ferrox-bench");
        settings.topicPrefix = QStringLiteral("bench/gw");
        settings.qos = qos;
        settings.bufferMessages = bufferMessages;
        tie.reset(new MqttTie(settings));
        storage.assign(size_t(n), 0.0f);
        providerUnit = new BaseTieUnit(&providers);
        providerUnit->setDirection(BaseTieUnit::dirFromThis);
        auto *consumers = new MqttTieUnit(tie.get());
        consumers->setDirection(BaseTieUnit::dirToThis);
        for (int i = 0; i < n; ++i) {
            auto *p = new BenchParam(providerUnit, dpdtFloat, 1, reinterpret_cast<uchar *>(&storage[size_t(i)]), 4);
            providerUnit->addParam(p);
            auto *c = new CsvTieParam(consumers, dpdtFloatValid, i, QString(), QString(),
                                      QStringLiteral("P%1").arg(i, 5, 10, QLatin1Char('0')), QString());
            consumers->addParam(c);
            SingleProviderConverter::makeConverter(p, c);
        }
        providers.addUnit(providerUnit);
        providers.reportNewData(providerUnit);
        providerUnit->setLastReceived(QDateTime::currentDateTimeUtc());
        tie->addUnit(consumers);
        tie->start();
        if (!waitUntil([this] { return tie->state() == 0; })) {
            state.SkipWithError("the tie does not connect");
            return false;
        }
        return true;
    }

    // New values for every provider, converted into the tie's consumers.
    void convert()
    {
        step += 1.0f;
        for (size_t i = 0; i < storage.size(); ++i)
            storage[i] = step + float(i) * 0.5f;
        providerUnit->setLastReceived(QDateTime::currentDateTimeUtc());
        providers.pollAndConvert();
    }
    // The tie's part of a tick: its poll and its send.
    void send()
    {
        tie->pollAndConvert();
        tie->sendDirty();
    }
    void tick()
    {
        convert();
        send();
    }

    // Everything published was acknowledged (quality 1) or taken (quality 0).
    bool settled() const
    {
        const TieCounters &c = tie->counters();
        return c.buffered == 0 && (tie->settings().qos == 0 || c.delivered == c.published);
    }
};

// Gateway CPU per published value: one tick of N changed values (the
// conversion into the tie's consumers; the tie's part: change detection,
// message, buffer, publish) and the event loop until the broker has
// acknowledged them all, on the main thread as in the program. The tie's
// part and the conversion are counted apart.
void BM_PublishPerValue(benchmark::State &state)
{
    const int n = static_cast<int>(state.range(0));
    const int qos = static_cast<int>(state.range(1));
    Gateway gw;
    if (!gw.start(n, qos, 100000, state))
        return;
    double tieCpu = 0;
    double convertCpu = 0;
    for (auto _ : state) {
        const double before = threadCpuSeconds();
        gw.convert();
        const double converted = threadCpuSeconds();
        gw.send();
        while (!gw.settled())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        tieCpu += threadCpuSeconds() - converted;
        convertCpu += converted - before;
    }
    const double values = double(state.iterations() * n);
    state.SetItemsProcessed(state.iterations() * n);
    state.counters["tie_us_per_value"] = tieCpu * 1e6 / values;
    state.counters["convert_us_per_value"] = convertCpu * 1e6 / values;
    state.counters["dropped"] = double(gw.tie->counters().dropped);
}

// 50 000 values per second for ten seconds: a tick of 25 000 changed values
// every 500 ms, the event loop between ticks, a subscriber that counts what
// the broker forwards. Nothing may be dropped.
void BM_Sustained50kPerSecond(benchmark::State &state)
{
    constexpr int kPerTick = 25000;
    constexpr int kTicks = 20;
    Gateway gw;
    if (!gw.start(kPerTick, 1, 100000, state))
        return;
    MqttSubscriber subscriber;
    if (!subscriber.connect(gw.broker->port(), "bench/gw/#", 1)) {
        state.SkipWithError("the subscriber does not connect");
        return;
    }
    for (auto _ : state) {
        QElapsedTimer clock;
        clock.start();
        const double cpuBefore = threadCpuSeconds();
        qint64 maxTickMs = 0;
        qint64 maxLateMs = 0;
        quint64 maxBuffered = 0;
        for (int t = 0; t < kTicks; ++t) {
            runEventLoop(int(t * 500 - clock.elapsed()));
            maxLateMs = std::max(maxLateMs, clock.elapsed() - t * 500);
            const qint64 start = clock.elapsed();
            gw.tick();
            maxTickMs = std::max(maxTickMs, clock.elapsed() - start);
            maxBuffered = std::max(maxBuffered, gw.tie->counters().buffered);
        }
        const quint64 total = quint64(kPerTick) * kTicks;
        while (!gw.settled() && clock.elapsed() < 60000)
            runEventLoop(10);
        const double cpu = threadCpuSeconds() - cpuBefore;
        const double seconds = double(clock.elapsed()) / 1000.0;
        while (quint64(subscriber.count()) < total && clock.elapsed() < 60000)
            runEventLoop(10);
        const TieCounters &c = gw.tie->counters();
        state.counters["values"] = double(total);
        state.counters["delivered"] = double(c.delivered);
        state.counters["dropped"] = double(c.dropped);
        state.counters["received"] = double(subscriber.count());
        state.counters["max_buffered"] = double(maxBuffered);
        state.counters["max_tick_ms"] = double(maxTickMs);
        state.counters["max_late_ms"] = double(maxLateMs);
        state.counters["run_s"] = seconds;
        state.counters["cpu_us_per_value"] = cpu * 1e6 / double(total);
        if (c.dropped > 0 || c.delivered < total || quint64(subscriber.count()) < total) {
            const std::string why = "values were lost: " + std::to_string(c.dropped) + " dropped, "
                + std::to_string(c.delivered) + " delivered, " + std::to_string(subscriber.count()) + " received of "
                + std::to_string(total) + " in " + std::to_string(seconds) + " s";
            state.SkipWithError(why.c_str());
        }
    }
}

// What the machine charges for the system calls the client library makes
// per quality-1 message, without any of the tie's work: the PUBLISH written
// to a loopback TCP connection (corked, as the tie's burst is), the byte its wake-up pair refuses (full,
// nothing drains it), and the PUBACK read in three calls (command byte,
// length byte, body). The acknowledgements are written beforehand and the
// far end drains between rounds; neither is counted.
void BM_SystemCallFloorPerMessage(benchmark::State &state)
{
    constexpr int kRound = 1000;
    int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    int client = -1;
    int server = -1;
    int wake[2] = {-1, -1};
    const bool ready = listener >= 0 && ::bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0
        && ::listen(listener, 1) == 0 && ::getsockname(listener, reinterpret_cast<sockaddr *>(&address), &length) == 0
        && (client = ::socket(AF_INET, SOCK_STREAM, 0)) >= 0
        && ::connect(client, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0
        && (server = ::accept(listener, nullptr, nullptr)) >= 0 && ::socketpair(AF_UNIX, SOCK_STREAM, 0, wake) == 0;
    if (!ready) {
        state.SkipWithError("no loopback connection");
    } else {
        ::fcntl(wake[1], F_SETFL, O_NONBLOCK);
        while (::write(wake[1], "x", 1) == 1) {
        }
        const char publish[48] = {0x32, 46};
        const char puback[4] = {0x40, 2, 0, 1};
        std::vector<char> acks(kRound * sizeof puback);
        for (int i = 0; i < kRound; ++i)
            std::memcpy(acks.data() + i * sizeof puback, puback, sizeof puback);
        std::vector<char> drain(kRound * sizeof publish);
        double cpu = 0;
        qint64 messages = 0;
        bool failed = false;
        for (auto _ : state) {
            if (::write(server, acks.data(), acks.size()) != qint64(acks.size())) {
                failed = true;
                break;
            }
            int on = 1;
            ::setsockopt(client, IPPROTO_TCP, TCP_CORK, &on, sizeof on);
            const double before = threadCpuSeconds();
            char byte[2];
            for (int i = 0; i < kRound; ++i) {
                failed |= ::write(client, publish, sizeof publish) != qint64(sizeof publish);
                failed |= ::write(wake[1], "x", 1) != -1 || errno != EAGAIN;
                failed |= ::read(client, byte, 1) != 1 || ::read(client, byte, 1) != 1 || ::read(client, byte, 2) != 2;
            }
            cpu += threadCpuSeconds() - before;
            messages += kRound;
            int off = 0;
            ::setsockopt(client, IPPROTO_TCP, TCP_CORK, &off, sizeof off);
            for (size_t got = 0; got < drain.size();) {
                const ssize_t n = ::read(server, drain.data() + got, drain.size() - got);
                if (n <= 0) {
                    failed = true;
                    break;
                }
                got += size_t(n);
            }
            if (failed)
                break;
        }
        if (failed)
            state.SkipWithError("a system call did not do what the client library's does");
        state.counters["floor_us_per_message"] = messages > 0 ? cpu * 1e6 / double(messages) : 0;
    }
    for (int fd : {listener, client, server, wake[0], wake[1]}) {
        if (fd >= 0)
            ::close(fd);
    }
}

} // namespace

BENCHMARK(BM_PublishPerValue)->Args({1000, 1})->Args({25000, 1})->Args({25000, 0})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SystemCallFloorPerMessage)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Sustained50kPerSecond)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
