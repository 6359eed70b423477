// Drives the engine through its C interface in the order libtonemill uses.
#include "query_results.h"
#include "test_catalog.h"

#include <atomic>
#include <fstream>
#include <gnsdk.h>
#include <gtest/gtest.h>
#include <random>
#include <thread>

using namespace recog::testaudio;

namespace {

const char *kClientId = "1234567";
const char *kClientTag = "0123456789ABCDEF0123456789ABCDEF";

class EngineApi : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = new TempDir;
        buildCatalog(dir_->file("engine.db"), {{11, "Opening", "Ann", "Alpha", 1},
                                               {12, "Second", "Ann", "Alpha", 2},
                                               {13, "Other", "Bob", "Beta", 1},
                                               {15, "Same", "Cid", "Gamma", 1},
                                               {15, "Same", "Dee", "Delta", 4}});
        std::ofstream(dir_->file("init.txt")) << "catalog=engine.db\n";
    }
    static void TearDownTestSuite() { delete dir_; }

    void SetUp() override {
        gnsdk_manager_set_init_folder(dir_->path().c_str());
        const std::string init = "catalog=engine.db\n";
        ASSERT_EQ(gnsdk_manager_initialize(&manager_, init.c_str(), init.size()), 0u)
            << gnsdk_manager_error_info()->error_description;
        ASSERT_EQ(gnsdk_dsp_initialize(manager_), 0u);
        ASSERT_EQ(gnsdk_musicidfile_initialize(manager_), 0u);
        ASSERT_EQ(gnsdk_manager_user_create_new(kClientId, kClientTag, "0.98", &user_), 0u);
        ASSERT_EQ(gnsdk_manager_user_option_set(user_, GNSDK_USER_OPTION_NETWORK_LOADBALANCE,
                                                GNSDK_VALUE_TRUE),
                  0u);
        gnsdk_locale_handle_t locale = nullptr;
        ASSERT_EQ(gnsdk_manager_locale_load(GNSDK_LOCALE_GROUP_MUSIC, GNSDK_LANG_ENGLISH, nullptr,
                                            GNSDK_DESCRIPTOR_DETAILED, user_, nullptr, nullptr,
                                            &locale),
                  0u);
        ASSERT_EQ(gnsdk_manager_locale_set_group_default(locale), 0u);
        ASSERT_EQ(gnsdk_manager_locale_release(locale), 0u);
    }

    void TearDown() override {
        gnsdk_str_t text = nullptr;
        EXPECT_EQ(gnsdk_manager_user_release(user_, &text), 0u);
        if (text)
            gnsdk_manager_string_free(text);
        EXPECT_EQ(gnsdk_musicidfile_shutdown(), 0u);
        EXPECT_EQ(gnsdk_dsp_shutdown(), 0u);
        EXPECT_EQ(gnsdk_manager_shutdown(), 0u);
    }

    // Runs one query over the inputs; false when any step failed.
    void run(const std::vector<FileInput> &files, bool library, Collected &out) {
        gnsdk_musicidfile_callbacks_t callbacks{};
        callbacks.callback_result_available = onResult;
        gnsdk_musicidfile_query_handle_t query = nullptr;
        ASSERT_EQ(gnsdk_musicidfile_query_create(user_, &callbacks, &out, &query), 0u);
        ASSERT_EQ(gnsdk_musicidfile_query_option_set(
                      query, GNSDK_MUSICIDFILE_OPTION_ENABLE_EXTERNAL_IDS, "1"),
                  0u);
        for (const FileInput &f : files) {
            gnsdk_musicidfile_fileinfo_handle_t info = nullptr;
            ASSERT_EQ(gnsdk_musicidfile_query_fileinfo_create(query, f.ident.c_str(), nullptr,
                                                              nullptr, &info),
                      0u);
            for (const auto &[k, v] : f.tags)
                ASSERT_EQ(gnsdk_musicidfile_fileinfo_metadata_set(info, k.c_str(), v.c_str()), 0u);
            if (f.pcm.empty())
                continue;
            gnsdk_bool_t complete = GNSDK_FALSE;
            ASSERT_EQ(gnsdk_musicidfile_fileinfo_fingerprint_begin(info, 44100, 16, 2), 0u);
            ASSERT_EQ(gnsdk_musicidfile_fileinfo_fingerprint_write(info, f.pcm.data(),
                                                                   f.pcm.size() * 2, &complete),
                      0u);
            ASSERT_EQ(gnsdk_musicidfile_fileinfo_fingerprint_end(info), 0u);
            EXPECT_EQ(complete, f.pcm.size() / 2 >= 441000 ? GNSDK_TRUE : GNSDK_FALSE);
        }
        ASSERT_EQ(library ? gnsdk_musicidfile_query_do_libraryid(query, 0x1)
                          : gnsdk_musicidfile_query_do_trackid(query, 0x10),
                  0u);
        gnsdk_error_t completeError = 1;
        ASSERT_EQ(gnsdk_musicidfile_query_wait_for_complete(query, 0xFFFFFFFFu, &completeError),
                  0u);
        EXPECT_EQ(completeError, 0u);
        ASSERT_EQ(gnsdk_musicidfile_query_release(query), 0u);
    }

    static std::vector<int16_t> excerpt(uint32_t seed, double from, double seconds) {
        const auto pcm = song(seed, 25);
        const size_t a = size_t(from * 44100) * 2;
        const size_t b = std::min(pcm.size(), a + size_t(seconds * 44100) * 2);
        return {pcm.begin() + long(a), pcm.begin() + long(b)};
    }

    static TempDir *dir_;
    gnsdk_manager_handle_t manager_ = nullptr;
    gnsdk_user_handle_t user_ = nullptr;
};
TempDir *EngineApi::dir_ = nullptr;

} // namespace

