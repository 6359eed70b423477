#include "BenchWorld.h"

#include "TestEnvironment.h"
#include "accounts/LoginPortal.h"
#include "settings/DeploymentConfig.h"
#include "sync/Sonarbox.h"

#include <QDir>
#include <QFile>

namespace bench {

bool configure(const QString &folder, const CloudProcess &cloud, const QString &initData) {
    const QString path = QDir(folder).filePath(QStringLiteral("sonarbox.ini"));
    QFile ini(path);
    if (!ini.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    ini.write(QStringLiteral("[service]\ngatewayBaseUrl=%1\nwebSiteUrl=%1\n"
                             "[recognition]\nclientId=1000001\n"
                             "clientTag=0123456789ABCDEF0123456789ABCDEF\ninitData=%2\n")
                  .arg(cloud.baseUrl(), initData)
                  .toUtf8());
    ini.close();
    return DeploymentConfig::load(path);
}

bool signIn() {
    auto user = std::make_shared<User>();
    user->id = QStringLiteral("1");
    user->username = Email;
    user->password = Password;
    user->deviceId = Sonarbox::instance().deviceID();
    QFuture<bool> done = LoginPortal::loginNewUser(user, nullptr);
    TestEnvironment::waitUntil([&] { return done.isFinished(); }, 60000);
    return done.isFinished() && done.result();
}

QString syncToTheEnd() {
    Sonarbox &sonarbox = Sonarbox::instance();
    sonarbox.sync(true);
    TestEnvironment::waitUntil([&] { return !sonarbox.syncInProgress; }, 24 * 3600 * 1000);
    sonarbox.operationQueue().waitUntilAllOperationsAreFinished();
    return sonarbox.progressPage().state().description;
}

} // namespace bench
