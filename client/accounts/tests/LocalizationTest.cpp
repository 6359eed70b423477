#include "settings/Localization.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

TEST(LocalizationTest, MessageKeysHaveEnglishTexts) {
    // The keys the sign-in and sign-up replies can lead to.
    for (const char *key :
         {"AuthenticationError", "facebook_account_deauthorized_message",
          "DeviceIdNotFoundServiceErrorMessage", "DesktopLimitErrorMessage",
          "register_before_login_message", "email_empty_message", "invalid_email_message",
          "first_name_empty_message", "last_name_empty_message", "password_empty_message",
          "password_is_not_the_same_message", "password_minimum_size_message",
          "user_exists_message", "invalid_signature_message"}) {
        const QString text = Localization::localizedString(QString::fromLatin1(key));
        EXPECT_FALSE(text.isEmpty()) << key;
        EXPECT_NE(text, QString::fromLatin1(key)) << key;
    }
    EXPECT_EQ(Localization::localizedString(QStringLiteral("no_such_key")),
              QStringLiteral("no_such_key"));
    EXPECT_EQ(Localization::localizedString(QString()), QString());
}

TEST(LocalizationTest, InstalledTableServesQtTrId) {
    ASSERT_TRUE(Localization::install());
    EXPECT_TRUE(Localization::install()) << "a second call is harmless";
    EXPECT_EQ(qtTrId("DesktopLimitErrorMessage"),
              Localization::localizedString(QStringLiteral("DesktopLimitErrorMessage")));
}
