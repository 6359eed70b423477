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
    EXPECT_EQ(NSDefaultsUtility::standard().getUserPickedMediaLibrary(), 1);
    // The library choice default is written back, the others are not.
    EXPECT_EQ(rawValue(PreferenceKeys::UserPickedMediaLibrary).toInt(), 1);
    EXPECT_FALSE(NSDefaultsUtility::standard().getDidUserPickMediaLibrary());
    EXPECT_EQ(NSDefaultsUtility::standard().getSongAmountToProcessFromLibrary(), 0);
    EXPECT_FALSE(NSDefaultsUtility::standard().getSaveUserMediaFoldersToScan().has_value());
    EXPECT_EQ(NSDefaultsUtility::standard().getUserDownloadDirectory(),
              QStandardPaths::writableLocation(QStandardPaths::DownloadLocation));
    EXPECT_FALSE(rawValue(PreferenceKeys::UserDownloadDirectory).isValid());
    EXPECT_FALSE(rawValue(PreferenceKeys::DidUserPickedMediaLibrary).isValid());
}

TEST_F(Preferences, DeviceIdentifierIsCreatedOnceAndStaysStable) {
    const QString first = NSDefaultsUtility::standard().getUUID();
    EXPECT_TRUE(
        QRegularExpression(
            QStringLiteral("^[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[0-9A-F]{4}-[0-9A-F]{12}$"))
            .match(first)
            .hasMatch())
        << first.toStdString();
    EXPECT_EQ(NSDefaultsUtility::standard().getUUID(), first);
    EXPECT_EQ(rawValue(PreferenceKeys::UUID).toString(), first);
}

TEST_F(Preferences, RoundTrips) {
    NSDefaultsUtility::standard().saveUserPickedMediaLibrary(3);
    EXPECT_EQ(NSDefaultsUtility::standard().getUserPickedMediaLibrary(), 3);

    NSDefaultsUtility::standard().saveDidUserPickMediaLibrary(QStringLiteral("YES"));
    EXPECT_TRUE(NSDefaultsUtility::standard().getDidUserPickMediaLibrary());
    EXPECT_EQ(rawValue(PreferenceKeys::DidUserPickedMediaLibrary).toString(), "YES");
    NSDefaultsUtility::standard().saveDidUserPickMediaLibrary(QStringLiteral("NO"));
    EXPECT_FALSE(NSDefaultsUtility::standard().getDidUserPickMediaLibrary());

    NSDefaultsUtility::standard().saveSongAmountToProcessFromLibrary(1234567);
    EXPECT_EQ(NSDefaultsUtility::standard().getSongAmountToProcessFromLibrary(), 1234567);

    NSDefaultsUtility::standard().saveUserDownloadDirectory(QStringLiteral("/srv/müsic"));
    EXPECT_EQ(NSDefaultsUtility::standard().getUserDownloadDirectory(), "/srv/müsic");
    NSDefaultsUtility::standard().resetUserDownloadDirectory();
    EXPECT_EQ(rawValue(PreferenceKeys::UserDownloadDirectory).toString(),
              QStandardPaths::writableLocation(QStandardPaths::DownloadLocation));
}

TEST_F(Preferences, FolderListIsStoredAsUtf8UrlBlobsInOrder) {
    const QList<QUrl> folders{QUrl::fromLocalFile(QStringLiteral("/home/ana/Música/")),
                              QUrl::fromLocalFile(QStringLiteral("/mnt/a b/")),
                              QUrl::fromLocalFile(QStringLiteral("/data/音楽/"))};
    EXPECT_FALSE(NSDefaultsUtility::standard().getSaveUserMediaFoldersToScan(folders).has_value());

    const QVariantList blobs = rawValue(PreferenceKeys::UserMediaFoldersToScan).toList();
    ASSERT_EQ(blobs.size(), 3);
    EXPECT_EQ(blobs.at(0).typeId(), QMetaType::QByteArray);
    EXPECT_EQ(blobs.at(0).toByteArray(), folders.at(0).toString(QUrl::FullyEncoded).toUtf8());

    EXPECT_EQ(NSDefaultsUtility::standard().getSaveUserMediaFoldersToScan(), folders);

    NSDefaultsUtility::standard().getSaveUserMediaFoldersToScan(QList<QUrl>());
    EXPECT_FALSE(NSDefaultsUtility::standard().getSaveUserMediaFoldersToScan().has_value());
    NSDefaultsUtility::standard().getSaveUserMediaFoldersToScan(folders);
    NSDefaultsUtility::standard().resetUserMediaFoldersToScan();
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
    EXPECT_EQ(NSDefaultsUtility::standard().getUUID(), "0F8FAD5B-D9CB-469F-A165-70867728950E");
    EXPECT_EQ(NSDefaultsUtility::standard().getUserPickedMediaLibrary(), 3);
    EXPECT_TRUE(NSDefaultsUtility::standard().getDidUserPickMediaLibrary());
    EXPECT_EQ(NSDefaultsUtility::standard().getSongAmountToProcessFromLibrary(), 4321);
    EXPECT_EQ(NSDefaultsUtility::standard().getSaveUserMediaFoldersToScan(),
              QList<QUrl>({QUrl(QStringLiteral("file:///srv/music/")),
                           QUrl(QStringLiteral("file:///mnt/b/"))}));
    EXPECT_EQ(NSDefaultsUtility::standard().getUserDownloadDirectory(), "/srv/incoming");

    // And what this version writes, an earlier one reads under the same keys.
    NSDefaultsUtility::standard().saveDidUserPickMediaLibrary(QStringLiteral("NO"));
    NSDefaultsUtility::standard().saveUserDownloadDirectory(QStringLiteral("/srv/other"));
    NSDefaultsUtility::standard().saveSongAmountToProcessFromLibrary(7);
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
    EXPECT_EQ(NSDefaultsUtility::standard().getUserPickedMediaLibrary(), 0);
    EXPECT_EQ(rawValue(PreferenceKeys::UserPickedMediaLibrary).toString(), "itunes");
    EXPECT_EQ(NSDefaultsUtility::standard().getSongAmountToProcessFromLibrary(), 0);
    EXPECT_FALSE(NSDefaultsUtility::standard().getDidUserPickMediaLibrary());
    EXPECT_FALSE(NSDefaultsUtility::standard().getSaveUserMediaFoldersToScan().has_value());
    EXPECT_EQ(NSDefaultsUtility::standard().getUserDownloadDirectory(),
              NSDefaultsUtility::defaultDownloadDirectory());
}

TEST_F(Preferences, StorageFollowsTheConfiguredFile) {
    NSDefaultsUtility::standard().saveUserPickedMediaLibrary(2);
    QTemporaryDir other;
    NSDefaultsUtility::setStorageFile(other.filePath("prefs.conf"));
    EXPECT_EQ(NSDefaultsUtility::standard().getUserPickedMediaLibrary(), 1);
    NSDefaultsUtility::setStorageFile(dir.filePath("prefs.conf"));
    EXPECT_EQ(NSDefaultsUtility::standard().getUserPickedMediaLibrary(), 2);
}

} // namespace
