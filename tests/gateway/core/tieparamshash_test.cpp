#include "core/tieparamshash.h"

#include "support/memoryparam.h"

#include <dpdatatype.h>

#include <gtest/gtest.h>

namespace {

MemoryParam *param(const QString &kks, const QString &rtm = QString(), const QString &iid = QString(),
                   const QString &extId = QString())
{
    auto *p = new MemoryParam(nullptr, dpdtFloat, 1, 4);
    p->ids(kks, rtm, iid, extId);
    return p;
}

struct Index : ::testing::Test {
    QList<MemoryParam *> owned;
    TieParamsHash index;
    MemoryParam *add(MemoryParam *p)
    {
        owned << p;
        index.add(p);
        return p;
    }
    ~Index() override { qDeleteAll(owned); }
};

} // namespace

TEST_F(Index, TheFirstMatchingKindDecidesEvenIfALaterKindMatchesAnother)
{
    MemoryParam *byKks = add(param("A"));
    add(param(QString(), QString(), "7"));
    MemoryParam consumer(nullptr, dpdtFloat, 1, 4);
    consumer.ids("A", QString(), "7");
    EXPECT_EQ(index.findProvider(&consumer), byKks);
}

TEST_F(Index, OnlyIdentifiersOfTheSameKindAreCompared)
{
    add(param("X"));
    MemoryParam *byRtm = add(param(QString(), "X"));
    MemoryParam consumer(nullptr, dpdtFloat, 1, 4);
    consumer.ids(QString(), "X");
    EXPECT_EQ(index.findProvider(&consumer), byRtm);

    MemoryParam byExt(nullptr, dpdtFloat, 1, 4);
    byExt.ids(QString(), QString(), QString(), "X");
    EXPECT_EQ(index.findProvider(&byExt), nullptr);
}

TEST_F(Index, UnmatchedKksFallsThroughToTheIid)
{
    MemoryParam *byIid = add(param(QString(), QString(), "17"));
    MemoryParam consumer(nullptr, dpdtFloat, 1, 4);
    consumer.ids("nothing", QString(), "17");
    EXPECT_EQ(index.findProvider(&consumer), byIid);
    EXPECT_EQ(index.findProvider(nullptr), nullptr);
}

TEST_F(Index, TheParameterAddedLastIsFoundFirst)
{
    add(param("K"));
    MemoryParam *newer = add(param("K"));
    EXPECT_EQ(index.find("K"), newer);
    EXPECT_EQ(index.kks().count("K"), 2);
}

TEST_F(Index, FindSearchesKksThenRtmThenIidThenExtId)
{
    MemoryParam *ext = add(param(QString(), QString(), QString(), "N"));
    EXPECT_EQ(index.find("N"), ext);
    MemoryParam *iid = add(param(QString(), QString(), "N"));
    EXPECT_EQ(index.find("N"), iid);
    MemoryParam *kks = add(param("N"));
    EXPECT_EQ(index.find("N"), kks);
    EXPECT_EQ(index.find("missing"), nullptr);
    EXPECT_EQ(index.find(QString()), nullptr);
}

TEST_F(Index, UniteKeepsTheNewestFirstUnderEveryKey)
{
    TieParamsHash other;
    MemoryParam *older = param("K", "R");
    MemoryParam *newer = param("K");
    owned << older << newer;
    other.add(older);
    other.add(newer);
    index.unite(other);
    EXPECT_EQ(index.find("K"), newer);
    EXPECT_EQ(index.find("R"), older);
    EXPECT_EQ(index.kks().count("K"), 2);
    index.add(nullptr);
    EXPECT_EQ(index.kks().size(), 2);
}
