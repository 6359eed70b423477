#include "AccountsFixture.h"

#include "store/SecretStore.h"
#include "store/StoreSetup.h"

void AccountsFixture::SetUp() {
    ServiceFixture::SetUp();
    StoreSetup::setStoreFolder(storeDir.path());
    SecretStore::instance().reset();
}

void AccountsFixture::TearDown() {
    StoreSetup::setStoreFolder({});
    ServiceFixture::TearDown();
}

UserPtr AccountsFixture::emailUser() {
    auto user = std::make_shared<User>();
    user->id = QStringLiteral("1");
    user->username = QStringLiteral("ada@example.com");
    user->password = QStringLiteral("secret");
    user->deviceId = QStringLiteral("DEVICE-1");
    return user;
}

void AccountsFixture::answerSignIns(const QByteArray &status, const QByteArray &cookie) {
    server->setHandler(withTokens([status, cookie](const scripted::Request &) {
        scripted::Reply reply =
            scripted::Reply::json(R"({"responseStatus":")" + status + R"(","firstName":"Ada"})");
        reply.headers.append(qMakePair(QByteArray("Set-Cookie"), cookie));
        return reply;
    }));
}
