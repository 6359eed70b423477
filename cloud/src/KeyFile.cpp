#include "KeyFile.h"

#include "Crypto.h"

#include <fcntl.h>
#include <unistd.h>

#include <fstream>
#include <stdexcept>

namespace cloud {

std::string loadKeyFile(const std::filesystem::path &path, std::size_t size,
                        const std::function<std::string()> &make) {
    if (std::ifstream in{path, std::ios::binary}) {
        std::string key((std::istreambuf_iterator<char>(in)), {});
        if (key.size() == size)
            return key;
    }
    const std::string key = make ? make() : crypto::randomBytes(size);
    std::filesystem::path part = path;
    part += ".part";
    const int fd = ::open(part.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0 || ::write(fd, key.data(), key.size()) != static_cast<ssize_t>(key.size()) ||
        ::fsync(fd) != 0) {
        if (fd >= 0)
            ::close(fd);
        throw std::runtime_error("cannot write " + path.string());
    }
    ::close(fd);
    std::filesystem::rename(part, path);
    return key;
}

} // namespace cloud
