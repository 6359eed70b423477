#pragma once

#include "ServiceTestSupport.h"
#include "engine/LoginCallback.h"
#include "store/User.h"

#include <QObject>
#include <QThread>

#include <atomic>

// The service fixture plus a private store folder.
class AccountsFixture : public ServiceFixture {
protected:
    void SetUp() override;
    void TearDown() override;

    // ada@example.com with a password, on device "DEVICE-1".
    static UserPtr emailUser();
    // Every sign-in is answered with `status` (and her first name), and sets
    // the session cookie `cookie`.
    void answerSignIns(const QByteArray &status, const QByteArray &cookie);

    QTemporaryDir storeDir;
};

// A login screen as the sign-in sees it: records what it was told and on
// which thread.
class FakeLoginScreen : public LoginCallback {
public:
    QObject *callbackObject() override { return &object; }
    QObject *loginProgressIndicator() override { return &indicator; }
    void stopLoginProgressIndicator() override { note(stopped); }
    void enableLoginButton() override { note(enabled); }
    void showErrorMessage() override { note(errorsShown); }

    QObject object;
    QObject indicator;
    std::atomic<int> stopped{0}, enabled{0}, errorsShown{0};
    std::atomic<bool> calledOffMainThread{false};

private:
    void note(std::atomic<int> &counter) {
        if (QThread::currentThread() != object.thread())
            calledOffMainThread = true;
        ++counter;
    }
};
