#include "MainWindow.h"

#include "CustomView.h"
#include "Fonts.h"
#include "engine/Sonarbox.h"
#include "library/FolderDialogs.h"
#include "library/MediaLibraryPicker.h"
#include "library/MediaScanSummary.h"
#include "screens/LaunchSBX.h"
#include "screens/ProcessPage.h"
#include "screens/Settings.h"
#include "screens/Version.h"
#include "settings/Logging.h"
#include "settings/NSDefaultsUtility.h"
#include "settings/NotificationCenter.h"
#include "signin/LandingPage.h"
#include "signin/LoginRegister.h"
#include "signin/SignUp.h"
#include "store/GenericDAO.h"
#include "store/StoreContext.h"
#include "store/StoreError.h"
#include "store/StoreQueries.h"
#include "store/StoreSetup.h"
#include "store/StoreThread.h"
#include "ui_MainWindow.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QThread>
#include <QTimer>
#include <QtConcurrent/QtConcurrentRun>

namespace {

void logSelector(const char *selector) {
    qCInfo(lcShell).noquote()
        << QStringLiteral("[%1] @class:MainWindow").arg(QLatin1String(selector));
}

QString viewNameOf(const QWidget *view) {
    const auto *custom = qobject_cast<const CustomView *>(view);
    return custom ? custom->viewName() : QString();
}

bool isOverlay(const QWidget *view) {
    const QString name = viewNameOf(view);
    return name == QLatin1String("Version") || name == QLatin1String("Settings");
}

} // namespace

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent)
    , ui(std::make_unique<Ui::MainWindow>()) {
    ui->setupUi(this);
    ui->activityIndicator->hide();
    ui->mainView->installEventFilter(this);
    windowDidLoad();
}

MainWindow::~MainWindow() {
    for (const int token : std::as_const(m_observers))
        NotificationCenter::defaultCenter().removeObserver(token);
    // A sign-in still running finishes on its own; nobody listens any more.
    m_signIn.disconnect(this);
}

void MainWindow::observe(const char *name, void (MainWindow::*handler)()) {
    m_observers << NotificationCenter::defaultCenter().addObserver(
        QLatin1String(name), [this, handler](QObject *) {
            if (QThread::currentThread() == thread()) {
                (this->*handler)();
                return;
            }
            // Screens only change on the main thread.
            QMetaObject::invokeMethod(
                this, [this, handler] { (this->*handler)(); }, Qt::QueuedConnection);
        });
}

void MainWindow::windowDidLoad() {
    logSelector("windowDidLoad");
    observe("SuccessFullLoginNotification", &MainWindow::LoggedInSuccessFull);
    observe("showMediaScanSummaryNotification", &MainWindow::showMediaScanSummary);
    observe("showProcessingViewNotification", &MainWindow::showProcessingView);
    observe("showMediaPickerViewNotification", &MainWindow::showMediaLibraryPicker);
    observe("showLaunchSBXScreenNotification", &MainWindow::showLaunchSBXView);
    observe("showAboutViewNotification", &MainWindow::showAboutView);
    observe("closeAboutViewNotification", &MainWindow::closeAboutView);
    observe("showSettingsViewNotification", &MainWindow::showSettingsView);
    observe("closeSettingsViewNotification", &MainWindow::closeSettingsView);
    observe("showLandingScreen", &MainWindow::showLandingView);
    observe("showSignUpScreen", &MainWindow::showSignUpView);
    observe("showLoginScreen", &MainWindow::showLoginView);
    observe("logOutNotification", &MainWindow::userLoggedOut);

    QString error;
    if (!registerCustomFonts(&error)) {
        m_loadError = error;
        qCCritical(lcShell).noquote() << "The program's fonts could not be loaded:" << error;
        // Nothing can be drawn without them: the program ends as soon as its
        // event loop runs.
        QTimer::singleShot(0, qApp, [] { QCoreApplication::exit(1); });
        return;
    }

    // The coordinator asks for the download folder in a sheet of this window.
    FolderDialogs::installDownloadFolderChooser(this);

    Sonarbox &sonarbox = Sonarbox::instance();
    // The record alone decides the first screen; its password comes from
    // the keyring, which may take seconds to answer, so it is read with the
    // sign-in, off the main thread.
    const UserPtr stored = storedAccountRecord();
    sonarbox.setLoggedUser(stored);
    if (stored && !stored->username.value_or(QString()).isEmpty()) {
        ui->activityIndicator->show();
        doLogin(stored);
    } else if (sonarbox.landingPageEnabled()) {
        showLandingView();
    } else {
        showLoginView();
    }
}

// ---- the stored user's sign-in

bool MainWindow::isSigningIn() const {
    return m_signIn.isRunning();
}

