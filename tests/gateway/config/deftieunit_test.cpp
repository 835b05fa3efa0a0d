#include "config/deftieparam.h"
#include "config/deftieunit.h"
#include "config/qdeffilestruct.h"

#include "core/baseareatie.h"

#include "support/logcapture.h"
#include "support/messagecapture.h"
#include "support/scopeddebuglevel.h"

#include <dpdatatype.h>

#include <QByteArray>
#include <QFile>
#include <QTemporaryDir>
#include <QTextCodec>
#include <QTextStream>

#include <cstring>

#include <gtest/gtest.h>

namespace {

// An area tie holding its units' areas back to back in one byte array.
class MemoryAreaTie : public BaseAreaTie
{
public:
    qint32 state() const override { return 0; }
    void setAreaSize(quint64 bytes) override
    {
        BaseAreaTie::setAreaSize(bytes);
        memory.resize(static_cast<int>(bytes));
    }
    uchar *data(BaseAreaTieUnit *unit) override
    {
        if (unit->offset() + unit->unitSize() > static_cast<quint64>(memory.size()))
            return nullptr;
        return reinterpret_cast<uchar *>(memory.data()) + unit->offset();
    }
    QByteArray memory;
};

// Loads `text` into the unit's definition and rebuilds its parameters.
int loadDefinition(DefTieUnit *unit, const QString &text)
{
    QString copy = text;
    QTextStream in(&copy, QIODevice::ReadOnly);
    const int rc = unit->defStruct().LoadFromStream(in);
    unit->refreshParams();
    return rc;
}

struct DefUnitFixture : ::testing::Test {
    MemoryAreaTie tie;
    MessageCapture messages;
    LogCapture log;

    // A to-this unit loaded from `text` and added to the tie.
    DefTieUnit *addUnit(const QString &text)
    {
        auto *unit = new DefTieUnit(&tie);
        EXPECT_EQ(loadDefinition(unit, text), QDefFileStruct::dfrOk);
        unit->setDirection(BaseTieUnit::dirToThis);
        tie.addUnit(unit);
        return unit;
    }
    static DefTieParam *param(DefTieUnit *unit, int i) { return static_cast<DefTieParam *>(unit->params().at(i)); }
    uchar *memoryAt(quint64 offset) { return reinterpret_cast<uchar *>(tie.memory.data()) + offset; }
};

} // namespace

TEST_F(DefUnitFixture, UnitsAreLaidOutByTheirDefinitionsAreaSize)
{
    DefTieUnit *first = addUnit("A\n40\na,type_float,0,1,1,1\n");
    DefTieUnit *second = addUnit("B\n0x64\nb,type_double,8,1,1,1\n");
    EXPECT_EQ(first->unitSize(), 40u);
    EXPECT_EQ(second->unitSize(), 100u);
    EXPECT_EQ(first->offset(), 0u);
    EXPECT_EQ(second->offset(), 40u);
    EXPECT_EQ(tie.areaSize(), 140u);
    EXPECT_EQ(param(second, 0)->values(), memoryAt(40 + 8));
}

TEST_F(DefUnitFixture, ParametersReadAndWriteInsideTheArea)
{
    DefTieUnit *unit = addUnit("A\n16\na,type_longint,0,1,1,1\nb,type_double,8,1,1,1\n");
    ASSERT_EQ(unit->params().size(), 2);
    DefTieParam *b = param(unit, 1);
    ASSERT_EQ(b->valuesForWrite(), memoryAt(8));
    const double v = 2.5;
    std::memcpy(b->valuesForWrite(), &v, sizeof v);
    double back;
    std::memcpy(&back, tie.memory.constData() + 8, sizeof back);
    EXPECT_EQ(back, 2.5);

    // A reset writes the type's invalid pattern into the slice only.
    tie.memory.fill('\0');
    param(unit, 0)->reset();
    EXPECT_EQ(tie.memory.left(4), QByteArray(4, '\xFF'));
    EXPECT_EQ(tie.memory.mid(4), QByteArray(12, '\0'));
}

TEST_F(DefUnitFixture, RecordSlots)
{
    DefTieUnit *unit = addUnit("A\n64\nmatrix,type_shortint,16,4,2,1\n");
    DefTieParam *p = param(unit, 0);
    EXPECT_EQ(p->metatype(), static_cast<quint32>(dpdtSWord));
    EXPECT_EQ(p->count(), 8u);
    EXPECT_EQ(p->size(), 16u);
    EXPECT_EQ(p->myUnit(), unit);
    EXPECT_EQ(p->direction(), static_cast<quint32>(BaseTieUnit::dirToThis));
    EXPECT_TRUE(p->extID().isEmpty());
    EXPECT_EQ(p->numberString(), "matrix");
    EXPECT_EQ(p->IID(), "matrix");
    EXPECT_EQ(p->KKS(), "matrix");
    EXPECT_EQ(p->RTM(), "matrix");
    EXPECT_EQ(p->description(), "kks/rtm/iid=matrix");
    EXPECT_EQ(unit->paramsHash().find("matrix"), p);
    EXPECT_TRUE(p->isValid(7));
    EXPECT_FALSE(p->isValid(8));
}

TEST_F(DefUnitFixture, NoStorageWhileTheAreaHasNoData)
{
    DefTieUnit orphan; // no tie, so no area
    ASSERT_EQ(loadDefinition(&orphan, "A\n16\nv,type_float,4,2,1,1\n"), QDefFileStruct::dfrOk);
    DefTieParam *p = param(&orphan, 0);
    EXPECT_EQ(p->values(), nullptr);
    EXPECT_EQ(p->valuesForWrite(), nullptr);
    EXPECT_EQ(p->size(), 8u);
    EXPECT_EQ(p->count(), 2u);
    EXPECT_FALSE(p->isValid(0));
    p->reset();
}

