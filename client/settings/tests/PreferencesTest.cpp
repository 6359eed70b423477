#include "settings/NSDefaultsUtility.h"
#include "settings/PreferenceKeys.h"

#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

class Preferences : public ::testing::Test {
protected:
    void SetUp() override { NSDefaultsUtility::setStorageFile(dir.filePath("prefs.conf")); }
    void TearDown() override { NSDefaultsUtility::setStorageFile(QString()); }
    // A second look at the file, as another process would see it.
    QVariant rawValue(QLatin1StringView key) {
        QSettings file(dir.filePath("prefs.conf"), QSettings::IniFormat);
        return file.value(QString(key));
    }
    QTemporaryDir dir;
};

TEST_F(Preferences, DefaultsOfAFreshStore) {
    EXPECT_EQ(NSDefaultsUtility::getUserPickedMediaLibrary(), 1);
    // The library choice default is written back, the others are not.
    EXPECT_EQ(rawValue(PreferenceKeys::UserPickedMediaLibrary).toInt(), 1);
    EXPECT_FALSE(NSDefaultsUtility::getDidUserPickMediaLibrary());
    EXPECT_EQ(NSDefaultsUtility::getSongAmountToProcessFromLibrary(), 0);
    EXPECT_FALSE(NSDefaultsUtility::getSaveUserMediaFoldersToScan().has_value());
    EXPECT_EQ(NSDefaultsUtility::getUserDownloadDirectory(),
              QStandardPaths::writableLocation(QStandardPaths::DownloadLocation));
    EXPECT_FALSE(rawValue(PreferenceKeys::UserDownloadDirectory).isValid());
    EXPECT_FALSE(rawValue(PreferenceKeys::DidUserPickedMediaLibrary).isValid());
}

TEST_F(Preferences, DeviceIdentifierIsCreatedOnceAndStaysStable) {
    const QString first = NSDefaultsUtility::getUUID();
    EXPECT_TRUE(
        QRegularExpression(
            QStringLiteral("^[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[0-9A-F]{4}-[0-9A-F]{12}$"))
            .match(first)
            .hasMatch())
        << first.toStdString();
    EXPECT_EQ(NSDefaultsUtility::getUUID(), first);
    EXPECT_EQ(rawValue(PreferenceKeys::UUID).toString(), first);
}

TEST_F(Preferences, RoundTrips) {
    NSDefaultsUtility::saveUserPickedMediaLibrary(3);
    EXPECT_EQ(NSDefaultsUtility::getUserPickedMediaLibrary(), 3);

    NSDefaultsUtility::saveDidUserPickMediaLibrary(QStringLiteral("YES"));
    EXPECT_TRUE(NSDefaultsUtility::getDidUserPickMediaLibrary());
    EXPECT_EQ(rawValue(PreferenceKeys::DidUserPickedMediaLibrary).toString(), "YES");
    NSDefaultsUtility::saveDidUserPickMediaLibrary(QStringLiteral("NO"));
    EXPECT_FALSE(NSDefaultsUtility::getDidUserPickMediaLibrary());

    NSDefaultsUtility::saveSongAmountToProcessFromLibrary(1234567);
    EXPECT_EQ(NSDefaultsUtility::getSongAmountToProcessFromLibrary(), 1234567);

    NSDefaultsUtility::saveUserDownloadDirectory(QStringLiteral("/srv/müsic"));
    EXPECT_EQ(NSDefaultsUtility::getUserDownloadDirectory(), "/srv/müsic");
    NSDefaultsUtility::resetUserDownloadDirectory();
    EXPECT_EQ(rawValue(PreferenceKeys::UserDownloadDirectory).toString(),
              QStandardPaths::writableLocation(QStandardPaths::DownloadLocation));
}

TEST_F(Preferences, FolderListIsStoredAsUtf8UrlBlobsInOrder) {
    const QList<QUrl> folders{QUrl::fromLocalFile(QStringLiteral("/home/ana/Música/")),
                              QUrl::fromLocalFile(QStringLiteral("/mnt/a b/")),
                              QUrl::fromLocalFile(QStringLiteral("/data/音楽/"))};
    EXPECT_FALSE(NSDefaultsUtility::getSaveUserMediaFoldersToScan(folders).has_value());

    const QVariantList blobs = rawValue(PreferenceKeys::UserMediaFoldersToScan).toList();
    ASSERT_EQ(blobs.size(), 3);
    EXPECT_EQ(blobs.at(0).typeId(), QMetaType::QByteArray);
    EXPECT_EQ(blobs.at(0).toByteArray(), folders.at(0).toString(QUrl::FullyEncoded).toUtf8());

    EXPECT_EQ(NSDefaultsUtility::getSaveUserMediaFoldersToScan(), folders);

    NSDefaultsUtility::getSaveUserMediaFoldersToScan(QList<QUrl>());
    EXPECT_FALSE(NSDefaultsUtility::getSaveUserMediaFoldersToScan().has_value());
    NSDefaultsUtility::getSaveUserMediaFoldersToScan(folders);
    NSDefaultsUtility::resetUserMediaFoldersToScan();
    EXPECT_FALSE(rawValue(PreferenceKeys::UserMediaFoldersToScan).isValid());
}

