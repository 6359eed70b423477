#include "LoginPortal.h"

#include "LoginCallback.h"
#include "Sonarbox.h"
#include "service/SecretMasking.h"
#include "settings/GAUtility.h"
#include "settings/Logging.h"
#include "settings/NotificationCenter.h"
#include "store/GenericDAO.h"

#include <QCoreApplication>
#include <QPointer>
#include <QThread>
#include <QtConcurrent/QtConcurrentRun>

namespace {

// Runs `work` on the main thread and waits for it (directly when already
// there), so that its effects are in place when the sign-in ends.
void onMainThread(const std::function<void()> &work) {
    QCoreApplication *app = QCoreApplication::instance();
    if (!app || QThread::currentThread() == app->thread()) {
        work();
        return;
    }
    QMetaObject::invokeMethod(app, work, Qt::BlockingQueuedConnection);
}

// The screen, while it is still open.
struct Screen {
    LoginCallback *callback = nullptr;
    QPointer<QObject> guard;
    LoginCallback *alive() const { return callback && guard ? callback : nullptr; }
};

// The service names every account by its user name (the e-mail address, or
// the name it gives a Facebook identity, which the sign-in's reply fills in).
bool isSameAccount(const User &stored, const User &signedIn) {
    const QString a = stored.username.value_or(QString()).trimmed();
    const QString b = signedIn.username.value_or(QString()).trimmed();
    return !a.isEmpty() && a.compare(b, Qt::CaseInsensitive) == 0;
}

bool signIn(const UserPtr &user, const Screen &screen) {
    Sonarbox &sonarbox = Sonarbox::instance();
    if (!sonarbox.signIn(user).signedIn()) {
        qCWarning(lcAccounts).noquote()
            << QStringLiteral("\nFailed User Validation!\nMessage: %1").arg(sonarbox.syncMessage());
        onMainThread([screen] {
            if (LoginCallback *callback = screen.alive())
                callback->showErrorMessage();
        });
        if (sonarbox.fbLogin)
            GAUtility::instance().GAFacebookLoginFailed();
        else
            GAUtility::instance().GALoginButtonFailLogin();
        return false;
    }

    if (sonarbox.flow_errorAtLogin) {
        sonarbox.flow_newUser = false;
        sonarbox.flow_errorAtLogin = false;
        GenericDAO::instance().save(user);
        sonarbox.setLoggedUser(user);
        onMainThread([screen] {
            if (LoginCallback *callback = screen.alive())
                callback->stopLoginProgressIndicator();
            NotificationCenter::defaultCenter().postNotificationName(
                QStringLiteral("showProcessingViewNotification"));
            Sonarbox::instance().sync(true);
        });
        qCInfo(lcAccounts).noquote() << QStringLiteral("Existing user [%1] successfuly logged in")
                                            .arg(user->username.value_or(QString()));
        return true;
    }

    // A new sign-in: the previous account's tracks are forgotten, but only
    // when it is another account. Signing in again as the stored one (a
    // Facebook account does at every start: its token is short-lived) keeps
    // them, so that the collection is not fingerprinted anew each time.
    const UserPtr previous = GenericDAO::instance().uniqueResult<User>();
    if (previous && isSameAccount(*previous, *user)) {
        qCInfo(lcAccounts) << "Signed in again as the stored account: its tracks are kept";
    } else {
        GenericDAO::instance().resetAllTracksInDB();
    }
    sonarbox.flow_newUser = true;
    sonarbox.flow_stopProcesses = false;
    GenericDAO::instance().save(user);
    sonarbox.setLoggedUser(user);
    if (sonarbox.fbLogin)
        GAUtility::instance().GAFacebookLoginSuccessful();
    else
        GAUtility::instance().GALoginButtonSuccessfulLogin();
    qCInfo(lcAccounts).noquote() << (sonarbox.fbLogin
                                         ? QStringLiteral("\n+ New FB User Added to DB: \n%1")
                                         : QStringLiteral("\n+ New User Added to DB: \n%1"))
                                        .arg(SecretMasking::describe(*user));
    onMainThread([screen] {
        QObject *indicator = nullptr;
        if (LoginCallback *callback = screen.alive()) {
            callback->stopLoginProgressIndicator();
            callback->enableLoginButton();
            indicator = callback->loginProgressIndicator();
        }
        NotificationCenter::defaultCenter().postNotificationName(
            QStringLiteral("SuccessFullLoginNotification"), indicator);
    });
    return true;
}

} // namespace

QFuture<bool> LoginPortal::loginNewUser(const UserPtr &user, LoginCallback *withCallBackVC) {
    Screen screen{withCallBackVC, withCallBackVC ? withCallBackVC->callbackObject() : nullptr};
    return QtConcurrent::run([user, screen] { return signIn(user, screen); });
}
