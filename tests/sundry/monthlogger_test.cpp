#include <monthlogger.h>

#include "sundry/loggertesting.h"
#include "sundry/qtprinters.h"
#include "support/messagecapture.h"
#include "support/scopedtimezone.h"

#include <QDir>
#include <QFile>
#include <QSet>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

using TestMonthLogger = TestableLogger<MonthLogger>;

class MonthLoggerTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        ASSERT_TRUE(QDir().mkpath(logDir()));
    }

    // Local time at UTC+3: the first hour of the month's first day is still
    // the previous month in UTC.
    void setNow(int month) { loggerTestNow() = QDateTime(QDate(2026, month, 1), QTime(0, 30), Qt::LocalTime); }

    QString logDir() const { return m_dir.filePath(QStringLiteral("log")); }
    QString path(const QString &name) const { return logDir() + QLatin1Char('/') + name; }

    void touch(const QString &name)
    {
        QFile f(path(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("old");
    }

    void createAllMonths(const QString &name)
    {
        for (int month = 1; month <= 12; ++month)
            touch(QStringLiteral("%1_%2.log").arg(name).arg(month));
    }

    // Month numbers of the files name_<month>.log that exist.
    QSet<int> monthsPresent(const QString &name) const
    {
        QSet<int> months;
        for (int month = 1; month <= 12; ++month) {
            if (QFile::exists(path(QStringLiteral("%1_%2.log").arg(name).arg(month))))
                months.insert(month);
        }
        return months;
    }

    ScopedTimeZone m_zone{"XXX-3"};
    QTemporaryDir m_dir;
};

TEST_F(MonthLoggerTest, WritesToCurrentMonthsFile)
{
    setNow(7);
    TestMonthLogger logger(QStringLiteral("gate"), logDir());
    logger.appendMessage(QStringLiteral("hello"), Logger::Info);
    logger.appendHeader(QStringLiteral("head"));
    logger.appendInfo();
    const QString content = readLogFile(path(QStringLiteral("gate_7.log")));
    EXPECT_TRUE(content.startsWith(QStringLiteral("\n01.07.2026  00:30:00.000  info      hello\n*"))) << qPrintable(content);
    EXPECT_TRUE(content.endsWith(QStringLiteral("Message")));
    EXPECT_FALSE(QFile::exists(path(QStringLiteral("gate_6.log"))));

    // The forms with a file base are still there and write where told.
    logger.appendMessage(QStringLiteral("audit"), QStringLiteral("x"), Logger::Work);
    EXPECT_TRUE(QFile::exists(path(QStringLiteral("audit.log"))));

    setNow(10);
    logger.appendMessage(QStringLiteral("later"), Logger::Info);
    EXPECT_TRUE(QFile::exists(path(QStringLiteral("gate_10.log"))));
    EXPECT_EQ(logger.monthFileBase(12), QStringLiteral("gate_12"));
}

TEST_F(MonthLoggerTest, KeepLogSwitchesCleanup)
{
    TestMonthLogger logger(QStringLiteral("gate"), logDir());
    EXPECT_EQ(logger.keepLog(), -1);
    EXPECT_FALSE(logger.isCleanupActive());
    logger.setKeepLog(3);
    EXPECT_EQ(logger.keepLog(), 3);
    EXPECT_TRUE(logger.isCleanupActive());
    logger.setKeepLog(12);
    EXPECT_FALSE(logger.isCleanupActive());
    logger.setKeepLog(1);
    EXPECT_TRUE(logger.isCleanupActive());
    logger.setKeepLog(0);
    EXPECT_FALSE(logger.isCleanupActive());
    logger.setKeepLog(11);
    EXPECT_TRUE(logger.isCleanupActive());
    logger.setKeepLog(-1);
    EXPECT_FALSE(logger.isCleanupActive());
    EXPECT_EQ(logger.keepLog(), -1);
}

struct KeepCase {
    int keep;
    int month;
    QSet<int> kept;
};

void PrintTo(const KeepCase &c, std::ostream *os)
{
    *os << "keep " << c.keep << " in month " << c.month;
}

class MonthLoggerKeep : public MonthLoggerTest, public ::testing::WithParamInterface<KeepCase> {};

TEST_P(MonthLoggerKeep, CleanupKeepsCurrentAndPreviousMonths)
{
    const KeepCase c = GetParam();
    createAllMonths(QStringLiteral("gate"));
    setNow(c.month);
    TestMonthLogger logger(QStringLiteral("gate"), logDir());
    logger.setKeepLog(c.keep);
    logger.slotTimeout();
    EXPECT_EQ(monthsPresent(QStringLiteral("gate")), c.kept);
    EXPECT_FALSE(logger.isBusy());
}

INSTANTIATE_TEST_SUITE_P(YearBoundary, MonthLoggerKeep, ::testing::Values(
    KeepCase{3, 5, {3, 4, 5}},
    KeepCase{3, 2, {12, 1, 2}},
    KeepCase{3, 3, {1, 2, 3}},
    KeepCase{1, 1, {1}},
    KeepCase{1, 12, {12}},
    KeepCase{11, 12, {2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}},
    KeepCase{11, 1, {3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 1}},
    // Cleanup switched off: nothing is deleted, not even by a direct call.
    KeepCase{-1, 5, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}},
    KeepCase{0, 5, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}},
    KeepCase{12, 5, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}}));

