#include <qxmltranslation.h>
#include <utilfunctions.h>

#include "sundry/qtprinters.h"

#include "support/messagecapture.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <csignal>
#include <sys/time.h>

#include <climits>
#include <cstring>

#include <sys/mman.h>
#include <unistd.h>

namespace {

TEST(CheckSum32, StartsFromSeedAndFollowsByteOrder)
{
    const unsigned char one[] = {0x01, 0x00, 0x00, 0x00};
    EXPECT_EQ(checkSum32(one, 0, QSysInfo::LittleEndian), 0x55555555u);
    EXPECT_EQ(checkSum32(one, 4, QSysInfo::LittleEndian), 0x55555556u);
    EXPECT_EQ(checkSum32(one, 4, QSysInfo::BigEndian), 0x56555555u);

    const char words[] = {0x11, 0x22, 0x33, 0x44, 0x01, 0x02, 0x03, 0x04};
    EXPECT_EQ(checkSum32(words, 8, QSysInfo::BigEndian), 0x55555555u + 0x11223344u + 0x01020304u);
    EXPECT_EQ(checkSum32(words, 8, QSysInfo::LittleEndian), 0x55555555u + 0x44332211u + 0x04030201u);
}

TEST(CheckSum32, WrapsModulo2To32)
{
    const unsigned char ff[] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    EXPECT_EQ(checkSum32(ff, 8, QSysInfo::BigEndian), 0x55555553u);
}

TEST(CheckSum32, NullDataIsEmpty)
{
    EXPECT_EQ(checkSum32(static_cast<const char *>(nullptr), 16, QSysInfo::BigEndian), 0x55555555u);
}

TEST(CheckSum32, PartialLastWordCountsMissingBytesAsZero)
{
    const unsigned char bytes[] = {0x01, 0x02, 0x03, 0x04, 0xAA, 0xBB, 0xFF, 0xFF};
    EXPECT_EQ(checkSum32(bytes, 6, QSysInfo::BigEndian), 0x55555555u + 0x01020304u + 0xAABB0000u);
    EXPECT_EQ(checkSum32(bytes, 6, QSysInfo::LittleEndian), 0x55555555u + 0x04030201u + 0x0000BBAAu);
    EXPECT_EQ(checkSum32(bytes, 1, QSysInfo::BigEndian), 0x55555555u + 0x01000000u);
}

TEST(CheckSum32, NeverReadsPastLength)
{
    // The data ends right before an inaccessible page: reading at or past
    // `length` would crash the test.
    const long page = sysconf(_SC_PAGESIZE);
    void *area = mmap(nullptr, static_cast<size_t>(2 * page), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS,
                      -1, 0);
    ASSERT_NE(area, MAP_FAILED);
    unsigned char *base = static_cast<unsigned char *>(area);
    ASSERT_EQ(mprotect(base + page, static_cast<size_t>(page), PROT_NONE), 0);
    for (unsigned long length : {1ul, 2ul, 3ul, 5ul, 7ul}) {
        unsigned char *data = base + page - length;
        std::memset(data, 0x01, length);
        quint32 expected = 0x55555555u;
        for (unsigned long i = 0; i < length; ++i)
            expected += 1u << (8 * (3 - i % 4));
        EXPECT_EQ(checkSum32(data, length, QSysInfo::BigEndian), expected) << length;
    }
    munmap(area, static_cast<size_t>(2 * page));
}

TEST(UintToHex, PadsButNeverCuts)
{
    EXPECT_EQ(uintToHex(255, 4), QStringLiteral("00FF"));
    EXPECT_EQ(uintToHex(74565, 2), QStringLiteral("12345"));
    EXPECT_EQ(uintToHex(0, 0), QStringLiteral("0"));
    EXPECT_EQ(uintToHex(0xDEADBEEF, 8), QStringLiteral("DEADBEEF"));
    EXPECT_EQ(uintToHex(10, 1), QStringLiteral("A"));
}

QByteArray bytesFrom(const char *text)
{
    return QByteArray(text);
}

TEST(ArrayToHexString, FullRow)
{
    EXPECT_EQ(arrayToHexString(bytesFrom("0123456789ABCDEF"), 0, 16),
              QStringLiteral("0000: 30 31 32 33 34 35 36 37 - 38 39 41 42 43 44 45 46  01234567 89ABCDEF"));
}

TEST(ArrayToHexString, PartialRowKeepsColumns)
{
    const QByteArray data = bytesFrom("abcdefghijklmnopqrst");
    // Row 0x10, columns 2 and 3; the count is cut at the end of the data.
    EXPECT_EQ(arrayToHexString(data, 18, 5),
              QStringLiteral("0010: ") + QString(6, QLatin1Char(' ')) + QStringLiteral("73 74 ")
                  + QString(12, QLatin1Char(' ')) + QStringLiteral("- ") + QString(24, QLatin1Char(' '))
                  + QStringLiteral(" ") + QStringLiteral("  st    ") + QStringLiteral(" ")
                  + QString(8, QLatin1Char(' ')));
    // Cut at the end of the row.
    EXPECT_EQ(arrayToHexString(data, 14, 10),
              QStringLiteral("0000: ") + QString(24, QLatin1Char(' ')) + QStringLiteral("- ")
                  + QString(18, QLatin1Char(' ')) + QStringLiteral("6F 70  ") + QString(8, QLatin1Char(' '))
                  + QStringLiteral("       op"));
}

TEST(ArrayToHexString, NothingShownOrNothingToShow)
{
    const QByteArray data = bytesFrom("abc");
    EXPECT_TRUE(arrayToHexString(data, 3, 1).isEmpty());
    EXPECT_TRUE(arrayToHexString(data, UINT_MAX, UINT_MAX).isEmpty());
    EXPECT_TRUE(arrayToHexString(QByteArray(), 0, 16).isEmpty());
    EXPECT_EQ(arrayToHexString(data, 0, 0), QStringLiteral("0000: ") + QString(24, QLatin1Char(' '))
                                                + QStringLiteral("- ") + QString(24, QLatin1Char(' '))
                                                + QString(1 + 8 + 1 + 8, QLatin1Char(' ')));
    // A huge count is cut, not overflowed.
    EXPECT_EQ(arrayToHexString(data, 1, UINT_MAX).right(17), QStringLiteral(" bc     ") + QString(9, QLatin1Char(' ')));
}

TEST(ArrayToHexString, OnlyPlainAsciiIsShownAsText)
{
    const QByteArray data("%\x1f\x7f\x80\xff ~A", 8);
    EXPECT_TRUE(arrayToHexString(data, 0, 8).endsWith(QStringLiteral("..... ~A ") + QString(8, QLatin1Char(' '))))
        << qPrintable(arrayToHexString(data, 0, 8));
    EXPECT_TRUE(arrayToHexString(data, 0, 8).startsWith(QStringLiteral("0000: 25 1F 7F 80 FF 20 7E 41 - ")));
}

TEST(ArrayToHexString, AddressWidthGrowsWithDataSize)
{
    EXPECT_TRUE(arrayToHexString(QByteArray(0xFFFF, 'x'), 0xFFF0, 1).startsWith(QStringLiteral("FFF0: 78 ")));
    EXPECT_TRUE(arrayToHexString(QByteArray(0x10000, 'x'), 0x10, 1).startsWith(QStringLiteral("000010: 78 ")));
    EXPECT_TRUE(arrayToHexString(QByteArray(0xFFFFFF, 'x'), 0xFFFFF3, 1).startsWith(QStringLiteral("FFFFF0: ")));
    EXPECT_TRUE(arrayToHexString(QByteArray(0x1000000, 'x'), 0xFFFFFF, 1).startsWith(QStringLiteral("00FFFFF0: ")));
}

TEST(QDebugDumpByteArray, OneMessagePerRow)
{
    const QByteArray data = bytesFrom("abcdefghijklmnopqrst");
    MessageCapture capture;
    qDebugDumpByteArray(data);
    ASSERT_EQ(capture.debugs().size(), 2);
    EXPECT_EQ(capture.debugs().at(0), arrayToHexString(data, 0, 16));
    EXPECT_EQ(capture.debugs().at(1), arrayToHexString(data, 16, 4));
    capture.clear();
    qDebugDumpByteArray(QByteArray());
    EXPECT_TRUE(capture.messages().isEmpty());
}

TEST(CheckFreeDiskSpace, EnoughOrTooLittle)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    MessageCapture capture;
    EXPECT_TRUE(checkFreeDiskSpace(dir.path(), 0));
    EXPECT_TRUE(capture.messages().isEmpty());
    EXPECT_FALSE(checkFreeDiskSpace(dir.path(), UINT_MAX));
    ASSERT_EQ(capture.debugs().size(), 1);
    EXPECT_TRUE(capture.debugs().at(0).startsWith(QStringLiteral("Free disk space: ")));
    EXPECT_TRUE(capture.debugs().at(0).endsWith(QStringLiteral(" ; Needed: 4294967295")));
}

