#pragma once

#include <QList>
#include <QSettings>
#include <QString>
#include <QUrl>
#include <QVariant>

#include <memory>
#include <optional>

// The per-user preferences, over one settings file. Every write is flushed at
// once. The program's preferences (`standard()`) live in the file that
// `setStorageFile` names, by default the platform's per-user location (tests
// use a temporary folder); an engine of its own may be given preferences over
// a file of its own.
class NSDefaultsUtility {
public:
    // Preferences over `file`; none: over the program's file, wherever
    // `setStorageFile` points it at each use.
    explicit NSDefaultsUtility(QString file = {});
    // The program's preferences.
    static NSDefaultsUtility &standard();
    // Where the program's preferences live; an empty path restores the default.
    static void setStorageFile(const QString &path);
    static QString storageFile();
    // The file these preferences are in.
    QString file() const;
    // A settings object on the file; cheap, one per call.
    std::unique_ptr<QSettings> settings() const;

    // Generic typed access used by owners of single keys. An absent key or a
    // value of the wrong type reads as the neutral value (0, NO, nothing).
    std::optional<QString> text(QLatin1StringView key) const;
    void setText(QLatin1StringView key, const QString &value) const;
    bool boolean(QLatin1StringView key) const;
    void setBoolean(QLatin1StringView key, bool value) const;
    std::optional<double> number(QLatin1StringView key) const;
    void setNumber(QLatin1StringView key, double value) const;
    bool contains(QLatin1StringView key) const;
    void remove(QLatin1StringView key) const;
    void synchronize() const;

    QString getUUID() const;
    int getUserPickedMediaLibrary() const;
    void saveUserPickedMediaLibrary(int library) const;
    bool getDidUserPickMediaLibrary() const;
    void saveDidUserPickMediaLibrary(const QString &yesOrNo) const;
    qint64 getSongAmountToProcessFromLibrary() const;
    void saveSongAmountToProcessFromLibrary(qint64 amount) const;
    // With folders: stores them and answers nothing. Without: the stored list,
    // or nothing when absent or empty.
    std::optional<QList<QUrl>>
    getSaveUserMediaFoldersToScan(const std::optional<QList<QUrl>> &folders = std::nullopt) const;
    void resetUserMediaFoldersToScan() const;
    QString getUserDownloadDirectory() const;
    void saveUserDownloadDirectory(const QString &path) const;
    void resetUserDownloadDirectory() const;

    // The user's Downloads folder.
    static QString defaultDownloadDirectory();

private:
    QString m_file;
};