TEST_F(Preferences, AFileWrittenByAnEarlierVersionKeepsItsValues) {
    // The keys as every earlier version wrote them: a misspelled key would
    // silently drop the person's choices at the next start.
    {
        QSettings file(dir.filePath("prefs.conf"), QSettings::IniFormat);
        file.setValue(QStringLiteral("UUID"),
                      QStringLiteral("0F8FAD5B-D9CB-469F-A165-70867728950E"));
        file.setValue(QStringLiteral("userPickedMediaLibrary"), 3);
        file.setValue(QStringLiteral("didUserPickedMediaLibrary"), QStringLiteral("YES"));
        file.setValue(QStringLiteral("amountOfSongsAppHasToProcess"), 4321);
        file.setValue(QStringLiteral("userMediaFoldersToScan"),
                      QVariantList{QByteArray("file:///srv/music/"), QByteArray("file:///mnt/b/")});
        file.setValue(QStringLiteral("UserDownloadDirectory"), QStringLiteral("/srv/incoming"));
    }
    EXPECT_EQ(NSDefaultsUtility::getUUID(), "0F8FAD5B-D9CB-469F-A165-70867728950E");
    EXPECT_EQ(NSDefaultsUtility::getUserPickedMediaLibrary(), 3);
    EXPECT_TRUE(NSDefaultsUtility::getDidUserPickMediaLibrary());
    EXPECT_EQ(NSDefaultsUtility::getSongAmountToProcessFromLibrary(), 4321);
    EXPECT_EQ(NSDefaultsUtility::getSaveUserMediaFoldersToScan(),
              QList<QUrl>({QUrl(QStringLiteral("file:///srv/music/")),
                           QUrl(QStringLiteral("file:///mnt/b/"))}));
    EXPECT_EQ(NSDefaultsUtility::getUserDownloadDirectory(), "/srv/incoming");

    // And what this version writes, an earlier one reads under the same keys.
    NSDefaultsUtility::saveDidUserPickMediaLibrary(QStringLiteral("NO"));
    NSDefaultsUtility::saveUserDownloadDirectory(QStringLiteral("/srv/other"));
    NSDefaultsUtility::saveSongAmountToProcessFromLibrary(7);
    QSettings file(dir.filePath("prefs.conf"), QSettings::IniFormat);
    EXPECT_EQ(file.value(QStringLiteral("didUserPickedMediaLibrary")).toString(), "NO");
    EXPECT_EQ(file.value(QStringLiteral("UserDownloadDirectory")).toString(), "/srv/other");
    EXPECT_EQ(file.value(QStringLiteral("amountOfSongsAppHasToProcess")).toInt(), 7);
}

TEST_F(Preferences, ValuesOfTheWrongTypeReadAsNeutralAndAreNotRepaired) {
    {
        QSettings file(dir.filePath("prefs.conf"), QSettings::IniFormat);
        file.setValue(QString(PreferenceKeys::UserPickedMediaLibrary), QStringLiteral("itunes"));
        file.setValue(QString(PreferenceKeys::AmountOfSongsAppHasToProcess),
                      QStringLiteral("lots"));
        file.setValue(QString(PreferenceKeys::DidUserPickedMediaLibrary), QStringLiteral("maybe"));
        file.setValue(QString(PreferenceKeys::UserMediaFoldersToScan),
                      QStringLiteral("/not/a/list"));
        file.setValue(QString(PreferenceKeys::UserDownloadDirectory), QVariantList{1, 2});
    }
    EXPECT_EQ(NSDefaultsUtility::getUserPickedMediaLibrary(), 0);
    EXPECT_EQ(rawValue(PreferenceKeys::UserPickedMediaLibrary).toString(), "itunes");
    EXPECT_EQ(NSDefaultsUtility::getSongAmountToProcessFromLibrary(), 0);
    EXPECT_FALSE(NSDefaultsUtility::getDidUserPickMediaLibrary());
    EXPECT_FALSE(NSDefaultsUtility::getSaveUserMediaFoldersToScan().has_value());
    EXPECT_EQ(NSDefaultsUtility::getUserDownloadDirectory(),
              NSDefaultsUtility::defaultDownloadDirectory());
}

TEST_F(Preferences, StorageFollowsTheConfiguredFile) {
    NSDefaultsUtility::saveUserPickedMediaLibrary(2);
    QTemporaryDir other;
    NSDefaultsUtility::setStorageFile(other.filePath("prefs.conf"));
    EXPECT_EQ(NSDefaultsUtility::getUserPickedMediaLibrary(), 1);
    NSDefaultsUtility::setStorageFile(dir.filePath("prefs.conf"));
    EXPECT_EQ(NSDefaultsUtility::getUserPickedMediaLibrary(), 2);
}

} // namespace
