#include "config/qdeffilestruct.h"

#include "support/logcapture.h"
#include "support/messagecapture.h"
#include "support/scopeddebuglevel.h"

#include <dpdatatype.h>

#include <QFile>
#include <QTemporaryDir>
#include <QTextCodec>
#include <QTextStream>

#include <limits>

#include <gtest/gtest.h>

namespace {

// Loads `text` from a stream into `def`.
int loadText(QDefFileStruct &def, const QString &text)
{
    QString copy = text;
    QTextStream in(&copy, QIODevice::ReadOnly);
    return def.LoadFromStream(in);
}

struct SizeLineRow {
    const char *line;
    quint64 bytes;
};

class DefSizeLine : public ::testing::TestWithParam<SizeLineRow> {};

struct KeywordRow {
    const char *keyword;
    int code;
    int elementBytes;
    quint32 dataType;
};

class DefKeyword : public ::testing::TestWithParam<KeywordRow> {};

class DefBadRecord : public ::testing::TestWithParam<const char *> {};

} // namespace

TEST(QDefFileStruct, AreaWithOneFloatRecord)
{
    QDefFileStruct def;
    ASSERT_EQ(loadText(def, "AREA\n0x100\ntemp, type_float, 8, 1, 1, 1\n"), QDefFileStruct::dfrOk);
    EXPECT_EQ(def.areaSize(), 256u);
    ASSERT_EQ(def.records().size(), 1);
    const QDefRecord *r = def.records().first();
    EXPECT_EQ(r->name, "temp");
    EXPECT_EQ(r->type, 7);
    EXPECT_EQ(r->offset, 8u);
    EXPECT_EQ(r->count(), 1u);
    EXPECT_EQ(r->size(), 4u);
    EXPECT_EQ(def.record("temp"), r);
    EXPECT_EQ(def.record("nothing"), nullptr);
}

TEST_P(DefSizeLine, IsReadInCNotation)
{
    QDefFileStruct def;
    ASSERT_EQ(loadText(def, QStringLiteral("AREA\n%1\nx,type_sbyte,0,1,1,1\n").arg(GetParam().line)),
              QDefFileStruct::dfrOk);
    EXPECT_EQ(def.areaSize(), GetParam().bytes);
}

INSTANTIATE_TEST_SUITE_P(OctalHexDecimal, DefSizeLine,
                         ::testing::Values(SizeLineRow{"0400", 256}, SizeLineRow{"0x100", 256},
                                           SizeLineRow{"0X1f", 31}, SizeLineRow{"256", 256}, SizeLineRow{"0", 0},
                                           SizeLineRow{"\"12\"", 12}));

TEST(QDefFileStruct, BadSizeLinesAreFormatErrors)
{
    for (const char *line : {"08", "0x", "-1", "+4", "12k", "1,2", "\"\""}) {
        QDefFileStruct def;
        EXPECT_EQ(loadText(def, QStringLiteral("AREA\n%1\nx,type_sbyte,0,1,1,1\n").arg(line)),
                  QDefFileStruct::dfrFormatError)
            << line;
    }
}

TEST(QDefFileStruct, ShortRecordDimensions)
{
    QDefFileStruct def;
    ASSERT_EQ(loadText(def, "A\n64\nm, type_shortint, 0, 4, 2, 1\nz, type_double, 16, 3, 0, 2\n"),
              QDefFileStruct::dfrOk);
    ASSERT_EQ(def.records().size(), 2);
    EXPECT_EQ(def.records().at(0)->count(), 8u);
    EXPECT_EQ(def.records().at(0)->size(), 16u);
    EXPECT_EQ(def.records().at(1)->count(), 0u);
    EXPECT_EQ(def.records().at(1)->size(), 0u);
}

TEST(QDefFileStruct, FiveFieldRecordFailsAndEarlierRecordsStay)
{
    QDefFileStruct def;
    EXPECT_EQ(loadText(def, "A\n64\na,type_float,0,1,1,1\nb,type_float,4,1,1\nc,type_float,8,1,1,1\n"),
              QDefFileStruct::dfrFormatError);
    ASSERT_EQ(def.records().size(), 1);
    EXPECT_EQ(def.records().first()->name, "a");
    EXPECT_EQ(def.areaSize(), 64u);
}

