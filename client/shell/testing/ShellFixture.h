#pragma once

#include "CloudProcess.h"
#include "LogCapture.h"

#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QUrl>

#include <gtest/gtest.h>

#include <memory>

// A fresh coordinator, store and preferences in a temporary folder, with a
// deployment configuration whose gateway is either a running sonarbox-cloud
// (startCloud) or a port where nobody listens.
class ShellFixture : public ::testing::Test {
protected:
    static inline const QString Email = QStringLiteral("grace@example.com");
    static inline const QString Password = QStringLiteral("pa55word");

    void SetUp() override;
    void TearDown() override;

    // Starts sonarbox-cloud with the test account and points the client at it.
    void startCloud();
    // Rewrites the configuration (gateway, landing flag) and rebuilds the
    // coordinator's state from it and the preferences.
    void configure(bool landingPageEnabled = true);
    // Stores the account as a previous run would have left it.
    void storeUser(const QString &password);

    QTemporaryDir home;
    std::unique_ptr<CloudProcess> cloud;
    QString gateway;
    QStringList openedUrls;
    LogCapture log;
};
