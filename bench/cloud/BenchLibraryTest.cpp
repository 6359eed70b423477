#include "BenchLibrary.h"

#include "Crypto.h"
#include "Library.h"
#include "Store.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <map>
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

    fs::path work_;
    fs::path data_;
    std::vector<fs::path> files_;
    std::vector<std::int64_t> ids_;
};

TEST_F(LibraryHelpers, FilesAreFoundByContentInTheOrderAsked) {
    EXPECT_EQ(bench::fileIdsOf(data_, {files_[2], files_[0], files_[1]}),
              (std::vector<std::int64_t>{ids_[2], ids_[0], ids_[1]}));
    const fs::path stranger = work_ / "stranger.mp3";
    std::ofstream(stranger) << "never stored";
    EXPECT_EQ(bench::fileIdsOf(data_, {stranger, files_[1]}),
              (std::vector<std::int64_t>{0, ids_[1]}));
}

TEST_F(LibraryHelpers, EachAccountGetsItsOwnSongsOverTheFilesInTurn) {
    bench::fillLibrary(data_, "alice@bench.example", ids_, 25);
    bench::fillLibrary(data_, "bob@bench.example", {ids_[1]}, 4);
    bench::indexLibrary(data_);
    const auto alice = bench::songIdsOf(data_, "alice@bench.example");
    const auto bob = bench::songIdsOf(data_, "bob@bench.example");
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
    bench::fillLibrary(data_, "alice@bench.example", ids_, 3);
    bench::indexLibrary(data_);
    EXPECT_TRUE(bench::songIdsOf(data_, "bob@bench.example").empty());
    EXPECT_TRUE(bench::songIdsOf(data_, "nobody@bench.example").empty());
}

} // namespace
