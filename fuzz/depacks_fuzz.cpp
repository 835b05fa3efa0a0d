// Feeds parameter packs to a DE tie loaded through the program's loader:
// its two incoming lists hold parameters of every data type with a value
// (indices 0..3 and the largest index; the second list repeats index 2),
// and the first list's parameters of index 1 are converted into consumers
// of every definition type in a queue tie's "out" area, so each conversion
// meets arbitrary bytes. Each pack is handed to the tie's protocol object
// as a received frame, and the ties convert after each.
//
// The input is a list of packs. A pack starts with a mode byte: bits 0-1
// the packing type (1, 2, 1, or a word from the input), bits 2-3 the common
// time type (6, 0, 6, or a word), bits 4-5 the param time type (6, 0, 0, or
// a word), bit 6 a header size word instead of 40, bit 7 a raw body (a
// length byte x 4, then the bytes) instead of all that follows. Then: data
// type byte (mod 48), parameter byte (mod 16), count byte (below 0xC0: the
// parameters appended, else the claimed count is the byte - 0xC0), start
// index byte, common seconds (word) and msecs (two bytes mod 1100); per
// parameter its index byte (or a word after 0xF0), seconds byte and msecs
// (two bytes mod 1100), and its value; last a cut byte (from 0xE0 on, that
// many bytes minus 0xE0 are cut off the parameters).
//
// Besides crashes and sanitizer reports it checks, for a pack with the
// usual header size, that exactly the parameters the pack addresses change,
// each to its value and time, and none for a malformed pack; for any other
// pack, that only parameters of its data type change, to bytes it carries
// and a valid time.
//
// With FERROX_FUZZ_SEEDS=<directory> the program writes its seed inputs
// there instead and exits (run the replay program for that:
// FERROX_FUZZ_SEEDS=fuzz/corpus/depacks build/tests/bin/depacks_replay /dev/null).
#include "fuzzsupport.h"

#include "app/sectiontable.h"
#include "config/csvlistloader.h"
#include "config/csvtieparam.h"
#include "config/ferroxxmlconfig.h"
#include "config/qdeffilestruct.h"
#include "conversion/conversionregistry.h"
#include "conversion/singleproviderconverter.h"
#include "core/basetieunit.h"
#include "core/clock.h"
#include "core/gateconfig.h"
#include "links/de/deframe.h"
#include "links/de/deparampack.h"
#include "links/de/deprotocolclienttie.h"
#include "links/de/qdeprotocol.h"
#include "links/de/qdesocket.h"

#include <dpdatatype.h>

#include <QDir>
#include <QFile>
#include <QHash>
#include <QTimer>
#include <QVector>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mqueue.h>

namespace {

constexpr quint32 kLargestIndex = 0x7FFFFFFF;
// Indices an index byte chooses from: those of the lists, and one of none.
const quint32 kIndices[] = {0, 1, 2, 3, kLargestIndex, 9};

size_t elementSize(quint32 type)
{
    return static_cast<size_t>(qMax(0, DPDataTypeElementSize(static_cast<int>(type))));
}

// Data types the lists hold: every one with a value that a list can name.
QVector<quint32> listTypes()
{
    QVector<quint32> types;
    for (quint32 type = 1; type < DEPack::DataTypeLimit; ++type) {
        if (elementSize(type) > 0 && csvTypeFromCode(DPDataTypeToString(static_cast<int>(type))) == type)
            types.append(type);
    }
    return types;
}

QByteArray listFile(const QVector<quint32> &types, const QVector<quint32> &indices, char prefix)
{
    QByteArray text = "index,type,kks\n";
    for (quint32 type : types) {
        for (quint32 index : indices)
            text += QByteArray::number(index) + ',' + DPDataTypeToString(static_cast<int>(type)).toLatin1() + ','
                + prefix + QByteArray::number(type) + '_' + QByteArray::number(index) + '\n';
    }
    return text;
}

// A consumer of every type for T<type>_1 of every list type.
QByteArray consumersDefinition(const QVector<quint32> &types)
{
    QByteArray records;
    quint64 offset = 0;
    for (quint32 from : types) {
        for (int to = 1; !QDefFileStruct::keywordOf(to).isEmpty(); ++to) {
            records += "T" + QByteArray::number(from) + "_1," + QDefFileStruct::keywordOf(to).toLatin1() + ','
                + QByteArray::number(offset) + ",1,1,1\n";
            offset += static_cast<quint64>(QDefFileStruct::elementBytesOf(to));
        }
    }
    return "CONSUMERS\n" + QByteArray::number(offset) + '\n' + records;
}

struct Setup {
    GateConfig config;
    QByteArray outName = fuzzQueueName("out");
    DEProtocolClientTie *tie = nullptr;
    QVector<quint32> types = listTypes();
    QVector<CsvTieParam *> params; // the tie's incoming parameters
    bool ok = false;

