#include "BenchWorld.h"

#include "TestEnvironment.h"
#include "engine/LoginPortal.h"
#include "engine/Sonarbox.h"
#include "settings/DeploymentConfig.h"

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
    // The main thread waits in its event loop as the programs' does: the
    // transfers hand their data over through it, so a wait that sleeps
    // between looks (as the tests' does) would time itself, not the sync.
    // It ends as the coordinator says the sync's state changed (it says so as
    // the sync starts, too), not at the next look of a timer, which would
    // round every figure up to its period; the timer only keeps a missed
    // signal from hanging the wait.
    QEventLoop loop;
    const auto check = [&] {
        if (!sonarbox.syncInProgress)
            loop.quit();
    };
    QObject::connect(&sonarbox, &Sonarbox::syncStateChanged, &loop, check, Qt::QueuedConnection);
    QTimer look;
    QObject::connect(&look, &QTimer::timeout, &loop, check);
    look.start(200);
    sonarbox.sync(true);
    loop.exec();
    sonarbox.operationQueue().waitUntilAllOperationsAreFinished();
    return sonarbox.progressPage().state().description;
}

} // namespace bench
