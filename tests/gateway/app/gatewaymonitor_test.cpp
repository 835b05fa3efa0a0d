#include "app/gatewaymonitor.h"
#include "app/metricsfile.h"
#include "app/sectiontable.h"
#include "app/statusreport.h"

#include "config/ferroxxmlconfig.h"
#include "conversion/singleproviderconverter.h"
#include "core/basetie.h"
#include "core/basetieunit.h"
#include "gateway/config/loaderfixture.h"
#include "support/fixedclock.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

class TestTie : public BaseTie
{
public:
    explicit TestTie(const QString &id, qint32 state = 0) : m_state(state) { setId(id); }
    qint32 state() const override { return m_state; }
    bool deliveryFailing() const override { return failing; }
    bool failing = false;
    BaseTieUnit *addUnit(quint32 direction, bool received)
    {
        auto *unit = new BaseTieUnit(this);
        unit->setDirection(direction);
        if (received)
            unit->updateLastReceived(Clock::nowUtc());
        appendUnit(unit);
        return unit;
    }

private:
    qint32 m_state;
};

// Two ties and an empty slot between them, with counters and a few ticks.
struct Gateway : ::testing::Test {
    FixedClock clock{utc(2026, 3, 1, 12)};
    QList<BaseTie *> ties;
    GatewayMonitor monitor{ties, 500};

    Gateway()
    {
        auto *input = new TestTie(QStringLiteral("in \"a\\b\"\nx"));
        input->addUnit(BaseTieUnit::dirFromThis, true);
        input->addUnit(BaseTieUnit::dirFromThis, false);
        input->addUnit(BaseTieUnit::dirNone, false);
        input->counters().valuesReceived = 42;
        input->counters().unitsReceived = 7;
        input->counters().buffered = 3;
        auto *output = new TestTie(QStringLiteral("out"), 4);
        output->counters().recordsWritten = 5;
        ties << input << nullptr << output;
        monitor.setTieSections({QStringLiteral("textfilein"), QString(), QStringLiteral("textfileout")});
        monitor.setConfigFile(QStringLiteral("/opt/ferrox/config/ferrox.cfg"));
        monitor.tickDone(300);
        monitor.tickDone(700000);
        clock.advance(1500);
    }
    ~Gateway() override { qDeleteAll(ties); }
};

// Serves events until `condition` holds, at most `msecs`.
template<typename Condition>
bool waitFor(Condition condition, int msecs)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > msecs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

TEST(TieCounterFields, NameEveryCounterOnce)
{
    // A counter added to TieCounters without a row here would be invisible.
    const QVector<TieCounterField> &fields = tieCounterFields();
    EXPECT_EQ(sizeof(TieCounters), size_t(fields.size()) * sizeof(quint64));
    for (int i = 0; i < fields.size(); ++i)
        for (int j = i + 1; j < fields.size(); ++j) {
            EXPECT_NE(fields[i].value, fields[j].value) << fields[i].name << " " << fields[j].name;
            EXPECT_STRNE(fields[i].name, fields[j].name);
        }
}

TEST_F(Gateway, StatusShowsTheCycleAndEveryTieWithItsUnitsAndCounters)
{
    const QJsonObject status = QJsonDocument::fromJson(statusReport(monitor)).object();
    EXPECT_EQ(status.value("version").toString(), QStringLiteral(FERROX_PROJECT_VERSION));
    EXPECT_EQ(status.value("config_file").toString(), QStringLiteral("/opt/ferrox/config/ferrox.cfg"));
    EXPECT_DOUBLE_EQ(status.value("uptime_seconds").toDouble(), 1.5);

    const QJsonObject cycle = status.value("cycle").toObject();
    EXPECT_EQ(cycle.value("ticks").toInt(), 2);
    EXPECT_EQ(cycle.value("overruns").toInt(), 1);
    EXPECT_DOUBLE_EQ(cycle.value("longest_ms").toDouble(), 700.0);
    const QJsonArray buckets = cycle.value("buckets").toArray();
    ASSERT_EQ(buckets.size(), CycleStats::BucketCount);
    EXPECT_EQ(buckets.at(0).toObject().value("ticks").toInt(), 1);
    EXPECT_TRUE(buckets.last().toObject().value("up_to_ms").isNull());

    const QJsonArray list = status.value("ties").toArray();
    ASSERT_EQ(list.size(), 2); // the empty slot is skipped, the indexes stay
    const QJsonObject input = list.at(0).toObject();
    EXPECT_EQ(input.value("index").toInt(), 0);
    EXPECT_EQ(input.value("id").toString(), QStringLiteral("in \"a\\b\"\nx"));
    EXPECT_EQ(input.value("section").toString(), QStringLiteral("textfilein"));
    const QJsonObject units = input.value("units").toObject();
    EXPECT_EQ(units.value("total").toInt(), 3);
    EXPECT_EQ(units.value("ok").toInt(), 1);
    EXPECT_EQ(units.value("no_data").toInt(), 1);
    EXPECT_EQ(units.value("disabled").toInt(), 1);
    const QJsonObject counters = input.value("counters").toObject();
    EXPECT_EQ(counters.size(), tieCounterFields().size());
    EXPECT_EQ(counters.value("values_received").toInt(), 42);
    EXPECT_EQ(counters.value("buffered").toInt(), 3);
    const QJsonObject output = list.at(1).toObject();
    EXPECT_EQ(output.value("index").toInt(), 2);
    EXPECT_EQ(output.value("state").toInt(), 4);

    EXPECT_EQ(monitor.summary(), QStringLiteral("Running: 2 ties, 1 not OK, 1 without data; 2 ticks, 1 overruns, longest tick 700.0 ms"));
    // A tie whose own state says it has received nothing yet (a queue
    // tie before its first message) was counted as a fault.
    ties << new TestTie(QStringLiteral("queue"), BaseTieUnit::stNoData);
    EXPECT_EQ(monitor.summary(), QStringLiteral("Running: 3 ties, 1 not OK, 2 without data; 2 ticks, 1 overruns, longest tick 700.0 ms"));
    // An output whose files or queues refuse what it delivers, while its
    // state stays 0, was "all OK".
    auto *refused = new TestTie(QStringLiteral("out"));
    refused->failing = true;
    ties << refused;
    EXPECT_EQ(monitor.summary(), QStringLiteral("Running: 4 ties, 2 not OK, 2 without data; 2 ticks, 1 overruns, longest tick 700.0 ms"));
}

