// The file stores against the same contract: the data folder, and a real
// S3-compatible store (support/swift-s3.py); FFmpeg reading objects; and the
// server keeping its files in a bucket.
#include "CoverArt.h"
#include "Crypto.h"
#include "S3TestServer.h"
#include "StoredMedia.h"
#include "TagReader.h"
#include "TestChild.h"
#include "TestServer.h"
#include "Transcode.h"
#include "objects/CleanUp.h"
#include "objects/FolderStore.h"
#include "objects/S3Store.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <random>
#include <set>
#include <thread>

namespace fs = std::filesystem;
using namespace cloud::objects;
using cloudtest::readFile;
using cloudtest::S3TestServer;
using cloudtest::TempDir;
using Clock = std::chrono::system_clock;

namespace {

// The smallest part S3 takes, so that several parts stay cheap to write.
constexpr std::size_t kPart = 5u << 20;

S3TestServer &s3Server() {
    return S3TestServer::shared();
}

std::string bytesOf(std::size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::string s(size, '\0');
    for (char &c : s)
        c = static_cast<char>(random());
    return s;
}

// Exactly `size` bytes from `offset` (fewer only at the end).
std::string readRange(ObjectReader &reader, std::uint64_t offset, std::size_t size) {
    std::string out(size, '\0');
    std::size_t got = 0;
    while (got < size) {
        const long n = reader.read(offset + got, out.data() + got, size - got);
        if (n <= 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    out.resize(got);
    return out;
}

std::string readWhole(ObjectReader &reader) {
    return readRange(reader, 0, static_cast<std::size_t>(reader.size()));
}

std::string put(ObjectStore &store, const std::string &bytes, std::size_t piece = 4099) {
    auto incoming = store.create();
    for (std::size_t at = 0; at < bytes.size(); at += piece)
        EXPECT_TRUE(incoming->write(bytes.data() + at, std::min(piece, bytes.size() - at)));
    return incoming->commit();
}

std::vector<ObjectEntry> listing(ObjectStore &store) {
    std::vector<ObjectEntry> all;
    store.list([&all](const ObjectEntry &e) { all.push_back(e); });
    return all;
}

std::vector<std::string> keys(const std::vector<ObjectEntry> &entries, bool unfinished) {
    std::vector<std::string> k;
    for (const auto &e : entries) {
        if (e.unfinished == unfinished)
            k.push_back(e.key);
    }
    std::sort(k.begin(), k.end());
    return k;
}

enum class Kind { Folder, S3 };

class ObjectStoreContract : public ::testing::TestWithParam<Kind> {
protected:
    void SetUp() override {
        if (GetParam() == Kind::Folder) {
            store = std::make_unique<FolderStore>(dir.path());
            return;
        }
        auto o = s3Server().options(s3Server().freshBucket(), dir.path() / "incoming");
        o.partBytes = kPart;
        o.pageSize = 3;
        auto s3Store = std::make_unique<S3Store>(o);
        s3 = s3Store.get();
        store = std::move(s3Store);
    }

    // What a server killed while writing leaves behind.
    void leaveUnfinishedUpload() {
        if (s3) {
            s3->beginMultipartUpload("crashed");
            return;
        }
        std::ofstream(dir.path() / "incoming" / "crashed.part") << "partial";
    }

    TempDir dir;
    std::unique_ptr<ObjectStore> store;
    S3Store *s3 = nullptr;
};

TEST_P(ObjectStoreContract, AnObjectIsVisibleOnlyOnceCommittedAndReadsBackWhole) {
    const std::string bytes = bytesOf(100 * 1000 + 7, 1);
    auto incoming = store->create();
    for (std::size_t at = 0; at < bytes.size(); at += 4099)
        ASSERT_TRUE(
            incoming->write(bytes.data() + at, std::min<std::size_t>(4099, bytes.size() - at)));
    EXPECT_EQ(incoming->size(), bytes.size());
    EXPECT_TRUE(keys(listing(*store), false).empty());
    // The checks before the commit read what was written.
    const auto back = incoming->readBack();
    ASSERT_TRUE(back);
    EXPECT_TRUE(readWhole(*back) == bytes);

    const std::string key = incoming->commit();
    incoming.reset();
    const auto entries = listing(*store);
    ASSERT_EQ(keys(entries, false), std::vector<std::string>{key});
    EXPECT_TRUE(keys(entries, true).empty());
    EXPECT_EQ(entries.front().size, bytes.size());
    EXPECT_EQ(store->size(key), bytes.size());
    const auto reader = store->open(key);
    ASSERT_TRUE(reader);
    EXPECT_EQ(reader->size(), bytes.size());
    EXPECT_TRUE(readWhole(*reader) == bytes);
}

TEST_P(ObjectStoreContract, AnObjectOfSeveralPartsIsStoredWhole) {
    const std::string bytes = bytesOf(2 * kPart + 12345, 2);
    auto incoming = store->create();
    for (std::size_t at = 0; at < bytes.size(); at += 1 << 20)
        ASSERT_TRUE(
            incoming->write(bytes.data() + at, std::min<std::size_t>(1 << 20, bytes.size() - at)));
    // Begun, not finished: only the clean-up may take it.
    EXPECT_EQ(keys(listing(*store), true).size(), 1u);
    EXPECT_TRUE(keys(listing(*store), false).empty());
    const std::string key = incoming->commit();
    incoming.reset();

    const auto entries = listing(*store);
    EXPECT_TRUE(keys(entries, true).empty());
    ASSERT_EQ(keys(entries, false), std::vector<std::string>{key});
    const auto reader = store->open(key);
    ASSERT_TRUE(reader);
    EXPECT_TRUE(readWhole(*reader) == bytes);
}

// An announced size is a hint: what was written is what is stored, when
// the announcement was right and when it was too small or too large.
TEST_P(ObjectStoreContract, AnnouncedSizesNeverChangeWhatIsStored) {
    const std::string bytes = bytesOf(300 * 1000 + 11, 5);
    for (const std::uint64_t announced :
         {std::uint64_t{bytes.size()}, std::uint64_t{bytes.size() - 1}, std::uint64_t{1000},
          std::uint64_t{bytes.size() + 1}, std::uint64_t{3 * kPart}}) {
        auto incoming = store->create();
        incoming->expectSize(announced);
        for (std::size_t at = 0; at < bytes.size(); at += 65536)
            ASSERT_TRUE(incoming->write(bytes.data() + at,
                                        std::min<std::size_t>(65536, bytes.size() - at)));
        EXPECT_TRUE(keys(listing(*store), false).empty()) << announced;
        const std::string key = incoming->commit();
        incoming.reset();
        const auto reader = store->open(key);
        ASSERT_TRUE(reader) << announced;
        EXPECT_TRUE(readWhole(*reader) == bytes) << announced;
        store->remove(key);
    }
    EXPECT_TRUE(listing(*store).empty());
}

TEST_P(ObjectStoreContract, RangedReadsGiveExactlyTheBytesAsked) {
    const std::string bytes = bytesOf(700 * 1000 + 3, 3);
    const std::string key = put(*store, bytes);
    const auto reader = store->open(key);
    ASSERT_TRUE(reader);
    const std::uint64_t size = bytes.size();
    EXPECT_EQ(readRange(*reader, 0, 10), bytes.substr(0, 10));
    EXPECT_EQ(readRange(*reader, size / 2, 1000), bytes.substr(size / 2, 1000));
    EXPECT_EQ(readRange(*reader, size - 1, 1), bytes.substr(size - 1));
    EXPECT_EQ(readRange(*reader, size - 1, 100), bytes.substr(size - 1));
    char c = 0;
    EXPECT_EQ(reader->read(size, &c, 1), 0);
    // Backwards, and forwards past what a transfer holds.
    EXPECT_EQ(readRange(*reader, 100, 50), bytes.substr(100, 50));
    EXPECT_EQ(readRange(*reader, 600 * 1000, 20), bytes.substr(600 * 1000, 20));
    // Within an announced range, and past it.
    reader->willRead(1000, 1999);
    EXPECT_EQ(readRange(*reader, 1000, 1000), bytes.substr(1000, 1000));
    EXPECT_EQ(readRange(*reader, 2000, 10), bytes.substr(2000, 10));
    EXPECT_EQ(readRange(*reader, 5000, 300 * 1000), bytes.substr(5000, 300 * 1000));
}

TEST_P(ObjectStoreContract, MissingAndRemovedObjectsAreNone) {
    EXPECT_EQ(store->open("0123456789abcdef0123456789abcdef"), nullptr);
    EXPECT_EQ(store->size("0123456789abcdef0123456789abcdef"), std::nullopt);
    EXPECT_NO_THROW(store->remove("0123456789abcdef0123456789abcdef"));

    const std::string kept = put(*store, "kept");
    const std::string gone = put(*store, "gone");
    store->remove(gone);
    EXPECT_EQ(store->open(gone), nullptr);
    EXPECT_EQ(keys(listing(*store), false), std::vector<std::string>{kept});

    // Many at once, a missing one among them.
    std::vector<std::string> more;
    for (int i = 0; i < 4; ++i)
        more.push_back(put(*store, "more" + std::to_string(i)));
    EXPECT_TRUE(store->removeMany({more[0], more[2], "0123456789abcdef0123456789abcdef"}).empty());
    std::vector<std::string> left{kept, more[1], more[3]};
    std::sort(left.begin(), left.end());
    EXPECT_EQ(keys(listing(*store), false), left);
}

TEST_P(ObjectStoreContract, AnAbandonedObjectLeavesNothing) {
    {
        auto incoming = store->create();
        const std::string bytes = bytesOf(kPart + 10, 4);
        ASSERT_TRUE(incoming->write(bytes.data(), bytes.size()));
        ASSERT_EQ(listing(*store).size(), 1u);
    }
    EXPECT_TRUE(listing(*store).empty());
}

TEST_P(ObjectStoreContract, TheListingGoesPastOnePage) {
    const auto before = Clock::now() - std::chrono::seconds(2);
    std::vector<std::string> stored;
    for (unsigned i = 0; i < 8; ++i)
        stored.push_back(put(*store, bytesOf(100 + i, i)));
    const auto after = Clock::now() + std::chrono::seconds(2);
    std::sort(stored.begin(), stored.end());
    const auto entries = listing(*store);
    EXPECT_EQ(keys(entries, false), stored);
    for (const auto &e : entries) {
        EXPECT_EQ(store->size(e.key), e.size) << e.key;
        EXPECT_GE(e.modified, before);
        EXPECT_LE(e.modified, after);
    }
}

TEST_P(ObjectStoreContract, TheCleanUpTakesOnlyWhatNoRecordNamesAndIsOldEnough) {
    const std::string a = put(*store, "a");
    const std::string b = put(*store, "b");
    const std::string stray = put(*store, "stray");
    leaveUnfinishedUpload();
    const std::set<std::string> referenced = {a, b};

    // Within the grace period everything stays.
    const auto young = cleanUp(*store, referenced, Clock::now() - std::chrono::hours(1));
    EXPECT_EQ(young.removed, 0);
    EXPECT_EQ(young.abandoned, 0);
    EXPECT_EQ(young.young, 2);
    EXPECT_EQ(listing(*store).size(), 4u);

    const auto old = cleanUp(*store, referenced, Clock::now() + std::chrono::minutes(1));
    EXPECT_EQ(old.removed, 1);
    EXPECT_EQ(old.abandoned, 1);
    const auto entries = listing(*store);
    EXPECT_EQ(keys(entries, false), (std::vector<std::string>{std::min(a, b), std::max(a, b)}));
    EXPECT_TRUE(keys(entries, true).empty());
    EXPECT_EQ(store->open(stray), nullptr);
}

TEST_P(ObjectStoreContract, ReadinessTellsAStoreThatCannotServe) {
    EXPECT_NO_THROW(store->checkReady());
    if (s3) {
        EXPECT_THROW(S3Store(s3Server().options("no-such-bucket", dir.path())).checkReady(),
                     ObjectError);
        auto unreachable = s3Server().options(s3Server().freshBucket(), dir.path());
        unreachable.endpoint = "http://127.0.0.1:1";
        EXPECT_THROW(S3Store(unreachable).checkReady(), ObjectError);
        return;
    }
    for (const char *part : {"media", "incoming"}) {
        fs::rename(dir.path() / part, dir.path() / "away");
        EXPECT_THROW(store->checkReady(), ObjectError) << part;
        fs::rename(dir.path() / "away", dir.path() / part);
    }
    EXPECT_NO_THROW(store->checkReady());
}

INSTANTIATE_TEST_SUITE_P(Stores, ObjectStoreContract, ::testing::Values(Kind::Folder, Kind::S3),
                         [](const auto &info) {
                             return info.param == Kind::Folder ? "Folder" : "S3";
                         });

class S3StoreTest : public ::testing::Test {
protected:
    S3Options options() {
        return s3Server().options(s3Server().freshBucket(), dir.path() / "incoming");
    }
    TempDir dir;
};

TEST_F(S3StoreTest, ErrorsNeverCarryTheCredentials) {
    auto o = options();
    o.credentials.secretAccessKey = "wrong-secret-Zq81";
    S3Store wrong(o);
    try {
        wrong.open("anything");
        FAIL() << "a wrong secret was accepted";
    } catch (const ObjectError &e) {
        const std::string text = e.what();
        EXPECT_NE(text.find("403"), std::string::npos) << text;
        EXPECT_EQ(text.find("sonarbox:tester"), std::string::npos) << text;
        EXPECT_EQ(text.find("wrong-secret-Zq81"), std::string::npos) << text;
    }
    auto incoming = wrong.create();
    EXPECT_TRUE(incoming->write("x", 1));
    EXPECT_THROW(incoming->commit(), ObjectError);

    o = options();
    o.endpoint = "http://127.0.0.1:1";
    S3Store unreachable(o);
    try {
        unreachable.list([](const ObjectEntry &) {});
        FAIL() << "nobody listens there";
    } catch (const ObjectError &e) {
        const std::string text = e.what();
        EXPECT_NE(text.find("127.0.0.1:1"), std::string::npos) << text;
        EXPECT_EQ(text.find("sonarbox:tester"), std::string::npos) << text;
        EXPECT_EQ(text.find(S3TestServer::secret()), std::string::npos) << text;
    }
}

// An object whose size was announced is sent while it is written, but the
// store never holds it before the commit: not once every byte is written,
// not after it was abandoned.
TEST_F(S3StoreTest, AnAnnouncedObjectWaitsForItsCommit) {
    S3Store store(options());
    // Small enough to leave in one go: only the held byte keeps it back.
    const std::string bytes = bytesOf(60 * 1000 + 5, 6);
    const auto notThereFor = [&store](const std::string &key) {
        const auto until = Clock::now() + std::chrono::milliseconds(800);
        while (Clock::now() < until) {
            if (store.size(key))
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return true;
    };
    {
        auto abandoned = store.createAt("abandoned");
        abandoned->expectSize(bytes.size());
        ASSERT_TRUE(abandoned->write(bytes.data(), bytes.size()));
    }
    EXPECT_TRUE(notThereFor("abandoned"));

    auto incoming = store.createAt("kept");
    incoming->expectSize(bytes.size());
    // Each write moves the transfer on; small ones, with pauses, let it go
    // as far as it may.
    for (std::size_t at = 0; at < bytes.size(); at += 1000) {
        ASSERT_TRUE(
            incoming->write(bytes.data() + at, std::min<std::size_t>(1000, bytes.size() - at)));
        if (at % 20000 == 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_TRUE(notThereFor("kept"));
    // One PUT, no multipart upload begun.
    EXPECT_TRUE(listing(store).empty());
    EXPECT_EQ(incoming->commit(), "kept");
    EXPECT_TRUE(readWhole(*store.open("kept")) == bytes);
}

// The store's ETag of an object sent whole is checked against the MD5 its
// writer gives: a mismatch sends the object again, hashed as it goes.
TEST_F(S3StoreTest, TheStoresDigestIsCheckedAgainstTheWritersMd5) {
    const S3Options o = options();
    S3Store store(o);
    const std::string bytes = bytesOf(70 * 1000 + 3, 7);
    cloud::crypto::Md5 md5;
    md5.update(bytes.data(), bytes.size());
    const std::string rightMd5 = md5.finalHex();
    for (const auto &[key, given] : {std::pair<std::string, std::string>{"right", rightMd5},
                                     {"wrong", std::string(32, '0')},
                                     {"unsaid", ""}}) {
        auto incoming = store.createAt(key);
        incoming->expectSize(bytes.size());
        ASSERT_TRUE(incoming->write(bytes.data(), bytes.size()));
        EXPECT_EQ(incoming->commit(given), key);
        EXPECT_TRUE(readWhole(*store.open(key)) == bytes) << key;
    }
    const auto puts = [&o](const std::string &key) {
        return s3Server().requestsLike("PUT /" + o.bucket + "/" + key + " ");
    };
    EXPECT_EQ(puts("right"), 1);
    EXPECT_EQ(puts("wrong"), 2);
    EXPECT_EQ(puts("unsaid"), 1);
}

TEST_F(S3StoreTest, AKeyPrefixKeepsObjectsApart) {
    auto plain = options();
    auto prefixed = plain;
    prefixed.prefix = "music/";
    S3Store outside(plain);
    S3Store inside(prefixed);
    const std::string in = put(inside, "inside");
    const std::string out = put(outside, "outside");
    EXPECT_EQ(keys(listing(inside), false), std::vector<std::string>{in});
    // The same bucket seen whole names the inside object with its prefix.
    EXPECT_EQ(keys(listing(outside), false).size(), 2u);
    EXPECT_EQ(readWhole(*outside.open("music/" + in)), "inside");
    EXPECT_EQ(inside.open(out), nullptr);
    // Removing many names the keys under the prefix, and only those.
    EXPECT_TRUE(inside.removeMany({in, out}).empty());
    EXPECT_EQ(keys(listing(outside), false), std::vector<std::string>{out});
}

// FFmpeg reads an object through ranged reads exactly as it reads the file.
class ObjectMediaTest : public ::testing::Test {
protected:
    void SetUp() override {
        store = std::make_unique<S3Store>(
            s3Server().options(s3Server().freshBucket(), dir.path() / "incoming"));
    }
    std::string keep(const fs::path &file) { return put(*store, readFile(file), 65536); }

    TempDir dir;
    std::unique_ptr<S3Store> store;
};

TEST_F(ObjectMediaTest, TagsAndCoversFromAnObjectEqualThoseFromTheFile) {
    const fs::path mp3 = cloudtest::makeSong(
        dir.path(), "song.mp3", 440,
        "-metadata title=Harbour -metadata artist=Quay -metadata album=Tides -metadata track=4",
        true, 3);
    // MP4 keeps its index at the end: reading it means seeking.
    const fs::path m4a = cloudtest::makeSong(
        dir.path(), "song.m4a", 330, "-metadata title=Inlet -metadata artist=Quay", false, 3);
    // No header giving the length: it is estimated from the object's size.
    const fs::path tail =
        cloudtest::makeSong(dir.path(), "tail.mp3", 220,
                            "-metadata title=Ebb -metadata artist=Quay -write_xing 0", false, 3);
    for (const auto &[file, title] :
         {std::pair{mp3, "Harbour"}, std::pair{m4a, "Inlet"}, std::pair{tail, "Ebb"}}) {
        SCOPED_TRACE(file.filename().string());
        const std::string key = keep(file);
        const auto fromFile = cloud::readTags(file.string());
        const auto fromObject = cloud::readTags(store->open(key));
        ASSERT_TRUE(fromFile);
        ASSERT_TRUE(fromObject);
        EXPECT_EQ(fromObject->title, title);
        EXPECT_EQ(fromObject->title, fromFile->title);
        EXPECT_EQ(fromObject->artist, "Quay");
        EXPECT_EQ(fromObject->album, fromFile->album);
        EXPECT_EQ(fromObject->track, fromFile->track);
        EXPECT_EQ(fromObject->durationMs, fromFile->durationMs);
        EXPECT_NEAR(static_cast<double>(fromObject->durationMs), 3000, 100);
        EXPECT_EQ(fromObject->bitRateKbps, fromFile->bitRateKbps);
        EXPECT_EQ(fromObject->suffix, fromFile->suffix);
        EXPECT_EQ(fromObject->hasCover, fromFile->hasCover);
        EXPECT_TRUE(cloud::decodesAsAudio(store->open(key)));
    }
    const auto mp3Tags = cloud::readTags(store->open(keep(mp3)));
    EXPECT_EQ(mp3Tags->track, 4);
    EXPECT_TRUE(mp3Tags->hasCover);

    const std::string key = keep(mp3);
    const auto cover = cloud::readCover(store->open(key), 0);
    const auto fileCover = cloud::readCover(FileReader::open(mp3), 0);
    ASSERT_TRUE(cover);
    ASSERT_TRUE(fileCover);
    EXPECT_EQ(cover->contentType, "image/jpeg");
    EXPECT_TRUE(cover->bytes == fileCover->bytes);

    // And it is encoded again from the object, seeking into it first.
    auto encoder = cloud::Transcoder::open(store->open(key), {cloud::TranscodeFormat::Mp3, 64}, 1);
    ASSERT_TRUE(encoder);
    std::string encoded;
    char buffer[16384];
    for (long n; (n = encoder->read(buffer, sizeof buffer)) > 0;)
        encoded.append(buffer, static_cast<std::size_t>(n));
    EXPECT_NEAR(encoder->producedSeconds(), 2, 0.2);
    EXPECT_GT(encoded.size(), 10000u);
}

TEST_F(ObjectMediaTest, OnlyTheAcceptedContainersAreRead) {
    // Playlists would have the demuxer open what they name.
    const std::string hls =
        "#EXTM3U\n#EXT-X-TARGETDURATION:1\n#EXTINF:1,\nhttp://127.0.0.1:1/a.mp3\n"
        "#EXT-X-ENDLIST\n";
    const fs::path song = cloudtest::makeSong(dir.path(), "named.mp3", 440, "", false, 1);
    const std::string concat = "ffconcat version 1.0\nfile '" + song.string() + "'\n";
    // Audio, but in a container the server does not take.
    const fs::path au = dir.path() / "sun.au";
    ASSERT_EQ(testchild::shell("ffmpeg -nostdin -loglevel error -f lavfi -i sine=duration=1 '" +
                               au.string() + "'"),
              0);
    for (const std::string &bytes : {hls, concat, readFile(au)}) {
        const std::string key = put(*store, bytes);
        EXPECT_EQ(cloud::readTags(store->open(key)), std::nullopt) << bytes.substr(0, 20);
        EXPECT_FALSE(cloud::decodesAsAudio(store->open(key)));
        EXPECT_EQ(cloud::readCover(store->open(key), 0), std::nullopt);
    }
    EXPECT_EQ(cloud::readTags(au.string()), std::nullopt);
}

// The real program, its files in a bucket.
class ServerOnObjectsTest : public ::testing::Test {
protected:
    void SetUp() override {
        bucket = s3Server().freshBucket();
        ::setenv("SONARBOX_S3_ACCESS_KEY_ID", S3TestServer::accessKey().c_str(), 1);
        ::setenv("SONARBOX_S3_SECRET_ACCESS_KEY", S3TestServer::secret().c_str(), 1);
        bucketView = std::make_unique<S3Store>(s3Server().options(bucket, songs.path()));
    }

    TempDir songs;
    std::string bucket;
    std::unique_ptr<S3Store> bucketView;
};

TEST_F(ServerOnObjectsTest, UploadsLandInTheBucketAndAreServedFromIt) {
    cloudtest::TestServer server({"--objects", s3Server().url(bucket)});
    // Its readiness asks the bucket, on a worker.
    EXPECT_EQ(server.get("/readyz").status, 200);
    server.addUser("ann@example.com", "pw-ann");
    const std::string cookie = server.loginOrFail("ann@example.com", "pw-ann");
    const std::string song = readFile(cloudtest::makeSong(
        songs.path(), "a.mp3", 440, "-metadata title=Lantern -metadata artist=Moth", true, 3));
    const auto uploaded = server.upload(cookie, "a.mp3", song);
    ASSERT_EQ(uploaded.status, 200) << uploaded.body;
    const std::int64_t id = cloudtest::purchasedId(uploaded);

    // Something that is no audio is refused and leaves nothing behind.
    EXPECT_EQ(server.upload(cookie, "b.mp3", std::string(300000, 'x')).status, 415);
    const auto entries = listing(*bucketView);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_FALSE(entries.front().unfinished);
    EXPECT_TRUE(readWhole(*bucketView->open(entries.front().key)) == song);
    EXPECT_TRUE(fs::is_empty(server.dataDir() / "incoming"));
    EXPECT_FALSE(fs::exists(server.dataDir() / "media"));

    cloudtest::Reply redirect;
    EXPECT_TRUE(server.download(cookie, id, "ann@example.com", "pw-ann", &redirect).body == song);
    const std::string location = redirect.headers.at("location");
    const std::string cdn = location.substr(location.find("/cdn/"));
    auto part = server.get(cdn, {{"Range", "bytes=1000-1999"}});
    EXPECT_EQ(part.status, 206);
    EXPECT_EQ(part.headers["content-range"], "bytes 1000-1999/" + std::to_string(song.size()));
    EXPECT_TRUE(part.body == song.substr(1000, 1000));

    const auto player = cloudtest::addPlayerPassword(server, "ann@example.com", "phone");
    const auto rest = [&](const std::string &method, const std::string &query,
                          const std::map<std::string, std::string> &headers = {}) {
        return server.get("/rest/" + method + "?f=json&apiKey=" + player.apiKey + "&" + query,
                          headers);
    };
    const auto found = rest("search3", "query=").json();
    ASSERT_TRUE(found);
    const auto &songList = found->find("subsonic-response")->find("searchResult3")->find("song");
    ASSERT_TRUE(songList && songList->asArray().size() == 1);
    const std::string songId = "id=" + songList->asArray()[0].find("id")->asString();
    EXPECT_EQ(songList->asArray()[0].find("title")->asString(), "Lantern");
    const auto last = rest("stream", songId, {{"Range", "bytes=-1"}});
    EXPECT_EQ(last.status, 206);
    EXPECT_EQ(last.body, song.substr(song.size() - 1));
    EXPECT_TRUE(rest("download", songId).body == song);
    const auto cover = rest("getCoverArt", songId + "&size=50");
    EXPECT_EQ(cover.headers.at("content-type"), "image/jpeg");
    const auto lowered = rest("stream", songId + "&maxBitRate=64");
    EXPECT_EQ(lowered.headers.at("content-type"), "audio/mpeg");
    EXPECT_GT(lowered.body.size(), 10000u);
    EXPECT_LT(lowered.body.size(), song.size());

    // A restart's clean-up keeps what is recorded.
    server.stop();
    server.start();
    EXPECT_TRUE(server
                    .download(server.loginOrFail("ann@example.com", "pw-ann"), id,
                              "ann@example.com", "pw-ann")
                    .body == song);
    EXPECT_EQ(listing(*bucketView).size(), 1u);
}

// A range of a large song costs the store that range, not the song: the
// client's Range goes on to the store.
// A client may announce the file's size so that the server stores it while
// it arrives; a wrong or garbled announcement changes nothing that is kept,
// and audio refused after a right one leaves nothing in the bucket.
TEST_F(ServerOnObjectsTest, AnnouncedFileSizesAreOnlyHints) {
    cloudtest::TestServer server({"--objects", s3Server().url(bucket)});
    server.addUser("ann@example.com", "pw-ann");
    const std::string cookie = server.loginOrFail("ann@example.com", "pw-ann");
    std::set<std::string> sent;
    int tone = 300;
    for (const std::string announced : {"=", "-1", "+1", "5", "many"}) {
        SCOPED_TRACE(announced);
        const std::string song = readFile(cloudtest::makeSong(
            songs.path(), "s" + std::to_string(tone) + ".mp3", tone, "-metadata title=T", true, 2));
        tone += 40;
        std::string size = std::to_string(song.size());
        if (announced == "-1" || announced == "+1")
            size = std::to_string(song.size() + (announced == "+1" ? 1 : -1));
        else if (announced != "=")
            size = announced;
        const auto uploaded = server.upload(cookie, "s.mp3", song, {{"X-File-Size", size}});
        ASSERT_EQ(uploaded.status, 200) << uploaded.body;
        sent.insert(song);
    }
    const std::string noise(200000, 'x');
    EXPECT_EQ(server.upload(cookie, "n.mp3", noise, {{"X-File-Size", std::to_string(noise.size())}})
                  .status,
              415);

    std::set<std::string> stored;
    for (const auto &entry : listing(*bucketView)) {
        EXPECT_FALSE(entry.unfinished);
        stored.insert(readWhole(*bucketView->open(entry.key)));
    }
    EXPECT_TRUE(stored == sent);

    // Past the size of a part, a file announced goes as one PUT; one not
    // announced as a multipart upload.
    const std::string multipart = "POST /" + bucket + "/";
    const std::string big = readFile(
        cloudtest::makeSong(songs.path(), "long.wav", 500, "-metadata title=Long", false, 100));
    ASSERT_GT(big.size(), 8u << 20);
    const int before = s3Server().requestsLike(multipart);
    ASSERT_EQ(server.upload(cookie, "long.wav", big, {{"X-File-Size", std::to_string(big.size())}})
                  .status,
              200);
    EXPECT_EQ(s3Server().requestsLike(multipart), before);
    std::string changed = big;
    changed.back() ^= 1;
    ASSERT_EQ(server.upload(cookie, "long.wav", changed).status, 200);
    EXPECT_GT(s3Server().requestsLike(multipart), before);
}

TEST_F(ServerOnObjectsTest, ARangeIsAskedOfTheStoreAsARange) {
    cloudtest::TestServer server({"--objects", s3Server().url(bucket)});
    server.addUser("ann@example.com", "pw-ann");
    const std::string cookie = server.loginOrFail("ann@example.com", "pw-ann");
    const std::string song = cloudtest::wavBytes(40 * 1024 * 1024, "large");
    const auto uploaded = server.upload(cookie, "large.wav", song);
    ASSERT_EQ(uploaded.status, 200) << uploaded.body;
    const auto entries = listing(*bucketView);
    ASSERT_EQ(entries.size(), 1u);
    const std::string &key = entries.front().key;
    const std::uint64_t before = s3Server().bytesSentFor(key);

    const auto player = cloudtest::addPlayerPassword(server, "ann@example.com", "phone");
    const auto found = server.get("/rest/search3?f=json&query=&apiKey=" + player.apiKey).json();
    ASSERT_TRUE(found);
    const auto *songs = found->find("subsonic-response")->find("searchResult3")->find("song");
    ASSERT_TRUE(songs && songs->asArray().size() == 1);
    const std::string id = songs->asArray()[0].find("id")->asString();
    for (const std::uint64_t at : {std::uint64_t(20) << 20, std::uint64_t(1) << 20}) {
        const std::string range = "bytes=" + std::to_string(at) + "-" + std::to_string(at + 999);
        const auto part =
            server.get("/rest/stream?id=" + id + "&apiKey=" + player.apiKey, {{"Range", range}});
        EXPECT_EQ(part.status, 206);
        EXPECT_TRUE(part.body == song.substr(at, 1000));
    }
    const std::uint64_t sent = s3Server().bytesSentFor(key) - before;
    std::printf("[figure] two 1000-byte ranges of a 40 MiB song: the store sent %ju bytes\n",
                static_cast<std::uintmax_t>(sent));
    EXPECT_LT(sent, 256u * 1024);
}

TEST_F(ServerOnObjectsTest, ImportsGoIntoTheBucket) {
    cloudtest::TestServer server({"--objects", s3Server().url(bucket)});
    const fs::path file = cloudtest::makeSong(songs.path(), "c.mp3", 550, "", false, 1);
    const auto imported = cloudtest::runCloud(
        {"import", "--data", server.dataArg(), "--objects", s3Server().url(bucket), file.string()});
    EXPECT_EQ(imported.exitCode, 0) << imported.output;
    const auto entries = listing(*bucketView);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_TRUE(readWhole(*bucketView->open(entries.front().key)) == readFile(file));
}

TEST(ObjectsOptionTest, CredentialsComeFromAPrivateFileOrTheEnvironmentOnly) {
    TempDir dir;
    ::unsetenv("SONARBOX_S3_ACCESS_KEY_ID");
    ::unsetenv("SONARBOX_S3_SECRET_ACCESS_KEY");
    const std::string url = "s3://songs?endpoint=http://127.0.0.1:1&region=us-east-1";
    const auto serve = [&](const std::vector<std::string> &extra) {
        std::vector<std::string> args = {"import", "--data", dir.path().string(), "--objects", url};
        args.insert(args.end(), extra.begin(), extra.end());
        args.push_back("/nonexistent.mp3");
        return cloudtest::runCloud(args);
    };
    auto r = serve({});
    EXPECT_NE(r.exitCode, 0);
    EXPECT_NE(r.output.find("SONARBOX_S3_ACCESS_KEY_ID"), std::string::npos) << r.output;

    const fs::path file = dir.path() / "s3.credentials";
    std::ofstream(file) << "access_key_id = key-Id-4411\nsecret_access_key = s3cr3t-Value-99\n";
    fs::permissions(file, fs::perms::owner_read | fs::perms::group_read);
    r = serve({"--objects-credentials", file.string()});
    EXPECT_NE(r.exitCode, 0);
    EXPECT_NE(r.output.find("make it 0600"), std::string::npos) << r.output;

    fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write,
                    fs::perm_options::replace);
    r = serve({"--objects-credentials", file.string()});
    // Past the credentials: the file to import is what is missing now.
    EXPECT_NE(r.output.find("not a regular file"), std::string::npos) << r.output;
    EXPECT_EQ(r.output.find("key-Id-4411"), std::string::npos);
    EXPECT_EQ(r.output.find("s3cr3t-Value-99"), std::string::npos);
}

} // namespace
