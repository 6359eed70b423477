// The data folder's own file area, as a household server has always kept it:
// incoming bytes go to incoming/<random>.part and move into media/<random>
// once they are complete and flushed.
#pragma once

#include "ObjectStore.h"

#include <filesystem>

namespace cloud::objects {

// A local file read with pread: the folder's objects, an upload's local
// copy, and files given by path.
class FileReader : public ObjectReader {
public:
    // Takes the descriptor.
    FileReader(int fd, std::uint64_t size);
    ~FileReader() override;
    FileReader(const FileReader &) = delete;
    FileReader &operator=(const FileReader &) = delete;

    // Null when the file cannot be opened.
    static std::unique_ptr<FileReader> open(const std::filesystem::path &path);

    std::uint64_t size() const override { return size_; }
    long read(std::uint64_t offset, char *out, std::size_t max) override;
    int fileDescriptor() const override { return fd_; }

private:
    int fd_;
    std::uint64_t size_;
};

class FolderStore : public ObjectStore {
public:
    explicit FolderStore(const std::filesystem::path &dataDir);

    std::unique_ptr<IncomingObject> createAt(const std::string &key) override;
    std::unique_ptr<ObjectReader> open(const std::string &key) override;
    std::optional<std::uint64_t> size(const std::string &key) override;
    void remove(const std::string &key) override;
    void list(const std::function<void(const ObjectEntry &)> &each) override;
    void abandon(const ObjectEntry &unfinished) override;
    void checkReady() override;
    bool isLocal() const override { return true; }
    std::string describe() const override;

private:
    // The file of a key, or an empty path for a key that is no plain name.
    std::filesystem::path mediaPath(const std::string &key) const;

    std::filesystem::path incoming_;
    std::filesystem::path media_;
};

} // namespace cloud::objects
