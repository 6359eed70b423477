#include "FacebookBrowser.h"

#include "accounts/FacebookService.h"
#include "accounts/PhFacebook.h"
#include "settings/Localization.h"

#include <QApplication>
#include <QCloseEvent>
#include <QShortcut>
#include <QWebEngineCookieStore>
#include <QWebEnginePage>
#include <QWebEngineProfile>

FacebookBrowser::FacebookBrowser(QWebEngineProfile *profile, QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::WindowStaysOnTopHint) {
    ui.setupUi(this);
    setObjectName(QStringLiteral("FacebookBrowser"));
    setWindowTitle(Localization::localizedString(QStringLiteral("Login with Facebook")));
    ui.cancelButton->setText(Localization::localizedString(QStringLiteral("Cancel Facebook")));
    ui.webView->setPage(new QWebEnginePage(profile, ui.webView));

    connect(ui.cancelButton, &QPushButton::clicked, this, [this] { cancel(); });
    auto *escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    escape->setContext(Qt::WindowShortcut);
    connect(escape, &QShortcut::activated, this, [this] { cancel(); });

    // A page's address is known once its load is committed (url-changed);
    // the final address of a load once it has finished.
    connect(ui.webView, &QWebEngineView::urlChanged, this,
            [this](const QUrl &address) { didCommitLoad(address); });
    connect(ui.webView, &QWebEngineView::loadFinished, this,
            [this](bool) { didFinishLoad(ui.webView->url()); });
}

void FacebookBrowser::loadAddress(const QUrl &address) {
    ui.webView->load(address);
}

void FacebookBrowser::showWindow() {
    show();
    raise();
    activateWindow();
}

void FacebookBrowser::hideWindow() {
    m_hiding = true;
    hide();
    m_hiding = false;
}

void FacebookBrowser::closeEvent(QCloseEvent *event) {
    // Closed by the user: the same as Cancel.
    if (!m_hiding && parentFacebook)
        parentFacebook->didDismissUI();
    event->accept();
}

WebEngineFacebookHost &WebEngineFacebookHost::install() {
    static WebEngineFacebookHost *host = [] {
        auto *created = new WebEngineFacebookHost;
        PhFacebook::setBrowserHost(created);
        return created;
    }();
    return *host;
}

WebEngineFacebookHost::WebEngineFacebookHost()
    : QObject(qApp) {
    m_profile = QWebEngineProfile::defaultProfile();
    QWebEngineCookieStore *store = m_profile->cookieStore();
    connect(store, &QWebEngineCookieStore::cookieAdded, this, [this](const QNetworkCookie &cookie) {
        for (const QNetworkCookie &known : std::as_const(m_cookies))
            if (known.hasSameIdentifier(cookie))
                return;
        m_cookies.append(cookie);
    });
    connect(store, &QWebEngineCookieStore::cookieRemoved, this,
            [this](const QNetworkCookie &cookie) {
                m_cookies.removeIf(
                    [&](const QNetworkCookie &known) { return known.hasSameIdentifier(cookie); });
            });
    store->loadAllCookies();
    // The windows and their pages must go while the browser engine is still
    // whole: when the event loop ends, before the application object is torn
    // down (by then parts of the engine are gone); the post routine is the
    // last resort of a program that never ran its event loop.
    connect(qApp, &QCoreApplication::aboutToQuit, this,
            [] { FacebookService::instance().discardFlow(); });
    qAddPostRoutine([] { FacebookService::instance().discardFlow(); });
}

WebEngineFacebookHost::~WebEngineFacebookHost() {
    // The application goes: its windows and pages must go before it.
    FacebookService::instance().discardFlow();
    PhFacebook::setBrowserHost(nullptr);
}

std::unique_ptr<PhWebViewController> WebEngineFacebookHost::createWebViewController() {
    return std::make_unique<FacebookBrowser>(m_profile);
}

void WebEngineFacebookHost::deleteCookies(const QString &host) {
    const QString name = QUrl(QStringLiteral("http://") + host).host();
    const auto belongs = [&](const QNetworkCookie &cookie) {
        QString domain = cookie.domain();
        if (domain.startsWith(QLatin1Char('.')))
            domain.remove(0, 1);
        return domain.compare(name, Qt::CaseInsensitive) == 0 ||
               name.endsWith(QLatin1Char('.') + domain, Qt::CaseInsensitive);
    };
    QWebEngineCookieStore *store = m_profile->cookieStore();
    for (const QNetworkCookie &cookie : QList<QNetworkCookie>(m_cookies)) {
        if (!belongs(cookie))
            continue;
        for (const QString &scheme : {QStringLiteral("http"), QStringLiteral("https")})
            store->deleteCookie(cookie, QUrl(scheme + QStringLiteral("://") + host));
    }
}

void WebEngineFacebookHost::requestUserAttention() {
    if (QWidget *window = QApplication::activeWindow())
        QApplication::alert(window, 0);
}
