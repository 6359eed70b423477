// The result document: one match object per matched track, and the document
// that lists every query entry with its match objects.
#include "Gnhandler.h"

#include "JSONGenerator.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct ExternalIdGroup {
    const char *key;
    std::vector<const char *> values;
};

// The data objects one match object is written from; null when not obtained.
struct MatchObjects {
    gnsdk_gdo_handle_t album = nullptr;
    gnsdk_gdo_handle_t track = nullptr;
    gnsdk_gdo_handle_t albumTitle = nullptr;
    gnsdk_gdo_handle_t trackTitle = nullptr;
    gnsdk_gdo_handle_t artist = nullptr;
    gnsdk_gdo_handle_t contributor = nullptr;
    gnsdk_gdo_handle_t name = nullptr;
    std::vector<gnsdk_gdo_handle_t> albumIds;
    std::vector<gnsdk_gdo_handle_t> trackIds;
};

gnsdk_gdo_handle_t childOrNull(gnsdk_gdo_handle_t parent, const char *key) {
    gnsdk_gdo_handle_t child = nullptr;
    if (parent == nullptr || gnsdk_manager_gdo_child_get(parent, key, 1, &child) != 0) {
        return nullptr;
    }
    return child;
}

void releaseIfSet(gnsdk_gdo_handle_t gdo) {
    if (gdo != nullptr) {
        gnsdk_manager_gdo_release(gdo);
    }
}

void AddValue(JSONGenerator &writer, const char *name, gnsdk_gdo_handle_t gdo, const char *key) {
    writer.AddString(name, Gnhandler::ReadValue(gdo, key, 1));
}

void AddValueArray(JSONGenerator &writer, const char *name, gnsdk_gdo_handle_t gdo,
                   std::initializer_list<const char *> keys) {
    writer.OpenArray(name);
    for (const char *key : keys) {
        writer.AddString(nullptr, Gnhandler::ReadValue(gdo, key, 1));
    }
    writer.CloseArray();
}

} // namespace

std::vector<gnsdk_gdo_handle_t> ExtractExternalIds(gnsdk_gdo_handle_t object) {
    std::vector<gnsdk_gdo_handle_t> ids;
    gnsdk_uint32_t count = 0;
    if (gnsdk_manager_gdo_child_count(object, GNSDK_GDO_CHILD_EXTERNAL_ID, &count) != 0) {
        Gnhandler::PrintError("ExtractExternalIds", 1);
        return ids;
    }
    ids.reserve(count);
    for (gnsdk_uint32_t i = 1; i <= count; ++i) {
        gnsdk_gdo_handle_t id = nullptr;
        if (gnsdk_manager_gdo_child_get(object, GNSDK_GDO_CHILD_EXTERNAL_ID, i, &id) != 0) {
            Gnhandler::PrintError("ExtractExternalIds", 2);
            continue;
        }
        ids.push_back(id);
    }
    return ids;
}

void AddNewExternalId(std::vector<ExternalIdGroup> &groups, const char *key, const char *value) {
    for (ExternalIdGroup &group : groups) {
        if (std::strcmp(group.key, key) == 0) {
            group.values.push_back(value);
            return;
        }
    }
    groups.push_back(ExternalIdGroup{key, {value}});
}

void ProcessExternalIds(JSONGenerator &writer, const std::vector<gnsdk_gdo_handle_t> &albumIds,
                        const std::vector<gnsdk_gdo_handle_t> &trackIds) {
    std::vector<ExternalIdGroup> groups;
    auto collect = [&groups](const std::vector<gnsdk_gdo_handle_t> &ids, const char *tag) {
        for (std::size_t index = 0; index < ids.size(); ++index) {
            gnsdk_cstr_t key = nullptr;
            if (gnsdk_manager_gdo_value_get(ids[index], GNSDK_GDO_VALUE_EXTERNALID_TYPE, 1, &key) !=
                    0 &&
                gnsdk_manager_gdo_value_get(ids[index], GNSDK_GDO_VALUE_EXTERNALID_SOURCE, 1,
                                            &key) != 0) {
                Gnhandler::PrintError(tag, static_cast<int32_t>(index));
                continue;
            }
            if (key == nullptr) {
                continue;
            }
            AddNewExternalId(groups, key,
                             Gnhandler::ReadValue(ids[index], GNSDK_GDO_VALUE_EXTERNALID_VALUE, 1));
        }
    };
    collect(albumIds, "albumPrintXID");
    collect(trackIds, "trackPrintXID");
    for (const ExternalIdGroup &group : groups) {
        writer.OpenArray(group.key);
        for (const char *value : group.values) {
            writer.AddString(nullptr, value);
        }
        writer.CloseArray();
    }
}

