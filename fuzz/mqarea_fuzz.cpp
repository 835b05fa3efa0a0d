// Feeds arbitrary messages to a queue tie through a real message queue:
// the tie reads two "in" areas of different sizes, one with a record of
// every definition type (a few of them arrays), and every record is
// converted into consumers of every type in an "out" area, so each
// conversion meets arbitrary bytes (NaNs, huge counts, broken time
// stamps). The input is a list of messages, each a mode byte (0: the first
// area's size, 1: the second's, else: a length byte follows) and its bytes
// (zeros when the input runs out); the queue is then polled until empty.
// The sanitizers judge the run.
#include "fuzzsupport.h"

#include "app/sectiontable.h"
#include "config/ferroxxmlconfig.h"
#include "config/qdeffilestruct.h"
#include "conversion/conversionregistry.h"
#include "conversion/singleproviderconverter.h"
#include "core/baseareatieunit.h"
#include "core/clock.h"
#include "core/gateconfig.h"
#include "links/mqueue/mqtie.h"

#include <QStringList>

#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mqueue.h>

namespace {

// Array records: type code -> first dimension.
int firstDimension(int code)
{
    return code == 7 ? 4 : code == 16 ? 2 : 1;
}

// One record of every type code, named after it.
QByteArray everyTypeDefinition(quint64 &size)
{
    QByteArray records;
    quint64 offset = 0;
    for (int code = 1; !QDefFileStruct::keywordOf(code).isEmpty(); ++code) {
        const int dim = firstDimension(code);
        records += "P" + QByteArray::number(code) + ',' + QDefFileStruct::keywordOf(code).toLatin1() + ','
            + QByteArray::number(offset) + ',' + QByteArray::number(dim) + ",1,1\n";
        offset += static_cast<quint64>(QDefFileStruct::elementBytesOf(code) * dim);
    }
    size = offset;
    return "EVERY\n" + QByteArray::number(offset) + '\n' + records;
}

// A consumer of every provider P<code> under every type.
QByteArray consumersDefinition()
{
    QByteArray records;
    quint64 offset = 0;
    for (int from = 1; !QDefFileStruct::keywordOf(from).isEmpty(); ++from) {
        for (int to = 1; !QDefFileStruct::keywordOf(to).isEmpty(); ++to) {
            records += "P" + QByteArray::number(from) + ',' + QDefFileStruct::keywordOf(to).toLatin1() + ','
                + QByteArray::number(offset) + ",1,1,1\n";
            offset += static_cast<quint64>(QDefFileStruct::elementBytesOf(to));
        }
    }
    return "CONSUMERS\n" + QByteArray::number(offset) + '\n' + records;
}

struct Setup {
    GateConfig config;
    QByteArray inName = fuzzQueueName("in");
    QByteArray outName = fuzzQueueName("out");
    MQTie *tie = nullptr;
    mqd_t writer = static_cast<mqd_t>(-1);
    quint64 sizes[2] = {0, 16};
    bool ok = false;

    Setup()
    {
        ConversionRegistry::fillGlobal();
        FerroxXmlConfig::setLanguage(QStringLiteral("en"));
        Clock::setFixed(QDateTime(QDate(2024, 5, 1), QTime(12, 0), Qt::UTC));
        const QByteArray every = everyTypeDefinition(sizes[0]);
        const QByteArray text = "<config><misc><locale lang='en'/><times/></misc>"
                                "<mqueue><defarea file='every.def' direction='in'/>"
                                "<defarea file='small.def' direction='in'/><connection filename='"
            + inName + "' direction='in'/></mqueue>"
            + "<mqueue><defarea file='out.def' direction='out'/><connection filename='" + outName
            + "' direction='out'/></mqueue></config>";
        if (fuzzWriteFile(QStringLiteral("every.def"), every).isEmpty()
            || fuzzWriteFile(QStringLiteral("small.def"), "SMALL\n16\nS1,type_rval,0,1,1,1\nS2,type_sival,8,1,1,1\n")
                   .isEmpty()
            || fuzzWriteFile(QStringLiteral("out.def"), consumersDefinition()).isEmpty())
            return;
        FerroxXmlConfig loader(config, &makeConverter, ferroxSectionTable());
        if (!loader.loadConf(fuzzWriteFile(QStringLiteral("ferrox.cfg"), text)) || config.ties().isEmpty())
            return;
        tie = qobject_cast<MQTie *>(config.ties().first());
        writer = ::mq_open(inName.constData(), O_RDWR | O_NONBLOCK);
        ok = tie && writer != static_cast<mqd_t>(-1);
        for (BaseTie *t : config.ties())
            t->init();
    }

    ~Setup()
    {
        if (writer != static_cast<mqd_t>(-1))
            ::mq_close(writer);
        ::mq_unlink(inName.constData());
        ::mq_unlink(outName.constData());
    }

    void pollAll()
    {
        for (BaseTie *t : config.ties())
            t->pollAndConvert();
        Clock::advance(500);
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static Setup setup;
    if (!setup.ok)
        return 0;
    for (BaseTieUnit *unit : setup.tie->units()) {
        auto *area = qobject_cast<BaseAreaTieUnit *>(unit);
        if (uchar *bytes = area ? setup.tie->data(area) : nullptr)
            std::memset(bytes, 0, static_cast<size_t>(area->unitSize()));
    }

    FuzzInput in(data, size);
    for (int sent = 0; sent < 10 && !in.atEnd(); ++sent) {
        const uint8_t mode = in.byte();
        const quint64 length = mode < 2 ? setup.sizes[mode] : in.byte();
        QByteArray message = in.take(static_cast<size_t>(length));
        message.append(QByteArray(static_cast<int>(length) - message.size(), '\0'));
        if (::mq_send(setup.writer, message.constData(), static_cast<size_t>(message.size()), 0) != 0)
            setup.pollAll(); // full: let the tie take some first
    }
    // Each poll takes a few messages: poll until the queue is empty, then
    // once more for what a poll held back.
    struct mq_attr attr;
    for (int i = 0; i < 10 && ::mq_getattr(setup.writer, &attr) == 0 && attr.mq_curmsgs > 0; ++i)
        setup.pollAll();
    setup.pollAll();
    char rest[1 << 16];
    while (::mq_receive(setup.writer, rest, sizeof rest, nullptr) >= 0) {
    }
    return 0;
}
