// Playlists and annotations (stars, plays). Every song ID a request names is
// checked against the caller's own library before it is kept.
#include "Subsonic.h"

#include <charconv>
#include <map>

namespace cloud::subsonic {

namespace {

constexpr std::size_t kMaxNameBytes = 256;
constexpr std::size_t kMaxPlaylistSongs = 10000;

// The library items behind the song IDs; nullopt (answered) when one is not the caller's.
std::optional<std::vector<std::int64_t>> mediaIdsOf(Call &call,
                                                    const std::vector<std::string> &ids) {
    if (ids.size() > kMaxPlaylistSongs) {
        fail(call, kGeneric, "at most " + std::to_string(kMaxPlaylistSongs) + " songs");
        return std::nullopt;
    }
    std::vector<std::int64_t> out;
    for (const auto &id : ids) {
        const auto song = findSong(call, id);
        if (!song) {
            fail(call, kNotFound, "song not found");
            return std::nullopt;
        }
        out.push_back(song->mediaId);
    }
    return out;
}

void sendPlaylist(Call &call, const Playlist &p) {
    Element ok = okResponse();
    Element &e = ok.child("playlist");
    describe(e, p, call.user);
    e.list("entry");
    SongQuery q;
    q.mediaIds = p.mediaIds;
    q.limit = static_cast<int>(p.mediaIds.size());
    std::map<std::int64_t, Song> songs;
    for (auto &song : call.ctx.store.songs(call.userId(), q))
        songs.emplace(song.mediaId, std::move(song));
    // In the playlist's order, and as often as it holds each song.
    for (const auto mediaId : p.mediaIds) {
        if (const auto it = songs.find(mediaId); it != songs.end())
            describe(e.item("entry"), it->second);
    }
    reply(call, ok);
}

bool validName(Call &call, const std::optional<std::string> &name) {
    if (name && name->size() > kMaxNameBytes) {
        fail(call, kGeneric, "a playlist name is at most 256 bytes");
        return false;
    }
    return true;
}

void getPlaylists(Call &call) {
    if (const auto who = call.param("username"); who && *who != call.user.email)
        return fail(call, kNotAuthorised, "only your own playlists can be listed");
    Element ok = okResponse();
    Element &list = ok.child("playlists");
    list.list("playlist");
    for (const auto &p : call.ctx.store.playlists(call.userId()))
        describe(list.item("playlist"), p, call.user);
    reply(call, ok);
}

void getPlaylist(Call &call) {
    const auto id = required(call, "id");
    if (!id)
        return;
    const auto p =
        isWellFormedId(*id) ? call.ctx.store.findPlaylist(call.userId(), *id) : std::nullopt;
    if (!p)
        return fail(call, kNotFound, "playlist not found");
    sendPlaylist(call, *p);
}

void createPlaylist(Call &call) {
    const auto existing = call.param("playlistId");
    const auto name = call.param("name");
    if (!existing && (!name || name->empty()))
        return fail(call, kMissingParameter,
                    "required parameter \"name\" or \"playlistId\" is missing");
    if (!validName(call, name))
        return;
    const auto songs = mediaIdsOf(call, call.params("songId"));
    if (!songs)
        return;
    std::string id;
    if (existing) {
        // Given a playlist, its songs are replaced by the ones named.
        if (!isWellFormedId(*existing) ||
            !call.ctx.store.updatePlaylist(call.userId(), *existing, name, std::nullopt,
                                           std::nullopt, {}, {}, *songs))
            return fail(call, kNotFound, "playlist not found");
        id = *existing;
    } else {
        id = call.ctx.store.createPlaylist(call.userId(), *name, *songs).id;
    }
    sendPlaylist(call, *call.ctx.store.findPlaylist(call.userId(), id));
}

void updatePlaylist(Call &call) {
    const auto id = required(call, "playlistId");
    if (!id)
        return;
    const auto name = call.param("name");
    const auto comment = call.param("comment");
    if (!validName(call, name) || !validName(call, comment))
        return;
    std::optional<bool> isPublic;
    if (const auto p = call.param("public"))
        isPublic = *p == "true";
    std::vector<int> removeAt;
    for (const auto &text : call.params("songIndexToRemove")) {
        int index = 0;
        const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), index);
        if (ec != std::errc() || ptr != text.data() + text.size() || index < 0)
            return fail(call, kGeneric, "songIndexToRemove must be a position in the playlist");
        removeAt.push_back(index);
    }
    const auto add = mediaIdsOf(call, call.params("songIdToAdd"));
    if (!add)
        return;
    if (!isWellFormedId(*id) ||
        !call.ctx.store.updatePlaylist(call.userId(), *id, name, comment, isPublic, removeAt, *add))
        return fail(call, kNotFound, "playlist not found");
    reply(call, okResponse());
}

