#include "links/files/textlinereader.h"

#include <QBuffer>
#include <QFile>
#include <QTextCodec>

#include <gtest/gtest.h>

namespace {

struct Reader {
    QByteArray data;
    QBuffer buffer{&data};
    TextLineReader reader;

    explicit Reader(const QByteArray &bytes, qint64 start = 0)
        : data(bytes), reader((buffer.open(QIODevice::ReadOnly), &buffer), start, QTextCodec::codecForName("UTF-8"))
    {
    }
    QStringList next() { return reader.nextFields(SemicolonSeparated); }
};

} // namespace

TEST(TextLineReader, PositionsAreByteOffsetsAfterEachLine)
{
    Reader r("a;1\r\n\n  \n\xc3\xa4\xc3\xb6;2\nlast;3");
    EXPECT_EQ(r.next(), QStringList({"a", "1"}));
    EXPECT_EQ(r.reader.pos(), 5);
    EXPECT_EQ(r.next(), QStringList({QString::fromUtf8("äö"), "2"})); // blank lines skipped
    EXPECT_EQ(r.reader.pos(), 16); // 5 + 1 + 3 + 7 bytes
    EXPECT_EQ(r.next(), QStringList({"last", "3"})); // no line end at the end of the data
    EXPECT_EQ(r.reader.pos(), 22);
    EXPECT_TRUE(r.next().isEmpty());
    EXPECT_EQ(r.reader.pos(), 22);
}

TEST(TextLineReader, RestartReadsFromTheGivenOffset)
{
    Reader r("a;1\nb;2\n", 4);
    EXPECT_EQ(r.next(), QStringList({"b", "2"}));
    EXPECT_TRUE(r.reader.restart(0));
    EXPECT_EQ(r.next(), QStringList({"a", "1"}));
    EXPECT_FALSE(r.reader.restart(-1));
}

TEST(TextLineReader, LinesLongerThanTheLimitAreCutAndTheNextLineIsIntact)
{
    QByteArray longLine = "id;" + QByteArray(TextLineReader::MaxLineBytes + 5000, 'x') + "\n";
    Reader r(longLine + "b;2\n");
    const QStringList first = r.next();
    ASSERT_EQ(first.size(), 2);
    EXPECT_EQ(first.at(1).size(), TextLineReader::MaxLineBytes - 3);
    EXPECT_TRUE(r.reader.lastLineCut());
    EXPECT_EQ(r.reader.pos(), longLine.size());
    EXPECT_EQ(r.next(), QStringList({"b", "2"}));
    EXPECT_FALSE(r.reader.lastLineCut());
    EXPECT_EQ(r.reader.lineStart(), longLine.size());

    // A line of the limit itself is whole (it was taken as too long).
    for (const int bytes : {TextLineReader::MaxLineBytes, TextLineReader::MaxLineBytes + 1}) {
        Reader edge("id;" + QByteArray(bytes - 3, 'x') + "\n");
        EXPECT_EQ(edge.next().value(1).size(), TextLineReader::MaxLineBytes - 3);
        EXPECT_EQ(edge.reader.lastLineCut(), bytes > TextLineReader::MaxLineBytes) << bytes;
    }
}

TEST(TextLineReader, LinesAcrossTheInitialBufferAreWhole)
{
    const QByteArray value(10000, '7');
    Reader r("id;" + value + "\nnext;1\n");
    EXPECT_EQ(r.next(), QStringList({"id", QString::fromLatin1(value)}));
    EXPECT_EQ(r.next(), QStringList({"next", "1"}));
}

TEST(TextLineReader, OnlyALineWithoutAnUnquotedSeparatorHasOneField)
{
    Reader r("I1;\n\"x\" ; \nmarker\n\"a;b\"\n");
    EXPECT_EQ(r.next(), QStringList({"I1", ""}));
    EXPECT_EQ(r.next(), QStringList({"x", ""}));
    EXPECT_EQ(r.next(), QStringList({"marker"}));
    EXPECT_EQ(r.next(), QStringList({"a;b"})); // the separator is quoted
}

TEST(TextLineReader, NothingPastTheEndIsReadAndAnOpenLineOnlyWhenAllowedAndAtTheEnd)
{
    // The data grew after the size was checked: nothing past it is a line.
    Reader r("A;1\nB;12.5\n");
    r.reader.setEnd(6, false);
    EXPECT_EQ(r.next(), QStringList({"A", "1"}));
    EXPECT_TRUE(r.next().isEmpty());
    EXPECT_EQ(r.reader.pos(), 4);
    EXPECT_TRUE(r.reader.openLineLeft());

    // Allowed, an open line that reaches the end is taken.
    ASSERT_TRUE(r.reader.restart(4));
    r.reader.setEnd(6, true);
    EXPECT_EQ(r.next(), QStringList({"B", ""}));
    EXPECT_EQ(r.reader.pos(), 6);
    EXPECT_FALSE(r.reader.openLineLeft());

    // The data got shorter than the end: the line they end in is never taken.
    Reader shrunk("A;1\nB;1");
    shrunk.reader.setEnd(11, true);
    EXPECT_EQ(shrunk.next(), QStringList({"A", "1"}));
    EXPECT_TRUE(shrunk.next().isEmpty());
    EXPECT_EQ(shrunk.reader.pos(), 4);
}

// A failed read looked like the end of the data, so a pass cut short by an
// I/O error was taken as whole. (Reading this process's memory at address
// 0, which is never mapped, fails with EIO.)
TEST(TextLineReader, AFailedReadIsToldFromTheEndOfTheData)
{
    QFile memory(QStringLiteral("/proc/self/mem"));
    ASSERT_TRUE(memory.open(QIODevice::ReadOnly | QIODevice::Unbuffered));
    TextLineReader failing(&memory, 0, nullptr);
    EXPECT_TRUE(failing.nextFields(SemicolonSeparated).isEmpty());
    EXPECT_TRUE(failing.readFailed());
    Reader ended("a;1\n");
    ended.next();
    EXPECT_TRUE(ended.next().isEmpty());
    EXPECT_FALSE(ended.reader.readFailed());
}
