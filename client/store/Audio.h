#pragma once

#include <QDateTime>
#include <QString>

#include <memory>
#include <optional>

// One track, local or cloud. The same type serves both states of a record:
// detached (built by the scanner, the recognition stage, the listing parser or
// the download stage; objectID 0) and stored (read from or written to the
// store; objectID is its row). Every field may be absent.
struct Audio {
    qint64 objectID = 0;
    bool isStored() const { return objectID != 0; }

    // Common to every track-like record.
    std::optional<QString> userMediaID; // "-1": known, not yet given an identifier
    std::optional<QString> name;

    std::optional<QString> checksum; // MD5, 32 lower-case hex digits
    std::optional<qint64> downloaded;
    std::optional<qint64> duration;
    std::optional<QString> durationTime;
    std::optional<bool> encrypted;
    std::optional<QString> fileURL; // plain absolute path
    std::optional<QString> fileExtension;
    std::optional<QString> fingerPrintID; // "-1" when there is none
    std::optional<bool> markedForDeletion;
    std::optional<qint64> partiallyDownloaded;
    std::optional<qint64> retries;
    std::optional<qint64> sequence;
    std::optional<QString> songName;
    std::optional<qint64> synced;
    std::optional<QString> artist;
    std::optional<QString> album;
    std::optional<QString> releaseYear;
    std::optional<bool> downloadable;
    std::optional<QDateTime> modDate;
    // Set by this client: the file was uploaded by it (not matched from the
    // catalogue), and why the last attempt to upload the track failed
    // (absent once it went through).
    std::optional<bool> uploaded;
    std::optional<QString> failureReason;
    // The file as it was when its checksum was taken: size, modification
    // time (nanoseconds since the epoch), device and inode. A scan reads the
    // file again when its size or time no longer match.
    std::optional<qint64> fileSize;
    std::optional<qint64> fileModified;
    std::optional<qint64> fileDevice;
    std::optional<qint64> fileInode;
    // The cloud item of the version this track replaced, still to be retired
    // once this track has an item of its own.
    std::optional<QString> replaces;

    // In memory only: the stored track this new version of a file takes the
    // place of (its row), removed when this one is stored.
    qint64 previousObjectID = 0;

    bool operator==(const Audio &) const = default;
};

// Lists hold tracks by reference, so that a stage that fills in a record sees
// the change wherever the record is listed.
using AudioPtr = std::shared_ptr<Audio>;
