// The data folder's file area. Incoming bytes go to incoming/ under a random
// name and move into media/ only once they are complete and flushed, so a
// killed server never leaves a partial file where a finished one is expected.
#pragma once

#include <cstdint>
#include <filesystem>
#include <set>
#include <string>

namespace cloud {

class IncomingFile {
public:
    IncomingFile(IncomingFile &&other) noexcept;
    IncomingFile &operator=(IncomingFile &&) = delete;
    IncomingFile(const IncomingFile &) = delete;
    ~IncomingFile(); // removes the file unless it was committed

    bool write(const char *data, std::size_t size);
    std::uint64_t size() const { return size_; }
    const std::filesystem::path &path() const { return path_; }

private:
    friend class BlobStore;
    IncomingFile(int fd, std::filesystem::path path);
    int fd_ = -1;
    std::filesystem::path path_;
    std::uint64_t size_ = 0;
    bool committed_ = false;
};

class BlobStore {
public:
    explicit BlobStore(std::filesystem::path dataDir);

    IncomingFile create();
    // Flushes the file and moves it into media/; returns its path below media/.
    std::string commit(IncomingFile &file);
    // Copies an existing file into media/ the same safe way (used by import).
    std::string importCopy(const std::filesystem::path &source);
    std::filesystem::path pathOf(const std::string &relPath) const;
    void remove(const std::string &relPath);

    // Start-up clean-up: drops every unfinished incoming file and every stored
    // file that no record refers to (a crash between moving and recording).
    // Returns how many files were removed.
    int cleanUp(const std::set<std::string> &referenced);

private:
    std::filesystem::path incoming_;
    std::filesystem::path media_;
};

} // namespace cloud