TEST_F(EngineApi, LibraryIdGroupsFilesOfOneAlbumAndRunsCallbacksOnAWorker) {
    Collected c;
    run({{"/music/a1.flac", excerpt(11, 2, 20), {}},
         {"/music/b1.flac", excerpt(13, 0, 20), {}},
         {"/music/a2.flac", excerpt(12, 3, 20), {}},
         {"/music/unknown.flac", excerpt(99, 0, 20), {}}},
        true, c);
    ASSERT_EQ(c.responses.size(), 2u);
    EXPECT_FALSE(c.overlapped);
    EXPECT_NE(c.thread, std::this_thread::get_id());
    ASSERT_EQ(c.responses[0].size(), 2u); // Alpha: both of its files under one album
    EXPECT_EQ(c.responses[0][0].ident, "/music/a1.flac");
    EXPECT_EQ(c.responses[0][0].title, "Opening");
    EXPECT_EQ(c.responses[0][0].album, "Alpha");
    EXPECT_EQ(c.responses[0][0].artist, "Ann");
    EXPECT_EQ(c.responses[0][0].number, "1");
    EXPECT_EQ(c.responses[0][0].label, "Test Label");
    EXPECT_EQ(c.responses[0][0].trackId.front(), 'T');
    EXPECT_EQ(c.responses[0][0].artistId.front(), 'C');
    EXPECT_EQ(c.responses[0][1].ident, "/music/a2.flac");
    EXPECT_EQ(c.responses[0][1].title, "Second");
    ASSERT_EQ(c.responses[1].size(), 1u);
    EXPECT_EQ(c.responses[1][0].album, "Beta");
}

