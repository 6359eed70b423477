// libtonemill linked against an engine without gnsdk_manager_set_init_folder
// loads with every symbol bound at once and identifies as usual.
#include "FakeSdk.h"
#include "TestAudio.h"

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <string>
#include <vector>

namespace {

using Identify = int (*)(int, char **, char *, int, char *, int);

TEST(CommonEngine, LibraryLoadsAndIdentifies) {
    // The premise: nothing in this process offers the call.
    ASSERT_EQ(nullptr, dlsym(RTLD_DEFAULT, "gnsdk_manager_set_init_folder"));

    void *library = dlopen(TONEMILL_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(nullptr, library) << dlerror();
    const auto identify = reinterpret_cast<Identify>(dlsym(library, "tonemill_doGraceNote"));
    ASSERT_NE(nullptr, identify);

    fakesdk::reset();
    const std::string song = testaudio::sine("song.wav", 2);
    ASSERT_FALSE(song.empty());
    std::vector<std::string> texts = {
        "prog",   "1234567",
        "ABCDEF", testaudio::text("init-data.txt", "catalog=music.db\n"),
        "-u",     "fakeuser:1234567:ABCDEF:0",
        song,     "-i",
        "12-ab"};
    std::vector<char *> argv;
    for (std::string &text : texts) {
        argv.push_back(text.data());
    }
    std::vector<char> response(1 << 16, 'R');
    std::vector<char> user(256, 'U');
    EXPECT_EQ(2, identify(static_cast<int>(argv.size()), argv.data(), response.data(),
                          static_cast<int>(response.size()), user.data(),
                          static_cast<int>(user.size())));

    EXPECT_EQ("gnsdk_manager_initialize(catalog=music.db\n)", fakesdk::state().calls.at(0));
    ASSERT_EQ(2u, fakesdk::state().fileinfos.size());
    EXPECT_EQ(song, fakesdk::state().fileinfos[0].ident);
    EXPECT_EQ(static_cast<std::size_t>(2 * 44100 - 1) * 4,
              fakesdk::state().fileinfos[0].bytesWritten);
    const std::string document = response.data();
    EXPECT_NE(std::string::npos, document.find("\"input\": \"12-ab\"")) << document;
    EXPECT_STREQ("fakeuser:1234567:ABCDEF:0", user.data());
}

} // namespace