TEST_F(MonthLoggerTest, RemovalIsLoggedToCurrentMonth)
{
    createAllMonths(QStringLiteral("gate"));
    setNow(5);
    TestMonthLogger logger(QStringLiteral("gate"), logDir());
    logger.setKeepLog(3);
    logger.slotTimeout();
    const QString content = readLogFile(path(QStringLiteral("gate_5.log")));
    const QString absDir = QDir(logDir()).absolutePath();
    EXPECT_TRUE(content.startsWith(QStringLiteral("old\n01.05.2026  00:30:00.000  info      Remove log file "
                                                  "\"gate_1.log\" from dir \"")
                                   + absDir + QStringLiteral("\", keeping timeout 3 month(s)")))
        << qPrintable(content);
    EXPECT_EQ(content.count(QStringLiteral("Remove log file")), 9);
}

TEST_F(MonthLoggerTest, RemoveTouchesOnlyThisLoggersRegularFiles)
{
    createAllMonths(QStringLiteral("gate"));
    createAllMonths(QStringLiteral("gatex"));
    touch(QStringLiteral("gate_2.txt"));
    touch(QStringLiteral("target.log"));
    ASSERT_TRUE(QFile::remove(path(QStringLiteral("gate_2.log"))));
    ASSERT_TRUE(QFile::link(path(QStringLiteral("target.log")), path(QStringLiteral("gate_2.log"))));
    ASSERT_TRUE(QFile::remove(path(QStringLiteral("gate_3.log"))));
    ASSERT_TRUE(QDir().mkdir(path(QStringLiteral("gate_3.log"))));
    setNow(6);
    TestMonthLogger logger(QStringLiteral("gate"), logDir());
    logger.remove(1, 4);
    EXPECT_EQ(monthsPresent(QStringLiteral("gate")), (QSet<int>{2, 3, 5, 6, 7, 8, 9, 10, 11, 12}));
    EXPECT_TRUE(QFileInfo(path(QStringLiteral("gate_2.log"))).isSymLink());
    EXPECT_TRUE(QFileInfo(path(QStringLiteral("gate_3.log"))).isDir());
    EXPECT_TRUE(QFile::exists(path(QStringLiteral("target.log"))));
    EXPECT_TRUE(QFile::exists(path(QStringLiteral("gate_2.txt"))));
    EXPECT_EQ(monthsPresent(QStringLiteral("gatex")).size(), 12);
}

TEST_F(MonthLoggerTest, RemoveIncludesHiddenFiles)
{
    createAllMonths(QStringLiteral(".quiet"));
    setNow(6);
    TestMonthLogger logger(QStringLiteral(".quiet"), logDir());
    logger.remove(1, 2);
    EXPECT_EQ(monthsPresent(QStringLiteral(".quiet")), (QSet<int>{3, 4, 5, 6, 7, 8, 9, 10, 11, 12}));
}

TEST_F(MonthLoggerTest, RemoveIgnoresInvalidRanges)
{
    createAllMonths(QStringLiteral("gate"));
    setNow(6);
    TestMonthLogger logger(QStringLiteral("gate"), logDir());
    logger.remove(0, 3);
    logger.remove(4, 3);
    logger.remove(11, 13);
    logger.remove(-5, -1);
    EXPECT_EQ(monthsPresent(QStringLiteral("gate")).size(), 12);
    logger.remove(12, 12);
    EXPECT_FALSE(monthsPresent(QStringLiteral("gate")).contains(12));
}

TEST_F(MonthLoggerTest, RemoveCreatesMissingDirectory)
{
    const QString dir = m_dir.filePath(QStringLiteral("fresh"));
    TestMonthLogger logger(QStringLiteral("gate"), dir);
    logger.remove(1, 12);
    EXPECT_TRUE(QFileInfo(dir).isDir());
}

} // namespace
