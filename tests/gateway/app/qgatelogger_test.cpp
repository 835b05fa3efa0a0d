#include "app/qgatelogger.h"

#include "support/messagecapture.h"
#include "support/scopedtimezone.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <QFileInfo>

#include <csignal>

#include <sys/resource.h>
#include <sys/stat.h>

namespace {

QStringList readLines(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    return QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

} // namespace

TEST(QGateLogger, WritesNothingBeforeAFileNameIsSet)
{
    QTemporaryDir dir;
    QGateLogger logger;
    logger.Log(QStringLiteral("lost"));
    EXPECT_TRUE(QDir(dir.path()).entryList(QDir::Files).isEmpty());
}

TEST(QGateLogger, AppendsStampedLinesInOrderAndRecreatesARemovedFile)
{
    ScopedTimeZone tz("XXX-3");
    QTemporaryDir dir;
    const QString path = dir.filePath("ferrox.log");
    QGateLogger logger;
    logger.setFileName(path);
    const QDateTime t(QDate(2026, 12, 6), QTime(16, 24, 43, 120), Qt::UTC);
    logger.Log(t, QStringLiteral("first"));
    logger.Log(t.addSecs(1), QStringLiteral("second"));
    EXPECT_EQ(readLines(path), QStringList({"06-12-2026 19:24:43.120 +0300\tfirst", "06-12-2026 19:24:44.120 +0300\tsecond"}));

    ASSERT_TRUE(QFile::remove(path));
    logger.Log(t, QStringLiteral("again"));
    EXPECT_EQ(readLines(path), QStringList({"06-12-2026 19:24:43.120 +0300\tagain"}));
}

// A line the file takes only part of (here a file size limit) leaves none
// of it, so the line written later is whole (the fragment stayed, or the
// rest was lost).
TEST(QGateLogger, ALineTheFileTakesOnlyPartOfIsWrittenWholeLater)
{
    ScopedTimeZone tz("UTC0");
    QTemporaryDir dir;
    const QString path = dir.filePath("ferrox.log");
    MessageCapture messages;
    QGateLogger logger;
    logger.setFileName(path);
    const QDateTime t(QDate(2026, 12, 6), QTime(16, 24, 43, 120), Qt::UTC);
    logger.Log(t, QStringLiteral("first"));
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit old;
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    struct rlimit limit = old;
    limit.rlim_cur = static_cast<rlim_t>(QFileInfo(path).size() + 10);
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
    logger.Log(t, QString(60, QLatin1Char('x')));
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, previous);
    logger.Log(t, QStringLiteral("next"));
    const QString stamp = QStringLiteral("06-12-2026 16:24:43.120 +0000\t");
    EXPECT_EQ(readLines(path), QStringList({stamp + "first", stamp + QString(60, QLatin1Char('x')), stamp + "next"}));
}

TEST(QGateLogger, UnwritableFileIsReportedOnceAndItsLinesHeldUntilItCanBeWritten)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("no/such/dir/ferrox.log");
    QGateLogger logger;
    logger.setFileName(path);
    MessageCapture messages;
    for (int i = 0; i < QGateLogger::MaxHeldLines + 2; ++i)
        logger.Log(QStringLiteral("held %1").arg(i));
    ASSERT_EQ(messages.warnings().size(), 1);
    EXPECT_TRUE(messages.warnings().at(0).startsWith(
        QStringLiteral("QGateLogger::Log(): cannot write to the log file %1 (").arg(path)))
        << qPrintable(messages.warnings().at(0));

    // Once it can be written, the held lines go in first, in order, then a
    // word on those that found no room.
    ASSERT_TRUE(QDir().mkpath(dir.filePath("no/such/dir")));
    logger.Log(QStringLiteral("back"));
    const QStringList lines = readLines(path);
    ASSERT_EQ(lines.size(), QGateLogger::MaxHeldLines + 1);
    EXPECT_TRUE(lines.first().endsWith("\theld 0"));
    EXPECT_TRUE(lines.at(QGateLogger::MaxHeldLines - 1).endsWith(QStringLiteral("\theld %1").arg(QGateLogger::MaxHeldLines - 1)));
    EXPECT_TRUE(lines.last().endsWith("\t3 line(s) could not be written to the log file"));

    // A directory in its place is a new streak, reported again.
    logger.setFileName(dir.path());
    logger.Log(QStringLiteral("held again"));
    EXPECT_EQ(messages.warnings().size(), 2);

    // A FIFO without a reader is refused at once instead of stalling the
    // gateway in open().
    logger.setFileName(path);
    logger.Log(QStringLiteral("back again")); // ends the streak
    const QString fifo = dir.filePath("fifo.log");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    logger.setFileName(fifo);
    logger.Log(QStringLiteral("not into a fifo"));
    ASSERT_EQ(messages.warnings().size(), 3);
    EXPECT_TRUE(messages.warnings().at(2).contains(fifo + " (not a regular file)")) << qPrintable(messages.warnings().at(2));
}

TEST(QGateLogger, TheProcessLoggerIsTheGatewaysLogSink)
{
    QTemporaryDir dir;
    QGateLogger *logger = QGateLogger::instance();
    EXPECT_EQ(gateLogSink(), logger);
    setGateLogFileName(dir.filePath("sink.log"));
    gateLog(QStringLiteral("through the sink"));
    const QStringList lines = readLines(dir.filePath("sink.log"));
    ASSERT_EQ(lines.size(), 1);
    EXPECT_TRUE(lines.at(0).endsWith("\tthrough the sink"));
    setGateLogFileName(QString());
}