    Setup()
    {
        ConversionRegistry::fillGlobal();
        FerroxXmlConfig::setLanguage(QStringLiteral("en"));
        Clock::setFixed(QDateTime(QDate(2024, 5, 1), QTime(12, 0), Qt::UTC));
        // Port 1 on the loopback refuses: the tie never gets a peer, and
        // its timer is stopped below, so it does not try again.
        const QByteArray text = "<config><misc><locale lang='en'/><times/></misc>"
                                "<deprotocolclient id='de'>"
                                "<csvlist file='in1.csv' index='0' type='1' kks='2' direction='in'/>"
                                "<csvlist file='in2.csv' index='0' type='1' kks='2' direction='in'/>"
                                "<connection host='127.0.0.1' port='1'/></deprotocolclient>"
                                "<mqueue><defarea file='out.def' direction='out'/><connection filename='"
            + outName + "' direction='out'/></mqueue></config>";
        if (fuzzWriteFile(QStringLiteral("in1.csv"), listFile(types, {0, 1, 2, 3, kLargestIndex}, 'T')).isEmpty()
            || fuzzWriteFile(QStringLiteral("in2.csv"), listFile(types, {2}, 'U')).isEmpty()
            || fuzzWriteFile(QStringLiteral("out.def"), consumersDefinition(types)).isEmpty())
            return;
        FerroxXmlConfig loader(config, &makeConverter, ferroxSectionTable());
        if (!loader.loadConf(fuzzWriteFile(QStringLiteral("ferrox.cfg"), text)) || config.ties().isEmpty())
            return;
        tie = qobject_cast<DEProtocolClientTie *>(config.ties().first());
        if (!tie)
            return;
        for (BaseTie *t : config.ties())
            t->init();
        if (QTimer *timer = QDESocket::tickTimer())
            timer->stop();
        for (BaseTieUnit *unit : tie->units()) {
            for (BaseTieParam *param : unit->params())
                params.append(static_cast<CsvTieParam *>(param));
        }
        ok = params.size() == types.size() * 6;
    }

    ~Setup() { ::mq_unlink(outName.constData()); }

    void pollAll()
    {
        for (BaseTie *t : config.ties())
            t->pollAndConvert();
        Clock::advance(500);
    }
};

Setup &setup()
{
    static Setup s;
    if (!s.ok) {
        std::fprintf(stderr, "depacks_fuzz: the ties could not be set up\n");
        std::abort();
    }
    return s;
}

quint32 word(FuzzInput &in)
{
    const QByteArray b = in.take(4) + QByteArray(4, '\0');
    return deWord(b.constData());
}

quint32 msecsOf(FuzzInput &in)
{
    const quint32 low = in.byte();
    return (low | static_cast<quint32>(in.byte()) << 8) % 1100;
}

QDateTime timeOf(quint32 seconds, quint32 msecs)
{
    return QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(seconds) * 1000 + msecs, Qt::UTC);
}

QByteArray wordBytes(quint32 value)
{
    QByteArray b(4, '\0');
    dePutWord(b.data(), value);
    return b;
}

// What one parameter of the tie holds.
struct Held {
    QByteArray value;
    QDateTime time;
};
Held heldBy(const CsvTieParam *param)
{
    return {QByteArray(reinterpret_cast<const char *>(param->values()), static_cast<int>(param->size())),
            param->dataTime()};
}

// A pack built from the input, and what it must write when its header
// size is the usual one (`exact`): value and time by type and index.
struct Pack {
    QByteArray frame;
    bool exact = false;
    quint32 type = 0; // as the pack says (0 for the values 44 and above)
    QHash<QPair<quint32, quint32>, Held> writes;
};