TEST_F(EngineApi, TagsDecideBetweenTwoReleasesOfOneRecordingAndServeWhenAudioFails) {
    const std::string log = dir_->file("engine.log");
    ASSERT_EQ(gnsdk_manager_logging_enable(log.c_str(), GNSDK_LOG_PKG_ALL, GNSDK_LOG_LEVEL_ALL,
                                           GNSDK_LOG_OPTION_ALL, 0, GNSDK_TRUE),
              0u);
    Collected c;
    run({{"delta",
          excerpt(15, 1, 20),
          {{GNSDK_MUSICIDFILE_FILEINFO_VALUE_ALBUMTITLE, "Delta"},
           {GNSDK_MUSICIDFILE_FILEINFO_VALUE_ALBUMARTIST, "Dee"}}},
         {"gamma", excerpt(15, 1, 20), {}},
         {"tags-only",
          {},
          {{GNSDK_MUSICIDFILE_FILEINFO_VALUE_TRACKTITLE, "second"},
           {GNSDK_MUSICIDFILE_FILEINFO_VALUE_ALBUMARTIST, "ANN"}}},
         {"too-short", excerpt(13, 0, 6), {}}},
        true, c);
    std::map<std::string, Match> byIdent;
    for (const auto &r : c.responses)
        for (const Match &m : r)
            byIdent[m.ident] = m;
    EXPECT_EQ(byIdent["delta"].album, "Delta");
    EXPECT_EQ(byIdent["gamma"].album, "Gamma");
    EXPECT_EQ(byIdent["tags-only"].title, "Second");
    EXPECT_EQ(byIdent.count("too-short"), 0u);

    std::ifstream in(log);
    const std::string text((std::istreambuf_iterator<char>(in)), {});
    EXPECT_NE(text.find("delta: track 5"), std::string::npos) << text;
    EXPECT_NE(text.find("because its titles agree with the file's tags"), std::string::npos);
    EXPECT_NE(text.find("too-short: query too short"), std::string::npos);
}

TEST_F(EngineApi, TrackIdGivesSeveralCandidatesAndIdentifiersFindTheirTrack) {
    Collected first;
    run({{"x", excerpt(15, 0, 20), {}}}, false, first);
    ASSERT_EQ(first.responses.size(), 1u);
    ASSERT_EQ(first.responses[0].size(), 2u); // both releases of the recording
    const std::string tui = first.responses[0][1].tui;

    // Look that track up again by TUI and tag, as "-i TUI-TAG" does.
    gnsdk_musicidfile_callbacks_t callbacks{};
    callbacks.callback_result_available = onResult;
    Collected second;
    gnsdk_musicidfile_query_handle_t query = nullptr;
    ASSERT_EQ(gnsdk_musicidfile_query_create(user_, &callbacks, &second, &query), 0u);
    gnsdk_musicidfile_fileinfo_handle_t info = nullptr;
    ASSERT_EQ(gnsdk_musicidfile_query_fileinfo_create(query, "id", nullptr, nullptr, &info), 0u);
    // The tag is stored in the catalogue; read it back through the tool's view.
    std::string error;
    auto cat = recog::Catalog::open(dir_->file("engine.db"), false, error);
    std::string tag;
    for (int64_t id = 1; id <= 5; ++id)
        if (cat->track(id)->tui == tui)
            tag = cat->track(id)->tuiTag;
    ASSERT_EQ(gnsdk_musicidfile_fileinfo_metadata_set(info, GNSDK_MUSICIDFILE_FILEINFO_VALUE_TUITAG,
                                                      tag.c_str()),
              0u);
    ASSERT_EQ(gnsdk_musicidfile_fileinfo_metadata_set(info, GNSDK_MUSICIDFILE_FILEINFO_VALUE_TUI,
                                                      tui.c_str()),
              0u);
    ASSERT_EQ(gnsdk_musicidfile_query_do_libraryid(query, 1), 0u);
    gnsdk_error_t completeError = 1;
    ASSERT_EQ(gnsdk_musicidfile_query_wait_for_complete(query, 60000, &completeError), 0u);
    ASSERT_EQ(gnsdk_musicidfile_query_release(query), 0u);
    ASSERT_EQ(second.responses.size(), 1u);
    EXPECT_EQ(second.responses[0][0].tui, tui);
}

