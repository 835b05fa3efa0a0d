#include "config/csvlistloader.h"
#include "config/csvtieparam.h"
#include "config/csvtieunit.h"

#include "support/logcapture.h"
#include "support/memoryparam.h"
#include "support/messagecapture.h"
#include "support/scopeddebuglevel.h"

#include <dpdatatype.h>

#include <QFile>
#include <QTemporaryDir>
#include <QTextCodec>

#include <gtest/gtest.h>

namespace {

// A unit of a tie, a temporary directory and both message channels.
struct ListFixture : ::testing::Test {
    QTemporaryDir dir;
    TestTie tie;
    CsvTieUnit *unit = new CsvTieUnit(&tie);
    MessageCapture messages;
    LogCapture log;

    ListFixture() { tie.addUnit(unit); }

    QString write(const QByteArray &bytes, const QString &name = QStringLiteral("list.csv"))
    {
        const QString path = dir.filePath(name);
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
            ADD_FAILURE() << "cannot write " << qPrintable(path);
        return path;
    }

    // Columns: type 0, index 1, kks 2 (and the other identifiers after it).
    static CsvListColumns typedColumns()
    {
        CsvListColumns c;
        c.type = 0;
        c.index = 1;
        c.kks = 2;
        return c;
    }

    CsvTieParam *param(int i) const { return static_cast<CsvTieParam *>(unit->params().at(i)); }

    // The error went out as a warning and as the same log line.
    void expectReported(const QString &text) const
    {
        EXPECT_TRUE(messages.warnings().contains(text)) << qPrintable(messages.texts().join('\n'));
        EXPECT_TRUE(log.contains(text)) << qPrintable(log.lines().join('\n'));
    }
};

struct TypeCodeRow {
    const char *code;
    quint32 type;
};

class CsvTypeCode : public ::testing::TestWithParam<TypeCodeRow> {};

} // namespace

TEST_P(CsvTypeCode, MapsToTheDataType)
{
    EXPECT_EQ(csvTypeFromCode(QString::fromLatin1(GetParam().code)), GetParam().type) << GetParam().code;
}

INSTANTIATE_TEST_SUITE_P(LettersAndNames, CsvTypeCode,
                         ::testing::Values(TypeCodeRow{"A", dpdtDTSFloat}, TypeCodeRow{"a", dpdtDTSFloat},
                                           TypeCodeRow{"R", dpdtDTSFloat}, TypeCodeRow{"r", dpdtDTSFloat},
                                           TypeCodeRow{"I", dpdtDTSSDWord}, TypeCodeRow{"n", dpdtDTSSDWord},
                                           TypeCodeRow{"D", dpdtDTSSDWordDiscrete},
                                           TypeCodeRow{"b", dpdtDTSSDWordDiscrete}, TypeCodeRow{"SDWORD", dpdtSDWord},
                                           TypeCodeRow{"sdword", dpdtSDWord},
                                           TypeCodeRow{"floatvalid", dpdtFloatValid},
                                           TypeCodeRow{"QString", dpdtBlobQString}, TypeCodeRow{"qword", 0},
                                           TypeCodeRow{"AB", 0}, TypeCodeRow{"xyz", 0}, TypeCodeRow{"", 0}));

TEST_F(ListFixture, TypeValueGivesEveryRowItsType)
{
    const QString path = write("id,kks,iid\n1,K1,I1\n2,K2,I2\n");
    CsvListColumns c;
    c.index = 0;
    c.kks = 1;
    c.iid = 2;
    ASSERT_TRUE(loadCsvList(unit, path, c, csvTypeFromCode("a"), nullptr));
    ASSERT_EQ(unit->params().size(), 2);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(param(i)->metatype(), static_cast<quint32>(dpdtDTSFloat));
        EXPECT_EQ(param(i)->count(), 1u);
        EXPECT_EQ(param(i)->size(), 8u);
        EXPECT_EQ(param(i)->myUnit(), unit);
    }
    EXPECT_EQ(param(1)->index(), 2);
    EXPECT_EQ(param(1)->KKS(), "K2");
    EXPECT_EQ(param(1)->IID(), "I2");
    EXPECT_TRUE(param(1)->RTM().isEmpty());
    EXPECT_TRUE(param(1)->extID().isEmpty());
    EXPECT_EQ(unit->paramsHash().find("K1"), param(0));
    EXPECT_EQ(unit->paramsHash().find("I2"), param(1));
    EXPECT_EQ(unit->csvParamsHash().find(1, dpdtDTSFloat), param(0));
    EXPECT_TRUE(messages.warnings().isEmpty());
    EXPECT_TRUE(log.lines().isEmpty());
}