TEST_P(DefBadRecord, IsAFormatErrorAndTheRecordIsDiscarded)
{
    QDefFileStruct def;
    EXPECT_EQ(loadText(def, QStringLiteral("A\n64\n%1\n").arg(GetParam())), QDefFileStruct::dfrFormatError);
    EXPECT_TRUE(def.records().isEmpty());
    EXPECT_EQ(def.record("r"), nullptr);
}

INSTANTIATE_TEST_SUITE_P(UnparsableNumbers, DefBadRecord,
                         ::testing::Values("r,type_float,8a,1,1,1", "r,type_float,-8,1,1,1", "r,type_float,0x8,1,1,1",
                                           "r,type_float,8,1,one,1", "r,type_float,8,1,1,",
                                           "r,type_float,8,1,1,99999999999999999999999"));

TEST(QDefFileStruct, MoreThanSixFieldsAreIgnored)
{
    QDefFileStruct def;
    ASSERT_EQ(loadText(def, "A\n64\nr,type_longint,4,2,1,1,extra,fields\n"), QDefFileStruct::dfrOk);
    ASSERT_EQ(def.records().size(), 1);
    EXPECT_EQ(def.records().first()->size(), 8u);
}

TEST(QDefFileStruct, CommentsAndBlankLinesAreIgnored)
{
    QDefFileStruct def;
    const QString text = "# leading comment\n"
                         "\n"
                         "   AREA   # the name\n"
                         "# between\n"
                         "  0x20 #size\n"
                         "\n"
                         "a, type_longint, 0, 1, 1, 1   # first\n"
                         "#b, type_longint, 4, 1, 1, 1\n"
                         "   \n"
                         "c, type_longint, 8, 1, 1, 1\n"
                         "# trailing\n";
    ASSERT_EQ(loadText(def, text), QDefFileStruct::dfrOk);
    ASSERT_EQ(def.records().size(), 2);
    EXPECT_EQ(def.records().at(0)->name, "a");
    EXPECT_EQ(def.records().at(1)->name, "c");
    EXPECT_EQ(def.areaSize(), 32u);
}

TEST(QDefFileStruct, KeywordInCapitalsIsUnsupportedAndGivesAZeroByteRecord)
{
    ScopedDebugLevel level(3);
    MessageCapture capture;
    QDefFileStruct def;
    ASSERT_EQ(loadText(def, "A\n64\nr,TYPE_FLOAT,8,1,1,1\n"), QDefFileStruct::dfrOk);
    ASSERT_EQ(def.records().size(), 1);
    EXPECT_EQ(def.records().first()->type, 0);
    EXPECT_EQ(def.records().first()->size(), 0u);
    EXPECT_TRUE(capture.contains("QDefFileStruct::defFileTypeFromString: Unsupported type: TYPE_FLOAT"));
}

TEST(QDefFileStruct, NameOnlyOrNameAndSizeAreFormatErrors)
{
    for (const char *text : {"AREA", "AREA\n", "AREA\n0x100", "AREA\n0x100\n", "AREA,X\n10\nr,type_float,0,1,1,1\n",
                             "AREA\n10,20\nr,type_float,0,1,1,1\n", "# only a comment\n\n"}) {
        QDefFileStruct def;
        EXPECT_EQ(loadText(def, QString::fromLatin1(text)), QDefFileStruct::dfrFormatError) << text;
        EXPECT_TRUE(def.records().isEmpty()) << text;
    }
}

TEST(QDefFileStruct, NameAndSizeFollowedByOnlyCommentsIsAnEmptyArea)
{
    QDefFileStruct def;
    EXPECT_EQ(loadText(def, "AREA\n16\n# no records yet\n"), QDefFileStruct::dfrOk);
    EXPECT_EQ(def.areaSize(), 16u);
    EXPECT_TRUE(def.records().isEmpty());
}