TEST_F(Gateway, MetricsAreWellFormedPrometheusText)
{
    const QString text = QString::fromUtf8(metricsText(monitor));
    const QRegularExpression help(QStringLiteral("^# HELP ([a-z_]+) \\S.*$"));
    const QRegularExpression type(QStringLiteral("^# TYPE ([a-z_]+) (counter|gauge|histogram)$"));
    const QRegularExpression sample(QStringLiteral(
        "^([a-z_]+)(\\{[a-z_]+=\"(?:[^\"\\\\\\n]|\\\\[\"\\\\n])*\"(?:,[a-z_]+=\"(?:[^\"\\\\\\n]|\\\\[\"\\\\n])*\")*\\})? "
        "(-?[0-9.e+-]+|\\+Inf)$"));
    QSet<QString> typed;
    QSet<QString> series;
    QHash<QString, double> values;
    for (const QString &line : text.split('\n', Qt::SkipEmptyParts)) {
        if (help.match(line).hasMatch())
            continue;
        const QRegularExpressionMatch t = type.match(line);
        if (t.hasMatch()) {
            EXPECT_FALSE(typed.contains(t.captured(1))) << qPrintable(line);
            typed.insert(t.captured(1));
            continue;
        }
        const QRegularExpressionMatch s = sample.match(line);
        ASSERT_TRUE(s.hasMatch()) << qPrintable(line);
        QString family = s.captured(1);
        family.remove(QRegularExpression(QStringLiteral("_(bucket|sum|count)$")));
        EXPECT_TRUE(typed.contains(s.captured(1)) || typed.contains(family)) << qPrintable(line);
        const QString key = s.captured(1) + s.captured(2);
        EXPECT_FALSE(series.contains(key)) << qPrintable(line);
        series.insert(key);
        values.insert(key, s.captured(3).toDouble());
    }
    const QString input = QStringLiteral("{index=\"0\",id=\"in \\\"a\\\\b\\\"\\nx\",section=\"textfilein\"}");
    EXPECT_EQ(values.value("ferrox_tie_values_received_total" + input), 42.0);
    EXPECT_EQ(values.value("ferrox_tie_buffered" + input), 3.0);
    EXPECT_EQ(values.value("ferrox_tie_units" + input.chopped(1) + ",state=\"no_data\"}"), 1.0);
    EXPECT_EQ(values.value("ferrox_tie_state{index=\"2\",id=\"out\",section=\"textfileout\"}"), 4.0);
    EXPECT_EQ(values.value("ferrox_tie_delivery_failing{index=\"2\",id=\"out\",section=\"textfileout\"}", -1), 0.0);
    EXPECT_EQ(values.value("ferrox_cycle_overruns_total"), 1.0);
    EXPECT_EQ(values.value("ferrox_uptime_seconds"), 1.5);
    EXPECT_EQ(values.value("ferrox_cycle_duration_seconds_bucket{le=\"0.0005\"}"), 1.0);
    EXPECT_EQ(values.value("ferrox_cycle_duration_seconds_bucket{le=\"1\"}"), 2.0);
    EXPECT_EQ(values.value("ferrox_cycle_duration_seconds_bucket{le=\"+Inf\"}"),
              values.value("ferrox_cycle_duration_seconds_count"));
    EXPECT_NEAR(values.value("ferrox_cycle_duration_seconds_sum"), 0.7003, 1e-9);
}

