#include "settings/DeploymentConfig.h"

#include <QFile>
#include <QTemporaryDir>

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

} // namespace
