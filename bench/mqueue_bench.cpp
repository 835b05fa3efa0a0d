#include "allocationcount.h"
#include "config/deftieunit.h"
#include "links/mqueue/mqconnection.h"
#include "links/mqueue/mqtie.h"

#include <QTextStream>

#include <benchmark/benchmark.h>

#include <atomic>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <mqueue.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr long kAreaBytes = 1024;

// A queue of this run, created with its own capacity and 1 KiB messages,
// unlinked when the object goes; `mqd` is a non-blocking descriptor for
// both directions.
struct BenchQueue {
    QByteArray name;
    mqd_t mqd = static_cast<mqd_t>(-1);

    explicit BenchQueue(long capacity)
    {
        static int counter = 0;
        name = QStringLiteral("/ferrox-bench-%1-%2").arg(::getpid()).arg(++counter).toLatin1();
        struct mq_attr attr;
        std::memset(&attr, 0, sizeof attr);
        attr.mq_maxmsg = capacity;
        attr.mq_msgsize = kAreaBytes;
        mqd = ::mq_open(name.constData(), O_RDWR | O_CREAT | O_EXCL | O_NONBLOCK, 0600, &attr);
    }
    ~BenchQueue()
    {
        if (ok())
            ::mq_close(mqd);
        ::mq_unlink(name.constData());
    }
    bool ok() const { return mqd != static_cast<mqd_t>(-1); }
    // Takes every waiting message; returns how many there were.
    int drain(char *buffer) const
    {
        int n = 0;
        while (::mq_receive(mqd, buffer, kAreaBytes, nullptr) >= 0)
            ++n;
        return n;
    }
};

// A 1 KiB definition area of 128 FLOATVALID values, added to `tie`.
DefTieUnit *addArea(MQTie &tie, quint32 direction)
{
    auto *unit = new DefTieUnit(&tie);
    QString text = QStringLiteral("AREA\n%1\nV,type_rval,0,128,1,1\n").arg(kAreaBytes);
    QTextStream stream(&text);
    unit->defStruct().LoadFromStream(stream);
    unit->setDirection(direction);
    unit->refreshParams();
    tie.addUnit(unit);
    return unit;
}

MQConnection *addQueue(MQTie &tie, const BenchQueue &queue, quint32 direction)
{
    auto *connection = new MQConnection;
    connection->setName(QString::fromLatin1(queue.name));
    connection->setDirection(direction);
    connection->setMessageSize(tie.largestUnitSize());
    tie.addConnection(connection);
    return connection->open() ? connection : nullptr;
}

// The kernel alone: one send and one receive of a 1 KiB message.
void BM_KernelSendReceive(benchmark::State &state)
{
    BenchQueue queue(8);
    if (!queue.ok()) {
        state.SkipWithError("cannot create the queue");
        return;
    }
    char message[kAreaBytes] = {1};
    char buffer[kAreaBytes];
    for (auto _ : state) {
        ::mq_send(queue.mqd, message, kAreaBytes, 0);
        ::mq_receive(queue.mqd, buffer, kAreaBytes, nullptr);
    }
    state.SetItemsProcessed(state.iterations());
}

// Messages received by a tie's poll: a writer puts three 1 KiB messages into
// the queue, one pollAndConvert() of the tie takes them into its "in" area
// (the newest wins) and converts the unit once. Items are messages; the
// writer's sends are part of the time.
void BM_Receive(benchmark::State &state)
{
    BenchQueue queue(8);
    if (!queue.ok()) {
        state.SkipWithError("cannot create the queue");
        return;
    }
    MQTie tie;
    addArea(tie, BaseTieUnit::dirFromThis);
    if (!addQueue(tie, queue, 1)) {
        state.SkipWithError("the tie cannot open the queue");
        return;
    }
    tie.init();
    char message[kAreaBytes] = {1};
    tie.pollAndConvert(); // first use: the list of "in" areas
    const long before = allocationCount();
    for (auto _ : state) {
        for (int i = 0; i < MQTie::MaxMessagesPerUnit; ++i)
            ::mq_send(queue.mqd, message, kAreaBytes, 0);
        tie.pollAndConvert();
    }
    const double messages = double(state.iterations()) * MQTie::MaxMessagesPerUnit;
    if (tie.counters().framesIn + MQTie::MaxMessagesPerUnit < messages)
        state.SkipWithError("messages were not received");
    state.counters["allocs_per_msg"] = double(allocationCount() - before) / messages;
    state.SetItemsProcessed(static_cast<int64_t>(messages));
}

// Messages sent by a tie: one dirty 1 KiB "out" area, one sendDirty() to one
// queue; a reader takes the message. Items are messages.
void BM_Send(benchmark::State &state)
{
    BenchQueue queue(8);
    if (!queue.ok()) {
        state.SkipWithError("cannot create the queue");
        return;
    }
    MQTie tie;
    DefTieUnit *unit = addArea(tie, BaseTieUnit::dirToThis);
    if (!addQueue(tie, queue, 2)) {
        state.SkipWithError("the tie cannot open the queue");
        return;
    }
    char buffer[kAreaBytes];
    const long before = allocationCount();
    for (auto _ : state) {
        unit->setDirty(true);
        tie.sendDirty();
        ::mq_receive(queue.mqd, buffer, kAreaBytes, nullptr);
    }
    if (tie.counters().framesOut != static_cast<quint64>(state.iterations()))
        state.SkipWithError("messages were not sent");
    state.counters["allocs_per_msg"] = double(allocationCount() - before) / double(state.iterations());
    state.SetItemsProcessed(state.iterations());
}

// One send pass of a tie with 100 dirty 1 KiB "out" areas to 4 queues (400
// messages); the queues are emptied outside the timing. Needs queues of 100
// messages and more: see bench/README.md.
void BM_SendTick100Areas4Queues(benchmark::State &state)
{
    constexpr int kAreas = 100;
    constexpr int kQueues = 4;
    std::vector<std::unique_ptr<BenchQueue>> queues;
    MQTie tie;
    QList<DefTieUnit *> units;
    for (int i = 0; i < kAreas; ++i)
        units << addArea(tie, BaseTieUnit::dirToThis);
    for (int q = 0; q < kQueues; ++q) {
        queues.emplace_back(new BenchQueue(kAreas));
        if (!queues.back()->ok() || !addQueue(tie, *queues.back(), 2)) {
            state.SkipWithError("cannot create queues of 100 messages (raise fs.mqueue.msg_max, see bench/README.md)");
            return;
        }
    }
    char buffer[kAreaBytes];
    for (auto _ : state) {
        for (DefTieUnit *unit : qAsConst(units))
            unit->setDirty(true);
        tie.sendDirty();
        state.PauseTiming();
        int drained = 0;
        for (const auto &queue : queues)
            drained += queue->drain(buffer);
        state.ResumeTiming();
        if (drained != kAreas * kQueues) {
            state.SkipWithError("not every message was sent");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations() * kAreas * kQueues);
}

} // namespace

BENCHMARK(BM_KernelSendReceive);
BENCHMARK(BM_Receive);
BENCHMARK(BM_Send);
BENCHMARK(BM_SendTick100Areas4Queues)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