TEST_F(ListFixture, TypeColumnOverridesTheTypeValueAndUnknownNamesGetNoStorage)
{
    const QString path = write("type,id,kks\nSDWORD,1,K1\nxyz,2,K2\nd,3,K3\n");
    ASSERT_TRUE(loadCsvList(unit, path, typedColumns(), dpdtDTSFloat, nullptr));
    ASSERT_EQ(unit->params().size(), 3);
    EXPECT_EQ(param(0)->metatype(), static_cast<quint32>(dpdtSDWord));
    EXPECT_EQ(param(0)->size(), 4u);
    EXPECT_EQ(param(1)->metatype(), 0u);
    EXPECT_EQ(param(1)->size(), 0u);
    EXPECT_EQ(param(1)->values(), nullptr);
    EXPECT_EQ(param(2)->metatype(), static_cast<quint32>(dpdtDTSSDWordDiscrete));
    expectReported("Warning loading cvs file: unknown data type \"xyz\" in " + path
                   + ", line 3; the parameter has no value and is never bound");
    EXPECT_EQ(log.lines().size(), 1);
}

// A known type without an element size is held as type 0: it is warned
// about like an unknown name, and a second row of the same type and index
// is a duplicate, not a silent replacement in the type index.
TEST_F(ListFixture, TypeWithoutElementSizeIsWarnedAndItsDuplicatesRefused)
{
    const QString path = write("type,id,kks\nSWORDERRCODE,1,K1\nSWORDERRCODE,1,K2\n");
    EXPECT_FALSE(loadCsvList(unit, path, typedColumns(), 0, nullptr));
    ASSERT_EQ(unit->params().size(), 1);
    EXPECT_EQ(param(0)->metatype(), 0u);
    EXPECT_EQ(messages.warnings(),
              (QStringList{"Warning loading cvs file: data type SWORDERRCODE in " + path
                               + ", line 2 has no element size; the parameter has no value and is never bound",
                           "Warning loading cvs file: data type SWORDERRCODE in " + path
                               + ", line 3 has no element size; the parameter has no value and is never bound",
                           "Error loading cvs file (parameter with type: SWORDERRCODE id: 1 already exist)"}));
}

TEST_F(ListFixture, EmptyLastColumnAfterTheFinalSeparatorIsPresent)
{
    const QString path = write("kks,id,type,ext\nI1,2,SDWORDVALID,\nI2,3,SDWORDVALID,\"E,3\",\nI3,4,SDWORDVALID,E4\n");
    CsvListColumns c;
    c.kks = 0;
    c.index = 1;
    c.type = 2;
    c.extid = 3;
    ASSERT_TRUE(loadCsvList(unit, path, c, 0, nullptr)) << qPrintable(messages.texts().join('\n'));
    ASSERT_EQ(unit->params().size(), 3);
    EXPECT_EQ(param(0)->metatype(), static_cast<quint32>(dpdtSDWordValid));
    EXPECT_TRUE(param(0)->extID().isEmpty());
    EXPECT_EQ(param(1)->extID(), "E,3");
    EXPECT_EQ(param(2)->extID(), "E4");
    // A separator inside an open quote closes nothing.
    EXPECT_FALSE(loadCsvList(unit, write("kks,id,type,ext\nI5,5,\"SDWORDVALID,\n", "open.csv"), c, 0, nullptr));
}

TEST_F(ListFixture, AllIdentifierColumnsAndQuotedFields)
{
    const QString path = write("id,ext,iid,kks,rtm\n"
                               "4, \"E,1\" ,I4,\"K \"\"four\"\"\",R4\n");
    CsvListColumns c;
    c.index = 0;
    c.extid = 1;
    c.iid = 2;
    c.kks = 3;
    c.rtm = 4;
    ASSERT_TRUE(loadCsvList(unit, path, c, dpdtSDWord, nullptr));
    ASSERT_EQ(unit->params().size(), 1);
    EXPECT_EQ(param(0)->extID(), "E,1");
    EXPECT_EQ(param(0)->IID(), "I4");
    EXPECT_EQ(param(0)->KKS(), "K \"four\"");
    EXPECT_EQ(param(0)->RTM(), "R4");
    EXPECT_EQ(unit->paramsHash().find("E,1"), param(0));
}

