#pragma once

#include "Audio.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QtGlobal>

#include <optional>

// What tells that a file's bytes are as they were when they were read: a
// write moves its size or its modification time; its device and inode stay
// with the file through a rename, and change when a program writes a new
// file in its place.
struct FileStamp {
    qint64 size = 0;
    qint64 modifiedNs = 0;
    qint64 device = 0;
    qint64 inode = 0;

    // The bytes may have changed. Device and inode are left out: a file
    // copied back from a backup is the same music.
    bool contentDiffers(const FileStamp &other) const {
        return size != other.size || modifiedNs != other.modifiedNs;
    }
    bool sameFile(const FileStamp &other) const {
        return device == other.device && inode == other.inode;
    }
    bool operator==(const FileStamp &) const = default;
};

// The stamp a stored track carries; none for a track stored before stamps
// were kept, or made by a download.
std::optional<FileStamp> stampOf(const Audio &track);
void setStamp(Audio &track, const FileStamp &stamp);

// A stored track as a scan compares it with the files it finds.
struct StoredFile {
    qint64 objectID = 0;
    QString path;
    QString checksum;
    QString userMediaID;
    QString fingerPrintID;
    std::optional<FileStamp> stamp;
};

// A file known to hold the bytes of a stored track at another path.
struct KnownDuplicate {
    QString checksum;
    FileStamp stamp;
};

// Whether a userMediaID names an item of the cloud ("-1" and "0" do not).
bool isCloudItem(const std::optional<QString> &userMediaID);
