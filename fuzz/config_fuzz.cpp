// Feeds arbitrary configurations to the whole loader, with the program's
// section table: the configuration text first, then any number of files
// beside it, each introduced by a line "@@@ <name>" (lists, definition
// files, ...). Everything is loaded, bound and checked, then destroyed; the
// sanitizers and the leak checker judge the run.
//
// Two sections reach outside the process and are pinned down first: every
// queue a `mqueue` section would open gets a name of this process (removed
// after each input), and every `luacalc` script is the fixed, harmless
// calc.lua, so that a mutated input never runs a script of its own.
#include "fuzzsupport.h"

#include "app/sectiontable.h"
#include "config/ferroxxmlconfig.h"
#include "conversion/conversionregistry.h"
#include "conversion/singleproviderconverter.h"
#include "core/gateconfig.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QStringList>

#include <mqueue.h>

namespace {

const int kQueueNames = 4;
const char kScript[] = "calc.lua";

FerroxXmlConfig::SectionReader g_mqueueReader = nullptr;
FerroxXmlConfig::SectionReader g_luacalcReader = nullptr;

QByteArray queueName(int i)
{
    return fuzzQueueName(QByteArray("c" + QByteArray::number(i)).constData());
}

// The elements named `tag` among the children of `section`. QDomElement
// handles share their node, so changing one changes the document.
QList<QDomElement> children(const QDomElement &section, const char *tag)
{
    QList<QDomElement> found;
    for (QDomElement e = section.firstChildElement(QLatin1String(tag)); !e.isNull();
         e = e.nextSiblingElement(QLatin1String(tag)))
        found << e;
    return found;
}

bool readPinnedMQueue(GateXmlConfigLoaderTemplate &loader, const QDomElement &section)
{
    int n = 0;
    for (QDomElement connection : children(section, "connection")) {
        const QString name = connection.attribute(QStringLiteral("filename"));
        if (name.isEmpty())
            continue;
        // A name that resolves to one path component would be a real queue.
        const QString resolved = name.startsWith(QLatin1Char('/')) ? name : loader.confPath(name);
        if (resolved.count(QLatin1Char('/')) <= 1)
            connection.setAttribute(QStringLiteral("filename"), QString::fromLatin1(queueName(n++ % kQueueNames)));
    }
    return g_mqueueReader(loader, section);
}

bool readPinnedLuaCalc(GateXmlConfigLoaderTemplate &loader, const QDomElement &section)
{
    for (QDomElement calcfile : children(section, "calcfile"))
        calcfile.setAttribute(QStringLiteral("file"), QString::fromLatin1(kScript));
    return g_luacalcReader(loader, section);
}

const FerroxXmlConfig::SectionTable &pinnedTable()
{
    static const FerroxXmlConfig::SectionTable table = [] {
        FerroxXmlConfig::SectionTable rows = ferroxSectionTable();
        for (FerroxXmlConfig::SectionEntry &row : rows) {
            if (qstrcmp(row.tag, "mqueue") == 0) {
                g_mqueueReader = row.reader;
                row.reader = &readPinnedMQueue;
            } else if (qstrcmp(row.tag, "luacalc") == 0) {
                g_luacalcReader = row.reader;
                row.reader = &readPinnedLuaCalc;
            }
        }
        return rows;
    }();
    return table;
}

// A file name the input may use: plain characters only, never the script.
QString safeName(const QByteArray &raw)
{
    QString name = QString::fromLatin1(raw.left(32));
    name.remove(QRegularExpression(QStringLiteral("[^A-Za-z0-9_.-]")));
    while (name.startsWith(QLatin1Char('.')))
        name.remove(0, 1);
    return name == QLatin1String(kScript) ? QString() : name;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const bool ready = [] {
        ConversionRegistry::fillGlobal();
        FerroxXmlConfig::setLanguage(QStringLiteral("en"));
        return !fuzzWriteFile(QString::fromLatin1(kScript),
                              "results_sum = 0\nfunction calculate()\n  results_sum = results_sum + 1\nend\n")
                    .isEmpty();
    }();
    if (!ready)
        return 0;

    FuzzInput in(data, size);
    const QByteArray configText = in.until("\n@@@ ");
    QStringList written;
    while (!in.atEnd()) {
        const QString name = safeName(in.until("\n"));
        const QByteArray content = in.until("\n@@@ ");
        if (!name.isEmpty() && !fuzzWriteFile(name, content).isEmpty())
            written << name;
    }
    const QString path = fuzzWriteFile(QStringLiteral("ferrox.cfg"), configText);
    if (!path.isEmpty()) {
        GateConfig config;
        {
            FerroxXmlConfig loader(config, &makeConverter, pinnedTable());
            loader.loadConf(path);
        }
        config.checkConfig();
        config.clear();
    }
    for (const QString &name : qAsConst(written))
        QFile::remove(QDir(fuzzScratchDir()).filePath(name));
    for (int i = 0; i < kQueueNames; ++i)
        ::mq_unlink(queueName(i).constData());
    return 0;
}