Pack readPack(FuzzInput &in, const QVector<quint32> &types)
{
    Pack pack;
    const uint8_t mode = in.byte();
    if (mode & 0x80) {
        const QByteArray body = in.take(size_t(in.byte()) * 4);
        pack.frame = buildDEFrame(DEFrame::ModuleParamPack, body);
        const quint32 type = body.size() >= 16 ? deWord(body.constData() + 12) : 0;
        pack.type = type < DEPack::DataTypeLimit ? type : 0;
        return pack;
    }
    const auto choose = [&](unsigned bits, quint32 a, quint32 b, quint32 c) {
        const quint32 v[] = {a, b, c};
        return bits < 3 ? v[bits] : word(in);
    };
    const quint32 packing = choose(mode & 3, 1, 2, 1);
    const quint32 commonTime = choose((mode >> 2) & 3, 6, 0, 6);
    const quint32 paramTime = choose((mode >> 4) & 3, 6, 0, 0);
    const quint32 headerSize = (mode & 0x40) ? word(in) : DEPack::SentHeaderSize;
    const quint32 rawType = in.byte() % 48;
    const quint32 type = rawType < DEPack::DataTypeLimit ? rawType : 0;
    const int appended = in.byte() % 16;
    const uint8_t countByte = in.byte();
    const quint32 count = countByte < 0xC0 ? quint32(appended) : quint32(countByte - 0xC0);
    const uint8_t startByte = in.byte();
    const quint32 start = startByte < 0xF0 ? kIndices[startByte % 6] : word(in);
    const quint32 commonSeconds = 1714564800 + word(in) % 100000;
    const quint32 commonMsecs = msecsOf(in);
    const size_t valueBytes = elementSize(type);

    struct Param {
        quint32 index;
        quint32 seconds;
        quint32 msecs;
        QByteArray value;
    };
    QVector<Param> list;
    QByteArray params;
    for (int i = 0; i < appended; ++i) {
        Param p;
        const uint8_t indexByte = in.byte();
        p.index = indexByte < 0xF0 ? kIndices[indexByte % 6] : word(in);
        p.seconds = commonSeconds + in.byte();
        p.msecs = msecsOf(in);
        p.value = in.take(valueBytes);
        p.value.append(QByteArray(static_cast<int>(valueBytes) - p.value.size(), '\0'));
        if (packing == DEPack::PackingIndexed)
            params += wordBytes(p.index);
        if (paramTime == DEPack::TimeUnixMsecs)
            params += wordBytes(p.seconds) + wordBytes(p.msecs);
        params += p.value;
        list.append(p);
    }
    const uint8_t cut = in.byte();
    if (cut >= 0xE0)
        params.chop(cut - 0xE0);
    QByteArray body;
    for (quint32 v : {headerSize, DEPack::SentVersion, packing, rawType, commonTime, paramTime, start, count,
                      commonSeconds, commonMsecs})
        body += wordBytes(v);
    pack.frame = buildDEFrame(DEFrame::ModuleParamPack, body + params);
    pack.type = type;
    pack.exact = headerSize == DEPack::SentHeaderSize;

    // What a well-formed pack writes: a malformed header writes nothing, a
    // pack ends where its parameters run out, past the largest index
    // (counted on; an indexed entry past it is skipped), or at its count; a
    // parameter with msecs of 1000 or more is skipped.
    const bool wellFormed = (packing == DEPack::PackingIndexed || packing == DEPack::PackingSequential)
        && (commonTime == DEPack::TimeNone || commonTime == DEPack::TimeUnixMsecs)
        && (paramTime == DEPack::TimeNone || paramTime == DEPack::TimeUnixMsecs)
        && !(paramTime == DEPack::TimeNone && commonTime == DEPack::TimeUnixMsecs && commonMsecs >= 1000);
    if (!pack.exact || !wellFormed || !types.contains(type))
        return pack;
    const size_t step = valueBytes + (packing == DEPack::PackingIndexed ? 4 : 0)
        + (paramTime == DEPack::TimeUnixMsecs ? 8 : 0);
    const quint64 fit = static_cast<quint64>(params.size()) / step;
    const quint64 read = qMin<quint64>(qMin<quint64>(count, fit), static_cast<quint64>(list.size()));
    for (quint64 i = 0; i < read; ++i) {
        const Param &p = list[static_cast<int>(i)];
        const quint64 index = packing == DEPack::PackingIndexed ? p.index : quint64(start) + i;
        if (index > kLargestIndex) {
            if (packing == DEPack::PackingIndexed)
                continue;
            break;
        }
        QDateTime time;
        if (paramTime == DEPack::TimeUnixMsecs) {
            if (p.msecs >= 1000)
                continue;
            time = timeOf(p.seconds, p.msecs);
        } else {
            time = commonTime == DEPack::TimeUnixMsecs ? timeOf(commonSeconds, commonMsecs) : Clock::nowUtc();
        }
        pack.writes.insert(qMakePair(type, quint32(index)), Held{p.value, time});
    }
    return pack;
}

