#pragma once

#include <gnsdk.h>

#include <atomic>
#include <map>
#include <string>
#include <thread>
#include <vector>

namespace recog::testaudio {

// What a result callback saw of one matched track.
struct Match {
    std::string ident, album, title, artist, trackId, tui, number, label, artistId;
};

struct Collected {
    std::vector<std::vector<Match>> responses; // per response, its matched tracks
    std::atomic<int> inFlight{0};
    bool overlapped = false;
    std::thread::id thread;
};

// A result callback that records every response into the Collected its
// callback data points to.
void onResult(void *data, gnsdk_musicidfile_query_handle_t, gnsdk_gdo_handle_t response,
              gnsdk_uint32_t, gnsdk_uint32_t, gnsdk_bool_t *abort);

struct FileInput {
    std::string ident;
    std::vector<int16_t> pcm; // stereo 44.1 kHz; empty: no fingerprint
    std::map<std::string, std::string> tags;
    uint32_t rate = 44100; // a higher rate plays the recording faster
};

} // namespace recog::testaudio