TEST_F(DefUnitFixture, RefreshParamsReplacesTheParameters)
{
    ScopedDebugLevel level(4);
    DefTieUnit *unit = addUnit("A\n16\na,type_float,0,1,1,1\nb,type_float,4,1,1,1\n");
    ASSERT_EQ(unit->params().size(), 2);
    EXPECT_TRUE(messages.containsPart(": add 2 parameters"));

    QString more = "B\n8\nc,type_float,0,1,1,1\n";
    QTextStream in(&more, QIODevice::ReadOnly);
    ASSERT_EQ(unit->defStruct().LoadFromStream(in), QDefFileStruct::dfrOk);
    unit->refreshParams();
    ASSERT_EQ(unit->params().size(), 3);
    EXPECT_TRUE(messages.containsPart(": add 3 parameters"));
    EXPECT_EQ(unit->paramsHash().kks().count("a"), 1);
    EXPECT_EQ(unit->paramsHash().kks().count("c"), 1);
    EXPECT_EQ(param(unit, 2)->defRecord()->offset, 16u);

    unit->defStruct().clear();
    unit->refreshParams();
    EXPECT_TRUE(unit->params().isEmpty());
    EXPECT_TRUE(unit->paramsHash().isEmpty());
}

TEST_F(DefUnitFixture, RecordOutsideTheAreaGetsNoStorageAndIsNeverWritten)
{
    DefTieUnit *unit = addUnit("A\n16\n"
                               "first,type_longint,0,1,1,1\n"
                               "across,type_double,12,1,1,1\n"
                               "beyond,type_longint,1000,1,1,1\n"
                               "tooMany,type_longint,8,1,1,100\n");
    EXPECT_EQ(log.lines().size(), 3);
    EXPECT_TRUE(log.lines().first().startsWith("Definition record \"across\" at offset 12 with size 8"));
    // A second unit behind it, whose bytes must stay untouched.
    DefTieUnit *behind = addUnit("B\n8\nnext,type_double,0,1,1,1\n");
    ASSERT_EQ(tie.memory.size(), 24);
    tie.memory.fill('\x11');

    for (int i = 1; i < 4; ++i) {
        DefTieParam *p = param(unit, i);
        EXPECT_FALSE(p->fitsArea()) << i;
        EXPECT_EQ(p->values(), nullptr) << i;
        EXPECT_EQ(p->valuesForWrite(), nullptr) << i;
        EXPECT_EQ(p->size(), 0u) << i;
        EXPECT_EQ(p->count(), 0u) << i;
        EXPECT_FALSE(p->isValid(0)) << i;
        p->reset();
    }
    EXPECT_EQ(tie.memory, QByteArray(24, '\x11'));
    EXPECT_TRUE(param(unit, 0)->fitsArea());
    EXPECT_EQ(param(behind, 0)->values(), memoryAt(16));
}

TEST_F(DefUnitFixture, OverlappingRecordsShareTheirBytes)
{
    DefTieUnit *unit = addUnit("A\n8\nwhole,type_longuint,0,1,1,1\nlow,type_shortint,0,1,1,1\n");
    EXPECT_TRUE(log.lines().isEmpty());
    const quint32 v = 0x00020001u;
    std::memcpy(param(unit, 0)->valuesForWrite(), &v, sizeof v);
    qint16 low;
    std::memcpy(&low, param(unit, 1)->values(), sizeof low);
    EXPECT_EQ(low, 1);
}

TEST_F(DefUnitFixture, UnsupportedKeywordGivesTypeZeroAndAnEmptyParameter)
{
    DefTieUnit *unit = addUnit("A\n8\nodd,Type_Float,0,1,1,1\n");
    ScopedDebugLevel level(3);
    messages.clear();
    DefTieParam *p = param(unit, 0);
    EXPECT_EQ(p->metatype(), 0u);
    EXPECT_TRUE(messages.contains("DefTieParam::metatype(): unsupported defType =0 "));
    EXPECT_EQ(p->size(), 0u);
    EXPECT_FALSE(p->isValid(0));
}

TEST_F(DefUnitFixture, ParameterWithoutRecord)
{
    ScopedDebugLevel level(1);
    DefTieUnit *unit = addUnit("A\n8\n# no records\n");
    DefTieParam p(unit, nullptr);
    EXPECT_EQ(p.metatype(), 0u);
    EXPECT_TRUE(messages.contains("DefTieParam::metatype(): m_defRecord is NULL"));
    EXPECT_EQ(p.values(), nullptr);
    EXPECT_EQ(p.count(), 0u);
    EXPECT_EQ(p.size(), 0u);
    EXPECT_EQ(p.description(), "?");
}

TEST_F(DefUnitFixture, Koi8rDefinitionFileGivesCyrillicParameterNames)
{
    QTemporaryDir dir;
    QTextCodec *koi8r = QTextCodec::codecForName("KOI8-R");
    ASSERT_NE(koi8r, nullptr);
    const QString name = QString::fromUtf8("Уровень");
    const QString path = dir.filePath("level.def");
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(koi8r->fromUnicode("Бак # резервуар\n4\n" + name + ", type_float, 0, 1, 1, 1 # метры\n"));
    }
    auto *unit = new DefTieUnit(&tie);
    ASSERT_EQ(unit->defStruct().loadFile(path, koi8r), QDefFileStruct::dfrOk);
    unit->refreshParams();
    tie.addUnit(unit);
    ASSERT_EQ(unit->params().size(), 1);
    EXPECT_EQ(param(unit, 0)->KKS(), name);
    EXPECT_EQ(param(unit, 0)->description(), "kks/rtm/iid=" + name);
    EXPECT_EQ(unit->paramsHash().find(name), param(unit, 0));
}
