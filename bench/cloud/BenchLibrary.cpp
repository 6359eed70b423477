#include "BenchLibrary.h"

#include "BenchServer.h"
#include "Crypto.h"
#include "Database.h"
#include "Store.h"

#include <random>
#include <regex>

namespace fs = std::filesystem;

namespace bench {

namespace {

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

std::vector<std::int64_t> fileIdsOf(const fs::path &data, const std::vector<fs::path> &paths) {
    cloud::Database db((data / "cloud.sqlite").string());
    std::vector<std::int64_t> ids;
    for (const auto &path : paths) {
        cloud::Statement q(db, "SELECT id FROM files WHERE md5 = ?");
        q.bind(1, cloud::crypto::md5OfFile(path.string()));
        ids.push_back(q.step() ? q.integer(0) : 0);
    }
    return ids;
}

void fillLibrary(const fs::path &data, const std::string &email,
                 const std::vector<std::int64_t> &fileIds, int songs) {
    cloud::Database db((data / "cloud.sqlite").string());
    const std::int64_t userId = userIdOf(db, email);
    cloud::Transaction tx(db);
    std::mt19937 rng(7);
    const char *words[] = {"blue",  "night", "river", "light", "stone",  "glass", "fire",
                           "north", "dream", "echo",  "storm", "velvet", "iron",  "paper"};
    for (int i = 0; i < songs; ++i) {
        const int artist = i / 20;
        const int album = i / 10;
        const std::string title =
            std::string(words[rng() % 14]) + " " + words[rng() % 14] + " " + std::to_string(i);
        cloud::Statement(db, "INSERT INTO user_media(user_id, file_id, name, song_name, "
                             "album_name, artist_name, checksum, sequence, position) "
                             "VALUES(?,?,?,?,?,?,?,?,?)")
            .bind(1, userId)
            .bind(2, fileIds[static_cast<std::size_t>(i) % fileIds.size()])
            .bind(3, "song" + std::to_string(i) + ".mp3")
            .bind(4, title)
            .bind(5, std::string(words[album % 14]) + " album " + std::to_string(album))
            .bind(6, "Artist " + std::to_string(artist))
            .bind(7, cloud::crypto::randomHex(16))
            .bind(8, i % 10 + 1)
            .bind(9, std::int64_t{1000000} + i)
            .run();
    }
    tx.commit();
}

void indexLibrary(const fs::path &data) {
    cloud::Store store(data / "cloud.sqlite");
    store.indexLibrary();
}

std::vector<std::string> songIdsOf(const fs::path &data, const std::string &email) {
    cloud::Database db((data / "cloud.sqlite").string());
    const std::int64_t userId = userIdOf(db, email);
    cloud::Statement q(db, "SELECT song_id FROM library_songs WHERE user_id = ? ORDER BY media_id");
    q.bind(1, userId);
    std::vector<std::string> ids;
    while (q.step())
        ids.push_back(q.text(0));
    return ids;
}

} // namespace bench
