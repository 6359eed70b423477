#include "Fonts.h"

#include <QFile>
#include <QFontDatabase>
#include <QTemporaryDir>

#include <gtest/gtest.h>

TEST(Fonts, RegistersTheThreeRalewayFacesFromTheDataFolder) {
    QString error;
    ASSERT_TRUE(registerCustomFonts(&error)) << error.toStdString();
    const QStringList styles = QFontDatabase::styles(QStringLiteral("Raleway"));
    EXPECT_TRUE(styles.contains(QStringLiteral("Regular"))) << styles.join(',').toStdString();
    EXPECT_TRUE(styles.contains(QStringLiteral("Medium"))) << styles.join(',').toStdString();
    EXPECT_TRUE(styles.contains(QStringLiteral("Black"))) << styles.join(',').toStdString();
    EXPECT_TRUE(registerCustomFonts(&error)); // a second call is harmless
}

TEST(Fonts, AMissingOrBrokenFaceFailsAndNamesIt) {
    QTemporaryDir dir;
    for (const char *face : {"Raleway-Regular", "Raleway-Medium"}) {
        QFile::copy(QStringLiteral(SONARBOX_SOURCE_DIR "/client/resources/fonts/%1.ttf")
                        .arg(QLatin1String(face)),
                    dir.filePath(QStringLiteral("%1.ttf").arg(QLatin1String(face))));
    }
    QString error;
    EXPECT_FALSE(registerCustomFontsFrom(dir.path(), &error));
    EXPECT_TRUE(error.contains(QStringLiteral("Raleway-Heavy"))) << error.toStdString();

    QFile broken(dir.filePath(QStringLiteral("Raleway-Heavy.ttf")));
    ASSERT_TRUE(broken.open(QIODevice::WriteOnly));
    broken.write("not a font");
    broken.close();
    error.clear();
    EXPECT_FALSE(registerCustomFontsFrom(dir.path(), &error));
    EXPECT_TRUE(error.contains(QStringLiteral("Raleway-Heavy"))) << error.toStdString();
}
