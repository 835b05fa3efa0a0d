// Feeds arbitrary definition files to the definition reader and places the
// area in a queue tie's memory. Besides crashes and sanitizer reports it
// checks that loading ends with one of its result codes and that a
// parameter has storage only when its record lies wholly inside the area,
// and then exactly the record's bytes (all written here, so the address
// checker sees any slice that leaves the memory).
#include "fuzzsupport.h"

#include "config/deftieparam.h"
#include "config/deftieunit.h"
#include "links/mqueue/mqtie.h"

#include <QTextCodec>
#include <QTextStream>

#include <cstdlib>
#include <cstring>

namespace {

// Larger areas are loaded and checked but not placed in memory: the rules
// are the same and the run stays fast.
const quint64 kPlacedAreaBytes = 1u << 20;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    QByteArray text(reinterpret_cast<const char *>(data), static_cast<int>(size));
    QTextStream stream(&text, QIODevice::ReadOnly);
    stream.setCodec(QTextCodec::codecForName("KOI8-R"));

    MQTie tie;
    auto *unit = new DefTieUnit(&tie);
    const int result = unit->defStruct().LoadFromStream(stream);
    if (result != QDefFileStruct::dfrOk && result != QDefFileStruct::dfrEmptyFile
        && result != QDefFileStruct::dfrFormatError)
        std::abort();
    unit->refreshParams();
    const quint64 area = unit->unitSize();
    if (area <= kPlacedAreaBytes)
        tie.addUnit(unit); // the tie owns it from here
    const bool placed = area <= kPlacedAreaBytes;

    const QList<QDefRecord *> &records = unit->defStruct().records();
    if (records.size() != unit->params().size())
        std::abort();
    for (int i = 0; i < records.size(); ++i) {
        const QDefRecord *record = records.at(i);
        auto *param = static_cast<DefTieParam *>(unit->params().at(i));
        uchar *values = param->valuesForWrite();
        const bool fits = record->fitsInto(area);
        if (values) {
            if (!placed || !fits || param->size() != record->size())
                std::abort();
            std::memset(values, 0xA5, param->size());
        } else if (placed && fits && record->size() > 0) {
            std::abort();
        }
    }
    if (!placed)
        delete unit;
    return 0;
}
