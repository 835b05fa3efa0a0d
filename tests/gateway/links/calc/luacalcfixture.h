#ifndef LUACALCFIXTURE_H
#define LUACALCFIXTURE_H

#include "config/csvtieparam.h"
#include "config/csvtieunit.h"
#include "links/calc/luacalctie.h"

#include "support/fixedclock.h"
#include "support/logcapture.h"
#include "support/messagecapture.h"

#include <dpdatatype.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstring>

#include <gtest/gtest.h>

// A Lua calculation tie with one input unit and one result unit, a script
// written into a temporary directory, a fixed clock and both message channels.
struct LuaCalcFixture : ::testing::Test {
    QTemporaryDir dir;
    FixedClock clock{utc(2024, 5, 1, 12, 0, 0)};
    LogCapture log;
    MessageCapture messages;
    LuaCalcTie tie;
    CsvTieUnit *inputs = new CsvTieUnit(&tie);
    CsvTieUnit *results = new CsvTieUnit(&tie);

    LuaCalcFixture()
    {
        tie.setNameFlags(LuaCalcTie::nfAll);
        inputs->setDirection(BaseTieUnit::dirToThis | BaseTieUnit::dirCalc);
        results->setDirection(BaseTieUnit::dirFromThis | BaseTieUnit::dirCalc);
        tie.addUnit(inputs);
        tie.addUnit(results);
    }

    CsvTieParam *input(quint32 type, const QString &kks, const QString &iid = QString(), const QString &rtm = QString(),
                       const QString &extId = QString())
    {
        auto *p = new CsvTieParam(inputs, type, inputs->params().size(), extId, iid, kks, rtm);
        inputs->addParam(p);
        return p;
    }
    // A result named `name` by its KKS and its IID.
    CsvTieParam *result(quint32 type, const QString &name)
    {
        auto *p = new CsvTieParam(results, type, results->params().size(), QString(), name, name, QString());
        results->addParam(p);
        return p;
    }

    QString writeFile(const QString &name, const QByteArray &text) const
    {
        const QString path = dir.filePath(name);
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly) || f.write(text) != text.size())
            ADD_FAILURE() << "cannot write " << qPrintable(path);
        return path;
    }
    // Writes the script as calc.lua and loads it.
    int load(const QByteArray &script, const QString &function = QStringLiteral("calculate"))
    {
        return tie.loadCalcFile(writeFile("calc.lua", script), function);
    }

    // Element 0 of a valued parameter: the value word and the sign word.
    template<typename T>
    static void set(CsvTieParam *p, T value, qint32 sign = 1)
    {
        std::memcpy(p->valuesForWrite(), &value, 4);
        std::memcpy(p->valuesForWrite() + 4, &sign, 4);
    }
    static float floatOf(const BaseTieParam *p)
    {
        float v;
        std::memcpy(&v, p->values(), 4);
        return v;
    }
    static qint32 intOf(const BaseTieParam *p)
    {
        qint32 v;
        std::memcpy(&v, p->values(), 4);
        return v;
    }
    static qint32 signOf(const BaseTieParam *p)
    {
        qint32 v;
        std::memcpy(&v, p->values() + 4, 4);
        return v;
    }

    // One calculation with the input unit converted into.
    int run()
    {
        inputs->setDirty(true);
        return tie.calulate();
    }
};

#endif // LUACALCFIXTURE_H
