#include "FolderStore.h"

#include "Crypto.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace fs = std::filesystem;

namespace cloud::objects {

namespace {

void syncDirectory(const fs::path &dir) {
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

std::chrono::system_clock::time_point modifiedAt(const struct stat &st) {
    return std::chrono::system_clock::time_point(
        std::chrono::duration_cast<std::chrono::system_clock::duration>(
            std::chrono::seconds(st.st_mtim.tv_sec) +
            std::chrono::nanoseconds(st.st_mtim.tv_nsec)));
}

class IncomingFile : public IncomingObject {
public:
    IncomingFile(int fd, fs::path path, fs::path target)
        : fd_(fd)
        , path_(std::move(path))
        , target_(std::move(target)) {}
    IncomingFile(const IncomingFile &) = delete;
    IncomingFile &operator=(const IncomingFile &) = delete;

    ~IncomingFile() override {
        if (fd_ >= 0)
            ::close(fd_);
        if (!committed_) {
            std::error_code ec;
            fs::remove(path_, ec);
        }
    }

    bool write(const char *data, std::size_t size) override {
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

    std::uint64_t size() const override { return size_; }

    std::unique_ptr<ObjectReader> readBack() override { return FileReader::open(path_); }

    std::string commitObject(const std::string &) override {
        const bool flushed = ::fsync(fd_) == 0;
        const int error = errno;
        const bool closed = ::close(fd_) == 0;
        fd_ = -1;
        if (!flushed || !closed)
            throw ObjectError(
                std::error_code(flushed ? errno : error, std::generic_category()).message() +
                ": cannot flush an incoming file");
        std::error_code ec;
        fs::rename(path_, target_, ec);
        if (ec)
            throw ObjectError("cannot store an incoming file: " + ec.message());
        committed_ = true;
        syncDirectory(target_.parent_path());
        return target_.filename().string();
    }

private:
    int fd_;
    fs::path path_;
    fs::path target_;
    std::uint64_t size_ = 0;
    bool committed_ = false;
};

} // namespace

FileReader::FileReader(int fd, std::uint64_t size)
    : fd_(fd)
    , size_(size) {}

FileReader::~FileReader() {
    if (fd_ >= 0)
        ::close(fd_);
}

std::unique_ptr<FileReader> FileReader::open(const fs::path &path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return nullptr;
    }
    return std::make_unique<FileReader>(fd, static_cast<std::uint64_t>(st.st_size));
}

long FileReader::read(std::uint64_t offset, char *out, std::size_t max) {
    if (offset >= size_)
        return 0;
    for (;;) {
        const ssize_t n = ::pread(fd_, out, max, static_cast<off_t>(offset));
        if (n >= 0)
            return static_cast<long>(n);
        if (errno != EINTR)
            return -1;
    }
}

FolderStore::FolderStore(const fs::path &dataDir)
    : incoming_(dataDir / "incoming")
    , media_(dataDir / "media") {
    fs::create_directories(incoming_);
    fs::create_directories(media_);
}

std::unique_ptr<IncomingObject> FolderStore::createAt(const std::string &key) {
    const fs::path target = mediaPath(key);
    if (target.empty())
        throw ObjectError("not a stored file's name: " + key);
    const fs::path path = incoming_ / (crypto::randomHex(16) + ".part");
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0)
        throw ObjectError(std::error_code(errno, std::generic_category()).message() +
                          ": cannot create " + path.string());
    return std::make_unique<IncomingFile>(fd, path, target);
}

fs::path FolderStore::mediaPath(const std::string &key) const {
    if (key.empty() || key == "." || key == ".." || key.find('/') != std::string::npos ||
        key.find('\0') != std::string::npos)
        return {};
    return media_ / key;
}

std::unique_ptr<ObjectReader> FolderStore::open(const std::string &key) {
    const fs::path path = mediaPath(key);
    return path.empty() ? nullptr : FileReader::open(path);
}

std::optional<std::uint64_t> FolderStore::size(const std::string &key) {
    const fs::path path = mediaPath(key);
    std::error_code ec;
    const auto size = path.empty() ? 0 : fs::file_size(path, ec);
    if (path.empty() || ec)
        return std::nullopt;
    return size;
}

void FolderStore::remove(const std::string &key) {
    const fs::path path = mediaPath(key);
    std::error_code ec;
    if (!path.empty())
        fs::remove(path, ec);
}

void FolderStore::list(const std::function<void(const ObjectEntry &)> &each) {
    for (const auto &[dir, unfinished] : {std::pair{incoming_, true}, std::pair{media_, false}}) {
        std::error_code ec;
        for (const auto &file : fs::directory_iterator(dir, ec)) {
            struct stat st {};
            if (::lstat(file.path().c_str(), &st) != 0)
                continue;
            ObjectEntry entry;
            entry.key = file.path().filename().string();
            entry.size = static_cast<std::uint64_t>(st.st_size);
            entry.modified = modifiedAt(st);
            entry.unfinished = unfinished;
            each(entry);
        }
    }
}

void FolderStore::abandon(const ObjectEntry &unfinished) {
    if (unfinished.key.find('/') != std::string::npos || unfinished.key.empty() ||
        unfinished.key == "..")
        return;
    std::error_code ec;
    fs::remove(incoming_ / unfinished.key, ec);
}

void FolderStore::checkReady() {
    // Uploads are written into incoming/ and moved into media/: both must take files.
    for (const fs::path &dir : {incoming_, media_}) {
        std::error_code ec;
        if (!fs::is_directory(dir, ec))
            throw ObjectError("the folder " + dir.string() + " is missing");
        if (::access(dir.c_str(), W_OK | X_OK) != 0)
            throw ObjectError(std::error_code(errno, std::generic_category()).message() +
                              ": the folder " + dir.string() + " takes no files");
    }
}

std::string FolderStore::describe() const {
    return "the folder " + media_.string();
}

} // namespace cloud::objects
