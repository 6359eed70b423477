#pragma once

#include <QHash>
#include <QJsonObject>
#include <QString>

#include <optional>

// What the recognition library said about files a sync preview identified
// (the file's digest and candidates, the library's own result object), kept
// in a file beside the store so that the sync that follows does not decode
// and fingerprint them again. An entry holds only while its file has the
// size and modification time it had then. Used on the stage thread only.
class IdentificationCache {
public:
    // Reads `file` (a missing or damaged file is an empty cache).
    void open(const QString &file);
    // The kept result of the file at `path`, when the file is unchanged.
    std::optional<QJsonObject> find(const QString &path) const;
    void keep(const QString &path, const QJsonObject &result);
    void forget(const QString &path);
    qsizetype size() const { return m_entries.size(); }
    // Writes the entries when they changed since open(); false when the file
    // could not be written (logged).
    bool save();

    // The cache of the store in `folder`.
    static QString fileIn(const QString &folder);

private:
    struct Entry {
        qint64 size = -1;
        qint64 modified = 0; // ms since the epoch
        QJsonObject result;
    };
    static std::optional<Entry> stamp(const QString &path);

    QString m_file;
    QHash<QString, Entry> m_entries;
    bool m_changed = false;
};
