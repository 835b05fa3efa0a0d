#include "benchsupport.h"
#include "config/csvtieparam.h"
#include "config/csvtieunit.h"
#include "conversion/conversionregistry.h"
#include "conversion/singleproviderconverter.h"
#include "links/calc/luacalctie.h"

#include <dpdatatype.h>

#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <cstring>

namespace {

constexpr int kValues = 1000;

QString name(char prefix, int i)
{
    return QStringLiteral("%1%2").arg(QLatin1Char(prefix)).arg(i, 4, 10, QLatin1Char('0'));
}

// Result i is the sum of input i and input i + 1 (the last wraps around).
const char kScript[] = R"(
local n = 1000
local a, b, r = {}, {}, {}
for i = 1, n do
  a[i] = string.format('A%04d', i)
  b[i] = string.format('A%04d', i % n + 1)
  r[i] = string.format('R%04d', i)
end
function calculate()
  local G = _G
  for i = 1, n do G[r[i]] = G[a[i]] + G[b[i]] end
end
)";

// One calculation of 1 000 FLOATVALID inputs (all converted into since the
// last one) into 1 000 FLOATVALID results, each bound to a consumer of
// another tie: publishing, the call, the full collection, reading back and
// converting. Argument: the instruction limit (0: unbounded, JIT on).
void BM_Calculate(benchmark::State &state)
{
    ConversionRegistry::fillGlobal();
    QTemporaryDir dir;
    const QString script = dir.filePath(QStringLiteral("sum.lua"));
    {
        QFile f(script);
        if (!f.open(QIODevice::WriteOnly) || f.write(kScript) < 0) {
            state.SkipWithError("cannot write the script");
            return;
        }
    }

    LuaCalcTie calc;
    calc.setNameFlags(LuaCalcTie::nfAll);
    calc.setInstructionLimit(static_cast<quint64>(state.range(0)));
    auto *inputs = new CsvTieUnit(&calc);
    inputs->setDirection(BaseTieUnit::dirToThis | BaseTieUnit::dirCalc);
    auto *results = new CsvTieUnit(&calc);
    results->setDirection(BaseTieUnit::dirFromThis | BaseTieUnit::dirCalc);
    BenchTie out;
    auto *consumers = new CsvTieUnit(&out);
    consumers->setDirection(BaseTieUnit::dirToThis);
    for (int i = 1; i <= kValues; ++i) {
        auto *in = new CsvTieParam(inputs, dpdtFloatValid, i, QString(), QString(), name('A', i), QString());
        const float value = static_cast<float>(i);
        const qint32 valid = 1;
        std::memcpy(in->valuesForWrite(), &value, 4);
        std::memcpy(in->valuesForWrite() + 4, &valid, 4);
        inputs->addParam(in);
        auto *r = new CsvTieParam(results, dpdtFloatValid, i, QString(), QString(), name('R', i), QString());
        results->addParam(r);
        auto *c = new CsvTieParam(consumers, dpdtFloatValid, i, QString(), QString(), name('R', i), QString());
        consumers->addParam(c);
        SingleProviderConverter::makeConverter(r, c);
    }
    calc.addUnit(inputs);
    calc.addUnit(results);
    out.addUnit(consumers);
    if (calc.loadCalcFile(script) != LuaCalcTie::lrOk) {
        state.SkipWithError(qPrintable(calc.errorText()));
        return;
    }

    // Warm up, then measure what the interpreter holds after it.
    for (int k = 0; k < 100; ++k) {
        inputs->setDirty(true);
        calc.calulate();
    }
    const int memoryBefore = calc.memoryKBytes();
    for (auto _ : state) {
        inputs->setDirty(true);
        calc.calulate();
    }
    if (calc.failing() || !consumers->params().at(kValues - 1)->isValid(0))
        state.SkipWithError("the calculation failed");
    state.counters["lua_kb_before"] = memoryBefore;
    state.counters["lua_kb_after"] = calc.memoryKBytes();
    state.counters["stack_top"] = calc.stackTop();
    state.SetItemsProcessed(state.iterations() * kValues);
}

} // namespace

BENCHMARK(BM_Calculate)->Arg(static_cast<int64_t>(LuaCalcTie::DefaultInstructionLimit))->Arg(0)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Calculate)
    ->Name("BM_Calculate100k")
    ->Arg(static_cast<int64_t>(LuaCalcTie::DefaultInstructionLimit))
    ->Iterations(100000)
    ->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
