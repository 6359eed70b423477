#include "SigninFixture.h"

#include "TestEnvironment.h"
#include "settings/DeploymentConfig.h"
#include "store/SecretStore.h"
#include "store/StoreSetup.h"
#include "settings/NotificationCenter.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFile>
#include <QWidget>

namespace {
UrlCatcher *s_catcher = nullptr;
}

void SigninFixture::SetUp() {
    ServiceFixture::SetUp();
    StoreSetup::setStoreFolder(storeDir.path());
    SecretStore::instance().reset();
    for (const char *name :
         {"SuccessFullLoginNotification", "showLandingScreen", "showSignUpScreen",
          "showLoginScreen", "showProcessingViewNotification"}) {
        const QString notification = QString::fromLatin1(name);
        m_observers << NotificationCenter::defaultCenter().addObserver(
            notification, [this, notification](QObject *object) {
                posted << notification;
                postedObjects << object;
            });
    }
    s_catcher = new UrlCatcher(&opened);
    for (const char *scheme : {"http", "https"})
        QDesktopServices::setUrlHandler(QString::fromLatin1(scheme), s_catcher, "open");
}

void SigninFixture::TearDown() {
    for (const char *scheme : {"http", "https"})
        QDesktopServices::unsetUrlHandler(QString::fromLatin1(scheme));
    delete s_catcher;
    s_catcher = nullptr;
    for (int token : m_observers)
        NotificationCenter::defaultCenter().removeObserver(token);
    // Screens closed by the test may still have queued work.
    QApplication::processEvents();
    StoreSetup::setStoreFolder({});
    ServiceFixture::TearDown();
}

void SigninFixture::useService(const QString &baseUrl) {
    static int generation = 0;
    const QString path = configDir.filePath(QStringLiteral("signin-%1.ini").arg(++generation));
    const QByteArray host = QUrl(baseUrl).authority().toUtf8();
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write("[service]\ngatewayBaseUrl=" + baseUrl.toUtf8() +
               "\nwebSiteUrl=" + baseUrl.toUtf8() +
               "\n[recognition]\nclientId=1000001\nclientTag=0123456789ABCDEF0123456789ABCDEF\n"
               "[facebook]\nappId=100000000000001\nwebHost=" +
               host + "\ngraphHost=" + host + "\nrestHost=" + host + "\n");
    file.close();
    ASSERT_TRUE(DeploymentConfig::load(path));
}

bool SigninFixture::waitForNotification(const QString &name, int count, int ms) {
    return TestEnvironment::waitUntil([&] { return posted.count(name) >= count; }, ms);
}

int SigninFixture::notificationCount(const QString &name) const {
    return int(posted.count(name));
}

void SigninFixture::showScreen(QWidget *screen) {
    screen->resize(560, 420);
    screen->show();
    screen->activateWindow();
    QApplication::setActiveWindow(screen);
    TestEnvironment::waitUntil([screen] { return screen->isActiveWindow(); }, 2000);
}
