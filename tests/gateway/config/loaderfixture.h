#ifndef LOADERFIXTURE_H
#define LOADERFIXTURE_H

#include "conversion/conversionregistry.h"
#include "core/gateconfig.h"
#include "support/logcapture.h"
#include "support/messagecapture.h"

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

#include <gtest/gtest.h>

// A configuration directory in a temporary folder, the configuration object
// being filled, and both message channels.
struct LoaderFixture : ::testing::Test {
    QTemporaryDir dir;
    GateConfig config;
    LogCapture log;
    MessageCapture messages;

    LoaderFixture() { ConversionRegistry::fillGlobal(); }

    QString write(const QString &name, const QByteArray &bytes) const
    {
        const QString path = dir.filePath(name);
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
            ADD_FAILURE() << "cannot write " << qPrintable(path);
        return path;
    }

    // The error went out as a warning and as the same log line.
    void expectReported(const QString &text) const
    {
        EXPECT_TRUE(messages.warnings().contains(text)) << qPrintable(messages.texts().join('\n'));
        EXPECT_TRUE(log.contains(text)) << qPrintable(log.lines().join('\n'));
    }
};

#endif // LOADERFIXTURE_H