TEST_F(EngineApi, UsersRoundTripAndForeignTextsAreRefused) {
    gnsdk_str_t text = nullptr;
    ASSERT_EQ(gnsdk_manager_user_serialize(user_, &text), 0u);
    gnsdk_user_handle_t again = nullptr;
    ASSERT_EQ(gnsdk_manager_user_create(text, &again), 0u);
    gnsdk_str_t released = nullptr;
    ASSERT_EQ(gnsdk_manager_user_release(again, &released), 0u);
    EXPECT_STREQ(released, text);
    gnsdk_manager_string_free(released);
    gnsdk_manager_string_free(text);

    std::mt19937 rng(3);
    for (int i = 0; i < 50; ++i) {
        std::string junk(1 + rng() % 200, 'x');
        for (char &ch : junk)
            ch = char(1 + rng() % 255);
        EXPECT_NE(gnsdk_manager_user_create(junk.c_str(), &again), 0u);
    }
    EXPECT_EQ(gnsdk_manager_user_create("/music/a.flac", &again), SDKMGRERR_InvalidFormat);
    EXPECT_GT(std::string(gnsdk_manager_error_info()->error_description).size(), 10u);
    EXPECT_NE(gnsdk_manager_user_create_new("12345", kClientTag, "0.98", &again), 0u);
    EXPECT_NE(gnsdk_manager_user_create_new(kClientId, "abc", "0.98", &again), 0u);
    EXPECT_EQ(gnsdk_manager_user_release(reinterpret_cast<gnsdk_user_handle_t>(&rng), nullptr),
              SDKMGRERR_HandleObjectInvalid);
}

TEST_F(EngineApi, BadAudioGetsStatusesAndTexts) {
    gnsdk_musicidfile_query_handle_t query = nullptr;
    ASSERT_EQ(gnsdk_musicidfile_query_create(user_, nullptr, nullptr, &query), 0u);
    gnsdk_musicidfile_fileinfo_handle_t info = nullptr;
    ASSERT_EQ(gnsdk_musicidfile_query_fileinfo_create(query, "f", nullptr, nullptr, &info), 0u);
    EXPECT_NE(gnsdk_musicidfile_fileinfo_fingerprint_begin(info, 0, 16, 2), 0u);
    EXPECT_NE(gnsdk_musicidfile_fileinfo_fingerprint_begin(info, 44100, 16, 0), 0u);
    EXPECT_NE(gnsdk_musicidfile_fileinfo_fingerprint_begin(info, 44100, 16, 7), 0u);
    EXPECT_NE(gnsdk_musicidfile_fileinfo_fingerprint_begin(info, 4000000000u, 16, 2), 0u);
    EXPECT_NE(gnsdk_musicidfile_fileinfo_fingerprint_begin(info, 44100, 8, 2), 0u);
    const int16_t pcm[4] = {1, 2, 3, 4};
    gnsdk_bool_t complete = GNSDK_FALSE;
    EXPECT_NE(gnsdk_musicidfile_fileinfo_fingerprint_write(info, pcm, 8, &complete), 0u);
    ASSERT_EQ(gnsdk_musicidfile_fileinfo_fingerprint_begin(info, 44100, 16, 2), 0u);
    EXPECT_NE(gnsdk_musicidfile_fileinfo_fingerprint_write(info, pcm, 7, &complete), 0u);
    EXPECT_NE(std::string(gnsdk_manager_error_info()->error_description).find("7 bytes"),
              std::string::npos);
    EXPECT_NE(gnsdk_musicidfile_fileinfo_fingerprint_write(info, pcm, 6, &complete), 0u);
    EXPECT_NE(gnsdk_musicidfile_fileinfo_fingerprint_write(info, pcm, 0, &complete), 0u);
    EXPECT_NE(gnsdk_musicidfile_fileinfo_fingerprint_write(info, nullptr, 8, &complete), 0u);
    EXPECT_EQ(gnsdk_musicidfile_fileinfo_fingerprint_write(info, pcm, 8, &complete), 0u);
    EXPECT_EQ(complete, GNSDK_FALSE);
    EXPECT_EQ(gnsdk_musicidfile_fileinfo_metadata_set(info, "no_such_key", "v"),
              MIDFERR_InvalidArg);
    EXPECT_EQ(gnsdk_musicidfile_query_wait_for_complete(query, 10, nullptr), MIDFERR_InvalidArg);
    EXPECT_EQ(gnsdk_musicidfile_query_fileinfo_remove(query, info), 0u);
    EXPECT_EQ(gnsdk_musicidfile_query_fileinfo_remove(query, info), SDKMGRERR_HandleObjectInvalid);
    EXPECT_EQ(gnsdk_musicidfile_query_release(query), 0u);
}

