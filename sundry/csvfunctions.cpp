#include "csvfunctions.h"

#include <QTextStream>

namespace {

bool isValidType(LoadSaveTableFileType type)
{
    return type == CommaSeparated || type == SemicolonSeparated || type == TabSeparated
        || type == SpaceSeparated;
}

bool isSeparator(QChar c, LoadSaveTableFileType type)
{
    switch (type) {
    case CommaSeparated:
        return c == QLatin1Char(',');
    case SemicolonSeparated:
        return c == QLatin1Char(';');
    case TabSeparated:
        return c == QLatin1Char('\t');
    case SpaceSeparated:
        return c == QLatin1Char(' ') || c == QLatin1Char('\t');
    }
    return false;
}

// Position of the next separator at or after `from`, or -1.
int findSeparator(const QString &text, int from, LoadSaveTableFileType type)
{
    for (int i = from; i < text.size(); ++i) {
        if (isSeparator(text.at(i), type))
            return i;
    }
    return -1;
}

// Skips white space from `pos` on and returns the first position that is not
// white space. A tab is a field separator in the tab dialect, so inside a
// line it is not skipped there: two adjacent tabs keep their empty field.
int skipSpace(const QString &text, int pos, LoadSaveTableFileType type)
{
    while (pos < text.size() && text.at(pos).isSpace()
           && !(type == TabSeparated && text.at(pos) == QLatin1Char('\t')))
        ++pos;
    return pos;
}

} // namespace

QStringList csvParseString(const QString &line, LoadSaveTableFileType type)
{
    QStringList fields;
    if (!isValidType(type))
        return fields;

    // White space (tabs included) at both ends of the line never makes a
    // field; the rest is walked with an index instead of cutting copies.
    const QString text = line.trimmed();
    int pos = 0;
    const int end = text.size();
    while (true) {
        pos = skipSpace(text, pos, type);
        if (pos >= end)
            break;
        if (text.at(pos) == QLatin1Char('"')) {
            QString field;
            ++pos;
            while (pos < end) {
                const QChar c = text.at(pos);
                if (c == QLatin1Char('"')) {
                    if (pos + 1 < end && text.at(pos + 1) == QLatin1Char('"')) {
                        field += c;
                        pos += 2;
                        continue;
                    }
                    ++pos;
                    break;
                }
                field += c;
                ++pos;
            }
            fields << field;
            // Whatever stands between the closing quote and the separator is dropped.
            const int sep = findSeparator(text, pos, type);
            if (sep < 0)
                break;
            pos = sep + 1;
        } else {
            const int sep = findSeparator(text, pos, type);
            if (sep < 0) {
                fields << text.mid(pos).trimmed();
                break;
            }
            fields << text.mid(pos, sep - pos).trimmed();
            pos = sep + 1;
        }
    }
    return fields;
}

QStringList csvGetNextLine(QTextStream &in, int *lineCounter, LoadSaveTableFileType type)
{
    while (!in.atEnd()) {
        const QString line = in.readLine();
        if (lineCounter)
            ++*lineCounter;
        const QStringList fields = csvParseString(line, type);
        if (!fields.isEmpty())
            return fields;
    }
    return QStringList();
}

int csvSkipLines(unsigned long count, QTextStream &in, int *lineCounter, unsigned long minFields,
                 LoadSaveTableFileType type)
{
    for (unsigned long i = 0; i < count; ++i) {
        const QStringList fields = csvGetNextLine(in, lineCounter, type);
        if (fields.isEmpty())
            return 10952;
        if (static_cast<unsigned long>(fields.size()) < minFields)
            return 10951;
    }
    return 0;
}

QString csvExcapeStringIfNeed(QString text, LoadSaveTableFileType type)
{
    if (!isValidType(type))
        return text;
    bool needsQuotes = false;
    for (const QChar c : qAsConst(text)) {
        if (c == QLatin1Char('"') || isSeparator(c, type)) {
            needsQuotes = true;
            break;
        }
    }
    if (!needsQuotes)
        return text;
    text.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + text + QLatin1Char('"');
}
