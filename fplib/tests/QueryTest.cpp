#include "FileMetadata.h"
#include "FplibTestSupport.h"

#include <algorithm>
#include <cstring>
#include <vector>

using fakesdk::callCount;
using fakesdk::callNames;
using fakesdk::failAt;

namespace {

using Query = FakeSdkTest;

const int16_t Pcm[8] = {100, -100, 200, -200, 300, -300, 400, -400};

std::vector<std::string> callsStartingWith(const std::string &prefix) {
    std::vector<std::string> found;
    for (const std::string &call : fakesdk::state().calls) {
        if (call.rfind(prefix, 0) == 0) {
            found.push_back(call);
        }
    }
    return found;
}

TEST_F(Query, OptionsAreSetInOrderToOne) {
    Gnhandler handler;
    startSession(handler);
    ASSERT_EQ(0, handler.InitQuery());
    EXPECT_EQ((std::vector<std::string>{
                  "gnsdk_musicidfile_query_option_set(gnsdk_midf_option_enable_classical=1)",
                  "gnsdk_musicidfile_query_option_set(gnsdk_midf_option_enable_content=1)",
                  "gnsdk_musicidfile_query_option_set(gnsdk_midf_option_enable_xids=1)",
                  "gnsdk_musicidfile_query_option_set(gnsdk_midf_option_enable_globalids=1)",
                  "gnsdk_musicidfile_query_option_set(gnsdk_midf_option_enable_sonic=1)"}),
              callsStartingWith("gnsdk_musicidfile_query_option_set"));
    char document[64];
    handler.FinalizeQuery(document, sizeof document, 0);
    handler.Shutdown(nullptr, 0);
}

TEST_F(Query, OptionFailureGivesItsPositionAndReleasesTheQuery) {
    const std::pair<int, int32_t> cases[] = {{1, -1}, {2, -1}, {4, -3}, {5, -4}};
    for (const auto &[failingCall, status] : cases) {
        fakesdk::reset();
        failAt("gnsdk_musicidfile_query_option_set", failingCall);
        Gnhandler handler;
        startSession(handler);
        EXPECT_EQ(status, handler.InitQuery()) << failingCall;
        EXPECT_EQ(failingCall, callCount("gnsdk_musicidfile_query_option_set"));
        EXPECT_FALSE(handler.hasQuery());
        EXPECT_EQ(0, fakesdk::state().liveQueries);
        handler.Shutdown(nullptr, 0);
    }
    EXPECT_NE(std::string::npos,
              stderrText().find("GNSDK Error @ gnhandler_fingerprint_file_init_query:-4"));
}

TEST_F(Query, QueryCreationFailureIsSilent) {
    Gnhandler handler;
    startSession(handler);
    failAt("gnsdk_musicidfile_query_create");
    EXPECT_EQ(-1, handler.InitQuery());
    EXPECT_EQ(-1, handler.FingerprintById("1-2"));
    EXPECT_EQ(-1, handler.FingerprintFile("h", 44100, 2, Pcm, sizeof Pcm, "/a.mp3", nullptr));
    EXPECT_EQ("", stderrText());
    handler.Shutdown(nullptr, 0);
}

TEST_F(Query, FileGetsNameTagsAndOneFingerprintWrite) {
    Gnhandler handler;
    startSession(handler);
    ASSERT_EQ(0, handler.InitQuery());
    FileMetadata metadata;
    metadata.artist = strdup("Artist");
    metadata.album = strdup("Album");
    metadata.track = strdup("7");
    metadata.title = strdup("Title");
    ASSERT_EQ(
        0, handler.FingerprintFile("abc", 22050, 1, Pcm, sizeof Pcm, "/music/a.flac", &metadata));
    const fakesdk::FileInfoRecord &record = fakesdk::state().fileinfos.at(0);
    EXPECT_EQ("/music/a.flac", record.ident);
    using Pair = std::pair<std::string, std::string>;
    EXPECT_EQ((std::vector<Pair>{{"gnsdk_midf_fileinfo_value_filename", "/music/a.flac"},
                                 {"gnsdk_midf_fileinfo_value_albumartist", "Artist"},
                                 {"gnsdk_midf_fileinfo_value_albumtitle", "Album"},
                                 {"gnsdk_midf_fileinfo_value_tracknumber", "7"},
                                 {"gnsdk_midf_fileinfo_value_tracktitle", "Title"}}),
              record.metadata);
    EXPECT_EQ(22050u, record.sampleRate);
    EXPECT_EQ(16u, record.bitsPerSample);
    EXPECT_EQ(1u, record.channels);
    EXPECT_EQ(1, record.writes);
    EXPECT_EQ(sizeof Pcm, record.bytesWritten);
    EXPECT_TRUE(record.fingerprintEnded);
    ASSERT_EQ(1, handler.fileQueryCount());
    EXPECT_EQ("abc", handler.fileQueryEntries()[0].hash);
    char document[64];
    handler.FinalizeQuery(document, sizeof document, 0);
    handler.Shutdown(nullptr, 0);
}

TEST_F(Query, TagTheEngineRefusesIsReportedAndTheOthersStillGo) {
    Gnhandler handler;
    startSession(handler);
    ASSERT_EQ(0, handler.InitQuery());
    FileMetadata metadata;
    metadata.artist = strdup("Artist");
    metadata.album = strdup("Album");
    metadata.track = strdup("7");
    metadata.title = strdup("Title");
    failAt("gnsdk_musicidfile_fileinfo_metadata_set:gnsdk_midf_fileinfo_value_albumartist");
    failAt("gnsdk_musicidfile_fileinfo_metadata_set:gnsdk_midf_fileinfo_value_tracknumber");
    ASSERT_EQ(0, handler.FingerprintFile("abc", 44100, 2, Pcm, sizeof Pcm, "/b.flac", &metadata));
    using Pair = std::pair<std::string, std::string>;
    EXPECT_EQ((std::vector<Pair>{{"gnsdk_midf_fileinfo_value_filename", "/b.flac"},
                                 {"gnsdk_midf_fileinfo_value_albumtitle", "Album"},
                                 {"gnsdk_midf_fileinfo_value_tracktitle", "Title"}}),
              fakesdk::state().fileinfos.at(0).metadata);
    EXPECT_EQ(1, handler.fileQueryCount());
    char document[64];
    handler.FinalizeQuery(document, sizeof document, 0);
    handler.Shutdown(nullptr, 0);
    EXPECT_EQ(0u, stdoutText().find(
                      "Can't set metadata for key 'gnsdk_midf_fileinfo_value_albumartist' with "
                      "value 'Artist'.\n"
                      "Can't set metadata for key 'gnsdk_midf_fileinfo_value_tracknumber' with "
                      "value '7'.\n"));
}

TEST_F(Query, FileProblems) {
    Gnhandler handler;
    startSession(handler);
    ASSERT_EQ(0, handler.InitQuery());

    // Too little audio for a fingerprint is only a warning.
    fakesdk::state().bytesForCompleteFingerprint = 1 << 20;
    EXPECT_EQ(0, handler.FingerprintFile("h1", 44100, 2, Pcm, sizeof Pcm, "/short.wav", nullptr));
    fakesdk::state().bytesForCompleteFingerprint = 1;

    // A failing name is reported and the file still goes in.
    failAt("gnsdk_musicidfile_fileinfo_metadata_set:" GNSDK_MUSICIDFILE_FILEINFO_VALUE_FILENAME, 2);
    EXPECT_EQ(0, handler.FingerprintFile("h2", 44100, 2, Pcm, sizeof Pcm, "/noname.wav", nullptr));

    // A failing fingerprint takes the file back out of the query.
    failAt("gnsdk_musicidfile_fileinfo_fingerprint_write", 3, 0x90A00001u);
    EXPECT_EQ(static_cast<int32_t>(0x90A00001u),
              handler.FingerprintFile("h3", 44100, 2, Pcm, sizeof Pcm, "/bad.wav", nullptr));
    EXPECT_TRUE(fakesdk::state().fileinfos.at(2).removed);

    failAt("gnsdk_musicidfile_query_fileinfo_create", 4, 0x90B00003u);
    EXPECT_EQ(static_cast<int32_t>(0x90B00003u),
              handler.FingerprintFile("h4", 44100, 2, Pcm, sizeof Pcm, "/gone.wav", nullptr));

    EXPECT_EQ(2, handler.fileQueryCount());
    const std::string &out = stdoutText();
    EXPECT_NE(std::string::npos,
              out.find("Warning: input file does not contain enough data to generate a "
                       "fingerprint:\n/short.wav\n"));
    EXPECT_NE(std::string::npos, out.find("Error with /noname.wav.\n"));
    EXPECT_NE(std::string::npos,
              stderrText().find("GNSDK Error @ gnhandler_fingerprint_file - "
                                "gnsdk_musicidfile_query_fileinfo_create() failed:-1867513853:"));
    char document[64];
    handler.FinalizeQuery(document, sizeof document, 0);
    handler.Shutdown(nullptr, 0);
}

TEST_F(Query, IdentifierIsSplitAtTheFirstMinus) {
    Gnhandler handler;
    startSession(handler);
    ASSERT_EQ(0, handler.InitQuery());
    char identifier[] = "12345-ABC-D";
    ASSERT_EQ(0, handler.FingerprintById(identifier));
    EXPECT_STREQ("12345-ABC-D", identifier);
    using Pair = std::pair<std::string, std::string>;
    EXPECT_EQ((std::vector<Pair>{{GNSDK_MUSICIDFILE_FILEINFO_VALUE_TUITAG, "ABC-D"},
                                 {GNSDK_MUSICIDFILE_FILEINFO_VALUE_TUI, "12345"}}),
              fakesdk::state().fileinfos.at(0).metadata);
    EXPECT_EQ("0", handler.fileQueryEntries().at(0).hash);
    char document[64];
    handler.FinalizeQuery(document, sizeof document, 0);
    handler.Shutdown(nullptr, 0);
}

TEST_F(Query, IdentifierFailures) {
    Gnhandler handler;
    startSession(handler);
    ASSERT_EQ(0, handler.InitQuery());
    // No minus sign: no tag to read, rejected without reading past the text.
    EXPECT_EQ(-3, handler.FingerprintById("12345"));
    EXPECT_TRUE(fakesdk::state().fileinfos.at(0).removed);
    EXPECT_TRUE(fakesdk::state().fileinfos.at(0).metadata.empty());

    failAt("gnsdk_musicidfile_query_fileinfo_create", 2);
    EXPECT_EQ(-2, handler.FingerprintById("1-a"));
    failAt("gnsdk_musicidfile_fileinfo_metadata_set:" GNSDK_MUSICIDFILE_FILEINFO_VALUE_TUITAG);
    EXPECT_EQ(-3, handler.FingerprintById("2-b"));
    failAt("gnsdk_musicidfile_fileinfo_metadata_set:" GNSDK_MUSICIDFILE_FILEINFO_VALUE_TUI);
    EXPECT_EQ(-4, handler.FingerprintById("3-c"));
    EXPECT_EQ(0, handler.fileQueryCount());
    EXPECT_EQ("Error with 12345.\nError with 1-a.\nError with 2-b.\nError with 3-c.\n",
              stdoutText());
    EXPECT_NE(std::string::npos,
              stderrText().find("GNSDK Error @ gnhandler_fingerprint_file_byid:-4"));
    char document[64];
    handler.FinalizeQuery(document, sizeof document, 0);
    handler.Shutdown(nullptr, 0);
}

TEST_F(Query, ModesChooseTheCallAndFlags) {
    for (int32_t mode : {0, 1, 7}) {
        fakesdk::reset();
        Gnhandler handler;
        startSession(handler);
        ASSERT_EQ(0, handler.InitQuery());
        ASSERT_EQ(0, handler.FingerprintById("1-a"));
        char document[4096];
        EXPECT_EQ(0, handler.FinalizeQuery(document, sizeof document, mode));
        if (mode == 0) {
            EXPECT_EQ(1, callCount("gnsdk_musicidfile_query_do_libraryid"));
            EXPECT_EQ(GNSDK_MUSICIDFILE_QUERY_FLAG_RETURN_SINGLE, fakesdk::state().lastQueryFlags);
        } else {
            EXPECT_EQ(1, callCount("gnsdk_musicidfile_query_do_trackid"));
            EXPECT_EQ(GNSDK_MUSICIDFILE_QUERY_FLAG_RETURN_ALL, fakesdk::state().lastQueryFlags);
        }
        EXPECT_EQ(1, callCount("gnsdk_musicidfile_query_release"));
        EXPECT_EQ(0, fakesdk::state().liveQueries);
        handler.Shutdown(nullptr, 0);
    }
}

TEST_F(Query, ResultsArriveOnTheEnginesThread) {
    Gnhandler handler;
    startSession(handler);
    ASSERT_EQ(0, handler.InitQuery());
    ASSERT_EQ(0, handler.FingerprintById("1-a"));
    char document[4096];
    ASSERT_EQ(0, handler.FinalizeQuery(document, sizeof document, 0));
    ASSERT_EQ(1u, fakesdk::state().callbackThreads.size());
    EXPECT_NE(std::this_thread::get_id(), fakesdk::state().callbackThreads[0]);
    EXPECT_TRUE(handler.fileQueryEntries()[0].hasResults);
    EXPECT_NE(nullptr, std::strstr(document, "\"trackId\": \"track-1-a\""));
    handler.Shutdown(nullptr, 0);
}

TEST_F(Query, FailedQueryStillWritesTheDocument) {
    struct Case {
        const char *op;
        int32_t status;
    };
    for (const Case &c :
         {Case{"gnsdk_musicidfile_query_do_libraryid", -1},
          Case{"gnsdk_musicidfile_query_wait_for_complete", -2}, Case{nullptr, -3}}) {
        fakesdk::reset();
        if (c.op != nullptr) {
            failAt(c.op);
        } else {
            fakesdk::state().completeError = 0x90B00006u;
        }
        Gnhandler handler;
        startSession(handler);
        ASSERT_EQ(0, handler.InitQuery());
        ASSERT_EQ(0, handler.FingerprintById("1-a"));
        char document[4096] = "before";
        EXPECT_EQ(c.status, handler.FinalizeQuery(document, sizeof document, 0));
        EXPECT_NE(nullptr, std::strstr(document, "\"input\": \"1-a\"")) << document;
        EXPECT_EQ(1, callCount("gnsdk_musicidfile_query_release"));
        handler.Shutdown(nullptr, 0);
    }
    EXPECT_NE(std::string::npos,
              stderrText().find("GNSDK Error @ gnhandler_fingerprint_file_finalize_query:-3"));
}

} // namespace
