#include <logger.h>

#include "sundry/loggertesting.h"
#include "sundry/qtprinters.h"
#include "support/scopedtimezone.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

using TestLogger = TestableLogger<Logger>;

class LoggerTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        // 2026-12-06 16:24:43.120 UTC is 19:24:43.120 local time at UTC+3.
        loggerTestNow() = QDateTime(QDate(2026, 12, 6), QTime(16, 24, 43, 120), Qt::UTC);
    }

    QString logDir() const { return m_dir.filePath(QStringLiteral("log")); }
    QString file(const QString &base) const { return logDir() + QLatin1Char('/') + base + QStringLiteral(".log"); }

    ScopedTimeZone m_zone{"XXX-3"};
    QTemporaryDir m_dir;
};

TEST_F(LoggerTest, MessageLineLayout)
{
    TestLogger logger(QStringLiteral("gate"), logDir());
    logger.appendMessage(QStringLiteral("started"), Logger::Info);
    logger.appendMessage(QStringLiteral("busy"), Logger::Work);
    EXPECT_EQ(readLogFile(file(QStringLiteral("gate"))),
              QStringLiteral("\n06.12.2026  19:24:43.120  info      started"
                             "\n06.12.2026  19:24:43.120  work      busy"));
}

TEST_F(LoggerTest, EveryTypeHasItsWord)
{
    EXPECT_EQ(Logger::typeWord(Logger::Info), QStringLiteral("info"));
    EXPECT_EQ(Logger::typeWord(Logger::Warning), QStringLiteral("warning"));
    EXPECT_EQ(Logger::typeWord(Logger::Error), QStringLiteral("error"));
    EXPECT_EQ(Logger::typeWord(Logger::Critical), QStringLiteral("critical"));
    EXPECT_EQ(Logger::typeWord(Logger::Work), QStringLiteral("work"));
    EXPECT_EQ(Logger::typeWord(static_cast<Logger::MessageType>(6)), QStringLiteral("unknown"));
    EXPECT_EQ(Logger::typeWord(static_cast<Logger::MessageType>(0)), QStringLiteral("unknown"));

    TestLogger logger(QStringLiteral("gate"), logDir());
    logger.appendMessage(QStringLiteral("x"), Logger::Critical);
    logger.appendMessage(QStringLiteral("y"), static_cast<Logger::MessageType>(32));
    EXPECT_EQ(readLogFile(file(QStringLiteral("gate"))),
              QStringLiteral("\n06.12.2026  19:24:43.120  critical  x"
                             "\n06.12.2026  19:24:43.120  unknown   y"));
}

TEST_F(LoggerTest, HeaderAndColumnTitles)
{
    TestLogger logger(QStringLiteral("gate"), logDir());
    logger.appendHeader(QStringLiteral("Gateway started"));
    logger.appendInfo();
    const QString stars = QString(55, QLatin1Char('*'));
    EXPECT_EQ(readLogFile(file(QStringLiteral("gate"))),
              QLatin1Char('\n') + stars + QLatin1Char('\n')
                  + QStringLiteral("06.12.2026  19:24:43.120            Gateway started") + QLatin1Char('\n') + stars
                  + QLatin1Char('\n') + QStringLiteral("Date        Time          Type      Message"));
}

TEST_F(LoggerTest, ExplicitFileBaseAndAppending)
{
    TestLogger logger(QStringLiteral("gate"), logDir());
    logger.appendMessage(QStringLiteral("audit"), QStringLiteral("first"), Logger::Warning);
    logger.appendHeader(QStringLiteral("audit"), QStringLiteral("h"));
    logger.appendInfo(QStringLiteral("audit"));
    loggerTestNow() = loggerTestNow().addDays(1);
    TestLogger again(QStringLiteral("gate"), logDir());
    again.appendMessage(QStringLiteral("audit"), QStringLiteral("second \xc3\xa9 %1"), Logger::Error);
    const QString content = readLogFile(file(QStringLiteral("audit")));
    EXPECT_TRUE(content.startsWith(QStringLiteral("\n06.12.2026  19:24:43.120  warning   first\n*")));
    EXPECT_TRUE(content.endsWith(QStringLiteral("Message\n07.12.2026  19:24:43.120  error     second \xc3\xa9 %1")));
    EXPECT_FALSE(QFile::exists(file(QStringLiteral("gate"))));
}

TEST_F(LoggerTest, CreatesMissingDirectories)
{
    const QString deep = m_dir.filePath(QStringLiteral("a/b/log"));
    TestLogger logger(QStringLiteral("gate"), deep);
    EXPECT_EQ(logger.getDirPath(), deep);
    logger.appendMessage(QStringLiteral("x"), Logger::Info);
    EXPECT_TRUE(QFile::exists(deep + QStringLiteral("/gate.log")));
    EXPECT_FALSE(logger.isBusy());
}

TEST_F(LoggerTest, UnwritableFileWritesNothing)
{
    // The log "file" is a directory: it cannot be opened for writing.
    ASSERT_TRUE(QDir().mkpath(file(QStringLiteral("gate"))));
    TestLogger logger(QStringLiteral("gate"), logDir());
    logger.appendMessage(QStringLiteral("lost"), Logger::Info);
    logger.appendHeader(QStringLiteral("lost"));
    EXPECT_TRUE(QFileInfo(file(QStringLiteral("gate"))).isDir());
    EXPECT_FALSE(logger.isBusy());
}

TEST_F(LoggerTest, DefaultDirectoryIsBesideTheProgram)
{
    Logger plain(QStringLiteral("gate"), nullptr);
    EXPECT_EQ(plain.getDirPath(), QCoreApplication::applicationDirPath() + QStringLiteral("/log"));
    EXPECT_EQ(plain.name(), QStringLiteral("gate"));
    TestLogger logger(QStringLiteral("gate"), logDir());
    logger.setDirPath(QString());
    EXPECT_EQ(logger.getDirPath(), plain.getDirPath());
}

} // namespace