TEST(CheckFreeDiskSpace, UnexaminableFileSystemHasNoSpace)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    MessageCapture capture;
    EXPECT_FALSE(checkFreeDiskSpace(dir.filePath(QStringLiteral("no/such/dir")), 0));
    EXPECT_EQ(capture.debugs(), QStringList(QStringLiteral("Free disk space: 0 ; Needed: 0")));
}

TEST(Sleeps, BlockAtLeastTheGivenTime)
{
    QElapsedTimer timer;
    timer.start();
    SASleep(20);
    EXPECT_GE(timer.elapsed(), 20);
    timer.restart();
    SAqSleep(1015);
    EXPECT_GE(timer.elapsed(), 1015);
    SASleep(0);
    SAqSleep(0);
    SAqSleep(-5);
}

// A handled signal cut SASleep() short by the rest of its current second.
TEST(Sleeps, ASignalDoesNotShortenTheSleep)
{
    struct sigaction quiet = {}, old = {};
    quiet.sa_handler = [](int) {};
    ASSERT_EQ(::sigaction(SIGALRM, &quiet, &old), 0);
    struct itimerval every50ms = {{0, 50000}, {0, 50000}}, oldTimer = {};
    ASSERT_EQ(::setitimer(ITIMER_REAL, &every50ms, &oldTimer), 0);
    QElapsedTimer timer;
    timer.start();
    SASleep(300);
    const qint64 slept = timer.elapsed();
    ::setitimer(ITIMER_REAL, &oldTimer, nullptr);
    ::sigaction(SIGALRM, &old, nullptr);
    EXPECT_GE(slept, 300);
}

