// Accounts and libraries for the player-API benchmarks, made before their
// server starts: accounts and player passwords through the server's own
// commands or code, library items straight into its database (far faster
// than uploads, and the same rows). The database is a data folder's SQLite
// file or a PostgreSQL database, named as the server's --database names it.
#pragma once

#include "Store.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace bench {

// The database of a household server's data folder.
inline std::string sqliteOf(const std::filesystem::path &data) {
    return (data / "cloud.sqlite").string();
}

// An account with a player password of its own; `password` is empty when
// either command failed.
struct PlayerAccount {
    std::string email;
    std::string password;
};
PlayerAccount addPlayerAccount(const std::filesystem::path &data, const std::string &email);
// A player password for an account that exists, made in this process with
// the data folder's key (as add-player-password makes it); `password` is
// empty when there is no such account.
PlayerAccount addPlayerPassword(cloud::Store &store, const std::filesystem::path &data,
                                const std::string &email);

// Token credentials of the player API for one request (a fresh salt each
// time, as players send them), asking for JSON answers.
std::string playerAuth(const PlayerAccount &account);

// `count` accounts PREFIX0@bench.example, PREFIX1@… written many to a
// statement, all with the password behind `hash` (made once: a hash per
// account would cost more than everything else). Their IDs, in order.
std::vector<std::int64_t> addAccounts(cloud::Database &db, const std::string &prefix, int count,
                                      const cloud::PasswordHash &hash);
std::string accountEmail(const std::string &prefix, int index);

// `songs` library items in the account over `fileIds` in turn, with names of
// their own (10 an album, 20 an artist), written many to a statement. Call
// indexLibrary() after the last.
void fillLibrary(const std::string &database, const std::string &email,
                 const std::vector<std::int64_t> &fileIds, int songs);
void fillLibrary(cloud::Database &db, std::int64_t userId, const std::vector<std::int64_t> &fileIds,
                 int songs);
void indexLibrary(const std::string &database);

// The stored files' identifiers, in the order of `paths` (found by content).
std::vector<std::int64_t> fileIdsOf(const std::string &database,
                                    const std::vector<std::filesystem::path> &paths);

// The account's song IDs of the player API, in the order the items were made.
std::vector<std::string> songIdsOf(const std::string &database, const std::string &email);

// How `total` songs spread over `accounts` accounts when the first holds
// `first` of them (capped at `total`) and the rest share what is left as
// evenly as can be: the count of each account, in order.
std::vector<int> songsPerAccount(int total, int accounts, int first);

// "HEAD VALUES(?,?),(?,?)…": `rows` groups of `columns` parameters.
std::string multiRowInsert(const std::string &head, int columns, int rows);

} // namespace bench
