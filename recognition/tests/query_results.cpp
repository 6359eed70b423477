#include "query_results.h"

#include <chrono>
#include <gtest/gtest.h>

namespace recog::testaudio {

namespace {

std::string value(gnsdk_gdo_handle_t gdo, const char *key) {
    gnsdk_cstr_t v = nullptr;
    return gdo && gnsdk_manager_gdo_value_get(gdo, key, 1, &v) == GNSDK_SUCCESS ? v : "";
}

std::string childValue(gnsdk_gdo_handle_t gdo, const char *child, const char *key) {
    gnsdk_gdo_handle_t c = nullptr;
    if (gnsdk_manager_gdo_child_get(gdo, child, 1, &c) != GNSDK_SUCCESS)
        return "";
    const std::string v = value(c, key);
    gnsdk_manager_gdo_release(c);
    return v;
}

} // namespace

void onResult(void *data, gnsdk_musicidfile_query_handle_t, gnsdk_gdo_handle_t response,
              gnsdk_uint32_t, gnsdk_uint32_t, gnsdk_bool_t *abort) {
    auto *c = static_cast<Collected *>(data);
    if (c->inFlight.fetch_add(1) != 0)
        c->overlapped = true;
    c->thread = std::this_thread::get_id();
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    std::vector<Match> matches;
    gnsdk_uint32_t albums = 0;
    gnsdk_manager_gdo_child_count(response, GNSDK_GDO_CHILD_ALBUM, &albums);
    for (gnsdk_uint32_t a = 1; a <= albums; ++a) {
        gnsdk_gdo_handle_t album = nullptr;
        ASSERT_EQ(gnsdk_manager_gdo_child_get(response, GNSDK_GDO_CHILD_ALBUM, a, &album), 0u);
        gnsdk_uint32_t tracks = 0;
        gnsdk_manager_gdo_child_count(album, GNSDK_GDO_CHILD_TRACK_MATCHED, &tracks);
        for (gnsdk_uint32_t t = 1; t <= tracks; ++t) {
            gnsdk_gdo_handle_t track = nullptr;
            ASSERT_EQ(gnsdk_manager_gdo_child_get(album, GNSDK_GDO_CHILD_TRACK_MATCHED, t, &track),
                      0u);
            Match m;
            m.ident = value(track, GNSDK_MUSICIDFILE_GDO_VALUE_IDENT);
            m.album = childValue(album, GNSDK_GDO_CHILD_TITLE_OFFICIAL, GNSDK_GDO_VALUE_DISPLAY);
            m.label = value(album, GNSDK_GDO_VALUE_ALBUM_LABEL);
            m.title = childValue(track, GNSDK_GDO_CHILD_TITLE_OFFICIAL, GNSDK_GDO_VALUE_DISPLAY);
            m.trackId = value(track, GNSDK_GDO_VALUE_GNID);
            m.tui = value(track, GNSDK_GDO_VALUE_TUI);
            m.number = value(track, GNSDK_GDO_VALUE_TRACK_NUMBER);
            gnsdk_gdo_handle_t artist = nullptr;
            if (gnsdk_manager_gdo_child_get(track, GNSDK_GDO_CHILD_ARTIST, 1, &artist) == 0) {
                m.artist =
                    childValue(artist, GNSDK_GDO_CHILD_NAME_OFFICIAL, GNSDK_GDO_VALUE_DISPLAY);
                m.artistId = childValue(artist, GNSDK_GDO_CHILD_CONTRIBUTOR, GNSDK_GDO_VALUE_GNUID);
                gnsdk_manager_gdo_release(artist);
            }
            matches.push_back(m);
            gnsdk_manager_gdo_release(track);
        }
        gnsdk_manager_gdo_release(album);
    }
    c->responses.push_back(matches);
    *abort = GNSDK_FALSE;
    c->inFlight.fetch_sub(1);
}

} // namespace recog::testaudio
