// Secrets kept in their own 0600 files beside the database, so that a copy of
// the database alone neither forges addresses nor opens player passwords.
#pragma once

#include <filesystem>
#include <functional>
#include <string>

namespace cloud {

// The key stored at `path` when it holds exactly `size` bytes; otherwise a new
// one from `make` (random when empty), written under a temporary name, flushed
// and renamed into place.
std::string loadKeyFile(const std::filesystem::path &path, std::size_t size,
                        const std::function<std::string()> &make = {});

} // namespace cloud
