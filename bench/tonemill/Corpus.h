#pragma once

#include <string>
#include <vector>

// The benchmark corpus: tracks of 3 to 6 minutes in MP3, M4A, FLAC, OGG and
// WAV, in albums of ten, made once with ffmpeg and kept in a folder.
struct Corpus {
    std::vector<std::string> files;               // in album order
    std::vector<std::vector<std::string>> albums; // groups of ten

    // Makes the missing files of a corpus of `count` tracks in `folder`.
    static bool make(const std::string &folder, int count, Corpus &out);
};
