// Playlists and annotations (stars, plays). Every song ID a request names is
// checked against the caller's own library before it is kept.
#include "Subsonic.h"

#include <algorithm>
#include <charconv>
#include <map>
#include <set>

namespace cloud::subsonic {

namespace {

constexpr std::size_t kMaxNameBytes = 256;
// Songs one request may name: what a playlist holds at most.
constexpr std::size_t kMaxSongsPerRequest = kMaxPlaylistEntries;

bool withinRequestCap(Call &call, std::size_t count) {
    if (count <= kMaxSongsPerRequest)
        return true;
    fail(call, kGeneric, "at most " + std::to_string(kMaxSongsPerRequest) + " songs");
    return false;
}

// Stars and plays of one request: as many as a playlist's songs.
bool withinIdCap(Call &call, std::size_t count) {
    if (count <= kMaxSongsPerRequest)
        return true;
    fail(call, kGeneric, "at most " + std::to_string(kMaxSongsPerRequest) + " IDs");
    return false;
}

void failTooLong(Call &call) {
    fail(call, kGeneric,
         "a playlist holds at most " + std::to_string(kMaxPlaylistEntries) +
             " songs: this change would make it longer, and it was left as it was");
}

// The library items behind the song IDs; nullopt (answered) when one is not the caller's.
std::optional<std::vector<std::int64_t>> mediaIdsOf(Call &call,
                                                    const std::vector<std::string> &ids) {
    if (!withinRequestCap(call, ids.size()))
        return std::nullopt;
    // A song named many times is looked up once.
    std::map<std::string, std::int64_t> known;
    std::vector<std::int64_t> out;
    out.reserve(ids.size());
    for (const auto &id : ids) {
        auto it = known.find(id);
        if (it == known.end()) {
            const auto song = findSong(call, id);
            if (!song) {
                fail(call, kNotFound, "song not found");
                return std::nullopt;
            }
            it = known.emplace(id, song->mediaId).first;
        }
        out.push_back(it->second);
    }
    return out;
}

void sendPlaylist(Call &call, const Playlist &p) {
    Element ok = okResponse();
    Element &e = ok.child("playlist");
    describe(e, p, call.user);
    e.list("entry");
    // Each song once, however often the playlist holds it.
    const std::set<std::int64_t> distinct(p.mediaIds.begin(), p.mediaIds.end());
    SongQuery q;
    q.mediaIds.assign(distinct.begin(), distinct.end());
    q.limit = static_cast<int>(q.mediaIds.size());
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

bool validText(Call &call, const std::optional<std::string> &text, const char *what) {
    if (text && text->size() > kMaxNameBytes) {
        fail(call, kGeneric, std::string("a playlist ") + what + " is at most 256 bytes");
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
    if (!validText(call, name, "name"))
        return;
    const auto songs = mediaIdsOf(call, call.params("songId"));
    if (!songs)
        return;
    if (!existing) {
        const auto made = call.ctx.store.createPlaylist(call.userId(), *name, *songs);
        if (!made)
            return failTooLong(call);
        return sendPlaylist(call, *made);
    }
    // Given a playlist, its songs are replaced by the ones named.
    const PlaylistChange change =
        isWellFormedId(*existing)
            ? call.ctx.store.updatePlaylist(call.userId(), *existing, name, std::nullopt,
                                            std::nullopt, {}, {}, *songs)
            : PlaylistChange::NotFound;
    if (change == PlaylistChange::TooLong)
        return failTooLong(call);
    const auto p = change == PlaylistChange::Done
                       ? call.ctx.store.findPlaylist(call.userId(), *existing)
                       : std::nullopt;
    if (!p)
        return fail(call, kNotFound, "playlist not found");
    sendPlaylist(call, *p);
}

void updatePlaylist(Call &call) {
    const auto id = required(call, "playlistId");
    if (!id)
        return;
    const auto name = call.param("name");
    const auto comment = call.param("comment");
    if (!validText(call, name, "name") || !validText(call, comment, "comment"))
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
    const PlaylistChange change =
        isWellFormedId(*id) ? call.ctx.store.updatePlaylist(call.userId(), *id, name, comment,
                                                            isPublic, removeAt, *add)
                            : PlaylistChange::NotFound;
    if (change == PlaylistChange::TooLong)
        return failTooLong(call);
    if (change == PlaylistChange::NotFound)
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
    if (!withinIdCap(call, items.size()))
        return;
    // An ID named twice is looked up and starred once.
    std::sort(items.begin(), items.end());
    items.erase(std::unique(items.begin(), items.end()), items.end());
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
    if (!withinIdCap(call, ids.size()))
        return;
    // Only a finished play counts; "now playing" notices change nothing here.
    if (call.param("submission").value_or("true") == "false")
        return reply(call, okResponse());
    const auto times = call.params("time");
    const auto media = mediaIdsOf(call, ids);
    if (!media)
        return;
    std::vector<std::pair<std::int64_t, std::int64_t>> plays;
    for (std::size_t i = 0; i < ids.size(); ++i) {
        std::int64_t when = nowMs();
        if (i < times.size()) {
            std::int64_t t = 0;
            const auto [ptr, ec] =
                std::from_chars(times[i].data(), times[i].data() + times[i].size(), t);
            if (ec == std::errc() && ptr == times[i].data() + times[i].size() && t > 0)
                when = t;
        }
        plays.emplace_back((*media)[i], when);
    }
    for (const auto &[item, when] : plays)
        call.ctx.store.addPlay(call.userId(), item, when);
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
