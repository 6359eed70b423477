#include "FileMetadata.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

extern "C" {
#include <libavutil/dict.h>
}

void FileMetadata::setNulls() {
    artist = nullptr;
    album = nullptr;
    track = nullptr;
    title = nullptr;
}

void FileMetadata::clear() {
    std::free(artist);
    std::free(album);
    std::free(track);
    std::free(title);
    setNulls();
}

char *copyTagValueIfNotNull(const AVDictionaryEntry *entry) {
    if (entry == nullptr || entry->value == nullptr) {
        return nullptr;
    }
    return strdup(entry->value);
}

void FileMetadata::parseMetadata(const AVDictionary *dictionary) {
    // av_dict_get's default matching ignores letter case.
    const AVDictionaryEntry *artistEntry = av_dict_get(dictionary, "artist", nullptr, 0);
    const AVDictionaryEntry *albumArtistEntry = av_dict_get(dictionary, "album_artist", nullptr, 0);
    const AVDictionaryEntry *albumEntry = av_dict_get(dictionary, "album", nullptr, 0);
    const AVDictionaryEntry *trackEntry = av_dict_get(dictionary, "track", nullptr, 0);
    const AVDictionaryEntry *titleEntry = av_dict_get(dictionary, "title", nullptr, 0);
    clear();
    artist = copyTagValueIfNotNull(artistEntry);
    if (artist == nullptr) {
        artist = copyTagValueIfNotNull(albumArtistEntry);
    }
    album = copyTagValueIfNotNull(albumEntry);
    track = copyTagValueIfNotNull(trackEntry);
    title = copyTagValueIfNotNull(titleEntry);
}

void applyMetadataToFileInfoIfNotNull(gnsdk_musicidfile_fileinfo_handle_t fileinfo, const char *key,
                                      const char *value) {
    if (value == nullptr) {
        return;
    }
    if (gnsdk_musicidfile_fileinfo_metadata_set(fileinfo, key, value) != GNSDK_SUCCESS) {
        std::printf("Can't set metadata for key '%s' with value '%s'.\n", key, value);
    }
}

void FileMetadata::applyMetadataToFileInfo(gnsdk_musicidfile_fileinfo_handle_t fileinfo) const {
    applyMetadataToFileInfoIfNotNull(fileinfo, GNSDK_MUSICIDFILE_FILEINFO_VALUE_ALBUMARTIST,
                                     artist);
    applyMetadataToFileInfoIfNotNull(fileinfo, GNSDK_MUSICIDFILE_FILEINFO_VALUE_ALBUMTITLE, album);
    applyMetadataToFileInfoIfNotNull(fileinfo, GNSDK_MUSICIDFILE_FILEINFO_VALUE_TRACKNUMBER, track);
    applyMetadataToFileInfoIfNotNull(fileinfo, GNSDK_MUSICIDFILE_FILEINFO_VALUE_TRACKTITLE, title);
}