void writeSeeds(const QString &directory)
{
    QDir().mkpath(directory);
    const QByteArray value8("\x00\x00\xc0\x41\x01\x00\x00\x00", 8); // 24.0f, valid
    const QVector<QPair<const char *, QByteArray>> seeds = {
        // FLOATVALID (18), indexed, both times, two parameters.
        {"indexed-both-times", QByteArray("\x00\x12\x02\x00\x00", 5) + wordBytes(10) + QByteArray("\x10\x00", 2)
             + QByteArray("\x01\x05\x20\x01", 4) + value8 + QByteArray("\x02\x06\x30\x02", 4) + value8
             + QByteArray("\x00", 1)},
        // FLOAT (9), sequential from 1, common time only, three values.
        {"sequential-common-time", QByteArray("\x21\x09\x03\x00\x01", 5) + wordBytes(20) + QByteArray("\x00\x01", 2)
             + QByteArray("\x00\x00\x00\x00\x00\x00\x80\x3f", 8) + QByteArray("\x00\x00\x00\x00\x00\x00\x00\x40", 8)
             + QByteArray("\x00\x00\x00\x00\x00\x00\x40\x40", 8) + QByteArray("\x00", 1)},
        // SDWORD (6) without any time: stamped now.
        {"no-time", QByteArray("\x14\x06\x01\x00\x00", 5) + wordBytes(0) + QByteArray("\x00\x00", 2)
             + QByteArray("\x03\x00\x00\x00\x07\x00\x00\x00", 8) + QByteArray("\x00", 1)},
        // TIMESPEC64 (43), 16-byte values, one to the largest index.
        {"largest-index", QByteArray("\x00\x2b\x01\x00\x00", 5) + wordBytes(5) + QByteArray("\x00\x00", 2)
             + QByteArray("\x04\x00\x00\x00", 4) + QByteArray(16, '\x5a') + QByteArray("\x00", 1)},
        // Sequential from the largest index: the second is past it.
        {"sequential-past-largest", QByteArray("\x21\x05\x02\x00\x04", 5) + wordBytes(1) + QByteArray("\x00\x00", 2)
             + QByteArray(16, '\x01') + QByteArray("\x00", 1)},
        // The count claims more than the pack holds; then one cut short.
        {"count-too-big", QByteArray("\x00\x09\x02\xc5\x00", 5) + wordBytes(2) + QByteArray("\x00\x00", 2)
             + QByteArray("\x01\x00\x00\x00", 4) + QByteArray(4, '\x11') + QByteArray("\x02\x00\x00\x00", 4)
             + QByteArray(4, '\x22') + QByteArray("\x00", 1) + QByteArray("\x00\x09\x02\x00\x00", 5) + wordBytes(2)
             + QByteArray("\x00\x00", 2) + QByteArray("\x01\x00\x00\x00", 4) + QByteArray(4, '\x11')
             + QByteArray("\x02\x00\x00\x00", 4) + QByteArray(4, '\x22') + QByteArray("\xe6", 1)},
        // Own msecs of 1000 and more: that parameter is skipped.
        {"bad-param-msecs", QByteArray("\x00\x09\x02\x00\x00", 5) + wordBytes(2) + QByteArray("\x00\x00", 2)
             + QByteArray("\x01\x00\xe8\x03", 4) + QByteArray(4, '\x11') + QByteArray("\x03\x00\x01\x00", 4)
             + QByteArray(4, '\x22') + QByteArray("\x00", 1)},
        // Common msecs of 1000 without param times: the pack is dropped.
        {"bad-common-msecs", QByteArray("\x10\x09\x01\x00\x00", 5) + wordBytes(2) + QByteArray("\xe8\x03", 2)
             + QByteArray("\x01", 1) + QByteArray(4, '\x11') + QByteArray("\x00", 1)},
        // Packing, common and param time types from words.
        {"bad-header-fields", QByteArray("\x03", 1) + wordBytes(3) + QByteArray("\x09\x01\x00\x00", 4) + wordBytes(0)
             + QByteArray("\x00\x00\x01\x00\x00\x00", 6) + QByteArray(4, '\x11') + QByteArray("\x00", 1)
             + QByteArray("\x3c", 1) + wordBytes(6) + wordBytes(7) + QByteArray("\x09\x00\x00\x00", 4)
             + wordBytes(0) + QByteArray("\x00\x00\x00", 3)},
        // A header size of 32 and one past the room.
        {"header-sizes", QByteArray("\x40", 1) + wordBytes(32) + QByteArray("\x09\x01\x00\x00", 4) + wordBytes(0)
             + QByteArray("\x00\x00\x01\x00\x00\x00", 6) + QByteArray(4, '\x11') + QByteArray("\x00", 1)
             + QByteArray("\x40", 1) + wordBytes(1000) + QByteArray("\x09\x00\x00\x00", 4) + wordBytes(0)
             + QByteArray("\x00\x00\x00", 3)},
        // Types the tie has none of (0 and 44 and above), and BYTE (1).
        {"other-types", QByteArray("\x00\x00\x01\x00\x00", 5) + wordBytes(0) + QByteArray("\x00\x00\x01\x00\x00\x00", 6)
             + QByteArray("\x00", 1) + QByteArray("\x00\x2e\x01\x00\x00", 5) + wordBytes(0)
             + QByteArray("\x00\x00\x01\x00\x00\x00", 6) + QByteArray("\x00", 1)
             + QByteArray("\x00\x01\x01\x00\x00", 5) + wordBytes(0) + QByteArray("\x00\x00\x02\x00\x00\x00", 6)
             + QByteArray("\x7f", 1) + QByteArray("\x00", 1)},
        // Raw bodies: too short, then a hand-made header of a FLOAT pack.
        {"raw-bodies", QByteArray("\x80\x03", 2) + QByteArray(12, '\x01') + QByteArray("\x80\x0d", 2) + wordBytes(40)
             + wordBytes(DEPack::SentVersion) + wordBytes(2) + wordBytes(9) + wordBytes(0) + wordBytes(0)
             + wordBytes(1) + wordBytes(3) + wordBytes(0) + wordBytes(0) + wordBytes(1) + wordBytes(2)
             + wordBytes(3)},
    };
    fuzzWriteSeeds(directory, seeds);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const QString seeds = qEnvironmentVariable("FERROX_FUZZ_SEEDS");
    if (!seeds.isEmpty())
        writeSeeds(seeds);
    Setup &s = setup();
    for (CsvTieParam *param : qAsConst(s.params)) {
        std::memset(param->valuesForWrite(), 0, param->size());
        param->setDataTime(QDateTime());
    }

    FuzzInput in(data, size);
    for (int packs = 0; packs < 8 && !in.atEnd(); ++packs) {
        const Pack pack = readPack(in, s.types);
        QVector<Held> before;
        for (const CsvTieParam *param : qAsConst(s.params))
            before.append(heldBy(param));
        s.tie->protocol()->slotPacketReceived(pack.frame);
        for (int i = 0; i < s.params.size(); ++i) {
            const CsvTieParam *param = s.params[i];
            const Held now = heldBy(param);
            const bool changed = now.value != before[i].value || now.time != before[i].time;
            if (pack.exact) {
                const auto it = pack.writes.constFind(qMakePair(param->metatype(), quint32(param->index())));
                if (it == pack.writes.constEnd()) {
                    check(!changed);
                } else {
                    check(now.value == it->value);
                    check(now.time == it->time);
                }
            } else if (changed) {
                check(param->metatype() == pack.type);
                check(pack.frame.contains(now.value));
                check(now.time.isValid());
            }
        }
        if (packs % 4 == 3)
            s.pollAll();
    }
    s.pollAll();
    return 0;
}
