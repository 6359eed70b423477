#include "KeyFile.h"

#include "Crypto.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <optional>

namespace cloud {

namespace {

std::string advice(const std::filesystem::path &path, const std::string &ifRemoved) {
    return " It was left as it is. Restore " + path.filename().string() +
           " from a backup of the data folder; or, to do without the old key, remove the file: " +
           ifRemoved + ".";
}

[[noreturn]] void cannotRead(const std::filesystem::path &path, int error,
                             const std::string &ifRemoved) {
    throw KeyFileError("cannot read the key file " + path.string() + ": " + std::strerror(error) +
                       "." + advice(path, ifRemoved));
}

// What the file holds, nullopt when there is none. Anything else that stops
// it being read is an error: a key that is there but unreadable today (a
// secrets folder not mounted yet, a wrong owner) must not be replaced.
std::optional<std::string> readKey(const std::filesystem::path &path, std::size_t size,
                                   const std::string &ifRemoved) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        struct stat entry {};
        if (error != ENOENT)
            cannotRead(path, error, ifRemoved);
        if (::lstat(path.c_str(), &entry) != 0)
            return std::nullopt;
        // A symbolic link to nowhere is a key kept elsewhere that went
        // missing (a secrets folder not mounted yet): not one to make anew.
        throw KeyFileError("the key file " + path.string() +
                           " is a symbolic link to a file that is not there." +
                           advice(path, ifRemoved));
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        const int error = errno;
        ::close(fd);
        cannotRead(path, error, ifRemoved);
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(fd);
        throw KeyFileError("the key file " + path.string() + " is not a regular file." +
                           advice(path, ifRemoved));
    }
    if (static_cast<std::uint64_t>(st.st_size) != size) {
        ::close(fd);
        throw KeyFileError("the key file " + path.string() + " is damaged: it holds " +
                           std::to_string(st.st_size) + " bytes where a key has " +
                           std::to_string(size) + "." + advice(path, ifRemoved));
    }
    std::string key(size, '\0');
    std::size_t got = 0;
    while (got < size) {
        const ssize_t n = ::read(fd, key.data() + got, size - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            const int error = n < 0 ? errno : EIO;
            ::close(fd);
            cannotRead(path, error, ifRemoved);
        }
        got += static_cast<std::size_t>(n);
    }
    ::close(fd);
    return key;
}

// Writes the key under a name of its own and links it to `path`, which fails
// when `path` exists: whoever links first has made the key. False then.
bool placeKey(const std::filesystem::path &path, const std::string &key) {
    std::string part = path.string() + ".new-XXXXXX";
    const int fd = ::mkstemp(part.data());
    if (fd < 0)
        throw KeyFileError("cannot make the key file " + path.string() + ": " +
                           std::strerror(errno));
    const auto fail = [&](int error) {
        ::close(fd);
        ::unlink(part.c_str());
        throw KeyFileError("cannot make the key file " + path.string() + ": " +
                           std::strerror(error));
    };
    // mkstemp makes it 0600 whatever the umask; said again for the reader.
    if (::fchmod(fd, S_IRUSR | S_IWUSR) != 0)
        fail(errno);
    std::size_t written = 0;
    while (written < key.size()) {
        const ssize_t n = ::write(fd, key.data() + written, key.size() - written);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            fail(n < 0 ? errno : EIO);
        written += static_cast<std::size_t>(n);
    }
    if (::fsync(fd) != 0)
        fail(errno);
    ::close(fd);
    const bool linked = ::link(part.c_str(), path.c_str()) == 0;
    const int error = errno;
    ::unlink(part.c_str());
    if (!linked && error != EEXIST)
        throw KeyFileError("cannot make the key file " + path.string() + ": " +
                           std::strerror(error));
    if (linked) {
        // The new name must outlast a power cut as the key's bytes do.
        const int dir = ::open(path.parent_path().empty() ? "." : path.parent_path().c_str(),
                               O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (dir >= 0) {
            ::fsync(dir);
            ::close(dir);
        }
    }
    return linked;
}

} // namespace

std::string loadKeyFile(const std::filesystem::path &path, std::size_t size,
                        const std::string &ifRemoved, const std::function<std::string()> &make) {
    if (auto key = readKey(path, size, ifRemoved))
        return *key;
    const std::string key = make ? make() : crypto::randomBytes(size);
    if (key.size() != size)
        throw KeyFileError("a new key for " + path.string() + " has " + std::to_string(key.size()) +
                           " bytes, not " + std::to_string(size));
    if (placeKey(path, key))
        return key;
    // Another process made it meanwhile: its key is the one.
    if (auto theirs = readKey(path, size, ifRemoved))
        return *theirs;
    throw KeyFileError("the key file " + path.string() + " came and went while it was made");
}

std::string loadKey(const char *variable, const std::filesystem::path &path, std::size_t size,
                    const std::string &ifRemoved, const std::function<std::string()> &make) {
    const char *value = std::getenv(variable);
    if (!value)
        return loadKeyFile(path, size, ifRemoved, make);
    const auto key = crypto::fromHex(value);
    if (!key || key->size() != size)
        throw KeyFileError(std::string(variable) + " must hold " + std::to_string(2 * size) +
                           " hex digits");
    return *key;
}

} // namespace cloud
