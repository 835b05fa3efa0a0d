#include <qdatapacket.h>

#include <QCoreApplication>
#include <QVector>

#include <benchmark/benchmark.h>

namespace {

// A template of `sections` sections, each holding `subsections` sections of
// `leaves` data nodes (DWORD, FLOAT, WORD, BIT in turn), written out element
// by element as a template file would be.
QByteArray templateXml(int sections, int subsections, int leaves)
{
    static const char *const kTypes[] = {"dword", "float", "word", "bit"};
    QByteArray xml = "<packet name='bench'>";
    for (int s = 0; s < sections; ++s) {
        xml += "<section name='s" + QByteArray::number(s) + "'>";
        for (int t = 0; t < subsections; ++t) {
            xml += "<section name='t" + QByteArray::number(t) + "'>";
            for (int v = 0; v < leaves; ++v)
                xml += "<data name='v" + QByteArray::number(v) + "' datatype='" + kTypes[v % 4] + "'/>";
            xml += "</section>";
        }
        xml += "</section>";
    }
    return xml + "</packet>";
}

// 1 + 10 + 100 + 900 = 1011 nodes.
QByteArray thousandNodes()
{
    return templateXml(10, 10, 9);
}

const QString kDepth4Path = QStringLiteral("/packet/section[@id=\"s7\"]/section[@id=\"t3\"]/data[@id=\"v4\"]");

// Handles of every DWORD node.
QVector<QDataPacketNode> dwordHandles(QDataPacket &packet)
{
    QVector<QDataPacketNode> handles;
    for (const QDataPacketNode &s : packet.childNodes())
        for (const QDataPacketNode &t : s.childNodes())
            for (const QDataPacketNode &v : t.childNodes())
                if (v.dataTypeName() == QLatin1String("DWORD"))
                    handles.append(v);
    return handles;
}

// getULong() through a handle, over all DWORD handles in turn.
void BM_HandleRead(benchmark::State &state)
{
    QDataPacket packet;
    if (!packet.parseXML(thousandNodes())) {
        state.SkipWithError("template does not parse");
        return;
    }
    const QVector<QDataPacketNode> handles = dwordHandles(packet);
    unsigned long sum = 0;
    for (auto _ : state) {
        for (const QDataPacketNode &h : handles)
            sum += h.getULong();
    }
    benchmark::DoNotOptimize(sum);
    state.SetItemsProcessed(state.iterations() * handles.size());
}
BENCHMARK(BM_HandleRead);

// setULong() through a handle, over all DWORD handles in turn.
void BM_HandleWrite(benchmark::State &state)
{
    QDataPacket packet;
    if (!packet.parseXML(thousandNodes())) {
        state.SkipWithError("template does not parse");
        return;
    }
    QVector<QDataPacketNode> handles = dwordHandles(packet);
    unsigned long value = 0;
    for (auto _ : state) {
        for (QDataPacketNode &h : handles)
            h.setULong(++value);
    }
    benchmark::ClobberMemory();
    state.SetItemsProcessed(state.iterations() * handles.size());
}
BENCHMARK(BM_HandleWrite);

// Resolving a depth-4 path with id predicates from the root.
void BM_PathLookup(benchmark::State &state)
{
    QDataPacket packet;
    if (!packet.parseXML(thousandNodes())) {
        state.SkipWithError("template does not parse");
        return;
    }
    const QDataPacketInternal *root = packet.templateInternal();
    for (auto _ : state)
        benchmark::DoNotOptimize(root->getNodeInternalByPath(kDepth4Path));
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_PathLookup);

// getULongByPath() with the same path: look-up plus read.
void BM_PathRead(benchmark::State &state)
{
    QDataPacket packet;
    if (!packet.parseXML(thousandNodes())) {
        state.SkipWithError("template does not parse");
        return;
    }
    unsigned long sum = 0;
    for (auto _ : state)
        sum += packet.getULongByPath(kDepth4Path);
    benchmark::DoNotOptimize(sum);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_PathRead);

// Parsing a template of 1 + 100 + 900 + 9000 = 10001 nodes from its text.
void BM_Parse10000(benchmark::State &state)
{
    const QByteArray xml = templateXml(100, 10, 9);
    for (auto _ : state) {
        QDataPacket packet;
        if (!packet.parseXML(xml)) {
            state.SkipWithError("template does not parse");
            return;
        }
        benchmark::DoNotOptimize(packet.buffer().size());
    }
    state.SetItemsProcessed(state.iterations() * 10001);
}
BENCHMARK(BM_Parse10000)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    ::benchmark::Initialize(&argc, argv);
    if (::benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    ::benchmark::RunSpecifiedBenchmarks();
    return 0;
}
