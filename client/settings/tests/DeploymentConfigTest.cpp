#include "settings/DeploymentConfig.h"

#include "TestCertificate.h"
#include "settings/ServiceTls.h"

#include <QDir>
#include <QFile>
#include <QSslConfiguration>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <algorithm>

#include <gtest/gtest.h>

namespace {

QString writeConfig(const QTemporaryDir &dir, const QByteArray &text) {
    const QString path = dir.filePath("deploy.ini");
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write(text);
    return path;
}

class Deployment : public ::testing::Test {
protected:
    void TearDown() override {
        qunsetenv("SONARBOX_CONFIG");
        DeploymentConfig::resetToDefault();
    }
    QTemporaryDir dir;
};

TEST_F(Deployment, DefaultPointsAtALocalServerAndIsWellFormed) {
    DeploymentConfig::resetToDefault();
    const DeploymentConfig &c = DeploymentConfig::current();
    EXPECT_TRUE(c.gatewayBaseUrl.startsWith("http://127.0.0.1:")) << c.gatewayBaseUrl.toStdString();
    EXPECT_FALSE(c.gatewayBaseUrl.endsWith('/'));
    EXPECT_EQ(c.reachabilityHost, "127.0.0.1");
    EXPECT_TRUE(c.warnings().isEmpty()) << c.warnings().join("; ").toStdString();
    EXPECT_FALSE(c.bundleVersion.isEmpty());
}

TEST_F(Deployment, ConfigArgumentWinsOverTheEnvironment) {
    const QString path = writeConfig(dir, "[service]\ngatewayBaseUrl=https://cloud.example.org/\n");
    qputenv("SONARBOX_CONFIG", "/nonexistent.ini");
    ASSERT_TRUE(DeploymentConfig::loadFromArguments({"sonarbox", "--config", path}));
    EXPECT_EQ(DeploymentConfig::current().gatewayBaseUrl, "https://cloud.example.org");
    // What the file does not name keeps its built-in value.
    EXPECT_EQ(DeploymentConfig::current().mpdHost, "127.0.0.1");
    EXPECT_TRUE(DeploymentConfig::current().warnings().isEmpty());

    qputenv("SONARBOX_CONFIG", path.toLocal8Bit());
    DeploymentConfig::resetToDefault();
    ASSERT_TRUE(DeploymentConfig::loadFromArguments({"sonarbox"}));
    EXPECT_EQ(DeploymentConfig::current().source, path);
}

TEST_F(Deployment, NetworkMonitorWatchesTheGatewayUnlessTheFileNamesATarget) {
    DeploymentConfig::resetToDefault();
    EXPECT_EQ(DeploymentConfig::current().reachabilityHost, "127.0.0.1");
    EXPECT_EQ(DeploymentConfig::current().reachabilityPort, 8480);

    ASSERT_TRUE(DeploymentConfig::load(
        writeConfig(dir, "[service]\ngatewayBaseUrl=http://10.1.2.3:9100/\n")));
    EXPECT_EQ(DeploymentConfig::current().reachabilityHost, "10.1.2.3");
    EXPECT_EQ(DeploymentConfig::current().reachabilityPort, 9100);

    ASSERT_TRUE(DeploymentConfig::load(writeConfig(
        dir, "[service]\ngatewayBaseUrl=https://cloud.example.org\nreachabilityHost=\n")));
    EXPECT_EQ(DeploymentConfig::current().reachabilityHost, "cloud.example.org");
    EXPECT_EQ(DeploymentConfig::current().reachabilityPort, 443);

    ASSERT_TRUE(DeploymentConfig::load(
        writeConfig(dir, "[service]\ngatewayBaseUrl=http://10.1.2.3:9100\n"
                         "reachabilityHost=probe.example.org\nreachabilityPort=7000\n")));
    EXPECT_EQ(DeploymentConfig::current().reachabilityHost, "probe.example.org");
    EXPECT_EQ(DeploymentConfig::current().reachabilityPort, 7000);
}

TEST_F(Deployment, UnreadableFileKeepsTheCurrentValuesAndSaysWhy) {
    DeploymentConfig::resetToDefault();
    const QString before = DeploymentConfig::current().gatewayBaseUrl;
    QString error;
    EXPECT_FALSE(DeploymentConfig::loadFromArguments(
        {"sonarbox", "--config", dir.filePath("no.ini")}, &error));
    EXPECT_TRUE(error.contains("no.ini"));
    EXPECT_FALSE(DeploymentConfig::loadFromArguments({"sonarbox", "--config"}, &error));
    EXPECT_EQ(DeploymentConfig::current().gatewayBaseUrl, before);
}

TEST_F(Deployment, MalformedCredentialsAreReported) {
    const QString path = writeConfig(dir, "[recognition]\nclientId=12345\nclientTag=abc\n"
                                          "[facebook]\nappId=1\n");
    ASSERT_TRUE(DeploymentConfig::load(path));
    const QStringList w = DeploymentConfig::current().warnings();
    EXPECT_EQ(w.filter("clientId").size(), 1);
    EXPECT_EQ(w.filter("clientTag").size(), 1);
    EXPECT_EQ(w.filter("appId").size(), 1);
}

TEST_F(Deployment, TransferLimitsDefaultToNoneAndABadOneIsReported) {
    DeploymentConfig::resetToDefault();
    EXPECT_EQ(DeploymentConfig::current().uploadLimitKiBps, 0);
    EXPECT_EQ(DeploymentConfig::current().downloadLimitKiBps, 0);

    const QString path =
        writeConfig(dir, "[transfers]\nuploadLimitKiBps=512\ndownloadLimitKiBps=lots\n");
    ASSERT_TRUE(DeploymentConfig::load(path));
    const DeploymentConfig &c = DeploymentConfig::current();
    EXPECT_EQ(c.uploadLimitKiBps, 512);
    EXPECT_EQ(c.downloadLimitKiBps, std::nullopt);
    EXPECT_EQ(c.warnings().filter("transfers/").join('|'),
              "transfers/downloadLimitKiBps must be a whole number from 0 to 1000000");
}

TEST_F(Deployment, TheFileSettleTimeDefaultsToFiveSecondsAndIsNeverNegative) {
    DeploymentConfig::resetToDefault();
    EXPECT_EQ(DeploymentConfig::current().fileSettleMs, 5000);
    ASSERT_TRUE(DeploymentConfig::load(writeConfig(dir, "[sync]\nfileSettleMs=1500\n")));
    EXPECT_EQ(DeploymentConfig::current().fileSettleMs, 1500);
    ASSERT_TRUE(DeploymentConfig::load(writeConfig(dir, "[sync]\nfileSettleMs=-3\n")));
    EXPECT_EQ(DeploymentConfig::current().fileSettleMs, 0);
}

// The extra CA file of a self-hosted server: where it is looked for, what is
// wrong with it, and what the requests to the service then trust.
TEST_F(Deployment, ExtraCaFileIsFoundCheckedAndTrustedBesideTheSystemCertificates) {
    const QString data = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    ASSERT_TRUE(QDir().mkpath(data + "/certs"));

    ASSERT_TRUE(DeploymentConfig::load(writeConfig(dir, "[service]\ncaFile=~/home-ca.pem\n")));
    EXPECT_EQ(DeploymentConfig::current().caFilePath(), QDir::homePath() + "/home-ca.pem");

    // Relative to the data folder; missing: a warning, and the system's CAs only.
    ASSERT_TRUE(DeploymentConfig::load(writeConfig(dir, "[service]\ncaFile=certs/home.pem\n")));
    EXPECT_EQ(DeploymentConfig::current().caFilePath(), data + "/certs/home.pem");
    QStringList w = DeploymentConfig::current().warnings();
    ASSERT_EQ(w.size(), 1) << w.join("; ").toStdString();
    EXPECT_EQ(w.first(), "service/caFile " + data + "/certs/home.pem does not exist");
    EXPECT_TRUE(ServiceTls::configuration().caCertificates().isEmpty() ||
                ServiceTls::configuration().caCertificates() ==
                    QSslConfiguration::systemCaCertificates());

    // A file that holds no certificate.
    QFile junk(data + "/certs/home.pem");
    ASSERT_TRUE(junk.open(QIODevice::WriteOnly));
    junk.write("-----BEGIN CERTIFICATE-----\nnot base64 at all\n-----END CERTIFICATE-----\n");
    junk.close();
    ASSERT_TRUE(DeploymentConfig::load(writeConfig(dir, "[service]\ncaFile=certs/home.pem\n")));
    w = DeploymentConfig::current().warnings();
    ASSERT_EQ(w.size(), 1);
    EXPECT_TRUE(w.first().endsWith("home.pem holds no PEM certificate")) << w.first().toStdString();

    // A bundle of two: both trusted, and every system CA still is.
    const auto first = TestCertificate::make(dir.path(), "first");
    const auto second = TestCertificate::make(dir.path(), "second");
    ASSERT_TRUE(first && second);
    QFile bundle(data + "/certs/home.pem");
    ASSERT_TRUE(bundle.open(QIODevice::WriteOnly | QIODevice::Truncate));
    for (const QString &pem : {first->certificateFile, second->certificateFile}) {
        QFile part(pem);
        ASSERT_TRUE(part.open(QIODevice::ReadOnly));
        bundle.write(part.readAll());
    }
    bundle.close();
    ASSERT_TRUE(DeploymentConfig::load(writeConfig(dir, "[service]\ncaFile=certs/home.pem\n")));
    EXPECT_TRUE(DeploymentConfig::current().warnings().isEmpty());
    const QList<QSslCertificate> trusted = ServiceTls::configuration().caCertificates();
    const QList<QSslCertificate> system = QSslConfiguration::systemCaCertificates();
    ASSERT_FALSE(system.isEmpty());
    EXPECT_EQ(trusted.size(), system.size() + 2);
    const qsizetype missing =
        std::count_if(system.begin(), system.end(),
                      [&](const QSslCertificate &ca) { return !trusted.contains(ca); });
    EXPECT_EQ(missing, 0) << "system CA certificates left out";
    for (const QString &pem : {first->certificateFile, second->certificateFile})
        EXPECT_TRUE(trusted.contains(QSslCertificate::fromPath(pem).value(0)));
}

} // namespace