UserPtr MainWindow::storedAccountRecord() {
    StoreContext *context = StoreSetup::instance().managedObjectContext();
    if (!context)
        return nullptr;
    return StoreThread::instance().call([context]() -> UserPtr {
        if (!StoreSetup::instance().isLive(context))
            return nullptr;
        try {
            const QList<UserPtr> users = StoreQueries::fetch<User>(*context);
            return users.isEmpty() ? nullptr : users.first();
        } catch (const StoreError &error) {
            qCWarning(lcShell).noquote()
                << QStringLiteral("The stored account could not be read: %1").arg(error.message());
            return nullptr;
        }
    });
}

void MainWindow::doLogin(const UserPtr &record) {
    connect(&m_signIn, &QFutureWatcher<SignInAnswer>::finished, this, [this, record] {
        const SignInAnswer answer = m_signIn.result();
        // Logged out (or another account signed in) meanwhile: this answer
        // is about an account the window no longer shows.
        if (Sonarbox::instance().loggedUser() != answer.user)
            return;
        loginFinished(answer.result);
    });
    m_signIn.setFuture(QtConcurrent::run([record] {
        Sonarbox &sonarbox = Sonarbox::instance();
        // The account with its secrets; it replaces the bare record unless
        // the person logged out in the meantime.
        UserPtr user = GenericDAO::instance().uniqueResult<User>();
        if (!user || user->username != record->username ||
            !sonarbox.replaceLoggedUser(record, user))
            return SignInAnswer{SignInResult::Outcome::NoAnswer, record};
        return SignInAnswer{Sonarbox::instance().signInAgain(user), user};
    }));
}

void MainWindow::loginFinished(SignInResult::Outcome result) {
    ui->activityIndicator->hide();
    const bool signedIn = result == SignInResult::Outcome::SignedIn;
    if (signedIn) {
        if (!NSDefaultsUtility::standard().getDidUserPickMediaLibrary()) {
            qCInfo(lcShell) << "User Logged in but did NOT pick a library";
            showMediaLibraryPicker();
        } else {
            showProcessingView();
            Sonarbox::instance().sync(true);
        }
    } else {
        showLoginView();
    }
    emit storedUserSignInFinished(signedIn);
    if (result == SignInResult::Outcome::Refused)
        emit storedUserRefused();
}

// ---- the container

QWidget *MainWindow::mainView() const {
    return ui->mainView;
}

QList<QWidget *> MainWindow::subviews() const {
    QList<QWidget *> views;
    for (const QPointer<QWidget> &view : m_subviews) {
        if (view)
            views << view;
    }
    return views;
}

CustomView *MainWindow::topView() const {
    const QList<QWidget *> views = subviews();
    return views.isEmpty() ? nullptr : qobject_cast<CustomView *>(views.last());
}

void MainWindow::addSubviewToMainWindow(QWidget *view) {
    m_subviews.removeAll(view);
    m_subviews << view;
    if (view->parentWidget() != ui->mainView)
        view->setParent(ui->mainView);
    view->setGeometry(ui->mainView->rect());
    view->show();
    view->raise();
    coverAllButTop();
    view->setFocus();
}

void MainWindow::coverAllButTop() {
    // A screen under another one is hidden, not merely covered: Tab would
    // otherwise walk into it and Enter press its buttons unseen.
    const QList<QWidget *> views = subviews();
    for (qsizetype i = 0; i + 1 < views.size(); ++i)
        views[i]->hide();
}

void MainWindow::removeSubview(QWidget *view) {
    const bool wasTop = !m_subviews.isEmpty() && m_subviews.last() == view;
    m_subviews.removeAll(view);
    view->hide();
    if (wasTop && !m_subviews.isEmpty() && m_subviews.last())
        m_subviews.last()->show();
    if (view == m_processPageVC) {
        // The progress page is kept for the rest of the process; it only
        // leaves the container.
        view->setParent(this);
        view->hide();
        return;
    }
    // Often the screen itself asked for the switch and is still inside its
    // own handler: it goes once that has returned.
    view->deleteLater();
}

void MainWindow::removeAllSubviews() {
    const QList<QWidget *> views = subviews();
    for (QWidget *view : views) {
        const auto *custom = qobject_cast<CustomView *>(view);
        if (!custom)
            continue;
        qCInfo(lcShell).noquote() << QStringLiteral("Subview: %1").arg(custom->viewName());
        if (custom->viewName() != QLatin1String("ProcessPage"))
            removeSubview(view);
    }
}

bool MainWindow::eventFilter(QObject *watched, QEvent *event) {
    if (watched == ui->mainView && event->type() == QEvent::Resize) {
        for (QWidget *view : subviews())
            view->setGeometry(ui->mainView->rect());
    }
    return QMainWindow::eventFilter(watched, event);
}

