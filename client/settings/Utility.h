#pragma once

#include <QByteArray>
#include <QSet>
#include <QString>
#include <QStringList>

#include <optional>

// Stateless path, file and text helpers shared by the scanner, the sync stages
// and the forms.
class Utility {
public:
    // A file URL text ("file:///a/b%20c.mp3") to a plain path; other texts are
    // returned unchanged.
    static QString normalizeFilePath(const QString &fileURL);
    static QString getFileName(const QString &path);
    static QString getFileExtension(const QString &path);
    static QString getFolderNameFromPath(const QString &path);
    static QString getShortenedFolderPath(const QString &path);

    static bool isValidFileExtension(const QString &extension);
    // More than 100 KiB and less than 100 MiB.
    static bool isValidFileSize(const QString &path);
    static bool isValidEmail(const QString &email);
    // Whether the path is one of the files known to repeat a stored track.
    static bool isTrackADuplicate(const QString &path, const QSet<QString> &duplicatePaths);

    // The file name extensions accepted as audio, compared case-sensitively.
    static const QStringList &validExtensions();
    // The minor version of the operating system (10.x: x); 99 until read.
    static int minOSVersion();
    static void setMinOSVersion(int version);
    // The user's home folder, with a trailing "/".
    static QString userDirectory();

    enum class ReadOption { Default, Uncached };
    static std::optional<QByteArray> readFile(const QString &path, bool addDocumentsPath,
                                              ReadOption options = ReadOption::Default);
    static void showAlert(const QString &message);
    static void checkForCrashReports();

    // MD5 of the file's content, 32 lower-case hex digits; "" when unreadable.
    static QString getMD5FromFile(const QString &path);
    // MD5 of the text's UTF-8 bytes up to the first NUL, 32 upper-case hex digits.
    static QString getMD5FromString(const QString &text);
    // The value after "JSESSIONID=" up to the next ";", or nothing.
    static std::optional<QString> getValidJSessionID(const QString &cookie);

    // File size limits of accepted audio files, in bytes.
    static constexpr qint64 MinimumFileSize = 102401;
    static constexpr qint64 MaximumFileSize = 104857600; // exclusive
};