TEST_F(EngineApi, ListsDescribeTheCatalogueValues) {
    gnsdk_list_handle_t list = nullptr;
    ASSERT_EQ(gnsdk_manager_list_retrieve(GNSDK_LIST_TYPE_GENRES, "eng", nullptr,
                                          GNSDK_DESCRIPTOR_SIMPLIFIED, user_, nullptr, nullptr,
                                          &list),
              0u);
    gnsdk_uint32_t count = 0;
    ASSERT_EQ(gnsdk_manager_list_get_element_count(list, 1, &count), 0u);
    ASSERT_EQ(count, 1u);
    gnsdk_list_element_handle_t e = nullptr;
    ASSERT_EQ(gnsdk_manager_list_get_element(list, 1, 0, &e), 0u);
    gnsdk_cstr_t display = nullptr;
    ASSERT_EQ(gnsdk_manager_list_element_get_display_string(e, &display), 0u);
    EXPECT_STREQ(display, "Electronic");
    EXPECT_EQ(gnsdk_manager_list_get_element(list, 1, 1, &e), SDKMGRERR_NotFound);
    EXPECT_EQ(gnsdk_manager_list_element_release(e), 0u);
    EXPECT_EQ(gnsdk_manager_list_release(list), 0u);
    EXPECT_NE(gnsdk_manager_list_retrieve("gnsdk_list_type_colours", "eng", nullptr, nullptr, user_,
                                          nullptr, nullptr, &list),
              0u);
}

TEST(EngineStart, ExplainsAMissingOrCorruptCatalogue) {
    TempDir dir;
    gnsdk_manager_set_init_folder(dir.path().c_str());
    gnsdk_manager_handle_t m = nullptr;
    const std::string missing = "catalog=nothere.db\n";
    EXPECT_EQ(gnsdk_manager_initialize(&m, missing.c_str(), missing.size()), SDKMGRERR_InitFailed);
    EXPECT_NE(std::string(gnsdk_manager_error_info()->error_description).find("nothere.db"),
              std::string::npos);
    std::ofstream(dir.file("bad.db")) << std::string(5000, 'z');
    const std::string corrupt = "catalog=bad.db\n";
    EXPECT_EQ(gnsdk_manager_initialize(&m, corrupt.c_str(), corrupt.size()), SDKMGRERR_InitFailed);
    EXPECT_NE(std::string(gnsdk_manager_error_info()->error_description).find("bad.db"),
              std::string::npos);
    const std::string none = "accept_ber=0.1\n";
    EXPECT_EQ(gnsdk_manager_initialize(&m, none.c_str(), none.size()), SDKMGRERR_InitFailed);
    EXPECT_EQ(gnsdk_manager_initialize(&m, nullptr, 0), SDKMGRERR_InvalidArg);
    gnsdk_user_handle_t u = nullptr;
    EXPECT_EQ(gnsdk_manager_user_create_new(kClientId, kClientTag, "1", &u), SDKMGRERR_NotInited);
    EXPECT_EQ(gnsdk_manager_shutdown(), SDKMGRERR_NotInited);
}

TEST_F(EngineApi, ReleasingARunningQueryStopsItAndNothingIsDeliveredAfterwards) {
    Collected c;
    gnsdk_musicidfile_callbacks_t callbacks{};
    callbacks.callback_result_available = onResult;
    gnsdk_musicidfile_query_handle_t query = nullptr;
    ASSERT_EQ(gnsdk_musicidfile_query_create(user_, &callbacks, &c, &query), 0u);
    const auto pcm = excerpt(11, 0, 20);
    for (int i = 0; i < 30; ++i) {
        gnsdk_musicidfile_fileinfo_handle_t info = nullptr;
        const std::string ident = "f" + std::to_string(i);
        ASSERT_EQ(
            gnsdk_musicidfile_query_fileinfo_create(query, ident.c_str(), nullptr, nullptr, &info),
            0u);
        ASSERT_EQ(gnsdk_musicidfile_fileinfo_fingerprint_begin(info, 44100, 16, 2), 0u);
        ASSERT_EQ(
            gnsdk_musicidfile_fileinfo_fingerprint_write(info, pcm.data(), pcm.size() * 2, nullptr),
            0u);
        ASSERT_EQ(gnsdk_musicidfile_fileinfo_fingerprint_end(info), 0u);
    }
    ASSERT_EQ(gnsdk_musicidfile_query_do_trackid(query, 0x10), 0u);
    EXPECT_EQ(gnsdk_musicidfile_query_do_trackid(query, 0x10), MIDFERR_Busy);
    EXPECT_EQ(gnsdk_musicidfile_query_release(query), 0u);
    const size_t delivered = c.responses.size();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(c.responses.size(), delivered);
    EXPECT_LE(delivered, 30u);
}

