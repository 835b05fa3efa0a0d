#include "benchsupport.h"
#include "conversion/conversionregistry.h"
#include "conversion/singleproviderconverter.h"
#include "core/clock.h"

#include <dpdatatype.h>

#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>
#include <vector>

namespace {

// Element sizes of the benchmarked types.
size_t elementBytes(int type)
{
    switch (type) {
    case dpdtFloat:
    case dpdtSDWord:
        return 4;
    case dpdtDouble:
    case dpdtFloatValid:
    case dpdtSDWordState:
    case dpdtDTSFloat:
    case dpdtTimeSpec:
        return 8;
    default:
        return 0;
    }
}

// Valid provider data for element i of `type`.
void fillElement(int type, uchar *p, size_t i)
{
    const quint32 one = 1;
    switch (type) {
    case dpdtFloat: {
        const float f = static_cast<float>(i) * 0.5f;
        std::memcpy(p, &f, 4);
        break;
    }
    case dpdtSDWord: {
        const qint32 v = static_cast<qint32>(i);
        std::memcpy(p, &v, 4);
        break;
    }
    case dpdtFloatValid: {
        const float f = static_cast<float>(i) * 0.25f;
        std::memcpy(p, &f, 4);
        std::memcpy(p + 4, &one, 4);
        break;
    }
    case dpdtTimeSpec: {
        const quint32 words[2] = {1700000000u + static_cast<quint32>(i), static_cast<quint32>(i % 1000) * 1000000u};
        std::memcpy(p, words, sizeof words);
        break;
    }
    default:
        break;
    }
}

// A provider tie and unit that stay OK for the whole run, and a consumer
// tie and unit.
struct Setting {
    Setting()
    {
        ConversionRegistry::fillGlobal();
        source.setTimeout(0xFFFFFFFFu);
        providerUnit = new BaseTieUnit(&source);
        providerUnit->setDirection(BaseTieUnit::dirFromThis);
        providerUnit->setLastReceived(Clock::nowUtc());
        source.addUnit(providerUnit);
        source.reportNewData(providerUnit);
        consumerUnit = new BaseTieUnit(&sink);
        consumerUnit->setDirection(BaseTieUnit::dirToThis);
        sink.addUnit(consumerUnit);
    }

    // `count` one-element provider parameters of `from`, each bound to a
    // one-element consumer of `to`.
    void bindMany(int from, int to, size_t count)
    {
        const size_t fromBytes = elementBytes(from);
        const size_t toBytes = elementBytes(to);
        providerData.assign(count * fromBytes, 0);
        consumerData.assign(count * toBytes, 0);
        for (size_t i = 0; i < count; ++i) {
            uchar *p = providerData.data() + i * fromBytes;
            fillElement(from, p, i);
            auto *provider = new BenchParam(providerUnit, static_cast<quint32>(from), 1, p, fromBytes);
            providerUnit->params().append(provider);
            auto *consumer = new BenchParam(consumerUnit, static_cast<quint32>(to), 1,
                                            consumerData.data() + i * toBytes, toBytes);
            consumerUnit->params().append(consumer);
            converters.emplace_back(SingleProviderConverter::makeConverter(provider, consumer));
        }
    }

    BenchTie source;
    BenchTie sink;
    BaseTieUnit *providerUnit = nullptr;
    BaseTieUnit *consumerUnit = nullptr;
    std::vector<uchar> providerData;
    std::vector<uchar> consumerData;
    std::vector<std::unique_ptr<SingleProviderConverter>> converters;
};

// One parameter of N elements into one consumer of N elements.
template<int From, int To>
void BM_OneParameter(benchmark::State &state)
{
    Setting setting;
    const size_t n = static_cast<size_t>(state.range(0));
    std::vector<uchar> src(n * elementBytes(From));
    std::vector<uchar> dst(n * elementBytes(To));
    for (size_t i = 0; i < n; ++i)
        fillElement(From, src.data() + i * elementBytes(From), i);
    BenchParam provider(setting.providerUnit, From, n, src.data(), src.size());
    BenchParam consumer(setting.consumerUnit, To, n, dst.data(), dst.size());
    const ConversionFunction convert = ConversionRegistry::lookup(From, To);
    if (!convert) {
        state.SkipWithError("pair not convertible");
        return;
    }
    for (auto _ : state) {
        convert(&provider, &consumer);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(n));
}

// N one-element parameters of one unit, each through its converter.
template<int From, int To>
void BM_ManyParameters(benchmark::State &state)
{
    Setting setting;
    const size_t n = static_cast<size_t>(state.range(0));
    setting.bindMany(From, To, n);
    for (auto _ : state) {
        setting.providerUnit->convertFromThis();
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(n));
}

// One main-cycle poll pass of a tie whose unit holds 100 000 providers,
// each bound to a consumer.
void BM_PollAndConvert(benchmark::State &state)
{
    Setting setting;
    const size_t n = 100000;
    setting.bindMany(dpdtFloat, dpdtFloatValid, n);
    for (auto _ : state) {
        setting.source.pollAndConvert();
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(n));
}

// One write and one read of a local time point (a unit's UTmsecLocal
// stamp), as a conversion out of such a unit makes them: the zone offset
// is taken each time.
void BM_LocalTimePoint(benchmark::State &state)
{
    BaseTieUnit unit;
    uchar storage[8] = {};
    BenchParam param(&unit, dpdtDWord, 2, storage, sizeof storage);
    TimePoint &point = unit.timePoint();
    point.setParam(&param);
    point.setType(TimePoint::tptUTmsecLocal);
    const QDateTime instant = QDateTime::fromMSecsSinceEpoch(1733700000250LL, Qt::UTC);
    for (auto _ : state) {
        point.setFromDT(instant);
        benchmark::DoNotOptimize(point.toDT());
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}

#define FERROX_CONVERSION_BENCH(from, to)                                                          \
    BENCHMARK_TEMPLATE(BM_OneParameter, from, to)->Arg(1)->Arg(1000)->Arg(1000000);               \
    BENCHMARK_TEMPLATE(BM_ManyParameters, from, to)->Arg(1)->Arg(1000)->Arg(1000000)->Unit(benchmark::kMicrosecond)

FERROX_CONVERSION_BENCH(dpdtFloat, dpdtFloatValid);
FERROX_CONVERSION_BENCH(dpdtSDWord, dpdtSDWordState);
FERROX_CONVERSION_BENCH(dpdtFloatValid, dpdtDTSFloat);
FERROX_CONVERSION_BENCH(dpdtTimeSpec, dpdtDouble);
BENCHMARK(BM_PollAndConvert)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LocalTimePoint);

} // namespace

BENCHMARK_MAIN();
