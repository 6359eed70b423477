#include "BenchWorld.h"

#include "TestEnvironment.h"
#include "accounts/LoginPortal.h"
#include "settings/DeploymentConfig.h"
#include "sync/Sonarbox.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QTimer>

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
    // The main thread waits in its event loop as the programs' does: the
    // transfers hand their data over through it, so a wait that sleeps
    // between looks (as the tests' does) would time itself, not the sync.
    QEventLoop loop;
    QTimer look;
    QObject::connect(&look, &QTimer::timeout, &loop, [&] {
        if (!sonarbox.syncInProgress)
            loop.quit();
    });
    look.start(20);
    loop.exec();
    sonarbox.operationQueue().waitUntilAllOperationsAreFinished();
    return sonarbox.progressPage().state().description;
}

} // namespace bench
