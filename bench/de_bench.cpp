// The DE link's hot paths: the checksum, the receive path from bytes into
// parameters, and one tick's outgoing packs.
#include "allocationcount.h"
#include "config/csvtieparam.h"
#include "config/csvtieunit.h"
#include "core/basetieunit.h"
#include "links/de/decrc16.h"
#include "links/de/deprotocolclienttie.h"
#include "links/de/deprotocolpackets.h"
#include "links/de/deptparampackprocessor.h"
#include "links/de/qdepackprocessor.h"
#include "links/de/qdeprotocol.h"
#include "links/de/qdesocket.h"

#include <dpdatatype.h>

#include <QCoreApplication>
#include <QDateTime>

#include <benchmark/benchmark.h>

#include <atomic>
#include <random>

namespace {

QByteArray randomBytes(int size)
{
    std::mt19937 random(7);
    QByteArray bytes(size, '\0');
    for (char &c : bytes)
        c = static_cast<char>(random());
    return bytes;
}

void BM_Crc16(benchmark::State &state)
{
    const QByteArray bytes = randomBytes(static_cast<int>(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(deCrc16(bytes.constData(), static_cast<size_t>(bytes.size())));
    state.SetBytesProcessed(int64_t(state.iterations()) * bytes.size());
}
BENCHMARK(BM_Crc16)->Arg(28)->Arg(1024)->Arg(16076)->Arg(1 << 20);

void BM_Crc16QtChecksum(benchmark::State &state)
{
    const QByteArray bytes = randomBytes(static_cast<int>(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(qChecksum(bytes.constData(), static_cast<uint>(bytes.size())));
    state.SetBytesProcessed(int64_t(state.iterations()) * bytes.size());
}
BENCHMARK(BM_Crc16QtChecksum)->Arg(28)->Arg(1024)->Arg(16076)->Arg(1 << 20);

// A client tie without connections whose from-this unit holds `count`
// FLOAT parameters with the indices 0 .. count - 1, its processors
// registered, and a socket wired to its protocol that is fed bytes directly.
struct ReceivingTie {
    DEProtocolClientTie tie;
    QDESocket *socket;

    explicit ReceivingTie(int count)
    {
        auto *unit = new CsvTieUnit(&tie);
        unit->setDirection(BaseTieUnit::dirFromThis);
        for (int i = 0; i < count; ++i) {
            auto *param = new CsvTieParam(unit, dpdtFloat, i, QString(), QString(), QStringLiteral("P%1").arg(i), QString());
            unit->addParam(param);
            unit->csvParamsHash().add(param);
        }
        tie.addUnit(unit);
        tie.registerProcessor(new QDEStubPackProcessor(&tie));
        tie.registerProcessor(new DEPTParamPackProcessor(&tie, &tie));
        socket = new QDESocket(QString(), 0);
        tie.protocol()->addSocket(socket);
    }
};

// What one read of the socket brings: `packs` packs of `perPack` FLOAT
// parameters each, with their own times, as a gateway sends them.
QByteArray floatPacks(int packs, int perPack)
{
    DEProtocolPackets packets;
    const QDateTime time = QDateTime::fromMSecsSinceEpoch(1714564800250, Qt::UTC);
    QByteArray bytes;
    for (int p = 0; p < packs; ++p) {
        for (int i = 0; i < perPack; ++i) {
            const float value = float(i) * 0.5f;
            packets.add(dpdtFloat, static_cast<quint32>(i), reinterpret_cast<const uchar *>(&value), 4, time);
        }
        for (const QByteArray &frame : packets.takeFrames())
            bytes += frame;
    }
    return bytes;
}

// The receive path: reassembly, both checksums of every frame, the pack
// header checks and the parameter walk, and the writes into 1 000
// parameters per pack. Items are parameters.
void BM_ReceiveParamPacks(benchmark::State &state)
{
    const int packsPerRead = static_cast<int>(state.range(0));
    ReceivingTie receiving(1000);
    const QByteArray read = floatPacks(packsPerRead, 1000);
    const long before = allocationCount();
    for (auto _ : state)
        receiving.socket->receiveBytes(read);
    const double reads = double(state.iterations());
    state.counters["allocs_per_read"] = double(allocationCount() - before) / reads;
    state.counters["allocs_per_param"] = double(allocationCount() - before) / (reads * packsPerRead * 1000);
    if (receiving.tie.counters().valuesReceived != quint64(state.iterations()) * quint64(packsPerRead) * 1000u)
        state.SkipWithError("not every parameter was taken");
    state.SetItemsProcessed(int64_t(state.iterations()) * packsPerRead * 1000);
    state.SetBytesProcessed(int64_t(state.iterations()) * read.size());
}
BENCHMARK(BM_ReceiveParamPacks)->Arg(1)->Arg(16);

// The same packs arriving in pieces of 1 460 bytes (one TCP segment each).
void BM_ReceiveParamPacksInSegments(benchmark::State &state)
{
    ReceivingTie receiving(1000);
    const QByteArray read = floatPacks(16, 1000);
    QVector<QByteArray> segments;
    for (int at = 0; at < read.size(); at += 1460)
        segments.append(read.mid(at, 1460));
    for (auto _ : state) {
        for (const QByteArray &segment : qAsConst(segments))
            receiving.socket->receiveBytes(segment);
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * 16 * 1000);
    state.SetBytesProcessed(int64_t(state.iterations()) * read.size());
}
BENCHMARK(BM_ReceiveParamPacksInSegments);

// One tick's sending: 10 000 consumer parameters of three types are
// collected as their conversions report them, then every pack is finished
// (both checksums) and handed to the protocol.
void BM_SendTick(benchmark::State &state)
{
    DEProtocolClientTie tie;
    auto *unit = new CsvTieUnit(&tie);
    unit->setDirection(BaseTieUnit::dirToThis);
    const DPDataType types[] = {dpdtFloatValid, dpdtSDWordState, dpdtDTSFloat};
    const QDateTime time = QDateTime::fromMSecsSinceEpoch(1714564800250, Qt::UTC);
    QVector<CsvTieParam *> params;
    for (int i = 0; i < 10000; ++i) {
        auto *param = new CsvTieParam(unit, types[i % 3], i, QString(), QString(), QStringLiteral("C%1").arg(i), QString());
        param->setDataTime(time.addMSecs(i % 7));
        unit->addParam(param);
        params.append(param);
    }
    tie.addUnit(unit);
    const long before = allocationCount();
    for (auto _ : state) {
        for (CsvTieParam *param : qAsConst(params))
            tie.doPostParamConversionWork(param);
        tie.sendDirty();
    }
    state.counters["allocs_per_tick"] = double(allocationCount() - before) / double(state.iterations());
    state.SetItemsProcessed(int64_t(state.iterations()) * params.size());
}
BENCHMARK(BM_SendTick)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
