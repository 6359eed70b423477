#include "BenchLibrary.h"

#include "BenchServer.h"
#include "Crypto.h"
#include "Database.h"
#include "PlayerSecrets.h"

#include <algorithm>
#include <random>
#include <regex>

namespace fs = std::filesystem;

namespace bench {

namespace {

// Rows a multi-row statement takes: well within SQLite's 32,766 variables and
// PostgreSQL's 65,535 parameters at any width used here.
constexpr int kRowsPerStatement = 500;

std::int64_t userIdOf(cloud::Database &db, const std::string &email) {
    cloud::Statement q(db, "SELECT id FROM users WHERE email = ?");
    q.bind(1, email);
    return q.step() ? q.integer(0) : 0;
}

} // namespace

PlayerAccount addPlayerAccount(const fs::path &data, const std::string &email) {
    const std::string bin = SONARBOX_CLOUD_BINARY;
    // The lowest cost the server accepts: the benchmarks never sign in with it.
    run(bin + " add-user --pbkdf2-iterations 100000 --data '" + data.string() + "' '" + email +
        "' 'bench password'");
    const std::string made =
        run(bin + " add-player-password --data '" + data.string() + "' '" + email + "' bench");
    std::smatch m;
    if (!std::regex_search(made, m, std::regex("password: ([0-9a-f]+)")))
        return {email, ""};
    return {email, m[1]};
}

PlayerAccount addPlayerPassword(cloud::Store &store, const fs::path &data,
                                const std::string &email) {
    const auto user = store.findUserByEmail(email);
    if (!user)
        return {email, ""};
    const auto made =
        cloud::createPlayerPassword(store, cloud::PlayerSecrets::load(data), user->id, "bench");
    return {email, made ? made->password : ""};
}

std::string playerAuth(const PlayerAccount &account) {
    const std::string salt = cloud::crypto::randomHex(6);
    cloud::crypto::Md5 md5;
    const std::string text = account.password + salt;
    md5.update(text.data(), text.size());
    std::string user;
    for (const char c : account.email)
        user += c == '@' ? std::string("%40") : std::string(1, c);
    return "u=" + user + "&t=" + md5.finalHex() + "&s=" + salt + "&v=1.16.1&c=bench&f=json";
}

std::string multiRowInsert(const std::string &head, int columns, int rows) {
    std::string group = "(";
    for (int c = 0; c < columns; ++c)
        group.append(c == 0 ? "?" : ",?");
    group.append(")");
    std::string sql = head;
    sql.append(" VALUES");
    for (int r = 0; r < rows; ++r)
        sql.append(r == 0 ? "" : ",").append(group);
    return sql;
}

std::string accountEmail(const std::string &prefix, int index) {
    return prefix + std::to_string(index) + "@bench.example";
}

std::vector<std::int64_t> addAccounts(cloud::Database &db, const std::string &prefix, int count,
                                      const cloud::PasswordHash &hash) {
    const std::int64_t now = cloud::nowMs();
    for (int first = 0; first < count; first += kRowsPerStatement) {
        const int rows = std::min(kRowsPerStatement, count - first);
        cloud::Statement q(db, multiRowInsert("INSERT INTO users(email, pw_salt, pw_hash, "
                                              "pw_iterations, desktop_registered, created_ms)",
                                              6, rows));
        int p = 1;
        for (int i = first; i < first + rows; ++i) {
            q.bind(p, accountEmail(prefix, i))
                .bindBlob(p + 1, hash.salt)
                .bindBlob(p + 2, hash.hash)
                .bind(p + 3, hash.iterations)
                .bind(p + 4, 1)
                .bind(p + 5, now);
            p += 6;
        }
        q.run();
    }
    std::vector<std::int64_t> ids;
    for (int i = 0; i < count; ++i)
        ids.push_back(userIdOf(db, accountEmail(prefix, i)));
    return ids;
}

void fillLibrary(cloud::Database &db, std::int64_t userId, const std::vector<std::int64_t> &fileIds,
                 int songs) {
    std::mt19937 rng(7);
    const char *words[] = {"blue",  "night", "river", "light", "stone",  "glass", "fire",
                           "north", "dream", "echo",  "storm", "velvet", "iron",  "paper"};
    for (int first = 0; first < songs; first += kRowsPerStatement) {
        const int rows = std::min(kRowsPerStatement, songs - first);
        cloud::Statement q(db, multiRowInsert("INSERT INTO user_media(user_id, file_id, name, "
                                              "song_name, album_name, artist_name, checksum, "
                                              "sequence, position)",
                                              9, rows));
        int p = 1;
        for (int i = first; i < first + rows; ++i) {
            const int artist = i / 20;
            const int album = i / 10;
            std::string title = words[rng() % 14];
            title.append(" ").append(words[rng() % 14]).append(" ").append(std::to_string(i));
            q.bind(p, userId)
                .bind(p + 1, fileIds[static_cast<std::size_t>(i) % fileIds.size()])
                .bind(p + 2, "song" + std::to_string(i) + ".mp3")
                .bind(p + 3, title)
                .bind(p + 4, std::string(words[album % 14]) + " album " + std::to_string(album))
                .bind(p + 5, "Artist " + std::to_string(artist))
                .bind(p + 6, cloud::crypto::randomHex(16))
                .bind(p + 7, i % 10 + 1)
                .bind(p + 8, std::int64_t{1000000} + i);
            p += 9;
        }
        q.run();
    }
}

void fillLibrary(const std::string &database, const std::string &email,
                 const std::vector<std::int64_t> &fileIds, int songs) {
    cloud::Database db(database);
    const std::int64_t userId = userIdOf(db, email);
    cloud::Transaction tx(db);
    fillLibrary(db, userId, fileIds, songs);
    tx.commit();
}

void indexLibrary(const std::string &database) {
    cloud::Store store(database);
    store.indexLibrary();
}

std::vector<std::int64_t> fileIdsOf(const std::string &database,
                                    const std::vector<fs::path> &paths) {
    cloud::Database db(database);
    std::vector<std::int64_t> ids;
    for (const auto &path : paths) {
        cloud::Statement q(db, "SELECT id FROM files WHERE md5 = ?");
        q.bind(1, cloud::crypto::md5OfFile(path.string()));
        ids.push_back(q.step() ? q.integer(0) : 0);
    }
    return ids;
}

std::vector<std::string> songIdsOf(const std::string &database, const std::string &email) {
    cloud::Database db(database);
    const std::int64_t userId = userIdOf(db, email);
    cloud::Statement q(db, "SELECT song_id FROM library_songs WHERE user_id = ? ORDER BY media_id");
    q.bind(1, userId);
    std::vector<std::string> ids;
    while (q.step())
        ids.push_back(q.text(0));
    return ids;
}

std::vector<int> songsPerAccount(int total, int accounts, int first) {
    if (accounts <= 0)
        return {};
    std::vector<int> out(static_cast<std::size_t>(accounts), 0);
    out[0] = std::min(std::max(first, 0), total);
    const int rest = total - out[0];
    const int others = accounts - 1;
    if (others == 0) {
        out[0] = total;
        return out;
    }
    for (int i = 1; i < accounts; ++i)
        out[static_cast<std::size_t>(i)] = rest / others + (i - 1 < rest % others ? 1 : 0);
    return out;
}

} // namespace bench
