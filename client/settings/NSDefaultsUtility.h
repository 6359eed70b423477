#pragma once

#include <QList>
#include <QSettings>
#include <QString>
#include <QUrl>
#include <QVariant>

#include <memory>
#include <optional>

// The per-user preferences. Every write is flushed at once. The storage file
// defaults to the platform's per-user location and can be pointed elsewhere
// (tests use a temporary folder).
class NSDefaultsUtility {
public:
    // Where the preferences live; an empty path restores the default.
    static void setStorageFile(const QString &path);
    static QString storageFile();
    // A settings object on the current storage; cheap, one per call.
    static std::unique_ptr<QSettings> settings();

    // Generic typed access used by owners of single keys. An absent key or a
    // value of the wrong type reads as the neutral value (0, NO, nothing).
    static std::optional<QString> text(QLatin1StringView key);
    static void setText(QLatin1StringView key, const QString &value);
    static bool boolean(QLatin1StringView key);
    static void setBoolean(QLatin1StringView key, bool value);
    static std::optional<double> number(QLatin1StringView key);
    static void setNumber(QLatin1StringView key, double value);
    static bool contains(QLatin1StringView key);
    static void remove(QLatin1StringView key);
    static void synchronize();

    static QString getUUID();
    static int getUserPickedMediaLibrary();
    static void saveUserPickedMediaLibrary(int library);
    static bool getDidUserPickMediaLibrary();
    static void saveDidUserPickMediaLibrary(const QString &yesOrNo);
    static qint64 getSongAmountToProcessFromLibrary();
    static void saveSongAmountToProcessFromLibrary(qint64 amount);
    // With folders: stores them and answers nothing. Without: the stored list,
    // or nothing when absent or empty.
    static std::optional<QList<QUrl>>
    getSaveUserMediaFoldersToScan(const std::optional<QList<QUrl>> &folders = std::nullopt);
    static void resetUserMediaFoldersToScan();
    static QString getUserDownloadDirectory();
    static void saveUserDownloadDirectory(const QString &path);
    static void resetUserDownloadDirectory();

    // The user's Downloads folder.
    static QString defaultDownloadDirectory();
};
