#include "app/maincycle.h"

#include "core/basetie.h"

#include <QStringList>

#include <gtest/gtest.h>

namespace {

class RecordingTie : public BaseTie
{
public:
    RecordingTie(const QString &name, QStringList &calls) : m_name(name), m_calls(calls) {}
    void pollAndConvert() override { m_calls << m_name + ".pollAndConvert"; }
    int calulate() override { return m_calls << m_name + ".calulate", 0; }
    void sendDirty() override { m_calls << m_name + ".sendDirty"; }
    void drain() override { m_calls << m_name + ".drain"; }

private:
    QString m_name;
    QStringList &m_calls;
};

} // namespace

TEST(MainCycle, ThreePassesInListOrderSkippingEmptySlots)
{
    QStringList calls;
    RecordingTie a("A", calls), b("B", calls), c("C", calls);
    runMainCycle({&a, nullptr, &b, &c});
    EXPECT_EQ(calls, QStringList({"A.pollAndConvert", "B.pollAndConvert", "C.pollAndConvert", "A.calulate",
                                  "B.calulate", "C.calulate", "A.sendDirty", "B.sendDirty", "C.sendDirty"}));
    calls.clear();
    runMainCycle({});
    EXPECT_TRUE(calls.isEmpty());
}

// A stop closed every connection with the last tick's sends still in the
// process, and never retried what a fault had held back.
TEST(MainCycle, FinishingSendsThenDrainsEveryTie)
{
    QStringList calls;
    RecordingTie a("A", calls), b("B", calls);
    finishTies({&a, nullptr, &b});
    EXPECT_EQ(calls, QStringList({"A.sendDirty", "B.sendDirty", "A.drain", "B.drain"}));
}
