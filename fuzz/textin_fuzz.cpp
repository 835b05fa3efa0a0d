// Feeds arbitrary input files to the text file input tie's reading path,
// the way a writer fills them: the input is cut into up to three pieces
// (the first byte says where), the file is written with the first piece and
// polled, then each further piece is appended and polled again, the clock
// moving on in between. Two ties read the file, one keeping the previous
// value of an absent parameter; their values are converted into a text
// output tie's consumers of other types. The sanitizers judge the run.
#include "fuzzsupport.h"

#include "app/sectiontable.h"
#include "config/ferroxxmlconfig.h"
#include "conversion/conversionregistry.h"
#include "conversion/singleproviderconverter.h"
#include "core/clock.h"
#include "core/gateconfig.h"
#include "links/files/textfileintie.h"

#include <QFile>

namespace {

const char kInputList[] = "index,type,extid,kks\n"
                          "1,FLOATVALID,,T1\n"
                          "2,SDWORDVALID,,T2\n"
                          "3,FLOATSTATE,E3,T3\n"
                          "4,SDWORDSTATE,,T4\n"
                          "5,FLOAT,,T5\n"
                          "6,DTSFLOAT,,T6\n"
                          "7,SDWORDVALID,,E3\n";
// Consumers of every input under other types.
const char kOutputList[] = "index,type,kks\n"
                           "1,SDWORDSTATE,T1\n2,FLOATVALID,T2\n3,SWORD,T3\n4,DOUBLE,T4\n"
                           "5,BYTE,T5\n6,TIMESPEC,T6\n7,SDWORDERRCODE,E3\n8,QWORD,T1\n";

struct Setup {
    GateConfig config;
    QString input;
    bool ok = false;

    Setup()
    {
        ConversionRegistry::fillGlobal();
        FerroxXmlConfig::setLanguage(QStringLiteral("en"));
        Clock::setFixed(QDateTime(QDate(2024, 5, 1), QTime(12, 0), Qt::UTC));
        input = fuzzWriteFile(QStringLiteral("values.txt"), QByteArray());
        const QByteArray in = "<csvlist file='in.csv' index='0' type='1' extid='2' kks='3' direction='in'/><infile filename='"
            + input.toUtf8() + "'/>";
        const QByteArray text = "<config><misc><locale lang='en'/><times/></misc>"
                                "<textfilein id='in' timeout='1000'>"
            + in + "</textfilein><textfilein id='keep' prevforabsent='true'>" + in
            + "</textfilein><textfileout id='out' writeinvalid='true'>"
              "<csvlist file='out.csv' index='0' type='1' kks='2' direction='out'/>"
              "<outfile filename='never-written.txt'/></textfileout></config>";
        if (input.isEmpty() || fuzzWriteFile(QStringLiteral("in.csv"), kInputList).isEmpty()
            || fuzzWriteFile(QStringLiteral("out.csv"), kOutputList).isEmpty())
            return;
        FerroxXmlConfig loader(config, &makeConverter, ferroxSectionTable());
        ok = loader.loadConf(fuzzWriteFile(QStringLiteral("ferrox.cfg"), text)) && config.ties().size() == 3;
    }
};

bool writeFile(const QString &path, const QByteArray &bytes, bool append)
{
    QFile file(path);
    const QIODevice::OpenMode mode = append ? QIODevice::Append : QIODevice::WriteOnly | QIODevice::Truncate;
    return file.open(mode) && file.write(bytes) == bytes.size();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static Setup setup;
    if (!setup.ok)
        return 0;
    FuzzInput in(data, size);
    const uint8_t cuts = in.byte();
    const QByteArray text = in.rest();
    // Up to two cut points, in order, each within the text.
    const int first = text.isEmpty() ? 0 : (cuts & 0x0F) * text.size() / 16;
    const int second = text.isEmpty() ? 0 : first + ((cuts >> 4) * (text.size() - first)) / 16;
    const QByteArray pieces[] = {text.left(first), text.mid(first, second - first), text.mid(second)};

    for (BaseTie *tie : setup.config.ties()) {
        if (auto *reader = qobject_cast<TextFileInTie *>(tie))
            reader->setReadPosition(0);
        tie->init();
    }
    for (int i = 0; i < 3; ++i) {
        if (!writeFile(setup.input, pieces[i], i > 0))
            return 0;
        for (BaseTie *tie : setup.config.ties())
            tie->pollAndConvert();
        Clock::advance(700);
    }
    return 0;
}
