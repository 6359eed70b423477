#include "BlobStore.h"

#include "Crypto.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <stdexcept>
#include <system_error>
#include <vector>

namespace fs = std::filesystem;

namespace cloud {

namespace {

void syncDirectory(const fs::path &dir) {
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

} // namespace

IncomingFile::IncomingFile(int fd, fs::path path)
    : fd_(fd)
    , path_(std::move(path)) {}

IncomingFile::IncomingFile(IncomingFile &&other) noexcept
    : fd_(other.fd_)
    , path_(std::move(other.path_))
    , size_(other.size_)
    , committed_(other.committed_) {
    other.fd_ = -1;
    other.committed_ = true;
}

IncomingFile::~IncomingFile() {
    if (fd_ >= 0)
        ::close(fd_);
    if (!committed_) {
        std::error_code ec;
        fs::remove(path_, ec);
    }
}

bool IncomingFile::write(const char *data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd_, data, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
        size_ += static_cast<std::uint64_t>(n);
    }
    return true;
}

BlobStore::BlobStore(fs::path dataDir)
    : incoming_(dataDir / "incoming")
    , media_(dataDir / "media") {
    fs::create_directories(incoming_);
    fs::create_directories(media_);
}

IncomingFile BlobStore::create() {
    const fs::path path = incoming_ / (crypto::randomHex(16) + ".part");
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0)
        throw std::system_error(errno, std::generic_category(), "cannot create " + path.string());
    return IncomingFile(fd, path);
}

std::string BlobStore::commit(IncomingFile &file) {
    if (::fsync(file.fd_) != 0 || ::close(file.fd_) != 0) {
        file.fd_ = -1;
        throw std::system_error(errno, std::generic_category(), "cannot flush an upload");
    }
    file.fd_ = -1;
    const std::string rel = crypto::randomHex(16);
    fs::rename(file.path_, media_ / rel);
    file.committed_ = true;
    syncDirectory(media_);
    return rel;
}

std::string BlobStore::importCopy(const fs::path &source) {
    std::ifstream in(source, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + source.string());
    IncomingFile file = create();
    std::vector<char> buffer(1 << 16);
    while (in) {
        in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
        if (!file.write(buffer.data(), static_cast<std::size_t>(in.gcount())))
            throw std::runtime_error("cannot write into the data folder");
    }
    if (in.bad())
        throw std::runtime_error("cannot read " + source.string());
    return commit(file);
}

fs::path BlobStore::pathOf(const std::string &relPath) const {
    return media_ / relPath;
}

void BlobStore::remove(const std::string &relPath) {
    std::error_code ec;
    fs::remove(media_ / relPath, ec);
}

int BlobStore::cleanUp(const std::set<std::string> &referenced) {
    int removed = 0;
    std::error_code ec;
    for (const auto &entry : fs::directory_iterator(incoming_, ec)) {
        if (fs::remove(entry.path(), ec))
            ++removed;
    }
    for (const auto &entry : fs::directory_iterator(media_, ec)) {
        if (!referenced.count(entry.path().filename().string()) && fs::remove(entry.path(), ec))
            ++removed;
    }
    return removed;
}

} // namespace cloud
