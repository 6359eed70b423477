#pragma once

#include "accounts/PhFacebookDelegate.h"
#include "accounts/PhWebViewController.h"
#include "ui_FacebookBrowser.h"

#include <QList>
#include <QNetworkCookie>
#include <QWidget>

class QWebEngineProfile;

// The window with the embedded browser of the Facebook sign-in. It reports
// the pages it loads to the flow (PhWebViewController), which decides when
// it shows and picks the token out of the final address.
class FacebookBrowser : public QWidget, public PhWebViewController {
    Q_OBJECT
public:
    explicit FacebookBrowser(QWebEngineProfile *profile, QWidget *parent = nullptr);

    void loadAddress(const QUrl &address) override;
    void showWindow() override;
    void hideWindow() override;
    bool isWindowVisible() const override { return isVisible(); }

    QWebEngineView *webView() const { return ui.webView; }
    QPushButton *cancelButton() const { return ui.cancelButton; }

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    Ui::FacebookBrowser ui;
    bool m_hiding = false;
};

// The desktop's side of the Facebook sign-in: browser windows on one web
// profile, whose cookies it follows so that those of the Facebook site can be
// deleted.
class WebEngineFacebookHost : public QObject, public FacebookBrowserHost {
    Q_OBJECT
public:
    // Binds the host to the sign-in flow once; later calls do nothing.
    // Answers the host.
    static WebEngineFacebookHost &install();

    std::unique_ptr<PhWebViewController> createWebViewController() override;
    void deleteCookies(const QString &host) override;
    void requestUserAttention() override;

    QWebEngineProfile *profile() const { return m_profile; }
    QList<QNetworkCookie> cookies() const { return m_cookies; }

    ~WebEngineFacebookHost() override;

private:
    WebEngineFacebookHost();
    QWebEngineProfile *m_profile = nullptr;
    QList<QNetworkCookie> m_cookies;
};
