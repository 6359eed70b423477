#include "FplibTestSupport.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

using fakesdk::callCount;
using fakesdk::callNames;
using fakesdk::failAt;

namespace {

using Session = FakeSdkTest;

TEST_F(Session, InitNeedsAllThreeTextsBeforeTouchingTheEngine) {
    Gnhandler handler;
    EXPECT_EQ(-1, handler.Init(nullptr, "tag", "data", "/srv/engine"));
    EXPECT_EQ(-1, handler.Init("id", nullptr, "data", "/srv/engine"));
    EXPECT_EQ(-1, handler.Init("id", "tag", nullptr, "/srv/engine"));
    EXPECT_EQ(-1, handler.Init("id", "tag", "", "/srv/engine"));
    EXPECT_TRUE(callNames().empty());

    // An engine that takes an initialisation folder gets it before it starts.
    ASSERT_EQ(0, handler.Init("id", "tag", "data", "/srv/engine"));
    const std::vector<std::string> &calls = fakesdk::state().calls;
    ASSERT_LE(2u, calls.size());
    EXPECT_EQ("gnsdk_manager_set_init_folder(/srv/engine)", calls[0]);
    EXPECT_EQ("gnsdk_manager_initialize(data)", calls[1]);
}

TEST_F(Session, InitFailuresNameTheStepAndStopThere) {
    struct Case {
        const char *op;
        int32_t status;
        int callsMade;
    };
    for (const Case &c :
         {Case{"gnsdk_manager_initialize", -1, 1}, Case{"gnsdk_dsp_initialize", -2, 2},
          Case{"gnsdk_musicidfile_initialize", -4, 3}}) {
        fakesdk::reset();
        failAt(c.op, 1, 0x90A00007u);
        Gnhandler handler;
        EXPECT_EQ(c.status, handler.Init("id", "tag", "data")) << c.op;
        EXPECT_EQ(c.callsMade, static_cast<int>(callNames().size())) << c.op;
        EXPECT_EQ(0, callCount("gnsdk_manager_shutdown"));
    }
    EXPECT_NE(std::string::npos,
              stderrText().find("GNSDK Error @ gnhandler_init:-4: [0x90a00007] scripted failure of "
                                "gnsdk_musicidfile_initialize\n"));
}

TEST_F(Session, CreateUserWritesBySizeAndLoadsTheLocale) {
    Gnhandler handler;
    ASSERT_EQ(0, handler.Init("1234567", "TAG", "data"));
    std::vector<char> buffer(12, 'X');
    // size 10: nine characters, a NUL, and a NUL at position 10.
    EXPECT_EQ(0, handler.CreateUser(buffer.data(), 10));
    EXPECT_STREQ("fakeuser:", buffer.data());
    EXPECT_EQ('\0', buffer[10]);
    EXPECT_EQ('X', buffer[11]);

    const std::vector<std::string> &calls = fakesdk::state().calls;
    EXPECT_NE(std::find(calls.begin(), calls.end(), "gnsdk_manager_user_create_new(0.98)"),
              calls.end());
    EXPECT_NE(std::find(calls.begin(), calls.end(),
                        "gnsdk_manager_user_option_set(gnsdk_useroption_network_loadbalance=true)"),
              calls.end());
    EXPECT_NE(
        std::find(calls.begin(), calls.end(),
                  "gnsdk_manager_locale_load(gnsdk_locale_music,eng,null,gnsdk_desc_detailed)"),
        calls.end());
    EXPECT_EQ(1, callCount("gnsdk_manager_locale_set_group_default"));
    EXPECT_EQ(1, callCount("gnsdk_manager_locale_release"));
    handler.Shutdown(nullptr, 0);
}

TEST_F(Session, CreateUserWithoutBufferDoesNotCallTheEngine) {
    Gnhandler handler;
    char buffer[4];
    EXPECT_EQ(-1, handler.CreateUser(buffer, 0));
    EXPECT_EQ(-1, handler.CreateUser(nullptr, 10));
    EXPECT_TRUE(callNames().empty());
    EXPECT_EQ("No buffer passed for user-create.\n\nNo buffer passed for user-create.\n\n",
              stderrText());
}

TEST_F(Session, CreateUserFailuresByStep) {
    struct Case {
        const char *op;
        int32_t status;
        const char *message;
    };
    for (const Case &c :
         {Case{"gnsdk_manager_user_create_new", -1, "GNSDK Error @ gnhandler_create_user:-1"},
          Case{"gnsdk_manager_user_option_set", -2, "GNSDK Error @ gnhandler_create_user:-2"},
          Case{"gnsdk_manager_user_serialize", -3, "GNSDK Error @ gnhandler_create_user:-3"},
          Case{"gnsdk_manager_locale_load", -1,
               "GNSDK Error @ gnhandler_create_user:init_locale:0"},
          Case{"gnsdk_manager_locale_set_group_default", -1,
               "GNSDK Error @ gnhandler_init_locale:-2"}}) {
        fakesdk::reset();
        failAt(c.op);
        Gnhandler handler;
        ASSERT_EQ(0, handler.Init("id", "tag", "data"));
        char buffer[64] = "untouched";
        EXPECT_EQ(c.status, handler.CreateUser(buffer, 60)) << c.op;
        EXPECT_STREQ("untouched", buffer) << c.op;
        handler.Shutdown(nullptr, 0);
        EXPECT_EQ(0, fakesdk::state().liveStrings) << c.op;
    }
    const std::string &err = stderrText();
    EXPECT_NE(std::string::npos, err.find("GNSDK Error @ gnhandler_create_user:-3"));
    EXPECT_NE(std::string::npos, err.find("GNSDK Error @ gnhandler_create_user:init_locale:0"));
    EXPECT_NE(std::string::npos, err.find("GNSDK Error @ gnhandler_init_locale:-2"));
}

TEST_F(Session, RejectedUserTextIsShownAndFails) {
    Gnhandler handler;
    ASSERT_EQ(0, handler.Init("id", "tag", "data"));
    EXPECT_EQ(-1, handler.LoadUser("not-a-user"));
    EXPECT_EQ(-1, handler.LoadUser(nullptr));
    EXPECT_EQ("Serialized User passed to load_user:\nnot-a-user\n"
              "GNSDK Error @ gnhandler_load_user:-1: [0x9080000a] serialized user not accepted\n"
              "No user data passed for user-load.\n\n",
              stderrText());
}

TEST_F(Session, LoadedUserWithoutItsLocaleFails) {
    for (const char *op : {"gnsdk_manager_locale_load", "gnsdk_manager_locale_set_group_default"}) {
        fakesdk::reset();
        failAt(op, 1, 0x90800004u);
        Gnhandler handler;
        ASSERT_EQ(0, handler.Init("id", "tag", "data"));
        EXPECT_EQ(-1, handler.LoadUser("fakeuser:1234567:ABCDEF:0")) << op;
        handler.Shutdown(nullptr, 0);
    }
    EXPECT_EQ("GNSDK Error @ gnhandler_init_locale:-1: [0x90800004] scripted failure of "
              "gnsdk_manager_locale_load\n"
              "GNSDK Error @ gnhandler_create_user:init_locale:0: [0x90800004] scripted failure "
              "of gnsdk_manager_locale_load\n"
              "GNSDK Error @ gnhandler_init_locale:-2: [0x90800004] scripted failure of "
              "gnsdk_manager_locale_set_group_default\n"
              "GNSDK Error @ gnhandler_create_user:init_locale:0: [0x90800004] scripted failure "
              "of gnsdk_manager_locale_set_group_default\n",
              stderrText());
}

TEST_F(Session, ShutdownHandsBackTheUserAndStopsEveryModule) {
    Gnhandler handler;
    startSession(handler);
    std::vector<char> buffer(64, 'X');
    EXPECT_EQ(0, handler.Shutdown(buffer.data(), 63));
    EXPECT_STREQ("fakeuser:1234567:ABCDEF:0", buffer.data());
    std::vector<std::string> names = callNames();
    const std::vector<std::string> tail(names.end() - 5, names.end());
    EXPECT_EQ((std::vector<std::string>{"gnsdk_manager_user_release", "gnsdk_manager_string_free",
                                        "gnsdk_musicidfile_shutdown", "gnsdk_dsp_shutdown",
                                        "gnsdk_manager_shutdown"}),
              tail);
}

TEST_F(Session, FailedReleaseStillHandsBackTextButSkipsShutdowns) {
    Gnhandler handler;
    startSession(handler);
    failAt("gnsdk_manager_user_release");
    char buffer[64] = {};
    EXPECT_EQ(-1, handler.Shutdown(buffer, 63));
    EXPECT_STREQ("fakeuser:1234567:ABCDEF:0", buffer);
    EXPECT_EQ(0, callCount("gnsdk_musicidfile_shutdown"));
    EXPECT_EQ(0, callCount("gnsdk_dsp_shutdown"));
    EXPECT_EQ(0, callCount("gnsdk_manager_shutdown"));
    EXPECT_NE(std::string::npos, stderrText().find("GNSDK Error @ gnhandler_shutdown:-1"));
}

TEST_F(Session, ShutdownStopsAtTheFirstFailingModule) {
    Gnhandler handler;
    startSession(handler);
    failAt("gnsdk_dsp_shutdown");
    EXPECT_EQ(-4, handler.Shutdown(nullptr, 0));
    EXPECT_EQ(0, callCount("gnsdk_manager_shutdown"));
    EXPECT_NE(std::string::npos, stderrText().find("GNSDK Error @ gnhandler_shutdown:-4"));
}

TEST_F(Session, LoggingPassesTheMasksAndIgnoresFailure) {
    Gnhandler handler;
    EXPECT_EQ(0, handler.InitLogging("/tmp/engine.log"));
    EXPECT_EQ("gnsdk_manager_logging_enable(/tmp/engine.log,255,15,4278190080,0,1)",
              fakesdk::state().calls.back());
    failAt("gnsdk_manager_logging_enable", 0);
    EXPECT_EQ(0, handler.InitLogging("/tmp/engine.log"));
    EXPECT_NE(std::string::npos, stderrText().find("GNSDK Error @ InitLogging:0"));
}

TEST_F(Session, ReadValueMissesRunTogetherOnOneLine) {
    // Data objects are only reachable through a response of the engine.
    Gnhandler handler;
    startSession(handler);
    EXPECT_EQ(nullptr, Gnhandler::ReadValue(nullptr, "x", 1));
    fakesdk::NodePtr track = fakesdk::Node::make();
    track->value(GNSDK_MUSICIDFILE_GDO_VALUE_IDENT, "T1-tag");
    fakesdk::NodePtr album = fakesdk::Node::make();
    album->child(GNSDK_GDO_CHILD_TRACK_MATCHED, track);
    fakesdk::state().responder = [album](const std::vector<fakesdk::FileInfoRecord> &) {
        fakesdk::NodePtr response = fakesdk::Node::make();
        response->child(GNSDK_GDO_CHILD_ALBUM, album);
        return std::vector<fakesdk::NodePtr>{response};
    };
    ASSERT_EQ(0, handler.InitQuery());
    ASSERT_EQ(0, handler.FingerprintById("T1-tag"));
    char document[8192];
    ASSERT_EQ(0, handler.FinalizeQuery(document, sizeof document, 0));
    // An empty track: every single value read misses and prints its name with
    // a trailing blank and no line end.
    EXPECT_NE(std::string::npos,
              stdoutText().find("SDKMGRERR_NotFound SDKMGRERR_NotFound SDKMGRERR_NotFound "));
    handler.Shutdown(nullptr, 0);
}

TEST_F(Session, ReadValueNamesTheEnginesErrors) {
    // A scripted failure answers before the engine looks at the data object.
    const auto object = reinterpret_cast<gnsdk_gdo_handle_t>(0x1);
    for (const gnsdk_error_t code :
         {0x90800007u, 0x90800001u, 0x90800320u, 0x90800321u, 0x90800003u, 0x90800004u}) {
        failAt("gnsdk_manager_gdo_value_get", 0, code);
        EXPECT_EQ(nullptr, Gnhandler::ReadValue(object, "gnsdk_val_gnid", 1)) << code;
        std::printf("|");
    }
    EXPECT_EQ("SDKMGRERR_NotInited|SDKMGRERR_InvalidArg|SDKMGRERR_HandleObjectInvalid|"
              "SDKMGRERR_HandleObjectWrongType|SDKMGRERR_NotFound ||",
              stdoutText());
}

TEST_F(Session, ListDumpWritesEachListWithCountsAndDepth) {
    const auto previous = std::filesystem::current_path();
    const auto folder =
        std::filesystem::temp_directory_path() / ("fplib-lists-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    std::filesystem::current_path(folder);
    Gnhandler handler;
    startSession(handler);
    handler.PrintLists();
    handler.Shutdown(nullptr, 0);
    std::filesystem::current_path(previous);
    std::ifstream file(folder / "lists.xml");
    std::stringstream text;
    text << file.rdbuf();
    std::filesystem::remove_all(folder);
    EXPECT_EQ("Eras (1d)\n,gnsdk_list_type_eras top\n,,gnsdk_list_type_eras child\n"
              "Genres (1d)\n,gnsdk_list_type_genres top\n,,gnsdk_list_type_genres child\n"
              "Moods (1d)\n,gnsdk_list_type_moods top\n,,gnsdk_list_type_moods child\n"
              "Tempos(1d)\n,gnsdk_list_type_tempos top\n,,gnsdk_list_type_tempos child\n",
              text.str());
}

} // namespace