void deletePlaylist(Call &call) {
    const auto id = required(call, "id");
    if (!id)
        return;
    if (!isWellFormedId(*id) || !call.ctx.store.deletePlaylist(call.userId(), *id))
        return fail(call, kNotFound, "playlist not found");
    reply(call, okResponse());
}

// Stars name songs (id), albums (albumId) and artists (artistId) of the caller.
void annotate(Call &call, bool starred) {
    std::vector<std::string> items;
    for (const char *name : {"id", "albumId", "artistId"}) {
        for (auto &id : call.params(name))
            items.push_back(std::move(id));
    }
    if (items.empty())
        return fail(call, kMissingParameter, "required parameter \"id\" is missing");
    for (const auto &id : items) {
        bool known = false;
        if (isWellFormedId(id)) {
            if (id.rfind("tr", 0) == 0) {
                known = findSong(call, id).has_value();
            } else if (id.rfind("al", 0) == 0) {
                AlbumQuery q;
                q.id = id;
                known = !call.ctx.store.albums(call.userId(), q).empty();
            } else if (id.rfind("ar", 0) == 0) {
                ArtistQuery q;
                q.id = id;
                known = !call.ctx.store.artists(call.userId(), q).empty();
            }
        }
        if (!known)
            return fail(call, kNotFound, "nothing to star with that ID");
    }
    for (const auto &id : items)
        call.ctx.store.setStarred(call.userId(), id, starred);
    reply(call, okResponse());
}

void star(Call &call) {
    annotate(call, true);
}

void unstar(Call &call) {
    annotate(call, false);
}

void scrobble(Call &call) {
    const auto ids = call.params("id");
    if (ids.empty())
        return fail(call, kMissingParameter, "required parameter \"id\" is missing");
    // Only a finished play counts; "now playing" notices change nothing here.
    if (call.param("submission").value_or("true") == "false")
        return reply(call, okResponse());
    const auto times = call.params("time");
    std::vector<std::pair<std::int64_t, std::int64_t>> plays;
    for (std::size_t i = 0; i < ids.size(); ++i) {
        const auto song = findSong(call, ids[i]);
        if (!song)
            return fail(call, kNotFound, "song not found");
        std::int64_t when = nowMs();
        if (i < times.size()) {
            std::int64_t t = 0;
            const auto [ptr, ec] =
                std::from_chars(times[i].data(), times[i].data() + times[i].size(), t);
            if (ec == std::errc() && ptr == times[i].data() + times[i].size() && t > 0)
                when = t;
        }
        plays.emplace_back(song->mediaId, when);
    }
    for (const auto &[media, when] : plays)
        call.ctx.store.addPlay(call.userId(), media, when);
    reply(call, okResponse());
}

} // namespace

void addPlaylistMethods(Methods &m) {
    m["getPlaylists"] = getPlaylists;
    m["getPlaylist"] = getPlaylist;
    m["createPlaylist"] = createPlaylist;
    m["updatePlaylist"] = updatePlaylist;
    m["deletePlaylist"] = deletePlaylist;
}

void addAnnotationMethods(Methods &m) {
    m["star"] = star;
    m["unstar"] = unstar;
    m["scrobble"] = scrobble;
}

} // namespace cloud::subsonic
