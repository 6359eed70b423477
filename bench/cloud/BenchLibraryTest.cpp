#include "BenchLibrary.h"

#include "Crypto.h"
#include "Library.h"
#include "PlayerSecrets.h"
#include "Store.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <map>
#include <numeric>
#include <regex>
#include <set>

namespace fs = std::filesystem;

namespace {

std::map<std::string, std::string> queryOf(const std::string &query) {
    std::map<std::string, std::string> fields;
    static const std::regex pair("([^&=]+)=([^&]*)");
    for (auto it = std::sregex_iterator(query.begin(), query.end(), pair);
         it != std::sregex_iterator(); ++it)
        fields[(*it)[1]] = (*it)[2];
    return fields;
}

TEST(PlayerAuth, TokenIsTheDigestOfPasswordAndSalt) {
    const bench::PlayerAccount account{"reader7@bench.example", "5f2c0a9e"};
    const std::string first = bench::playerAuth(account);
    const auto q = queryOf(first);
    EXPECT_EQ(q.at("u"), "reader7%40bench.example");
    EXPECT_EQ(q.at("f"), "json");
    EXPECT_EQ(q.at("v"), "1.16.1");
    ASSERT_FALSE(q.at("s").empty());
    cloud::crypto::Md5 md5;
    const std::string text = "5f2c0a9e" + q.at("s");
    md5.update(text.data(), text.size());
    EXPECT_EQ(q.at("t"), md5.finalHex());
    // Players salt every request anew; the server may refuse a salt used twice.
    EXPECT_NE(queryOf(bench::playerAuth(account)).at("s"), q.at("s"));
}

class LibraryHelpers : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/bench-library-test-XXXXXX";
        work_ = mkdtemp(tmpl);
        data_ = work_ / "data";
        fs::create_directories(data_);
        cloud::Store store(data_ / "cloud.sqlite");
        for (const char *email : {"alice@bench.example", "bob@bench.example"}) {
            cloud::User user;
            user.email = email;
            ASSERT_TRUE(store.createUser(user));
        }
        for (int i = 0; i < 3; ++i) {
            const fs::path f = work_ / ("f" + std::to_string(i) + ".mp3");
            std::ofstream(f) << "song file " << i;
            cloud::StoredFile stored;
            stored.relPath = "ab/f" + std::to_string(i);
            stored.size = 11;
            stored.md5 = cloud::crypto::md5OfFile(f.string());
            stored.sha256 = "sha" + std::to_string(i);
            bool reused = false;
            ids_.push_back(store.addFile(stored, reused).id);
            files_.push_back(f);
        }
    }
    void TearDown() override { fs::remove_all(work_); }
    std::string database() const { return bench::sqliteOf(data_); }

    fs::path work_;
    fs::path data_;
    std::vector<fs::path> files_;
    std::vector<std::int64_t> ids_;
};

TEST_F(LibraryHelpers, FilesAreFoundByContentInTheOrderAsked) {
    EXPECT_EQ(bench::fileIdsOf(database(), {files_[2], files_[0], files_[1]}),
              (std::vector<std::int64_t>{ids_[2], ids_[0], ids_[1]}));
    const fs::path stranger = work_ / "stranger.mp3";
    std::ofstream(stranger) << "never stored";
    EXPECT_EQ(bench::fileIdsOf(database(), {stranger, files_[1]}),
              (std::vector<std::int64_t>{0, ids_[1]}));
}

TEST_F(LibraryHelpers, EachAccountGetsItsOwnSongsOverTheFilesInTurn) {
    bench::fillLibrary(database(), "alice@bench.example", ids_, 25);
    bench::fillLibrary(database(), "bob@bench.example", {ids_[1]}, 4);
    bench::indexLibrary(database());
    const auto alice = bench::songIdsOf(database(), "alice@bench.example");
    const auto bob = bench::songIdsOf(database(), "bob@bench.example");
    ASSERT_EQ(alice.size(), 25u);
    ASSERT_EQ(bob.size(), 4u);
    std::set<std::string> all(alice.begin(), alice.end());
    all.insert(bob.begin(), bob.end());
    EXPECT_EQ(all.size(), 29u);
    for (const auto &id : all)
        EXPECT_TRUE(std::regex_match(id, std::regex("tr[0-9a-f]{22}"))) << id;

    // In the order made: item i plays file i mod 3, and 10 items make an album.
    cloud::Store store(data_ / "cloud.sqlite");
    const auto user = store.findUserByEmail("alice@bench.example");
    ASSERT_TRUE(user);
    cloud::SongQuery everything;
    everything.limit = 100;
    std::map<std::string, cloud::Song> byId;
    for (auto &song : store.songs(user->id, everything))
        byId[song.id] = song;
    ASSERT_EQ(byId.size(), 25u);
    for (std::size_t i = 0; i < alice.size(); ++i) {
        EXPECT_EQ(byId.at(alice[i]).fileId, ids_[i % 3]) << i;
        EXPECT_EQ(byId.at(alice[i]).albumId == byId.at(alice[0]).albumId, i < 10) << i;
    }
}

