// The web player in headless Chromium (cloud/tests/web-player/browser.mjs,
// through the npm packages puppeteer-core and axe-core) against the real
// server, with a library of uploads in several formats, a song no decoder
// can read and a catalogue match; then a third-party client (player-client/)
// reads the playlist the page made.
#include "TestChild.h"
#include "TestServer.h"

#include <gtest/gtest.h>

#include <fstream>

namespace fs = std::filesystem;
using namespace cloudtest;

namespace {

// A stored file damaged on the server's disk: the same length, bytes no
// decoder takes. The song still lists, and nothing can play it.
void damageStoredCopy(const fs::path &data, const std::string &content) {
    for (const auto &entry : fs::recursive_directory_iterator(data)) {
        if (entry.is_regular_file() && entry.file_size() == content.size() &&
            readFile(entry.path()) == content) {
            std::ofstream(entry.path(), std::ios::binary | std::ios::trunc)
                << std::string(content.size(), '\x5a');
            return;
        }
    }
    FAIL() << "the stored copy was not found";
}

} // namespace

TEST(BrowserTest, TheWebPlayerOnAComputerAndAPhone) {
    TestServer server;
    TempDir media;
    server.addUser("ann@example.com", "ann-secret");
    server.addUser("bob@example.com", "bob-secret");
    const fs::path catalogue = makeSong(
        media.path(), "archive.mp3", 660,
        "-metadata title='Old Tune' -metadata artist='Zed' -metadata album='Archive'", true, 20);
    ASSERT_EQ(server.run({"import", catalogue}).exitCode, 0);

    const std::string ann = server.loginOrFail("ann@example.com", "ann-secret");
    const std::string blue = "-metadata album='Blue Hours' -metadata artist='Ann Band' "
                             "-metadata date=2019 -metadata genre=Jazz ";
    const std::string night = "-metadata album='Night Walks' -metadata artist='Ann Band' "
                              "-metadata date=2021 -metadata genre=Rock ";
    const std::vector<std::tuple<std::string, std::string, std::string, bool>> songs = {
        {"a.mp3", blue, "Aurora Fields", true},
        {"b.mp3", blue, "Blue Hour", true},
        {"c.mp3", blue, "Cold Harbour", true},
        {"d.mp3", night, "Streetlights", true},
        {"e.mp3", night, "Last Tram", true},
        // The browser plays no WMA: the page asks for a transcode.
        {"f.wma", "-metadata album='Odd Formats' -metadata artist='Ann Band' ", "Wax Cylinder",
         false}};
    int n = 0;
    for (const auto &[name, tags, title, cover] : songs) {
        ++n;
        server.upload(ann, name,
                      readFile(makeSong(media.path(), name, 300 + 70 * n,
                                        tags + "-metadata title='" + title +
                                            "' -metadata track=" + std::to_string(n),
                                        cover, 20)));
    }
    const std::string broken = readFile(
        makeSong(media.path(), "broken.mp3", 500,
                 "-metadata title='Broken Record' -metadata album='Scratches'", false, 20));
    server.upload(ann, "broken.mp3", broken);
    damageStoredCopy(server.dataDir(), broken);
    server.match(ann, md5Hex(readFile(catalogue)));
    // Another account's song must never show up in Ann's pages.
    const std::string bob = server.loginOrFail("bob@example.com", "bob-secret");
    server.upload(
        bob, "bob.mp3",
        readFile(makeSong(media.path(), "bob.mp3", 800,
                          "-metadata title='Aurora Bob' -metadata album='Aaa Bob'", true)));

    const fs::path shots = SONARBOX_WEB_PLAYER_SHOTS;
    fs::create_directories(shots);
    const std::string base = "http://127.0.0.1:" + std::to_string(server.port());
    std::string output;
    EXPECT_EQ(testchild::shell("cd '" SONARBOX_WEB_PLAYER_DIR "' && node browser.mjs " + base +
                                   " ann@example.com ann-secret Bob '" + shots.string() + "' 2>&1",
                               &output),
              0)
        << output;
    EXPECT_NE(output.find("all checks passed"), std::string::npos) << output;
    for (const char *shot : {"desktop-light", "desktop-dark", "phone-light", "phone-dark"}) {
        const fs::path png = shots / ("web-player-" + std::string(shot) + ".png");
        EXPECT_GT(fs::exists(png) ? fs::file_size(png) : 0, 10000u) << png;
    }

    // The playlist the page made, renamed and reordered, as another player sees it.
    const auto phone = addPlayerPassword(server, "ann@example.com", "client");
    std::string lists;
    EXPECT_EQ(testchild::shell("cd '" SONARBOX_PLAYER_CLIENT_DIR "' && node playlists.mjs " + base +
                                   " ann@example.com " + phone.password + " 2>&1",
                               &lists),
              0)
        << lists;
    EXPECT_EQ(lists, "Long drive\tLast Tram | Old Tune\n");
}
