// Accounts and libraries for the player-API benchmarks, made in a data folder
// before its server starts: accounts and player passwords through the
// server's own commands, library items straight into its database (far
// faster than uploads, and the same rows).
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace bench {

// An account with a player password of its own; `password` is empty when
// either command failed.
struct PlayerAccount {
    std::string email;
    std::string password;
};
PlayerAccount addPlayerAccount(const std::filesystem::path &data, const std::string &email);

// Token credentials of the player API for one request (a fresh salt each
// time, as players send them), asking for JSON answers.
std::string playerAuth(const PlayerAccount &account);

// The stored files' identifiers, in the order of `paths` (found by content).
std::vector<std::int64_t> fileIdsOf(const std::filesystem::path &data,
                                    const std::vector<std::filesystem::path> &paths);

// `songs` library items in the account over `fileIds` in turn, with names of
// their own (10 an album, 20 an artist). Call indexLibrary() after the last.
void fillLibrary(const std::filesystem::path &data, const std::string &email,
                 const std::vector<std::int64_t> &fileIds, int songs);
void indexLibrary(const std::filesystem::path &data);

// The account's song IDs of the player API, in the order the items were made.
std::vector<std::string> songIdsOf(const std::filesystem::path &data, const std::string &email);

} // namespace bench