TEST(Sleeps, NonBlockingSleepProcessesEventsAboveTenMilliseconds)
{
    bool fired = false;
    QTimer::singleShot(0, [&fired] { fired = true; });
    sleepNonBlock(5);
    EXPECT_FALSE(fired);
    QElapsedTimer timer;
    timer.start();
    sleepNonBlock(30);
    EXPECT_GE(timer.elapsed(), 30);
    EXPECT_TRUE(fired);
}

TEST(GetFileIndex, ComparesFileNamesOnly)
{
    const QList<QFileInfo> files = {QFileInfo(QStringLiteral("/a/b/x.log")), QFileInfo(QStringLiteral("y.log")),
                                    QFileInfo(QStringLiteral("/c/x.log"))};
    EXPECT_EQ(getFileIndex(QStringLiteral("x.log"), files), 0);
    EXPECT_EQ(getFileIndex(QStringLiteral("y.log"), files), 1);
    EXPECT_EQ(getFileIndex(QStringLiteral("b"), files), -1);
    EXPECT_EQ(getFileIndex(QStringLiteral("X.log"), files), -1);
    EXPECT_EQ(getFileIndex(QStringLiteral("x.log"), {}), -1);
}

TEST(ProjectNames, SocketNameCarriesProjectOnce)
{
    EXPECT_EQ(shortProjectName(), QStringLiteral("ferrox"));
    EXPECT_EQ(engOrganizationName(), QStringLiteral("Ferrox"));
    EXPECT_EQ(protocolSocketName(QStringLiteral("gate")), QStringLiteral("gate_ferrox"));
    EXPECT_EQ(protocolSocketName(QStringLiteral("my_ferrox_sock")), QStringLiteral("my_ferrox_sock"));
    EXPECT_EQ(protocolSocketName(QStringLiteral("FERROX")), QStringLiteral("FERROX_ferrox"));
    EXPECT_EQ(protocolSocketName(QString()), QStringLiteral("_ferrox"));
}

TEST(XmlTranslationLang, ReadsAndSetsTheSharedLanguage)
{
    EXPECT_TRUE(getXmlTranslationLang().isEmpty());
    setXmlTranslationLang(QStringLiteral("de"));
    EXPECT_EQ(getXmlTranslationLang(), QStringLiteral("de"));
    EXPECT_EQ(QXmlTranslation::m_lang, QStringLiteral("de"));
    setXmlTranslationLang(QString());
    EXPECT_TRUE(getXmlTranslationLang().isEmpty());
}

} // namespace