void CreateJSONOutput(JSONGenerator &writer, const MatchObjects &o) {
    if (o.track != nullptr) {
        AddValue(writer, "trackId", o.track, GNSDK_GDO_VALUE_GNID);
        AddValue(writer, "trackUI", o.track, GNSDK_GDO_VALUE_TUI);
        AddValue(writer, "trackName", o.trackTitle, GNSDK_GDO_VALUE_DISPLAY);
        AddValue(writer, "trackNumber", o.track, GNSDK_GDO_VALUE_TRACK_NUMBER);
        AddValueArray(writer, "mood", o.track,
                      {GNSDK_GDO_VALUE_MOOD_LEVEL1, GNSDK_GDO_VALUE_MOOD_LEVEL2});
        AddValueArray(writer, "tempo", o.track,
                      {GNSDK_GDO_VALUE_TEMPO_LEVEL1, GNSDK_GDO_VALUE_TEMPO_LEVEL2,
                       GNSDK_GDO_VALUE_TEMPO_LEVEL3});
        AddValueArray(writer, "genre", o.track,
                      {GNSDK_GDO_VALUE_GENRE_LEVEL1, GNSDK_GDO_VALUE_GENRE_LEVEL2,
                       GNSDK_GDO_VALUE_GENRE_LEVEL3});
    }
    ProcessExternalIds(writer, o.albumIds, o.trackIds);
    AddValue(writer, "albumId", o.album, GNSDK_GDO_VALUE_GNID);
    AddValue(writer, "albumName", o.albumTitle, GNSDK_GDO_VALUE_DISPLAY);
    AddValueArray(
        writer, "albumGenre", o.album,
        {GNSDK_GDO_VALUE_GENRE_LEVEL1, GNSDK_GDO_VALUE_GENRE_LEVEL2, GNSDK_GDO_VALUE_GENRE_LEVEL3});
    AddValue(writer, "label", o.album, GNSDK_GDO_VALUE_ALBUM_LABEL);
    AddValue(writer, "artistName", o.name, GNSDK_GDO_VALUE_DISPLAY);
    if (o.contributor != nullptr) {
        AddValue(writer, "artistId", o.contributor, GNSDK_GDO_VALUE_GNUID);
        AddValueArray(
            writer, "era", o.contributor,
            {GNSDK_GDO_VALUE_ERA_LEVEL1, GNSDK_GDO_VALUE_ERA_LEVEL2, GNSDK_GDO_VALUE_ERA_LEVEL3});
        AddValueArray(writer, "origin", o.contributor,
                      {GNSDK_GDO_VALUE_ORIGIN_LEVEL1, GNSDK_GDO_VALUE_ORIGIN_LEVEL2,
                       GNSDK_GDO_VALUE_ORIGIN_LEVEL3, GNSDK_GDO_VALUE_ORIGIN_LEVEL4});
    }
    char score[16];
    std::snprintf(score, sizeof score, "%3.1f", 1.0);
    writer.AddString("score", score);
}

void CreateAlbumOutput(gnsdk_gdo_handle_t album, uint32_t ordinal, JSONGenerator &writer) {
    MatchObjects o;
    o.album = album;
    o.albumTitle = childOrNull(album, GNSDK_GDO_CHILD_TITLE_OFFICIAL);
    if (gnsdk_manager_gdo_child_get(album, GNSDK_GDO_CHILD_TRACK_MATCHED, ordinal, &o.track) != 0) {
        o.track = nullptr;
        Gnhandler::PrintError("createAlbumOutput", 1);
    }
    o.albumIds = ExtractExternalIds(album);
    if (o.track != nullptr) {
        o.trackTitle = childOrNull(o.track, GNSDK_GDO_CHILD_TITLE_OFFICIAL);
        o.artist = childOrNull(o.track, GNSDK_GDO_CHILD_ARTIST);
        o.trackIds = ExtractExternalIds(o.track);
        if (o.artist == nullptr) {
            o.artist = childOrNull(album, GNSDK_GDO_CHILD_ARTIST);
            if (o.artist == nullptr) {
                Gnhandler::PrintError("createAlbumOutput", 4);
            }
        }
    }
    if (o.artist != nullptr) {
        o.contributor = childOrNull(o.artist, GNSDK_GDO_CHILD_CONTRIBUTOR);
        o.name = childOrNull(o.contributor != nullptr ? o.contributor : o.artist,
                             GNSDK_GDO_CHILD_NAME_OFFICIAL);
        if (o.name == nullptr) {
            Gnhandler::PrintError("createAlbumOutput", 5);
        }
    }
    CreateJSONOutput(writer, o);
    for (gnsdk_gdo_handle_t id : o.albumIds) {
        gnsdk_manager_gdo_release(id);
    }
    for (gnsdk_gdo_handle_t id : o.trackIds) {
        gnsdk_manager_gdo_release(id);
    }
    for (gnsdk_gdo_handle_t gdo :
         {o.albumTitle, o.track, o.trackTitle, o.artist, o.contributor, o.name}) {
        releaseIfSet(gdo);
    }
}

int32_t Gnhandler::CreateOutputLibrary(char *buffer, int32_t size) const {
    if (buffer == nullptr) {
        return -1;
    }
    JSONGenerator writer;
    writer.OpenArray(nullptr);
    for (const FileQueryEntry &entry : entries) {
        writer.OpenObject(nullptr);
        writer.AddString("input", entry.input);
        writer.AddString("hash", entry.hash.c_str());
        writer.OpenArray("graceNoteTrackInfo");
        if (entry.hasResults) {
            for (const std::string &result : entry.results) {
                writer.AddJSONAsString(result.c_str());
            }
        }
        writer.CloseArray();
        writer.CloseObject();
    }
    writer.CloseArray();
    if (size <= 0) {
        return 0;
    }
    const char *text = writer.getJSONString();
    // A document longer than the buffer is cut off (and is then not valid JSON).
    const std::size_t length = strnlen(text, static_cast<std::size_t>(size) - 1);
    std::memcpy(buffer, text, length);
    buffer[length] = '\0';
    return 0;
}
