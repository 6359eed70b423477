// libtonemill linked against the engine: generated files identified in one
// call, the document carrying the catalogue's values.
#include "TestChild.h"
#include "json_reader.h"
#include "music_synth.h"
#include "test_catalog.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <tonemill/tonemill.h>

using namespace recog;
using namespace recog::testaudio;

namespace {

bool sh(const std::string &command) {
    return testchild::shell(command + " >/dev/null 2>&1") == 0;
}

std::string writeSong(const TempDir &dir, uint32_t seed, const std::string &name) {
    SongSpec recipe;
    recipe.seed = seed;
    recipe.seconds = 25;
    const std::string wav = dir.file(name + ".wav");
    EXPECT_TRUE(writeWav(wav, synthesizeSong(recipe), 44100, 2));
    return wav;
}

struct Call {
    int result = 0;
    std::string document;
    std::string user;
};

Call callTonemill(std::vector<std::string> args) {
    std::vector<char *> argv;
    for (std::string &a : args)
        argv.push_back(a.data());
    std::vector<char> response(1 << 20, '\0'), user(8192, '\0');
    Call c;
    c.result = tonemill_doGraceNote(int(argv.size()), argv.data(), response.data(),
                                    int(response.size()), user.data(), int(user.size()));
    c.document = response.data();
    c.user = user.data();
    return c;
}

const JsonValue *entryFor(const JsonValue &doc, const std::string &input) {
    for (const JsonValue &e : doc.items)
        if (e.string("input") == input)
            return &e;
    return nullptr;
}

} // namespace

TEST(TonemillWithEngine, IdentifiesGeneratedFilesInOneCall) {
    TempDir dir;
    const std::string db = dir.file("catalogue.db");
    const std::string tool = CATALOG_TOOL;
    const std::string a = writeSong(dir, 21, "a"), b = writeSong(dir, 22, "b"),
                      unknown = writeSong(dir, 23, "unknown");
    ASSERT_TRUE(sh("ffmpeg -nostdin -y -i " + a +
                   " -metadata title='Morning Light' -metadata artist='The Testers'"
                   " -metadata album='First Light' -metadata track=1 " +
                   dir.file("a.flac")));
    ASSERT_TRUE(sh("ffmpeg -nostdin -y -i " + b +
                   " -metadata title='Evening' -metadata artist='The Testers'"
                   " -metadata album='First Light' -metadata track=2 " +
                   dir.file("b.flac")));
    ASSERT_TRUE(sh(tool + " create " + db));
    ASSERT_TRUE(sh(tool + " add " + db + " " + dir.file("a.flac") + " " + dir.file("b.flac") +
                   " --label 'Sample Records' --genre Pop"));
    std::ofstream(dir.file("values.json"))
        << R"({"contributors": [{"name": "The Testers", "era": ["2020s"],
               "origin": ["Europe", "Western Europe"]}]})";
    ASSERT_TRUE(sh(tool + " import " + db + " " + dir.file("values.json")));

    // Untagged, re-encoded copies to identify.
    ASSERT_TRUE(sh("ffmpeg -nostdin -y -i " + a + " -b:a 96k " + dir.file("qa.mp3")));
    ASSERT_TRUE(sh("ffmpeg -nostdin -y -ss 3 -i " + b + " -af volume=-6dB " + dir.file("qb.wav")));
    std::ofstream(dir.file("init.txt")) << "# engine set-up\ncatalog=" << db << "\n";

    const Call first =
        callTonemill({"tonemill", "1234567", "0123456789ABCDEF0123456789ABCDEF",
                      dir.file("init.txt"), "-C", dir.file("qa.mp3"), dir.file("qb.wav"), unknown});
    EXPECT_EQ(first.result, 3) << first.document;
    EXPECT_EQ(first.user.rfind("TMU1.", 0), 0u);
    JsonValue doc;
    std::string error;
    ASSERT_TRUE(parseJson(first.document, doc, error)) << error << "\n" << first.document;
    ASSERT_EQ(doc.items.size(), 3u);

    const JsonValue *qa = entryFor(doc, dir.file("qa.mp3"));
    ASSERT_TRUE(qa);
    EXPECT_EQ(qa->string("hash").size(), 32u);
    const JsonValue &matches = *qa->member("graceNoteTrackInfo");
    ASSERT_EQ(matches.items.size(), 1u);
    const JsonValue &m = matches.items[0];
    EXPECT_EQ(m.string("trackName"), "Morning Light");
    EXPECT_EQ(m.string("trackNumber"), "1");
    EXPECT_EQ(m.string("albumName"), "First Light");
    EXPECT_EQ(m.string("artistName"), "The Testers");
    EXPECT_EQ(m.string("label"), "Sample Records");
    EXPECT_EQ(m.member("albumGenre")->items.at(0).text, "Pop");
    EXPECT_EQ(m.member("era")->items.at(0).text, "2020s");
    EXPECT_EQ(m.member("origin")->items.size(), 2u);
    EXPECT_EQ(m.string("trackId").front(), 'T');
    EXPECT_FALSE(m.string("trackUI").empty());
    EXPECT_EQ(m.string("artistId").front(), 'C');
    EXPECT_EQ(m.string("score"), "1.0");

    const JsonValue *qb = entryFor(doc, dir.file("qb.wav"));
    ASSERT_TRUE(qb);
    ASSERT_EQ(qb->member("graceNoteTrackInfo")->items.size(), 1u);
    EXPECT_EQ(qb->member("graceNoteTrackInfo")->items[0].string("trackName"), "Evening");
    EXPECT_TRUE(entryFor(doc, unknown)->member("graceNoteTrackInfo")->items.empty());

    // The user made by the first call serves the next one; the identifier of
    // a track finds it again.
    auto cat = Catalog::open(db, false, error);
    ASSERT_TRUE(cat) << error;
    const auto track = cat->track(1);
    ASSERT_EQ(track->tui, m.string("trackUI"));
    const std::string id = track->tui + "-" + track->tuiTag;
    // A catalogue named relative to the initialisation file is found beside it,
    // wherever the caller runs.
    std::ofstream(dir.file("relative.txt"))
        << "catalog=" << std::filesystem::path(db).filename().string() << "\n";
    const Call second = callTonemill({"tonemill", "1234567", "0123456789ABCDEF0123456789ABCDEF",
                                      dir.file("relative.txt"), "-u", first.user, "-i", id});
    EXPECT_EQ(second.result, 1);
    ASSERT_TRUE(parseJson(second.document, doc, error)) << error;
    ASSERT_EQ(doc.items.size(), 1u);
    EXPECT_EQ(doc.items[0].member("graceNoteTrackInfo")->items.at(0).string("trackName"),
              "Morning Light");
}

TEST(TonemillWithEngine, ReportsAnEngineThatCannotStart) {
    TempDir dir;
    std::ofstream(dir.file("init.txt")) << "catalog=" << dir.file("missing.db") << "\n";
    const std::string a = writeSong(dir, 24, "a");
    testing::internal::CaptureStderr();
    const Call c = callTonemill(
        {"tonemill", "1234567", "0123456789ABCDEF0123456789ABCDEF", dir.file("init.txt"), "-C", a});
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(c.result, 0);
    EXPECT_NE(err.find("missing.db"), std::string::npos) << err;
}