TEST_F(Gateway, MetricsFileIsReplacedWholeReadableByAllAndRewrittenEveryInterval)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("ferrox.prom"));
    const mode_t oldMask = ::umask(077);
    monitor.setMetricsFile(path, 20);
    monitor.started();
    ::umask(oldMask);
    const QByteArray first = readFile(path);
    EXPECT_TRUE(first.contains("ferrox_cycle_ticks_total 2\n"));
    struct stat st = {};
    ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u); // even under the umask 077
    monitor.tickDone(100);
    EXPECT_TRUE(waitFor([&] { return readFile(path).contains("ferrox_cycle_ticks_total 3\n"); }, 5000));
    // The last file, left in place, holds what the ties' last pass counted.
    monitor.stopping();
    ties.last()->counters().recordsWritten = 6;
    monitor.stopped();
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("ferrox.prom")});
    EXPECT_TRUE(QString::fromUtf8(readFile(path))
                    .contains(QRegularExpression(QStringLiteral("\nferrox_tie_records_written_total\\{index=\"2\"[^\n]*\\} 6\n"))))
        << readFile(path).constData();
}

TEST_F(Gateway, AReloadThatMovesOrDropsTheMetricsFileRemovesTheOldOneWhileItIsOurs)
{
    QTemporaryDir dir;
    const QString a = dir.filePath(QStringLiteral("a.prom"));
    const QString b = dir.filePath(QStringLiteral("b.prom"));
    monitor.setMetricsFile(a, 1000);
    monitor.started();
    monitor.setMetricsFile(b, 1000);
    monitor.reloadEnded();
    EXPECT_FALSE(QFile::exists(a));
    EXPECT_TRUE(readFile(b).contains("ferrox_cycle_ticks_total 2\n"));
    monitor.setMetricsFile(QString(), 1000);
    EXPECT_FALSE(QFile::exists(b));

    // Another writer's file put at the path since is not ours to remove;
    // a stop leaves its last file.
    monitor.setMetricsFile(a, 1000);
    monitor.reloadEnded();
    QFile file(b);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write("foreign 1\n") == 10);
    file.close();
    ASSERT_TRUE(QFile::remove(a) && QFile::rename(b, a));
    monitor.setMetricsFile(b, 1000);
    monitor.reloadEnded();
    monitor.stopping();
    monitor.stopped();
    EXPECT_EQ(readFile(a), QByteArray("foreign 1\n"));
    EXPECT_TRUE(readFile(b).contains("ferrox_cycle_ticks_total 2\n"));
}

TEST(MetricsFile, AFailingWriteKeepsNothingHalfAndIsReportedOncePerStreak)
{
    QTemporaryDir dir;
    LogCapture log;
    MessageCapture messages;
    MetricsFile file;
    const QString path = dir.filePath(QStringLiteral("missing/ferrox.prom"));
    file.setPath(path);
    EXPECT_FALSE(file.write("a 1\n"));
    EXPECT_FALSE(file.write("a 2\n"));
    EXPECT_FALSE(file.errorText().isEmpty());
    ASSERT_EQ(log.lines().size(), 1) << qPrintable(log.lines().join('\n'));
    EXPECT_TRUE(log.lines().first().startsWith("Cannot write the metrics file " + path));
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("missing")));
    EXPECT_TRUE(file.write("a 3\n"));
    EXPECT_TRUE(file.write("a 4\n"));
    EXPECT_EQ(readFile(path), QByteArray("a 4\n"));
    // The repeat is summed up when the streak ends, then the recovery once.
    EXPECT_EQ(log.lines().size(), 3) << qPrintable(log.lines().join('\n'));
    EXPECT_EQ(log.lines().last(), "Metrics file " + path + " is written again");
}

namespace {

struct MiscLoader : LoaderFixture {
    FerroxXmlConfig loader{config, &makeConverter, ferroxSectionTable()};
    bool load(const QByteArray &misc)
    {
        return loader.loadConf(write("ferrox.cfg", "<config><misc><locale lang='en'/><times/>" + misc
                                                        + "</misc><service/><service/></config>"));
    }
};

} // namespace

TEST_F(MiscLoader, MetricsElementNamesTheFileAndItsIntervalOrFailsTheLoad)
{
    ASSERT_TRUE(load(QByteArray()));
    EXPECT_TRUE(loader.metricsFile().isEmpty());
    EXPECT_EQ(loader.tieSections(), (QStringList{QStringLiteral("service"), QStringLiteral("service")}));
    ASSERT_TRUE(load("<metrics file='prom/ferrox.prom' interval='0x3c'/>"));
    EXPECT_EQ(loader.metricsFile(), dir.filePath(QStringLiteral("prom/ferrox.prom")));
    EXPECT_EQ(loader.metricsIntervalMs(), 60000u);

    EXPECT_FALSE(load("<metrics interval='5'/>"));
    expectReported("Error loading config: \"metrics\" field of \"misc\" section names no file");
    for (const char *interval : {"0", "3601", "soon"}) {
        messages.clear();
        EXPECT_FALSE(load(QByteArray("<metrics file='m.prom' interval='") + interval + "'/>")) << interval;
        EXPECT_TRUE(messages.containsPart("attribute \"interval\" of \"metrics\"")) << interval;
    }
}
