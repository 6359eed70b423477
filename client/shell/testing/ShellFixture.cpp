#include "ShellFixture.h"

#include "Fonts.h"
#include "TestEnvironment.h"
#include "engine/Sonarbox.h"
#include "settings/DeploymentConfig.h"
#include "settings/NSDefaultsUtility.h"
#include "store/GenericDAO.h"
#include "store/SecretStore.h"
#include "store/StoreSetup.h"

#include <QFile>

void ShellFixture::SetUp() {
    ASSERT_TRUE(home.isValid());
    NSDefaultsUtility::setStorageFile(home.filePath(QStringLiteral("prefs.conf")));
    StoreSetup::setStoreFolder(home.filePath(QStringLiteral("store")));
    SecretStore::instance().reset();
    gateway = QStringLiteral("http://127.0.0.1:%1").arg(TestEnvironment::freeLocalPort());
    configure();
    QString error;
    ASSERT_TRUE(registerCustomFonts(&error)) << error.toStdString();
    Sonarbox::instance().setUrlOpener([this](const QUrl &url) {
        openedUrls << url.toString();
        return true;
    });
}

void ShellFixture::TearDown() {
    Sonarbox &sonarbox = Sonarbox::instance();
    sonarbox.stopSyncAction();
    sonarbox.operationQueue().waitUntilAllOperationsAreFinished();
    sonarbox.setUrlOpener({});
    StoreSetup::setStoreFolder({});
}

void ShellFixture::startCloud() {
    cloud = std::make_unique<CloudProcess>();
    ASSERT_TRUE(cloud->addUser(Email, Password));
    ASSERT_TRUE(cloud->start());
    gateway = cloud->baseUrl();
    configure();
}

void ShellFixture::configure(bool landingPageEnabled) {
    const QString path = home.filePath(QStringLiteral("sonarbox.ini"));
    QFile ini(path);
    ASSERT_TRUE(ini.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ini.write(
        QStringLiteral("[service]\ngatewayBaseUrl=%1\nwebSiteUrl=%1\n"
                       "[app]\nLandingPageEnabled=%2\n")
            .arg(gateway, landingPageEnabled ? QStringLiteral("true") : QStringLiteral("false"))
            .toUtf8());
    ini.close();
    ASSERT_TRUE(DeploymentConfig::load(path));
    Sonarbox::instance().reinitialize();
}

void ShellFixture::storeUser(const QString &password) {
    auto user = std::make_shared<User>();
    user->id = QStringLiteral("1");
    user->username = Email;
    user->password = password;
    user->deviceId = Sonarbox::instance().deviceID();
    GenericDAO::instance().save(user);
}
