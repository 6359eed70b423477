// The desktop load of cloud_load, apart from the server it runs against, so
// that the same load can go to one household server or through a balancer
// to servers that share a database and a bucket (cloud_scaled balanced).
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace bench {

struct LoadOptions {
    int clients = 50;
    int seconds = 30;
    int fileMb = 5;
    int curlFiles = 10;
    int slowClients = 0;
};

// Reads --clients, --seconds, --file-mb, --curl-files and --slow-clients
// from argv[first…], leaving other options alone.
LoadOptions loadOptionsFrom(int argc, char **argv, int first = 1);

// The accounts (one per client and a spare) and a catalogue of 8 songs,
// made by the server's commands on `backendArgs` (--data DIR, and the
// database and bucket of a scaled back end). The catalogue's checksums.
std::vector<std::string> setUpLoad(const LoadOptions &o, const std::filesystem::path &work,
                                   const std::vector<std::string> &backendArgs);

// What the load uploads: audio the server accepts, an MP3 (white noise at
// 320 kbit/s) of about `mib` MiB made by ffmpeg in `work`; empty when
// ffmpeg failed.
std::string audioPayload(const std::filesystem::path &work, int mib);
// Makes `content` new bytes, which the server stores anew, while it stays
// the same audio: `stamp` is written over its middle, the coded sound of one
// frame, far from the headers the server reads to accept it.
void stampAudio(std::string &content, const std::string &stamp);

// The clients against 127.0.0.1:`port`, the check of every confirmed upload
// and the single-stream comparison with curl; prints the tables. 0 when no
// request failed and no upload was lost.
int runLoad(const LoadOptions &o, int port, const std::filesystem::path &work,
            const std::vector<std::string> &catalogue);

} // namespace bench