TEST_F(ListFixture, SameIndexUnderAnotherTypeIsAcceptedUnderTheSameTypeRejected)
{
    const QString path = write("type,id,kks\nA,1,K1\nI,1,K2\nA,2,K3\nR,1,K4\nA,5,K5\n");
    EXPECT_FALSE(loadCsvList(unit, path, typedColumns(), 0, nullptr));
    // The rows before the clash stay in the unit.
    ASSERT_EQ(unit->params().size(), 3);
    EXPECT_EQ(unit->csvParamsHash().find(1, dpdtDTSFloat), param(0));
    EXPECT_EQ(unit->csvParamsHash().find(1, dpdtDTSSDWord), param(1));
    EXPECT_EQ(messages.warnings(),
              QStringList{"Error loading cvs file (parameter with type: DTSFLOAT id: 1 already exist)"});
    EXPECT_EQ(log.lines(),
              QStringList{"Error loading cvs file (parameter with type: DTSFLOAT and id: 1 already exist)"});
}

TEST_F(ListFixture, SameIndexInAnotherUnitIsAccepted)
{
    const QString path = write("type,id,kks\nA,1,K1\n");
    ASSERT_TRUE(loadCsvList(unit, path, typedColumns(), 0, nullptr));
    auto *other = new CsvTieUnit(&tie);
    tie.addUnit(other);
    EXPECT_TRUE(loadCsvList(other, path, typedColumns(), 0, nullptr));
    EXPECT_EQ(other->params().size(), 1);
}

struct BadIdRow {
    const char *field;
};

class CsvBadId : public ListFixture, public ::testing::WithParamInterface<BadIdRow> {};

TEST_P(CsvBadId, FailsTheListWithWrongId)
{
    const QByteArray field = GetParam().field;
    const QString path = write("type,id,kks\nA,3,K3\nA," + field + ",K9\nA,4,K4\n");
    EXPECT_FALSE(loadCsvList(unit, path, typedColumns(), 0, nullptr));
    EXPECT_EQ(unit->params().size(), 1);
    expectReported(QStringLiteral("Error loading cvs file (wrong id: \"%1\")").arg(QString::fromLatin1(field)));
}

INSTANTIATE_TEST_SUITE_P(NotAnUnsignedDecimal, CsvBadId,
                         ::testing::Values(BadIdRow{"12a"}, BadIdRow{"-1"}, BadIdRow{"+5"}, BadIdRow{"0x10"},
                                           BadIdRow{"1.5"}, BadIdRow{""}, BadIdRow{"2147483648"},
                                           BadIdRow{"99999999999999999999"}));

TEST_F(ListFixture, IndexBoundsThatParse)
{
    const QString path = write("type,id,kks\nA,0,K0\nA,2147483647,KMAX\nA,007,K7\n");
    ASSERT_TRUE(loadCsvList(unit, path, typedColumns(), 0, nullptr));
    ASSERT_EQ(unit->params().size(), 3);
    EXPECT_EQ(param(0)->index(), 0);
    EXPECT_EQ(param(1)->index(), 2147483647);
    EXPECT_EQ(param(2)->index(), 7);
}

TEST_F(ListFixture, LineWithoutTheLargestColumnFailsEvenWhenItIsNotNeeded)
{
    // rtm is column 4; the second row has only four fields.
    const QString path = write("type,id,kks,x,rtm\nA,1,K1,x,R1\nA,2,K2,x\nA,3,K3,x,R3\n");
    CsvListColumns c = typedColumns();
    c.rtm = 4;
    EXPECT_EQ(c.largest(), 4);
    EXPECT_FALSE(loadCsvList(unit, path, c, 0, nullptr));
    EXPECT_EQ(unit->params().size(), 1);
    expectReported("Error loading cvs file (line foo short): " + path + ", line 3");
}

TEST_F(ListFixture, BlankLinesAreSkippedAndAHeaderAloneGivesAnEmptyUnit)
{
    const QString rows = write("\n\n  \ntype,id,kks\n\nA,1,K1\n   \n\nA,2,K2\n\n");
    ASSERT_TRUE(loadCsvList(unit, rows, typedColumns(), 0, nullptr));
    EXPECT_EQ(unit->params().size(), 2);

    auto *headerOnly = new CsvTieUnit(&tie);
    tie.addUnit(headerOnly);
    EXPECT_TRUE(loadCsvList(headerOnly, write("type,id,kks\n\n", "header.csv"), typedColumns(), 0, nullptr));
    EXPECT_TRUE(headerOnly->params().isEmpty());
    EXPECT_TRUE(loadCsvList(headerOnly, write("", "empty.csv"), typedColumns(), 0, nullptr));
    EXPECT_TRUE(headerOnly->params().isEmpty());
    EXPECT_TRUE(messages.warnings().isEmpty());
}

