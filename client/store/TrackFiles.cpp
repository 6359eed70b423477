#include "TrackFiles.h"

std::optional<FileStamp> stampOf(const Audio &track) {
    if (!track.fileSize || !track.fileModified)
        return std::nullopt;
    return FileStamp{*track.fileSize, *track.fileModified, track.fileDevice.value_or(0),
                     track.fileInode.value_or(0)};
}

void setStamp(Audio &track, const FileStamp &stamp) {
    track.fileSize = stamp.size;
    track.fileModified = stamp.modifiedNs;
    track.fileDevice = stamp.device;
    track.fileInode = stamp.inode;
}

bool isCloudItem(const std::optional<QString> &userMediaID) {
    if (!userMediaID || userMediaID->isEmpty())
        return false;
    bool number = false;
    const qint64 id = userMediaID->toLongLong(&number);
    return !number || id > 0;
}