TEST(QDefFileStruct, EmptyAndMissingFiles)
{
    QTemporaryDir dir;
    const QString empty = dir.filePath("empty.def");
    {
        QFile f(empty);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    QDefFileStruct def;
    EXPECT_EQ(def.loadFile(empty), QDefFileStruct::dfrEmptyFile);
    EXPECT_EQ(def.loadFile(dir.filePath("missing.def")), QDefFileStruct::dfrCannotOpen);
    EXPECT_EQ(def.areaSize(), 0u);
}

TEST(QDefFileStruct, FileIsReadAsKoi8rByDefault)
{
    QTemporaryDir dir;
    QTextCodec *koi8r = QTextCodec::codecForName("KOI8-R");
    ASSERT_NE(koi8r, nullptr);
    const QString name = QString::fromUtf8("Температура");
    const QString path = dir.filePath("area.def");
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(koi8r->fromUnicode("Область\n8\n" + name + ",type_float,4,1,1,1\n"));
    }
    QDefFileStruct def;
    ASSERT_EQ(def.loadFile(path), QDefFileStruct::dfrOk);
    ASSERT_EQ(def.records().size(), 1);
    EXPECT_EQ(def.records().first()->name, name);

    QDefFileStruct explicitCodec;
    ASSERT_EQ(explicitCodec.loadFile(path, koi8r), QDefFileStruct::dfrOk);
    EXPECT_EQ(explicitCodec.record(name), explicitCodec.records().first());
}

TEST(QDefFileStruct, LaterRecordWithTheSameNameWinsTheHashBothStayListed)
{
    QDefFileStruct def;
    ASSERT_EQ(loadText(def, "A\n16\nv,type_float,0,1,1,1\nv,type_double,8,1,1,1\n"), QDefFileStruct::dfrOk);
    ASSERT_EQ(def.records().size(), 2);
    EXPECT_EQ(def.record("v"), def.records().at(1));
}

TEST(QDefFileStruct, SecondDefinitionCountsItsOffsetsFromThePreviousAreaSize)
{
    QDefFileStruct def;
    ASSERT_EQ(loadText(def, "A\n16\na,type_float,4,1,1,1\n"), QDefFileStruct::dfrOk);
    ASSERT_EQ(loadText(def, "B\n8\nb,type_float,4,1,1,1\n"), QDefFileStruct::dfrOk);
    EXPECT_EQ(def.areaSize(), 24u);
    EXPECT_EQ(def.record("b")->offset, 20u);
    def.clear();
    EXPECT_EQ(def.areaSize(), 0u);
    EXPECT_TRUE(def.records().isEmpty());
    EXPECT_EQ(def.record("a"), nullptr);
}

TEST(QDefFileStruct, AddedRecordsAreAnnouncedFromLevelTwo)
{
    QDefFileStruct quiet;
    {
        MessageCapture capture;
        ASSERT_EQ(loadText(quiet, "A\n64\nm,type_shortint,32,4,2,1\n"), QDefFileStruct::dfrOk);
        EXPECT_TRUE(capture.messages().isEmpty());
    }
    ScopedDebugLevel level(2);
    MessageCapture capture;
    QDefFileStruct def;
    ASSERT_EQ(loadText(def, "A\n64\nm,type_shortint,32,4,2,1\n"), QDefFileStruct::dfrOk);
    EXPECT_EQ(capture.warnings(),
              QStringList{"Added record for \"m\" with type type_shortint(8) offset: 32(0x20) size 4 x 2 x 1 = 16"});
}

TEST(QDefFileStruct, RecordOutsideTheAreaIsWarnedOnBothChannels)
{
    MessageCapture capture;
    LogCapture log;
    QDefFileStruct def;
    ASSERT_EQ(loadText(def, "A\n16\n"
                            "inside,type_double,8,1,1,1\n"
                            "overlap,type_longint,10,1,1,1\n"
                            "across,type_double,12,1,1,1\n"
                            "beyond,type_float,100,1,1,1\n"),
              QDefFileStruct::dfrOk);
    EXPECT_EQ(def.records().size(), 4);
    const QStringList expected{
        "Definition record \"across\" at offset 12 with size 8 lies outside the area of 16 bytes; its parameter "
        "gets no storage",
        "Definition record \"beyond\" at offset 100 with size 4 lies outside the area of 16 bytes; its parameter "
        "gets no storage"};
    EXPECT_EQ(capture.warnings(), expected);
    EXPECT_EQ(log.lines(), expected);
    EXPECT_TRUE(def.record("inside")->fitsInto(16));
    EXPECT_TRUE(def.record("overlap")->fitsInto(16));
    EXPECT_FALSE(def.record("across")->fitsInto(16));
}

