#include "mqttfixture.h"
#include "support/fullacceptqueue.h"

#include <QEventLoop>
#include <QProcess>
#include <QStandardPaths>
#include <QTimer>

#include <sys/resource.h>

namespace {

// A CA, a server certificate it signed for the name "localhost" only, and
// a second CA that signed nothing of the broker's, made with openssl in
// the test's directory.
struct MqttTls : MqttFixture {
    bool openssl(const QStringList &args)
    {
        QProcess p;
        p.setWorkingDirectory(dir.path());
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(QStringLiteral("openssl"), args);
        if (!p.waitForFinished(30000) || p.exitCode() != 0) {
            ADD_FAILURE() << "openssl " << qPrintable(args.join(' ')) << ": " << p.readAll().constData();
            return false;
        }
        return true;
    }
    bool selfSignedCa(const QString &name)
    {
        return openssl({"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
                        "-keyout", name + ".key", "-out", name + ".crt", "-days", "2", "-subj", "/CN=" + name});
    }
    bool makeCertificates()
    {
        write("server.ext", "subjectAltName=DNS:localhost\n");
        return selfSignedCa("ca") && selfSignedCa("otherca")
            && openssl({"req", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes", "-keyout",
                        "server.key", "-out", "server.csr", "-subj", "/CN=localhost"})
            && openssl({"x509", "-req", "-in", "server.csr", "-CA", "ca.crt", "-CAkey", "ca.key", "-CAcreateserial",
                        "-out", "server.crt", "-days", "2", "-extfile", "server.ext"});
    }
    void SetUp() override
    {
        MqttFixture::SetUp();
        if (IsSkipped())
            return;
        if (QStandardPaths::findExecutable(QStringLiteral("openssl")).isEmpty())
            GTEST_SKIP() << "openssl is not installed (scripts/check installs it)";
        ASSERT_TRUE(makeCertificates());
        ASSERT_TRUE(startBroker(QStringLiteral("cafile %1\ncertfile %2\nkeyfile %3\n")
                                    .arg(dir.filePath("ca.crt"), dir.filePath("server.crt"), dir.filePath("server.key"))));
        write("out.csv", "index,type,kks\n1,FLOATVALID,T1\n");
        write("values.txt", "T1;1.5\n");
    }
    // Loads a tie that reaches the TLS listener (or `port`) as `host`,
    // trusting `ca`.
    bool loadTls(const QByteArray &host, const QByteArray &ca, quint16 port = 0)
    {
        QByteArray section = mqttSection("cafile='" + ca + "'",
                                         "<csvlist file='out.csv' index='0' type='1' kks='2' direction='out'/>");
        section.replace("host='127.0.0.1'", "host='" + host + "'");
        if (port)
            section.replace("port='" + QByteArray::number(broker->port()) + "'", "port='" + QByteArray::number(port) + "'");
        return load(inputSection("index,type,kks\n1,FLOATVALID,T1\n") + section);
    }
    // The tie's connection failed and told why.
    bool waitRefusedWith(const QString &part)
    {
        return waitUntil([&] {
            return connection()->phase() == QMqttConnection::phWaiting && messages.containsPart(part);
        });
    }
};

} // namespace

TEST_F(MqttTls, ABrokerWithACertificateOfTheTrustedCaForTheHostNameIsReached)
{
    ASSERT_TRUE(loadTls("localhost", "ca.crt"));
    ASSERT_TRUE(waitConnected()) << qPrintable(messages.texts().join('\n'));
    tick();
    ASSERT_TRUE(waitPayloads("plant/gw1/T1", 1));
    EXPECT_TRUE(subscriber.payloads("plant/gw1/T1").first().startsWith("{\"value\":1.5,\"valid\":true"));
}

TEST_F(MqttTls, ACertificateOfAnotherCaIsRefused)
{
    ASSERT_TRUE(loadTls("localhost", "otherca.crt"));
    EXPECT_TRUE(waitRefusedWith("certificate not accepted")) << qPrintable(messages.texts().join('\n'));
    EXPECT_NE(mqtt()->state(), 0);
}

TEST_F(MqttTls, ACertificateForAnotherNameIsRefused)
{
    // The certificate names localhost, not the address 127.0.0.1.
    ASSERT_TRUE(loadTls("127.0.0.1", "ca.crt"));
    EXPECT_TRUE(waitRefusedWith("certificate not accepted")) << qPrintable(messages.texts().join('\n'));
    EXPECT_NE(mqtt()->state(), 0);
}

TEST_F(MqttTls, AHandshakeWaitingForTheBrokerDoesNotSpin)
{
    // An attempt to a listener whose accept queue is full stays pending;
    // once there is room, the connection is made while the handshake has
    // begun, and nothing ever answers it.
    FullAcceptQueue full;
    ASSERT_TRUE(full.isValid());
    ASSERT_TRUE(loadTls("localhost", "ca.crt", full.port()));
    ASSERT_TRUE(waitUntil([&] { return connection()->phase() == QMqttConnection::phConnecting; }));
    full.makeRoom();

    // The connection is made at the next try of the connect (after 1 s).
    const auto cpuMsecs = [] {
        rusage usage{};
        ::getrusage(RUSAGE_SELF, &usage);
        return qint64(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000
            + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000;
    };
    const qint64 before = cpuMsecs();
    QEventLoop loop;
    QTimer::singleShot(2500, &loop, &QEventLoop::quit);
    loop.exec();
    EXPECT_LT(cpuMsecs() - before, 400);
    EXPECT_EQ(connection()->phase(), QMqttConnection::phConnecting);
}
