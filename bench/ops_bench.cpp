#include "app/gatewaymonitor.h"
#include "app/metricsfile.h"
#include "app/statusreport.h"
#include "benchsupport.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

namespace {

// N ties of 4 units each, with counters that are not zero.
struct Ties {
    QList<BaseTie *> list;
    explicit Ties(int n)
    {
        for (int i = 0; i < n; ++i) {
            auto *tie = new BenchTie;
            tie->setId(QStringLiteral("tie-%1").arg(i));
            for (int u = 0; u < 4; ++u)
                tie->addUnit(new BaseTieUnit(tie));
            tie->counters().valuesReceived = quint64(i) * 1000;
            tie->counters().bytesIn = quint64(i) * 100000;
            list << tie;
        }
    }
    ~Ties() { qDeleteAll(list); }
};

// What every tick adds to the main cycle: the statistics and the watchdog
// check (no watchdog here, as outside systemd).
void BM_TickDone(benchmark::State &state)
{
    QList<BaseTie *> none;
    GatewayMonitor monitor(none, 500);
    qint64 us = 0;
    for (auto _ : state) {
        monitor.tickDone(us);
        us = (us + 7919) % 3000000;
    }
    benchmark::DoNotOptimize(monitor.cycle().ticks());
}
BENCHMARK(BM_TickDone);

// The answer to "status" for N ties.
void BM_StatusReport(benchmark::State &state)
{
    Ties ties(int(state.range(0)));
    GatewayMonitor monitor(ties.list, 500);
    for (auto _ : state)
        benchmark::DoNotOptimize(statusReport(monitor));
}
BENCHMARK(BM_StatusReport)->Arg(10)->Arg(100)->Arg(1000)->Unit(benchmark::kMillisecond);

// The metrics text for N ties, and writing it to a file (temporary file,
// rename).
void BM_MetricsText(benchmark::State &state)
{
    Ties ties(int(state.range(0)));
    GatewayMonitor monitor(ties.list, 500);
    for (auto _ : state)
        benchmark::DoNotOptimize(metricsText(monitor));
}
BENCHMARK(BM_MetricsText)->Arg(10)->Arg(100)->Arg(1000)->Unit(benchmark::kMillisecond);

void BM_MetricsFileWrite(benchmark::State &state)
{
    Ties ties(int(state.range(0)));
    GatewayMonitor monitor(ties.list, 500);
    QTemporaryDir dir;
    MetricsFile file;
    file.setPath(dir.filePath(QStringLiteral("ferrox.prom")));
    for (auto _ : state)
        if (!file.write(metricsText(monitor)))
            state.SkipWithError("cannot write the metrics file");
}
BENCHMARK(BM_MetricsFileWrite)->Arg(100)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
