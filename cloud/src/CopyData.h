// Moving a household server (a data folder: its SQLite file, its stored
// files and its keys) to where servers share a database and an object store.
// Everything is copied under the same IDs and keys, so that signed-in
// desktops, their positions in the change listing and the players' IDs stay
// valid; run again, it copies only what is missing and checks everything.
#pragma once

#include "Database.h"
#include "objects/ObjectStore.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

namespace cloud {

struct CopyTarget {
    Database &database;
    objects::ObjectStore &objects;
    std::filesystem::path dataDir; // where the destination's servers read their keys
};

struct CopyReport {
    int filesCopied = 0;
    int filesPresent = 0; // at the destination already, and checked
    std::uint64_t bytesCopied = 0;
    std::int64_t rowsCopied = 0; // rows the destination lacked
};

// Copies the data folder `fromData` into `to`, checking every stored file's
// digest at the destination before any record names it there. `progress`
// gets a line now and then. Throws std::runtime_error when something cannot
// be copied; what was copied stays, and the next run goes on from there.
CopyReport copyDataFolder(const std::filesystem::path &fromData, const CopyTarget &to,
                          const std::function<void(const std::string &)> &progress);

} // namespace cloud
