// Feeds arbitrary parameter lists to the list loader. The first seven bytes
// choose the columns (type, index, extid, iid, kks, rtm: -1..6 each) and
// the type code for lists without a type column; the rest is the file.
// Besides crashes and sanitizer reports it checks what the loader promises:
// every parameter's storage is its data type's element size (an unknown
// type gives type 0 and no storage), the index by type and number finds
// each parameter, and no index/type pair is there twice.
#include "fuzzsupport.h"

#include "config/csvlistloader.h"
#include "config/csvtieparam.h"
#include "config/csvtieunit.h"

#include <dpdatatype.h>

#include <QSet>

#include <cstdlib>

namespace {

const char *const kTypeCodes[] = {"A", "I", "D", "FLOATVALID", "sdwordstate", "TIMESPEC64", "xyz", ""};

int column(FuzzInput &in)
{
    return static_cast<int>(in.pick(8)) - 1;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzInput in(data, size);
    CsvListColumns columns;
    columns.type = column(in);
    columns.index = column(in);
    columns.extid = column(in);
    columns.iid = column(in);
    columns.kks = column(in);
    columns.rtm = column(in);
    const quint32 typeValue = csvTypeFromCode(QString::fromLatin1(kTypeCodes[in.pick(8)]));
    const QString path = fuzzWriteFile(QStringLiteral("list.csv"), in.rest());
    if (path.isEmpty())
        return 0;

    CsvTieUnit unit;
    loadCsvList(&unit, path, columns, typeValue, csvCodecForName(QStringLiteral("KOI8-R")));

    QSet<QPair<quint32, qint32>> seen;
    for (BaseTieParam *base : unit.params()) {
        auto *param = static_cast<CsvTieParam *>(base);
        const quint32 type = param->metatype();
        const size_t element = static_cast<size_t>(qMax(0, DPDataTypeElementSize(static_cast<int>(type))));
        if (param->size() != element * param->count() || (type == 0) != (param->size() == 0))
            std::abort();
        const qint32 index = static_cast<qint32>(param->number());
        if (seen.contains(qMakePair(type, index)) || unit.csvParamsHash().find(index, type) != param)
            std::abort();
        seen.insert(qMakePair(type, index));
    }
    return 0;
}
