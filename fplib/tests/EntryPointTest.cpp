#include "FplibTestSupport.h"
#include "MBCollection.h"
#include "TestAudio.h"
#include "tonemill/tonemill.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

using fakesdk::callCount;
using fakesdk::failAt;

namespace {

const char *const User = "fakeuser:1234567:ABCDEF:0";

class EntryPoint : public FakeSdkTest {
protected:
    void SetUp() override {
        initData = testaudio::text("init-data.txt", "engine=fake\n");
        FakeSdkTest::SetUp();
        response.assign(1 << 16, 'R');
        user.assign(256, 'U');
    }
    void TearDown() override {
        unsetenv("TONEMILL_DECODE_WORKERS");
        FakeSdkTest::TearDown();
    }
    // prog, client ID, client tag, init data, then the rest.
    int call(std::vector<std::string> rest, int mode = 0) {
        std::vector<std::string> texts = {"prog", "1234567", "ABCDEF", initData};
        texts.insert(texts.end(), rest.begin(), rest.end());
        return callRaw(texts, mode);
    }
    int callRaw(std::vector<std::string> texts, int mode = 0) {
        storage = texts;
        argv.clear();
        for (std::string &text : storage) {
            argv.push_back(text.data());
        }
        const int argc = static_cast<int>(argv.size());
        if (mode == 0) {
            return tonemill_doGraceNote(argc, argv.data(), response.data(),
                                        static_cast<int>(response.size()), user.data(),
                                        static_cast<int>(user.size()));
        }
        return tonemill_doGraceNoteUniversal(argc, argv.data(), response.data(),
                                             static_cast<int>(response.size()), user.data(),
                                             static_cast<int>(user.size()), mode);
    }
    std::string document() const { return response.data(); }
    static std::string fileText(const std::string &path) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    std::string initData;
    std::vector<char> response;
    std::vector<char> user;
    std::vector<std::string> storage;
    std::vector<char *> argv;
};

TEST_F(EntryPoint, TooFewArgumentsPrintUsageOnly) {
    EXPECT_EQ(0, callRaw({"prog", "id", "tag", "init", "-C"}));
    const std::string &err = stderrText();
    EXPECT_EQ(0u, err.rfind("Usage: prog <ClientID> <ClientTag> ", 0));
    const std::string tail = "[-e <LogFilePath>] [-U <UserHandleFile> | -u <user handle string> | "
                             "-C | -c <UserHandleOutputFile>] <AudioFile>\n\n";
    EXPECT_EQ(tail, err.substr(err.size() - tail.size()));
    EXPECT_TRUE(fakesdk::state().calls.empty());
    EXPECT_EQ('R', response[0]);
    EXPECT_EQ(0, tonemill_doGraceNote(0, nullptr, response.data(), 10, user.data(), 10));
}

TEST_F(EntryPoint, UnusableBuffersEndTheCall) {
    const std::vector<std::string> args = {"prog", "1", "2", initData, "-C", "x.mp3"};
    storage = args;
    argv.clear();
    for (std::string &text : storage) {
        argv.push_back(text.data());
    }
    EXPECT_EQ(0, tonemill_doGraceNote(6, argv.data(), response.data(), 100, user.data(), 1));
    EXPECT_EQ(0, tonemill_doGraceNote(6, argv.data(), response.data(), 1, user.data(), 100));
    EXPECT_EQ(0, tonemill_doGraceNote(6, argv.data(), nullptr, 100, user.data(), 100));
    EXPECT_EQ("No user buffer or response buffer passed in. Exiting.\n\n"
              "No user buffer or response buffer passed in. Exiting.\n\n"
              "No user buffer or response buffer passed in. Exiting.\n\n",
              stderrText());
    EXPECT_TRUE(fakesdk::state().calls.empty());
}

TEST_F(EntryPoint, EngineThatCannotStartEndsTheCall) {
    EXPECT_EQ(0, callRaw({"prog", "1", "2", "/nonexistent/init", "-u", User, "a.mp3"}));
    EXPECT_TRUE(fakesdk::state().calls.empty());
    failAt("gnsdk_dsp_initialize");
    EXPECT_EQ(0, call({"-u", User, "a.mp3"}));
    EXPECT_NE(std::string::npos, stderrText().find("Unable to initialize GNSDK. Exiting.\n\n"));
    EXPECT_EQ(0, callCount("gnsdk_manager_user_create"));
}

TEST_F(EntryPoint, UnreadableFileIsSkippedAndTheOtherCounted) {
    const std::string good = testaudio::sine("good.wav", 2);
    const std::string bad = testaudio::folder() + "/absent.mp3";
    EXPECT_EQ(1, call({"-u", User, bad, good}));
    EXPECT_NE(std::string::npos,
              stderrText().find("Unable to get MD5 of file " + bad + ". Continuing...\n\n"));
    const std::string doc = document();
    EXPECT_EQ(std::string::npos, doc.find("absent"));
    std::string escapedGood;
    for (char c : good) {
        escapedGood += c == '/' ? std::string("\\/") : std::string(1, c);
    }
    EXPECT_NE(std::string::npos, doc.find("\"input\": \"" + escapedGood + "\""));
    const fakesdk::FileInfoRecord &record = fakesdk::state().fileinfos.at(0);
    EXPECT_EQ(44100u, record.sampleRate);
    EXPECT_EQ(2u, record.channels);
    EXPECT_EQ(static_cast<std::size_t>(2 * 44100 - 1) * 4, record.bytesWritten);
    // The user buffer receives the released user: at most size - 2 characters.
    EXPECT_STREQ(User, user.data());
    EXPECT_EQ('\0', user[255]);
}

TEST_F(EntryPoint, FileWithoutAudioIsReportedAndLeftOut) {
    const std::string notAudio = testaudio::noise("not-audio.flac", 4000);
    const std::string silent = testaudio::make("silent.wav", "-f lavfi -i anullsrc=duration=1");
    EXPECT_EQ(1, call({"-u", User, notAudio, silent, "-i", "1-a"}));
    const std::string &err = stderrText();
    EXPECT_NE(std::string::npos, err.find("Unable to get audio samples from file " + notAudio +
                                          ". Continuing...\n\n"));
    EXPECT_NE(std::string::npos,
              err.find("Unable to get audio samples from file " + silent + ". Continuing...\n\n"));
}

TEST_F(EntryPoint, CreatedUserGoesToTheBufferAndTheFile) {
    const std::string userFile = testaudio::folder() + "/user-out.txt";
    EXPECT_EQ(0, call({"-c", userFile, "-C"}));
    EXPECT_EQ(2, callCount("gnsdk_manager_user_create_new"));
    EXPECT_STREQ("fakeuser:1234567:ABCDEF:2", user.data());
    EXPECT_EQ(user.data(), fileText(userFile));

    EXPECT_EQ(1, call({"-C", "-i", "1-a"}));
    EXPECT_STREQ("fakeuser:1234567:ABCDEF:3", user.data());

    // A user file that cannot be written.
    EXPECT_EQ(-1, call({"-c", testaudio::folder() + "/no/such/dir/user.txt"}));
    EXPECT_NE(std::string::npos, stderrText().find("Unable to open file for user-create: "));
}

TEST_F(EntryPoint, UserFromFileAndItsFailures) {
    const std::string userFile = testaudio::text("user-in.txt", User);
    const std::string good = testaudio::sine("good.wav", 2);
    EXPECT_EQ(1, call({"-e", testaudio::folder() + "/engine.log", "-U", userFile, good}));
    EXPECT_EQ(testaudio::folder() + "/engine.log", fakesdk::state().logPath);

    EXPECT_EQ(0, call({"-U", testaudio::folder() + "/no-user.txt", good}));
    EXPECT_NE(std::string::npos,
              stderrText().find("Unable to initialize GNSDK user. Exiting.\n\n"));
}

TEST_F(EntryPoint, AudioPathTakenAsUserTextFailsBeforeAnyFile) {
    const std::string good = testaudio::sine("good.wav", 2);
    EXPECT_EQ(0, call({"-u", good}));
    EXPECT_EQ(0, call({"-u", good, good}));
    const std::string &err = stderrText();
    EXPECT_NE(std::string::npos, err.find("Serialized User passed to load_user:\n" + good + "\n"));
    EXPECT_NE(std::string::npos, err.find("Unable to initialize GNSDK user. Exiting.\n\n"));
    EXPECT_EQ('R', response[0]);
    EXPECT_EQ(0, callCount("gnsdk_musicidfile_query_create"));
}

TEST_F(EntryPoint, OnlyOptionsRunNoQuery) {
    EXPECT_EQ(0, call({"-u", User}));
    // The engine resolves relative paths of its data against the data's folder.
    EXPECT_EQ("gnsdk_manager_set_init_folder(" + testaudio::folder() + ")",
              fakesdk::state().calls.at(0));
    EXPECT_EQ(0, callCount("gnsdk_musicidfile_query_create"));
    EXPECT_EQ('R', response[0]);
    EXPECT_STREQ(User, user.data());
    EXPECT_EQ(1, callCount("gnsdk_manager_shutdown"));
}

TEST_F(EntryPoint, MissingOptionElementsAreUsageErrors) {
    for (const std::vector<std::string> &rest : {std::vector<std::string>{"-e", "log"},
                                                 {"-e"},
                                                 {"-u"},
                                                 {"-U"},
                                                 {"-c"},
                                                 {"-e", "log", "-c"}}) {
        std::vector<std::string> texts = {"prog", "1", "2", initData};
        texts.insert(texts.end(), rest.begin(), rest.end());
        while (texts.size() < 6) {
            texts.insert(texts.begin() + 4, "-e");
            texts.insert(texts.begin() + 5, "log");
        }
        EXPECT_EQ(0, callRaw(texts));
    }
    EXPECT_EQ(0, callCount("gnsdk_musicidfile_query_create"));
    EXPECT_NE(std::string::npos, stderrText().find("Usage: prog"));
}

TEST_F(EntryPoint, DashPathsIdentifiersAndTrailingOptions) {
    const std::string dashed = testaudio::folder() + "/-dash.wav";
    std::filesystem::copy_file(testaudio::sine("plain.wav", 2), dashed,
                               std::filesystem::copy_options::overwrite_existing);
    const auto previous = std::filesystem::current_path();
    std::filesystem::current_path(testaudio::folder());
    // Identifiers count when accepted even without a match; a lone "-i" or a
    // final "-f" is rejected without reading past the vector.
    fakesdk::state().responder = [](const std::vector<fakesdk::FileInfoRecord> &) {
        return std::vector<fakesdk::NodePtr>{};
    };
    const int result = call({"-u", User, "-f", "-dash.wav", "-i", "12-ab", "-i", "nominus", "-f"});
    std::filesystem::current_path(previous);
    EXPECT_EQ(2, result);
    EXPECT_NE(std::string::npos, document().find("\"input\": \"-dash.wav\""));
    EXPECT_NE(std::string::npos,
              document().find(
                  "\"input\": \"12-ab\",\n\t\t\"hash\": \"0\",\n\t\t\"graceNoteTrackInfo\": []"));
    EXPECT_NE(std::string::npos, stderrText().find("Missing argument after -f. Continuing...\n\n"));
    EXPECT_NE(std::string::npos, stdoutText().find("Error with nominus.\n"));
    // The argument texts are the caller's and come back unchanged.
    EXPECT_EQ("12-ab", std::string(argv[9]));
}

TEST_F(EntryPoint, ResponseIsCutToTheBuffer) {
    const std::string good = testaudio::sine("good.wav", 2);
    response.assign(40, 'R');
    EXPECT_EQ(2, call({"-u", User, good, "-i", "1-a"}));
    EXPECT_EQ(38u, std::strlen(response.data()));
    EXPECT_EQ('R', response[39]);
    EXPECT_EQ(0, std::strncmp(response.data(), "[\n\t{\n\t\t\"input\": \"", 17));
}

TEST_F(EntryPoint, FailedQueryCountsZeroButLeavesTheDocument) {
    fakesdk::state().completeError = 0x90B00006u;
    EXPECT_EQ(0, call({"-u", User, "-i", "1-a"}));
    EXPECT_NE(std::string::npos, document().find("\"input\": \"1-a\""));

    fakesdk::reset();
    failAt("gnsdk_musicidfile_query_create");
    EXPECT_EQ(0, call({"-u", User, "-i", "1-a"}));
    EXPECT_EQ(0, callCount("gnsdk_musicidfile_fileinfo_create"));
    EXPECT_EQ(0, callCount("gnsdk_musicidfile_query_do_libraryid"));
    EXPECT_EQ(1, callCount("gnsdk_manager_shutdown"));
}

TEST_F(EntryPoint, ModesOfTheThreeExports) {
    EXPECT_EQ(1, call({"-u", User, "-i", "1-a"}, 0));
    EXPECT_EQ(1, callCount("gnsdk_musicidfile_query_do_libraryid"));
    storage = {"prog", "1", "2", initData, "-u", User, "-i", "1-a"};
    argv.clear();
    for (std::string &text : storage) {
        argv.push_back(text.data());
    }
    EXPECT_EQ(
        1, tonemill_doGraceNoteMultiple(8, argv.data(), response.data(), 4096, user.data(), 256));
    EXPECT_EQ(1, callCount("gnsdk_musicidfile_query_do_trackid"));
    EXPECT_EQ(1, call({"-u", User, "-i", "1-a"}, 5));
    EXPECT_EQ(2, callCount("gnsdk_musicidfile_query_do_trackid"));
    EXPECT_EQ(0u, MBCollection::getIncance()->itemCount());
}

TEST_F(EntryPoint, NullArgumentIsAUsageError) {
    std::vector<char *> texts = {
        const_cast<char *>("prog"), const_cast<char *>("1"),  nullptr,
        const_cast<char *>("x"),    const_cast<char *>("-C"), const_cast<char *>("a")};
    EXPECT_EQ(0, tonemill_doGraceNote(6, texts.data(), response.data(), 100, user.data(), 100));
    EXPECT_TRUE(fakesdk::state().calls.empty());
}

TEST_F(EntryPoint, TwoWorkersGiveTheSameDocumentAsOne) {
    std::vector<std::string> rest = {"-u", User};
    const std::string formats[] = {"a.mp3", "b.m4a", "c.ogg", "d.flac", "e.wav"};
    for (const std::string &name : formats) {
        rest.push_back(testaudio::sine(name, 2 + static_cast<double>(rest.size()) / 4));
        if (rest.size() == 4) {
            rest.push_back(testaudio::folder() + "/missing.mp3");
            rest.push_back("-i");
            rest.push_back("77-x");
        }
    }
    rest.push_back(rest[2]); // the same path twice
    std::vector<std::string> documents;
    std::vector<std::vector<std::pair<std::string, std::size_t>>> written;
    for (const char *workers : {"1", "2", "3"}) {
        fakesdk::reset();
        setenv("TONEMILL_DECODE_WORKERS", workers, 1);
        EXPECT_EQ(7, call(rest)) << workers;
        documents.push_back(document());
        written.emplace_back();
        for (const fakesdk::FileInfoRecord &record : fakesdk::state().fileinfos) {
            written.back().emplace_back(record.ident, record.bytesWritten);
        }
    }
    EXPECT_EQ(documents[0], documents[1]);
    EXPECT_EQ(documents[0], documents[2]);
    EXPECT_EQ(written[0], written[1]);
    EXPECT_EQ(written[0], written[2]);
    EXPECT_EQ(7u, written[0].size());
}

TEST_F(EntryPoint, TwoWorkersPrintEveryMessageAsOneDoes) {
    // The first file takes a while to decode and then gets a message of its
    // own; meanwhile the other worker finds that the next file cannot be
    // read and that a later one holds no audio (an FFmpeg log line).
    const std::string slow = testaudio::sine("long.flac", 60);
    const std::string missing = testaudio::folder() + "/gone.flac";
    const std::string cut = testaudio::truncated(testaudio::sine("whole.flac", 3), 64, "cut.flac");
    const std::string good = testaudio::sine("fine.ogg", 2);
    const std::vector<std::string> rest = {"-u", User, slow, missing, "-i", "5-e", cut, good};
    for (const char *workers : {"1", "2"}) {
        fakesdk::reset();
        failAt("gnsdk_musicidfile_fileinfo_metadata_set:gnsdk_midf_fileinfo_value_filename");
        setenv("TONEMILL_DECODE_WORKERS", workers, 1);
        EXPECT_EQ(3, call(rest)) << workers;
        std::printf("<end of run>");
        std::fprintf(stderr, "<end of run>");
    }
    const auto runs = [](const std::string &text) {
        const std::size_t end = text.find("<end of run>");
        return std::make_pair(text.substr(0, end), text.substr(end + 12));
    };
    const auto [err1, err2] = runs(stderrText());
    const auto [out1, out2] = runs(stdoutText());
    EXPECT_NE(std::string::npos,
              err1.find("GNSDK Error @ gnhandler_fingerprint_file - "
                        "gnsdk_musicidfile_fileinfo_metadata_set(GNSDK_MUSICIDFILE_FILEINFO_VALUE_"
                        "FILENAME) failed:-1870659572: [0x9080000c] scripted failure of "
                        "gnsdk_musicidfile_fileinfo_metadata_set\n"
                        "Unable to open " +
                        missing + "Unable to get MD5 of file " + missing +
                        ". Continuing...\n\n"
                        "Cannot open input file\n"
                        "Unable to get audio samples from file " +
                        cut + ". Continuing...\n\n"))
        << err1;
    EXPECT_EQ(err1, err2.substr(0, err2.size() - 12));
    EXPECT_EQ(out1, out2.substr(0, out2.size() - 12));
}

} // namespace