namespace {
struct Probe {
    gnsdk_gdo_handle_t response = nullptr;
    gnsdk_error_t badOrdinal = 0, beyondLast = 0, missingValue = 0, wrongType = 0;
};

void probeResult(void *data, gnsdk_musicidfile_query_handle_t query, gnsdk_gdo_handle_t response,
                 gnsdk_uint32_t, gnsdk_uint32_t, gnsdk_bool_t *) {
    auto *p = static_cast<Probe *>(data);
    p->response = response;
    gnsdk_gdo_handle_t child = nullptr;
    p->badOrdinal = gnsdk_manager_gdo_child_get(response, GNSDK_GDO_CHILD_ALBUM, 0, &child);
    p->beyondLast = gnsdk_manager_gdo_child_get(response, GNSDK_GDO_CHILD_ALBUM, 2, &child);
    gnsdk_cstr_t v = nullptr;
    p->missingValue = gnsdk_manager_gdo_value_get(response, GNSDK_GDO_VALUE_TUI, 1, &v);
    gnsdk_uint32_t n = 0;
    p->wrongType = gnsdk_manager_gdo_child_count(reinterpret_cast<gnsdk_gdo_handle_t>(query),
                                                 GNSDK_GDO_CHILD_ALBUM, &n);
}
} // namespace

TEST_F(EngineApi, DataObjectsRefuseBadOrdinalsAndDieWithTheirResponse) {
    Probe p;
    gnsdk_musicidfile_callbacks_t callbacks{};
    callbacks.callback_result_available = probeResult;
    gnsdk_musicidfile_query_handle_t query = nullptr;
    ASSERT_EQ(gnsdk_musicidfile_query_create(user_, &callbacks, &p, &query), 0u);
    gnsdk_musicidfile_fileinfo_handle_t info = nullptr;
    ASSERT_EQ(gnsdk_musicidfile_query_fileinfo_create(query, "one", nullptr, nullptr, &info), 0u);
    const auto pcm = excerpt(13, 0, 15);
    ASSERT_EQ(gnsdk_musicidfile_fileinfo_fingerprint_begin(info, 44100, 16, 2), 0u);
    ASSERT_EQ(
        gnsdk_musicidfile_fileinfo_fingerprint_write(info, pcm.data(), pcm.size() * 2, nullptr),
        0u);
    ASSERT_EQ(gnsdk_musicidfile_fileinfo_fingerprint_end(info), 0u);
    ASSERT_EQ(gnsdk_musicidfile_query_do_libraryid(query, 1), 0u);
    ASSERT_EQ(gnsdk_musicidfile_query_wait_for_complete(query, 60000, nullptr), 0u);
    ASSERT_TRUE(p.response);
    EXPECT_EQ(p.badOrdinal, SDKMGRERR_InvalidArg);
    EXPECT_EQ(p.beyondLast, SDKMGRERR_NotFound);
    EXPECT_EQ(p.missingValue, SDKMGRERR_NotFound);
    EXPECT_EQ(p.wrongType, SDKMGRERR_HandleObjectWrongType);
    // The response belongs to the engine and is gone once the callback returned.
    EXPECT_EQ(gnsdk_manager_gdo_release(p.response), SDKMGRERR_HandleObjectInvalid);
    EXPECT_EQ(gnsdk_musicidfile_query_release(query), 0u);
    EXPECT_EQ(gnsdk_musicidfile_query_release(query), SDKMGRERR_HandleObjectInvalid);
}
