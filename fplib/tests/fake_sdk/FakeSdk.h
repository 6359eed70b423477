#pragma once
// Control side of the recognition-engine stand-in used by the libtonemill
// tests: every gnsdk_* call is logged, any call can be made to fail, and the
// responses of a query are trees built by the test.

#include "gnsdk.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace fakesdk {

struct Node;
using NodePtr = std::shared_ptr<Node>;

// A data object: values and children by key, ordinals in insertion order.
struct Node {
    std::vector<std::pair<std::string, std::string>> values;
    std::vector<std::pair<std::string, NodePtr>> children;

    static NodePtr make() { return std::make_shared<Node>(); }
    Node &value(const std::string &key, const std::string &text) {
        values.emplace_back(key, text);
        return *this;
    }
    Node &child(const std::string &key, NodePtr node) {
        children.emplace_back(key, std::move(node));
        return *this;
    }
};

// Everything the library told the engine about one file-info.
struct FileInfoRecord {
    std::string ident;
    std::vector<std::pair<std::string, std::string>> metadata;
    uint32_t sampleRate = 0;
    uint32_t bitsPerSample = 0;
    uint32_t channels = 0;
    std::size_t bytesWritten = 0;
    int writes = 0;
    int16_t firstSample = 0;
    bool fingerprintEnded = false;
    bool removed = false;

    const std::string *find(const std::string &key) const;
};

struct FailRule {
    int nth = 1; // fail the nth call (1-based); 0 fails every call
    gnsdk_error_t code = SDKMGRERR_Unknown;
};

using Responder = std::function<std::vector<NodePtr>(const std::vector<FileInfoRecord> &)>;

struct State {
    std::vector<std::string> calls;
    std::map<std::string, FailRule> failures; // "name" or "name:key"
    std::map<std::string, int> counters;
    std::vector<FileInfoRecord> fileinfos;
    Responder responder; // null: one album per live file-info
    bool callbackOnOwnThread = true;
    std::vector<std::thread::id> callbackThreads;
    gnsdk_error_t completeError = 0;
    std::size_t bytesForCompleteFingerprint = 1;
    bool releaseTextOnFailure = true;
    uint32_t lastQueryFlags = 0;
    std::string logPath;
    int liveGdos = 0;
    int liveStrings = 0;
    int liveUsers = 0;
    int liveQueries = 0;
    int liveLocales = 0;
    int usersCreated = 0;
};

// Resets the stand-in to its defaults.
void reset();
State &state();
void failAt(const std::string &op, int nth = 1, gnsdk_error_t code = SDKMGRERR_Unknown);
// Call names (without arguments) in order.
std::vector<std::string> callNames();
int callCount(const std::string &name);

// The default answer for a file-info: one album, one matched track.
NodePtr defaultResponse(const FileInfoRecord &record);

} // namespace fakesdk
