// Feeds arbitrary bytes to the CSV reader: the first byte picks the dialect
// (modulo 6: 1 comma, 2 semicolon, 3 tab, 4 space, 0 and 5 invalid)
// and the rest is the text. Besides crashes and
// sanitizer reports it checks that the reader never reports more lines than
// the text has and that quoting a field lets it parse back unchanged.
#include "csvfunctions.h"

#include <QString>
#include <QTextStream>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

QString separatorOf(LoadSaveTableFileType type)
{
    switch (type) {
    case CommaSeparated:
        return QStringLiteral(",");
    case SemicolonSeparated:
        return QStringLiteral(";");
    case TabSeparated:
        return QStringLiteral("\t");
    case SpaceSeparated:
        return QStringLiteral(" ");
    }
    return QString();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const auto type = static_cast<LoadSaveTableFileType>(static_cast<int>(data[0] % 6) - 1);
    QString text = QString::fromUtf8(reinterpret_cast<const char *>(data + 1), static_cast<int>(size - 1));

    for (const QString &line : text.split(QLatin1Char('\n')))
        csvParseString(line, type);

    QTextStream in(&text);
    int lines = 0;
    int records = 0;
    while (!csvGetNextLine(in, &lines, type).isEmpty())
        ++records;
    const int physicalLines = text.count(QLatin1Char('\n')) + text.count(QLatin1Char('\r')) + 1;
    if (lines > physicalLines || records > lines)
        std::abort();

    // A field without line breaks or surrounding white space survives
    // quoting and parsing.
    const QString sep = separatorOf(type);
    if (!sep.isEmpty()) {
        QString field = text.left(64).trimmed();
        field.remove(QLatin1Char('\n'));
        field.remove(QLatin1Char('\r'));
        field = field.trimmed();
        if (!field.isEmpty()) {
            const QStringList back = csvParseString(QStringLiteral("a") + sep + csvExcapeStringIfNeed(field, type), type);
            if (back.size() != 2 || back.at(1) != field)
                std::abort();
        }
    }
    return 0;
}
