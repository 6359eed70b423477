#pragma once

#include <QString>

#include <memory>
#include <optional>

// A second track-like record kept in the store's model. Nothing in the client
// creates or reads it today; the table exists so that stores written by other
// versions keep their data.
struct Media {
    qint64 objectID = 0;
    bool isStored() const { return objectID != 0; }

    std::optional<QString> userMediaID;
    std::optional<QString> name;
    std::optional<qint64> duration;
    std::optional<qint64> synced;
    std::optional<qint64> downloaded;
    std::optional<qint64> downloadBlocked;
    std::optional<qint64> partiallyDownloaded;
    std::optional<qint64> retries;
    std::optional<qint64> plays;
    std::optional<qint64> encrypted;
    std::optional<QString> durationTime;
    // In memory only, never stored; cleared before every save.
    std::optional<qint64> previousSyncStatus;

    // Defaults applied when a record is inserted without a `downloaded` value.
    void awakeFromInsert() {
        if (!downloaded) {
            downloaded = 0;
            downloadBlocked = 0;
            partiallyDownloaded = 0;
            encrypted = 0;
            retries = 0;
        }
    }
    void willSave() { previousSyncStatus.reset(); }
    std::optional<QString> type() const { return std::nullopt; }
};

using MediaPtr = std::shared_ptr<Media>;