TEST(QDefRecord, HugeDimensionsSaturateInsteadOfWrapping)
{
    QDefRecord r;
    r.type = 20; // 16-byte elements
    r.dim1 = 1ull << 40;
    r.dim2 = 1ull << 30;
    r.dim3 = 1;
    EXPECT_EQ(r.count(), std::numeric_limits<quint64>::max()); // 2^70 elements
    EXPECT_EQ(r.size(), std::numeric_limits<quint64>::max());
    EXPECT_FALSE(r.fitsInto(std::numeric_limits<quint64>::max() - 1));
    r.dim2 = 1ull << 20; // count 2^60 fits, size 2^64 does not
    EXPECT_EQ(r.count(), 1ull << 60);
    EXPECT_EQ(r.size(), std::numeric_limits<quint64>::max());
    r.offset = std::numeric_limits<quint64>::max();
    r.dim1 = r.dim2 = 1;
    EXPECT_FALSE(r.fitsInto(16)); // offset + size would wrap to a small value
}

TEST_P(DefKeyword, HasItsCodeElementBytesAndDataType)
{
    const KeywordRow &row = GetParam();
    EXPECT_EQ(QDefFileStruct::defFileTypeFromString(QString::fromLatin1(row.keyword)), row.code);
    EXPECT_EQ(QDefFileStruct::keywordOf(row.code), QString::fromLatin1(row.keyword));
    EXPECT_EQ(QDefFileStruct::elementBytesOf(row.code), row.elementBytes);
    EXPECT_EQ(QDefFileStruct::dataTypeOf(row.code), row.dataType);
}

INSTANTIATE_TEST_SUITE_P(
    EveryKeyword, DefKeyword,
    ::testing::Values(KeywordRow{"type_timeval", 1, 8, dpdtTimeVal}, KeywordRow{"type_rval", 2, 8, dpdtFloatValid},
                      KeywordRow{"type_ival", 3, 8, dpdtSDWordValid}, KeywordRow{"type_srval", 4, 8, dpdtFloatState},
                      KeywordRow{"type_sival", 5, 8, dpdtSDWordState}, KeywordRow{"type_longint", 6, 4, dpdtSDWord},
                      KeywordRow{"type_float", 7, 4, dpdtFloat}, KeywordRow{"type_shortint", 8, 2, dpdtSWord},
                      KeywordRow{"type_binshortint", 9, 2, dpdtWordDiscrete},
                      KeywordRow{"type_double", 10, 8, dpdtDouble},
                      KeywordRow{"type_errshortintval", 11, 4, dpdtSWordErrCode},
                      KeywordRow{"type_errival", 12, 8, dpdtSDWordErrCode},
                      KeywordRow{"type_errrval", 13, 8, dpdtFloatErrCode}, KeywordRow{"type_sbyte", 14, 1, dpdtSByte},
                      KeywordRow{"type_binbyte", 15, 1, dpdtBool}, KeywordRow{"type_timespec", 16, 8, dpdtTimeSpec},
                      KeywordRow{"type_doubledaysecsuts", 17, 8, dpdtDoubleDaySecsUTC},
                      KeywordRow{"type_doubledaysecslocal", 18, 8, dpdtDoubleDaySecsLocal},
                      KeywordRow{"type_longuint", 19, 4, dpdtDWord},
                      KeywordRow{"type_timespec64", 20, 16, dpdtTimeSpec64},
                      KeywordRow{"type_int64", 21, 8, dpdtSQWord}, KeywordRow{"type_uint64", 22, 8, dpdtQWord},
                      KeywordRow{"", 0, 0, 0}));

TEST(QDefFileStruct, UnknownCodesHaveNoKeywordSizeOrType)
{
    for (int code : {-1, 0, 23, 1000}) {
        EXPECT_TRUE(QDefFileStruct::keywordOf(code).isEmpty()) << code;
        EXPECT_EQ(QDefFileStruct::elementBytesOf(code), 0) << code;
        EXPECT_EQ(QDefFileStruct::dataTypeOf(code), 0u) << code;
    }
    EXPECT_EQ(QDefFileStruct::defFileTypeFromString("type_floa"), 0);
    EXPECT_EQ(QDefFileStruct::defFileTypeFromString(" type_float"), 0);
}
