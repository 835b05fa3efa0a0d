#include "soakrun.h"

#include <QFile>
#include <QTextStream>

#include <gtest/gtest.h>

#include <vector>

#include <fcntl.h>
#include <mqueue.h>

namespace {

SoakOptions shortRun(quint64 cycles)
{
    SoakOptions options;
    options.cycles = cycles;
    options.sampleEvery = 250;
#ifdef __SANITIZE_ADDRESS__
    // The sanitizer's quarantine holds freed memory; descriptors still count.
    options.checkRss = false;
#endif
    return options;
}

// A short soak: every number the peer, the queue writer and the input file
// sent arrives in order where it goes, nothing is dropped or reconnected,
// and neither memory nor descriptors grow.
TEST(Soak, ShortRunIsFlatAndAccountsForEveryValue)
{
    QString text;
    QTextStream out(&text);
    const SoakResult result = runSoak(shortRun(5000), out);
    EXPECT_TRUE(result.setUp) << text.toStdString();
    EXPECT_TRUE(result.passed()) << text.toStdString();
    EXPECT_EQ(result.cycles, 5000u);
    EXPECT_EQ(result.samples.size(), 21);
    EXPECT_LE(result.fdSlope, 0.0);
}

// The verdict is not blind: a descriptor left open now and then fails the
// run, and a queue message the writer did not send shows in the accounts.
TEST(Soak, LeakedDescriptorsAndStrayMessagesFailTheRun)
{
    std::vector<QFile *> leaked;
    SoakOptions options = shortRun(2000);
    options.afterCycle = [&leaked](quint64 cycle) {
        if (cycle == 700) {
            // One message more than the writer sent.
            const mqd_t queue = ::mq_open(soakInputQueue().constData(), O_WRONLY | O_NONBLOCK);
            const float extra[2] = {0, 0};
            ::mq_send(queue, reinterpret_cast<const char *>(extra), sizeof extra, 0);
            ::mq_close(queue);
        }
        if (cycle > 1000 && cycle % 100 == 0) {
            auto *file = new QFile(QStringLiteral("/proc/self/status"));
            file->open(QIODevice::ReadOnly);
            leaked.push_back(file);
        }
    };
    QString text;
    QTextStream out(&text);
    const SoakResult result = runSoak(options, out);
    for (QFile *file : leaked)
        delete file;
    EXPECT_TRUE(result.setUp) << text.toStdString();
    EXPECT_FALSE(result.passed());
    EXPECT_GT(result.fdSlope, 50.0) << text.toStdString();
    EXPECT_EQ(result.faults.filter(QStringLiteral("descriptors")).size(), 1) << text.toStdString();
    EXPECT_EQ(result.faults.filter(QStringLiteral("queue values received by the tie: 2001")).size(), 1)
        << text.toStdString();
}

// The measurements the verdict rests on: the slope of a line with noise
// around it, and the descriptors and resident size following what the
// process holds.
TEST(SoakMeasures, SlopeDescriptorsAndResidentSize)
{
    EXPECT_DOUBLE_EQ(leastSquaresSlope({1, 2, 3, 4}, {10, 12, 14, 16}), 2.0);
    EXPECT_NEAR(leastSquaresSlope({0, 1, 2, 3, 4, 5}, {5, 4, 6, 5, 4, 6}), 0.114, 0.001);
    EXPECT_EQ(leastSquaresSlope({1}, {3}), 0.0);
    EXPECT_EQ(leastSquaresSlope({2, 2, 2}, {1, 5, 9}), 0.0);

    const int before = openDescriptors();
    ASSERT_GT(before, 2);
    {
        QFile file(QStringLiteral("/proc/self/status"));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        EXPECT_EQ(openDescriptors(), before + 1);
    }
    EXPECT_EQ(openDescriptors(), before);

    const qint64 rss = residentKiB();
    ASSERT_GT(rss, 0);
    std::vector<char> block(64 * 1024 * 1024, 1);
    EXPECT_GE(residentKiB(), rss + 60 * 1024);
    EXPECT_EQ(block.at(block.size() / 2), 1);
}

} // namespace
