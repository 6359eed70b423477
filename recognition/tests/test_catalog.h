#pragma once

#include "catalog_writer.h"

#include <filesystem>
#include <string>
#include <vector>

namespace recog::testaudio {

// A temporary folder removed with the object.
class TempDir {
public:
    TempDir();
    ~TempDir();
    const std::filesystem::path &path() const { return path_; }
    std::string file(const std::string &name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

// Generated stereo 44.1 kHz song `seed` of `seconds`.
std::vector<int16_t> song(uint32_t seed, double seconds);
std::vector<uint32_t> fingerprintOf(const std::vector<int16_t> &stereo, int rate = 44100);

struct TestTrack {
    uint32_t seed;
    std::string title;
    std::string artist;
    std::string album;
    int number;
};

// A catalogue of generated songs (25 s each) at `path`.
void buildCatalog(const std::string &path, const std::vector<TestTrack> &tracks);

} // namespace recog::testaudio
