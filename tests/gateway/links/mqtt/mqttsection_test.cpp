#include "mqttfixture.h"

#include <QSysInfo>

#include <ostream>
#include <string>
#include <vector>

#include <sys/stat.h>

namespace {

// Loads sections without a broker: nothing here needs one.
struct MqttSection : MqttFixture {
    void SetUp() override {}
    MqttSection()
    {
        write("in.csv", "index,type,iid,kks,note\n1,FLOATVALID,,,-\n2,FLOATVALID,I2,,-\n3,FLOATVALID,I3,K3,-\n");
        write("bad.csv", "index,type,kks\n1,TIMEWITHMSECS,T1\n");
        write("hash.csv", "index,type,kks\n1,FLOATVALID,A#B\n");
        write("clash.csv", "index,type,kks\n1,FLOATVALID,A/set\n2,FLOATVALID,A\n3,FLOATVALID,status\n");
        write("pw.txt", "secret\r\nsecond line\n");
        write("ca.crt", "not checked at load\n");
        mkfifo(QFile::encodeName(dir.filePath("pipe")).constData(), 0600);
    }
    const MqttSettings &settings() const { return mqtt()->settings(); }
};

} // namespace

TEST_F(MqttSection, AttributesAndTheirDefaults)
{
    ASSERT_TRUE(load("<mqtt id='gw1' host=' broker.plant ' topicprefix='plant/gw1/'>"
                     "<csvlist file='in.csv' index='0' type='1' iid='2' kks='3' direction='in'/></mqtt>"))
        << qPrintable(messages.warnings().join('\n'));
    EXPECT_EQ(settings().host, "broker.plant");
    EXPECT_EQ(settings().port, 1883);
    EXPECT_EQ(settings().clientId, QSysInfo::machineHostName() + "-gw1");
    EXPECT_EQ(settings().keepalive, 30);
    EXPECT_TRUE(settings().cleanSession);
    EXPECT_EQ(settings().qos, 1);
    EXPECT_FALSE(settings().retain);
    EXPECT_EQ(settings().topicPrefix, "plant/gw1");
    EXPECT_FALSE(settings().tls());
    EXPECT_EQ(settings().bufferMessages, 100000u);
    EXPECT_EQ(settings().bufferBytes, 64u * 1024 * 1024);
    // Topics by KKS, else IID, else index.
    const QList<BaseTieParam *> &params = mqtt()->units().at(0)->params();
    EXPECT_EQ(MqttTie::topicLevel(*params.at(0)), "1");
    EXPECT_EQ(MqttTie::topicLevel(*params.at(1)), "I2");
    EXPECT_EQ(MqttTie::topicLevel(*params.at(2)), "K3");
    // The list's parameters are providers for other ties.
    EXPECT_EQ(config.paramsHash().find("K3"), params.at(2));

    config.clear();
    ASSERT_TRUE(load("<mqtt host='h' port='0x22B3' topicprefix='p' clientid='me' keepalive='0' cleansession='no' "
                     "qos='0' retain='yes' username='u' passwordfile='pw.txt' cafile='ca.crt' buffermessages='10' "
                     "bufferbytes='4096'><csvlist file='in.csv' index='0' type='1' kks='2' direction='out'/></mqtt>"));
    EXPECT_EQ(settings().port, 8883);
    EXPECT_EQ(settings().clientId, "me");
    EXPECT_EQ(settings().keepalive, 0);
    EXPECT_FALSE(settings().cleanSession);
    EXPECT_EQ(settings().qos, 0);
    EXPECT_TRUE(settings().retain);
    EXPECT_EQ(settings().username, "u");
    EXPECT_EQ(settings().password, "secret"); // the first line, without its end
    EXPECT_EQ(settings().caFile, dir.filePath("ca.crt"));
    EXPECT_EQ(settings().bufferMessages, 10u);
    EXPECT_EQ(settings().bufferBytes, 4096u);
}