template <typename Screen> Screen *MainWindow::switchTo(QPointer<Screen> &reference) {
    removeAllSubviews();
    if (reference)
        removeSubview(reference); // a screen made earlier is replaced, not reused
    reference = new Screen(ui->mainView);
    addSubviewToMainWindow(reference);
    return reference;
}

void MainWindow::hideViewToShowNewOnTop() {
    CustomView *top = topView();
    if (!top)
        return;
    if (isOverlay(top)) {
        // An overlay asked for while one is up replaces it and returns to the
        // same screen: hiding it would leave nothing to come back to.
        removeSubview(top);
        return;
    }
    m_lastViewShown = top;
    top->hide();
}

template <typename Screen> Screen *MainWindow::showOverlay(QPointer<Screen> &reference) {
    hideViewToShowNewOnTop();
    if (reference)
        removeSubview(reference);
    reference = new Screen(ui->mainView);
    addSubviewToMainWindow(reference);
    return reference;
}

// ---- notification handlers

void MainWindow::LoggedInSuccessFull() {
    logSelector("LoggedInSuccessFull");
    switchTo(m_libraryPicker);
}

void MainWindow::showMediaScanSummary() {
    logSelector("showMediaScanSummary");
    switchTo(m_mediaScanSummaryView);
}

void MainWindow::showProcessingView() {
    logSelector("showProcessingView");
    removeAllSubviews();
    if (!m_processPageVC)
        m_processPageVC = new ProcessPage(ui->mainView);
    addSubviewToMainWindow(m_processPageVC);
    Sonarbox &sonarbox = Sonarbox::instance();
    if (sonarbox.flow_newUser)
        sonarbox.showNewUserFlow(true);
    m_processPageVC->show();
}

void MainWindow::showMediaLibraryPicker() {
    logSelector("showMediaLibraryPicker");
    switchTo(m_libraryPicker);
}

void MainWindow::showLaunchSBXView() {
    logSelector("showLaunchSBXView");
    switchTo(m_launchSBXView);
}

void MainWindow::showAboutView() {
    logSelector("showAboutView");
    showOverlay(m_aboutView);
}

void MainWindow::closeAboutView() {
    logSelector("closeAboutView");
    if (m_aboutView)
        removeSubview(m_aboutView);
    if (m_lastViewShown)
        m_lastViewShown->show();
    close();
}

void MainWindow::showSettingsView() {
    logSelector("showSettingsView");
    showOverlay(m_settingsView);
    Sonarbox::instance().statusMenu().statusMenuShowSettingsPage();
}

void MainWindow::closeSettingsView() {
    logSelector("closeSettingsView");
    close();
}

void MainWindow::showLandingView() {
    logSelector("showLandingView");
    switchTo(m_landingPageView);
}

void MainWindow::showSignUpView() {
    logSelector("showSignUpView");
    switchTo(m_signUpPageView);
}

void MainWindow::showLoginView() {
    logSelector("showLoginView");
    switchTo(m_loginRegisterVC);
}

void MainWindow::userLoggedOut() {
    logSelector("userLoggedOut");
    ui->activityIndicator->hide();
    // Everything goes, the progress page too.
    for (QWidget *view : subviews())
        removeSubview(view);
    m_lastViewShown = nullptr;
    if (m_loginRegisterVC)
        removeSubview(m_loginRegisterVC);
    m_loginRegisterVC = new LoginRegister(ui->mainView);
    addSubviewToMainWindow(m_loginRegisterVC);
}

// ---- closing

void MainWindow::closeEvent(QCloseEvent *event) {
    windowWillClose();
    if (m_minimizeOnClose) {
        event->ignore();
        showMinimized();
        return;
    }
    QMainWindow::closeEvent(event);
}

void MainWindow::windowWillClose() {
    Sonarbox &sonarbox = Sonarbox::instance();
    sonarbox.flow_newUser = false;
    sonarbox.showNewUserFlow(false);

    CustomView *top = topView();
    if (!top)
        return;
    const QString name = top->viewName();
    if (name == QLatin1String("LaunchSBX")) {
        // The progress page is what the window shows when it is opened next.
        removeAllSubviews();
        logSelector("windowWillClose:");
        if (CustomView *next = topView())
            next->show();
    }
    if (name == QLatin1String("Settings")) {
        qCInfo(lcShell) << "Settings Closed";
        logSelector("windowWillClose:");
        removeSubview(top);
        if (m_lastViewShown)
            m_lastViewShown->show();
        sonarbox.statusMenu().statusMenuCloseSettingsPage();
    }
    qCInfo(lcShell).noquote() << name;
}
