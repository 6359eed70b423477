#pragma once

#include "ServiceTestSupport.h"

#include <QStringList>
#include <QTemporaryDir>
#include <QUrl>

class QWidget;

// The service fixture (scripted gateway) plus a private store, a deployment
// whose gateway, web site and Facebook hosts all point at `baseUrl`, a record
// of the notifications the screens post, and a catcher for addresses opened in
// the default browser.
class SigninFixture : public ServiceFixture {
protected:
    void SetUp() override;
    void TearDown() override;
    // Points gateway, web site and every Facebook host at `baseUrl`.
    void useService(const QString &baseUrl);
    // Waits (processing events) until `name` has been posted `count` times.
    bool waitForNotification(const QString &name, int count = 1, int ms = 20000);
    int notificationCount(const QString &name) const;
    // Shows the screen in a window of its own with the focus in it.
    static void showScreen(QWidget *screen);

    QTemporaryDir storeDir;
    QStringList posted;
    QList<QObject *> postedObjects;
    QList<QUrl> opened;

private:
    QList<int> m_observers;
};

// Receives the addresses QDesktopServices would open.
class UrlCatcher : public QObject {
    Q_OBJECT
public:
    explicit UrlCatcher(QList<QUrl> *into)
        : m_into(into) {}
public slots:
    void open(const QUrl &url) { m_into->append(url); }

private:
    QList<QUrl> *m_into;
};
