// Secrets kept in their own 0600 files beside the database, so that a copy of
// the database alone neither forges addresses nor opens player passwords.
#pragma once

#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>

namespace cloud {

// A key file that exists but cannot be used: the server must not start, and
// must not replace it, for what was sealed with it would be lost for good.
class KeyFileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The key stored at `path`, which must hold exactly `size` bytes. A missing
// file is made with a key from `make` (random when empty): written under a
// name of its own, flushed, then linked into place, so that two processes
// starting at once agree on one key and an existing file is never replaced.
// A file of another size, or one that cannot be read, throws KeyFileError
// naming the file; `ifRemoved` says what removing it would cost the operator.
std::string loadKeyFile(const std::filesystem::path &path, std::size_t size,
                        const std::string &ifRemoved,
                        const std::function<std::string()> &make = {});

// The key in the environment variable `variable`, as 2 × `size` hex digits,
// when it is set (several machines then share one key without a file to
// copy); else loadKeyFile(). A variable that holds no such key throws
// KeyFileError naming it, never its value.
std::string loadKey(const char *variable, const std::filesystem::path &path, std::size_t size,
                    const std::string &ifRemoved, const std::function<std::string()> &make = {});

} // namespace cloud
