#include "benchsupport.h"
#include "config/csvtieparam.h"
#include "config/csvtieunit.h"
#include "conversion/conversionregistry.h"
#include "conversion/singleproviderconverter.h"
#include "core/clock.h"
#include "links/files/outfieldformat.h"
#include "links/files/textfileintie.h"
#include "links/files/textfileouttie.h"

#include <dpdatatype.h>

#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <cstring>

namespace {

QString idOf(int i)
{
    return QStringLiteral("P%1").arg(i, 5, 10, QLatin1Char('0'));
}

// One poll of an input file of N "identifier;value" lines (nothing appended
// since the last poll, so the whole file is read) into N FLOATVALID
// providers, each bound to a FLOATVALID consumer of another tie.
void BM_InputPollAndConvert(benchmark::State &state)
{
    ConversionRegistry::fillGlobal();
    const int n = static_cast<int>(state.range(0));
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("values.txt"));
    {
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly)) {
            state.SkipWithError("cannot write the input file");
            return;
        }
        for (int i = 0; i < n; ++i)
            f.write((idOf(i) + QStringLiteral(";%1\n").arg(i * 0.5)).toLatin1());
    }

    TextFileInTie in;
    in.setFileName(path);
    auto *providers = new CsvTieUnit(&in);
    providers->setDirection(BaseTieUnit::dirFromThis);
    BenchTie out;
    auto *consumers = new CsvTieUnit(&out);
    consumers->setDirection(BaseTieUnit::dirToThis);
    for (int i = 0; i < n; ++i) {
        auto *p = new CsvTieParam(providers, dpdtFloatValid, i, QString(), QString(), idOf(i), QString());
        providers->addParam(p);
        auto *c = new CsvTieParam(consumers, dpdtFloatValid, i, QString(), QString(), idOf(i), QString());
        consumers->addParam(c);
        SingleProviderConverter::makeConverter(p, c);
    }
    in.addUnit(providers);
    out.addUnit(consumers);

    for (auto _ : state)
        in.pollAndConvert();
    if (!consumers->params().at(n - 1)->isValid(0))
        state.SkipWithError("the last value did not arrive");
    state.SetItemsProcessed(state.iterations() * n);
}

// One record of N FLOATVALID parameters with the given columns, appended to
// one output file (the file is emptied every 200 records, outside the timing).
void outputRecord(benchmark::State &state, const QString &columns)
{
    const int n = static_cast<int>(state.range(0));
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("out.txt"));
    TextFileOutTie out;
    out.setFileNames({path});
    out.setColumns(OutFieldFormat::parseColumns(columns));
    auto *unit = new CsvTieUnit(&out);
    unit->setDirection(BaseTieUnit::dirToThis);
    for (int i = 0; i < n; ++i) {
        auto *p = new CsvTieParam(unit, dpdtFloatValid, i, QString(), QString(), idOf(i), QString());
        const float value = static_cast<float>(i) * 0.25f;
        const quint32 valid = 1;
        std::memcpy(p->valuesForWrite(), &value, 4);
        std::memcpy(p->valuesForWrite() + 4, &valid, 4);
        unit->addParam(p);
    }
    out.addUnit(unit);

    QDateTime t = Clock::nowUtc();
    qint64 records = 0;
    for (auto _ : state) {
        t = t.addSecs(1); // every record in a second of its own
        unit->setLastUpdated(t);
        if (!out.writeData()) {
            state.SkipWithError("the record was not written");
            break;
        }
        if (++records % 200 == 0) {
            state.PauseTiming();
            QFile::resize(path, 0);
            state.ResumeTiming();
        }
    }
    state.SetItemsProcessed(state.iterations() * n);
}

void BM_OutputRecord(benchmark::State &state)
{
    outputRecord(state, QString());
}

void BM_OutputRecordFourColumns(benchmark::State &state)
{
    outputRecord(state, QStringLiteral("kks,value,validity,validitycode"));
}

} // namespace

BENCHMARK(BM_InputPollAndConvert)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OutputRecord)->Arg(1000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_OutputRecordFourColumns)->Arg(1000)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
