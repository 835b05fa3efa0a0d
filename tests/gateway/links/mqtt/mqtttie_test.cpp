#include "mqttfixture.h"

namespace {

struct MqttTieTest : MqttFixture {
};

} // namespace

TEST_F(MqttTieTest, ValuesReachTheSubscriberWithValidityAndTime)
{
    ASSERT_TRUE(startBroker());
    write("out.csv", "index,type,kks\n1,FLOATVALID,T1\n2,SDWORDSTATE,T2\n3,FLOATSTATE,T3\n");
    write("values.txt", "T1;12.5\nT2;-7\nT3;n/a\n");
    ASSERT_TRUE(load(inputSection("index,type,kks\n1,FLOATVALID,T1\n2,SDWORDSTATE,T2\n3,FLOATSTATE,T3\n")
                     + mqttSection("", "<csvlist file='out.csv' index='0' type='1' kks='2' direction='out'/>")));
    ASSERT_TRUE(waitConnected());
    tick();
    ASSERT_TRUE(waitPayloads("plant/gw1/T3", 1));
    EXPECT_EQ(subscriber.payloads("plant/gw1/T1"),
              QList<QByteArray>{"{\"value\":12.5,\"valid\":true,\"time\":\"2026-12-08T04:13:25.123Z\"}"});
    EXPECT_EQ(subscriber.payloads("plant/gw1/T2"),
              QList<QByteArray>{"{\"value\":-7,\"valid\":true,\"state\":0,\"time\":\"2026-12-08T04:13:25.123Z\"}"});
    EXPECT_EQ(subscriber.payloads("plant/gw1/status"), QList<QByteArray>{"online"});
    qDebug() << subscriber.payloads("plant/gw1/T3");
}