TEST_F(LibraryHelpers, AnAccountWithoutSongsHasNone) {
    bench::fillLibrary(database(), "alice@bench.example", ids_, 3);
    bench::indexLibrary(database());
    EXPECT_TRUE(bench::songIdsOf(database(), "bob@bench.example").empty());
    EXPECT_TRUE(bench::songIdsOf(database(), "nobody@bench.example").empty());
}

// Past one statement's rows (500): the order, the files in turn and the
// albums carry on across the statements.
TEST_F(LibraryHelpers, ALibraryLongerThanOneStatementKeepsItsOrder) {
    bench::fillLibrary(database(), "alice@bench.example", ids_, 1203);
    bench::indexLibrary(database());
    const auto alice = bench::songIdsOf(database(), "alice@bench.example");
    ASSERT_EQ(alice.size(), 1203u);
    EXPECT_EQ(std::set<std::string>(alice.begin(), alice.end()).size(), 1203u);
    cloud::Store store(data_ / "cloud.sqlite");
    const auto user = store.findUserByEmail("alice@bench.example");
    ASSERT_TRUE(user);
    const auto listing = store.listChanges(user->id, 0);
    ASSERT_EQ(listing.items.size(), 1203u);
    for (std::size_t i = 0; i < listing.items.size(); ++i) {
        const auto &item = listing.items[i];
        ASSERT_EQ(item.name, "song" + std::to_string(i) + ".mp3");
        EXPECT_EQ(item.fileId, ids_[i % 3]) << i;
        EXPECT_EQ(item.artistName, "Artist " + std::to_string(i / 20)) << i;
    }
    cloud::AlbumQuery albums;
    albums.limit = 1000;
    EXPECT_EQ(store.albums(user->id, albums).size(), 121u); // 120 of ten and one of three
}

TEST_F(LibraryHelpers, AccountsMadeInBulkSignInWithTheSharedPassword) {
    const auto hash = cloud::PasswordHash::make("bench password", 1000);
    cloud::Database db(database());
    const auto ids = bench::addAccounts(db, "many", 501, hash);
    ASSERT_EQ(ids.size(), 501u);
    EXPECT_EQ(std::set<std::int64_t>(ids.begin(), ids.end()).size(), 501u);
    cloud::Store store(data_ / "cloud.sqlite");
    for (const int i : {0, 499, 500}) {
        const auto user = store.findUserByEmail(bench::accountEmail("many", i));
        ASSERT_TRUE(user) << i;
        EXPECT_EQ(user->id, ids[static_cast<std::size_t>(i)]);
        EXPECT_TRUE(user->password.verify("bench password")) << i;
        EXPECT_FALSE(user->password.verify("another password")) << i;
        EXPECT_TRUE(user->desktopRegistered);
    }
    EXPECT_FALSE(store.findUserByEmail(bench::accountEmail("many", 501)));
}

TEST_F(LibraryHelpers, APlayerPasswordMadeInProcessOpensWithTheFolderKey) {
    cloud::Store store(data_ / "cloud.sqlite");
    const auto made = bench::addPlayerPassword(store, data_, "bob@bench.example");
    ASSERT_FALSE(made.password.empty());
    const auto bob = store.findUserByEmail("bob@bench.example");
    const auto stored = store.playerPasswords(bob->id);
    ASSERT_EQ(stored.size(), 1u);
    // What the server does with the same folder's key.
    EXPECT_EQ(cloud::PlayerSecrets::load(data_).open(stored[0].sealed, bob->id), made.password);
    EXPECT_TRUE(bench::addPlayerPassword(store, data_, "nobody@bench.example").password.empty());
}

TEST(SongsPerAccount, TheFirstTakesItsShareAndTheRestSplitEvenly) {
    EXPECT_EQ(bench::songsPerAccount(1000000, 10000, 100000)[0], 100000);
    const auto spread = bench::songsPerAccount(1000000, 10000, 100000);
    EXPECT_EQ(std::accumulate(spread.begin(), spread.end(), 0LL), 1000000);
    EXPECT_EQ(*std::max_element(spread.begin() + 1, spread.end()), 91);
    EXPECT_EQ(*std::min_element(spread.begin() + 1, spread.end()), 90);
    EXPECT_EQ(bench::songsPerAccount(10, 4, 3), (std::vector<int>{3, 3, 2, 2}));
    // The first never holds more than there is.
    EXPECT_EQ(bench::songsPerAccount(5, 3, 50), (std::vector<int>{5, 0, 0}));
    EXPECT_EQ(bench::songsPerAccount(7, 1, 2), (std::vector<int>{7}));
    EXPECT_TRUE(bench::songsPerAccount(7, 0, 2).empty());
}

TEST(MultiRowInsert, GroupsOfParametersPerRow) {
    EXPECT_EQ(bench::multiRowInsert("INSERT INTO t(a, b)", 2, 3),
              "INSERT INTO t(a, b) VALUES(?,?),(?,?),(?,?)");
    EXPECT_EQ(bench::multiRowInsert("INSERT INTO t(a)", 1, 1), "INSERT INTO t(a) VALUES(?)");
}

} // namespace