namespace {

// Two sections without ids took the same default client id, and the broker
// let each in by throwing the other out, for as long as both ran.
TEST_F(MqttSection, OneClientIdAtOneBrokerTwiceIsWarnedAbout)
{
    const QByteArray list = "<csvlist file='in.csv' index='0' type='1' kks='3' direction='out'/>";
    ASSERT_TRUE(load("<mqtt host='h' topicprefix='a'>" + list + "</mqtt><mqtt host='h' topicprefix='b'>" + list
                     + "</mqtt><mqtt host='other' topicprefix='c'>" + list + "</mqtt>"))
        << qPrintable(messages.warnings().join('\n'));
    const QString warning = "Warning loading config file: MQTT client id \"" + QSysInfo::machineHostName()
        + "-ferrox\" at %1:1883 is claimed by more than one section";
    EXPECT_TRUE(messages.warnings().contains(warning.arg("h"))) << qPrintable(messages.warnings().join('\n'));
    EXPECT_FALSE(messages.warnings().contains(warning.arg("other")));
}

// Lists numbered alike sent one topic's set messages into both parameters.
TEST_F(MqttSection, ATopicReachedByTwoDifferentValuesIsWarnedAbout)
{
    write("other.csv", "index,type,iid,kks\n1,SDWORDVALID,,\n2,SDWORDVALID,,K3\n3,SDWORDVALID,I2,\n");
    ASSERT_TRUE(load("<mqtt host='h' topicprefix='p'><csvlist file='in.csv' index='0' type='1' iid='2' kks='3' "
                     "direction='in'/><csvlist file='other.csv' index='0' type='1' iid='2' kks='3' direction='in'/>"
                     "</mqtt>"));
    QStringList shared;
    for (const QString &warning : messages.warnings())
        if (warning.contains("which name different values"))
            shared << warning.section(' ', 5, 5);
    EXPECT_EQ(shared, QStringList({"p/1"})) << qPrintable(messages.warnings().join('\n'));
}

struct SectionError {
    const char *name;
    const char *section;
    const char *warning; // also the log line unless `logLine` is set
    const char *logLine;
};

void PrintTo(const SectionError &row, std::ostream *os)
{
    *os << row.name;
}

const char kList[] = "<csvlist file='in.csv' index='0' type='1' kks='2' direction='out'/>";

const std::vector<SectionError> kErrors = {
    {"NoHost", "<mqtt topicprefix='p'>LIST</mqtt>", "Error loading config: \"host\" was not set in section \"mqtt\"",
     nullptr},
    {"NoPrefix", "<mqtt host='h'>LIST</mqtt>", "Error loading config: \"topicprefix\" was not set in section \"mqtt\"",
     nullptr},
    {"WildcardInPrefix", "<mqtt host='h' topicprefix='plant/+'>LIST</mqtt>",
     "Error loading config: \"topicprefix\" plant/+ is not a topic in section \"mqtt\"", nullptr},
    {"PortZero", "<mqtt host='h' topicprefix='p' port='0'>LIST</mqtt>", nullptr, nullptr},
    {"QosTwo", "<mqtt host='h' topicprefix='p' qos='2'>LIST</mqtt>", nullptr, nullptr},
    {"KeepaliveBelowFive", "<mqtt host='h' topicprefix='p' keepalive='3'>LIST</mqtt>",
     "Error loading config: \"keepalive\" 3 is neither 0 nor from 5 to 65535 seconds in section \"mqtt\"", nullptr},
    {"NoBufferAtAll", "<mqtt host='h' topicprefix='p' buffermessages='0'>LIST</mqtt>", nullptr, nullptr},
    {"PasswordWithoutUser", "<mqtt host='h' topicprefix='p' passwordfile='pw.txt'>LIST</mqtt>",
     "Error loading config: \"passwordfile\" needs \"username\" in section \"mqtt\"", nullptr},
    {"MissingPasswordFile", "<mqtt host='h' topicprefix='p' username='u' passwordfile='none.txt'>LIST</mqtt>",
     "Error loading config: cannot read \"passwordfile\" file DIR/none.txt in section \"mqtt\" (No such file or "
     "directory)",
     nullptr},
    {"PasswordFileIsAFifo", "<mqtt host='h' topicprefix='p' username='u' passwordfile='pipe'>LIST</mqtt>",
     "Error loading config: cannot read \"passwordfile\" file DIR/pipe in section \"mqtt\" (not a regular file)",
     nullptr},
    {"CertificateWithoutKey", "<mqtt host='h' topicprefix='p' cafile='ca.crt' certfile='ca.crt'>LIST</mqtt>",
     "Error loading config: \"certfile\" and \"keyfile\" go together in section \"mqtt\"", nullptr},
    {"CertificateWithoutCa", "<mqtt host='h' topicprefix='p' certfile='ca.crt' keyfile='ca.crt'>LIST</mqtt>",
     "Error loading config: \"certfile\" needs \"cafile\" in section \"mqtt\"", nullptr},
    {"NoList", "<mqtt host='h' topicprefix='p'/>",
     "Error loading config: one or more \"csvlist\" tag should be at start of section \"mqtt\"", nullptr},
    {"ListFails", "<mqtt host='h' topicprefix='p'><csvlist file='none.csv' index='0' kks='1'/></mqtt>",
     "Error loading config: Error loading csvlist for section \"mqtt\"",
     "Error loading config: Error parsing csvlist for section \"mqtt\""},
    {"BothDirections", "<mqtt host='h' topicprefix='p'><csvlist file='in.csv' index='0' type='1' kks='2' direction='both'/></mqtt>",
     "Error loading config: a \"csvlist\" of section \"mqtt\" must have the direction in or out", nullptr},
    {"TypeWithoutValueForm", "<mqtt host='h' topicprefix='p'><csvlist file='bad.csv' index='0' type='1' kks='2' direction='in'/></mqtt>",
     "Error loading config: parameter kks=T1 of type TIMEWITHMSECS cannot travel by section \"mqtt\"", nullptr},
    {"WildcardInIdentifier", "<mqtt host='h' topicprefix='p'><csvlist file='hash.csv' index='0' type='1' kks='2' direction='in'/></mqtt>",
     "Error loading config: topic p/A#B of parameter kks=A#B is not valid in section \"mqtt\"", nullptr},
    // The gateway's own values would come back to it as set messages, or
    // take the place of its "online".
    {"OwnSetTopic", "<mqtt host='h' topicprefix='p'><csvlist file='clash.csv' index='0' type='1' kks='2' direction='out'/>"
                    "<csvlist file='clash.csv' index='0' type='1' kks='2' direction='in'/></mqtt>",
     "Error loading config: topic p/A/set of parameter kks=A/set is also a \"set\" topic of section \"mqtt\"", nullptr},
    {"StatusTopic", "<mqtt host='h' topicprefix='p'><csvlist file='clash.csv' index='0' type='1' kks='2' direction='out'/></mqtt>",
     "Error loading config: topic p/status of parameter kks=status is the status topic of section \"mqtt\"", nullptr},
};

struct MqttSectionErrors : MqttSection, ::testing::WithParamInterface<SectionError> {
};

} // namespace

// Each row is one malformed section; rows without a text fail through the
// checked number readers, which name the attribute themselves.
TEST_P(MqttSectionErrors, FailTheLoadWithTheirMessageOnBothChannels)
{
    const SectionError &row = GetParam();
    QByteArray section(row.section);
    section.replace("LIST", kList);
    EXPECT_FALSE(load(section));
    EXPECT_EQ(config.ties().size(), 0);
    if (!row.warning) {
        EXPECT_FALSE(messages.warnings().isEmpty());
        return;
    }
    const QString warning = QString::fromUtf8(row.warning).replace("DIR", dir.path());
    EXPECT_TRUE(messages.warnings().contains(warning)) << qPrintable(messages.warnings().join('\n'));
    const QString logLine = row.logLine ? QString::fromUtf8(row.logLine) : warning;
    EXPECT_TRUE(log.contains(logLine)) << qPrintable(log.lines().join('\n'));
}

INSTANTIATE_TEST_SUITE_P(Sections, MqttSectionErrors, ::testing::ValuesIn(kErrors),
                         [](const ::testing::TestParamInfo<SectionError> &info) { return std::string(info.param.name); });
