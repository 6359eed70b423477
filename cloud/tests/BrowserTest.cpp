// The web player in headless Chromium (cloud/tests/web-player/browser.mjs,
// through the npm package puppeteer-core) against the real server, with a
// library of uploads and a catalogue match.
#include "TestChild.h"
#include "TestServer.h"

#include <gtest/gtest.h>

namespace fs = std::filesystem;
using namespace cloudtest;

TEST(BrowserTest, SignInBrowsePlaySearchAndSignOut) {
    TestServer server;
    TempDir media;
    server.addUser("ann@example.com", "ann-secret");
    server.addUser("bob@example.com", "bob-secret");
    const std::string blue =
        "-metadata album='Blue Hours' -metadata artist='Ann Band' -metadata date=2019 ";
    const std::string night =
        "-metadata album='Night Walks' -metadata artist='Ann Band' -metadata date=2021 ";
    const fs::path catalogue = makeSong(
        media.path(), "archive.mp3", 660,
        "-metadata title='Old Tune' -metadata artist='Zed' -metadata album='Archive'", true, 20);
    ASSERT_EQ(server.run({"import", catalogue}).exitCode, 0);

    const std::string ann = server.loginOrFail("ann@example.com", "ann-secret");
    int n = 0;
    for (const auto &[tags, title] :
         std::vector<std::pair<std::string, std::string>>{{blue, "Aurora Fields"},
                                                          {blue, "Blue Hour"},
                                                          {night, "Streetlights"},
                                                          {night, "Last Tram"}}) {
        const std::string name = "song" + std::to_string(++n) + ".mp3";
        server.upload(ann, name,
                      readFile(makeSong(media.path(), name, 300 + 110 * n,
                                        tags + "-metadata title='" + title +
                                            "' -metadata track=" + std::to_string((n - 1) % 2 + 1),
                                        true, 20)));
    }
    server.match(ann, md5Hex(readFile(catalogue)));
    // Another account's song must never show up in Ann's pages.
    const std::string bob = server.loginOrFail("bob@example.com", "bob-secret");
    server.upload(
        bob, "bob.mp3",
        readFile(makeSong(media.path(), "bob.mp3", 800,
                          "-metadata title='Aurora Bob' -metadata album='Aaa Bob'", true)));

    const std::string shot = (fs::current_path() / "web-player-library.png").string();
    const std::string cmd = "cd '" SONARBOX_WEB_PLAYER_DIR
                            "' && node browser.mjs http://127.0.0.1:" +
                            std::to_string(server.port()) +
                            " ann@example.com ann-secret 'Blue Hours' Bob '" + shot + "' 2>&1";
    std::string output;
    EXPECT_EQ(testchild::shell(cmd, &output), 0) << output;
    EXPECT_NE(output.find("all checks passed"), std::string::npos) << output;
    EXPECT_GT(fs::exists(shot) ? fs::file_size(shot) : 0, 10000u);
}