TEST_F(ListFixture, MissingFileIsReportedWithTheSystemsReason)
{
    const QString path = dir.filePath("missing.csv");
    EXPECT_FALSE(loadCsvList(unit, path, typedColumns(), 0, nullptr));
    ASSERT_EQ(log.lines().size(), 1);
    EXPECT_TRUE(log.lines().first().startsWith("Error opening file " + path + " ("));
    EXPECT_EQ(messages.warnings(), log.lines());
}

TEST_F(ListFixture, ColumnsAreCheckedBeforeAnyRow)
{
    const QString path = write("type,id,kks\nA,1,K1\n");
    CsvListColumns noType = typedColumns();
    noType.type = -1;
    EXPECT_FALSE(loadCsvList(unit, path, noType, 0, nullptr));
    expectReported("Error loading cvs file (DataType value and column are not set)");

    CsvListColumns noIndex = typedColumns();
    noIndex.index = -1;
    EXPECT_FALSE(loadCsvList(unit, path, noIndex, 0, nullptr));
    expectReported("Error loading cvs file (column for id (index) is not set)");

    CsvListColumns noIdentifier = typedColumns();
    noIdentifier.kks = -1;
    noIdentifier.extid = 2; // an external id alone is not enough
    EXPECT_FALSE(loadCsvList(unit, path, noIdentifier, 0, nullptr));
    expectReported("Error loading cvs file (column(s) for at least one from IID, KKS, RTM should be set)");

    EXPECT_TRUE(unit->params().isEmpty());
    EXPECT_EQ(log.lines().size(), 3);
}

TEST_F(ListFixture, AddedParametersAreReportedAtLevelFour)
{
    ScopedDebugLevel level(4);
    const QString path = write("type,id,kks\nA,1,K1\n");
    ASSERT_TRUE(loadCsvList(unit, path, typedColumns(), 0, nullptr));
    EXPECT_TRUE(messages.contains("Added parameter with type DTSFLOAT(33) index=1 IID= ExtID= KKS=K1 RTM="));
}

TEST(CsvCodec, UnknownOrEmptyNamesFallBackToTheLocaleCodec)
{
    EXPECT_EQ(csvCodecForName(QString()), QTextCodec::codecForLocale());
    EXPECT_EQ(csvCodecForName("no-such-encoding"), QTextCodec::codecForLocale());
    ASSERT_NE(csvCodecForName("KOI8-R"), nullptr);
    EXPECT_EQ(csvCodecForName("koi8-r")->name(), QByteArray("KOI8-R"));
}

TEST_F(ListFixture, ListIsDecodedWithTheGivenCodecOrTheLocalesOne)
{
    QTextCodec *koi8r = QTextCodec::codecForName("KOI8-R");
    ASSERT_NE(koi8r, nullptr);
    const QString name = QString::fromUtf8("Давление");
    const QString path = write(koi8r->fromUnicode("type,id,kks\nA,1," + name + "\n"));

    ASSERT_TRUE(loadCsvList(unit, path, typedColumns(), 0, koi8r));
    EXPECT_EQ(param(0)->KKS(), name);

    // An unknown encoding name falls back to the locale codec; make the
    // locale's codec KOI8-R for this test so the fallback is visible.
    QTextCodec *previous = QTextCodec::codecForLocale();
    QTextCodec::setCodecForLocale(koi8r);
    auto *fallback = new CsvTieUnit(&tie);
    tie.addUnit(fallback);
    const bool loaded = loadCsvList(fallback, path, typedColumns(), 0, csvCodecForName("no-such-encoding"));
    auto *nullCodec = new CsvTieUnit(&tie);
    tie.addUnit(nullCodec);
    const bool loadedNull = loadCsvList(nullCodec, path, typedColumns(), 0, nullptr);
    QTextCodec::setCodecForLocale(previous);

    ASSERT_TRUE(loaded);
    ASSERT_TRUE(loadedNull);
    EXPECT_EQ(fallback->params().at(0)->KKS(), name);
    EXPECT_EQ(nullCodec->params().at(0)->KKS(), name);
}

TEST_F(ListFixture, NullUnitIsRefused)
{
    const QString path = write("type,id,kks\nA,1,K1\n");
    EXPECT_FALSE(loadCsvList(nullptr, path, typedColumns(), 0, nullptr));
}
