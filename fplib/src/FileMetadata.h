#pragma once

#include "gnsdk.h"

struct AVDictionary;
struct AVDictionaryEntry;

// The tags of one audio file that are handed to the recognition engine.
class FileMetadata {
public:
    FileMetadata() { setNulls(); }
    ~FileMetadata() { clear(); }
    FileMetadata(const FileMetadata &) = delete;
    FileMetadata &operator=(const FileMetadata &) = delete;

    void setNulls();
    void clear();
    // Reads artist (falling back to album_artist), album, track and title.
    void parseMetadata(const AVDictionary *dictionary);
    // Sets every known tag on the file-info; a failed set is reported and the
    // next tag is still tried.
    void applyMetadataToFileInfo(gnsdk_musicidfile_fileinfo_handle_t fileinfo) const;

    char *artist;
    char *album;
    char *track;
    char *title;
};

char *copyTagValueIfNotNull(const AVDictionaryEntry *entry);
void applyMetadataToFileInfoIfNotNull(gnsdk_musicidfile_fileinfo_handle_t fileinfo, const char *key,
                                      const char *value);
